#include "CancelledError.h"
#include "MirvoError.h"
#include "ProcessRunner.h"
#include "SystemError.h"
#include "ToolService.h"

#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "TemporaryDataDirectory.h"

#include <QDir>
#include <QFile>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <semaphore>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

const char* const emptyIPA = "IPA пустой или недоступен для чтения.";
const char* const noDeviceList =
    "go-ios не вернул список устройств. Разблокируйте iPhone и подтвердите доверие к Mac.";

// How `action` ends: the kind of MirvoError with its text, "system" with the SystemError's text,
// "cancelled", or nothing when it succeeds.
std::pair<QString, QString> outcomeOf(const std::function<void()>& action)
{
    static const QStringList kinds{u"message"_s, u"missing tool"_s, u"command failed"_s, u"timed out"_s};
    try {
        action();
    } catch (const CancelledError&) {
        return {u"cancelled"_s, {}};
    } catch (const MirvoError& error) {
        return {kinds.at(int(error.kind())), error.payload()};
    } catch (const SystemError& error) {
        return {u"system"_s, error.description()};
    }
    return {};
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

struct Operation {
    QString name; // "devices", "account", "logout", "download" or "install"
    QString destination;
    QString package;
    Device device;
    OutputHandler onOutput;
    ToolService::BytesHandler onBytes;
};

void perform(const ToolService& tools, const Operation& operation, std::stop_token stop)
{
    if (operation.name == u"devices"_s)
        test::awaitTask(tools.devices(stop), 20000);
    else if (operation.name == u"account"_s)
        test::awaitTask(tools.account(stop));
    else if (operation.name == u"logout"_s)
        test::awaitTask(tools.logout(stop));
    else if (operation.name == u"download"_s)
        test::awaitTask(tools.download(AppIdentifier::storeID(u"1"_s), operation.destination,
                                       operation.onOutput, operation.onBytes, stop),
                        20000);
    else
        test::awaitTask(tools.install(operation.package, operation.device, operation.onOutput, stop), 20000);
}

// Runs nothing: records each command line with its time limit, as "<tool> <arguments> | <seconds>", and
// answers the way the tool would.
class RecordingRunner : public CommandRunning {
public:
    QCoro::Task<CommandResult> run(QString executable, QStringList arguments, double timeout, OutputHandler,
                                   std::stop_token) override
    {
        commands.append(QFileInfo(executable).fileName() + u' ' + arguments.join(u' ') + u" | "_s +
                        QString::number(timeout));
        QString output;
        if (arguments.value(0) == u"list"_s) {
            output = uR"({"deviceList":[{"Udid":"0001","DeviceName":"Jane"}]})"_s;
        } else if (arguments.value(0) == u"auth"_s && arguments.value(1) == u"info"_s) {
            output = uR"({"email":"jane@example.com","success":true})"_s;
        } else if (arguments.value(0) == u"download"_s) {
            download(arguments.value(arguments.indexOf(u"--output"_s) + 1));
            output = uR"({"success":true})"_s;
        }
        co_return CommandResult{0, output};
    }

    QStringList commands;
    // What ipatool does with the path given after "--output".
    std::function<void(const QString& path)> download = [](const QString& path) {
        writeFile(path, QByteArray(1000, 'x'));
    };
};

} // namespace

class tst_ToolService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void parsesDevices_data();
    void parsesDevices();
    void listsDevicesWithLockdownRefinement();
    void accountAndLogout();
    void downloadMeasuresAndMovesTheFile();
    void lastReportedSizeIsTheFinalOne();
    void commandLinesAndTimeLimits_data();
    void commandLinesAndTimeLimits();
    void outcomes_data();
    void outcomes();

private:
    ToolLocator fakes() const { return ToolLocator(QStringList{m_fakesDirectory}); }
    ToolService service() const { return ToolService(m_runner, fakes()); }
    QStringList loggedCommands() const;

    std::shared_ptr<ProcessRunner> m_runner = std::make_shared<ProcessRunner>();
    const QString m_fakesDirectory = qEnvironmentVariable("MIRVO_FAKES_DIR");
    std::unique_ptr<test::TemporaryDataDirectory> m_data;
};

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

