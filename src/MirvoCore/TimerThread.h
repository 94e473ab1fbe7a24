#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

namespace mirvo {

// One background thread, shared by the whole application, that runs short actions at their time: the
// time limits of child processes and the SIGKILL that follows a SIGTERM.
class TimerThread {
public:
    using Clock = std::chrono::steady_clock;

    // Identifies a scheduled action for cancel().
    struct Action {
        Clock::time_point when;
        std::uint64_t id = 0;
    };

    // The one instance; it is never destroyed, so that actions scheduled while the application exits
    // still find it.
    static TimerThread& shared();

    // Runs `action` on the timer thread once `when` has come, unless cancelled first. Actions must be
    // short and must not throw. Throws SystemError when the thread cannot be started.
    Action schedule(Clock::time_point when, std::function<void()> action);

    // Drops `action` if it has not started yet; an action already running is not waited for.
    void cancel(const Action& action);

private:
    using Key = std::pair<Clock::time_point, std::uint64_t>;

    TimerThread() = default;
    void loop();

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::map<Key, std::function<void()>> m_actions;
    // When the waiting thread wakes by itself; the far past while it is awake.
    Clock::time_point m_wakeAt = Clock::time_point::min();
    std::uint64_t m_nextId = 1;
    bool m_started = false;
};

} // namespace mirvo
