// ProcessRunner against the plain system calls: throughput against a pipe read loop over the same child
// output (the child is this program itself, started with --emit BYTES), and the cost of one launch of a
// child that exits at once against posix_spawn + waitpid of the same child. The read loop runs twice: on
// a pipe of the system's default size, and on one as large as the runner's own, which leaves only what
// the runner does beyond moving the bytes.
#include "ProcessRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <QCoro/QCoroTask>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr long long totalBytes = 100LL * 1024 * 1024;
// Many short runs, alternating the two sides: the medians then hold up on a machine shared with others.
constexpr int throughputRuns = 21;
constexpr int launchRuns = 11;
constexpr int launchesPerRun = 300;
#ifdef F_SETPIPE_SZ
constexpr int runnerPipeBytes = 256 * 1024; // as ProcessRunner sets it
#endif

int emit(long long total)
{
    std::vector<char> block(64 * 1024, 'x');
    for (std::size_t i = 63; i < block.size(); i += 64)
        block[i] = '\n';
    while (total > 0) {
        const auto count = std::size_t(std::min<long long>(total, (long long)block.size()));
        std::size_t offset = 0;
        while (offset < count) {
            const ssize_t written = ::write(STDOUT_FILENO, block.data() + offset, count - offset);
            if (written < 0)
                return 1;
            offset += std::size_t(written);
        }
        total -= (long long)count;
    }
    return 0;
}

// The baseline: spawn the same child and read its output in 64 KiB chunks, doing nothing with it.
long long plainReadLoop(const QByteArray& program, bool runnersPipeSize)
{
    int fds[2];
    if (::pipe(fds) < 0)
        std::abort();
#ifdef F_SETPIPE_SZ
    if (runnersPipeSize)
        ::fcntl(fds[0], F_SETPIPE_SZ, runnerPipeBytes);
#else
    Q_UNUSED(runnersPipeSize);
#endif
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    const QByteArray bytes = QByteArray::number(totalBytes);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>("--emit"),
                    const_cast<char*>(bytes.constData()), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ) != 0)
        std::abort();
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::vector<char> chunk(64 * 1024);
    long long received = 0;
    while (true) {
        const ssize_t count = ::read(fds[0], chunk.data(), chunk.size());
        if (count <= 0)
            break;
        received += count;
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return received;
}

// The baseline of one launch: spawn the child with the inherited environment and reap it.
void plainLaunch(const QByteArray& program)
{
    char* argv[] = {const_cast<char*>(program.constData()), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.constData(), nullptr, nullptr, argv, environ) != 0)
        std::abort();
    int status = 0;
    ::waitpid(pid, &status, 0);
}

// A child that exits at once and loads little, so that the launch itself dominates.
QString quickChild()
{
    for (const QString& candidate : {u"/bin/true"_s, u"/usr/bin/true"_s}) {
        if (QFile::exists(candidate))
            return candidate;
    }
    std::fprintf(stderr, "no true(1) found\n");
    std::exit(1);
}

