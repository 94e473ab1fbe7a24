#include "AppUpdateService.h"
#include "AppUpdateServiceError.h"
#include "AwaitTask.h"
#include "CancelledError.h"
#include "FakeHttpClient.h"
#include "SystemError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString digest = u"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"_s;

const QUrl manifestURL(u"https://mirvo.app/download/latest.json"_s);

// Version 1.4.0, build 27.
QJsonObject manifestObject()
{
    return QJsonObject{
        {u"version"_s, u"1.4.0"_s},
        {u"build"_s, 27},
        {u"minimumSystemVersion"_s, u"13.0"_s},
        {u"architecture"_s, u"universal"_s},
        {u"downloadURL"_s, u"https://mirvo.app/download/Mirvo-1.4.0.dmg"_s},
        {u"sha256"_s, digest},
        {u"sizeBytes"_s, 48213776},
        {u"publishedAt"_s, u"2026-03-01T10:00:00Z"_s},
        {u"releaseNotes"_s, QJsonArray{u"Исправлены ошибки."_s, u"Быстрее поиск."_s}},
    };
}

QByteArray toJson(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// An undefined value removes the member.
QByteArray manifestWith(const QString& key, const QJsonValue& value)
{
    QJsonObject object = manifestObject();
    object.insert(key, value);
    return toJson(object);
}

std::shared_ptr<FakeHttpClient> servingTheManifest()
{
    return std::make_shared<FakeHttpClient>(
        [](const HttpRequest&) { return FakeHttpClient::ok(toJson(manifestObject())); });
}

// The manifest with one piece of its text replaced, for what a JSON object cannot hold (27.0, say).
QByteArray manifestText(const QByteArray& from, const QByteArray& to)
{
    QByteArray text = toJson(manifestObject());
    Q_ASSERT(text.contains(from));
    return text.replace(from, to);
}

// "available", "current" or the kind of error, for comparing outcomes in tables.
QString outcome(const std::function<AppUpdateCheckResult()>& run)
{
    try {
        return run().isAvailable() ? u"available"_s : u"current"_s;
    } catch (const AppUpdateServiceError& error) {
        return error.kind() == AppUpdateServiceError::Kind::Unavailable ? u"unavailable"_s : u"invalid"_s;
    } catch (const CancelledError&) {
        return u"cancelled"_s;
    }
}

QString checkOutcome(const AppUpdateService& service, const QString& version = u"1.3"_s, qint64 build = 1)
{
    return outcome([&] { return awaitTask(service.check(version, build)); });
}

} // namespace

