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

AppModelEnvironment environmentWith(const test::TemporaryDataDirectory& dir, std::shared_ptr<HttpClient> http,
                                    const QVariantMap& bundleValues = bundle(u"1.4.0"_s, u"27"_s))
{
    AppModelEnvironment environment = test::modelEnvironment(dir, bundleValues);
    environment.http = std::move(http);
    return environment;
}

// A client that answers every request with `body` after `delay` seconds; an empty body: offline.
std::shared_ptr<test::FakeHttpClient> serving(const QByteArray& body, double delay = 0)
{
    auto http = std::make_shared<test::FakeHttpClient>();
    if (!body.isEmpty())
        http->setAnswer([body](const HttpRequest&) { return test::FakeHttpClient::ok(body); });
    http->setDelay(delay);
    return http;
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

const QString unavailableText = AppUpdateServiceError::unavailable().errorDescription();

} // namespace

// The update check with its dialog, the download address, and the size and clearing of the caches.
class tst_UpdatesState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void manifestAddressFromBundleInfo_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QUrl>("expected");

        const QUrl fallback(u"https://mirvo.app/download/latest.json"_s);
        QTest::newRow("absent") << QVariant() << fallback;
        QTest::newRow("a number") << QVariant(42) << fallback;
        QTest::newRow("relative") << QVariant(u"latest.json"_s) << fallback;
        QTest::newRow("no host") << QVariant(u"file:///latest.json"_s) << fallback;
        QTest::newRow("a url") << QVariant(u"https://mirror.example/download/latest.json"_s)
                               << QUrl(u"https://mirror.example/download/latest.json"_s);
    }

    void manifestAddressFromBundleInfo()
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

    void runningVersionAndBuild_data()
    {
        QTest::addColumn<QVariant>("version");
        QTest::addColumn<QVariant>("build");
        QTest::addColumn<QString>("expectedVersion");
        QTest::addColumn<qint64>("expectedBuild");

        const QVariant one(u"1.0"_s);
        QTest::newRow("neither") << QVariant() << QVariant() << u"0.0.0"_s << qint64(0);
        QTest::newRow("version as a number")
            << QVariant(1.4) << QVariant(u"27"_s) << u"0.0.0"_s << qint64(27);
        QTest::newRow("build with a plus") << one << QVariant(u"+12"_s) << u"1.0"_s << qint64(12);
        QTest::newRow("negative build") << one << QVariant(u"-3"_s) << u"1.0"_s << qint64(-3);
        QTest::newRow("build with a space") << one << QVariant(u" 12"_s) << u"1.0"_s << qint64(0);
        QTest::newRow("build beyond 64 bits")
            << one << QVariant(u"9223372036854775808"_s) << u"1.0"_s << qint64(0);
        QTest::newRow("build as a number") << one << QVariant(12) << u"1.0"_s << qint64(0);
    }

    void runningVersionAndBuild()
    {
        QFETCH(QVariant, version);
        QFETCH(QVariant, build);

        AppModel model(test::modelEnvironment(m_dir, bundle(version, build)));
        QTEST(model.updates()->currentAppVersion(), "expectedVersion");
        QTEST(model.updates()->property("currentAppBuild").toLongLong(), "expectedBuild");
    }

    // A manual check over the real client against a loopback server, from the running build in the bundle.
    void manualCheck_data()
    {
        QTest::addColumn<QVariantMap>("running");
        QTest::addColumn<int>("status"); // 0: nothing listening
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<UpdateDialogState>("expected");

        const QString host = u"127.0.0.1"_s;
        const QVariantMap usual = bundle(u"1.4.0"_s, u"27"_s);
        const auto local = [&](const QString& version, qint64 build) {
            return manifestBody(version, build, host);
        };
        const auto available = [&](const QString& version, qint64 build) {
            return UpdateDialogState::available(manifest(version, build, host));
        };
        const UpdateDialogState unavailable = UpdateDialogState::failure(unavailableText);

        QTest::newRow("an update") << usual << 200 << local(u"1.5"_s, 2) << available(u"1.5"_s, 2);
        QTest::newRow("the running build")
            << usual << 200 << local(u"1.4"_s, 27) << UpdateDialogState::current(u"1.4.0"_s);
        QTest::newRow("a download elsewhere")
            << usual << 200 << manifestBody(u"1.5"_s, 1, u"mirvo.example"_s)
            << UpdateDialogState::failure(AppUpdateServiceError::invalidResponse().errorDescription());
        QTest::newRow("offline") << usual << 0 << QByteArray() << unavailable;
        QTest::newRow("404") << usual << 404 << local(u"1.5"_s, 2) << unavailable;
        QTest::newRow("empty body") << usual << 200 << QByteArray() << unavailable;
        QTest::newRow("70,000 bytes")
            << usual << 200 << local(u"1.5"_s, 2).leftJustified(70000, ' ') << unavailable;
        // The published build 1 of the running version is newer only than a build that counts as 0.
        QTest::newRow("build 12a") << bundle(u"1.4.0"_s, u"12a"_s) << 200 << local(u"1.4.0"_s, 1)
                                   << available(u"1.4.0"_s, 1);
        QTest::newRow("no short version, 0.1 published")
            << bundle({}, u"5"_s) << 200 << local(u"0.1"_s, 1) << available(u"0.1"_s, 1);
    }

    void manualCheck()
    {
        QFETCH(QVariantMap, running);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(UpdateDialogState, expected);

        test::LoopbackHttpServer server;
        server.setRoute("/download/latest.json", test::LoopbackHttpServer::Route::answering(status, body));
        QUrl address = server.url(u"/download/latest.json"_s);
        if (status == 0)
            address.setPort(test::LoopbackHttpServer::closedPort());
        running.insert(u"SolvenaUpdateManifestURL"_s, address.toString());
        AppModel model(environmentWith(m_dir, std::make_shared<NetworkHttpClient>(QString()), running));
        DialogRecorder recorder(model.updates());

        test::awaitTask(model.updates()->checkForUpdates(true));
        QCOMPARE(model.updates()->dialog(), std::optional(expected));
        QCOMPARE(recorder.kinds, (QList<Kind>{Kind::Checking, expected.kind}));
        QCOMPARE(recorder.checking, (QList<bool>{true, false}));
        QCOMPARE(server.requests().size(), status == 0 ? 0 : 1);
    }

    void automaticCheck_data()
    {
        QTest::addColumn<QByteArray>("body"); // empty: offline
        QTest::addColumn<bool>("findsUpdate");
        QTest::newRow("nothing new") << manifestBody(u"1.4.0"_s, 27) << false;
        QTest::newRow("an update") << manifestBody(u"1.5"_s, 3) << true;
        QTest::newRow("offline") << QByteArray() << false;
        QTest::newRow("an invalid manifest") << "{\"version\": \"9.0\"}"_ba << false;
    }

    // Only an update opens the dialog. The check runs once however often it is started, and a manual check
    // asked for meanwhile is dropped.
    void automaticCheck()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, findsUpdate);
        auto http = serving(body, 0.05);
        AppModel model(environmentWith(m_dir, http));
        UpdatesState* updates = model.updates();
        DialogRecorder recorder(updates);

        QVERIFY(updates->automaticCheck().isEmpty());
        updates->startAutomaticCheck();
        const quint64 first = updates->automaticCheck().serial();
        updates->startAutomaticCheck();
        QCOMPARE(updates->automaticCheck().serial(), first);
        QVERIFY(updates->checking());
        QVERIFY(updates->checkForUpdates(true).isReady());
        QVERIFY(!updates->dialog());
        QTRY_VERIFY(updates->automaticCheck().isFinished());

        QCOMPARE(recorder.checking, (QList<bool>{true, false}));
        QCOMPARE(recorder.kinds, findsUpdate ? QList<Kind>{Kind::Available} : QList<Kind>());
        if (findsUpdate)
            QCOMPARE(updates->dialog(), UpdateDialogState::available(manifest(u"1.5"_s, 3)));
        QCOMPARE(http->requests().size(), 1);
    }

    void stoppedCheckEndsQuietly_data()
    {
        QTest::addColumn<bool>("manual"); // a manual check stopped, or the automatic one ended by shutdown()
        QTest::addColumn<QList<Kind>>("expectedKinds");
        QTest::newRow("manual, stopped") << true << QList<Kind>{Kind::Checking, Kind::None};
        QTest::newRow("automatic, shut down") << false << QList<Kind>();
    }

    void stoppedCheckEndsQuietly()
    {
        QFETCH(bool, manual);
        AppModel model(environmentWith(m_dir, serving(manifestBody(u"2.0"_s, 1), 30)));
        UpdatesState* updates = model.updates();
        DialogRecorder recorder(updates);

        if (manual) {
            std::stop_source stop;
            QCoro::Task<> check = updates->checkForUpdates(true, stop.get_token());
            QCOMPARE(updates->dialog(), UpdateDialogState::checking());
            stop.request_stop();
            test::awaitTask(std::move(check), 5000);
        } else {
            updates->startAutomaticCheck();
            QVERIFY(updates->checking());
            model.shutdown();
            QTRY_VERIFY(updates->automaticCheck().isFinished());
        }
        QTEST(recorder.kinds, "expectedKinds");
        QVERIFY(!updates->checking());
    }

    // A browser that fails to open, and none at all.
    void openUpdateFailure()
    {
        for (const bool hasOpener : {true, false}) {
            QList<QUrl> opened;
            AppModelEnvironment environment = test::modelEnvironment(m_dir);
            if (hasOpener)
                environment.openURL = [&opened](const QUrl& url) {
                    opened.append(url);
                    return false;
                };
            AppModel model(std::move(environment));
            const AppUpdateManifest update = manifest(u"1.5"_s, 2);
            model.updates()->setDialog(UpdateDialogState::available(update));

            model.updates()->openUpdate(update);
            QCOMPARE(model.updates()->dialog(),
                     UpdateDialogState::failure(
                         u"Не удалось открыть страницу загрузки. Повторите попытку позже."_s));
            QCOMPARE(opened, hasOpener ? QList<QUrl>{update.downloadURL} : QList<QUrl>());
        }
    }

    void downloadButtonOpensTheManifestAddress()
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
        // Plain literals: moc skips a class that holds a multi-line raw string.
        component.setData(
            "import QtQml\nimport Mirvo\nQtObject {\n"
            "  readonly property string notes: AppModel.updates.dialog.manifest.releaseNotes.join(' ')\n"
            "  readonly property real build: AppModel.updates.dialog.manifest.build\n"
            "  function download() { AppModel.updates.openUpdate(AppModel.updates.dialog.manifest) }\n"
            "}\n",
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

    void clearCacheWithoutStoreOrCaches()
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

    void cacheSizeAndClearing()
    {
        test::TemporaryDataDirectory dir;
        // Store lookups for the catalog stay in flight, so that there is enrichment to cancel.
        AppModel model(environmentWith(dir, serving({}, 30)));
        QVERIFY(model.store() && model.artworkCache() && model.faviconCache());

        const QByteArray catalog = "1\tСбербанк\tФинансы\n2\tВТБ\tФинансы\n";
        const QDateTime updatedAt = QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC);
        model.store()->saveCatalog(catalog, updatedAt);
        model.artworkCache()->store(QByteArray(3000, 'i'), u"1"_s);
        model.artworkCache()->store(QByteArray(3000, 'i'), u"2"_s);
        model.faviconCache()->store(QByteArray(500, 'f'), u"1"_s);
        const QList<CatalogApp> apps{CatalogApp(u"1"_s, u"Сбербанк"_s, u"Финансы"_s, {}, 0, {}, {}, {}),
                                     CatalogApp(u"2"_s, u"ВТБ"_s, u"Финансы"_s, {}, 0, {}, {}, {})};
        model.catalog()->updateCatalog(apps);
        model.catalog()->setUpdatedAt(updatedAt);
        const TaskHandle enrichment = model.catalog()->metadataTask();
        QVERIFY(!enrichment.isEmpty() && !enrichment.isFinished());

        test::awaitTask(model.updates()->refreshCacheSize());
        const qint64 savedCatalog = model.store()->cacheSizeInBytes();
        QVERIFY(savedCatalog > catalog.size()); // the list and its date
        QCOMPARE(model.updates()->cacheSizeBytes(), savedCatalog + 2 * 3000 + 500);

        // One clearing at a time: a second one while the first runs does nothing.
        model.updates()->setCacheClearing(true);
        test::awaitTask(model.updates()->clearCache());
        QVERIFY(model.store()->cachedCatalog());
        QCOMPARE(model.catalog()->updatedAt(), updatedAt);
        model.updates()->setCacheClearing(false);

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

        // The catalog on screen stays as it was.
        QTRY_VERIFY(enrichment.isFinished());
        QCOMPARE(model.catalog()->apps()->catalogApps(), apps);
        QCOMPARE(model.catalog()->apps()->rowCount(), 2);
        QVERIFY(dir.leftoverTemporaryFiles().isEmpty());
    }

    void clearingStopsAtTheCacheThatFails()
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
        const QString prefix = u"Не удалось сбросить кэш: "_s;
        QVERIFY2(model.alert().startsWith(prefix) && model.alert().size() > prefix.size(),
                 qPrintable(model.alert()));
        QVERIFY(!model.updates()->cacheClearing());
        // What came before the failing cache is cleared; the rest of the steps are skipped.
        QVERIFY(!model.store()->cachedCatalog());
        QVERIFY(!model.artworkCache()->cachedURL(u"1"_s));
        QCOMPARE(model.catalog()->updatedAt(), updatedAt);
        QCOMPARE(model.updates()->cacheSizeBytes(), sizeBefore);
    }

private:
    test::TemporaryDataDirectory m_dir;
};

QTEST_MAIN(tst_UpdatesState)
#include "tst_updatesstate.moc"
