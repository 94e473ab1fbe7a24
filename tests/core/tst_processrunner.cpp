#include "AwaitTask.h"
#include "CancelledError.h"
#include "ChildProcesses.h"
#include "MirvoError.h"
#include "ProcessRunner.h"
#include "SystemError.h"
#include "TestChild.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString childPath = QStringLiteral(TEST_CHILD_PATH);

// An onOutput that appends each chunk to `chunks` and then runs `also`, on the reading thread; the test
// reads `chunks` once the run has ended.
OutputHandler collect(QStringList& chunks, std::function<void(const QString&)> also = {})
{
    return [&chunks, also = std::move(also)](const QString& chunk) {
        chunks.append(chunk);
        if (also)
            also(chunk);
    };
}

} // namespace

class tst_ProcessRunner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QCOMPARE(waitForNoChildProcesses(), QList<pid_t>()); }
    void result_data();
    void result();
    void floodKeepsTheLastMebibyte_data();
    void floodKeepsTheLastMebibyte();
    void characterSplitAcrossReads();
    void childGetsFixedEnvironmentAndArguments();
    void zeroTimeLimitFiresAtOnce();
    void stopKillsChildIgnoringTerminate();
    void stopAfterExitIsCancellation();
    void launchesNothing_data();
    void launchesNothing();
    void refusesNulCharacter_data();
    void refusesNulCharacter();
    void childInheritsOnlyStandardStreams();
    void throwingHandlerEndsRunAndChild();

private:
    CommandResult run(QStringList arguments, OutputHandler onOutput = {}, double timeout = 20,
                      std::stop_token stop = {})
    {
        return awaitTask(m_runner.run(childPath, std::move(arguments), timeout, std::move(onOutput), stop));
    }

    ProcessRunner m_runner;
};

void tst_ProcessRunner::result_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");

    QTest::newRow("silent") << QStringList{u"exit"_s, u"0"_s} << 0 << QString();
    QTest::newRow("status 255 with text") << QStringList{u"exit"_s, u"255"_s, u"сбой"_s} << 255 << u"сбой"_s;
    QTest::newRow("ended by SIGKILL")
        << QStringList{u"raise"_s, QString::number(SIGKILL)} << int(SIGKILL) << QString();
    QTest::newRow("stderr interleaved with stdout")
        << QStringList{u"interleave"_s} << 0 << u"out 1\nerr 1\nout 2\nerr 2\nout 3\nerr 3\n"_s;
}

void tst_ProcessRunner::result()
{
    QFETCH(QStringList, arguments);
    QStringList chunks;
    const CommandResult result = run(arguments, collect(chunks));
    QTEST(result.status, "status");
    QTEST(result.output, "output");
    // Everything read goes to onOutput as well; a silent child causes no call at all.
    QCOMPARE(chunks.join(QString()), result.output);
    QVERIFY(!chunks.contains(QString()));
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

    QStringList chunks;
    const CommandResult result = run({u"flood"_s, QString::number(total)}, collect(chunks));
    QCOMPARE(result.status, 0);
    QVERIFY(chunks.join(QString()) == QLatin1StringView(expected));
    QCOMPARE(result.output.size(), kept);
    QVERIFY(result.output == QLatin1StringView(expected.right(kept)));
}

void tst_ProcessRunner::characterSplitAcrossReads()
{
    QTemporaryDir directory;
    const QString waitFile = directory.filePath(u"go"_s);
    QStringList chunks;
    const auto releaseSecondHalf = [waitFile](const QString&) { QFile(waitFile).open(QIODevice::WriteOnly); };
    const CommandResult result = run({u"split-char"_s, waitFile}, collect(chunks, releaseSecondHalf));
    QCOMPARE(result.output, u"€\n"_s);
    QCOMPARE(chunks.size(), 2);
    QVERIFY(!chunks[0].isEmpty() && chunks[0].count(QChar::ReplacementCharacter) == chunks[0].size());
    QCOMPARE(chunks[1], QString(QChar::ReplacementCharacter) + u'\n');
}

void tst_ProcessRunner::childGetsFixedEnvironmentAndArguments()
{
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([path] {
        qputenv("PATH", path);
        qunsetenv("MIRVO_RUNNER_MARKER");
    });
    qputenv("PATH", "/nowhere");
    qputenv("MIRVO_RUNNER_MARKER", "kept");
    const QStringList arguments{u"two words"_s, u"\"quoted\" 'single'"_s, QString(), u"$HOME;*"_s, u"ёж"_s};
    const QStringList lines = run(QStringList{u"env-args"_s} + arguments).output.split(u'\n');

    QCOMPARE(lines.filter(u"env PATH="_s), QStringList{u"env PATH=/usr/bin:/bin:/usr/sbin:/sbin"_s});
    QVERIFY(lines.contains(u"env NO_COLOR=1"_s));
    QVERIFY(lines.contains(u"env MIRVO_RUNNER_MARKER=kept"_s));
    QStringList received = lines.filter(QRegularExpression(u"^arg \\["_s));
    QCOMPARE(received.replaceInStrings(QRegularExpression(u"^arg \\[(.*)\\]$"_s), u"\\1"_s), arguments);
}

void tst_ProcessRunner::zeroTimeLimitFiresAtOnce()
{
    try {
        run({u"sleep"_s, u"30"_s}, {}, 0);
        QFAIL("the time limit did not fire");
    } catch (const MirvoError& error) {
        QCOMPARE(error, MirvoError::timedOut());
    }
}

