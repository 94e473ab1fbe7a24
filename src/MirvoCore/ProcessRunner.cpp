#include "ProcessRunner.h"

#include "CancelledError.h"
#include "ChildProcess.h"
#include "FileDescriptor.h"
#include "LogCategories.h"
#include "MirvoError.h"
#include "SystemError.h"
#include "TimerThread.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFuture>
#include <QPromise>
#include <QStringDecoder>

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

#ifdef __APPLE__
#include <crt_externs.h>
#else
extern char** environ;
#endif

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

constexpr qsizetype keptOutputBytes = 0x100000;
// Reads start small, so that a short output costs a small buffer, and grow with the output.
constexpr qsizetype firstReadBytes = 64 * 1024;
constexpr qsizetype largestReadBytes = 256 * 1024;
#ifdef F_SETPIPE_SZ
// A pipe this large lets a chatty child write ahead instead of waiting for each read: fewer wake-ups on
// both sides. Kept well below the system's per-user pipe allowance.
constexpr int pipeBytes = 256 * 1024;
#endif
// A worker thread left without a run for this long ends.
constexpr auto idleThreadLifetime = std::chrono::seconds(30);
// Longer limits count as this one, so that the deadline arithmetic cannot overflow.
constexpr double longestTimeoutSeconds = 1e9;

// What the worker thread needs to launch the child, gathered on the caller's thread.
struct Launch {
    QString executable;
    QStringList arguments;
    QByteArrayList environment;
    double timeout = 0;
};

// The last `keptOutputBytes` bytes written by the child. The output is read straight into it, and it
// becomes a ring once full, so that keeping the tail of a flood copies nothing.
class OutputTail {
public:
    // Where the next read puts its bytes.
    std::span<char> room()
    {
        if (!m_full) {
            const qsizetype count =
                std::min({std::max(m_size, firstReadBytes), largestReadBytes, keptOutputBytes - m_size});
            if (m_bytes.size() < m_size + count)
                m_bytes.resize(m_size + count);
            return {m_bytes.data() + m_size, std::size_t(count)};
        }
        return {m_bytes.data() + m_head, std::size_t(std::min(largestReadBytes, keptOutputBytes - m_head))};
    }

    // Keeps the `count` bytes just read into room().
    void commit(qsizetype count)
    {
        if (m_full) {
            m_head = (m_head + count) % keptOutputBytes;
            return;
        }
        m_size += count;
        m_full = m_size == keptOutputBytes;
    }

    // The kept bytes in the order they were written; leaves the tail empty.
    QByteArray take()
    {
        if (!m_full)
            m_bytes.truncate(m_size);
        else
            std::rotate(m_bytes.begin(), m_bytes.begin() + m_head, m_bytes.end());
        m_size = 0;
        m_head = 0;
        m_full = false;
        return std::exchange(m_bytes, QByteArray());
    }

private:
    QByteArray m_bytes;
    qsizetype m_size = 0; // bytes kept until the ring is full
    qsizetype m_head = 0; // the oldest byte once it is
    bool m_full = false;
};

// Decodes each chunk alone (a sequence cut at either end becomes U+FFFD) into one reused buffer.
class ChunkDecoder {
public:
    const QString& decode(std::span<const char> bytes)
    {
        // Emptied first so that a text the handler kept is left to it rather than copied.
        m_text.resize(0);
        m_text.resize(m_decoder.requiredSpace(qsizetype(bytes.size())));
        QChar* const begin = m_text.data();
        const QChar* const end = m_decoder.appendToBuffer(begin, QByteArrayView(bytes.data(), bytes.size()));
        m_text.truncate(end - begin);
        return m_text;
    }

private:
    QStringDecoder m_decoder{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless};
    QString m_text;
};

// The state shared by the worker thread, the time limit on the timer thread and the stop callback.
class ProcessControl {
public:
    // Launches the child through `launch` unless a stop came first; a concurrent stop waits for the
    // launch and then signals the new child.
    template <typename LaunchFunction> std::shared_ptr<ChildProcess> start(LaunchFunction&& launch)
    {
        std::lock_guard lock(m_lock);
        if (m_cancelled)
            throw CancelledError();
        if (m_expired)
            throw MirvoError::timedOut();
        m_child = launch();
        return m_child;
    }

    void stop(bool timedOut)
    {
        std::lock_guard lock(m_lock);
        (timedOut ? m_expired : m_cancelled) = true;
        if (m_child)
            m_child->terminate();
    }

    void check() const
    {
        std::lock_guard lock(m_lock);
        if (m_cancelled)
            throw CancelledError();
        if (m_expired)
            throw MirvoError::timedOut();
    }

private:
    mutable std::mutex m_lock;
    std::shared_ptr<ChildProcess> m_child;
    bool m_cancelled = false;
    bool m_expired = false;
};

TimerThread::Clock::time_point deadlineAfter(double seconds)
{
    const double clamped = seconds > 0 ? std::min(seconds, longestTimeoutSeconds) : 0.0;
    return TimerThread::Clock::now() +
           std::chrono::duration_cast<TimerThread::Clock::duration>(std::chrono::duration<double>(clamped));
}

