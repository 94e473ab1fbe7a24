#pragma once

#include <QByteArrayList>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

#include <sys/types.h>

namespace mirvo {

// A program started directly (no shell) on standard streams its owner chooses, asked to stop with SIGTERM
// and killed 2.0 s later, reaped exactly once and never signalled after that.
class ChildProcess : public std::enable_shared_from_this<ChildProcess> {
public:
    // The parent's descriptors that become the child's standard input, output and error; -1 stands for
    // the null device. The child inherits no other descriptor.
    struct StandardStreams {
        int input = -1;
        int output = -1;
        int error = -1;
    };

    // Starts `executable` (an absolute path) with `arguments` and `environment` ("NAME=VALUE" entries).
    // Throws SystemError, without starting anything, when the path is relative, when the path or an
    // argument holds a NUL character, or when the system refuses the launch.
    static std::shared_ptr<ChildProcess> start(const QString& executable, const QStringList& arguments,
                                               const QByteArrayList& environment, StandardStreams streams);

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Kills and reaps a child that nobody waited for, so that none outlives its handle.
    ~ChildProcess();

    pid_t pid() const { return m_pid; }

    // Sends SIGTERM now and SIGKILL 2.0 s later unless the child has been reaped by then. Only the child
    // is signalled, not the processes it started. Does nothing once the child has been reaped.
    void terminate() noexcept;

    // Blocks until the child has exited and reaps it. Returns its exit code, or the number of the signal
    // that ended it, or -1 when something else reaped it. May be called again and from several threads.
    int wait();

private:
    explicit ChildProcess(pid_t pid);
    void kill() noexcept;

    const pid_t m_pid;
    std::mutex m_lock; // guards the fields below and every signal sent to m_pid
    bool m_reaped = false;
    bool m_killScheduled = false;
    int m_status = -1;
};

} // namespace mirvo
