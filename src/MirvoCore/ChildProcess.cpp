#include "ChildProcess.h"

#include "FileDescriptor.h"
#include "SystemError.h"
#include "TimerThread.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#if !defined(__APPLE__) && !defined(MIRVO_HAVE_SPAWN_CLOSEFROM)
#include <dirent.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

constexpr auto killDelay = std::chrono::milliseconds(2000);

bool holdsNul(const QString& text)
{
    return text.contains(QChar(u'\0'));
}

// The file actions and attributes of one launch, released when it is done.
class SpawnSettings {
public:
    SpawnSettings()
    {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawnattr_init(&m_attributes);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
    ~SpawnSettings()
    {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }

    posix_spawn_file_actions_t* actions() { return &m_actions; }
    posix_spawnattr_t* attributes() { return &m_attributes; }

private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

#if !defined(__APPLE__) && !defined(MIRVO_HAVE_SPAWN_CLOSEFROM)
// Without a close-from action: close, in the child, every descriptor above the standard three that is
// open now. One that another thread opens without close-on-exec between here and the launch still
// reaches the child.
void closeOpenDescriptors(posix_spawn_file_actions_t* actions)
{
    DIR* directory = ::opendir("/proc/self/fd");
    if (!directory)
        directory = ::opendir("/dev/fd");
    if (!directory)
        throw SystemError::fromErrno(errno);
    while (const dirent* entry = ::readdir(directory)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && fd > STDERR_FILENO)
            posix_spawn_file_actions_addclose(actions, int(fd));
    }
    ::closedir(directory);
}
#endif

int statusFromWaitStatus(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return WTERMSIG(waitStatus);
    return waitStatus;
}

} // namespace

std::shared_ptr<ChildProcess> ChildProcess::start(const QString& executable, const QStringList& arguments,
                                                  const QByteArrayList& environment, StandardStreams streams)
{
    if (holdsNul(executable) || std::any_of(arguments.begin(), arguments.end(), holdsNul))
        throw SystemError(u"Путь к программе или её аргумент содержит нулевой символ."_s);
    if (!QDir::isAbsolutePath(executable))
        throw SystemError::fromErrno(ENOENT, executable);

    const QByteArray program = QFile::encodeName(executable);
    QByteArrayList encodedArguments;
    encodedArguments.reserve(arguments.size());
    for (const QString& argument : arguments)
        encodedArguments.append(argument.toUtf8());
    std::vector<char*> argv;
    argv.reserve(std::size_t(arguments.size()) + 2);
    argv.push_back(const_cast<char*>(program.constData()));
    for (const QByteArray& argument : encodedArguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(std::size_t(environment.size()) + 1);
    for (const QByteArray& entry : environment)
        envp.push_back(const_cast<char*>(entry.constData()));
    envp.push_back(nullptr);

    // A descriptor among the standard three would be overwritten before it is copied, or copied onto
    // itself and left close-on-exec: give it a number above them for the launch.
    std::array<FileDescriptor, 3> moved;
    std::array<int, 3> sources = {streams.input, streams.output, streams.error};
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (sources[i] < 0 || sources[i] > STDERR_FILENO)
            continue;
        moved[i].reset(::fcntl(sources[i], F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
        if (!moved[i].isOpen())
            throw SystemError::fromErrno(errno);
        sources[i] = moved[i].get();
    }

    SpawnSettings settings;
    for (int target = STDIN_FILENO; target <= STDERR_FILENO; ++target) {
        const int source = sources[std::size_t(target)];
        if (source >= 0)
            posix_spawn_file_actions_adddup2(settings.actions(), source, target);
        else
            posix_spawn_file_actions_addopen(settings.actions(), target, "/dev/null",
                                             target == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    }
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    // Descriptors the application holds without close-on-exec (a sign-in terminal's ends, say) must not
    // reach a tool started meanwhile.
#if defined(__APPLE__)
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#elif defined(MIRVO_HAVE_SPAWN_CLOSEFROM)
    posix_spawn_file_actions_addclosefrom_np(settings.actions(), STDERR_FILENO + 1);
#else
    closeOpenDescriptors(settings.actions());
#endif

    // The spawning thread's signal mask and the signals the application ignores must not reach the child.
    sigset_t noSignals;
    sigemptyset(&noSignals);
    posix_spawnattr_setsigmask(settings.attributes(), &noSignals);
    sigset_t allSignals;
    sigfillset(&allSignals);
    sigdelset(&allSignals, SIGKILL);
    sigdelset(&allSignals, SIGSTOP);
    posix_spawnattr_setsigdefault(settings.attributes(), &allSignals);
    posix_spawnattr_setflags(settings.attributes(), flags);

    pid_t pid = 0;
    const int error = ::posix_spawn(&pid, program.constData(), settings.actions(), settings.attributes(),
                                    argv.data(), envp.data());
    if (error != 0)
        throw SystemError::fromErrno(error, executable);
    try {
        return std::shared_ptr<ChildProcess>(new ChildProcess(pid));
    } catch (...) {
        ::kill(pid, SIGKILL);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        throw;
    }
}

ChildProcess::ChildProcess(pid_t pid)
    : m_pid(pid)
{
}

ChildProcess::~ChildProcess()
{
    if (m_reaped)
        return;
    ::kill(m_pid, SIGKILL);
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
}

void ChildProcess::terminate() noexcept
{
    std::lock_guard lock(m_lock);
    if (m_reaped)
        return;
    ::kill(m_pid, SIGTERM);
    if (m_killScheduled)
        return;
    m_killScheduled = true;
    try {
        TimerThread::shared().schedule(TimerThread::Clock::now() + killDelay, [child = weak_from_this()] {
            if (const auto process = child.lock())
                process->kill();
        });
    } catch (...) {
        // Without a timer nothing would follow up the SIGTERM: end the child now instead.
        ::kill(m_pid, SIGKILL);
    }
}

void ChildProcess::kill() noexcept
{
    std::lock_guard lock(m_lock);
    if (!m_reaped)
        ::kill(m_pid, SIGKILL);
}

int ChildProcess::wait()
{
    // Wait without reaping, so that the pid cannot be reused while terminate() and kill() may still
    // signal it; then reap under the lock they take.
    siginfo_t info{};
    while (::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(m_lock);
    if (m_reaped)
        return m_status;
    int waitStatus = 0;
    pid_t reaped = -1;
    do {
        reaped = ::waitpid(m_pid, &waitStatus, 0);
    } while (reaped < 0 && errno == EINTR);
    m_reaped = true;
    m_status = reaped == m_pid ? statusFromWaitStatus(waitStatus) : -1;
    return m_status;
}

} // namespace mirvo
