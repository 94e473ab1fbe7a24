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

namespace {

const QString emptyIPA = u"IPA пустой или недоступен для чтения."_s;
const QString noDeviceList =
    u"go-ios не вернул список устройств. Разблокируйте iPhone и подтвердите доверие к Mac."_s;
using Failure = std::optional<MirvoError>;

// The MirvoError that `action` throws, if any; any other exception fails the test.
Failure mirvoErrorOf(const std::function<void()>& action)
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
    void listsDevicesWithLockdownRefinement();
    void accountAndLogout();
    void downloads_data();
    void downloads();
    void failures_data();
    void failures();
    void stopsAreCancellations_data();
    void stopsAreCancellations();
    void installs_data();
    void installs();

private:
    ToolService service() const { return ToolService(m_runner, ToolLocator(QStringList{m_fakesDirectory})); }
    QStringList loggedCommands() const;
    QString writeIPA(const QString& name) const;
    void perform(const QString& operation, const ToolService& tools, const Device& device,
                 std::stop_token stop) const;

    std::shared_ptr<ProcessRunner> m_runner = std::make_shared<ProcessRunner>();
    QString m_fakesDirectory;
    std::unique_ptr<test::TemporaryDataDirectory> m_data;
    const Device m_readyDevice{u"00008110-000A1B2C3D4E801E"_s, u"Jane's iPhone"_s, u"17.5.1"_s, true,
                               DeviceTransport::Usb};
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
    for (const char* name : {"MIRVO_FAKE_SCENARIO", "MIRVO_FAKE_DEVICES", "MIRVO_FAKE_ACCOUNT"})
        qunsetenv(name);
    qputenv("MIRVO_FAKE_LOG", QFile::encodeName(m_data->filePath(u"fake-commands.log"_s)));
}

void tst_ToolService::cleanup()
{
    QCOMPARE(test::waitForNoChildProcesses(), QList<pid_t>{});
    QCOMPARE(m_data->leftoverTemporaryFiles(), QStringList{});
}

QStringList tst_ToolService::loggedCommands() const
{
    QFile log(m_data->filePath(u"fake-commands.log"_s));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// A small IPA, or a folder when `name` ends in "/"; returns its path.
QString tst_ToolService::writeIPA(const QString& name) const
{
    const bool folder = name.endsWith(u'/');
    const QString path = m_data->filePath(folder ? name.chopped(1) : name);
    if (folder)
        QDir().mkpath(path);
    else
        writeFile(path, "PK\x03\x04 an app");
    return path;
}

void tst_ToolService::perform(const QString& operation, const ToolService& tools, const Device& device,
                              std::stop_token stop) const
{
    if (operation == u"devices"_s)
        test::awaitTask(tools.devices(stop), 20000);
    else if (operation == u"account"_s)
        test::awaitTask(tools.account(stop));
    else if (operation == u"logout"_s)
        test::awaitTask(tools.logout(stop));
    else if (operation == u"download"_s)
        test::awaitTask(
            tools.download(AppIdentifier::storeID(u"1"_s), m_data->filePath(u"app.ipa"_s), {}, {}, stop),
            20000);
    else
        test::awaitTask(tools.install(writeIPA(u"install.ipa"_s), device, {}, stop), 20000);
}

void tst_ToolService::parsesDevices_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QList<Device>>("devices");
    QTest::addColumn<Failure>("failure");

    const auto listed = [](const QString& elements) -> QString {
        return u"{\"deviceList\":["_s + elements + u"]}"_s;
    };
    const auto unknown = DeviceTransport::Unknown;
    QTest::newRow("empty list") << listed({}) << QList<Device>{} << Failure();
    QTest::newRow("only the last object counts")
        << listed(uR"({"Udid":"old"})"_s) + u"\nWARN {\"level\":\"WARN\"}\n"_s +
               listed(
                   uR"({"Udid":"A","DeviceName":" Jane ","ConnectionType":"USB","ProductVersion":" 17.5 "})"_s)
        << QList<Device>{{u"A"_s, u"Jane"_s, u" 17.5 "_s, true, DeviceTransport::Usb}} << Failure();
    QTest::newRow("the last object lacks the list")
        << listed(uR"({"Udid":"A"})"_s) + u"\n{}"_s << QList<Device>{}
        << Failure(MirvoError::message(noDeviceList));
    QTest::newRow("an element is no object")
        << listed(uR"({"Udid":"A"},"B")"_s) << QList<Device>{} << Failure(MirvoError::message(noDeviceList));
    QTest::newRow("error object")
        << uR"({"error":"could not start lockdown session"})"_s << QList<Device>{}
        << Failure(MirvoError::commandFailed(
               u"Разблокируйте iPhone, подтвердите «Доверять этому компьютеру» и подключите его заново."_s));
    QTest::newRow("Udid missing, blank, no string or padded")
        << listed(uR"({"DeviceName":"x"},{"Udid":"  \n"},{"Udid":5},{"Udid":" B \n"})"_s)
        << QList<Device>{{u"B"_s, u"iPhone"_s, {}, true, unknown}} << Failure();
    QTest::newRow("names and transports")
        << listed(
               uR"({"Udid":"1","ProductName":" iPhone OS ","ProductType":"iPhone14,5","ConnectionType":"usb"},)"
               uR"({"Udid":"2","DeviceName":"  ","ProductType":"iPhone12,1","ConnectionType":" NetWork "},)"
               uR"({"Udid":"3","ProductName":"","DeviceName":7,"ConnectionType":"WiFi"})"_s)
        << QList<Device>{{u"1"_s, u"iPhone OS \u00B7 iPhone14,5"_s, {}, true, DeviceTransport::Usb},
                         {u"2"_s, u"iPhone12,1"_s, {}, true, DeviceTransport::Network},
                         {u"3"_s, u"iPhone"_s, {}, true, unknown}}
        << Failure();
}

