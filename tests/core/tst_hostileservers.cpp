// Every network service against servers that lie, stall, flood or mislead, over the real HTTP client and
// HTTPS: each case ends in time with a Russian error or the service's own "no result".
#include "AppStoreMetadata.h"
#include "AppUpdateService.h"
#include "AppUpdateServiceError.h"
#include "ArchiveWriter.h"
#include "ArtworkCache.h"
#include "AwaitTask.h"
#include "CancelledError.h"
#include "Endpoints.h"
#include "LoopbackHttpServer.h"
#include "MirvoError.h"
#include "NetworkHttpClient.h"
#include "PeakResidentGrowth.h"
#include "RemovedRussianApps.h"
#include "SystemError.h"
#include "TemporaryDataDirectory.h"
#include "ToolBootstrapper.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <map>
#include <memory>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

using Route = LoopbackHttpServer::Route;

constexpr qint64 MiB = 1024 * 1024;

// The services' own time-outs (10 to 60 seconds) would make every stalled case take that long: the client
// the services get scales each request's time-out by this before the real client sees it.
constexpr double timeoutScale = 0.025;
// Only the rows that wait for a time-out scale it down. The others end on their own (at the cap, at an
// error, with a result) and keep the services' own time-outs, so that a slow machine or a sanitizer build
// is never taken for a stalled server.
double currentScale = timeoutScale;

enum class Service { Catalog, TopApps, Lookup, Icon, ToolReleases, ToolInstallation, UpdateManifest };
const char* const serviceNames[] = {"catalog",       "top apps",          "lookup",         "icon",
                                    "tool releases", "tool installation", "update manifest"};
enum class Hostile {
    LengthShorterThanSent,
    LengthLongerThenClosed,
    LengthLongerThenStalled,
    OverCapWithoutLength,
    Trickle,
    NoAnswer,
    RedirectToOtherHost,
    RedirectToPlainHttp,
    CertificateForWrongName
};
const char* const hostileNames[] = {"length shorter than sent",
                                    "length longer, then closed",
                                    "length longer, then stalled",
                                    "over the cap without length",
                                    "trickle",
                                    "no answer",
                                    "redirect to another host",
                                    "redirect to plain http",
                                    "certificate for a wrong name"};

const ToolPlatform platform{u"linux"_s, u"amd64"_s};

class ScaledTimeoutClient final : public HttpClient {
public:
    explicit ScaledTimeoutClient(std::shared_ptr<HttpClient> client)
        : m_client(std::move(client))
    {
    }

    QCoro::Task<HttpResponse> get(HttpRequest request, std::stop_token stop) override
    {
        request.timeout *= currentScale;
        return m_client->get(std::move(request), std::move(stop));
    }

private:
    std::shared_ptr<HttpClient> m_client;
};

// Russian, with no English besides the names of the services.
bool isRussianText(QString text)
{
    for (const QString& name : {u"GitHub"_s, u"App Store"_s, u"IPATool"_s, u"go-ios"_s})
        text.remove(name);
    static const QRegularExpression latin(u"[A-Za-z]"_s);
    static const QRegularExpression cyrillic(u"[А-Яа-яЁё]"_s);
    return cyrillic.match(text).hasMatch() && !latin.match(text).hasMatch();
}

QString error(const QString& text)
{
    return u"ошибка: "_s + text;
}

const QString none = u"нет результата"_s;
const QString closedEarly = error(u"Сервер неожиданно закрыл соединение."_s);
const QString timedOut = error(u"Превышено время ожидания ответа сервера."_s);
const QString insecureRedirect = error(u"Сервер перенаправил запрос на незащищённый адрес."_s);
const QString tlsFailed = error(u"Не удалось установить защищённое соединение с сервером."_s);

} // namespace