void tst_ToolService::parsesDevices_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QList<Device>>("devices");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    const auto row = [](const char* name, const QString& output, const QList<Device>& devices,
                        const char* kind = "", const char* text = "") {
        QTest::newRow(name) << output << devices << QString::fromUtf8(kind) << QString::fromUtf8(text);
    };
    const auto listed = [](const QString& elements) -> QString {
        return u"{\"deviceList\":["_s + elements + u"]}"_s;
    };
    const auto unknown = DeviceTransport::Unknown;

    row("empty list", listed({}), {});
    row("only the last object counts",
        listed(uR"({"Udid":"old"})"_s) + u"\nWARN {\"level\":\"WARN\"}\n"_s +
            listed(
                uR"({"Udid":"A","DeviceName":" Jane ","ConnectionType":"USB","ProductVersion":" 17.5 "})"_s),
        {{u"A"_s, u"Jane"_s, u" 17.5 "_s, true, DeviceTransport::Usb}});
    row("the last object lacks the list", listed(uR"({"Udid":"A"})"_s) + u"\n{}"_s, {}, "message",
        noDeviceList);
    row("an element is no object", listed(uR"({"Udid":"A"},"B")"_s), {}, "message", noDeviceList);
    row("error object", uR"({"error":"could not start lockdown session"})"_s, {}, "command failed",
        "Разблокируйте iPhone, подтвердите «Доверять этому компьютеру» и подключите его заново.");
    row("Udid missing, blank, no string or padded",
        listed(uR"({"DeviceName":"x"},{"Udid":"  \n"},{"Udid":5},{"Udid":" B \n"})"_s),
        {{u"B"_s, u"iPhone"_s, {}, true, unknown}});
    row("names and transports",
        listed(
            uR"({"Udid":"1","ProductName":" iPhone OS ","ProductType":"iPhone14,5","ConnectionType":"usb"},)"
            uR"({"Udid":"2","DeviceName":"  ","ProductType":"iPhone12,1","ConnectionType":" NetWork "},)"
            uR"({"Udid":"3","ProductName":"","DeviceName":7,"ConnectionType":"WiFi"})"_s),
        {{u"1"_s, u"iPhone OS \u00B7 iPhone14,5"_s, {}, true, DeviceTransport::Usb},
         {u"2"_s, u"iPhone12,1"_s, {}, true, DeviceTransport::Network},
         {u"3"_s, u"iPhone"_s, {}, true, unknown}});
}

