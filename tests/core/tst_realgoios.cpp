// The real go-ios, as scripts/install-dependencies.sh installs it, run through the real ToolService: once
// with no usbmuxd to reach and once with a usbmuxd of the test's own and no iPhone. MIRVO_REAL_IOS names
// the executable. The program exits with 77, which CTest counts as skipped, when what a test function needs
// is missing.

#include "MirvoError.h"
#include "ProcessRunner.h"
#include "ToolService.h"

#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "TemporaryDataDirectory.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int skipped = 77;
const QString unplugged = u"iPhone отключён. Подключите его кабелем и повторите попытку."_s;
#ifdef Q_OS_LINUX
const QString usbmuxdDown =
    u"Служба usbmuxd не запущена. Установите пакет usbmuxd и подключите iPhone заново."_s;
#else
const QString usbmuxdDown = u"dial unix"_s;
#endif

QString realIOS()
{
    return qEnvironmentVariable("MIRVO_REAL_IOS");
}

const QStringList systemDirectories{u"/usr/sbin"_s, u"/usr/bin"_s, u"/sbin"_s, u"/bin"_s};

QString systemTool(const QString& name)
{
    return QStandardPaths::findExecutable(name, systemDirectories);
}

// What a usbmuxd of the test's own needs: usbmuxd itself, and a mount namespace (util-linux's unshare and
// setpriv) that gives it a /run of its own, so that a usbmuxd already serving this machine is left alone.
QString missingForOwnUsbmuxd()
{
#ifndef Q_OS_LINUX
    return u"a usbmuxd of the test's own is started on Linux only"_s;
#else
    if (::geteuid() != 0)
        return u"starting usbmuxd needs root"_s;
    for (const QString& tool : {u"usbmuxd"_s, u"unshare"_s, u"setpriv"_s, u"mount"_s}) {
        if (systemTool(tool).isEmpty())
            return tool + u" is not installed"_s;
    }
    const QStringList bindInNamespace{u"--mount"_s, u"--propagation"_s, u"private"_s, systemTool(u"mount"_s),
                                      u"--bind"_s,  QDir::tempPath(),   u"/run"_s};
    if (QProcess::execute(systemTool(u"unshare"_s), bindInNamespace) != 0)
        return u"this machine refuses a mount namespace"_s;
    return {};
#endif
}

// A Unix socket with its address set to `path`, or -1.
int socketFor(const QString& path, sockaddr_un& address)
{
    address = {};
    address.sun_family = AF_UNIX;
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() >= qsizetype(sizeof(address.sun_path)))
        return -1;
    std::copy(encoded.begin(), encoded.end(), address.sun_path);
    return ::socket(AF_UNIX, SOCK_STREAM, 0);
}

// A socket file that nothing listens on, as a usbmuxd that has stopped leaves behind.
bool makeStaleSocket(const QString& path)
{
    sockaddr_un address;
    const int descriptor = socketFor(path, address);
    if (descriptor < 0)
        return false;
    const bool bound = ::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(descriptor);
    return bound;
}

bool accepts(const QString& path)
{
    sockaddr_un address;
    const int descriptor = socketFor(path, address);
    if (descriptor < 0)
        return false;
    const bool connected =
        ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(descriptor);
    return connected;
}

// A usbmuxd started with its own /run, whose socket is `socket()`. Stopped, by its process ID, when the
// object goes.
class OwnUsbmuxd {
public:
    explicit OwnUsbmuxd(const QString& runDirectory)
        : m_socket(runDirectory + u"/usbmuxd"_s)
    {
        // setpriv, unshare and sh each exec the next, so the process started is usbmuxd itself; it gets
        // SIGTERM should this test die before it stops it.
        const QString script = u"\"$1\" --bind \"$0\" /run && exec \"$2\" -f -n -U root"_s;
        m_process.setProgram(systemTool(u"setpriv"_s));
        m_process.setArguments({u"--pdeathsig"_s, u"TERM"_s, systemTool(u"unshare"_s), u"--mount"_s,
                                u"--propagation"_s, u"private"_s, u"/bin/sh"_s, u"-c"_s, script, runDirectory,
                                systemTool(u"mount"_s), systemTool(u"usbmuxd"_s)});
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start();
        m_process.waitForStarted(5000);
        const QDeadlineTimer deadline(10000);
        while (!accepts(m_socket) && m_process.state() != QProcess::NotRunning && !deadline.hasExpired())
            QThread::msleep(20);
    }
    OwnUsbmuxd(const OwnUsbmuxd&) = delete;
    OwnUsbmuxd& operator=(const OwnUsbmuxd&) = delete;
    ~OwnUsbmuxd()
    {
        const qint64 pid = m_process.processId();
        if (pid <= 0)
            return;
        ::kill(pid_t(pid), SIGTERM);
        if (!m_process.waitForFinished(5000)) {
            ::kill(pid_t(pid), SIGKILL);
            m_process.waitForFinished(5000);
        }
    }

