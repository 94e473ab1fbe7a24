// Component readiness over real HTTPS: the endpoints file makes a loopback server play the GitHub API and
// its download host, serving releases whose archives hold the fake tools; the model installs them into
// Tools and asks them for their versions.
#include "AppModel.h"
#include "ArchiveWriter.h"
#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "Endpoints.h"
#include "LoopbackHttpServer.h"
#include "NetworkHttpClient.h"
#include "ProcessRunner.h"
#include "TestEnvironment.h"
#include "ToolBootstrapper.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

using Route = test::LoopbackHttpServer::Route;

QByteArray fakeTool(const QString& name)
{
    QFile file(qEnvironmentVariable("MIRVO_FAKES_DIR") + u'/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

} // namespace

class tst_ComponentsOverHttps : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void installsBothToolsAndReportsTheirVersions();
    void replacesAnOutdatedIPAToolAndReportsAFailure();
    void aChosenReleaseIsKeptAcrossARestart();

private:
    // Serves ipatool and go-ios releases for this computer; `checksum` is what the ipatool archive's
    // .sha256sum file holds (none when empty).
    void serveReleases(const QByteArray& checksum);
    QJsonObject servedAsset(const QString& name, const QByteArray& body);
    QByteArray serveRelease(const QString& repository, const QString& release, const QJsonArray& assets);
    // A model on a fresh data directory, or after a restart on the one before.
    std::unique_ptr<AppModel> newModel(bool restart = false);
    int requestsFor(const QByteArray& path) const;

    QTemporaryDir m_endpointsDir;
    test::LoopbackHttpServer m_server{test::LoopbackHttpServer::Scheme::Https};
    std::unique_ptr<test::TemporaryDataDirectory> m_dir;
    QByteArray m_ipatoolArchive;
    QString m_suffix = ToolPlatform::current().system + u'-' + ToolPlatform::current().architecture;
};

void tst_ComponentsOverHttps::initTestCase()
{
    QVERIFY(m_server.isListening());
    const QJsonObject endpoints{
        {u"gitHubApi"_s, u"https://127.0.0.1:%1/api"_s.arg(m_server.port())},
        {u"gitHubWebHost"_s, u"127.0.0.1"_s},
        {u"extraCertificateAuthorities"_s, test::LoopbackHttpServer::certificateAuthorityPath()}};
    const QString file = m_endpointsDir.filePath(u"endpoints.json"_s);
    test::writeFile(file, QJsonDocument(endpoints).toJson());
    qputenv("MIRVO_ENDPOINTS", file.toUtf8());
    QCOMPARE(Endpoints::loadError(), QString());
    QVERIFY(!fakeTool(u"ipatool"_s).isEmpty());
    m_ipatoolArchive = test::ArchiveWriter::gzip(test::ArchiveWriter::tar(
        {{.name = QString(u"bin/ipatool-2.3.2-"_s + m_suffix).toUtf8(), .content = fakeTool(u"ipatool"_s)}}));
}

void tst_ComponentsOverHttps::cleanup()
{
    qunsetenv("MIRVO_FAKE_VERSION");
    QTRY_COMPARE(test::liveChildProcesses(), QList<pid_t>{});
    m_dir.reset();
}

QJsonObject tst_ComponentsOverHttps::servedAsset(const QString& name, const QByteArray& body)
{
    m_server.setRoute("/dl/" + name.toUtf8(), Route::answering(200, body));
    return {{u"name"_s, name}, {u"browser_download_url"_s, m_server.url(u"/dl/"_s + name).toString()}};
}

QByteArray tst_ComponentsOverHttps::serveRelease(const QString& repository, const QString& release,
                                                 const QJsonArray& assets)
{
    const QByteArray path = (u"/api/repos/"_s + repository + u"/releases/"_s + release).toUtf8();
    m_server.setRoute(path,
                      Route::answering(200, QJsonDocument(QJsonObject{{u"assets"_s, assets}}).toJson()));
    return path;
}