void tst_ToolService::parsesDevices()
{
    QFETCH(QString, output);
    QList<Device> devices;
    const auto [kind, text] = outcomeOf([&] { devices = ToolService::parseDevices(output); });
    QTEST(kind, "kind");
    QTEST(text, "text");
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

void tst_ToolService::downloadMeasuresAndMovesTheFile()
{
    qputenv("MIRVO_FAKE_SCENARIO", "slow-progress");
    const QString destination = m_data->filePath(u"app.ipa"_s);
    std::atomic<qint64> lastSize = 0;
    std::atomic<bool> measuredWhileGrowing = false;
    ToolService::BytesHandler onBytes = [&](qint64 bytes) {
        lastSize = bytes;
        measuredWhileGrowing = measuredWhileGrowing || (bytes > 0 && bytes < 1048576);
    };
    test::awaitTask(service().download(AppIdentifier::storeID(u"284910350"_s), destination, {}, onBytes, {}),
                    30000);
    QCOMPARE(QFileInfo(destination).size(), 1048576);
    QCOMPARE(lastSize, 1048576);
    QVERIFY(measuredWhileGrowing);
}

void tst_ToolService::lastReportedSizeIsTheFinalOne()
{
    // The size monitor's first report is held until ipatool is done, so only a report made after that can
    // carry the finished file's size.
    std::binary_semaphore reporting{0};
    std::binary_semaphore toolDone{0};
    std::atomic<int> reports = 0;
    std::atomic<qint64> lastSize = -1;
    const ToolService::BytesHandler onBytes = [&](qint64 bytes) {
        lastSize = bytes;
        if (reports++ == 0) {
            reporting.release();
            toolDone.acquire();
        }
    };
    bool reported = false;
    RecordingRunner runner;
    runner.download = [&](const QString& path) {
        reported = reporting.try_acquire_for(std::chrono::seconds(10));
        writeFile(path, QByteArray(12345, 'x'));
        toolDone.release();
    };
    const QString destination = m_data->filePath(u"app.ipa"_s);

    test::awaitTask(
        ToolService(runner, fakes()).download(AppIdentifier::storeID(u"1"_s), destination, {}, onBytes, {}));
    QVERIFY(reported);
    QCOMPARE(lastSize.load(), 12345);
    QCOMPARE(QFileInfo(destination).size(), 12345);
}

void tst_ToolService::commandLinesAndTimeLimits_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("commands"); // DATA stands for the test's directory

    QTest::newRow("devices") << u"devices"_s
                             << QStringList{u"ios list --details | 20"_s,
                                            u"ios --udid=0001 info lockdown | 10"_s};
    QTest::newRow("account") << u"account"_s
                             << QStringList{u"ipatool auth info --format json --non-interactive | 20"_s};
    QTest::newRow("logout") << u"logout"_s
                            << QStringList{u"ipatool auth revoke --format json --non-interactive | 20"_s};
    QTest::newRow("download")
        << u"download"_s
        << QStringList{u"ipatool download --app-id 1 --output DATA/.UUID.partial.ipa --format json | 1800"_s};
    QTest::newRow("install") << u"install"_s
                             << QStringList{u"ios install --path=DATA/app.ipa --udid=0001 | 900"_s};
}

void tst_ToolService::commandLinesAndTimeLimits()
{
    QFETCH(QString, operation);
    RecordingRunner runner;
    const QString package = m_data->filePath(u"app.ipa"_s);
    writeFile(package, "PK\x03\x04 an app");
    const Operation performed{operation, m_data->filePath(u"downloaded.ipa"_s),
                              package,   Device{u"0001"_s, u"Jane"_s, {}, true, DeviceTransport::Usb},
                              {},        {}};

    perform(ToolService(runner, fakes()), performed, {});
    static const QRegularExpression partialName(
        u"\\.[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.partial\\.ipa"_s);
    QStringList commands = runner.commands;
    for (QString& command : commands)
        command.replace(m_data->path(), u"DATA"_s).replace(partialName, u".UUID.partial.ipa"_s);
    QTEST(commands, "commands");
}

