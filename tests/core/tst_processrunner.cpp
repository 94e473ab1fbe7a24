#include "AwaitTask.h"
#include "CancelledError.h"
#include "ChildProcesses.h"
#include "MirvoError.h"
#include "ProcessRunner.h"
#include "SystemError.h"
#include "TestChild.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <mutex>

#include <sys/wait.h>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString childPath = QStringLiteral(TEST_CHILD_PATH);

// Collects the chunks handed to onOutput on the reading thread.
class ChunkLog {
public:
    OutputHandler handler(std::function<void(const QString&)> also = {})
    {
        return [this, also = std::move(also)](const QString& chunk) {
            {
                std::lock_guard lock(m_lock);
                m_chunks.append(chunk);
            }
            if (also)
                also(chunk);
        };
    }
    QStringList chunks() const
    {
        std::lock_guard lock(m_lock);
        return m_chunks;
    }

private:
    mutable std::mutex m_lock;
    QStringList m_chunks;
};

// Blocks until `pid` has exited, without reaping it.
void waitUntilExited(pid_t pid)
{
    siginfo_t info{};
    waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT);
}

} // namespace

class tst_ProcessRunner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void environmentFixesPathAndColour();
    void silentChild();
    void floodKeepsTheLastMebibyte_data();
    void floodKeepsTheLastMebibyte();
    void characterSplitAcrossReads();
    void standardErrorInterleaved();
    void exitStatus_data();
    void exitStatus();
    void environmentAndArgumentsReachTheChild();
    void timeLimitFiresAtOnce_data();
    void timeLimitFiresAtOnce();
    void stopKillsChildIgnoringTerminate();
    void cancellationWinsOverTimeLimit();
    void stopBeforeLaunchLaunchesNothing();
    void stopAfterExitIsCancellation();
    void launchFailure_data();
    void launchFailure();

private:
    CommandResult run(QStringList arguments, OutputHandler onOutput = {}, double timeout = 20,
                      std::stop_token stop = {})
    {
        return awaitTask(m_runner.run(childPath, std::move(arguments), timeout, std::move(onOutput), stop));
    }

    ProcessRunner m_runner;
};

void tst_ProcessRunner::cleanup()
{
    QCOMPARE(waitForNoChildProcesses(), QList<pid_t>());
}

void tst_ProcessRunner::environmentFixesPathAndColour()
{
    const auto restore = qScopeGuard([] { qunsetenv("MIRVO_RUNNER_MARKER"); });
    qputenv("MIRVO_RUNNER_MARKER", "kept");
    const QProcessEnvironment environment = ProcessRunner::environment();
    QCOMPARE(environment.value(u"PATH"_s), u"/usr/bin:/bin:/usr/sbin:/sbin"_s);
    QCOMPARE(environment.value(u"NO_COLOR"_s), u"1"_s);
    QCOMPARE(environment.value(u"MIRVO_RUNNER_MARKER"_s), u"kept"_s);
}

void tst_ProcessRunner::silentChild()
{
    ChunkLog log;
    const CommandResult result = run({u"exit"_s, u"0"_s}, log.handler());
    QCOMPARE(result.status, 0);
    QCOMPARE(result.output, QString());
    QCOMPARE(log.chunks(), QStringList());
}

void tst_ProcessRunner::floodKeepsTheLastMebibyte_data()
{
    QTest::addColumn<qsizetype>("total");
    QTest::newRow("3 MiB") << qsizetype(3 * 1024 * 1024);
    // Leaves the kept tail wrapped around inside its ring.
    QTest::newRow("3 MiB and 1000 bytes") << qsizetype(3 * 1024 * 1024 + 1000);
}

void tst_ProcessRunner::floodKeepsTheLastMebibyte()
{
    QFETCH(qsizetype, total);
    constexpr qsizetype kept = 1024 * 1024;
    QByteArray expected(total, Qt::Uninitialized);
    for (qsizetype i = 0; i < total; ++i)
        expected[i] = floodByte(i);

    ChunkLog log;
    const CommandResult result = run({u"flood"_s, QString::number(total)}, log.handler());
    QCOMPARE(result.status, 0);
    const QString streamed = log.chunks().join(QString());
    QCOMPARE(streamed.size(), total);
    QVERIFY(streamed == QLatin1StringView(expected));
    QCOMPARE(result.output.size(), kept);
    QVERIFY(result.output == QLatin1StringView(expected.right(kept)));
}