    bool running() const { return m_process.state() == QProcess::Running && accepts(m_socket); }
    const QString& socket() const { return m_socket; }

private:
    QString m_socket;
    QProcess m_process;
};

// "devices: <the devices' IDs>" or "install: done" when the operation succeeds; otherwise the operation's
// name and its error's text.
QString outcomeOf(const QString& operation, const ToolService& tools, const QString& ipa)
{
    try {
        if (operation == u"devices"_s) {
            QStringList ids;
            for (const Device& device : awaitTask(tools.devices({}), 30000))
                ids.append(device.id);
            return u"devices: "_s + ids.join(u", "_s);
        }
        const Device absent{u"00008110-000A1B2C3D4E801E"_s, u"iPhone"_s, {}, true, DeviceTransport::Usb};
        awaitTask(tools.install(ipa, absent, {}, {}), 30000);
        return u"install: done"_s;
    } catch (const MirvoError& error) {
        return operation + u": "_s + error.errorDescription();
    }
}

} // namespace

class tst_RealGoIOS : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_data = std::make_unique<TemporaryDataDirectory>();
        // A file name with words the friendly-error rules know must not choose the message.
        m_ipa = m_data->filePath(u"trust, license.ipa"_s);
        writeFile(m_ipa, "PK\x03\x04 not a real app");
    }

    void cleanup()
    {
        qunsetenv("USBMUXD_SOCKET_ADDRESS");
        QCOMPARE(waitForNoChildProcesses(), QList<pid_t>{});
    }

    void withoutUsbmuxd_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("stale"); // a socket file is there, but nothing listens
        QTest::addColumn<QString>("outcome");
        for (const bool stale : {false, true}) {
            for (const QString& operation : {u"devices"_s, u"install"_s}) {
                const QByteArray name = operation.toUtf8() + (stale ? ", stale socket" : ", no socket");
                QTest::newRow(name.constData()) << operation << stale << operation + u": "_s + usbmuxdDown;
            }
        }
    }

    void withoutUsbmuxd()
    {
        QFETCH(QString, operation);
        QFETCH(bool, stale);
        const QString socket = m_data->filePath(u"usbmuxd"_s);
        if (stale)
            QVERIFY(makeStaleSocket(socket));
        qputenv("USBMUXD_SOCKET_ADDRESS", QFile::encodeName(socket));
        QFETCH(QString, outcome);
        // Elsewhere than on Linux the text is go-ios' own, which goes on with the socket's path.
        QCOMPARE(outcomeOf(operation, tools(), m_ipa).left(outcome.size()), outcome);
    }

    void withUsbmuxd_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("devices") << u"devices"_s << u"devices: "_s;
        QTest::newRow("install on an absent iPhone") << u"install"_s << u"install: "_s + unplugged;
    }

    void withUsbmuxd()
    {
        QFETCH(QString, operation);
        const OwnUsbmuxd usbmuxd(m_data->path());
        QVERIFY2(usbmuxd.running(), "usbmuxd did not start");
        qputenv("USBMUXD_SOCKET_ADDRESS", QFile::encodeName(usbmuxd.socket()));
        QTEST(outcomeOf(operation, tools(), m_ipa), "outcome");
    }

private:
    static ToolService tools()
    {
        return ToolService(std::make_shared<ProcessRunner>(),
                           ToolLocator(QStringList{QFileInfo(realIOS()).absolutePath()}));
    }

    std::unique_ptr<TemporaryDataDirectory> m_data;
    QString m_ipa;
};

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QString missing;
    if (!QFileInfo(realIOS()).isExecutable())
        missing = u"go-ios is not installed at \""_s + realIOS() + u"\" (scripts/install-dependencies.sh)"_s;
    else if (application.arguments().contains(u"withUsbmuxd"_s))
        missing = missingForOwnUsbmuxd();
    if (!missing.isEmpty()) {
        std::fprintf(stderr, "Skipped: %s\n", qPrintable(missing));
        return skipped;
    }
    tst_RealGoIOS test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_realgoios.moc"