void tst_ToolService::outcomes_data()
{
    // Besides the fakes' own scenarios, the test sets up "no-tools" (an empty tools folder),
    // "existing-destination", "destination-appears" (once the download has written to its files) and
    // "device-not-ready". A row that ends "cancelled" is stopped while its `launches`th command runs and,
    // for a download, once that has written to its files.
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("scenario");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text"); // contained in the error's text
    QTest::addColumn<int>("launches");
    QTest::addColumn<QString>("ipa"); // the installed file; "/" at the end makes it a folder
    const auto row = [](const char* name, const char* operation, const char* scenario, const char* kind,
                        const char* text, int launches, const char* ipa = "app.ipa") {
        QTest::newRow(name) << QString::fromUtf8(operation) << QByteArray(scenario) << QString::fromUtf8(kind)
                            << QString::fromUtf8(text) << launches << QString::fromUtf8(ipa);
    };

    row("listing fails", "devices", "list-failure", "command failed", "failed getting values", 1);
    row("listing stopped during a lockdown query", "devices", "lockdown-stalled", "cancelled", "", 2);
    row("ios missing", "devices", "no-tools", "missing tool", "ios", 0);
    row("signed out, account", "account", "signed-out", "command failed", "failed to get account", 1);
    row("signed out, logout", "logout", "signed-out", "command failed", "failed to remove account", 1);
    row("ipatool missing", "download", "no-tools", "missing tool", "ipatool", 0);
    row("destination exists", "download", "existing-destination", "message",
        "Файл уже существует. Используйте сохранённый IPA или удалите его для повторного скачивания.", 0);
    row("destination appears while downloading", "download", "slow-progress,destination-appears", "system",
        "Файл уже существует.", 1);
    row("empty IPA", "download", "empty-ipa", "message", emptyIPA, 1);
    row("licence required", "download", "license-required", "command failed",
        "Apple не разрешает скачать это приложение", 1);
    row("download stopped", "download", "stalled", "cancelled", "", 1);
    row("device not ready", "install", "device-not-ready", "message",
        "Сначала разблокируйте iPhone и подтвердите доверие к Mac.", 0);
    row("error words inside longer words, capital extension", "install", "install-noisy", "", "", 1,
        "App.IPA");
    row("error words in the file name", "install", "", "", "", 1, "Fatal \"Error\".ipa");
    row("error words in a file name that Go escapes", "install", "", "", "", 1, "R&D failed.ipa");
    row("failed line with exit status 0", "install", "install-failed-exit-zero", "command failed",
        "iOS не приняла подпись IPA. Нужен оригинальный пакет с лицензией вашего Apple ID.", 1);
    row("folder named .ipa", "install", "", "message", emptyIPA, 0, "folder.ipa/");
    row("other extension", "install", "", "message", "Выберите доступный файл с расширением .ipa.", 0,
        "app.zip");
}

void tst_ToolService::outcomes()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, scenario);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(int, launches);
    QFETCH(QString, ipa);
    qputenv("MIRVO_FAKE_SCENARIO", scenario);
    const QString destination = m_data->filePath(u"downloaded.ipa"_s);
    const bool appears = scenario.contains("destination-appears");
    const bool existing = scenario == "existing-destination";
    if (existing)
        writeFile(destination, "kept");
    const QString package = m_data->filePath(ipa.endsWith(u'/') ? ipa.chopped(1) : ipa);
    if (ipa.endsWith(u'/'))
        QVERIFY(QDir().mkpath(package));
    else
        writeFile(package, "PK\x03\x04 an app");
    const Device device{u"00008110-000A1B2C3D4E801E"_s, u"Jane's iPhone"_s, u"17.5.1"_s,
                        scenario != "device-not-ready", DeviceTransport::Usb};
    const ToolService tools(
        m_runner, ToolLocator(QStringList{scenario == "no-tools" ? m_data->path() : m_fakesDirectory}));

    std::stop_source stop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (loggedCommands().size() != launches ||
            (operation == u"download"_s && m_data->leftoverTemporaryFiles().isEmpty()))
            return;
        if (!appears)
            stop.request_stop();
        else if (!QFile::exists(destination))
            writeFile(destination, "kept");
    });
    if (kind == u"cancelled"_s || appears)
        poll.start(20);
    QString output; // read once the task has ended, so after the last call
    const Operation performed{
        operation, destination, package, device, [&output](const QString& chunk) { output += chunk; }, {}};
    const auto [actualKind, actualText] = outcomeOf([&] { perform(tools, performed, stop.get_token()); });

    QCOMPARE(actualKind, kind);
    QVERIFY2(actualText.contains(text), qPrintable(actualText));
    QCOMPARE(int(loggedCommands().size()), launches);
    // Downloads and installs pass the tool's output on as it comes.
    if (operation == u"download"_s || operation == u"install"_s)
        QCOMPARE(output.isEmpty(), launches == 0);
    // A download that fails leaves nothing behind and never touches a file that was there before.
    QFile kept(destination);
    QCOMPARE(kept.open(QIODevice::ReadOnly) ? std::optional(kept.readAll()) : std::nullopt,
             existing || appears ? std::optional(QByteArray("kept")) : std::nullopt);
}

QTEST_GUILESS_MAIN(tst_ToolService)
#include "tst_toolservice.moc"