class tst_HostileServers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.isListening());
        QVERIFY(m_other.isListening());
        QVERIFY(m_plain.isListening());
        // The wrong-name certificate comes from an authority of its own; trusting it too leaves the name as
        // the only fault.
        const QString authorities = m_endpointsDir.filePath(u"authorities.pem"_s);
        writeFile(authorities,
                  readFile(LoopbackHttpServer::certificateAuthorityPath()).value_or(QByteArray()) +
                      readFile(QStringLiteral(DATA_DIR "/tls/wrong-name-ca.pem")).value_or(QByteArray()));
        const QString base = u"https://127.0.0.1:%1"_s.arg(m_server.port());
        const QJsonObject endpoints{{u"gitHubApi"_s, QString(base + u"/api"_s)},
                                    {u"gitHubWebHost"_s, u"127.0.0.1"_s},
                                    {u"gitHubRawContent"_s, QString(base + u"/raw"_s)},
                                    {u"appStoreLookup"_s, QString(base + u"/store"_s)},
                                    {u"updateManifest"_s, QString(base + u"/update/latest.json"_s)},
                                    {u"extraCertificateAuthorities"_s, authorities}};
        const QString file = m_endpointsDir.filePath(u"endpoints.json"_s);
        writeFile(file, QJsonDocument(endpoints).toJson());
        // Read once per process, so before anything asks for the endpoints.
        qputenv("MIRVO_ENDPOINTS", file.toUtf8());
        QCOMPARE(Endpoints::loadError(), QString());
        QCOMPARE(Endpoints::current().extraCertificateAuthorities, authorities);
        m_http = std::make_shared<ScaledTimeoutClient>(std::make_shared<NetworkHttpClient>());

        ArchiveWriter::TarEntry executable;
        executable.name = "bin/ipatool-1.0.0-linux-amd64";
        executable.content = "#!/bin/sh\necho ipatool 1.0.0\n";
        m_toolArchive = ArchiveWriter::gzip(ArchiveWriter::tar({executable}));
        const QJsonObject asset{
            {u"name"_s, u"ipatool-1.0.0-linux-amd64.tar.gz"_s},
            {u"size"_s, qint64(m_toolArchive.size())},
            {u"browser_download_url"_s, QString(base + u"/dl/ipatool-1.0.0-linux-amd64.tar.gz"_s)},
            {u"content_type"_s, u"application/octet-stream"_s}};
        const QJsonObject release{
            {u"tag_name"_s, u"v1.0.0"_s}, {u"draft"_s, false}, {u"assets"_s, QJsonArray{asset}}};
        m_server.setRoute("/api/repos/" + Endpoints::current().ipatoolRepository.toUtf8() +
                              "/releases/latest",
                          Route::answering(200, QJsonDocument(release).toJson()));
    }

    void init() { m_dir = std::make_unique<TemporaryDataDirectory>(); }

    void cleanup()
    {
        m_server.setCertificate(u"server"_s);
        QCOMPARE(m_dir->leftoverTemporaryFiles(), QStringList());
        m_dir.reset();
    }

    void hostile_data()
    {
        QTest::addColumn<int>("serviceNumber");
        QTest::addColumn<int>("hostileNumber");
        QTest::addColumn<QString>("expected");

        using enum Service;
        const auto bytes = [this](Service service, int divisor = 1) {
            return u"готово: %1 байт"_s.arg(served(service).body.size() / divisor);
        };
        const QString unavailable = error(AppUpdateServiceError::unavailable().errorDescription());
        const QString releaseUnreadable = error(u"Не удалось прочитать выпуск инструмента на GitHub."_s);
        // What a good answer gives, reached through a redirect to another host.
        const std::map<Service, QString> good{{Catalog, bytes(Catalog)},
                                              {TopApps, u"готово: 1 прил."_s},
                                              {Lookup, u"готово: 1 прил."_s},
                                              {Icon, bytes(Icon)},
                                              {ToolReleases, u"готово: 1 вып."_s},
                                              {ToolInstallation, u"готово: ipatool"_s},
                                              {UpdateManifest, u"готово: есть обновление"_s}};
        // Nothing tells the client of the bytes past the announced length: what the half gives.
        const std::map<Service, QString> half{
            {Catalog, bytes(Catalog, 2)},
            {TopApps, error(u"Не удалось прочитать список популярных приложений."_s)},
            {Lookup, u"готово: 0 прил."_s}, // half a JSON document reads as an empty answer
            {Icon, bytes(Icon, 2)},
            {ToolReleases, releaseUnreadable},
            {ToolInstallation,
             error(u"Архив IPATool слишком большой."_s)}, // the gzip trailer read from the cut
            {UpdateManifest, error(AppUpdateServiceError::invalidResponse().errorDescription())}};
        const std::map<Service, QString> overCap{
            {Catalog, error(u"Файл каталога слишком большой."_s)},
            {TopApps, error(u"Список популярных приложений слишком большой."_s)},
            {ToolReleases, releaseUnreadable},
            {ToolInstallation, error(u"Не удалось скачать выпуск инструмента с GitHub."_s)}};

        for (int s = 0; s <= int(UpdateManifest); ++s) {
            const auto service = Service(s);
            // The services that never throw give their empty result for every failure; the update check calls
            // every failure to reach the manifest "unavailable".
            const bool quiet = service == Lookup || service == Icon;
            const auto failed = [&](const QString& text) {
                return quiet ? none : service == UpdateManifest ? unavailable : text;
            };
            const auto of = [&](const std::map<Service, QString>& table) {
                return table.contains(service) ? table.at(service) : failed({});
            };
            const QString expected[] = {of(half),         failed(closedEarly),      failed(timedOut),
                                        of(overCap),      failed(timedOut),         failed(timedOut),
                                        good.at(service), failed(insecureRedirect), failed(tlsFailed)};
            for (int h = 0; h <= int(Hostile::CertificateForWrongName); ++h)
                QTest::addRow("%s: %s", serviceNames[s], hostileNames[h]) << s << h << expected[h];
        }
    }

    void hostile()
    {
        QFETCH(int, serviceNumber);
        QFETCH(int, hostileNumber);
        QFETCH(QString, expected);
        const auto service = Service(serviceNumber);
        const auto hostile = Hostile(hostileNumber);

        const Served fixture = served(service);
        m_other.setRoute(fixture.path, Route::answering(200, fixture.body));
        m_plain.setRoute(fixture.path, Route::answering(200, fixture.body));
        Route route = Route::answering(200, fixture.body);
        switch (hostile) {
        case Hostile::LengthShorterThanSent:
            route.contentLength = fixture.body.size() / 2;
            break;
        case Hostile::LengthLongerThenClosed:
            route.contentLength = fixture.body.size() * 2;
            break;
        case Hostile::LengthLongerThenStalled:
            route.contentLength = fixture.body.size() * 2;
            route.holdOpen = true;
            break;
        case Hostile::OverCapWithoutLength:
            route.streamedBytes = fixture.cap * 4;
            route.chunked = false;
            break;
        case Hostile::Trickle:
            route.streamedBytes = MiB;
            route.chunked = false;
            route.chunkIntervalMs = 1000;
            route.trickleBytes = 1;
            break;
        case Hostile::NoAnswer:
            route.delayMs = 3'600'000;
            break;
        case Hostile::RedirectToOtherHost: {
            // Another name for the loopback, which the other server's certificate also carries.
            QUrl elsewhere = m_other.url(QString::fromUtf8(fixture.path));
            elsewhere.setHost(u"localhost"_s);
            m_server.setRedirect(fixture.path, elsewhere);
            break;
        }
        case Hostile::RedirectToPlainHttp:
            m_server.setRedirect(fixture.path, m_plain.url(QString::fromUtf8(fixture.path)));
            break;
        case Hostile::CertificateForWrongName:
            m_server.setCertificate(u"wrong-name"_s);
            break;
        }
        if (hostile != Hostile::RedirectToOtherHost && hostile != Hostile::RedirectToPlainHttp)
            m_server.setRoute(fixture.path, route);

        const bool waitsForTheTimeOut = hostile == Hostile::LengthLongerThenStalled ||
                                        hostile == Hostile::Trickle || hostile == Hostile::NoAnswer;
        currentScale = waitsForTheTimeOut ? timeoutScale : 1.0;
        const PeakResidentGrowth growth;
        // How the service ended, with "ошибка: " and the text a user would read for a failure.
        QString outcome;
        try {
            outcome = fixture.run(int(fixture.timeout * currentScale * 1000) + 1000);
        } catch (const AwaitTimedOut&) {
            outcome = u"не закончилось вовремя"_s;
        } catch (const CancelledError&) {
            outcome = u"отменено"_s;
        } catch (const std::exception& failure) {
            outcome = error(localizedDescription(failure));
        }
        // The largest body of all goes to the tools' download: the peak is measured on that one.
        if (service == Service::ToolInstallation && hostile == Hostile::OverCapWithoutLength) {
            if (const std::optional<qint64> grown = growth.bytes()) {
                qInfo("peak resident growth %.1f MiB (cap %.0f MiB)", double(*grown) / MiB,
                      double(fixture.cap) / MiB);
                QVERIFY2(*grown < fixture.cap + 64 * MiB, qPrintable(QString::number(*grown)));
            }
        }

        QVERIFY2(!outcome.startsWith(u"не закончилось"_s), qPrintable(outcome));
        if (outcome.startsWith(u"ошибка: "_s))
            QVERIFY2(isRussianText(outcome.mid(8)), qPrintable(outcome));
        QCOMPARE(outcome, expected);
    }

