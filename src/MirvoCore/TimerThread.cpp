#include "TimerThread.h"

#include "SystemError.h"

#include <system_error>
#include <thread>

namespace mirvo {

TimerThread& TimerThread::shared()
{
    static TimerThread* const instance = new TimerThread;
    return *instance;
}

TimerThread::Action TimerThread::schedule(Clock::time_point when, std::function<void()> action)
{
    std::lock_guard lock(m_lock);
    if (!m_started) {
        try {
            std::thread([this] { loop(); }).detach();
        } catch (const std::system_error& error) {
            throw SystemError::fromErrno(error.code().value());
        }
        m_started = true;
    }
    const Action scheduled{when, m_nextId++};
    m_actions.emplace(Key(when, scheduled.id), std::move(action));
    // Most actions are time limits far off and cancelled long before: waking the thread for each one
    // would cost every launch a context switch.
    if (when < m_wakeAt)
        m_changed.notify_one();
    return scheduled;
}

void TimerThread::cancel(const Action& action)
{
    // No wake-up: the thread wakes at the old time, finds nothing due and sleeps again.
    std::lock_guard lock(m_lock);
    m_actions.erase(Key(action.when, action.id));
}

void TimerThread::loop()
{
    std::unique_lock lock(m_lock);
    while (true) {
        if (m_actions.empty()) {
            m_wakeAt = Clock::time_point::max();
            m_changed.wait(lock);
            m_wakeAt = Clock::time_point::min();
            continue;
        }
        const auto first = m_actions.begin();
        const Clock::time_point due = first->first.first;
        if (Clock::now() < due) {
            m_wakeAt = due;
            m_changed.wait_until(lock, due);
            m_wakeAt = Clock::time_point::min();
            continue;
        }
        std::function<void()> action = std::move(first->second);
        m_actions.erase(first);
        lock.unlock();
        action();
        action = nullptr; // what it holds is released outside the lock as well
        lock.lock();
    }
}

} // namespace mirvo
