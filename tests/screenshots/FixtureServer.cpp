#include "FixtureServer.h"

#include "Endpoints.h"
#include "FixtureIcons.h"
#include "RemovedRussianApps.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

using namespace Qt::Literals::StringLiterals;

namespace mirvo::screenshots {

namespace {

using Route = test::LoopbackHttpServer::Route;

const QList<std::pair<QByteArray, QByteArray>> jsonType{{"Content-Type", "application/json"}};
const QList<std::pair<QByteArray, QByteArray>> pngType{{"Content-Type", "image/png"}};

// The paths the application derives from its endpoints. Read from a default Endpoints, never from
// Endpoints::current(): that is fixed for the process on first use, and the endpoints file does not exist
// yet when this server starts.
const Endpoints defaults;

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

QByteArray json(const QJsonValue& value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

QString genre(const QString& id)
{
    static const QStringList genres{u"Финансы"_s,       u"Покупки"_s,     u"Утилиты"_s,        u"Навигация"_s,
                                    u"Еда и напитки"_s, u"Развлечения"_s, u"Социальные сети"_s};
    return genres.at(int(stableHash(id) % quint32(genres.size())));
}

QJsonObject release(const QString& tag, const QString& published, const QStringList& assets,
                    const QString& base)
{
    QJsonArray files;
    for (const QString& name : assets)
        files.append(
            QJsonObject{{u"name"_s, name},
                        {u"browser_download_url"_s, QString(base + u"/downloads/"_s + tag + u'/' + name)}});
    return {{u"tag_name"_s, tag}, {u"published_at"_s, published}, {u"assets"_s, files}};
}

} // namespace

FixtureServer::FixtureServer()
{
    if (!m_server.isListening())
        return;
    const QString base = baseURL().toString();

    m_catalogText = readFile(QStringLiteral(DATA_DIR "/Apps_ID_List.txt"));
    m_catalog = RemovedRussianApps::parseCatalog(m_catalogText);
    m_topApps = RemovedRussianApps::parseTopApps(readFile(QStringLiteral(TOP_APPS_FILE)));

    serveCatalog(0);
    m_server.setRoute(
        "/api/repos/" + defaults.removedAppsRepository.toUtf8() + "/commits",
        Route::answering(200, R"([{"commit":{"committer":{"date":"2026-03-02T09:30:00Z"}}}])", jsonType));
    m_server.setRoute("/raw/" + defaults.topAppsRepository.toUtf8() + "/refs/heads/" +
                          defaults.topAppsBranch.toUtf8() + '/' + defaults.topAppsPath.toUtf8(),
                      Route::answering(200, readFile(QStringLiteral(TOP_APPS_FILE)), jsonType));

    // One lookup answer for every question: the application keeps the results for the IDs it asked about.
    QJsonArray results;
    for (const CatalogApp& app : std::as_const(m_catalog)) {
        const QByteArray icon = iconPNG(app.id(), app.name(), 128);
        m_server.setRoute("/icons/" + app.id().toUtf8() + ".png", Route::answering(200, icon, pngType));
        results.append(QJsonObject{{u"trackId"_s, app.id().toLongLong()},
                                   {u"trackName"_s, app.name()},
                                   {u"primaryGenreName"_s, genre(app.id())},
                                   {u"artworkUrl512"_s, QString(base + u"/icons/"_s + app.id() + u".png"_s)},
                                   {u"bundleId"_s, QString(u"ru.example.app"_s + app.id())},
                                   {u"version"_s, u"5.12.0"_s}});
    }
    m_server.setRoute(
        "/store/lookup",
        Route::answering(200, json(QJsonObject{{u"resultCount"_s, results.size()}, {u"results"_s, results}}),
                         jsonType));

    // Favicons by domain, asked the way the application asks; any other domain gets a grey one.
    for (const TopApp& app : std::as_const(m_topApps)) {
        QUrlQuery query;
        query.addQueryItem(u"domain"_s, app.domain);
        query.addQueryItem(u"sz"_s, u"128"_s);
        m_server.setRoute(defaults.faviconPath.toUtf8() + '?' + query.toString(QUrl::FullyEncoded).toUtf8(),
                          Route::answering(200, iconPNG(app.domain, app.name, 128), pngType));
    }
    m_server.setRoute(defaults.faviconPath.toUtf8(),
                      Route::answering(200, iconPNG(QString(), u"?"_s, 128), pngType));

    // The tools' releases, for the settings page and for a data directory without the tools. Their files
    // are not served: the tools come from the test fakes.
    const QJsonArray ipatool{
        release(u"v2.3.2"_s, u"2026-02-20T10:00:00Z"_s,
                {u"ipatool-2.3.2-linux-amd64.tar.gz"_s, u"ipatool-2.3.2-macos-arm64.tar.gz"_s}, base),
        release(u"v2.3.1"_s, u"2026-01-12T10:00:00Z"_s, {u"ipatool-2.3.1-linux-amd64.tar.gz"_s}, base),
        release(u"v2.2.0"_s, u"2025-11-03T10:00:00Z"_s, {u"ipatool-2.2.0-linux-amd64.tar.gz"_s}, base)};
    const QByteArray ipatoolPath = "/api/repos/" + defaults.ipatoolRepository.toUtf8() + "/releases";
    m_server.setRoute(ipatoolPath, Route::answering(200, json(ipatool), jsonType));
    m_server.setRoute(ipatoolPath + "/latest", Route::answering(200, json(ipatool.first()), jsonType));
    m_server.setRoute("/api/repos/" + defaults.goIOSRepository.toUtf8() + "/releases/latest",
                      Route::answering(200,
                                       json(release(u"v1.0.182"_s, u"2026-02-01T10:00:00Z"_s,
                                                    {u"go-ios-linux.zip"_s, u"go-ios-mac.zip"_s}, base)),
                                       jsonType));

    setUpdateOffered(true);
}

QUrl FixtureServer::baseURL() const
{
    return m_server.url(QString());
}

bool FixtureServer::writeEndpoints(const QString& path) const
{
    const QString base = baseURL().toString();
    const QJsonObject endpoints{
        {u"gitHubApi"_s, QString(base + u"/api"_s)},
        {u"gitHubRawContent"_s, QString(base + u"/raw"_s)},
        {u"appStoreLookup"_s, QString(base + u"/store"_s)},
        {u"faviconService"_s, base},
        {u"updateManifest"_s, QString(base + u"/download/latest.json"_s)},
        {u"extraCertificateAuthorities"_s, test::LoopbackHttpServer::certificateAuthorityPath()}};
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(QJsonDocument(endpoints).toJson()) > 0 && file.flush();
}

void FixtureServer::holdCatalog(int milliseconds)
{
    serveCatalog(milliseconds);
}

void FixtureServer::serveCatalog(int delayMs)
{
    Route route = Route::answering(200, m_catalogText, {{"Content-Type", "text/plain; charset=utf-8"}});
    route.delayMs = delayMs;
    m_server.setRoute("/raw/" + defaults.removedAppsRepository.toUtf8() + "/refs/heads/" +
                          defaults.removedAppsBranch.toUtf8() + '/' + defaults.removedAppsPath.toUtf8(),
                      std::move(route));
}

void FixtureServer::setUpdateOffered(bool offered)
{
    m_server.setRoute("/download/latest.json", Route::answering(200, manifest(offered), jsonType));
}

QByteArray FixtureServer::manifest(bool newer) const
{
    const QString base = baseURL().toString();
    const QString version = newer ? u"9.1.0"_s : u"0.0.1"_s;
    return json(QJsonObject{
        {u"version"_s, version},
        {u"build"_s, newer ? 42 : 1},
        {u"minimumSystemVersion"_s, u"12.0"_s},
        {u"architecture"_s, u"universal"_s},
        {u"downloadURL"_s, QString(base + u"/download/Mirvo-"_s + version + u".dmg"_s)},
        {u"sha256"_s, u"3f5d0c9a7b1e4f2a8c6d0e9b7a5f3c1d2e4b6a8c0f9e7d5b3a1c2e4f6a8b0d9c"_s},
        {u"sizeBytes"_s, 48234112},
        {u"publishedAt"_s, u"2026-03-10T12:00:00Z"_s},
        {u"releaseNotes"_s, QJsonArray{u"Быстрее открывается каталог."_s,
                                       u"Установка нескольких приложений подряд продолжается после ошибки."_s,
                                       u"Исправлено отображение значков."_s}}});
}

} // namespace mirvo::screenshots
