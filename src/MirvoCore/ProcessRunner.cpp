#include "ProcessRunner.h"

#include "CancelledError.h"
#include "MirvoError.h"
#include "SystemError.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFuture>
#include <QPromise>

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr qsizetype keptOutputBytes = 0x100000;
constexpr std::size_t readChunkBytes = 64 * 1024;
constexpr auto killDelay = std::chrono::milliseconds(2000);
// Longer limits count as this one, so that the deadline arithmetic cannot overflow.
constexpr double longestTimeoutSeconds = 1e9;

// What the worker thread needs to launch the child, converted on the caller's thread.
struct Launch {
    QString executable;
    QByteArray program;
    QList<QByteArray> arguments;
    QList<QByteArray> environment;
};

// The last `keptOutputBytes` bytes written by the child; a ring once full, so that a flood costs one copy.
class OutputTail {
public:
    void append(const char* data, qsizetype size)
    {
        if (size >= keptOutputBytes) {
            m_bytes = QByteArray(data + size - keptOutputBytes, keptOutputBytes);
            m_head = 0;
            return;
        }
        if (m_bytes.size() < keptOutputBytes) {
            const qsizetype count = std::min(size, keptOutputBytes - m_bytes.size());
            m_bytes.append(data, count);
            data += count;
            size -= count;
        }
        while (size > 0) {
            const qsizetype count = std::min(size, keptOutputBytes - m_head);
            std::memcpy(m_bytes.data() + m_head, data, std::size_t(count));
            m_head = (m_head + count) % keptOutputBytes;
            data += count;
            size -= count;
        }
    }

    QByteArray bytes() const { return m_head == 0 ? m_bytes : m_bytes.mid(m_head) + m_bytes.left(m_head); }

private:
    QByteArray m_bytes;
    qsizetype m_head = 0; // the oldest byte once the ring is full
};

// The child's state shared by the worker thread, the watchdog thread and the stop callback.
class ProcessControl {
public:
    // Launches the child through `launch` unless a stop came first; a concurrent stop waits for the
    // launch and then signals the new child.
    template <typename LaunchFunction> void start(LaunchFunction&& launch)
    {
        std::lock_guard lock(m_lock);
        if (m_cancelled)
            throw CancelledError();
        if (m_expired)
            throw MirvoError::timedOut();
        m_pid = launch();
    }

    void stop(bool timedOut)
    {
        std::lock_guard lock(m_lock);
        stopLocked(timedOut);
    }

    void check() const
    {
        std::lock_guard lock(m_lock);
        if (m_cancelled)
            throw CancelledError();
        if (m_expired)
            throw MirvoError::timedOut();
    }

    // Runs on the watchdog thread until the child is reaped: fires the time limit at `deadline` and
    // the SIGKILL that follows a stop.
    void watch(Clock::time_point deadline)
    {
        std::unique_lock lock(m_lock);
        bool limitReached = false;
        while (!m_reaped) {
            const auto now = Clock::now();
            if (!limitReached && now >= deadline) {
                limitReached = true;
                stopLocked(true);
                continue;
            }
            if (m_killPending && now >= m_killAt) {
                m_killPending = false;
                ::kill(m_pid, SIGKILL);
                continue;
            }
            if (!limitReached && (!m_killPending || deadline < m_killAt))
                m_changed.wait_until(lock, deadline);
            else if (m_killPending)
                m_changed.wait_until(lock, m_killAt);
            else
                m_changed.wait(lock);
        }
    }

    // Blocks until the child has exited and reaps it; returns the raw wait status, or -1 when someone
    // else reaped it first.
    int reap()
    {
        pid_t pid = 0;
        {
            std::lock_guard lock(m_lock);
            pid = m_pid;
        }
        // Wait without reaping: until the reap below, the pid cannot be reused, so signals stay safe.
        siginfo_t info{};
        while (::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
        }
        std::lock_guard lock(m_lock);
        int status = 0;
        pid_t reaped = -1;
        do {
            reaped = ::waitpid(pid, &status, 0);
        } while (reaped < 0 && errno == EINTR);
        m_reaped = true;
        m_changed.notify_all();
        return reaped == pid ? status : -1;
    }

private:
    void stopLocked(bool timedOut)
    {
        (timedOut ? m_expired : m_cancelled) = true;
        if (m_pid <= 0 || m_reaped)
            return;
        ::kill(m_pid, SIGTERM);
        if (!m_killScheduled) {
            m_killScheduled = true;
            m_killPending = true;
            m_killAt = Clock::now() + killDelay;
            m_changed.notify_all();
        }
    }

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    pid_t m_pid = 0;
    bool m_reaped = false;
    bool m_cancelled = false;
    bool m_expired = false;
    bool m_killScheduled = false;
    bool m_killPending = false;
    Clock::time_point m_killAt;
};

class FileDescriptor {
public:
    FileDescriptor() = default;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return m_fd; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd); // a failure to close changes nothing for us
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Moves a close-on-exec descriptor above the standard three, so that dup2 onto 1 and 2 always makes a
// fresh, inheritable copy in the child.
void keepAboveStandardDescriptors(FileDescriptor& descriptor)
{
    if (descriptor.get() > STDERR_FILENO)
        return;
    const int moved = ::fcntl(descriptor.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0)
        throw SystemError::fromErrno(errno);
    descriptor.reset(moved);
}