void tst_ComponentsOverHttps::serveReleases(const QByteArray& checksum)
{
    const ToolPlatform platform = ToolPlatform::current();
    const QString ipatoolName = u"ipatool-2.3.2-"_s + m_suffix + u".tar.gz"_s;
    QJsonArray ipatoolAssets{servedAsset(ipatoolName, m_ipatoolArchive)};
    if (!checksum.isEmpty())
        ipatoolAssets.append(
            servedAsset(ipatoolName + u".sha256sum"_s, checksum + "  " + ipatoolName.toUtf8() + '\n'));
    serveRelease(Endpoints::current().ipatoolRepository, u"latest"_s, ipatoolAssets);

    const QByteArray entry = platform.isMac() ? "ios" : QString(u"ios-"_s + platform.architecture).toUtf8();
    const QByteArray goIOSArchive =
        test::ArchiveWriter::zip({{.name = entry, .content = fakeTool(u"ios"_s)}}).bytes;
    serveRelease(Endpoints::current().goIOSRepository, u"latest"_s,
                 {servedAsset(platform.isMac() ? u"go-ios-mac.zip"_s : u"go-ios-linux.zip"_s, goIOSArchive)});
}

std::unique_ptr<AppModel> tst_ComponentsOverHttps::newModel(bool restart)
{
    AppModelEnvironment environment;
    if (restart) {
        environment.dataRoot = m_dir->filePath(u"Mirvo"_s);
        environment.settings =
            std::make_shared<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
    } else {
        m_dir = std::make_unique<test::TemporaryDataDirectory>();
        environment = test::modelEnvironment(*m_dir);
    }
    environment.runner = std::make_shared<ProcessRunner>();
    environment.http = std::make_shared<NetworkHttpClient>();
    return std::make_unique<AppModel>(std::move(environment));
}

int tst_ComponentsOverHttps::requestsFor(const QByteArray& path) const
{
    int count = 0;
    for (const test::LoopbackHttpServer::Request& request : m_server.requests())
        count += request.target.startsWith(path) ? 1 : 0;
    return count;
}

void tst_ComponentsOverHttps::installsBothToolsAndReportsTheirVersions()
{
    // Verified against the published checksum.
    std::unique_ptr<AppModel> model = newModel();
    ComponentsState& components = *model->components();
    serveReleases(QCryptographicHash::hash(m_ipatoolArchive, QCryptographicHash::Sha256).toHex());
    QStringList stages;
    QObject context;
    connect(&components, &ComponentsState::stageChanged, &context,
            [&] { stages.append(components.stage()); });
    test::awaitTask(components.installMissingTools(), 30000);

    QCOMPARE(model->alert(), QString());
    QCOMPARE(stages, (QStringList{u"Подготавливаем компоненты"_s, u"Ищем выпуск IPATool…"_s,
                                  u"Скачиваем IPATool…"_s, u"Подготавливаем IPATool…"_s, u"IPATool готов"_s,
                                  u"Ищем выпуск go-ios…"_s, u"Скачиваем go-ios…"_s,
                                  u"Подготавливаем go-ios…"_s, u"go-ios готов"_s, u"Компоненты готовы"_s}));
    for (const QString& name : {u"ipatool"_s, u"ios"_s})
        QCOMPARE(modeOf(model->store()->toolsPath() + u'/' + name), mode_t(0700));
    QCOMPARE(QDir(model->store()->toolsPath()).entryList(QDir::Files | QDir::Hidden),
             (QStringList{u"ios"_s, u"ipatool"_s}));
    QCOMPARE(components.missingTools(), QStringList());
    QCOMPARE(components.versions().value(u"ipatool"_s), u"2.3.2"_s);
    QCOMPARE(components.versions().value(u"ios"_s), u"1.3.2"_s);
    QVERIFY(!components.ipatoolNeedsUpdate());
    QVERIFY(!components.installing());
}