// Everything from the launch on, on the worker thread. Returns only once the child is reaped.
CommandResult execute(const Launch& launch, const OutputHandler& onOutput,
                      const std::shared_ptr<ProcessControl>& control)
{
    std::pair<FileDescriptor, FileDescriptor> pipe = FileDescriptor::pipe();
    FileDescriptor& readEnd = pipe.first;
    FileDescriptor& writeEnd = pipe.second;
#ifdef F_SETPIPE_SZ
    ::fcntl(readEnd.get(), F_SETPIPE_SZ, pipeBytes); // the default size serves as well, only slower
#endif
    const std::shared_ptr<ChildProcess> child = control->start([&] {
        return ChildProcess::start(launch.executable, launch.arguments, launch.environment,
                                   {-1, writeEnd.get(), writeEnd.get()});
    });
    TimerThread& timer = TimerThread::shared();
    TimerThread::Action limit;
    try {
        limit = timer.schedule(deadlineAfter(launch.timeout), [control] { control->stop(true); });
    } catch (...) {
        // Without a time limit nothing would end a child that never exits: stop it and wait for it here.
        control->stop(false);
        child->wait();
        throw;
    }
    writeEnd.reset();

    OutputTail tail;
    try {
        ChunkDecoder decoder;
        while (true) {
            const std::span<char> room = tail.room();
            const ssize_t count = ::read(readEnd.get(), room.data(), room.size());
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
            tail.commit(count);
            if (onOutput)
                onOutput(decoder.decode(room.first(std::size_t(count))));
        }
    } catch (...) {
        control->stop(false);
        readEnd.reset();
        child->wait();
        timer.cancel(limit);
        throw;
    }

    const int status = child->wait();
    timer.cancel(limit);
    control->check();
    return CommandResult{status, QString::fromUtf8(tail.take())};
}

// One run handed to a worker thread: finishes its promise exactly once.
class RunJob {
public:
    RunJob(Launch launch, OutputHandler onOutput, std::shared_ptr<ProcessControl> control,
           QPromise<CommandResult> promise)
        : m_launch(std::move(launch))
        , m_onOutput(std::move(onOutput))
        , m_control(std::move(control))
        , m_promise(std::move(promise))
    {
    }

    void run()
    {
        try {
            m_promise.addResult(execute(m_launch, m_onOutput, m_control));
        } catch (...) {
            m_promise.setException(std::current_exception());
        }
        m_promise.finish();
    }

private:
    Launch m_launch;
    OutputHandler m_onOutput;
    std::shared_ptr<ProcessControl> m_control;
    QPromise<CommandResult> m_promise;
};

// Threads that each block for one run at a time and then wait a while for the next, so that a launch
// seldom starts one. A run never queues behind another: without an idle thread it gets a new one.
class WorkerThreads {
public:
    // Throws SystemError when a thread is needed and cannot be started.
    void start(std::unique_ptr<RunJob> job)
    {
        {
            std::lock_guard lock(m_lock);
            if (m_idle > 0) {
                --m_idle;
                m_jobs.push_back(std::move(job));
                m_jobArrived.notify_one();
                return;
            }
        }
        try {
            std::thread([this, first = std::move(job)]() mutable { work(std::move(first)); }).detach();
        } catch (const std::system_error& error) {
            throw SystemError::fromErrno(error.code().value());
        }
    }

private:
    void work(std::unique_ptr<RunJob> job)
    {
        while (job) {
            job->run();
            job.reset();
            std::unique_lock lock(m_lock);
            ++m_idle;
            if (!m_jobArrived.wait_for(lock, idleThreadLifetime, [this] { return !m_jobs.empty(); })) {
                --m_idle;
                return;
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_jobArrived;
    std::deque<std::unique_ptr<RunJob>> m_jobs;
    int m_idle = 0; // threads waiting, less the jobs handed to them and not yet taken
};

// Never destroyed: an exiting application must not wait here for a child that is still being stopped.
WorkerThreads& workers()
{
    static WorkerThreads* const threads = new WorkerThreads;
    return *threads;
}

char** currentEnvironment()
{
#ifdef __APPLE__
    return *_NSGetEnviron();
#else
    return environ;
#endif
}

} // namespace

QByteArrayList ProcessRunner::environment()
{
    QByteArrayList entries;
    for (char** entry = currentEnvironment(); *entry; ++entry) {
        const QByteArrayView text(*entry);
        if (!text.startsWith("PATH=") && !text.startsWith("NO_COLOR="))
            entries.append(text.toByteArray());
    }
    entries.append("PATH=/usr/bin:/bin:/usr/sbin:/sbin"_ba);
    entries.append("NO_COLOR=1"_ba);
    return entries;
}

QCoro::Task<CommandResult> ProcessRunner::run(QString executable, QStringList arguments, double timeout,
                                              OutputHandler onOutput, std::stop_token stop)
{
    auto control = std::make_shared<ProcessControl>();
    const std::stop_callback onStop(stop, [control] { control->stop(false); });

    QPromise<CommandResult> promise;
    QFuture<CommandResult> future = promise.future();
    promise.start();
    // Arguments never hold a password: answers to prompts go to a terminal, never through here.
    const QString command = QFileInfo(executable).fileName() + u' ' + arguments.join(u' ');
    QElapsedTimer elapsed;
    elapsed.start();
    Launch launch{std::move(executable), std::move(arguments), environment(), timeout};
    try {
        workers().start(
            std::make_unique<RunJob>(std::move(launch), std::move(onOutput), control, std::move(promise)));
        // The worker finishes the future exactly once; QCoro resumes us on this thread and rethrows
        // the worker's exception with its own type.
        CommandResult result = co_await future;
        qCInfo(lcTools).noquote() << command << "exited with status" << result.status << "after"
                                  << elapsed.elapsed() << "ms";
        co_return result;
    } catch (...) {
        qCInfo(lcTools).noquote() << command << "failed after" << elapsed.elapsed()
                                  << "ms:" << describeFailure(std::current_exception());
        throw;
    }
}

} // namespace mirvo
