#include "Sleep.h"

#include "CancelledError.h"
#include "ContinuousClock.h"

#include <QCoro/QCoroSignal>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace mirvo {

namespace {
// Wake at least this often, so that time spent asleep is noticed soon after the computer wakes.
constexpr double maximumStepSeconds = 1.0;
} // namespace

QCoro::Task<> sleepFor(double seconds, std::stop_token stop)
{
    const double deadline = continuousClockSeconds() + std::max(0.0, seconds);
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    const std::stop_callback onStop(stop, [&timer] {
        // Runs on the stopping thread: hand the wake-up to the timer's own thread.
        QMetaObject::invokeMethod(
            &timer, [&timer] { timer.start(0); }, Qt::QueuedConnection);
    });
    while (true) {
        if (stop.stop_requested())
            throw CancelledError();
        const double remaining = deadline - continuousClockSeconds();
        if (remaining <= 0)
            co_return;
        timer.start(int(std::ceil(std::min(remaining, maximumStepSeconds) * 1000)));
        co_await qCoro(&timer, &QTimer::timeout);
    }
}

} // namespace mirvo
