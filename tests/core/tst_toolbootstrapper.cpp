// The tool bootstrapper over real HTTPS: the endpoints file makes a loopback server play the GitHub API and
// the download host, and the archives it serves are built here.
#include "ArchiveWriter.h"
#include "AwaitTask.h"
#include "CancelledError.h"
#include "Endpoints.h"
#include "LoopbackHttpServer.h"
#include "MirvoError.h"
#include "NetworkHttpClient.h"
#include "TemporaryDataDirectory.h"
#include "ToolBootstrapper.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

Q_DECLARE_METATYPE(mirvo::ToolPlatform)

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

using Route = LoopbackHttpServer::Route;
using Kind = ToolDownloadEvent::Kind;

const ToolPlatform macArm{u"macos"_s, u"arm64"_s};
const ToolPlatform macIntel{u"macos"_s, u"amd64"_s};
const ToolPlatform linuxAmd{u"linux"_s, u"amd64"_s};
const ToolPlatform linuxArm{u"linux"_s, u"arm64"_s};

const QString releaseNotReturned =
    u"GitHub не вернул выпуск инструмента. Проверьте подключение к интернету и повторите попытку."_s;
const QString releaseUnreadable = u"Не удалось прочитать выпуск инструмента на GitHub."_s;
const QString invalidAddress = u"GitHub вернул недопустимый адрес загрузки инструмента."_s;
const QString downloadFailed = u"Не удалось скачать выпуск инструмента с GitHub."_s;
const QString checksumMismatch =
    u"Контрольная сумма загруженного инструмента не совпадает. Попробуйте ещё раз позже."_s;

