#include "AppModel.h"
#include "AppUpdateServiceError.h"
#include "AwaitTask.h"
#include "FakeHttpClient.h"
#include "LoopbackHttpServer.h"
#include "NetworkHttpClient.h"
#include "TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQmlExtensionPlugin>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;
using Kind = UpdateDialogState::Kind;

namespace {

QByteArray manifestBody(const QString& version, qint64 build, const QString& host = u"mirvo.app"_s)
{
    const QJsonObject manifest{
        {u"version"_s, version},
        {u"build"_s, build},
        {u"minimumSystemVersion"_s, u"13.0"_s},
        {u"architecture"_s, u"universal"_s},
        {u"downloadURL"_s, QString(u"https://"_s + host + u"/download/Mirvo-"_s + version + u".dmg"_s)},
        {u"sha256"_s, u"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"_s},
        {u"sizeBytes"_s, 48213776},
        {u"publishedAt"_s, u"2026-03-01"_s},
        {u"releaseNotes"_s, QJsonArray{u"Исправлены ошибки."_s}},
    };
    return QJsonDocument(manifest).toJson(QJsonDocument::Compact);
}

AppUpdateManifest manifest(const QString& version, qint64 build, const QString& host = u"mirvo.app"_s)
{
    return AppUpdateManifest::decode(manifestBody(version, build, host)).value();
}

QVariantMap bundle(const QVariant& version, const QVariant& build)
{
    QVariantMap values;
    if (version.isValid())
        values.insert(u"CFBundleShortVersionString"_s, version);
    if (build.isValid())
        values.insert(u"CFBundleVersion"_s, build);
    return values;
}

// A model whose network is `http`.
AppModelEnvironment environmentWith(const test::TemporaryDataDirectory& dir, std::shared_ptr<HttpClient> http,
                                    const QVariantMap& bundleValues = bundle(u"1.4.0"_s, u"27"_s))
{
    AppModelEnvironment environment = test::modelEnvironment(dir, bundleValues);
    environment.http = std::move(http);
    return environment;
}

std::shared_ptr<test::FakeHttpClient> serving(const QByteArray& body)
{
    return std::make_shared<test::FakeHttpClient>(
        [body](const HttpRequest&) { return test::FakeHttpClient::ok(body); });
}

// Every state the dialog passes through, None for a closed dialog.
class DialogRecorder {
public:
    explicit DialogRecorder(UpdatesState* updates)
    {
        QObject::connect(updates, &UpdatesState::dialogChanged, updates, [this, updates] {
            kinds.append(updates->dialog() ? updates->dialog()->kind : Kind::None);
        });
        QObject::connect(updates, &UpdatesState::checkingChanged, updates,
                         [this, updates] { checking.append(updates->checking()); });
    }

    QList<Kind> kinds;
    QList<bool> checking;
};

QString unavailableText()
{
    return AppUpdateServiceError::unavailable().errorDescription();
}

QString invalidText()
{
    return AppUpdateServiceError::invalidResponse().errorDescription();
}

qint64 bytesOf(const QByteArray& data)
{
    return data.size();
}

} // namespace

// The update check with its dialog, the download address, and the size and clearing of the caches.
class tst_UpdatesState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void manifestAddressFromBundleInfo_data();
    void manifestAddressFromBundleInfo();
    void automaticCheckRunsOnce();
    void runningVersionAndBuild_data();
    void runningVersionAndBuild();

    void manualCheckOffline();
    void manualCheckOutcomes_data();
    void manualCheckOutcomes();
    void automaticCheckFindingNothing();
    void automaticCheckFindingAnUpdate();
    void automaticCheckFailsSilently_data();
    void automaticCheckFailsSilently();
    void manualCheckDroppedWhileAutomaticRuns_data();
    void manualCheckDroppedWhileAutomaticRuns();
    void stoppedManualCheckClosesTheDialog();
    void shutdownEndsTheAutomaticCheckSilently();
    void buildNumberAsTheCheckSeesIt_data();
    void buildNumberAsTheCheckSeesIt();
    void missingShortVersionChecksAsZero();
    void checkOverLoopback_data();
    void checkOverLoopback();

    void openUpdate_data();
    void openUpdate();
    void downloadButtonOpensTheManifestAddress();

    void clearCacheWithoutStoreOrCaches();
    void clearCacheRunsOnceAtATime();
    void cacheSizeAndClearing();
    void clearingStopsAtTheCacheThatFails();