void tst_ToolService::parsesDevices()
{
    QFETCH(QString, output);
    QList<Device> devices;
    QTEST(mirvoErrorOf([&] { devices = ToolService::parseDevices(output); }), "failure");
    QTEST(devices, "devices");
}

void tst_ToolService::listsDevicesWithLockdownRefinement()
{
    const QString fixture = m_data->filePath(u"devices.json"_s);
    writeFile(fixture, R"([
        {"Udid": "0001", "ProductName": "iPhone OS", "ConnectionType": "USB", "ProductVersion": "17.0",
         "lockdown": {"Outer": {"Inner": [{"Other": 1}, {"DeviceName": " Nested "}]}, "ProductVersion": "17.1"}},
        {"Udid": "0002", "DeviceName": "Locked", "ConnectionType": "network", "ProductVersion": "16.0",
         "locked": true}
    ])");
    qputenv("MIRVO_FAKE_DEVICES", QFile::encodeName(fixture));
    QCOMPARE(test::awaitTask(service().devices({}), 20000),
             (QList<Device>{{u"0001"_s, u"Nested"_s, u"17.1"_s, true, DeviceTransport::Usb},
                            {u"0002"_s, u"Locked"_s, u"16.0"_s, false, DeviceTransport::Network}}));
}

void tst_ToolService::accountAndLogout()
{
    qputenv("MIRVO_FAKE_ACCOUNT", "someone@example.org");
    QCOMPARE(test::awaitTask(service().account({})), u"someone@example.org"_s);
    test::awaitTask(service().logout({}));
}

void tst_ToolService::downloads_data()
{
    QTest::addColumn<bool>("byStoreID");
    QTest::addColumn<QByteArray>("scenario");
    QTest::newRow("store ID, slow") << true << QByteArray("slow-progress");
    QTest::newRow("bundle ID, flood of output") << false << QByteArray("flood");
}

void tst_ToolService::downloads()
{
    QFETCH(bool, byStoreID);
    QFETCH(QByteArray, scenario);
    qputenv("MIRVO_FAKE_SCENARIO", scenario);
    const QString destination = m_data->filePath(u"Packages/app.ipa"_s);
    QVERIFY(QDir().mkpath(QFileInfo(destination).path()));
    const AppIdentifier identifier =
        byStoreID ? AppIdentifier::storeID(u"284910350"_s) : AppIdentifier::bundleID(u"com.example.app"_s);
    std::atomic<qint64> outputLength = 0;
    std::atomic<qint64> lastSize = 0;
    std::atomic<bool> measuredWhileGrowing = false;
    OutputHandler onOutput = [&outputLength](const QString& chunk) { outputLength += chunk.size(); };
    ToolService::BytesHandler onBytes = [&](qint64 bytes) {
        lastSize = bytes;
        measuredWhileGrowing = measuredWhileGrowing || (bytes > 0 && bytes < 1048576);
    };
    test::awaitTask(service().download(identifier, destination, onOutput, onBytes, {}), 30000);

    QCOMPARE(QFileInfo(destination).size(), 1048576);
    QVERIFY(outputLength > 0);
    QCOMPARE(lastSize, 1048576);
    QVERIFY(measuredWhileGrowing || !byStoreID);
    // ipatool writes into a hidden file beside the destination, so that the final move stays in its folder.
    const QString command =
        u"^ipatool download %1 --output %2/\\.[-0-9A-F]{36}\\.partial\\.ipa --format json$"_s.arg(
            identifier.arguments().join(u' '), QRegularExpression::escape(QFileInfo(destination).path()));
    QVERIFY2(QRegularExpression(command).match(loggedCommands().join(u'\n')).hasMatch(),
             qPrintable(loggedCommands().join(u'\n')));
}

