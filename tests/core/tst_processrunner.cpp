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

#include <sys/wait.h>
#include <unistd.h>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString childPath = QStringLiteral(TEST_CHILD_PATH);

// An onOutput that appends each chunk to `chunks`, on the reading thread; the test reads `chunks` once the
// run has ended.
OutputHandler collect(QStringList& chunks)
{
    return [&chunks](const QString& chunk) { chunks.append(chunk); };
}

} // namespace

class tst_ProcessRunner : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Left open without close-on-exec on purpose: no child may inherit it.
    void initTestCase() { QCOMPARE(::pipe(m_inheritable), 0); }
    void cleanupTestCase()
    {
        ::close(m_inheritable[0]);
        ::close(m_inheritable[1]);
    }
    void cleanup() { QCOMPARE(waitForNoChildProcesses(), QList<pid_t>()); }

    void result_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<double>("timeout");
        QTest::addColumn<QString>("result"); // "<status> <output>" or "timed out"

        const auto row = [](const char* name, const QString& command, const QString& result,
                            double timeout = 20) {
            QTest::newRow(name) << command.split(u' ') << timeout << result;
        };

        row("silent", u"exit 0"_s, u"0 "_s);
        row("status 255 with text", u"exit 255 сбой"_s, u"255 сбой"_s);
        row("ended by SIGKILL", u"raise %1"_s.arg(SIGKILL), u"%1 "_s.arg(SIGKILL));
        row("stderr interleaved with stdout", u"interleave"_s,
            u"0 out 1\nerr 1\nout 2\nerr 2\nout 3\nerr 3\n"_s);
        // The child lists every descriptor it holds beyond the standard three.
        row("only the standard streams inherited", u"fds"_s, u"0 "_s);
        row("zero time limit fires at once", u"sleep 30"_s, u"timed out"_s, 0);
    }

    void result()
    {
        QFETCH(QStringList, arguments);
        QFETCH(double, timeout);
        QStringList chunks;
        QString result;
        try {
            const CommandResult ended = run(arguments, collect(chunks), timeout);
            result = QString::number(ended.status) + u' ' + ended.output;
            // Everything read goes to onOutput as well; a silent child causes no call at all.
            QCOMPARE(chunks.join(QString()), ended.output);
            QVERIFY(!chunks.contains(QString()));
        } catch (const MirvoError& error) {
            QCOMPARE(error, MirvoError::timedOut());
            result = u"timed out"_s;
        }
        QTEST(result, "result");
    }

    void floodKeepsTheLastMebibyte_data()
    {
        QTest::addColumn<qsizetype>("total");
        QTest::newRow("3 MiB") << qsizetype(3 * 1024 * 1024);
        // Leaves the kept tail wrapped around inside its ring.
        QTest::newRow("3 MiB and 1000 bytes") << qsizetype(3 * 1024 * 1024 + 1000);
    }

    void floodKeepsTheLastMebibyte()
    {
        QFETCH(qsizetype, total);
        QByteArray expected(total, Qt::Uninitialized);
        for (qsizetype i = 0; i < total; ++i)
            expected[i] = floodByte(i);

        QStringList chunks;
        const CommandResult result = run({u"flood"_s, QString::number(total)}, collect(chunks));
        QCOMPARE(result.status, 0);
        QVERIFY(chunks.join(QString()) == QLatin1StringView(expected));
        QVERIFY(result.output == QLatin1StringView(expected.right(1024 * 1024)));
    }

    void characterSplitAcrossReads()
    {
        QTemporaryDir directory;
        const QString waitFile = directory.filePath(u"go"_s);
        QStringList chunks;
        const CommandResult result = run({u"split-char"_s, waitFile}, [&](const QString& chunk) {
            chunks.append(chunk);
            QFile(waitFile).open(QIODevice::WriteOnly); // releases the second half
        });
        QCOMPARE(result.output, u"€\n"_s);
        QCOMPARE(chunks.size(), 2);
        QVERIFY(!chunks[0].isEmpty() && chunks[0].count(QChar::ReplacementCharacter) == chunks[0].size());
        QCOMPARE(chunks[1], QString(QChar::ReplacementCharacter) + u'\n');
    }

    void childGetsFixedEnvironmentAndArguments()
    {
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([path] {
            qputenv("PATH", path);
            qunsetenv("MIRVO_RUNNER_MARKER");
        });
        qputenv("PATH", "/nowhere");
        qputenv("MIRVO_RUNNER_MARKER", "kept");
        const QStringList arguments{u"two words"_s, u"\"quoted\" 'single'"_s, QString(), u"$HOME;*"_s,
                                    u"ёж"_s};
        const QStringList lines = run(QStringList{u"env-args"_s} + arguments).output.split(u'\n');

        QCOMPARE(lines.filter(u"env PATH="_s), QStringList{u"env PATH=/usr/bin:/bin:/usr/sbin:/sbin"_s});
        QVERIFY(lines.contains(u"env NO_COLOR=1"_s));
        QVERIFY(lines.contains(u"env MIRVO_RUNNER_MARKER=kept"_s));
        QStringList received = lines.filter(QRegularExpression(u"^arg \\["_s));
        QCOMPARE(received.replaceInStrings(QRegularExpression(u"^arg \\[(.*)\\]$"_s), u"\\1"_s), arguments);
    }

    void stopKillsChildIgnoringTerminate()
    {
        // Stopped once the child is ready; its one-second time limit runs out before the SIGKILL 2 s after
        // the stop, and the stop wins.
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

    void stopAfterExitIsCancellation()
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

    void launchesNothing_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("suffix"); // of the path the child would create
        QTest::addColumn<QString>("workingDirectory");
        QTest::addColumn<QString>("failure"); // "cancelled", or words of the SystemError's text
        const auto row = [](const char* name, const QString& executable, const QString& failure,
                            const QString& suffix = {}, const QString& workingDirectory = {}) {
            QTest::newRow(name) << executable << suffix << workingDirectory << failure;
        };
        const QFileInfo child(childPath);
        const QString nul(QChar(u'\0'));

        row("missing", u"/nonexistent/mirvo-missing-tool"_s, u"/nonexistent/mirvo-missing-tool"_s);
        // Even when the name resolves against the working directory, only absolute paths are launched.
        row("relative path", child.fileName(), child.fileName(), {}, child.path());
        row("stopped before the launch", childPath, u"cancelled"_s);
        // Cut at the NUL, either would start the test child and create its file.
        row("NUL in the path", childPath + nul + u"x"_s, u"нулевой"_s);
        row("NUL in an argument", childPath, u"нулевой"_s, nul + u"x"_s);
    }

    void launchesNothing()
    {
        QFETCH(QString, executable);
        QFETCH(QString, suffix);
        QFETCH(QString, workingDirectory);
        QFETCH(QString, failure);
        const auto restore = qScopeGuard([previous = QDir::currentPath()] { QDir::setCurrent(previous); });
        if (!workingDirectory.isEmpty())
            QDir::setCurrent(workingDirectory);
        QTemporaryDir directory;
        const QString marker = directory.filePath(u"launched"_s);
        std::stop_source source;
        if (failure == u"cancelled"_s)
            source.request_stop();
        QStringList chunks;
        QString thrown;
        try {
            awaitTask(m_runner.run(executable, {u"touch"_s, marker + suffix}, 20, collect(chunks),
                                   source.get_token()));
        } catch (const CancelledError&) {
            thrown = u"cancelled"_s;
        } catch (const SystemError& error) {
            thrown = error.description();
        }
        QVERIFY2(thrown.contains(failure), qPrintable(thrown));
        QVERIFY(!QFile::exists(marker));
        QCOMPARE(chunks, QStringList());
    }

    void throwingHandlerEndsRunAndChild()
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

private:
    CommandResult run(QStringList arguments, OutputHandler onOutput = {}, double timeout = 20,
                      std::stop_token stop = {})
    {
        return awaitTask(m_runner.run(childPath, std::move(arguments), timeout, std::move(onOutput), stop));
    }

    ProcessRunner m_runner;
    int m_inheritable[2] = {-1, -1};
};

QTEST_GUILESS_MAIN(tst_ProcessRunner)
#include "tst_processrunner.moc"