private:
    test::TemporaryDataDirectory m_dir;
};

void tst_UpdatesState::manifestAddressFromBundleInfo_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QUrl>("expected");

    const QUrl fallback(u"https://mirvo.app/download/latest.json"_s);
    QTest::newRow("absent") << QVariant() << fallback;
    QTest::newRow("a number") << QVariant(42) << fallback;
    QTest::newRow("not a url") << QVariant(u"не адрес"_s) << fallback;
    QTest::newRow("relative") << QVariant(u"latest.json"_s) << fallback;
    QTest::newRow("no host") << QVariant(u"file:///latest.json"_s) << fallback;
    QTest::newRow("a url") << QVariant(u"https://mirror.example/download/latest.json"_s)
                           << QUrl(u"https://mirror.example/download/latest.json"_s);
}

void tst_UpdatesState::manifestAddressFromBundleInfo()
{
    QFETCH(QVariant, value);
    QFETCH(QUrl, expected);

    QVariantMap bundle;
    if (value.isValid())
        bundle.insert(u"SolvenaUpdateManifestURL"_s, value);
    auto http = serving(manifestBody(u"1.0"_s, 1));
    AppModel model(environmentWith(m_dir, http, bundle));
    QCOMPARE(model.updates()->manifestURL(), expected);
    test::awaitTask(model.updates()->checkForUpdates(true));
    QCOMPARE(http->requests().size(), 1);
    QCOMPARE(http->requests().constFirst().url, expected);
}

void tst_UpdatesState::automaticCheckRunsOnce()
{
    AppModel model(test::modelEnvironment(m_dir));
    UpdatesState* updates = model.updates();
    QVERIFY(updates->automaticCheck().isEmpty());
    updates->startAutomaticCheck();
    const quint64 first = updates->automaticCheck().serial();
    updates->startAutomaticCheck();
    QCOMPARE(updates->automaticCheck().serial(), first);
    QTRY_VERIFY(updates->automaticCheck().isFinished());
    QVERIFY(!updates->checking());
}

void tst_UpdatesState::runningVersionAndBuild_data()
{
    QTest::addColumn<QVariant>("version");
    QTest::addColumn<QVariant>("build");
    QTest::addColumn<QString>("expectedVersion");
    QTest::addColumn<qint64>("expectedBuild");

    QTest::newRow("both") << QVariant(u"1.4.0"_s) << QVariant(u"27"_s) << u"1.4.0"_s << qint64(27);
    QTest::newRow("neither") << QVariant() << QVariant() << u"0.0.0"_s << qint64(0);
    QTest::newRow("version as a number") << QVariant(1.4) << QVariant(u"27"_s) << u"0.0.0"_s << qint64(27);
    QTest::newRow("an empty version") << QVariant(QString()) << QVariant(u"27"_s) << QString() << qint64(27);
    QTest::newRow("build with a plus") << QVariant(u"1.0"_s) << QVariant(u"+12"_s) << u"1.0"_s << qint64(12);
    QTest::newRow("negative build") << QVariant(u"1.0"_s) << QVariant(u"-3"_s) << u"1.0"_s << qint64(-3);
    QTest::newRow("build 12a") << QVariant(u"1.0"_s) << QVariant(u"12a"_s) << u"1.0"_s << qint64(0);
    QTest::newRow("empty build") << QVariant(u"1.0"_s) << QVariant(QString()) << u"1.0"_s << qint64(0);
    QTest::newRow("a sign alone") << QVariant(u"1.0"_s) << QVariant(u"-"_s) << u"1.0"_s << qint64(0);
    QTest::newRow("build with a space") << QVariant(u"1.0"_s) << QVariant(u" 12"_s) << u"1.0"_s << qint64(0);
    QTest::newRow("build 1.2") << QVariant(u"1.0"_s) << QVariant(u"1.2"_s) << u"1.0"_s << qint64(0);
    QTest::newRow("build beyond 64 bits")
        << QVariant(u"1.0"_s) << QVariant(u"9223372036854775808"_s) << u"1.0"_s << qint64(0);
    QTest::newRow("build as a number") << QVariant(u"1.0"_s) << QVariant(12) << u"1.0"_s << qint64(0);
}