void tst_ToolService::failures_data()
{
    // Besides the fakes' own scenarios, the test sets up "no-tools" (an empty tools folder),
    // "existing-destination" and "device-not-ready". A command's failure need only contain the given text.
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<MirvoError>("failure");
    QTest::addColumn<int>("launches");
    const auto row = [](const char* name, const QString& operation, const char* scenario,
                        const MirvoError& failure, int launches) {
        QTest::newRow(name) << operation << QByteArray(scenario) << failure << launches;
    };

    row("listing fails", u"devices"_s, "list-failure", MirvoError::commandFailed(u"failed getting values"_s),
        1);
    row("signed out, account", u"account"_s, "signed-out",
        MirvoError::commandFailed(u"failed to get account"_s), 1);
    row("signed out, logout", u"logout"_s, "signed-out",
        MirvoError::commandFailed(u"failed to remove account"_s), 1);
    row("ios missing", u"devices"_s, "no-tools", MirvoError::missingTool(u"ios"_s), 0);
    row("ipatool missing", u"download"_s, "no-tools", MirvoError::missingTool(u"ipatool"_s), 0);
    row("destination exists", u"download"_s, "existing-destination",
        MirvoError::message(
            u"Файл уже существует. Используйте сохранённый IPA или удалите его для повторного скачивания."_s),
        0);
    row("empty IPA", u"download"_s, "empty-ipa", MirvoError::message(emptyIPA), 1);
    row("licence required", u"download"_s, "license-required",
        MirvoError::commandFailed(u"Apple не разрешает скачать это приложение"_s), 1);
    row("device not ready", u"install"_s, "device-not-ready",
        MirvoError::message(u"Сначала разблокируйте iPhone и подтвердите доверие к Mac."_s), 0);
}

void tst_ToolService::failures()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, scenario);
    QFETCH(MirvoError, failure);
    qputenv("MIRVO_FAKE_SCENARIO", scenario);
    const QString destination = m_data->filePath(u"app.ipa"_s);
    const bool existing = scenario == "existing-destination";
    if (existing)
        writeFile(destination, "kept");
    Device device = m_readyDevice;
    device.ready = scenario != "device-not-ready";
    const QString tools = scenario == "no-tools" ? m_data->path() : m_fakesDirectory;

    const Failure error = mirvoErrorOf(
        [&] { perform(operation, ToolService(m_runner, ToolLocator(QStringList{tools})), device, {}); });
    QVERIFY(error);
    QCOMPARE(error->kind(), failure.kind());
    QVERIFY2(error->payload().contains(failure.payload()), qPrintable(error->payload()));
    QTEST(int(loggedCommands().size()), "launches");
    // A failed download leaves nothing behind and never touches a file that was there before.
    QCOMPARE(QFile::exists(destination), existing);
    QFile kept(destination);
    QCOMPARE(kept.open(QIODevice::ReadOnly) ? kept.readAll() : QByteArray(),
             existing ? "kept" : QByteArray());
}

void tst_ToolService::stopsAreCancellations_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<int>("launches");
    QTest::newRow("listing, during a lockdown query") << u"devices"_s << QByteArray("lockdown-stalled") << 2;
    QTest::newRow("download, once its files are written") << u"download"_s << QByteArray("stalled") << 1;
}

void tst_ToolService::stopsAreCancellations()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, scenario);
    QFETCH(int, launches);
    qputenv("MIRVO_FAKE_SCENARIO", scenario);
    // The stop comes while the stalled command runs; cleanup() checks that the download's files are gone.
    std::stop_source stop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (loggedCommands().size() == launches &&
            (operation != u"download"_s || !m_data->leftoverTemporaryFiles().isEmpty()))
            stop.request_stop();
    });
    poll.start(20);
    QVERIFY_THROWS_EXCEPTION(CancelledError, perform(operation, service(), m_readyDevice, stop.get_token()));
}

void tst_ToolService::installs_data()
{
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QString>("ipa");
    QTest::addColumn<Failure>("failure");

    QTest::newRow("error words inside longer words, capital extension")
        << QByteArray("install-noisy") << u"App.IPA"_s << Failure();
    QTest::newRow("error words in the file name") << QByteArray() << u"Fatal \"Error\".ipa"_s << Failure();
    QTest::newRow("failed line with exit status 0")
        << QByteArray("install-failed-exit-zero") << u"app.ipa"_s
        << Failure(MirvoError::commandFailed(
               u"iOS не приняла подпись IPA. Нужен оригинальный пакет с лицензией вашего Apple ID."_s));
    QTest::newRow("folder named .ipa")
        << QByteArray() << u"folder.ipa/"_s << Failure(MirvoError::message(emptyIPA));
    QTest::newRow("other extension") << QByteArray() << u"app.zip"_s
                                     << Failure(MirvoError::message(
                                            u"Выберите доступный файл с расширением .ipa."_s));
}

void tst_ToolService::installs()
{
    QFETCH(QByteArray, scenario);
    QFETCH(QString, ipa);
    qputenv("MIRVO_FAKE_SCENARIO", scenario);
    const QString path = writeIPA(ipa);
    QString output;
    std::mutex mutex;
    OutputHandler onOutput = [&](const QString& chunk) {
        const std::lock_guard lock(mutex);
        output += chunk;
    };
    QTEST(mirvoErrorOf([&] { test::awaitTask(service().install(path, m_readyDevice, onOutput, {})); }),
          "failure");
    // Only a file that passes as an IPA reaches go-ios, whose progress goes to onOutput.
    QCOMPARE(output.contains(u"percentComplete"_s), ipa.endsWith(u".ipa"_s, Qt::CaseInsensitive));
}

QTEST_GUILESS_MAIN(tst_ToolService)
#include "tst_toolservice.moc"