int modeOf(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

void writeExecutable(const QString& path, const QByteArray& contents)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    writeFile(path, contents);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

using Files = QList<std::pair<QByteArray, QByteArray>>; // names ending in "/" are directories

QByteArray tarGzip(const Files& files)
{
    QList<ArchiveWriter::TarEntry> entries;
    for (const auto& [name, content] : files)
        entries.append({.name = name, .content = content, .type = name.endsWith('/') ? '5' : '0'});
    return ArchiveWriter::gzip(ArchiveWriter::tar(entries));
}

QByteArray zip(const Files& files)
{
    QList<ArchiveWriter::ZipEntry> entries;
    for (const auto& [name, content] : files)
        entries.append({.name = name, .content = content});
    return ArchiveWriter::zip(entries).bytes;
}

QByteArray sha256Hex(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

QByteArray ipatoolProgram(const QString& version, const ToolPlatform& platform)
{
    return "#!/bin/sh\necho ipatool " + version.toUtf8() + ' ' + platform.system.toUtf8() + '-' +
           platform.architecture.toUtf8() + '\n';
}

QByteArray iosProgram(const QByteArray& build)
{
    return "#!/bin/sh\necho go-ios " + build + '\n';
}

// ipatool 2.3.1's archive for Apple silicon, as its release packs it.
QByteArray ipatoolArchive()
{
    return tarGzip({{"bin/ipatool-2.3.1-macos-arm64", ipatoolProgram(u"2.3.1"_s, macArm)}});
}

QStringList texts(const QList<ToolDownloadEvent>& events)
{
    QStringList result;
    for (const ToolDownloadEvent& event : events)
        result.append(event.text());
    return result;
}

QStringList allEvents(const QString& name)
{
    return {u"Ищем выпуск "_s + name + u"…"_s, u"Скачиваем "_s + name + u"…"_s,
            u"Подготавливаем "_s + name + u"…"_s, name + u" готов"_s};
}

} // namespace

class tst_ToolBootstrapper : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void currentPlatform();
    void nothingToDo();
    void directoryIsCreatedFirst();
    void installs_data();
    void installs();
    void goIOSChoice_data();
    void goIOSChoice();
    void refusals_data();
    void refusals();
    void failedInstallationKeepsThePreviousExecutable_data();
    void failedInstallationKeepsThePreviousExecutable();
    void checksums_data();
    void checksums();
    void releaseList();
    void releaseListFailures_data();
    void releaseListFailures();
    void stopEndsTheInstallation();

private:
    struct Outcome {
        QStringList installed;
        QString error; // empty when it succeeded
        QList<ToolDownloadEvent> events;
    };

    Outcome install(bool force, const ToolPlatform& platform = macArm,
                    std::optional<QString> release = std::nullopt);
    QByteArray path(const QString& name) const;
    QJsonObject asset(const QString& name, const QUrl& url) const;
    QJsonObject servedAsset(const QString& name, const QByteArray& body);
    void serveRelease(const QString& repository, const QByteArray& suffix, const QJsonArray& assets,
                      int status = 200);
    // A release of ipatool with the archives of every platform; with their checksum files when asked.
    QJsonArray ipatoolAssets(const QString& version, bool checksums);
    QJsonArray goIOSAssets();
    QStringList targetsSinceStart() const;
    QString tools(const QString& name = {}) const { return QDir(m_tools).filePath(name); }
    QStringList toolsEntries() const
    {
        return QDir(m_tools).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    void serve(bool goIOS, const QJsonArray& assets, const QByteArray& suffix = "/releases/latest")
    {
        const Endpoints& in = Endpoints::current();
        serveRelease(goIOS ? in.goIOSRepository : in.ipatoolRepository, suffix, assets);
    }
    static QString latest(bool goIOS)
    {
        return goIOS ? u"/api/repos/danielpaulus/go-ios/releases/latest"_s
                     : u"/api/repos/majd/ipatool/releases/latest"_s;
    }
    // Assets of these names, each serving a body that is no archive.
    QJsonArray dummyAssets(const QStringList& names)
    {
        QJsonArray assets;
        for (const QString& name : names)
            assets.append(servedAsset(name, "archive"));
        return assets;
    }

    QTemporaryDir m_endpointsDir;
    LoopbackHttpServer m_server{LoopbackHttpServer::Scheme::Https};
    std::shared_ptr<NetworkHttpClient> m_http;
    std::unique_ptr<TemporaryDataDirectory> m_dir;
    QString m_tools;
    qsizetype m_firstRequest = 0;
    int m_round = 0;
};

void tst_ToolBootstrapper::initTestCase()
{
    QVERIFY(m_server.isListening());
    const QJsonObject endpoints{
        {u"gitHubApi"_s, u"https://127.0.0.1:%1/api"_s.arg(m_server.port())},
        {u"gitHubWebHost"_s, u"127.0.0.1"_s},
        {u"extraCertificateAuthorities"_s, LoopbackHttpServer::certificateAuthorityPath()}};
    const QString file = m_endpointsDir.filePath(u"endpoints.json"_s);
    writeFile(file, QJsonDocument(endpoints).toJson());
    // Read once per process, so before anything asks for the endpoints.
    qputenv("MIRVO_ENDPOINTS", file.toUtf8());
    QCOMPARE(Endpoints::loadError(), QString());
    QCOMPARE(Endpoints::current().gitHubWebHost, u"127.0.0.1"_s);
    m_http = std::make_shared<NetworkHttpClient>(LoopbackHttpServer::certificateAuthorityPath());
}

void tst_ToolBootstrapper::init()
{
    m_dir = std::make_unique<TemporaryDataDirectory>();
    m_tools = m_dir->filePath(u"Mirvo/Tools"_s);
    m_firstRequest = m_server.requests().size();
    ++m_round;
    // Every test serves its own releases; none of an earlier test's answers stays in force.
    serveRelease(Endpoints::current().ipatoolRepository, "/releases/latest", {}, 404);
    serveRelease(Endpoints::current().goIOSRepository, "/releases/latest", {}, 404);
}

void tst_ToolBootstrapper::cleanup()
{
    QCOMPARE(m_dir->leftoverTemporaryFiles(), QStringList());
    m_dir.reset();
}

tst_ToolBootstrapper::Outcome tst_ToolBootstrapper::install(bool force, const ToolPlatform& platform,
                                                            std::optional<QString> release)
{
    Outcome outcome;
    const ToolBootstrapper bootstrapper(m_tools, m_http, platform);
    auto record = [&outcome](const ToolDownloadEvent& event) { outcome.events.append(event); };
    try {
        outcome.installed = awaitTask(bootstrapper.installMissing(force, record, std::move(release)), 30000);
    } catch (const MirvoError& error) {
        outcome.error = error.errorDescription();
    }
    return outcome;
}

QByteArray tst_ToolBootstrapper::path(const QString& name) const
{
    return "/dl/" + QByteArray::number(m_round) + '/' + name.toUtf8();
}

QJsonObject tst_ToolBootstrapper::asset(const QString& name, const QUrl& url) const
{
    return {{u"name"_s, name},
            {u"size"_s, 1234},
            {u"browser_download_url"_s, url.toString()},
            {u"content_type"_s, u"application/octet-stream"_s}};
}

QJsonObject tst_ToolBootstrapper::servedAsset(const QString& name, const QByteArray& body)
{
    m_server.setRoute(path(name), Route::answering(200, body));
    return asset(name, m_server.url(QString::fromUtf8(path(name))));
}

void tst_ToolBootstrapper::serveRelease(const QString& repository, const QByteArray& suffix,
                                        const QJsonArray& assets, int status)
{
    const QJsonObject release{{u"tag_name"_s, u"v1.0.0"_s}, {u"draft"_s, false}, {u"assets"_s, assets}};
    m_server.setRoute("/api/repos/" + repository.toUtf8() + suffix,
                      Route::answering(status, QJsonDocument(release).toJson()));
}

QJsonArray tst_ToolBootstrapper::ipatoolAssets(const QString& version, bool checksums)
{
    QJsonArray assets;
    for (const QString& system : {u"macos"_s, u"linux"_s, u"windows"_s}) {
        for (const QString& architecture : {u"arm64"_s, u"amd64"_s}) {
            const QString build = system + u'-' + architecture;
            const QString name = u"ipatool-"_s + version + u'-' + build + u".tar.gz"_s;
            const QByteArray suffix = system == u"windows"_s ? ".exe" : "";
            const QByteArray archive =
                tarGzip({{"bin/", {}},
                         {"bin/ipatool-" + version.toUtf8() + '-' + build.toUtf8() + suffix,
                          ipatoolProgram(version, {system, architecture})}});
            assets.append(servedAsset(name, archive));
            if (checksums)
                assets.append(
                    servedAsset(name + u".sha256sum"_s, sha256Hex(archive) + "  " + name.toUtf8() + '\n'));
        }
    }
    return assets;
}

QJsonArray tst_ToolBootstrapper::goIOSAssets()
{
    return {servedAsset(u"go-ios-linux.zip"_s, zip({{"ios-amd64", iosProgram("linux-amd64")},
                                                    {"ios-arm64", iosProgram("linux-arm64")}})),
            servedAsset(u"go-ios-mac.zip"_s, zip({{"ios", iosProgram("mac")}})),
            servedAsset(u"go-ios-win.zip"_s, zip({{"ios.exe", iosProgram("windows")}}))};
}

QStringList tst_ToolBootstrapper::targetsSinceStart() const
{
    QStringList targets;
    const QList<LoopbackHttpServer::Request> requests = m_server.requests();
    for (qsizetype i = m_firstRequest; i < requests.size(); ++i)
        targets.append(QString::fromUtf8(requests.at(i).target));
    return targets;
}

void tst_ToolBootstrapper::currentPlatform()
{
#if defined(Q_OS_LINUX) && defined(Q_PROCESSOR_X86_64)
    QCOMPARE(ToolPlatform::current(), linuxAmd);
#elif defined(Q_OS_LINUX) && defined(Q_PROCESSOR_ARM_64)
    QCOMPARE(ToolPlatform::current(), linuxArm);
#elif defined(Q_OS_MACOS) && defined(Q_PROCESSOR_ARM_64)
    QCOMPARE(ToolPlatform::current(), macArm);
#endif
}

void tst_ToolBootstrapper::nothingToDo()
{
    writeExecutable(tools(u"ipatool"_s), "old ipatool");
    writeExecutable(tools(u"ios"_s), "old ios");
    const Outcome outcome = install(false);
    QCOMPARE(outcome.error, QString());
    QCOMPARE(outcome.installed, QStringList());
    QVERIFY(outcome.events.isEmpty());
    QCOMPARE(targetsSinceStart(), QStringList());
    QCOMPARE(readFile(tools(u"ipatool"_s)), "old ipatool"_ba);
}

void tst_ToolBootstrapper::directoryIsCreatedFirst()
{
    QVERIFY(!QFileInfo::exists(m_tools));
    // The release cannot be had, yet the directory is there, private, before anything was asked.
    const Outcome outcome = install(false);
    QCOMPARE(outcome.error, releaseNotReturned);
    QCOMPARE(modeOf(m_tools), 0700);
    QCOMPARE(modeOf(m_dir->filePath(u"Mirvo"_s)), 0700);
    QCOMPARE(toolsEntries(), QStringList());
    QCOMPARE(texts(outcome.events), QStringList{u"Ищем выпуск IPATool…"_s});
    // go-ios is not tried after ipatool failed.
    QCOMPARE(targetsSinceStart(), QStringList{latest(false)});
}

void tst_ToolBootstrapper::installs_data()
{
    QTest::addColumn<ToolPlatform>("platform");
    QTest::addColumn<bool>("force"); // with both tools there; only ipatool is replaced
    QTest::addColumn<bool>("iosThere");
    QTest::addColumn<QString>("tag"); // empty for the latest release
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("checksums");
    QTest::newRow("Apple silicon") << macArm << false << false << QString() << u"2.3.1"_s << true;
    QTest::newRow("Intel Mac") << macIntel << false << false << QString() << u"2.3.1"_s << true;
    QTest::newRow("Linux arm64") << linuxArm << false << false << QString() << u"2.3.1"_s << true;
    QTest::newRow("Linux amd64, go-ios there, release without checksums")
        << linuxAmd << false << true << QString() << u"2.3.0"_s << false;
    QTest::newRow("forced, go-ios left alone") << macArm << true << true << QString() << u"2.4.0"_s << true;
    QTest::newRow("older release by tag") << linuxArm << true << true << u"v2.1.4"_s << u"2.1.4"_s << true;
}

void tst_ToolBootstrapper::installs()
{
    QFETCH(ToolPlatform, platform);
    QFETCH(bool, force);
    QFETCH(bool, iosThere);
    QFETCH(QString, tag);
    QFETCH(QString, version);
    QFETCH(bool, checksums);
    const QByteArray releasePath =
        tag.isEmpty() ? "/releases/latest"_ba : "/releases/tags/"_ba + tag.toUtf8();
    if (!tag.isEmpty())
        serve(false, ipatoolAssets(u"2.3.1"_s, true));
    serve(false, ipatoolAssets(version, checksums), releasePath);
    serve(true, goIOSAssets());
    if (force)
        writeExecutable(tools(u"ipatool"_s), "old ipatool");
    if (iosThere)
        writeExecutable(tools(u"ios"_s), "old ios");

    const Outcome outcome = install(force, platform, tag.isEmpty() ? std::nullopt : std::optional(tag));
    QCOMPARE(outcome.error, QString());
    QCOMPARE(outcome.installed,
             QStringList{u"ipatool"_s} + (iosThere ? QStringList() : QStringList{u"ios"_s}));
    QCOMPARE(texts(outcome.events),
             allEvents(u"IPATool"_s) + (iosThere ? QStringList() : allEvents(u"go-ios"_s)));
    QCOMPARE(outcome.events.first(), (ToolDownloadEvent{Kind::Resolving, u"IPATool"_s}));
    const QByteArray iosBuild = platform.isMac() ? "mac"_ba : "linux-"_ba + platform.architecture.toUtf8();
    QCOMPARE(readFile(tools(u"ipatool"_s)), ipatoolProgram(version, platform));
    QCOMPARE(readFile(tools(u"ios"_s)), iosThere ? "old ios"_ba : iosProgram(iosBuild));
    QCOMPARE(modeOf(tools(u"ipatool"_s)), 0700);
    QCOMPARE(modeOf(tools(u"ios"_s)), 0700);
    QCOMPARE(toolsEntries(), (QStringList{u"ios"_s, u"ipatool"_s}));

    const QString archive =
        u"ipatool-"_s + version + u'-' + platform.system + u'-' + platform.architecture + u".tar.gz"_s;
    QStringList expected{u"/api/repos/majd/ipatool"_s + QString::fromUtf8(releasePath)};
    if (checksums)
        expected.append(QString::fromUtf8(path(archive + u".sha256sum"_s)));
    expected.append(QString::fromUtf8(path(archive)));
    if (!iosThere)
        expected << latest(true)
                 << QString::fromUtf8(path(platform.isMac() ? u"go-ios-mac.zip"_s : u"go-ios-linux.zip"_s));
    QCOMPARE(targetsSinceStart(), expected);
    for (const LoopbackHttpServer::Request& request : m_server.requests().mid(m_firstRequest)) {
        QCOMPARE(request.method, "GET"_ba);
        QCOMPARE(request.header("User-Agent"), "Mirvo"_ba);
        QCOMPARE(request.header("Authorization"), QByteArray());
        const bool api = request.target.startsWith("/api/");
        QCOMPARE(request.header("Accept"), api ? "application/vnd.github+json"_ba : QByteArray());
    }
}

void tst_ToolBootstrapper::goIOSChoice_data()
{
    QTest::addColumn<ToolPlatform>("platform");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("exact Mac name, case-sensitive, listed later")
        << macArm << QStringList{u"GO-IOS-MAC.ZIP"_s, u"go-ios-mac-universal.zip"_s, u"go-ios-mac.zip"_s}
        << u"go-ios-mac.zip"_s;
    QTest::newRow("Mac name in any case")
        << macIntel << QStringList{u"go-ios-linux.zip"_s, u"Go-iOS-MacOS.zip"_s} << u"Go-iOS-MacOS.zip"_s;
    QTest::newRow("exact Linux name listed later")
        << linuxAmd << QStringList{u"go-ios-linux-old.zip"_s, u"go-ios-mac.zip"_s, u"go-ios-linux.zip"_s}
        << u"go-ios-linux.zip"_s;
    QTest::newRow("Linux name loosely")
        << linuxArm << QStringList{u"go-ios-mac.zip"_s, u"go-ios-linux.tar.gz"_s, u"go-ios_Linux_v1.zip"_s}
        << u"go-ios_Linux_v1.zip"_s;
}

void tst_ToolBootstrapper::goIOSChoice()
{
    QFETCH(ToolPlatform, platform);
    QFETCH(QStringList, names);
    QFETCH(QString, chosen);
    writeExecutable(tools(u"ipatool"_s), "ipatool");
    QJsonArray assets;
    for (const QString& name : std::as_const(names)) {
        // Every archive holds every executable, each naming its archive, so the published one tells which.
        const QByteArray program = iosProgram(name.toUtf8());
        assets.append(
            servedAsset(name, zip({{"ios", program}, {"ios-amd64", program}, {"ios-arm64", program}})));
    }
    serve(true, assets);
    const Outcome outcome = install(false, platform);
    QCOMPARE(outcome.error, QString());
    QCOMPARE(outcome.installed, QStringList{u"ios"_s});
    QCOMPARE(readFile(tools(u"ios"_s)), iosProgram(chosen.toUtf8()));
    QCOMPARE(targetsSinceStart(), (QStringList{latest(true), QString::fromUtf8(path(chosen))}));
}

// Releases refused before anything is downloaded: nothing changes on disk and only `requested` is asked.
void tst_ToolBootstrapper::refusals_data()
{
    QTest::addColumn<bool>("goIOS");
    QTest::addColumn<ToolPlatform>("platform");
    QTest::addColumn<QString>("tag");       // the chosen ipatool release; empty for the latest
    QTest::addColumn<QString>("requested"); // the release's path, served with `body`; empty for none
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("events");
    const QString ipatool = latest(false);
    const QString goIOS = latest(true);
    const QString tags = u"/api/repos/majd/ipatool/releases/tags/"_s;
    const auto release = [](const QStringList& names, const QString& address = u"https://127.0.0.1/dl/x"_s) {
        QJsonArray assets;
        for (const QString& name : names)
            assets.append(QJsonObject{{u"name"_s, name}, {u"browser_download_url"_s, address}});
        return QJsonDocument(QJsonObject{{u"assets"_s, assets}}).toJson();
    };
    const auto row = [](const char* name, bool goIOS, const ToolPlatform& platform, const QString& tag,
                        const QString& requested, int status, const QByteArray& body, const QString& message,
                        int events) {
        QTest::newRow(name) << goIOS << platform << tag << requested << status << body << message << events;
    };
    const auto failed = [&](const char* name, int status, const QByteArray& body, const QString& message) {
        row(name, false, macArm, {}, ipatool, status, body, message, 1);
    };

    failed("404", 404, "{\"message\":\"Not Found\"}", releaseNotReturned);
    failed("not JSON", 200, "<html>", releaseUnreadable);
    failed("an array", 200, "[]", releaseUnreadable);
    failed("no assets", 200, "{\"tag_name\":\"v2.3.1\"}", releaseUnreadable);
    failed("assets not a list", 200, "{\"assets\":{}}", releaseUnreadable);
    failed("asset without an address", 200, "{\"assets\":[{\"name\":\"x\"}]}", releaseUnreadable);
    failed("address that is no address", 200,
           "{\"assets\":[{\"name\":\"x\",\"browser_download_url\":\"https://exa mple/ x\"}]}",
           releaseUnreadable);

    const QString noMacIPATool = u"В последнем выпуске IPATool нет файла для этого Mac."_s;
    const QString noIPATool = u"В последнем выпуске IPATool нет файла для этого компьютера."_s;
    row("Intel and zip builds only, on Apple silicon", false, macArm, {}, ipatool, 200,
        release({u"ipatool-2.3.1-macos-amd64.tar.gz"_s, u"ipatool-2.3.1-macos-arm64.zip"_s,
                 u"ipatool-2.3.1-macos-arm64.tar.gz.sha256sum"_s, u"tool-2.3.1-macos-arm64.tar.gz"_s}),
        noMacIPATool, 1);
    row("Mac builds only, on Linux", false, linuxAmd, {}, ipatool, 200,
        release({u"ipatool-2.3.1-macos-amd64.tar.gz"_s, u"ipatool-2.3.1-linux-arm64.tar.gz"_s}), noIPATool,
        1);
    row("empty release", false, linuxArm, {}, ipatool, 200, release({}), noIPATool, 1);
    row("go-ios without a Mac file", true, macArm, {}, goIOS, 200,
        release({u"go-ios-linux.zip"_s, u"go-ios-win.zip"_s, u"go-ios-mac.tar.gz"_s}),
        u"В последнем выпуске go-ios нет macOS-файла."_s, 1);
    row("go-ios without a Linux file", true, linuxAmd, {}, goIOS, 200,
        release({u"go-ios-mac.zip"_s, u"go-ios-win.zip"_s}), u"В последнем выпуске go-ios нет Linux-файла."_s,
        1);
    row("go-ios on a processor it has no build for", true, ToolPlatform{u"linux"_s, u"riscv64"_s}, {}, goIOS,
        200, release({u"go-ios-linux.zip"_s}),
        u"В последнем выпуске go-ios нет файла для этого компьютера."_s, 1);

    // Refused before anything was fetched, even over the allowed address of the other file.
    const QString good = u"https://127.0.0.1:%1/dl/x"_s.arg(m_server.port());
    const auto addresses = [&](const QString& archive, const QString& checksum) {
        QJsonArray assets{QJsonObject{{u"name"_s, u"ipatool-2.3.1-macos-arm64.tar.gz"_s},
                                      {u"browser_download_url"_s, archive}},
                          QJsonObject{{u"name"_s, u"ipatool-2.3.1-macos-arm64.tar.gz.sha256sum"_s},
                                      {u"browser_download_url"_s, checksum}}};
        return QJsonDocument(QJsonObject{{u"assets"_s, assets}}).toJson();
    };
    row("ipatool over http", false, macArm, {}, ipatool, 200,
        addresses(u"http://127.0.0.1:%1/dl/x"_s.arg(m_server.port()), good), invalidAddress, 2);
    row("ipatool on another host", false, macArm, {}, ipatool, 200,
        addresses(u"https://localhost:%1/dl/x"_s.arg(m_server.port()), good), invalidAddress, 2);
    row("ipatool relative", false, macArm, {}, ipatool, 200, addresses(u"/dl/x"_s, good), invalidAddress, 2);
    row("ipatool checksum on another host", false, macArm, {}, ipatool, 200,
        addresses(good, u"https://localhost:%1/dl/x"_s.arg(m_server.port())), invalidAddress, 2);
    row("go-ios on another loopback address", true, macArm, {}, goIOS, 200,
        release({u"go-ios-mac.zip"_s}, u"https://127.0.0.2:%1/dl/x"_s.arg(m_server.port())), invalidAddress,
        2);

    // A chosen release; the latest would do, the chosen one is what counts.
    row("chosen, no Mac file", false, macArm, u"v2.0.0"_s, tags + u"v2.0.0"_s, 200,
        release({u"ipatool-2.0.0-windows-amd64.tar.gz"_s}),
        u"В выбранном выпуске IPATool нет файла для этого Mac."_s, 1);
    row("chosen, unknown tag", false, macArm, u"v9.9.9"_s, tags + u"v9.9.9"_s, 404, "{}", releaseNotReturned,
        1);
    row("chosen, tag of dots", false, macArm, u".."_s, QString(), 404, {},
        u"Не удалось составить адрес выпуска инструмента."_s, 1);
    // A tag is one path segment, however it is spelt.
    row("chosen, tag with a slash", false, macArm, u"../latest"_s, tags + u"..%2Flatest"_s, 404, "{}",
        releaseNotReturned, 1);
}

void tst_ToolBootstrapper::refusals()
{
    QFETCH(bool, goIOS);
    QFETCH(ToolPlatform, platform);
    QFETCH(QString, tag);
    QFETCH(QString, requested);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    QFETCH(int, events);
    if (!tag.isEmpty())
        serve(false, ipatoolAssets(u"2.3.1"_s, false));
    if (!requested.isEmpty())
        m_server.setRoute(requested.toUtf8(), Route::answering(status, body));
    // go-ios is tried alone with ipatool there; ipatool is forced.
    writeExecutable(tools(u"ipatool"_s), "old ipatool");

    const Outcome outcome = install(!goIOS, platform, tag.isEmpty() ? std::nullopt : std::optional(tag));
    QCOMPARE(outcome.error, message);
    QCOMPARE(texts(outcome.events), allEvents(goIOS ? u"go-ios"_s : u"IPATool"_s).mid(0, events));
    QCOMPARE(targetsSinceStart(), requested.isEmpty() ? QStringList() : QStringList{requested});
    QCOMPARE(readFile(tools(u"ipatool"_s)), "old ipatool"_ba);
    QCOMPARE(modeOf(tools(u"ipatool"_s)), 0700);
    QCOMPARE(toolsEntries(), QStringList{u"ipatool"_s});
}

void tst_ToolBootstrapper::failedInstallationKeepsThePreviousExecutable_data()
{
    QTest::addColumn<bool>("goIOS");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("announcedLength");
    QTest::addColumn<int>("events");
    QTest::addColumn<QString>("message");
    const QByteArray tar = ipatoolArchive();
    QTest::newRow("ipatool 404") << false << 404 << tar << qint64(-1) << 2 << downloadFailed;
    QTest::newRow("ipatool empty") << false << 200 << QByteArray() << qint64(-1) << 2 << downloadFailed;
    QTest::newRow("ipatool over 100 MiB")
        << false << 200 << tar << qint64(ToolBootstrapper::maximumDownloadBytes + 1) << 2 << downloadFailed;
    QTest::newRow("ipatool archive without the executable")
        << false << 200 << tarGzip({{"bin/README.md", "readme"}}) << qint64(-1) << 3
        << u"В архиве IPATool отсутствует исполняемый файл ipatool."_s;
    QTest::newRow("ipatool archive that is no gzip")
        << false << 200 << "not an archive at all"_ba << qint64(-1) << 3 << u"Архив IPATool повреждён."_s;
    QTest::newRow("ipatool empty executable")
        << false << 200 << tarGzip({{"bin/ipatool-2.3.1-macos-arm64", {}}}) << qint64(-1) << 3
        << u"Выпуск инструмента содержит недопустимый исполняемый файл."_s;
    QTest::newRow("go-ios executable in a folder")
        << true << 200 << zip({{"bin/ios", "x"}}) << qint64(-1) << 3
        << u"В архиве go-ios отсутствует исполняемый файл ios."_s;
}

void tst_ToolBootstrapper::failedInstallationKeepsThePreviousExecutable()
{
    QFETCH(bool, goIOS);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(qint64, announcedLength);
    QFETCH(int, events);
    QFETCH(QString, message);
    const QString name = goIOS ? u"go-ios-mac.zip"_s : u"ipatool-2.3.1-macos-arm64.tar.gz"_s;
    Route route = Route::answering(status, body);
    if (announcedLength >= 0)
        route.contentLength = announcedLength;
    m_server.setRoute(path(name), route);
    serve(goIOS, {asset(name, m_server.url(QString::fromUtf8(path(name))))});
    writeExecutable(tools(u"ipatool"_s), "old ipatool");
    // An ios that cannot be run counts as missing, and is what stays after go-ios failed.
    writeFile(tools(u"ios"_s), "old ios");
    QVERIFY(QFile::setPermissions(tools(u"ios"_s), QFile::ReadOwner | QFile::WriteOwner));

    const Outcome outcome = install(!goIOS);
    QCOMPARE(outcome.error, message);
    QCOMPARE(texts(outcome.events), allEvents(goIOS ? u"go-ios"_s : u"IPATool"_s).mid(0, events));
    QCOMPARE(readFile(tools(u"ipatool"_s)), "old ipatool"_ba);
    QCOMPARE(modeOf(tools(u"ipatool"_s)), 0700);
    QCOMPARE(readFile(tools(u"ios"_s)), "old ios"_ba);
    QCOMPARE(modeOf(tools(u"ios"_s)), 0600);
}

void tst_ToolBootstrapper::checksums_data()
{
    QTest::addColumn<QByteArray>("checksumFile"); // %1 stands for the archive's digest, %2 for its name
    QTest::addColumn<int>("checksumStatus");
    QTest::addColumn<QString>("message");
    QTest::newRow("as sha256sum writes it") << "%1  %2\n"_ba << 200 << QString();
    QTest::newRow("upper-case digest, binary mark, directory") << "%U *dist/%2\r\n"_ba << 200 << QString();
    QTest::newRow("digest alone") << "%1\n"_ba << 200 << QString();
    QTest::newRow("one line among others") << "%0  other.tar.gz\n%1  %2\n"_ba << 200 << QString();
    QTest::newRow("another digest") << "%0  %2\n"_ba << 200 << checksumMismatch;
    QTest::newRow("another file") << "%1  ipatool-2.3.1-linux-amd64.tar.gz\n"_ba << 200 << checksumMismatch;
    QTest::newRow("short digest") << "abc123  %2\n"_ba << 200 << checksumMismatch;
    QTest::newRow("two bare digests") << "%1\n%1\n"_ba << 200 << checksumMismatch;
    QTest::newRow("checksum file missing") << "%1  %2\n"_ba << 404 << downloadFailed;
    QTest::newRow("checksum file empty") << ""_ba << 200 << downloadFailed;
    QTest::newRow("checksum file too large")
        << "%1  %2\n"_ba + QByteArray(5000, '\n') << 200 << downloadFailed;
}

void tst_ToolBootstrapper::checksums()
{
    QFETCH(QByteArray, checksumFile);
    QFETCH(int, checksumStatus);
    QFETCH(QString, message);
    const QString name = u"ipatool-2.3.1-macos-arm64.tar.gz"_s;
    const QByteArray archive = ipatoolArchive();
    const QByteArray digest = sha256Hex(archive);
    checksumFile.replace("%0", sha256Hex("something else"))
        .replace("%1", digest)
        .replace("%U", digest.toUpper())
        .replace("%2", name.toUtf8());
    const QString checksumName = name + u".sha256sum"_s;
    m_server.setRoute(path(checksumName), Route::answering(checksumStatus, checksumFile));
    // Listed before the archive.
    serve(false, {asset(checksumName, m_server.url(QString::fromUtf8(path(checksumName)))),
                  servedAsset(name, archive)});
    writeExecutable(tools(u"ipatool"_s), "old ipatool");
    writeExecutable(tools(u"ios"_s), "old ios");

    const Outcome outcome = install(true);
    QCOMPARE(outcome.error, message);
    if (message.isEmpty()) {
        QCOMPARE(outcome.installed, QStringList{u"ipatool"_s});
        QCOMPARE(readFile(tools(u"ipatool"_s)), ipatoolProgram(u"2.3.1"_s, macArm));
        QCOMPARE(texts(outcome.events), allEvents(u"IPATool"_s));
    } else {
        QCOMPARE(readFile(tools(u"ipatool"_s)), "old ipatool"_ba);
        QCOMPARE(modeOf(tools(u"ipatool"_s)), 0700);
    }
    QCOMPARE(targetsSinceStart().mid(0, 2),
             (QStringList{latest(false), QString::fromUtf8(path(checksumName))}));
}

void tst_ToolBootstrapper::releaseList()
{
    QJsonArray releases;
    QList<ToolRelease> expected;
    for (int i = 0; i < 10; ++i) {
        const QString version = u"2.%1.0"_s.arg(9 - i);
        const QDateTime published(QDate(2026, 10 - i, 3), QTime(12, i, 5), Qt::UTC);
        const QString name = u"ipatool-"_s + version + u"-macos-arm64.tar.gz"_s;
        const QUrl url(u"https://127.0.0.1/majd/ipatool/releases/download/v"_s + version + u'/' + name);
        releases.append(QJsonObject{{u"tag_name"_s, QString(u"v"_s + version)},
                                    {u"name"_s, version},
                                    {u"prerelease"_s, false},
                                    {u"published_at"_s, published.toString(Qt::ISODate)},
                                    {u"assets"_s, QJsonArray{asset(name, url)}}});
        expected.append(ToolRelease{u"v"_s + version, version, published, {ReleaseAsset{name, url}}});
    }
    m_server.setRoute("/api/repos/majd/ipatool/releases?per_page=10",
                      Route::answering(200, QJsonDocument(releases).toJson()));
    const ToolBootstrapper bootstrapper(m_tools, m_http, macArm);
    const QList<ToolRelease> listed = awaitTask(bootstrapper.ipatoolReleases());
    QCOMPARE(listed, expected);
    QCOMPARE(targetsSinceStart(), QStringList{u"/api/repos/majd/ipatool/releases?per_page=10"_s});
    QCOMPARE(m_server.requests().constLast().header("Accept"), "application/vnd.github+json"_ba);
    // Listing installs nothing.
    QVERIFY(!QFileInfo::exists(m_tools));
}

void tst_ToolBootstrapper::releaseListFailures_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("tags");
    QTest::newRow("404") << 404 << "{}"_ba << releaseNotReturned << QStringList();
    QTest::newRow("an object") << 200 << "{\"assets\":[]}"_ba << releaseUnreadable << QStringList();
    QTest::newRow("no tag") << 200 << "[{\"published_at\":null,\"assets\":[]}]"_ba << releaseUnreadable
                            << QStringList();
    QTest::newRow("unreadable date")
        << 200 << "[{\"tag_name\":\"v1\",\"published_at\":\"yesterday\",\"assets\":[]}]"_ba
        << releaseUnreadable << QStringList();
    QTest::newRow("draft without a date, tag without v")
        << 200 << "[{\"tag_name\":\"2.0\",\"published_at\":null,\"assets\":[]}]"_ba << QString()
        << QStringList{u"2.0"_s};
    QTest::newRow("none") << 200 << "[]"_ba << QString() << QStringList();
}