void tst_UpdatesState::runningVersionAndBuild()
{
    QFETCH(QVariant, version);
    QFETCH(QVariant, build);
    QFETCH(QString, expectedVersion);
    QFETCH(qint64, expectedBuild);

    AppModel model(test::modelEnvironment(m_dir, bundle(version, build)));
    QCOMPARE(model.updates()->currentAppVersion(), expectedVersion);
    QCOMPARE(model.updates()->currentAppBuild(), expectedBuild);
    QCOMPARE(model.updates()->property("currentAppBuild").toLongLong(), expectedBuild);
}

void tst_UpdatesState::manualCheckOffline()
{
    AppModel model(environmentWith(m_dir, std::make_shared<test::FakeHttpClient>()));
    UpdatesState* updates = model.updates();
    DialogRecorder recorder(updates);

    test::awaitTask(updates->checkForUpdates(true));
    QCOMPARE(recorder.kinds, (QList<Kind>{Kind::Checking, Kind::Failure}));
    QCOMPARE(recorder.checking, (QList<bool>{true, false}));
    QCOMPARE(updates->dialog(), UpdateDialogState::failure(unavailableText()));
}

void tst_UpdatesState::manualCheckOutcomes_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<UpdateDialogState>("expected");

    QTest::newRow("the running build")
        << 200 << manifestBody(u"1.4.0"_s, 27) << UpdateDialogState::current(u"1.4.0"_s);
    QTest::newRow("an older version")
        << 200 << manifestBody(u"1.3"_s, 90) << UpdateDialogState::current(u"1.4.0"_s);
    QTest::newRow("a newer build") << 200 << manifestBody(u"1.4"_s, 28)
                                   << UpdateDialogState::available(manifest(u"1.4"_s, 28));
    QTest::newRow("a download elsewhere")
        << 200 << manifestBody(u"1.5"_s, 1, u"mirvo.example"_s) << UpdateDialogState::failure(invalidText());
    QTest::newRow("404") << 404 << manifestBody(u"1.5"_s, 1) << UpdateDialogState::failure(unavailableText());
}

void tst_UpdatesState::manualCheckOutcomes()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(UpdateDialogState, expected);

    auto http = std::make_shared<test::FakeHttpClient>([=](const HttpRequest&) {
        return HttpResponse{status, body, false};
    });
    AppModel model(environmentWith(m_dir, http));
    test::awaitTask(model.updates()->checkForUpdates(true));
    QCOMPARE(model.updates()->dialog(), std::optional(expected));
    QVERIFY(!model.updates()->checking());
}

void tst_UpdatesState::automaticCheckFindingNothing()
{
    auto http = serving(manifestBody(u"1.4.0"_s, 27));
    http->setDelay(0.05);
    AppModel model(environmentWith(m_dir, http));
    UpdatesState* updates = model.updates();
    DialogRecorder recorder(updates);

    updates->startAutomaticCheck();
    QVERIFY(updates->checking());
    QVERIFY(!updates->dialog());
    QTRY_VERIFY(updates->automaticCheck().isFinished());
    QVERIFY(!updates->checking());
    QVERIFY(!updates->dialog());
    QVERIFY(recorder.kinds.isEmpty());
    QCOMPARE(http->requests().size(), 1);
}

