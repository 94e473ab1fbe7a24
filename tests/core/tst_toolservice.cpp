#include "CancelledError.h"
#include "MirvoError.h"
#include "ProcessRunner.h"
#include "ToolService.h"

#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "TemporaryDataDirectory.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace mirvo {
char* toString(const Device& device)
{
    const QString text = u"Device(%1, %2, %3, ready=%4, %5)"_s.arg(device.id, device.name, device.version,
                                                                   device.ready ? u"yes"_s : u"no"_s,
                                                                   rawValue(device.transport));
    return qstrdup(text.toUtf8().constData());
}
} // namespace mirvo

namespace {

const QString notAnIPA = u"Выберите доступный файл с расширением .ipa."_s;
const QString emptyIPA = u"IPA пустой или недоступен для чтения."_s;
const QString noDeviceList =
    u"go-ios не вернул список устройств. Разблокируйте iPhone и подтвердите доверие к Mac."_s;
const QString signatureRejected =
    u"iOS не приняла подпись IPA. Нужен оригинальный пакет с лицензией вашего Apple ID."_s;

Device makeDevice(QString id, QString name, QString version, bool ready, DeviceTransport transport)
{
    return Device{std::move(id), std::move(name), std::move(version), ready, transport};
}

// The MirvoError that `action` throws, if any; any other exception fails the test.
std::optional<MirvoError> mirvoErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const MirvoError& error) {
        return error;
    }
    return std::nullopt;
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

} // namespace

class tst_ToolService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void parsesDevices_data();
    void parsesDevices();
    void rejectsDeviceOutput_data();
    void rejectsDeviceOutput();
    void listsDevicesWithLockdownRefinement();
    void listsSeveralDevicesInOrder();
    void lockedDevicesStayListedNotReady();
    void failedListingIsCommandFailure();
    void stoppedListingIsCancelled();
    void missingToolStartsNothing();
    void accountAndLogout();
    void signedOutAccountFails();
    void downloadSucceeds_data();
    void downloadSucceeds();
    void downloadToExistingFileStartsNothing();
    void emptyDownloadLeavesNothing();
    void failedDownloadLeavesNothing();
    void stoppedDownloadLeavesNothing_data();
    void stoppedDownloadLeavesNothing();
    void validatesIPA_data();
    void validatesIPA();
    void installs_data();
    void installs();
    void installNeedsReadyDevice();
    void stoppedInstallIsCancelled();

private:
    ToolService service() const { return ToolService(m_runner, ToolLocator(QStringList{m_fakesDirectory})); }
    QStringList loggedCommands() const;
    QString writeIPA(const QString& name) const;

    std::shared_ptr<ProcessRunner> m_runner = std::make_shared<ProcessRunner>();
    QString m_fakesDirectory;
    std::unique_ptr<test::TemporaryDataDirectory> m_data;
    const Device m_readyDevice = makeDevice(u"00008110-000A1B2C3D4E801E"_s, u"Jane's iPhone"_s, u"17.5.1"_s,
                                            true, DeviceTransport::Usb);
};

void tst_ToolService::initTestCase()
{
    m_fakesDirectory = qEnvironmentVariable("MIRVO_FAKES_DIR");
    QVERIFY2(QFileInfo(m_fakesDirectory + u"/ipatool"_s).isExecutable(),
             "MIRVO_FAKES_DIR must hold the fakes");
}

void tst_ToolService::init()
{
    m_data = std::make_unique<test::TemporaryDataDirectory>();
    for (const char* name :
         {"MIRVO_FAKE_SCENARIO", "MIRVO_FAKE_DEVICES", "MIRVO_FAKE_ACCOUNT", "MIRVO_FAKE_IPA_SIZE"})
        qunsetenv(name);
    qputenv("MIRVO_FAKE_LOG", QFile::encodeName(m_data->filePath(u"fake-commands.log"_s)));
}

void tst_ToolService::cleanup()
{
    QCOMPARE(test::waitForNoChildProcesses(), QList<pid_t>{});
    QCOMPARE(m_data->leftoverTemporaryFiles(), QStringList{});
    m_data.reset();
}