private:
    struct Served {
        QByteArray path; // where the service asks, on the HTTPS server
        QByteArray body; // what a good server answers there
        qint64 cap = 0;
        double timeout = 0; // the service's own, in seconds
        // Runs the service within its time limit: "готово: …" with what it gave, or its empty result.
        std::function<QString(int limitMs)> run;
    };

    Served served(Service service);

    QTemporaryDir m_endpointsDir;
    LoopbackHttpServer m_server{LoopbackHttpServer::Scheme::Https};
    LoopbackHttpServer m_other{LoopbackHttpServer::Scheme::Https};
    LoopbackHttpServer m_plain{LoopbackHttpServer::Scheme::Http};
    std::shared_ptr<HttpClient> m_http;
    std::unique_ptr<TemporaryDataDirectory> m_dir;
    QByteArray m_toolArchive;
};

tst_HostileServers::Served tst_HostileServers::served(Service service)
{
    const auto apps = [](qsizetype count) { return u"готово: %1 прил."_s.arg(count); };
    switch (service) {
    case Service::Catalog:
        return {RemovedRussianApps::remoteCatalogURL().path().toUtf8(),
                "СберБанк Онлайн: 492224193\nТ-Банк: 455652438\nАльфа-Банк: 353127685\n"_ba,
                RemovedRussianApps::maximumBodyBytes, 15, [this](int limitMs) -> QString {
                    const CatalogDownload download =
                        awaitTask(RemovedRussianApps::downloadCatalog(m_http), limitMs);
                    return u"готово: %1 байт"_s.arg(download.data.size());
                }};
    case Service::TopApps:
        return {
            RemovedRussianApps::topAppsURL().path().toUtf8(),
            R"([{"id": "492224193", "name": "СберБанк Онлайн", "domain": "sberbank.ru", "category": "Финансы"}])"_ba,
            RemovedRussianApps::maximumBodyBytes, 15, [=, this](int limitMs) -> QString {
                return apps(awaitTask(RemovedRussianApps::downloadTopApps(m_http), limitMs).size());
            }};
    case Service::Lookup:
        return {
            AppStoreMetadata::lookupURL({u"492224193"_s}, u"ru"_s)->path().toUtf8(),
            R"({"resultCount": 1, "results": [{"trackId": 492224193, "trackName": "СберБанк Онлайн"}]})"_ba,
            HttpRequest().maxBodyBytes, 60, [=, this](int limitMs) -> QString {
                const auto found =
                    awaitTask(AppStoreMetadata(m_http).lookup({u"492224193"_s}, u"ru"_s), limitMs);
                return found ? apps(found->size()) : none;
            }};
    case Service::Icon:
        return {"/icons/492224193.png", QByteArray(4000, 'i'), ArtworkCache::maximumSingleFileBytes,
                HttpRequest().timeout, [this](int limitMs) -> QString {
                    ArtworkCache cache(m_dir->path(), u"Artwork"_s, m_http);
                    const std::optional<QString> path = awaitTask(
                        cache.file(u"492224193"_s, m_server.url(u"/icons/492224193.png"_s)), limitMs);
                    return path ? u"готово: %1 байт"_s.arg(QFileInfo(*path).size()) : none;
                }};
    case Service::ToolReleases:
        return {"/api/repos/" + Endpoints::current().ipatoolRepository.toUtf8() + "/releases",
                R"([{"tag_name": "v1.0.0", "published_at": "2025-03-01T09:30:00Z", "assets": []}])"_ba,
                HttpRequest().maxBodyBytes, 60, [this](int limitMs) -> QString {
                    const ToolBootstrapper bootstrapper(m_dir->filePath(u"Tools"_s), m_http, platform);
                    return u"готово: %1 вып."_s.arg(
                        awaitTask(bootstrapper.ipatoolReleases(), limitMs).size());
                }};
    case Service::ToolInstallation:
        return {"/dl/ipatool-1.0.0-linux-amd64.tar.gz", m_toolArchive, ToolBootstrapper::maximumDownloadBytes,
                60, [this](int limitMs) -> QString {
                    // go-ios is in place: only ipatool's download is at stake.
                    const QString tools = m_dir->filePath(u"Tools"_s);
                    QDir().mkpath(tools);
                    writeFile(tools + u"/ios"_s, "#!/bin/sh\n");
                    QFile::setPermissions(tools + u"/ios"_s,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
                    const ToolBootstrapper bootstrapper(tools, m_http, platform);
                    const QStringList installed = awaitTask(
                        bootstrapper.installMissing(false, [](const ToolDownloadEvent&) {}), limitMs);
                    return u"готово: "_s + installed.join(u", "_s);
                }};
    case Service::UpdateManifest:
        return {
            "/update/latest.json",
            "{\"version\": \"1.4.0\", \"build\": 27, \"minimumSystemVersion\": \"13.0\", \"architecture\": "
            "\"universal\", \"downloadURL\": \"https://127.0.0.1/download/Mirvo-1.4.0.dmg\", \"sha256\": \"" +
                QByteArray(64, 'a') +
                "\", \"sizeBytes\": 48213776, \"publishedAt\": \"2026-03-01T10:00:00Z\", \"releaseNotes\": "
                "[]}",
            AppUpdateService::maximumManifestBytes, AppUpdateService::timeout,
            [this](int limitMs) -> QString {
                const AppUpdateService updates(AppUpdateService::defaultManifestURL(), m_http);
                const bool available = awaitTask(updates.check(u"1.3"_s, 1), limitMs).isAvailable();
                return available ? u"готово: есть обновление"_s : u"готово: нет обновления"_s;
            }};
    }
    return {};
}

QTEST_GUILESS_MAIN(tst_HostileServers)

#include "tst_hostileservers.moc"