void tst_ComponentsOverHttps::replacesAnOutdatedIPAToolAndReportsAFailure()
{
    serveReleases({});
    std::unique_ptr<AppModel> model = newModel();
    ComponentsState& components = *model->components();
    test::awaitTask(components.installMissingTools(), 30000);
    QCOMPARE(components.stage(), u"Компоненты готовы"_s);

    // The installed ipatool says it is 2.3.1: flagged, and replaced on the next install, go-ios untouched.
    qputenv("MIRVO_FAKE_VERSION", "2.3.1");
    test::awaitTask(components.refreshComponents(), 30000);
    QVERIFY(components.ipatoolNeedsUpdate());
    qunsetenv("MIRVO_FAKE_VERSION");
    const int ipatoolDownloads = requestsFor("/dl/ipatool");
    const int goIOSDownloads = requestsFor("/dl/go-ios");
    test::awaitTask(components.installMissingTools(), 30000);
    QCOMPARE(model->alert(), QString());
    QCOMPARE(requestsFor("/dl/ipatool"), ipatoolDownloads + 1);
    QCOMPARE(requestsFor("/dl/go-ios"), goIOSDownloads);
    QCOMPARE(components.stage(), u"Компоненты готовы"_s);
    QVERIFY(!components.ipatoolNeedsUpdate());

    // A failure after that success: the failure line and the alert, the tools as they were.
    m_server.setRoute("/api/repos/" + Endpoints::current().ipatoolRepository.toUtf8() + "/releases/latest",
                      Route::answering(404, "Not Found"));
    components.setIpatoolNeedsUpdate(true);
    test::awaitTask(components.installMissingTools(), 30000);
    QCOMPARE(components.stage(), u"Не удалось подготовить компоненты"_s);
    QCOMPARE(
        model->alert(),
        u"GitHub не вернул выпуск инструмента. Проверьте подключение к интернету и повторите попытку."_s);
    QCOMPARE(components.missingTools(), QStringList());
    QVERIFY(QFileInfo(model->store()->toolsPath() + u"/ipatool"_s).isExecutable());
}

void tst_ComponentsOverHttps::aChosenReleaseIsKeptAcrossARestart()
{
    serveReleases({});
    const QString older = u"ipatool-2.2.0-"_s + m_suffix + u".tar.gz"_s;
    const QByteArray tagPath = serveRelease(Endpoints::current().ipatoolRepository, u"tags/v2.2.0"_s,
                                            {servedAsset(older, m_ipatoolArchive)});

    std::unique_ptr<AppModel> model = newModel();
    test::awaitTask(model->components()->installMissingTools(), 30000);
    test::awaitTask(model->components()->chooseIPAToolRelease(u"v2.2.0"_s), 30000);
    QCOMPARE(model->alert(), QString());
    QCOMPARE(model->components()->chosenIPAToolRelease(), u"v2.2.0"_s);
    QCOMPARE(requestsFor(tagPath), 1);
    QCOMPARE(requestsFor("/dl/" + older.toUtf8()), 1);

    // After a restart nothing is fetched while the tools are there; a missing ipatool comes back as the
    // chosen release, not the latest.
    model = newModel(true);
    QCOMPARE(model->components()->chosenIPAToolRelease(), u"v2.2.0"_s);
    const qsizetype before = m_server.requests().size();
    test::awaitTask(model->components()->installMissingTools(), 30000);
    QCOMPARE(m_server.requests().size(), before);
    QVERIFY(QFile::remove(model->store()->toolsPath() + u"/ipatool"_s));
    test::awaitTask(model->components()->installMissingTools(), 30000);
    QCOMPARE(model->alert(), QString());
    QCOMPARE(requestsFor(tagPath), 2);
    QVERIFY(QFileInfo(model->store()->toolsPath() + u"/ipatool"_s).isExecutable());
}

QTEST_MAIN(tst_ComponentsOverHttps)
#include "tst_componentsoverhttps.moc"