QStringList tst_ToolService::loggedCommands() const
{
    QFile log(m_data->filePath(u"fake-commands.log"_s));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

QString tst_ToolService::writeIPA(const QString& name) const
{
    const QString path = m_data->filePath(name);
    writeFile(path, "PK\x03\x04 an app");
    return path;
}

void tst_ToolService::parsesDevices_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QList<Device>>("expected");

    const auto usb = DeviceTransport::Usb;
    QTest::newRow("empty list") << u"{\"deviceList\":[]}"_s << QList<Device>{};
    QTest::newRow("log lines before, last object counts")
        << u"{\"deviceList\":[{\"Udid\":\"old\"}]}\nWARN "
           u"{\"level\":\"WARN\"}\n{\"deviceList\":[{\"Udid\":\"A\","
           u"\"DeviceName\":\" Jane \",\"ConnectionType\":\"USB\",\"ProductVersion\":\" 17.5 \"}]}"_s
        << QList<Device>{makeDevice(u"A"_s, u"Jane"_s, u" 17.5 "_s, true, usb)};
    QTest::newRow("Udid missing, blank, not a string or trimmed")
        << u"{\"deviceList\":[{\"DeviceName\":\"x\"},{\"Udid\":\"  \\n\"},{\"Udid\":5},{\"Udid\":\" B \\n\"}]}"_s
        << QList<Device>{makeDevice(u"B"_s, u"iPhone"_s, {}, true, DeviceTransport::Unknown)};
    QTest::newRow("names") << u"{\"deviceList\":[{\"Udid\":\"1\",\"ProductName\":\" iPhone OS "
                              u"\",\"ProductType\":\"iPhone14,5\"},"
                              u"{\"Udid\":\"2\",\"DeviceName\":\"  "
                              u"\",\"ProductType\":\"iPhone12,1\"},{\"Udid\":\"3\",\"ProductName\":"
                              u"\"\",\"DeviceName\":7}]}"_s
                           << QList<Device>{
                                  makeDevice(u"1"_s, u"iPhone OS \u00B7 iPhone14,5"_s, {}, true,
                                             DeviceTransport::Unknown),
                                  makeDevice(u"2"_s, u"iPhone12,1"_s, {}, true, DeviceTransport::Unknown),
                                  makeDevice(u"3"_s, u"iPhone"_s, {}, true, DeviceTransport::Unknown)};
    QTest::newRow("transports in any case")
        << u"{\"deviceList\":[{\"Udid\":\"1\",\"ConnectionType\":\"usb\"},{\"Udid\":\"2\",\"ConnectionType\":"
           u"\" NetWork \"},{\"Udid\":\"3\",\"ConnectionType\":\"WiFi\"},{\"Udid\":\"4\",\"ConnectionType\":1}]}"_s
        << QList<Device>{makeDevice(u"1"_s, u"iPhone"_s, {}, true, usb),
                         makeDevice(u"2"_s, u"iPhone"_s, {}, true, DeviceTransport::Network),
                         makeDevice(u"3"_s, u"iPhone"_s, {}, true, DeviceTransport::Unknown),
                         makeDevice(u"4"_s, u"iPhone"_s, {}, true, DeviceTransport::Unknown)};
}

void tst_ToolService::parsesDevices()
{
    QFETCH(QString, output);
    QFETCH(QList<Device>, expected);
    QCOMPARE(ToolService::parseDevices(output), expected);
}

void tst_ToolService::rejectsDeviceOutput_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<MirvoError>("expected");

    QTest::newRow("no output") << QString() << MirvoError::message(noDeviceList);
    QTest::newRow("only an earlier object has the list")
        << u"{\"deviceList\":[{\"Udid\":\"A\"}]}\n{\"level\":\"INFO\"}"_s
        << MirvoError::message(noDeviceList);
    QTest::newRow("an element is no object")
        << u"{\"deviceList\":[{\"Udid\":\"A\"},\"B\"]}"_s << MirvoError::message(noDeviceList);
    QTest::newRow("go-ios error line")
        << u"{\"level\":\"ERROR\",\"msg\":\"failed getting values\",\"err\":\"usbmuxd\"}"_s
        << MirvoError::message(noDeviceList);
    QTest::newRow("error object")
        << u"{\"error\":\"could not start lockdown session\"}"_s
        << MirvoError::commandFailed(
               u"Разблокируйте iPhone, подтвердите «Доверять этому компьютеру» и подключите его заново."_s);
}

void tst_ToolService::rejectsDeviceOutput()
{
    QFETCH(QString, output);
    QFETCH(MirvoError, expected);
    QCOMPARE(mirvoErrorOf([&] { ToolService::parseDevices(output); }), std::optional(expected));
}