void tst_UpdatesState::automaticCheckFindingAnUpdate()
{
    auto http = serving(manifestBody(u"1.5"_s, 3));
    http->setDelay(0.05);
    AppModel model(environmentWith(m_dir, http));
    UpdatesState* updates = model.updates();
    DialogRecorder recorder(updates);

    updates->startAutomaticCheck();
    QTRY_VERIFY(updates->automaticCheck().isFinished());
    QCOMPARE(recorder.kinds, QList<Kind>{Kind::Available});
    QCOMPARE(updates->dialog(), UpdateDialogState::available(manifest(u"1.5"_s, 3)));
    QVERIFY(!updates->checking());
}

void tst_UpdatesState::automaticCheckFailsSilently_data()
{
    QTest::addColumn<bool>("online");
    QTest::newRow("offline") << false;
    QTest::newRow("an invalid manifest") << true;
}

void tst_UpdatesState::automaticCheckFailsSilently()
{
    QFETCH(bool, online);

    auto http = online ? serving("{\"version\": \"9.0\"}") : std::make_shared<test::FakeHttpClient>();
    AppModel model(environmentWith(m_dir, http));
    DialogRecorder recorder(model.updates());
    model.updates()->startAutomaticCheck();
    QTRY_VERIFY(model.updates()->automaticCheck().isFinished());
    QVERIFY(recorder.kinds.isEmpty());
    QCOMPARE(recorder.checking, (QList<bool>{true, false}));
}

void tst_UpdatesState::manualCheckDroppedWhileAutomaticRuns_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QList<Kind>>("expectedKinds");

    QTest::newRow("nothing new") << manifestBody(u"1.4.0"_s, 27) << QList<Kind>();
    QTest::newRow("an update") << manifestBody(u"2.0"_s, 1) << QList<Kind>{Kind::Available};
}

void tst_UpdatesState::manualCheckDroppedWhileAutomaticRuns()
{
    QFETCH(QByteArray, body);
    QFETCH(QList<Kind>, expectedKinds);

    auto http = serving(body);
    http->setDelay(0.1);
    AppModel model(environmentWith(m_dir, http));
    UpdatesState* updates = model.updates();
    DialogRecorder recorder(updates);

    updates->startAutomaticCheck();
    QCoro::Task<> manual = updates->checkForUpdates(true);
    QVERIFY(manual.isReady());
    QVERIFY(!updates->dialog());
    QTRY_VERIFY(updates->automaticCheck().isFinished());
    QCOMPARE(recorder.kinds, expectedKinds);
    QCOMPARE(http->requests().size(), 1);
    QVERIFY(!updates->checking());
}

void tst_UpdatesState::stoppedManualCheckClosesTheDialog()
{
    auto http = serving(manifestBody(u"2.0"_s, 1));
    http->setDelay(30);
    AppModel model(environmentWith(m_dir, http));
    UpdatesState* updates = model.updates();
    DialogRecorder recorder(updates);

    std::stop_source stop;
    QCoro::Task<> check = updates->checkForUpdates(true, stop.get_token());
    QCOMPARE(updates->dialog(), UpdateDialogState::checking());
    stop.request_stop();
    test::awaitTask(std::move(check), 5000);
    QCOMPARE(recorder.kinds, (QList<Kind>{Kind::Checking, Kind::None}));
    QVERIFY(!updates->checking());
}

void tst_UpdatesState::shutdownEndsTheAutomaticCheckSilently()
{
    auto http = serving(manifestBody(u"2.0"_s, 1));
    http->setDelay(30);
    AppModel model(environmentWith(m_dir, http));
    UpdatesState* updates = model.updates();
    DialogRecorder recorder(updates);

    updates->startAutomaticCheck();
    QVERIFY(updates->checking());
    model.shutdown();
    QTRY_VERIFY(updates->automaticCheck().isFinished());
    QVERIFY(recorder.kinds.isEmpty());
    QVERIFY(!updates->checking());
}

