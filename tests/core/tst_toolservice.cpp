#include "CancelledError.h"
#include "LocalStore.h"
#include "MirvoError.h"
#include "OutputParser.h"
#include "ProcessRunner.h"
#include "SystemError.h"
#include "ToolService.h"

#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "TemporaryDataDirectory.h"

#include <QDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <semaphore>

#include <unistd.h>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString emptyIPA = u"message: IPA пустой или недоступен для чтения."_s;
const QString noDeviceList =
    u"message: go-ios не вернул список устройств. Разблокируйте iPhone и подтвердите доверие к Mac."_s;
#ifdef Q_OS_LINUX
const QString usbmuxdDown =
    u"command failed: Служба usbmuxd не запущена. Установите пакет usbmuxd и подключите iPhone заново."_s;
#else
const QString usbmuxdDown = u"command failed: dial unix"_s;
#endif
const QString jane = u"00008110-000A1B2C3D4E801E"_s; // the fake's first iPhone

// How `action` ends: "<kind of MirvoError>: <its text>", "system: <the SystemError's text>", "cancelled",
// or nothing when it succeeds.
QString outcomeOf(const std::function<void()>& action)
{
    static const QStringList kinds{u"message"_s, u"missing tool"_s, u"command failed"_s, u"timed out"_s};
    try {
        action();
    } catch (const CancelledError&) {
        return u"cancelled"_s;
    } catch (const MirvoError& error) {
        return kinds.at(int(error.kind())) + u": "_s + error.payload();
    } catch (const SystemError& error) {
        return u"system: "_s + error.description();
    }
    return {};
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
    void init()
    {
        m_data = std::make_unique<TemporaryDataDirectory>();
        for (const char* name : {"MIRVO_FAKE_SCENARIO", "MIRVO_FAKE_DEVICES", "MIRVO_FAKE_FAIL_IDS",
                                 "MIRVO_FAKE_STALL_IDS", "MIRVO_FAKE_ERROR", "MIRVO_FAKE_STOREFRONT_BUNDLES"})
            qunsetenv(name);
        qputenv("MIRVO_FAKE_LOG", QFile::encodeName(m_data->filePath(u"fake-commands.log"_s)));
    }

    void cleanup()
    {
        QCOMPARE(waitForNoChildProcesses(), QList<pid_t>{});
        QCOMPARE(m_data->leftoverTemporaryFiles(), QStringList{});
    }

    void parsesDevices_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QList<Device>>("devices");
        QTest::addColumn<QString>("error");
        const auto row = [](const char* name, const QString& output, const QList<Device>& devices,
                            const QString& error = {}) { QTest::newRow(name) << output << devices << error; };
        const auto listed = [](const QString& elements) -> QString {
            return u"{\"deviceList\":["_s + elements + u"]}"_s;
        };

        row("empty list", listed({}), {});
        row("only the last object counts",
            listed(uR"({"Udid":"old"})"_s) + u"\nWARN {\"level\":\"WARN\"}\n"_s +
                listed(
                    uR"({"Udid":"A","DeviceName":" Jane ","ConnectionType":"USB","ProductVersion":" 17.5 "})"_s),
            {{u"A"_s, u"Jane"_s, u" 17.5 "_s, true, DeviceTransport::Usb}});
        row("the last object lacks the list", listed(uR"({"Udid":"A"})"_s) + u"\n{}"_s, {}, noDeviceList);
        row("an element is no object", listed(uR"({"Udid":"A"},"B")"_s), {}, noDeviceList);
        row("error object", uR"({"error":"could not start lockdown session"})"_s, {},
            u"command failed: Разблокируйте iPhone, подтвердите «Доверять этому компьютеру» и подключите его заново."_s);
        row("Udid missing, blank, no string or padded",
            listed(uR"({"DeviceName":"x"},{"Udid":"  \n"},{"Udid":5},{"Udid":" B \n"})"_s),
            {{u"B"_s, u"iPhone"_s, {}, true, DeviceTransport::Unknown}});
        row("the USB entry kept, where it stands",
            listed(uR"({"Udid":"A","ConnectionType":"Network","DeviceName":"Air"},{"Udid":"B"},)"
                   uR"({"Udid":"A","ConnectionType":"USB","DeviceName":"Cable"},)"
                   uR"({"Udid":"A","ConnectionType":"Network"},{"Udid":"B","ConnectionType":"Network"})"_s),
            {{u"B"_s, u"iPhone"_s, {}, true, DeviceTransport::Unknown},
             {u"A"_s, u"Cable"_s, {}, true, DeviceTransport::Usb}});
        row("names and transports",
            listed(
                uR"({"Udid":"1","ProductName":" iPhone OS ","ProductType":"iPhone14,5","ConnectionType":"usb"},)"
                uR"({"Udid":"2","DeviceName":"  ","ProductType":"iPhone12,1","ConnectionType":" NetWork "},)"
                uR"({"Udid":"3","ProductName":"","DeviceName":7,"ConnectionType":"WiFi"})"_s),
            {{u"1"_s, u"iPhone OS \u00B7 iPhone14,5"_s, {}, true, DeviceTransport::Usb},
             {u"2"_s, u"iPhone12,1"_s, {}, true, DeviceTransport::Network},
             {u"3"_s, u"iPhone"_s, {}, true, DeviceTransport::Unknown}});
    }

    void parsesDevices()
    {
        QFETCH(QString, output);
        QList<Device> devices;
        QTEST(outcomeOf([&] { devices = ToolService::parseDevices(output); }), "error");
        QTEST(devices, "devices");
    }

    void listsDevices_data()
    {
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QByteArray>("fixture"); // the fake's devices, if not its own
        QTest::addColumn<QList<Device>>("devices");
        QTest::addColumn<QStringList>("commands");
        const QString lockdown = u"ios --udid=%1 info lockdown"_s;

        QTest::newRow("lockdown refines; a locked phone stays listed")
            << QByteArray() << QByteArray(R"([
                {"Udid": "0001", "ProductName": "iPhone OS", "ConnectionType": "USB", "ProductVersion": "17.0",
                 "lockdown": {"Outer": {"Inner": [{"Other": 1}, {"DeviceName": " Nested "}]},
                              "ProductVersion": "17.1"}},
                {"Udid": "0002", "DeviceName": "Locked", "ConnectionType": "network", "ProductVersion": "16.0",
                 "locked": true}])")
            << QList<Device>{{u"0001"_s, u"Nested"_s, u"17.1"_s, true, DeviceTransport::Usb},
                             {u"0002"_s, u"Locked"_s, u"16.0"_s, false, DeviceTransport::Network}}
            << QStringList{u"ios list --details"_s, lockdown.arg(u"0001"_s), lockdown.arg(u"0002"_s)};
        QTest::newRow("the phone over the network is the one on USB")
            << QByteArray("several-devices") << QByteArray()
            << QList<Device>{{jane, u"Jane's iPhone"_s, u"17.5.1"_s, true, DeviceTransport::Usb},
                             {u"00008030-001C4D5E6F70802E"_s, u"Work iPhone"_s, u"17.5.1"_s, true,
                              DeviceTransport::Usb}}
            << QStringList{u"ios list --details"_s, lockdown.arg(jane),
                           lockdown.arg(u"00008030-001C4D5E6F70802E"_s)};
        QTest::newRow("an untrusting phone beside a good one")
            << QByteArray("untrusting-phone") << QByteArray()
            << QList<Device>{{jane, u"Jane's iPhone"_s, u"17.5.1"_s, true, DeviceTransport::Unknown},
                             {u"00008101-000E2D4F6A8C001E"_s,
                              u"iPhone"_s,
                              {},
                              false,
                              DeviceTransport::Unknown}}
            << QStringList{u"ios list --details"_s, u"ios list"_s, lockdown.arg(jane),
                           lockdown.arg(u"00008101-000E2D4F6A8C001E"_s)};
    }

    void listsDevices()
    {
        QFETCH(QByteArray, scenario);
        QFETCH(QByteArray, fixture);
        qputenv("MIRVO_FAKE_SCENARIO", scenario);
        if (!fixture.isEmpty()) {
            const QString path = m_data->filePath(u"devices.json"_s);
            writeFile(path, fixture);
            qputenv("MIRVO_FAKE_DEVICES", QFile::encodeName(path));
        }
        QTEST(awaitTask(ToolService(m_runner, fakes()).devices({}), 20000), "devices");
        QTEST(loggedCommands(), "commands");
    }

    void downloadReportsSizesUpToTheFinalOne()
    {
        // ipatool writes a side file while it works. The first report to measure that is held until ipatool
        // is done, so only a report made after that can carry the finished file's size.
        std::binary_semaphore measured{0};
        std::binary_semaphore toolDone{0};
        std::atomic<qint64> lastSize = -1;
        const ToolService::BytesHandler onBytes = [&](qint64 bytes) {
            lastSize = bytes;
            if (bytes == 500) {
                measured.release();
                toolDone.acquire();
            }
        };
        bool measuredWhileGrowing = false;
        RecordingRunner runner;
        runner.download = [&](const QString& path) {
            writeFile(path + u".tmp"_s, QByteArray(500, 'x'));
            measuredWhileGrowing = measured.try_acquire_for(std::chrono::seconds(10));
            writeFile(path, QByteArray(12345, 'x'));
            toolDone.release();
        };
        const QString destination = m_data->filePath(u"app.ipa"_s);

        awaitTask(ToolService(runner, fakes())
                      .download(AppIdentifier::storeID(u"1"_s), destination, {}, onBytes, {}));
        QVERIFY(measuredWhileGrowing);
        QCOMPARE(lastSize.load(), 12345);
        QCOMPARE(QFileInfo(destination).size(), 12345);
    }

    void commandLinesAndTimeLimits_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("commands"); // DATA stands for the test's directory
        QTest::addColumn<QString>("result");

        const auto row = [](const char* operation, const QStringList& commands, const QString& result = {}) {
            QTest::newRow(operation) << QString::fromUtf8(operation) << commands << result;
        };

        row("devices", {u"ios list --details | 20"_s, u"ios --udid=0001 info lockdown | 10"_s});
        row("account", {u"ipatool auth info --format json --non-interactive | 20"_s}, u"jane@example.com"_s);
        row("logout", {u"ipatool auth revoke --format json --non-interactive | 20"_s});
        row("download",
            {u"ipatool download --app-id 1 --output DATA/.UUID.partial.ipa --format json | 1800"_s});
        row("install", {u"ios install --path=DATA/app.ipa --udid=0001 | 900"_s});
    }

    void commandLinesAndTimeLimits()
    {
        QFETCH(QString, operation);
        RecordingRunner runner;
        const QString package = m_data->filePath(u"app.ipa"_s);
        writeFile(package, "PK\x03\x04 an app");

        const QString result =
            perform(ToolService(runner, fakes()), operation, package, device(u"0001"_s), {}, {});
        static const QRegularExpression partialName(
            u"\\.[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.partial\\.ipa"_s);
        QStringList commands = runner.commands;
        for (QString& command : commands)
            command.replace(m_data->path(), u"DATA"_s).replace(partialName, u".UUID.partial.ipa"_s);
        QTEST(commands, "commands");
        QTEST(result, "result");
    }

    void outcomes_data()
    {
        // Besides the fakes' own scenarios, the test sets up "no-tools" (an empty tools folder),
        // "existing-destination", "destination-appears" (once the download has written to its files) and
        // "device-not-ready". A row that ends "cancelled" is stopped while its `launches`th command runs and,
        // for a download, once that has written to its files.
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QByteArray>("scenario");
        QTest::addColumn<QString>("outcome"); // as outcomeOf() gives it, but with only some of the text
        QTest::addColumn<int>("launches");
        QTest::addColumn<QString>("ipa"); // the installed file; "/" at the end makes it a folder
        const auto row = [](const char* name, const char* operation, const char* scenario,
                            const QString& outcome, int launches, const char* ipa = "app.ipa") {
            QTest::newRow(name) << QString::fromUtf8(operation) << QByteArray(scenario) << outcome << launches
                                << QString::fromUtf8(ipa);
        };

        row("usbmuxd not running, devices", "devices", "no-usbmuxd", usbmuxdDown, 2);
        row("listing stopped during a lockdown query", "devices", "lockdown-stalled", u"cancelled"_s, 2);
        row("ios missing", "devices", "no-tools", u"missing tool: ios"_s, 0);
        row("signed out, account", "account", "signed-out", u"command failed: failed to get account"_s, 1);
        row("signed out already, logout succeeds", "logout", "signed-out", QString(), 1);
        row("ipatool missing", "download", "no-tools", u"missing tool: ipatool"_s, 0);
        row("destination exists", "download", "existing-destination",
            u"message: Файл уже существует. Используйте сохранённый IPA или удалите его для повторного скачивания."_s,
            0);
        row("destination appears while downloading", "download", "slow-progress,destination-appears",
            u"system: Файл уже существует."_s, 1);
        row("empty IPA", "download", "empty-ipa", emptyIPA, 1);
        row("licence required", "download", "license-required",
            u"command failed: Apple не разрешает скачать это приложение"_s, 1);
        row("Apple answers 500", "download", "apple-500",
            u"command failed: Серверы Apple сейчас не отвечают."_s, 1);
        row("download stopped", "download", "slow-progress", u"cancelled"_s, 1);
        row("download stopped, SIGTERM ignored", "download", "stalled,ignore-sigterm", u"cancelled"_s, 1);
        row("iPhone unplugged, its words in the file name", "install", "no-devices",
            u"command failed: iPhone отключён. Подключите его кабелем и повторите попытку."_s, 1,
            "trust, license, not found.ipa");
        row("install fails", "install", "install-failure",
            u"command failed: iOS не приняла подпись IPA. Нужен оригинальный пакет с лицензией вашего Apple ID."_s,
            1);
        row("device not ready", "install", "device-not-ready",
            u"message: Сначала разблокируйте iPhone и подтвердите доверие к Mac."_s, 0);
        row("error words inside longer words, capital extension", "install", "install-noisy", {}, 1,
            "App.IPA");
        row("error words in the file name", "install", "", {}, 1, "Fatal \"Error\".ipa");
        row("error words in a file name that Go escapes", "install", "", {}, 1, "R&D failed.ipa");
        row("failed line with exit status 0", "install", "install-failed-exit-zero",
            u"command failed: iOS не приняла подпись IPA. Нужен оригинальный пакет с лицензией вашего Apple ID."_s,
            1);
        row("folder named .ipa", "install", "", emptyIPA, 0, "folder.ipa/");
        row("other extension", "install", "", u"message: Выберите доступный файл с расширением .ipa."_s, 0,
            "app.zip");
    }

    void outcomes()
    {
        QFETCH(QString, operation);
        QFETCH(QByteArray, scenario);
        QFETCH(QString, outcome);
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
        Device device = this->device(jane);
        device.ready = scenario != "device-not-ready";
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
        if (outcome == u"cancelled"_s || appears)
            poll.start(20);
        QString output; // read once the task has ended, so after the last call
        const OutputHandler onOutput = [&output](const QString& chunk) { output += chunk; };
        const QString actual =
            outcomeOf([&] { perform(tools, operation, package, device, onOutput, stop.get_token()); });

        // The kind must match; the text need only hold the expected words.
        const QString kind = outcome.section(u": "_s, 0, 0);
        QCOMPARE(actual.section(u": "_s, 0, 0), kind);
        QVERIFY2(actual.contains(outcome.mid(kind.size() + 2)), qPrintable(actual));
        QCOMPARE(int(loggedCommands().size()), launches);
        // Downloads and installs pass the tool's output on as it comes.
        if (operation == u"download"_s || operation == u"install"_s)
            QCOMPARE(output.isEmpty(), launches == 0);
        // A download that fails leaves nothing behind and never touches a file that was there before.
        QCOMPARE(readFile(destination),
                 existing || appears ? std::optional<QByteArray>("kept") : std::nullopt);
    }

    void downloadsByBundleID_data()
    {
        QTest::addColumn<QByteArray>("storefront"); // MIRVO_FAKE_STOREFRONT_BUNDLES; "unset" leaves it out
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<QString>("outcome");

        const QString notFound =
            u"command failed: Apple не вернула приложение. Проверьте ID, регион аккаунта и "
            u"доступность повторной загрузки."_s;
        QTest::newRow("the storefront offers other apps")
            << QByteArray("com.example.kept,com.example.other") << u"com.example.gone"_s << notFound;
        QTest::newRow("the storefront offers it")
            << QByteArray("com.example.kept, com.example.gone") << u"com.example.gone"_s << QString();
    }

    void downloadsByBundleID()
    {
        QFETCH(QByteArray, storefront);
        QFETCH(QString, identifier);
        if (storefront != "unset")
            qputenv("MIRVO_FAKE_STOREFRONT_BUNDLES", storefront);
        const auto restore = qScopeGuard([] { qunsetenv("MIRVO_FAKE_STOREFRONT_BUNDLES"); });
        const QString destination = m_data->filePath(u"app.ipa"_s);
        const AppIdentifier app = AppIdentifier::bundleID(identifier);

        QString output;
        const OutputHandler onOutput = [&output](const QString& chunk) { output += chunk; };
        const QString outcome = outcomeOf([&] {
            awaitTask(ToolService(m_runner, fakes()).download(app, destination, onOutput, {}, {}), 20000);
        });
        QTEST(outcome, "outcome");
        QCOMPARE(QFile::exists(destination), outcome.isEmpty());
        // The lookup comes before the progress bar.
        QCOMPARE(output.contains(u"downloading"_s), outcome.isEmpty());
        QCOMPARE(loggedCommands().size(), 1);
        QVERIFY(loggedCommands().constFirst().contains(app.arguments().join(u' ')));
    }

    void installReportsNoProgressWhileSending()
    {
        // A percentage in the IPA's name, which go-ios echoes before it sends the app.
        const QString package = m_data->filePath(u"50% off.ipa"_s);
        writeFile(package, "PK\x03\x04 an app");
        QString output;
        const OutputHandler onOutput = [&output](const QString& chunk) { output += chunk; };
        awaitTask(ToolService(m_runner, fakes()).install(package, device(jane), onOutput, {}), 20000);

        const qsizetype first = output.indexOf(u"percentComplete"_s);
        QVERIFY(first > 0);
        const QString sending = output.left(output.lastIndexOf(u'\n', first) + 1);
        QVERIFY(sending.contains(u"50% off.ipa"_s));
        QCOMPARE(OutputParser::progress(sending), std::nullopt);
        const QString firstPercentage = output.left(output.indexOf(u'\n', first) + 1);
        QCOMPARE(OutputParser::progress(firstPercentage), 0.05);
    }

    void installStoppedWhileSending()
    {
        qputenv("MIRVO_FAKE_SCENARIO", "silent-send");
        qputenv("MIRVO_FAKE_SEND_MS", "60000");
        const auto restore = qScopeGuard([] { qunsetenv("MIRVO_FAKE_SEND_MS"); });
        const QString package = m_data->filePath(u"app.ipa"_s);
        writeFile(package, "PK\x03\x04 an app");

        std::stop_source stop;
        QString output; // written on the runner's thread until the stop has ended the install
        std::mutex lock;
        const OutputHandler onOutput = [&](const QString& chunk) {
            std::lock_guard guard(lock);
            output += chunk;
        };
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            std::lock_guard guard(lock);
            if (output.contains(u"appPath"_s))
                stop.request_stop();
        });
        poll.start(20);
        QCOMPARE(
            outcomeOf([&] {
                awaitTask(
                    ToolService(m_runner, fakes()).install(package, device(jane), onOutput, stop.get_token()),
                    20000);
            }),
            u"cancelled"_s);
        QVERIFY(!output.contains(u"percentComplete"_s));
        QCOMPARE(OutputParser::progress(output), std::nullopt);
    }

    void destinationCheckedBeforeIpatoolRuns_data()
    {
        QTest::addColumn<QString>("destination"); // below the test's directory
        QTest::addColumn<QString>("outcome");     // as outcomeOf() gives it; DATA stands for the directory

        const QString ya = u"я"_s;
        QTest::newRow("name of 256 bytes")
            << ya.repeated(126) + u".ipa"_s
            << u"message: Имя файла IPA длиннее 255 байт: "_s + ya.repeated(126) + u".ipa."_s;
        QTest::newRow("name of 255 bytes") << ya.repeated(125) + u"a.ipa"_s << QString();
        QTest::newRow("missing folder")
            << u"Missing/App.ipa"_s << u"message: Папка для IPA не найдена: DATA/Missing."_s;
        QTest::newRow("a file in place of the folder")
            << u"file/App.ipa"_s << u"message: Путь для IPA ведёт не к папке: DATA/file."_s;
        QTest::newRow("unwritable folder")
            << u"locked/App.ipa"_s << u"message: Нет прав на запись в папку для IPA: DATA/locked."_s;
        QTest::newRow("a dangling link in place of the file")
            << u"dangling.ipa"_s
            << u"message: Файл уже существует. Используйте сохранённый IPA или удалите его для повторного "
               u"скачивания."_s;
        QTest::newRow("no file name")
            << u"Missing/"_s << u"message: Недопустимое имя файла IPA: DATA/Missing/."_s;
    }

    void destinationCheckedBeforeIpatoolRuns()
    {
        QFETCH(QString, destination);
        QFETCH(QString, outcome);
        if (destination.startsWith(u"locked/"_s) && ::geteuid() == 0)
            QSKIP("root writes into any folder");
        writeFile(m_data->filePath(u"file"_s), "not a folder");
        QVERIFY(QDir().mkpath(m_data->filePath(u"locked"_s)));
        QVERIFY(QFile::setPermissions(m_data->filePath(u"locked"_s), QFile::ReadOwner | QFile::ExeOwner));
        const auto unlock = qScopeGuard([this] {
            QFile::setPermissions(m_data->filePath(u"locked"_s),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });
        QVERIFY(QFile::link(m_data->filePath(u"nowhere"_s), m_data->filePath(u"dangling.ipa"_s)));
        const QString path = m_data->path() + u'/' + destination;

        QString actual = outcomeOf([&] {
            awaitTask(
                ToolService(m_runner, fakes()).download(AppIdentifier::storeID(u"1"_s), path, {}, {}, {}),
                20000);
        });
        QCOMPARE(actual.replace(m_data->path(), u"DATA"_s), outcome);
        QCOMPARE(loggedCommands().size(), outcome.isEmpty() ? 1 : 0);
        QCOMPARE(QFileInfo(path).isFile(), outcome.isEmpty());
    }

    void storeNamesStayInPackages()
    {
        // Names as a catalog may carry them, downloaded one after another by real ipatool runs.
        const LocalStore store(m_data->filePath(u"Mirvo"_s));
        const QString exists = u"message: Файл уже существует."_s;
        const QString ya = u"я"_s;
        const QList<std::pair<QString, QString>> apps{
            {u"../../../escaped"_s, QString()},
            {u"\\:*?\"<>|"_s, QString()},
            {QString(), QString()},
            {u"Банк: Онлайн/2"_s, QString()},
            {u"Банк/ Онлайн:2"_s, QString()}, // the same file name as the one before
            {ya.repeated(300), u" \u2014 42"_s},
            {ya.repeated(300) + u"!"_s, u" \u2014 42"_s}, // the same shortened name as the one before
        };
        const QStringList expected{u"ok"_s, u"ok"_s, u"ok"_s, u"ok"_s, exists, u"ok"_s, exists};
        const QString packages = QDir(store.packagesPath()).canonicalPath();
        QStringList outcomes;
        QStringList written;
        for (const auto& [name, suffix] : apps) {
            const QString destination = store.destination(name, suffix);
            QCOMPARE(QDir(QFileInfo(destination).absolutePath()).canonicalPath(), packages);
            const std::optional<QByteArray> before = readFile(destination);
            const QString outcome = outcomeOf([&] {
                awaitTask(ToolService(m_runner, fakes())
                              .download(AppIdentifier::storeID(u"1"_s), destination, {}, {}, {}),
                          20000);
            });
            outcomes.append(outcome.isEmpty() ? u"ok"_s : outcome.left(exists.size()));
            if (outcome.isEmpty())
                written.append(QFileInfo(destination).fileName());
            else
                QCOMPARE(readFile(destination), before); // never replaced
        }
        QCOMPARE(outcomes, expected);
        // A refused download never started ipatool, and nothing lands outside Packages.
        QCOMPARE(loggedCommands().size(), int(written.size()));
        QStringList inPackages =
            QDir(packages).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        inPackages.sort();
        written.sort();
        QCOMPARE(inPackages, written);
        QCOMPARE(QDir(m_data->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{u"fake-commands.log"_s, u"Mirvo"_s}));
        // Names that start with a dot make hidden files, which would pass for leftovers.
        for (const QString& name : std::as_const(written))
            QVERIFY(QFile::remove(packages + u'/' + name));
    }

private:
    ToolLocator fakes() const { return ToolLocator(QStringList{m_fakesDirectory}); }
    static Device device(const QString& id) { return {id, u"Jane"_s, {}, true, DeviceTransport::Usb}; }

    QStringList loggedCommands() const
    {
        return QString::fromUtf8(readFile(m_data->filePath(u"fake-commands.log"_s)).value_or(QByteArray()))
            .split(u'\n', Qt::SkipEmptyParts);
    }

    // Runs `operation` ("devices", "account", "logout", "download" to downloaded.ipa, or "install" of
    // `package`) to its end; returns the account it reads, if any.
    QString perform(const ToolService& tools, const QString& operation, const QString& package,
                    const Device& device, const OutputHandler& onOutput, std::stop_token stop) const
    {
        if (operation == u"devices"_s)
            awaitTask(tools.devices(stop), 20000);
        else if (operation == u"account"_s)
            return awaitTask(tools.account(stop));
        else if (operation == u"logout"_s)
            awaitTask(tools.logout(stop));
        else if (operation == u"download"_s)
            awaitTask(tools.download(AppIdentifier::storeID(u"1"_s), m_data->filePath(u"downloaded.ipa"_s),
                                     onOutput, {}, stop),
                      20000);
        else
            awaitTask(tools.install(package, device, onOutput, stop), 20000);
        return {};
    }

    std::shared_ptr<ProcessRunner> m_runner = std::make_shared<ProcessRunner>();
    const QString m_fakesDirectory = qEnvironmentVariable("MIRVO_FAKES_DIR");
    std::unique_ptr<TemporaryDataDirectory> m_data;
};

QTEST_GUILESS_MAIN(tst_ToolService)
#include "tst_toolservice.moc"