void tst_ToolService::listsDevicesWithLockdownRefinement()
{
    const QString fixture = m_data->filePath(u"devices.json"_s);
    writeFile(fixture, R"([
        {"Udid": " 0001 ", "ProductName": "iPhone OS", "ProductType": "iPhone15,2", "ConnectionType": "USB",
         "ProductVersion": "17.0",
         "lockdown": {"Outer": {"Inner": [{"Other": 1}, {"DeviceName": "  Nested Name "}]}, "ProductVersion": "17.1"}},
        {"Udid": "   "},
        {"Udid": "0002", "DeviceName": "Locked Phone", "ConnectionType": "network", "ProductVersion": "16.0",
         "locked": true}
    ])");
    qputenv("MIRVO_FAKE_DEVICES", QFile::encodeName(fixture));

    const QList<Device> devices = test::awaitTask(service().devices({}), 20000);
    QCOMPARE(devices,
             (QList<Device>{
                 makeDevice(u"0001"_s, u"Nested Name"_s, u"17.1"_s, true, DeviceTransport::Usb),
                 makeDevice(u"0002"_s, u"Locked Phone"_s, u"16.0"_s, false, DeviceTransport::Network)}));
    QCOMPARE(loggedCommands(), (QStringList{u"ios list --details"_s, u"ios --udid=0001 info lockdown"_s,
                                            u"ios --udid=0002 info lockdown"_s}));
}

void tst_ToolService::listsSeveralDevicesInOrder()
{
    qputenv("MIRVO_FAKE_SCENARIO", "several-devices");
    const QList<Device> devices = test::awaitTask(service().devices({}), 20000);
    QCOMPARE(devices.size(), 3);
    QCOMPARE(devices[0], m_readyDevice);
    QCOMPARE(devices[1].transport, DeviceTransport::Network);
    QCOMPARE(devices[1].id, m_readyDevice.id);
    QCOMPARE(devices[2].name, u"Work iPhone"_s);
}

void tst_ToolService::lockedDevicesStayListedNotReady()
{
    qputenv("MIRVO_FAKE_SCENARIO", "several-devices,locked");
    const QList<Device> devices = test::awaitTask(service().devices({}), 20000);
    QCOMPARE(devices.size(), 3);
    for (const Device& device : devices) {
        QVERIFY(!device.ready);
        QVERIFY(device.name.contains(u" \u00B7 "_s));
    }
}

void tst_ToolService::failedListingIsCommandFailure()
{
    qputenv("MIRVO_FAKE_SCENARIO", "list-failure");
    const auto error = mirvoErrorOf([&] { test::awaitTask(service().devices({}), 20000); });
    QVERIFY(error);
    QCOMPARE(error->kind(), MirvoError::Kind::CommandFailed);
    QVERIFY(error->payload().contains(u"failed getting values"_s));
}

void tst_ToolService::stoppedListingIsCancelled()
{
    qputenv("MIRVO_FAKE_SCENARIO", "lockdown-stalled");
    std::stop_source stop;
    QTimer::singleShot(300, [&stop] { stop.request_stop(); });
    QVERIFY_THROWS_EXCEPTION(CancelledError, test::awaitTask(service().devices(stop.get_token()), 20000));
}

void tst_ToolService::missingToolStartsNothing()
{
    const ToolService empty(m_runner, ToolLocator(QStringList{m_data->path()}));
    const auto devicesError = mirvoErrorOf([&] { test::awaitTask(empty.devices({})); });
    QCOMPARE(devicesError, std::optional(MirvoError::missingTool(u"ios"_s)));
    const QString destination = m_data->filePath(u"app.ipa"_s);
    const auto downloadError = mirvoErrorOf(
        [&] { test::awaitTask(empty.download(AppIdentifier::storeID(u"1"_s), destination, {}, {}, {})); });
    QCOMPARE(downloadError, std::optional(MirvoError::missingTool(u"ipatool"_s)));
    QVERIFY(!QFile::exists(destination));
    QCOMPARE(loggedCommands(), QStringList{});
}

void tst_ToolService::accountAndLogout()
{
    qputenv("MIRVO_FAKE_ACCOUNT", "someone@example.org");
    QCOMPARE(test::awaitTask(service().account({})), u"someone@example.org"_s);
    test::awaitTask(service().logout({}));
    QCOMPARE(loggedCommands(), (QStringList{u"ipatool auth info --format json --non-interactive"_s,
                                            u"ipatool auth revoke --format json --non-interactive"_s}));
}

void tst_ToolService::signedOutAccountFails()
{
    qputenv("MIRVO_FAKE_SCENARIO", "signed-out");
    const auto accountError = mirvoErrorOf([&] { test::awaitTask(service().account({})); });
    QVERIFY(accountError);
    QCOMPARE(accountError->kind(), MirvoError::Kind::CommandFailed);
    const auto logoutError = mirvoErrorOf([&] { test::awaitTask(service().logout({})); });
    QVERIFY(logoutError);
    QCOMPARE(logoutError->kind(), MirvoError::Kind::CommandFailed);
}