void tst_ProcessRunner::characterSplitAcrossReads()
{
    QTemporaryDir directory;
    const QString waitFile = directory.filePath(u"go"_s);
    ChunkLog log;
    const auto releaseSecondHalf = [waitFile](const QString&) { QFile(waitFile).open(QIODevice::WriteOnly); };
    const CommandResult result = run({u"split-char"_s, waitFile}, log.handler(releaseSecondHalf));
    QCOMPARE(result.output, u"€\n"_s);
    const QStringList chunks = log.chunks();
    QCOMPARE(chunks.size(), 2);
    QVERIFY(!chunks[0].isEmpty());
    QCOMPARE(chunks[0], QString(chunks[0].size(), QChar::ReplacementCharacter));
    QCOMPARE(chunks[1], QString(QChar::ReplacementCharacter) + u'\n');
}

void tst_ProcessRunner::standardErrorInterleaved()
{
    ChunkLog log;
    const CommandResult result = run({u"interleave"_s}, log.handler());
    const QString expected = u"out 1\nerr 1\nout 2\nerr 2\nout 3\nerr 3\n"_s;
    QCOMPARE(result.output, expected);
    QCOMPARE(log.chunks().join(QString()), expected);
}

void tst_ProcessRunner::exitStatus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");

    QTest::newRow("status 3, no output") << QStringList{u"exit"_s, u"3"_s} << 3 << QString();
    QTest::newRow("status 255 with text") << QStringList{u"exit"_s, u"255"_s, u"сбой"_s} << 255 << u"сбой"_s;
    QTest::newRow("ended by SIGKILL")
        << QStringList{u"raise"_s, QString::number(SIGKILL)} << int(SIGKILL) << QString();
    QTest::newRow("JSON line, status 0")
        << QStringList{u"lines"_s, u"{\"error\":\"boom\"}"_s} << 0 << u"{\"error\":\"boom\"}\n"_s;
}

void tst_ProcessRunner::exitStatus()
{
    QFETCH(QStringList, arguments);
    const CommandResult result = run(arguments);
    QTEST(result.status, "status");
    QTEST(result.output, "output");
}

void tst_ProcessRunner::environmentAndArgumentsReachTheChild()
{
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([path] {
        qputenv("PATH", path);
        qunsetenv("NO_COLOR");
        qunsetenv("MIRVO_RUNNER_MARKER");
    });
    qputenv("PATH", "/nowhere");
    qputenv("NO_COLOR", "0");
    qputenv("MIRVO_RUNNER_MARKER", "kept");
    const QStringList arguments{u"two words"_s, u"\"quoted\" 'single'"_s, QString(), u"$HOME;*"_s, u"ёж"_s};
    const CommandResult result = run(QStringList{u"env-args"_s} + arguments);

    const QStringList lines = result.output.split(u'\n', Qt::SkipEmptyParts);
    QVERIFY(lines.contains(u"env PATH=/usr/bin:/bin:/usr/sbin:/sbin"_s));
    QVERIFY(lines.contains(u"env NO_COLOR=1"_s));
    QVERIFY(lines.contains(u"env MIRVO_RUNNER_MARKER=kept"_s));
    QCOMPARE(lines.filter(u"env PATH="_s).size(), 1);
    QStringList received;
    for (const QString& line : lines) {
        if (line.startsWith(u"arg ["_s))
            received.append(line.mid(5, line.size() - 6));
    }
    QCOMPARE(received, arguments);
}

void tst_ProcessRunner::timeLimitFiresAtOnce_data()
{
    QTest::addColumn<double>("timeout");
    QTest::newRow("zero") << 0.0;
    QTest::newRow("negative") << -5.0;
}