// The update manifest: its decoding, every rule it must keep, the version order, and the request. The error
// texts are checked where they reach the user (the hostile-server and update-dialog tests).
class tst_AppUpdateService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void evaluate_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("currentVersion");
        QTest::addColumn<qint64>("currentBuild");
        QTest::addColumn<QString>("trustedHost"); // empty for none
        QTest::addColumn<QString>("expected");

        const QByteArray manifest = toJson(manifestObject());
        const QString host = u"mirvo.app"_s;
        const QString available = u"available"_s;
        const QString invalid = u"invalid"_s;
        const auto row = [&](const char* name, const QByteArray& body, const QString& version, qint64 build,
                             const QString& expected) {
            QTest::newRow(name) << body << version << build << host << expected;
        };
        // Against a running 1.0, build 1: only the manifest's own validity decides.
        const auto check = [&](const char* name, const QByteArray& body, const QString& expected) {
            row(name, body, u"1.0"_s, 1, expected);
        };
        const auto version = [](const QString& text) { return manifestWith(u"version"_s, text); };
        const auto download = [](const QString& path) {
            return manifestWith(u"downloadURL"_s, path.contains(u':') ? path : u"https://mirvo.app"_s + path);
        };
        const auto withDigest = [](const QString& text) { return manifestWith(u"sha256"_s, text); };

        // Versions and builds.
        row("newer build of the same version", manifest, u"1.4"_s, 26, available);
        row("the running build", manifest, u"1.4.0"_s, 27, u"current"_s);
        row("a newer build running", manifest, u"1.4.0"_s, 30, u"current"_s);
        row("a newer version, however low its build", manifest, u"1.5"_s, 0, u"current"_s);
        row("a newer version, lower build", manifest, u"1.3.9"_s, 400, available);
        row("1.10 over 1.9", version(u"1.10"_s), u"1.9"_s, 27, available);
        row("2 over 1.99", version(u"2"_s), u"1.99"_s, 27, available);
        row("1.4.0.1 over 1.4", version(u"1.4.0.1"_s), u"1.4"_s, 27, available);
        row("five components", version(u"2.0.0.0.1"_s), u"1.9.9"_s, 1, invalid);
        row("running version unreadable", manifest, u"1.4-beta"_s, 1, invalid);
        check("build 0", manifestWith(u"build"_s, 0), invalid);
        row("build written 27.0", manifestText("\"build\":27", "\"build\":27.0"), u"1.4.0"_s, 26, available);

        // The download address.
        check("http", download(u"http://mirvo.app/download/Mirvo-1.4.0.dmg"_s), invalid);
        check("another host", download(u"https://mirvo.example/download/Mirvo-1.4.0.dmg"_s), invalid);
        check("a subdomain", download(u"https://cdn.mirvo.app/download/Mirvo-1.4.0.dmg"_s), invalid);
        check("host in capitals", download(u"https://MIRVO.App/download/Mirvo-1.4.0.dmg"_s), available);
        check("another port on the host", download(u"https://mirvo.app:8443/download/Mirvo-1.4.0.dmg"_s),
              available);
        check("/Download/ in capitals", download(u"/Download/app.dmg"_s), invalid);
        check("/download without its slash", download(u"/downloads.dmg"_s), invalid);
        check(".DMG", download(u"/download/Mirvo-1.4.0.DMG"_s), available);
        check("dmg as a folder name", download(u"/download/Mirvo.dmg/readme.txt"_s), invalid);
        check("a query after the file", download(u"/download/Mirvo.dmg?from=app"_s), available);
        check("not a URL", download(u"https://mirvo app/download/Mirvo.dmg"_s), invalid);

        // Digest, size and the texts that must not be empty.
        check("63-character digest", withDigest(digest.left(63)), invalid);
        check("65-character digest", withDigest(digest + u'0'), invalid);
        check("digest with g", withDigest(u'g' + digest.mid(1)), invalid);
        check("upper-case digest", withDigest(digest.toUpper()), available);
        check("full-width digest", withDigest(QString(64, QChar(0xFF21))), available);
        check("digest with a combining mark", withDigest(digest.left(63) + u"a\u0301"_s), invalid);
        check("sizeBytes 0", manifestWith(u"sizeBytes"_s, 0), invalid);
        check("sizeBytes over 32 bits", manifestWith(u"sizeBytes"_s, qint64(5'000'000'000)), available);
        check("empty architecture", manifestWith(u"architecture"_s, QString()), invalid);
        check("empty minimumSystemVersion", manifestWith(u"minimumSystemVersion"_s, QString()), invalid);
        check("empty publishedAt", manifestWith(u"publishedAt"_s, QString()), available);
        check("no release notes", manifestWith(u"releaseNotes"_s, QJsonArray()), available);

        // Decoding.
        for (const QString& key : manifestObject().keys()) {
            QTest::addRow("without %s", qPrintable(key))
                << manifestWith(key, QJsonValue::Undefined) << u"1.0"_s << qint64(1) << host << invalid;
            QTest::addRow("%s null", qPrintable(key))
                << manifestWith(key, QJsonValue::Null) << u"1.0"_s << qint64(1) << host << invalid;
        }
        // A wrong type for every member is its "null" row above.
        check("build as a string", manifestWith(u"build"_s, u"27"_s), invalid);
        check("build 27.5", manifestText("\"build\":27", "\"build\":27.5"), invalid);
        check("build beyond 64 bits", manifestText("\"build\":27", "\"build\":9223372036854775808"), invalid);
        check("a number among the release notes", manifestWith(u"releaseNotes"_s, QJsonArray{u"Новое"_s, 1}),
              invalid);
        check("an unknown member", manifestWith(u"channel"_s, u"beta"_s), available);
        check("not JSON", "<html>502 Bad Gateway</html>", invalid);
        check("an array", "[" + manifest + "]", invalid);
        check("an empty body", QByteArray(), invalid);

        // The trusted host.
        const QByteArray noHost = download(u"https:/download/Mirvo-1.4.0.dmg"_s);
        QTest::newRow("trusted host in capitals")
            << manifest << u"1.0"_s << qint64(1) << u"MIRVO.APP"_s << available;
        QTest::newRow("no trusted host") << manifest << u"1.0"_s << qint64(1) << QString() << invalid;
        QTest::newRow("no host on either side") << noHost << u"1.0"_s << qint64(1) << QString() << available;
        check("a trusted host and none in the address", noHost, invalid);
    }

    void evaluate()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, currentVersion);
        QFETCH(qint64, currentBuild);
        QFETCH(QString, trustedHost);
        QFETCH(QString, expected);

        const std::optional<QString> trusted =
            trustedHost.isEmpty() ? std::nullopt : std::optional(trustedHost);
        QCOMPARE(
            outcome([&] { return AppUpdateService::evaluate(body, currentVersion, currentBuild, trusted); }),
            expected);
    }

    void availableCarriesTheWholeManifest()
    {
        const AppUpdateCheckResult result =
            AppUpdateService::evaluate(toJson(manifestObject()), u"1.4"_s, 26, u"mirvo.app"_s);
        QVERIFY(result.isAvailable());
        const AppUpdateManifest expected{u"1.4.0"_s,
                                         27,
                                         u"13.0"_s,
                                         u"universal"_s,
                                         QUrl(u"https://mirvo.app/download/Mirvo-1.4.0.dmg"_s),
                                         digest,
                                         48213776,
                                         u"2026-03-01T10:00:00Z"_s,
                                         {u"Исправлены ошибки."_s, u"Быстрее поиск."_s}};
        QCOMPARE(result.manifest(), std::optional(expected));
        QCOMPARE(result.manifest()->id(), u"1.4.0-27"_s);
    }

    void versionComponents_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QList<qint64>>("components");

        const auto readable = [](const char* name, const QString& text, const QList<qint64>& components) {
            QTest::newRow(name) << text << true << components;
        };
        const auto unreadable = [](const char* name, const QString& text) {
            QTest::newRow(name) << text << false << QList<qint64>();
        };
        readable("three", u"1.4.0"_s, {1, 4, 0});
        readable("four", u"1.2.3.4"_s, {1, 2, 3, 4});
        readable("leading zeros", u"01.002"_s, {1, 2});
        readable("lower-case v", u"v2.0"_s, {2, 0});
        readable("Unicode white space around", u"\u00a01.2\u2028"_s, {1, 2});
        readable("largest 64-bit value", u"9223372036854775807"_s, {Q_INT64_C(9223372036854775807)});
        unreadable("five", u"1.2.3.4.5"_s);
        unreadable("empty", QString());
        // A sign that a number parser would take.
        unreadable("plus sign", u"+1.2"_s);
        unreadable("upper-case V", u"V2.0"_s);
        unreadable("two v", u"vv2.0"_s);
        unreadable("space after v", u" v 2.0"_s);
        unreadable("full-width digit", u"1.\uff12"_s);
        unreadable("too large", u"9223372036854775808"_s);
    }

    void versionComponents()
    {
        QFETCH(QString, text);
        QFETCH(bool, readable);
        QFETCH(QList<qint64>, components);

        const std::optional<QList<qint64>> result = AppUpdateService::versionComponents(text);
        QCOMPARE(result.has_value(), readable);
        if (readable)
            QCOMPARE(*result, components);
    }

    void requestAsksForAFreshManifest()
    {
        auto http = servingTheManifest();
        const AppUpdateService service(manifestURL, http);

        QCOMPARE(checkOutcome(service), u"available"_s);
        QCOMPARE(http->requests().size(), 1);
        const HttpRequest& request = http->requests().constFirst();
        QCOMPARE(request.url, manifestURL);
        QCOMPARE(request.timeout, 10.0);
        QCOMPARE(request.cachePolicy, HttpRequest::CachePolicy::ReloadIgnoringCache);
        QCOMPARE(request.maxBodyBytes, qint64(65536));
        const QList<std::pair<QByteArray, QByteArray>> headers{{"Cache-Control", "no-cache"},
                                                               {"Accept", "application/json"}};
        QCOMPARE(request.headers, headers);

        // Every check is a request of its own.
        QCOMPARE(checkOutcome(service), u"available"_s);
        QCOMPARE(http->requests().size(), 2);
    }

    void answers_data()
    {
        QTest::addColumn<bool>("reachable");
        QTest::addColumn<int>("status"); // -1: the answer was not HTTP; -2: no client at all
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("tooLarge");
        QTest::addColumn<QString>("expected");

        const QByteArray manifest = toJson(manifestObject());
        QTest::newRow("another 2xx") << true << 203 << manifest << false << u"available"_s;
        QTest::newRow("unreachable") << false << 0 << QByteArray() << false << u"unavailable"_s;
        QTest::newRow("no client") << false << -2 << QByteArray() << false << u"unavailable"_s;
        QTest::newRow("not HTTP") << true << -1 << manifest << false << u"unavailable"_s;
        QTest::newRow("304") << true << 304 << manifest << false << u"unavailable"_s;
        QTest::newRow("over the cap") << true << 200 << QByteArray() << true << u"unavailable"_s;
        QTest::newRow("one byte over, not flagged")
            << true << 200 << manifest.leftJustified(65537, ' ') << false << u"unavailable"_s;
        QTest::newRow("exactly at the cap")
            << true << 200 << manifest.leftJustified(65536, ' ') << false << u"available"_s;
    }

    void answers()
    {
        QFETCH(bool, reachable);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, tooLarge);
        QFETCH(QString, expected);

        auto http = std::make_shared<FakeHttpClient>();
        if (reachable)
            http->setAnswer([=](const HttpRequest&) {
                return HttpResponse{status < 0 ? std::nullopt : std::optional(status), body, tooLarge};
            });
        const AppUpdateService service(manifestURL, status == -2 ? nullptr : http);
        QCOMPARE(checkOutcome(service), expected);
    }

    void stopThrowsCancelled()
    {
        auto http = servingTheManifest();
        http->setDelay(30);
        const AppUpdateService service(manifestURL, http);
        std::stop_source stop;
        QCoro::Task<AppUpdateCheckResult> check = service.check(u"1.0"_s, 1, stop.get_token());
        QTimer::singleShot(0, [&stop] { stop.request_stop(); });
        QCOMPARE(outcome([&] { return awaitTask(std::move(check), 5000); }), u"cancelled"_s);
    }

    void stopReportedAsTransportFailureIsStillAStop()
    {
        std::stop_source stop;
        auto http = std::make_shared<FakeHttpClient>([&stop](const HttpRequest&) -> HttpResponse {
            stop.request_stop();
            throw SystemError(u"Соединение разорвано."_s);
        });
        const AppUpdateService service(manifestURL, http);
        QCOMPARE(outcome([&] { return awaitTask(service.check(u"1.0"_s, 1, stop.get_token())); }),
                 u"cancelled"_s);
    }

    void serviceMayGoWhileChecking()
    {
        auto http = servingTheManifest();
        http->setDelay(0.05);
        auto service = std::make_unique<AppUpdateService>(manifestURL, http);
        QCoro::Task<AppUpdateCheckResult> check = service->check(u"1.0"_s, 1);
        service.reset();
        QVERIFY(awaitTask(std::move(check)).isAvailable());
    }
};

QTEST_MAIN(tst_AppUpdateService)
#include "tst_appupdateservice.moc"
