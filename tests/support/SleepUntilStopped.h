#pragma once

#include "CancelledError.h"
#include "Sleep.h"

#include <QCoro/QCoroTask>

#include <memory>
#include <stop_token>

namespace mirvo::test {

// A task that only ends when stopped; `cancelled` tells whether the stop reached it.
inline QCoro::Task<> sleepUntilStopped(std::stop_token stop, std::shared_ptr<bool> cancelled)
{
    try {
        co_await sleepFor(3600, stop);
    } catch (const CancelledError&) {
        *cancelled = true;
    }
}

} // namespace mirvo::test