void tst_UpdatesState::buildNumberAsTheCheckSeesIt_data()
{
    QTest::addColumn<QString>("build");
    QTest::addColumn<Kind>("expected");

    // The published build is 1 of the running version: newer only than a build that counts as 0.
    QTest::newRow("12a") << u"12a"_s << Kind::Available;
    QTest::newRow("12") << u"12"_s << Kind::Current;
}

void tst_UpdatesState::buildNumberAsTheCheckSeesIt()
{
    QFETCH(QString, build);
    QFETCH(Kind, expected);

    AppModel model(environmentWith(m_dir, serving(manifestBody(u"1.4.0"_s, 1)), bundle(u"1.4.0"_s, build)));
    test::awaitTask(model.updates()->checkForUpdates(true));
    QVERIFY(model.updates()->dialog());
    QCOMPARE(model.updates()->dialog()->kind, expected);
}

void tst_UpdatesState::missingShortVersionChecksAsZero()
{
    AppModel model(environmentWith(m_dir, serving(manifestBody(u"0.0.0"_s, 3)), bundle({}, u"5"_s)));
    test::awaitTask(model.updates()->checkForUpdates(true));
    QCOMPARE(model.updates()->dialog(), UpdateDialogState::current(u"0.0.0"_s));

    // Any real version is newer than 0.0.0.
    AppModel other(environmentWith(m_dir, serving(manifestBody(u"0.1"_s, 1)), bundle({}, u"5"_s)));
    test::awaitTask(other.updates()->checkForUpdates(true));
    QCOMPARE(other.updates()->dialog(), UpdateDialogState::available(manifest(u"0.1"_s, 1)));
}

void tst_UpdatesState::checkOverLoopback_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<UpdateDialogState>("expected");

    const QString host = u"127.0.0.1"_s;
    QTest::newRow("an update") << 200 << manifestBody(u"1.5"_s, 2, host)
                               << UpdateDialogState::available(manifest(u"1.5"_s, 2, host));
    QTest::newRow("nothing new") << 200 << manifestBody(u"1.4"_s, 2, host)
                                 << UpdateDialogState::current(u"1.4.0"_s);
    QTest::newRow("empty body") << 200 << QByteArray() << UpdateDialogState::failure(unavailableText());
    QTest::newRow("404") << 404 << manifestBody(u"1.5"_s, 2, host)
                         << UpdateDialogState::failure(unavailableText());
    QTest::newRow("70,000 bytes") << 200 << manifestBody(u"1.5"_s, 2, host).leftJustified(70000, ' ')
                                  << UpdateDialogState::failure(unavailableText());
}

void tst_UpdatesState::checkOverLoopback()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(UpdateDialogState, expected);

    test::LoopbackHttpServer server;
    server.setRoute("/download/latest.json", test::LoopbackHttpServer::Route::answering(status, body));
    QVariantMap values = bundle(u"1.4.0"_s, u"27"_s);
    values.insert(u"SolvenaUpdateManifestURL"_s, server.url(u"/download/latest.json"_s).toString());
    AppModel model(environmentWith(m_dir, std::make_shared<NetworkHttpClient>(QString()), values));

    test::awaitTask(model.updates()->checkForUpdates(true));
    QCOMPARE(model.updates()->dialog(), std::optional(expected));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().constFirst().header("Accept"), "application/json");
}

void tst_UpdatesState::openUpdate_data()
{
    QTest::addColumn<bool>("hasOpener");
    QTest::addColumn<bool>("opens");
    QTest::addColumn<std::optional<UpdateDialogState>>("expected");

    const UpdateDialogState failure =
        UpdateDialogState::failure(u"Не удалось открыть страницу загрузки. Повторите попытку позже."_s);
    QTest::newRow("the browser opens") << true << true << std::optional<UpdateDialogState>();
    QTest::newRow("the browser fails") << true << false << std::optional(failure);
    QTest::newRow("nothing to open with") << false << false << std::optional(failure);
}