void tst_ProcessRunner::stopKillsChildIgnoringTerminate()
{
    // The stop comes from the caller's thread once the child is ready. The one-second time limit runs out
    // while the child still ignores SIGTERM, before the SIGKILL two seconds after the stop: the stop wins.
    std::stop_source source;
    const auto stopWhenReady = [this, &source](const QString&) {
        QMetaObject::invokeMethod(
            this, [&source] { source.request_stop(); }, Qt::QueuedConnection);
    };
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY_THROWS_EXCEPTION(CancelledError,
                             run({u"ignore-term"_s, u"60"_s}, stopWhenReady, 1, source.get_token()));
    // The call ends only once its child is gone, and SIGTERM alone did not end it.
    QCOMPARE(liveChildProcesses(), QList<pid_t>());
    QVERIFY(elapsed.elapsed() >= 1500);
}

void tst_ProcessRunner::stopAfterExitIsCancellation()
{
    // The child prints its pid and exits; the stop comes once it has exited but before the runner has
    // read the end of its output, so before the runner reaps it and takes the result.
    std::stop_source source;
    const auto stopAfterExit = [&source](const QString& chunk) {
        siginfo_t info{};
        waitid(P_PID, id_t(chunk.trimmed().mid(4).toInt()), &info, WEXITED | WNOWAIT);
        source.request_stop();
    };
    QVERIFY_THROWS_EXCEPTION(CancelledError, run({u"pid-exit"_s}, stopAfterExit, 20, source.get_token()));
}

void tst_ProcessRunner::launchesNothing_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("workingDirectory");
    QTest::addColumn<bool>("stopped");
    QTest::newRow("missing") << u"/nonexistent/mirvo-missing-tool"_s << QString() << false;
    // Even when the name resolves against the working directory, only absolute paths are launched.
    QTest::newRow("relative path") << QFileInfo(childPath).fileName() << QFileInfo(childPath).path() << false;
    QTest::newRow("stopped before the launch") << childPath << QString() << true;
}

void tst_ProcessRunner::launchesNothing()
{
    QFETCH(QString, executable);
    QFETCH(QString, workingDirectory);
    QFETCH(bool, stopped);
    const auto restore = qScopeGuard([previous = QDir::currentPath()] { QDir::setCurrent(previous); });
    if (!workingDirectory.isEmpty())
        QDir::setCurrent(workingDirectory);
    QTemporaryDir directory;
    const QString marker = directory.filePath(u"launched"_s);
    std::stop_source source;
    if (stopped)
        source.request_stop();
    QStringList chunks;
    try {
        awaitTask(m_runner.run(executable, {u"touch"_s, marker}, 20, collect(chunks), source.get_token()));
        QFAIL("the executable was launched");
    } catch (const CancelledError&) {
        QVERIFY(stopped);
    } catch (const SystemError& error) {
        QVERIFY(!stopped);
        QVERIFY2(error.description().contains(executable), qPrintable(error.description()));
    }
    QVERIFY(!QFile::exists(marker));
    QCOMPARE(chunks, QStringList());
}

void tst_ProcessRunner::refusesNulCharacter_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("markerSuffix");
    // Cut at the NUL, either would start the test child and create the marker.
    QTest::newRow("in the path") << childPath + QChar(u'\0') + u"x"_s << QString();
    QTest::newRow("in an argument") << childPath << QString(QChar(u'\0')) + u"x"_s;
}

void tst_ProcessRunner::refusesNulCharacter()
{
    QFETCH(QString, executable);
    QFETCH(QString, markerSuffix);
    QTemporaryDir directory;
    const QString marker = directory.filePath(u"launched"_s);
    QVERIFY_THROWS_EXCEPTION(
        SystemError, awaitTask(m_runner.run(executable, {u"touch"_s, marker + markerSuffix}, 20, {}, {})));
    QVERIFY(!QFile::exists(marker));
}

void tst_ProcessRunner::childInheritsOnlyStandardStreams()
{
    // Left open without close-on-exec on purpose, as a sign-in terminal's ends are.
    int fds[2] = {-1, -1};
    QCOMPARE(::pipe(fds), 0);
    const auto closeBoth = qScopeGuard([fds] {
        ::close(fds[0]);
        ::close(fds[1]);
    });
    QCOMPARE(::fcntl(fds[1], F_GETFD) & FD_CLOEXEC, 0);
    const CommandResult result = run({u"fds"_s});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.output, QString());
}

void tst_ProcessRunner::throwingHandlerEndsRunAndChild()
{
    // The child still waits for a file that never comes when the handler throws on its first chunk.
    QTemporaryDir directory;
    const auto fail = [](const QString&) { throw std::runtime_error("handler failed"); };
    try {
        run({u"split-char"_s, directory.filePath(u"never"_s)}, fail);
        QFAIL("the run ended without the handler's error");
    } catch (const std::runtime_error& error) {
        QCOMPARE(QByteArray(error.what()), "handler failed");
    }
    // Gone and reaped by the time the run ends, not merely signalled.
    QCOMPARE(liveChildProcesses(), QList<pid_t>());
}

QTEST_GUILESS_MAIN(tst_ProcessRunner)
#include "tst_processrunner.moc"