void tst_ToolService::downloadSucceeds_data()
{
    QTest::addColumn<bool>("byStoreID");
    QTest::addColumn<QByteArray>("scenario");
    QTest::newRow("store ID, slow") << true << QByteArray("slow-progress");
    QTest::newRow("bundle ID, flood of output") << false << QByteArray("flood");
}

void tst_ToolService::downloadSucceeds()
{
    QFETCH(bool, byStoreID);
    QFETCH(QByteArray, scenario);
    qputenv("MIRVO_FAKE_SCENARIO", scenario);
    const QString destination = m_data->filePath(u"Packages/app.ipa"_s);
    QVERIFY(QDir().mkpath(QFileInfo(destination).absolutePath()));
    const AppIdentifier identifier =
        byStoreID ? AppIdentifier::storeID(u"284910350"_s) : AppIdentifier::bundleID(u"com.example.app"_s);

    std::mutex mutex;
    QList<qint64> sizes;
    std::atomic<qint64> outputLength = 0;
    OutputHandler onOutput = [&outputLength](const QString& chunk) { outputLength += chunk.size(); };
    ToolService::BytesHandler onBytes = [&](qint64 bytes) {
        const std::lock_guard lock(mutex);
        sizes.append(bytes);
    };
    test::awaitTask(service().download(identifier, destination, onOutput, onBytes, {}), 30000);

    QFile result(destination);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QCOMPARE(result.size(), 1048576);
    QVERIFY(result.read(4) == QByteArray("PK\x03\x04", 4));
    QVERIFY(outputLength > 0);
    QCOMPARE(sizes.last(), 1048576);
    QCOMPARE(*std::max_element(sizes.begin(), sizes.end()), 1048576);
    if (byStoreID)
        QVERIFY2(
            std::any_of(sizes.begin(), sizes.end(), [](qint64 size) { return size > 0 && size < 1048576; }),
            "the size monitor reported no intermediate size");

    const QStringList commands = loggedCommands();
    QCOMPARE(commands.size(), 1);
    const QString expected =
        u"^ipatool download "_s + identifier.arguments().join(u' ') + u" --output "_s +
        QRegularExpression::escape(QFileInfo(destination).absolutePath()) +
        u"/\\.[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.partial\\.ipa "
        u"--format json$"_s;
    QVERIFY2(QRegularExpression(expected).match(commands.first()).hasMatch(), qPrintable(commands.first()));
}

void tst_ToolService::downloadToExistingFileStartsNothing()
{
    const QString destination = m_data->filePath(u"app.ipa"_s);
    writeFile(destination, "kept");
    const auto error = mirvoErrorOf([&] {
        test::awaitTask(service().download(AppIdentifier::storeID(u"1"_s), destination, {}, {}, {}));
    });
    QCOMPARE(
        error,
        std::optional(MirvoError::message(
            u"Файл уже существует. Используйте сохранённый IPA или удалите его для повторного скачивания."_s)));
    QFile kept(destination);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("kept"));
    QCOMPARE(loggedCommands(), QStringList{});
}

void tst_ToolService::emptyDownloadLeavesNothing()
{
    qputenv("MIRVO_FAKE_SCENARIO", "empty-ipa");
    const QString destination = m_data->filePath(u"app.ipa"_s);
    const auto error = mirvoErrorOf([&] {
        test::awaitTask(service().download(AppIdentifier::storeID(u"1"_s), destination, {}, {}, {}));
    });
    QCOMPARE(error, std::optional(MirvoError::message(emptyIPA)));
    QCOMPARE(QDir(m_data->path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"fake-commands.log"_s});
}

void tst_ToolService::failedDownloadLeavesNothing()
{
    qputenv("MIRVO_FAKE_SCENARIO", "license-required");
    const QString destination = m_data->filePath(u"app.ipa"_s);
    const auto error = mirvoErrorOf([&] {
        test::awaitTask(service().download(AppIdentifier::storeID(u"1"_s), destination, {}, {}, {}));
    });
    QVERIFY(error);
    QCOMPARE(error->kind(), MirvoError::Kind::CommandFailed);
    QVERIFY(error->payload().startsWith(u"Apple не разрешает скачать это приложение"_s));
    QVERIFY(!QFile::exists(destination));
}

void tst_ToolService::stoppedDownloadLeavesNothing_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::newRow("stalled") << QByteArray("stalled");
    QTest::newRow("stalled, ignoring SIGTERM") << QByteArray("stalled,ignore-sigterm");
}