void tst_UpdatesState::openUpdate()
{
    QFETCH(bool, hasOpener);
    QFETCH(bool, opens);
    QFETCH(std::optional<UpdateDialogState>, expected);

    QList<QUrl> opened;
    AppModelEnvironment environment = test::modelEnvironment(m_dir);
    if (hasOpener)
        environment.openURL = [&opened, opens](const QUrl& url) {
            opened.append(url);
            return opens;
        };
    AppModel model(std::move(environment));
    const AppUpdateManifest update = manifest(u"1.5"_s, 2);
    model.updates()->setDialog(UpdateDialogState::available(update));

    model.updates()->openUpdate(update);
    QCOMPARE(model.updates()->dialog(), expected);
    QCOMPARE(opened, hasOpener ? QList<QUrl>{update.downloadURL} : QList<QUrl>());
}

void tst_UpdatesState::downloadButtonOpensTheManifestAddress()
{
    QList<QUrl> opened;
    AppModelEnvironment environment = test::modelEnvironment(m_dir);
    environment.openURL = [&opened](const QUrl& url) {
        opened.append(url);
        return true;
    };
    AppModel model(std::move(environment));
    AppModel::setInstance(&model);
    const AppUpdateManifest update = manifest(u"1.5"_s, 2);
    model.updates()->setDialog(UpdateDialogState::available(update));

    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQml
        import Mirvo

        QtObject {
            readonly property string notes: AppModel.updates.dialog.manifest.releaseNotes.join("\n")
            readonly property real build: AppModel.updates.dialog.manifest.build
            function download() { AppModel.updates.openUpdate(AppModel.updates.dialog.manifest) }
        }
    )",
                      QUrl(u"qrc:/tst_updatesstate.qml"_s));
    std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(object->property("notes").toString(), u"Исправлены ошибки."_s);
    QCOMPARE(object->property("build").toInt(), 2);

    QVERIFY(QMetaObject::invokeMethod(object.get(), "download"));
    QCOMPARE(opened, QList<QUrl>{update.downloadURL});
    QVERIFY(!model.updates()->dialog());
    AppModel::setInstance(nullptr);
}

void tst_UpdatesState::clearCacheWithoutStoreOrCaches()
{
    AppModel model(test::blockedModelEnvironment(m_dir));
    QVERIFY(!model.store() && !model.artworkCache() && !model.faviconCache());
    const QString alert = model.alert();
    model.catalog()->setUpdatedAt(QDateTime::currentDateTimeUtc());
    model.updates()->setCacheSizeBytes(4096);
    QSignalSpy clearing(model.updates(), &UpdatesState::cacheClearingChanged);

    test::awaitTask(model.updates()->clearCache());
    QVERIFY(!model.catalog()->updatedAt().isValid());
    QCOMPARE(model.updates()->cacheSizeBytes(), 0);
    QVERIFY(!model.updates()->cacheClearing());
    QCOMPARE(clearing.count(), 2);
    QCOMPARE(model.alert(), alert);
}

void tst_UpdatesState::clearCacheRunsOnceAtATime()
{
    test::TemporaryDataDirectory dir;
    AppModel model(test::modelEnvironment(dir));
    model.store()->saveCatalog("1\tСбербанк\n", QDateTime::currentDateTimeUtc());
    const QDateTime updatedAt = QDateTime::currentDateTimeUtc();
    model.catalog()->setUpdatedAt(updatedAt);

    model.updates()->setCacheClearing(true);
    test::awaitTask(model.updates()->clearCache());
    QCOMPARE(model.catalog()->updatedAt(), updatedAt);
    QVERIFY(model.store()->cachedCatalog());
    QVERIFY(model.updates()->cacheClearing());
}

