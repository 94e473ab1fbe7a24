// The whole catalog path over real HTTPS: the endpoints file points the application at a loopback server
// that plays GitHub, the App Store lookup service and an icon host.
#include "AppModel.h"
#include "ArtworkCache.h"
#include "AwaitTask.h"
#include "Endpoints.h"
#include "LoopbackHttpServer.h"
#include "NetworkHttpClient.h"
#include "TestEnvironment.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

using Route = test::LoopbackHttpServer::Route;

const QByteArray list = "Сбербанк Онлайн: 100001\nOzon: 100002\nБез данных: 100003\n"_ba;

QStringList column(const QAbstractItemModel& model, int role)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result.append(model.index(row, 0).data(role).toString());
    return result;
}

} // namespace

class tst_CatalogOverHttps : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loadsEnrichesAndShowsIcons();
    void fallsBackToTheSavedCopy();

private:
    std::unique_ptr<AppModel> newModel();

    QTemporaryDir m_endpointsDir;
    QByteArray m_listPath;
    test::TemporaryDataDirectory m_dir;
    test::LoopbackHttpServer m_server{test::LoopbackHttpServer::Scheme::Https};
};

void tst_CatalogOverHttps::initTestCase()
{
    QVERIFY(m_server.isListening());
    const QString base = u"https://127.0.0.1:%1"_s.arg(m_server.port());
    const QJsonObject endpoints{
        {u"gitHubRawContent"_s, QString(base + u"/raw"_s)},
        {u"gitHubApi"_s, QString(base + u"/api"_s)},
        {u"appStoreLookup"_s, QString(base + u"/store"_s)},
        {u"extraCertificateAuthorities"_s, test::LoopbackHttpServer::certificateAuthorityPath()}};
    const QString path = m_endpointsDir.filePath(u"endpoints.json"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QJsonDocument(endpoints).toJson());
    file.close();
    // Read once per process, so before anything asks for the endpoints.
    qputenv("MIRVO_ENDPOINTS", path.toUtf8());
    QCOMPARE(Endpoints::loadError(), QString());

    const Endpoints& in = Endpoints::current();
    m_listPath = "/raw/" + in.removedAppsRepository.toUtf8() + "/refs/heads/" +
                 in.removedAppsBranch.toUtf8() + '/' + in.removedAppsPath.toUtf8();
    m_server.setRoute(m_listPath, Route::answering(200, list));
    m_server.setRoute("/api/repos/" + in.removedAppsRepository.toUtf8() + "/commits",
                      Route::answering(200, R"([{"commit":{"committer":{"date":"2026-03-01T09:30:00Z"}}}])"));
    const QByteArray artwork = (base + u"/icons/100001.png"_s).toUtf8();
    // The Russian storefront knows only the first app; the fallback one the second.
    const QByteArray ru = R"({"resultCount":1,"results":[{"trackId":100001,"trackName":"СберБанк Онлайн",)"
                          R"("primaryGenreName":"Финансы","artworkUrl512":")" +
                          artwork + R"("}]})";
    const QByteArray us =
        R"({"results":[{"trackId":100002,"trackName":"Ozon: shopping","primaryGenreName":"Shopping"}]})";
    m_server.setRoute("/store/lookup?id=100001,100002,100003&country=ru&entity=software",
                      Route::answering(200, ru));
    m_server.setRoute("/store/lookup?id=100002,100003&country=us&entity=software", Route::answering(200, us));
    m_server.setRoute("/icons/100001.png", Route::answering(200, "not really a PNG"));
}

std::unique_ptr<AppModel> tst_CatalogOverHttps::newModel()
{
    AppModelEnvironment environment = test::modelEnvironment(m_dir);
    environment.http = std::make_shared<NetworkHttpClient>();
    return std::make_unique<AppModel>(std::move(environment));
}

void tst_CatalogOverHttps::loadsEnrichesAndShowsIcons()
{
    const std::unique_ptr<AppModel> model = newModel();
    CatalogState* catalog = model->catalog();
    test::awaitTask(catalog->refreshCatalog());

    QCOMPARE(model->notice(), QString());
    QCOMPARE(column(*catalog->apps(), CatalogListModel::IdRole),
             (QStringList{u"100001"_s, u"100002"_s, u"100003"_s}));
    QCOMPARE(catalog->updatedAt(), QDateTime(QDate(2026, 3, 1), QTime(9, 30), Qt::UTC));
    QTRY_VERIFY(catalog->metadataTask().isFinished());
    QCOMPARE(column(*catalog->apps(), CatalogListModel::NameRole),
             (QStringList{u"СберБанк Онлайн"_s, u"Ozon: shopping"_s, u"Без данных"_s}));

    // The icon comes through the artwork cache and stays there.
    const QUrl artwork = catalog->apps()->index(0).data(CatalogListModel::IconURLRole).toUrl();
    QVERIFY(artwork.isValid());
    QVERIFY(model->artworkCache());
    const std::optional<QString> icon = test::awaitTask(model->artworkCache()->file(u"100001"_s, artwork));
    QVERIFY(icon);
    QCOMPARE(test::readFile(*icon), std::optional<QByteArray>("not really a PNG"));
    QCOMPARE(model->artworkCache()->cachedURL(u"100001"_s), icon);
}

// Runs after the first test, whose download the store kept.
void tst_CatalogOverHttps::fallsBackToTheSavedCopy()
{
    m_server.setRoute(m_listPath, Route::answering(502, "Bad Gateway"));
    const std::unique_ptr<AppModel> model = newModel();
    CatalogState* catalog = model->catalog();
    test::awaitTask(catalog->refreshCatalog());

    QCOMPARE(model->notice(), u"Не удалось обновить каталог. Показана последняя сохранённая версия."_s);
    QCOMPARE(column(*catalog->apps(), CatalogListModel::IdRole),
             (QStringList{u"100001"_s, u"100002"_s, u"100003"_s}));
    QCOMPARE(catalog->updatedAt(), QDateTime(QDate(2026, 3, 1), QTime(9, 30), Qt::UTC));
    QTRY_VERIFY(catalog->metadataTask().isFinished());
}

QTEST_MAIN(tst_CatalogOverHttps)
#include "tst_catalogoverhttps.moc"