void tst_ProcessRunner::timeLimitFiresAtOnce()
{
    QFETCH(double, timeout);
    try {
        run({u"sleep"_s, u"30"_s}, {}, timeout);
        QFAIL("the time limit did not fire");
    } catch (const MirvoError& error) {
        QCOMPARE(error.kind(), MirvoError::Kind::TimedOut);
    }
}

void tst_ProcessRunner::stopKillsChildIgnoringTerminate()
{
    std::stop_source source;
    ChunkLog log;
    const auto stopWhenReady = [this, &source](const QString&) {
        // Stop from the caller's thread, as the application does.
        QMetaObject::invokeMethod(
            this, [&source] { source.request_stop(); }, Qt::QueuedConnection);
    };
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY_THROWS_EXCEPTION(
        CancelledError, run({u"ignore-term"_s, u"60"_s}, log.handler(stopWhenReady), 60, source.get_token()));
    // The call ends only once its child is gone; SIGTERM alone did not end it, SIGKILL did.
    QCOMPARE(liveChildProcesses(), QList<pid_t>());
    QVERIFY(elapsed.elapsed() >= 1500);
    QCOMPARE(log.chunks().join(QString()), u"ready\n"_s);
}

void tst_ProcessRunner::cancellationWinsOverTimeLimit()
{
    // The stop comes when the child is ready; the time limit runs out while the child still ignores
    // SIGTERM, before the SIGKILL two seconds after the stop.
    std::stop_source source;
    ChunkLog log;
    const auto stopWhenReady = [&source](const QString&) { source.request_stop(); };
    QVERIFY_THROWS_EXCEPTION(CancelledError, run({u"ignore-term"_s, u"60"_s}, log.handler(stopWhenReady), 1.0,
                                                 source.get_token()));
}

void tst_ProcessRunner::stopBeforeLaunchLaunchesNothing()
{
    QTemporaryDir directory;
    const QString marker = directory.filePath(u"launched"_s);
    std::stop_source source;
    source.request_stop();
    ChunkLog log;
    QVERIFY_THROWS_EXCEPTION(CancelledError,
                             run({u"touch"_s, marker}, log.handler(), 20, source.get_token()));
    QVERIFY(!QFile::exists(marker));
    QCOMPARE(log.chunks(), QStringList());
}

void tst_ProcessRunner::stopAfterExitIsCancellation()
{
    // The child prints its pid and exits; the stop is requested once it has exited but before the end of
    // its output has been read, so before the runner reaps it.
    std::stop_source source;
    ChunkLog log;
    const auto stopAfterExit = [&source](const QString& chunk) {
        waitUntilExited(pid_t(chunk.trimmed().mid(4).toInt()));
        source.request_stop();
    };
    QVERIFY_THROWS_EXCEPTION(CancelledError,
                             run({u"pid-exit"_s}, log.handler(stopAfterExit), 20, source.get_token()));
    QCOMPARE(log.chunks().size(), 1);
}

void tst_ProcessRunner::launchFailure_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("workingDirectory");
    QTest::newRow("missing") << u"/nonexistent/mirvo-missing-tool"_s << QString();
    QTest::newRow("not executable") << QFINDTESTDATA("tst_processrunner.cpp") << QString();
    // Even when the name resolves against the working directory, only absolute paths are launched.
    QTest::newRow("relative path") << QFileInfo(childPath).fileName() << QFileInfo(childPath).path();
}

void tst_ProcessRunner::launchFailure()
{
    QFETCH(QString, executable);
    QFETCH(QString, workingDirectory);
    const QString previousDirectory = QDir::currentPath();
    if (!workingDirectory.isEmpty())
        QDir::setCurrent(workingDirectory);
    ChunkLog log;
    bool failed = false;
    QString description;
    try {
        awaitTask(m_runner.run(executable, {u"exit"_s, u"0"_s}, 20, log.handler(), {}));
    } catch (const SystemError& error) {
        failed = true;
        description = error.description();
    }
    QDir::setCurrent(previousDirectory);
    QVERIFY(failed);
    QVERIFY2(description.contains(executable), qPrintable(description));
    QCOMPARE(log.chunks(), QStringList());
}

QTEST_GUILESS_MAIN(tst_ProcessRunner)
#include "tst_processrunner.moc"
