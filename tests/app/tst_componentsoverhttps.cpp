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
    std::unique_ptr<AppModel> newModel();
    int requestsFor(const QByteArray& path) const;

    QTemporaryDir m_endpointsDir;
    test::LoopbackHttpServer m_server{test::LoopbackHttpServer::Scheme::Https};
    std::unique_ptr<test::TemporaryDataDirectory> m_dir;
    QByteArray m_ipatoolArchive;
};

void tst_ComponentsOverHttps::initTestCase()
{
    QVERIFY(m_server.isListening());
    const QString base = u"https://127.0.0.1:%1"_s.arg(m_server.port());
    const QJsonObject endpoints{
        {u"gitHubApi"_s, QString(base + u"/api"_s)},
        {u"gitHubWebHost"_s, u"127.0.0.1"_s},
        {u"extraCertificateAuthorities"_s, test::LoopbackHttpServer::certificateAuthorityPath()}};
    QFile file(m_endpointsDir.filePath(u"endpoints.json"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(endpoints).toJson());
    file.close();
    qputenv("MIRVO_ENDPOINTS", file.fileName().toUtf8());
    QCOMPARE(Endpoints::loadError(), QString());
    QVERIFY(!fakeTool(u"ipatool"_s).isEmpty());
}

void tst_ComponentsOverHttps::cleanup()
{
    qunsetenv("MIRVO_FAKE_VERSION");
    QTRY_COMPARE(test::liveChildProcesses(), QList<pid_t>{});
    m_dir.reset();
}

void tst_ComponentsOverHttps::serveReleases(const QByteArray& checksum)
{
    const Endpoints& in = Endpoints::current();
    const ToolPlatform platform = ToolPlatform::current();
    const QString base = u"https://127.0.0.1:%1"_s.arg(m_server.port());
    const QString suffix = platform.system + u'-' + platform.architecture;

    const QString ipatoolName = u"ipatool-2.3.2-"_s + suffix + u".tar.gz"_s;
    m_ipatoolArchive = test::ArchiveWriter::gzip(test::ArchiveWriter::tar(
        {{.name = QString(u"bin/ipatool-2.3.2-"_s + suffix).toUtf8(), .content = fakeTool(u"ipatool"_s)}}));
    QJsonArray ipatoolAssets{QJsonObject{
        {u"name"_s, ipatoolName}, {u"browser_download_url"_s, QString(base + u"/dl/"_s + ipatoolName)}}};
    m_server.setRoute(QString(u"/dl/"_s + ipatoolName).toUtf8(), Route::answering(200, m_ipatoolArchive));
    if (!checksum.isEmpty()) {
        ipatoolAssets.append(QJsonObject{
            {u"name"_s, QString(ipatoolName + u".sha256sum"_s)},
            {u"browser_download_url"_s, QString(base + u"/dl/"_s + ipatoolName + u".sha256sum"_s)}});
        m_server.setRoute(QString(u"/dl/"_s + ipatoolName + u".sha256sum"_s).toUtf8(),
                          Route::answering(200, checksum + "  " + ipatoolName.toUtf8() + '\n'));
    }
    m_server.setRoute(
        QString(u"/api/repos/"_s + in.ipatoolRepository + u"/releases/latest"_s).toUtf8(),
        Route::answering(200, QJsonDocument(QJsonObject{{u"assets"_s, ipatoolAssets}}).toJson()));

    const QString goIOSName = platform.isMac() ? u"go-ios-mac.zip"_s : u"go-ios-linux.zip"_s;
    const QByteArray entry = platform.isMac() ? "ios" : QString(u"ios-"_s + platform.architecture).toUtf8();
    const QByteArray goIOSArchive =
        test::ArchiveWriter::zip({{.name = entry, .content = fakeTool(u"ios"_s)}}).bytes;
    m_server.setRoute(QString(u"/dl/"_s + goIOSName).toUtf8(), Route::answering(200, goIOSArchive));
    const QJsonArray goIOSAssets{QJsonObject{
        {u"name"_s, goIOSName}, {u"browser_download_url"_s, QString(base + u"/dl/"_s + goIOSName)}}};
    m_server.setRoute(QString(u"/api/repos/"_s + in.goIOSRepository + u"/releases/latest"_s).toUtf8(),
                      Route::answering(200, QJsonDocument(QJsonObject{{u"assets"_s, goIOSAssets}}).toJson()));
}

std::unique_ptr<AppModel> tst_ComponentsOverHttps::newModel()
{
    m_dir = std::make_unique<test::TemporaryDataDirectory>();
    AppModelEnvironment environment = test::modelEnvironment(*m_dir);
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
    serveReleases(QCryptographicHash::hash(test::ArchiveWriter::gzip(test::ArchiveWriter::tar({})),
                                           QCryptographicHash::Sha256)
                      .toHex());
    // The checksum above is of another archive: nothing is published, and the failure says why.
    std::unique_ptr<AppModel> model = newModel();
    ComponentsState& components = *model->components();
    test::awaitTask(components.installMissingTools(), 30000);
    QCOMPARE(model->alert(),
             u"Контрольная сумма загруженного инструмента не совпадает. Попробуйте ещё раз позже."_s);
    QCOMPARE(components.stage(), u"Не удалось подготовить компоненты"_s);
    QCOMPARE(components.missingTools(), (QStringList{u"ipatool"_s, u"ios"_s}));
    QVERIFY(!QFile::exists(model->store()->toolsPath() + u"/ipatool"_s));
    model->dismissAlert();

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
    m_server.setRoute(
        QString(u"/api/repos/"_s + Endpoints::current().ipatoolRepository + u"/releases/latest"_s).toUtf8(),
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
    const ToolPlatform platform = ToolPlatform::current();
    const QString base = u"https://127.0.0.1:%1"_s.arg(m_server.port());
    const QString older = u"ipatool-2.2.0-"_s + platform.system + u'-' + platform.architecture + u".tar.gz"_s;
    m_server.setRoute(QString(u"/dl/"_s + older).toUtf8(), Route::answering(200, m_ipatoolArchive));
    const QJsonObject release{{u"tag_name"_s, u"v2.2.0"_s},
                              {u"assets"_s, QJsonArray{QJsonObject{{u"name"_s, older},
                                                                   {u"browser_download_url"_s,
                                                                    QString(base + u"/dl/"_s + older)}}}}};
    const QByteArray tagPath =
        QString(u"/api/repos/"_s + Endpoints::current().ipatoolRepository + u"/releases/tags/v2.2.0"_s)
            .toUtf8();
    m_server.setRoute(tagPath, Route::answering(200, QJsonDocument(release).toJson()));

    std::unique_ptr<AppModel> model = newModel();
    test::awaitTask(model->components()->installMissingTools(), 30000);
    test::awaitTask(model->components()->chooseIPAToolRelease(u"v2.2.0"_s), 30000);
    QCOMPARE(model->alert(), QString());
    QCOMPARE(model->components()->chosenIPAToolRelease(), u"v2.2.0"_s);
    QCOMPARE(requestsFor(tagPath), 1);
    QCOMPARE(requestsFor(QString(u"/dl/"_s + older).toUtf8()), 1);

    // After a restart nothing is fetched while the tools are there; a missing ipatool comes back as the
    // chosen release, not the latest.
    AppModelEnvironment environment;
    environment.dataRoot = m_dir->filePath(u"Mirvo"_s);
    environment.settings =
        std::make_shared<QSettings>(m_dir->filePath(u"settings.ini"_s), QSettings::IniFormat);
    environment.runner = std::make_shared<ProcessRunner>();
    environment.http = std::make_shared<NetworkHttpClient>();
    model = std::make_unique<AppModel>(std::move(environment));
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