void tst_ToolService::stoppedDownloadLeavesNothing()
{
    QFETCH(QByteArray, scenario);
    qputenv("MIRVO_FAKE_SCENARIO", scenario);
    const QString destination = m_data->filePath(u"app.ipa"_s);
    std::atomic<qint64> largest = 0;
    ToolService::BytesHandler onBytes = [&largest](qint64 bytes) {
        largest = std::max<qint64>(largest, bytes);
    };

    std::stop_source stop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (largest > 0)
            stop.request_stop();
    });
    poll.start(20);
    auto task =
        service().download(AppIdentifier::storeID(u"1"_s), destination, {}, onBytes, stop.get_token());
    QVERIFY_THROWS_EXCEPTION(CancelledError, test::awaitTask(std::move(task), 20000));
    QVERIFY(largest > 0);
    QCOMPARE(QDir(m_data->path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"fake-commands.log"_s});
}

void tst_ToolService::validatesIPA_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("failure");

    QTest::newRow("capital extension") << u"App.IPA"_s << QByteArray("PK") << QString();
    QTest::newRow("empty") << u"app.ipa"_s << QByteArray() << emptyIPA;
    QTest::newRow("folder named .ipa") << u"folder.ipa"_s << QByteArray() << emptyIPA;
    QTest::newRow("other extension") << u"app.zip"_s << QByteArray("PK") << notAnIPA;
    QTest::newRow("missing") << u"missing.ipa"_s << QByteArray() << notAnIPA;
}

void tst_ToolService::validatesIPA()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, failure);
    const QString path = m_data->filePath(name);
    if (name.startsWith(u"folder"_s))
        QVERIFY(QDir().mkpath(path));
    else if (!name.startsWith(u"missing"_s))
        writeFile(path, contents);

    const auto error = mirvoErrorOf([&] { ToolService::validateIPA(path); });
    QCOMPARE(error, failure.isEmpty() ? std::nullopt : std::optional(MirvoError::message(failure)));
}

void tst_ToolService::installs_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("failure");

    QTest::newRow("success") << QByteArray() << u"app.ipa"_s << QString();
    QTest::newRow("errors and failures inside words")
        << QByteArray("install-noisy") << u"app.ipa"_s << QString();
    QTest::newRow("error words in the file name") << QByteArray() << u"Fatal \"Error\".ipa"_s << QString();
    QTest::newRow("failed line with exit status 0")
        << QByteArray("install-failed-exit-zero") << u"app.ipa"_s << signatureRejected;
    QTest::newRow("exit status 1") << QByteArray("install-failure") << u"app.ipa"_s << signatureRejected;
}

void tst_ToolService::installs()
{
    QFETCH(QByteArray, scenario);
    QFETCH(QString, name);
    QFETCH(QString, failure);
    qputenv("MIRVO_FAKE_SCENARIO", scenario);
    const QString ipa = writeIPA(name);
    QString output;
    std::mutex mutex;
    OutputHandler onOutput = [&](const QString& chunk) {
        const std::lock_guard lock(mutex);
        output += chunk;
    };

    const auto error =
        mirvoErrorOf([&] { test::awaitTask(service().install(ipa, m_readyDevice, onOutput, {})); });
    QCOMPARE(error, failure.isEmpty() ? std::nullopt : std::optional(MirvoError::commandFailed(failure)));
    QVERIFY(output.contains(u"percentComplete"_s));
    QCOMPARE(output.contains(u"installation successful"_s), failure.isEmpty());
    QCOMPARE(loggedCommands(),
             QStringList{u"ios install --path="_s + ipa + u" --udid="_s + m_readyDevice.id});
}

void tst_ToolService::installNeedsReadyDevice()
{
    Device locked = m_readyDevice;
    locked.ready = false;
    const QString ipa = writeIPA(u"app.ipa"_s);
    const auto error = mirvoErrorOf([&] { test::awaitTask(service().install(ipa, locked, {}, {})); });
    QCOMPARE(error, std::optional(
                        MirvoError::message(u"Сначала разблокируйте iPhone и подтвердите доверие к Mac."_s)));
    QCOMPARE(loggedCommands(), QStringList{});
}

void tst_ToolService::stoppedInstallIsCancelled()
{
    qputenv("MIRVO_FAKE_SCENARIO", "stalled");
    const QString ipa = writeIPA(u"app.ipa"_s);
    std::stop_source stop;
    QTimer::singleShot(300, [&stop] { stop.request_stop(); });
    QVERIFY_THROWS_EXCEPTION(
        CancelledError, test::awaitTask(service().install(ipa, m_readyDevice, {}, stop.get_token()), 20000));
}

QTEST_GUILESS_MAIN(tst_ToolService)
#include "tst_toolservice.moc"
