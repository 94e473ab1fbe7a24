#include "TaskHandle.h"

#include <QtGlobal>

namespace mirvo {

QCoro::Task<> TaskHandle::track(QCoro::Task<> task, std::shared_ptr<State> state)
{
    try {
        co_await std::move(task);
    } catch (const std::exception& error) {
        // Tasks handle their own failures; this only keeps a stray one out of the event loop.
        qWarning("background task ended with an unhandled error: %s", error.what());
    } catch (...) {
        qWarning("background task ended with an unhandled error");
    }
    state->finished = true;
}

} // namespace mirvo