double mebibytesPerSecond(long long bytes, qint64 nanoseconds)
{
    return double(bytes) / (1024.0 * 1024.0) / (double(nanoseconds) / 1e9);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct ThroughputRatios {
    double plain = 0;    // against the read loop on a pipe of the default size
    double samePipe = 0; // against the read loop on a pipe as large as the runner's
};

QCoro::Task<ThroughputRatios> measureThroughput()
{
    const QString self = QCoreApplication::applicationFilePath();
    const QByteArray program = QFile::encodeName(self);
    ProcessRunner runner;
    std::vector<double> runnerSpeeds;
    std::vector<double> plainSpeeds;
    std::vector<double> samePipeSpeeds;
    const auto timedReadLoop = [&program](bool runnersPipeSize) {
        QElapsedTimer timer;
        timer.start();
        const long long received = plainReadLoop(program, runnersPipeSize);
        const qint64 time = timer.nsecsElapsed();
        if (received != totalBytes) {
            std::fprintf(stderr, "plain loop: %lld bytes\n", received);
            std::exit(1);
        }
        return mebibytesPerSecond(totalBytes, time);
    };
    for (int run = 0; run < throughputRuns; ++run) {
        auto counted = std::make_shared<std::atomic<long long>>(0);
        OutputHandler countBytes = [counted](const QString& chunk) { *counted += chunk.size(); };
        QElapsedTimer timer;
        timer.start();
        const CommandResult result = co_await runner.run(self, {u"--emit"_s, QString::number(totalBytes)},
                                                         600, std::move(countBytes), {});
        const qint64 runnerTime = timer.nsecsElapsed();
        if (result.status != 0 || *counted != totalBytes) {
            std::fprintf(stderr, "runner: status %d, %lld bytes\n", result.status, counted->load());
            std::exit(1);
        }
        runnerSpeeds.push_back(mebibytesPerSecond(totalBytes, runnerTime));
        plainSpeeds.push_back(timedReadLoop(false));
        samePipeSpeeds.push_back(timedReadLoop(true));
        std::printf("run %d: ProcessRunner %.0f MiB/s, plain read loop %.0f MiB/s, on the runner's pipe size "
                    "%.0f MiB/s\n",
                    run + 1, runnerSpeeds.back(), plainSpeeds.back(), samePipeSpeeds.back());
    }
    const double runnerMedian = median(runnerSpeeds);
    const double plainMedian = median(plainSpeeds);
    const double samePipeMedian = median(samePipeSpeeds);
    std::printf("median of %d runs of %lld MiB: ProcessRunner %.0f MiB/s, plain read loop %.0f MiB/s, on the "
                "runner's pipe size %.0f MiB/s\n",
                throughputRuns, totalBytes / (1024 * 1024), runnerMedian, plainMedian, samePipeMedian);
    co_return ThroughputRatios{runnerMedian / plainMedian, runnerMedian / samePipeMedian};
}

QCoro::Task<double> measureLaunches()
{
    const QString child = quickChild();
    const QByteArray program = QFile::encodeName(child);
    ProcessRunner runner;
    std::vector<double> runnerCosts;
    std::vector<double> plainCosts;
    for (int run = 0; run < launchRuns; ++run) {
        // One launch of each in turn, so that a change in the machine's load reaches both sides alike.
        qint64 runnerTime = 0;
        qint64 plainTime = 0;
        QElapsedTimer timer;
        for (int launch = 0; launch < launchesPerRun; ++launch) {
            timer.start();
            const CommandResult result = co_await runner.run(child, {}, 20, {}, {});
            runnerTime += timer.nsecsElapsed();
            if (result.status != 0) {
                std::fprintf(stderr, "runner: status %d\n", result.status);
                std::exit(1);
            }
            timer.start();
            plainLaunch(program);
            plainTime += timer.nsecsElapsed();
        }
        runnerCosts.push_back(double(runnerTime) / 1e3 / launchesPerRun);
        plainCosts.push_back(double(plainTime) / 1e3 / launchesPerRun);
        std::printf("run %d: ProcessRunner %.0f us, posix_spawn + waitpid %.0f us per launch\n", run + 1,
                    runnerCosts.back(), plainCosts.back());
    }
    const double runnerMedian = median(runnerCosts);
    const double plainMedian = median(plainCosts);
    std::printf(
        "median of %d runs of %d launches of %s: ProcessRunner %.0f us, posix_spawn + waitpid %.0f us\n",
        launchRuns, launchesPerRun, program.constData(), runnerMedian, plainMedian);
    co_return runnerMedian / plainMedian;
}

QCoro::Task<> benchmark()
{
    try {
        const ThroughputRatios throughput = co_await measureThroughput();
        const double launchCost = co_await measureLaunches();
        std::printf("throughput ratio runner/plain read loop %.2f, on the runner's pipe size %.2f (higher is "
                    "better)\n",
                    throughput.plain, throughput.samePipe);
        std::printf("launch cost ratio runner/plain launch %.2f (lower is better)\n", launchCost);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        std::exit(1);
    }
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string_view(argv[1]) == "--emit")
        return emit(std::atoll(argv[2]));
    QCoreApplication app(argc, argv);
    QTimer::singleShot(0, &app, [] { benchmark(); });
    return app.exec();
}