void openPipe(FileDescriptor& readEnd, FileDescriptor& writeEnd)
{
    int fds[2] = {-1, -1};
#ifdef __APPLE__
    if (::pipe(fds) < 0)
        throw SystemError::fromErrno(errno);
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#else
    if (::pipe2(fds, O_CLOEXEC) < 0)
        throw SystemError::fromErrno(errno);
#endif
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    keepAboveStandardDescriptors(readEnd);
    keepAboveStandardDescriptors(writeEnd);
}

pid_t spawnChild(const Launch& launch, int outputFd)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(launch.program.constData()));
    for (const QByteArray& argument : launch.arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const QByteArray& entry : launch.environment)
        envp.push_back(const_cast<char*>(entry.constData()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDERR_FILENO);

    // The spawning thread's signal mask and ignored signals must not leak into the child.
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    sigset_t allSignals;
    sigfillset(&allSignals);
    sigdelset(&allSignals, SIGKILL);
    sigdelset(&allSignals, SIGSTOP);
    posix_spawnattr_setsigdefault(&attributes, &allSignals);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef __APPLE__
    // Descriptors other threads opened without close-on-exec stay out of the child too.
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
    posix_spawnattr_setflags(&attributes, flags);

    pid_t pid = 0;
    const int error =
        ::posix_spawn(&pid, launch.program.constData(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        throw SystemError::fromErrno(error, launch.executable);
    return pid;
}

int statusFromWaitStatus(int waitStatus)
{
    if (waitStatus < 0)
        return -1;
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return WTERMSIG(waitStatus);
    return waitStatus;
}

Clock::time_point deadlineAfter(double seconds)
{
    const double clamped = seconds > 0 ? std::min(seconds, longestTimeoutSeconds) : 0.0;
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(clamped));
}

// Everything after the launch request, on the worker thread. Returns only once the child is reaped.
CommandResult execute(const Launch& launch, double timeout, const OutputHandler& onOutput,
                      ProcessControl& control)
{
    if (!QDir::isAbsolutePath(launch.executable))
        throw SystemError::fromErrno(ENOENT, launch.executable);

    FileDescriptor readEnd;
    FileDescriptor writeEnd;
    openPipe(readEnd, writeEnd);
    control.start([&] { return spawnChild(launch, writeEnd.get()); });
    const Clock::time_point deadline = deadlineAfter(timeout);

    std::thread watchdog;
    try {
        watchdog = std::thread([&control, deadline] { control.watch(deadline); });
    } catch (const std::system_error& error) {
        // Without a watchdog nothing could end the child: stop it and wait for it here.
        control.stop(false);
        control.reap();
        throw SystemError::fromErrno(error.code().value());
    }
    writeEnd.reset();

    OutputTail tail;
    try {
        std::vector<char> chunk(readChunkBytes);
        while (true) {
            const ssize_t count = ::read(readEnd.get(), chunk.data(), chunk.size());
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            tail.append(chunk.data(), count);
            if (onOutput)
                onOutput(QString::fromUtf8(chunk.data(), count));
        }
    } catch (...) {
        control.stop(false);
        readEnd.reset();
        control.reap();
        watchdog.join();
        throw;
    }

    const int waitStatus = control.reap();
    watchdog.join();
    control.check();
    return CommandResult{statusFromWaitStatus(waitStatus), QString::fromUtf8(tail.bytes())};
}

Launch prepareLaunch(QString executable, const QStringList& arguments)
{
    Launch launch;
    launch.program = QFile::encodeName(executable);
    launch.executable = std::move(executable);
    for (const QString& argument : arguments)
        launch.arguments.append(argument.toUtf8());
    const QStringList environment = ProcessRunner::environment().toStringList();
    for (const QString& entry : environment)
        launch.environment.append(entry.toUtf8());
    return launch;
}

} // namespace

QProcessEnvironment ProcessRunner::environment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"PATH"_s, u"/usr/bin:/bin:/usr/sbin:/sbin"_s);
    environment.insert(u"NO_COLOR"_s, u"1"_s);
    return environment;
}

QCoro::Task<CommandResult> ProcessRunner::run(QString executable, QStringList arguments, double timeout,
                                              OutputHandler onOutput, std::stop_token stop)
{
    auto control = std::make_shared<ProcessControl>();
    const std::stop_callback onStop(stop, [control] { control->stop(false); });

    QPromise<CommandResult> promise;
    QFuture<CommandResult> future = promise.future();
    promise.start();
    Launch launch = prepareLaunch(std::move(executable), arguments);
    auto work = [launch = std::move(launch), timeout, onOutput = std::move(onOutput), control,
                 promise = std::move(promise)]() mutable {
        try {
            promise.addResult(execute(launch, timeout, onOutput, *control));
        } catch (...) {
            promise.setException(std::current_exception());
        }
        promise.finish();
    };
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error& error) {
        throw SystemError::fromErrno(error.code().value());
    }
    // The worker finishes the future exactly once; QCoro resumes us on this thread and rethrows
    // the worker's exception with its own type.
    co_return co_await future;
}

} // namespace mirvo