void tst_ToolBootstrapper::releaseListFailures()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    QFETCH(QStringList, tags);
    m_server.setRoute("/api/repos/majd/ipatool/releases?per_page=10", Route::answering(status, body));
    const ToolBootstrapper bootstrapper(m_tools, m_http, macArm);
    QString error;
    QList<ToolRelease> listed;
    try {
        listed = awaitTask(bootstrapper.ipatoolReleases());
    } catch (const MirvoError& failure) {
        error = failure.errorDescription();
    }
    QCOMPARE(error, message);
    QStringList listedTags;
    for (const ToolRelease& release : std::as_const(listed)) {
        listedTags.append(release.tag);
        QCOMPARE(release.version, u"2.0"_s);
        QVERIFY(!release.publishedAt.isValid());
    }
    QCOMPARE(listedTags, tags);
}

void tst_ToolBootstrapper::stopEndsTheInstallation()
{
    serve(false, ipatoolAssets(u"2.3.1"_s, false));
    Route slow = Route::answering(200, tarGzip({{"bin/ipatool-2.3.1-macos-arm64", "x"}}));
    slow.delayMs = 5000;
    m_server.setRoute(path(u"ipatool-2.3.1-macos-arm64.tar.gz"_s), slow);
    writeExecutable(tools(u"ipatool"_s), "old ipatool");

    std::stop_source stop;
    QList<ToolDownloadEvent> events;
    const ToolBootstrapper bootstrapper(m_tools, m_http, macArm);
    auto record = [this, &events, &stop](const ToolDownloadEvent& event) {
        events.append(event);
        // Stopped while the archive is on its way.
        if (event.kind == Kind::Downloading)
            QTimer::singleShot(100, this, [&stop] { stop.request_stop(); });
    };
    QVERIFY_THROWS_EXCEPTION(
        CancelledError, awaitTask(bootstrapper.installMissing(true, record, std::nullopt, stop.get_token())));
    QCOMPARE(texts(events), allEvents(u"IPATool"_s).mid(0, 2));
    QCOMPARE(readFile(tools(u"ipatool"_s)), "old ipatool"_ba);
}

QTEST_GUILESS_MAIN(tst_ToolBootstrapper)
#include "tst_toolbootstrapper.moc"
