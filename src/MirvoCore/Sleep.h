#pragma once

#include <QCoro/QCoroTask>

#include <stop_token>

namespace mirvo {

// Waits `seconds` on the continuous clock without blocking the thread's event loop.
// Throws CancelledError as soon as `stop` is requested.
QCoro::Task<> sleepFor(double seconds, std::stop_token stop);

} // namespace mirvo
