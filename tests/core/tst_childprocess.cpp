#include "ChildProcess.h"
#include "ChildProcesses.h"
#include "FileDescriptor.h"
#include "ProcessRunner.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <cerrno>

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString childPath = QStringLiteral(TEST_CHILD_PATH);

// Reads the terminal's master end until `expected` has arrived, the child's end has closed or 10 s have
// passed; returns everything read.
QByteArray readUntil(int master, const QByteArray& expected)
{
    const QDeadlineTimer deadline(10000);
    QByteArray received;
    while (!received.contains(expected) && !deadline.hasExpired()) {
        pollfd readable{master, POLLIN, 0};
        if (::poll(&readable, 1, int(deadline.remainingTime())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t count = ::read(master, buffer, sizeof(buffer));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) // Linux answers EIO once no process holds the other end
            break;
        received.append(buffer, count);
    }
    return received;
}

} // namespace

class tst_ChildProcess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { QCOMPARE(waitForNoChildProcesses(), QList<pid_t>()); }

    void runsOnTerminal()
    {
        int master = -1;
        int slave = -1;
        QCOMPARE(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const FileDescriptor masterEnd(master);
        FileDescriptor slaveEnd(slave);
        termios attributes{};
        QCOMPARE(::tcgetattr(slave, &attributes), 0);
        attributes.c_lflag &= ~tcflag_t(ECHO | ECHONL);
        QCOMPARE(::tcsetattr(slave, TCSANOW, &attributes), 0);

        const std::shared_ptr<ChildProcess> child = ChildProcess::start(
            childPath, {u"prompt"_s}, ProcessRunner::environment(), {slave, slave, slave});
        slaveEnd.reset();
        // The terminal turns each line feed the child writes into a carriage return and a line feed.
        const QByteArray prompt = "terminals: 0 1 2\r\npassword?\r\n";
        QCOMPARE(readUntil(master, prompt), prompt);
        QCOMPARE(::write(master, "secret\n", 7), ssize_t(7));
        // Without the echo, the answer comes back only as the child repeats it.
        QCOMPARE(readUntil(master, "]\r\n"), QByteArray("got [secret]\r\n"));
        QCOMPARE(child->wait(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_ChildProcess)
#include "tst_childprocess.moc"