void tst_UpdatesState::cacheSizeAndClearing()
{
    test::TemporaryDataDirectory dir;
    // Store lookups for the catalog stay in flight, so that there is enrichment to cancel.
    auto http = std::make_shared<test::FakeHttpClient>();
    http->setDelay(30);
    AppModel model(environmentWith(dir, http));
    QVERIFY(model.store() && model.artworkCache() && model.faviconCache());

    const QByteArray catalog = "1\tСбербанк\tФинансы\n2\tВТБ\tФинансы\n";
    const QDateTime updatedAt = QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC);
    model.store()->saveCatalog(catalog, updatedAt);
    const QByteArray icon(3000, 'i');
    const QByteArray favicon(500, 'f');
    model.artworkCache()->store(icon, u"1"_s);
    model.artworkCache()->store(icon, u"2"_s);
    model.faviconCache()->store(favicon, u"1"_s);
    const QList<CatalogApp> apps{CatalogApp(u"1"_s, u"Сбербанк"_s, u"Финансы"_s, {}, 0, {}, {}, {}),
                                 CatalogApp(u"2"_s, u"ВТБ"_s, u"Финансы"_s, {}, 0, {}, {}, {})};
    model.catalog()->updateCatalog(apps);
    model.catalog()->setUpdatedAt(updatedAt);
    const TaskHandle enrichment = model.catalog()->metadataTask();
    QVERIFY(!enrichment.isEmpty() && !enrichment.isFinished());

    test::awaitTask(model.updates()->refreshCacheSize());
    const qint64 savedCatalog = model.store()->cacheSizeInBytes();
    QVERIFY(savedCatalog > bytesOf(catalog)); // the list and its date
    QCOMPARE(model.updates()->cacheSizeBytes(), savedCatalog + 2 * bytesOf(icon) + bytesOf(favicon));

    test::awaitTask(model.updates()->clearCache());
    QVERIFY(enrichment.isCancelled());
    QCOMPARE(model.updates()->cacheSizeBytes(), 0);
    QVERIFY(!model.updates()->cacheClearing());
    QVERIFY(model.alert().isEmpty());
    QVERIFY(!model.catalog()->updatedAt().isValid());
    QVERIFY(!model.store()->cachedCatalog());
    QVERIFY(!model.artworkCache()->cachedURL(u"1"_s));
    QVERIFY(!model.faviconCache()->cachedURL(u"1"_s));
    QVERIFY(QDir(model.artworkCache()->directory()).exists());
    QVERIFY(QDir(model.faviconCache()->directory()).exists());

    QTRY_VERIFY(enrichment.isFinished());
    QCOMPARE(model.catalog()->apps()->catalogApps(), apps);
    QCOMPARE(model.catalog()->apps()->rowCount(), 2);
    QVERIFY(dir.leftoverTemporaryFiles().isEmpty());
}

void tst_UpdatesState::clearingStopsAtTheCacheThatFails()
{
    test::TemporaryDataDirectory dir;
    AppModel model(test::modelEnvironment(dir));
    const QDateTime updatedAt = QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC);
    model.store()->saveCatalog("1\tСбербанк\n", updatedAt);
    model.catalog()->setUpdatedAt(updatedAt);
    model.artworkCache()->store(QByteArray(100, 'i'), u"1"_s);
    test::awaitTask(model.updates()->refreshCacheSize());
    const qint64 sizeBefore = model.updates()->cacheSizeBytes();
    // The favicon folder is gone from under the cache: clearing it fails.
    QVERIFY(QDir(model.faviconCache()->directory()).removeRecursively());

    test::awaitTask(model.updates()->clearCache());
    QVERIFY2(model.alert().startsWith(u"Не удалось сбросить кэш: "_s), qPrintable(model.alert()));
    QVERIFY(model.alert().size() > u"Не удалось сбросить кэш: "_s.size());
    QVERIFY(!model.updates()->cacheClearing());
    // What came before the failing cache is cleared; the rest of the steps are skipped.
    QVERIFY(!model.store()->cachedCatalog());
    QVERIFY(!model.artworkCache()->cachedURL(u"1"_s));
    QCOMPARE(model.catalog()->updatedAt(), updatedAt);
    QCOMPARE(model.updates()->cacheSizeBytes(), sizeBefore);
}

QTEST_MAIN(tst_UpdatesState)
#include "tst_updatesstate.moc"
