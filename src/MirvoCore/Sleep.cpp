#include "Sleep.h"

#include "CancelledError.h"
#include "ContinuousClock.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <coroutine>

namespace mirvo {

namespace {
// Wake at least this often, so that time spent asleep is noticed soon after the computer wakes.
constexpr double maximumStepSeconds = 1.0;

// Resumes the awaiting coroutine on the timer's next timeout. (Awaiting the signal through QCoro passes
// QTimer's private-signal tag as a null reference.)
class TimeoutAwaiter {
public:
    explicit TimeoutAwaiter(QTimer& timer)
        : m_timer(timer)
    {
    }

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> awaiting)
    {
        m_connection = QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this, awaiting] {
            QObject::disconnect(m_connection);
            awaiting.resume();
        });
    }
    void await_resume() const noexcept {}

private:
    QTimer& m_timer;
    QMetaObject::Connection m_connection;
};
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
        co_await TimeoutAwaiter(timer);
    }
}

} // namespace mirvo
