#include "AppUpdateService.h"
#include "AppUpdateServiceError.h"
#include "AwaitTask.h"
#include "CancelledError.h"
#include "FakeHttpClient.h"
#include "LoopbackHttpServer.h"
#include "NetworkHttpClient.h"
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

// Version 1.4.0, build 27, to be downloaded from `host`.
QJsonObject manifestObject(const QString& host = u"mirvo.app"_s)
{
    return QJsonObject{
        {u"version"_s, u"1.4.0"_s},
        {u"build"_s, 27},
        {u"minimumSystemVersion"_s, u"13.0"_s},
        {u"architecture"_s, u"universal"_s},
        {u"downloadURL"_s, QString(u"https://"_s + host + u"/download/Mirvo-1.4.0.dmg"_s)},
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

QByteArray manifestWith(const QString& key, const QJsonValue& value)
{
    QJsonObject object = manifestObject();
    object.insert(key, value);
    return toJson(object);
}

QByteArray manifestWithout(const QString& key)
{
    QJsonObject object = manifestObject();
    object.remove(key);
    return toJson(object);
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

// The update manifest: its decoding, every rule it must keep, the version order, and the request.
class tst_AppUpdateService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void evaluate_data();
    void evaluate();
    void availableCarriesTheWholeManifest();
    void versionComponents_data();
    void versionComponents();
    void compare_data();
    void compare();
    void errorsDescribeThemselves();

    void requestAsksForAFreshManifest();
    void answers_data();
    void answers();
    void noClientIsUnavailable();
    void stopThrowsCancelled();
    void stopReportedAsTransportFailureIsStillAStop();
    void serviceMayGoWhileChecking();

    void overLoopback_data();
    void overLoopback();
};

void tst_AppUpdateService::evaluate_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("currentVersion");
    QTest::addColumn<qint64>("currentBuild");
    QTest::addColumn<QString>("trustedHost"); // empty for none
    QTest::addColumn<QString>("expected");

    const QByteArray manifest = toJson(manifestObject());
    const QString host = u"mirvo.app"_s;
    const auto row = [&](const char* name, const QByteArray& body, const QString& version, qint64 build,
                         const QString& expected) {
        QTest::newRow(name) << body << version << build << host << expected;
    };
    const auto version = [](const QString& text) { return manifestWith(u"version"_s, text); };
    const auto download = [](const QString& url) { return manifestWith(u"downloadURL"_s, url); };

    // Versions and builds.
    row("newer build of the same version", manifest, u"1.4"_s, 26, u"available"_s);
    row("the running build", manifest, u"1.4.0"_s, 27, u"current"_s);
    row("a newer build running", manifest, u"1.4.0"_s, 30, u"current"_s);
    row("a newer version running", manifest, u"1.5"_s, 1, u"current"_s);
    row("an older version, however high its build", manifest, u"1.5"_s, 0, u"current"_s);
    row("a newer version, lower build", manifest, u"1.3.9"_s, 400, u"available"_s);
    row("v2.0 over 1.9.9", version(u"v2.0"_s), u"1.9.9"_s, 27, u"available"_s);
    row("1.10 over 1.9", version(u"1.10"_s), u"1.9"_s, 27, u"available"_s);
    row("four components", version(u"2.0.0.1"_s), u"2.0"_s, 27, u"available"_s);
    row("five components", version(u"2.0.0.0.1"_s), u"1.9.9"_s, 1, u"invalid"_s);
    row("version 1..2", version(u"1..2"_s), u"1.0"_s, 1, u"invalid"_s);
    row("empty version", version(QString()), u"1.0"_s, 1, u"invalid"_s);
    row("version 1.-2", version(u"1.-2"_s), u"1.0"_s, 1, u"invalid"_s);
    row("capital V", version(u"V2.0"_s), u"1.0"_s, 1, u"invalid"_s);
    row("version with spaces around", version(u" 2.0\n"_s), u"1.0"_s, 1, u"available"_s);
    row("running version unreadable", manifest, u"1.4-beta"_s, 1, u"invalid"_s);
    row("running version v-prefixed", manifest, u"v1.4"_s, 26, u"available"_s);
    row("build 0", manifestWith(u"build"_s, 0), u"1.0"_s, 0, u"invalid"_s);
    row("build -1", manifestWith(u"build"_s, -1), u"1.0"_s, 0, u"invalid"_s);
    row("build written 27.0", manifestText("\"build\":27", "\"build\":27.0"), u"1.4.0"_s, 26, u"available"_s);

    // The download address.
    row("http", download(u"http://mirvo.app/download/Mirvo-1.4.0.dmg"_s), u"1.0"_s, 1, u"invalid"_s);
    row("scheme in capitals", download(u"HTTPS://mirvo.app/download/Mirvo-1.4.0.dmg"_s), u"1.0"_s, 1,
        u"available"_s);
    row("another host", download(u"https://mirvo.example/download/Mirvo-1.4.0.dmg"_s), u"1.0"_s, 1,
        u"invalid"_s);
    row("a subdomain", download(u"https://cdn.mirvo.app/download/Mirvo-1.4.0.dmg"_s), u"1.0"_s, 1,
        u"invalid"_s);
    row("host in capitals", download(u"https://MIRVO.App/download/Mirvo-1.4.0.dmg"_s), u"1.0"_s, 1,
        u"available"_s);
    row("another port on the host", download(u"https://mirvo.app:8443/download/Mirvo-1.4.0.dmg"_s), u"1.0"_s,
        1, u"available"_s);
    row("outside /download/", download(u"https://mirvo.app/files/app.dmg"_s), u"1.0"_s, 1, u"invalid"_s);
    row("/Download/ in capitals", download(u"https://mirvo.app/Download/app.dmg"_s), u"1.0"_s, 1,
        u"invalid"_s);
    row("/download without its slash", download(u"https://mirvo.app/downloads.dmg"_s), u"1.0"_s, 1,
        u"invalid"_s);
    row(".zip", download(u"https://mirvo.app/download/Mirvo-1.4.0.zip"_s), u"1.0"_s, 1, u"invalid"_s);
    row(".DMG", download(u"https://mirvo.app/download/Mirvo-1.4.0.DMG"_s), u"1.0"_s, 1, u"available"_s);
    row("no extension", download(u"https://mirvo.app/download/Mirvo"_s), u"1.0"_s, 1, u"invalid"_s);
    row("dmg as a folder name", download(u"https://mirvo.app/download/Mirvo.dmg/readme.txt"_s), u"1.0"_s, 1,
        u"invalid"_s);
    row("a query after the file", download(u"https://mirvo.app/download/Mirvo.dmg?from=app"_s), u"1.0"_s, 1,
        u"available"_s);
    row("not a URL", download(u"https://mirvo app/download/Mirvo.dmg"_s), u"1.0"_s, 1, u"invalid"_s);
    row("an empty address", download(QString()), u"1.0"_s, 1, u"invalid"_s);

    // Digest, size and the texts that must not be empty.
    row("63-character digest", manifestWith(u"sha256"_s, digest.left(63)), u"1.0"_s, 1, u"invalid"_s);
    row("65-character digest", manifestWith(u"sha256"_s, QString(digest + u'0')), u"1.0"_s, 1, u"invalid"_s);
    row("digest with g", manifestWith(u"sha256"_s, QString(u'g' + digest.mid(1))), u"1.0"_s, 1, u"invalid"_s);
    row("upper-case digest", manifestWith(u"sha256"_s, digest.toUpper()), u"1.0"_s, 1, u"available"_s);
    row("full-width digest", manifestWith(u"sha256"_s, QString(64, QChar(0xFF21))), u"1.0"_s, 1,
        u"available"_s);
    row("digest with a combining mark", manifestWith(u"sha256"_s, QString(digest.left(63) + u"a\u0301"_s)),
        u"1.0"_s, 1, u"invalid"_s);
    row("sizeBytes 0", manifestWith(u"sizeBytes"_s, 0), u"1.0"_s, 1, u"invalid"_s);
    row("sizeBytes over 32 bits", manifestWith(u"sizeBytes"_s, qint64(5'000'000'000)), u"1.0"_s, 1,
        u"available"_s);
    row("empty architecture", manifestWith(u"architecture"_s, QString()), u"1.0"_s, 1, u"invalid"_s);
    row("empty minimumSystemVersion", manifestWith(u"minimumSystemVersion"_s, QString()), u"1.0"_s, 1,
        u"invalid"_s);
    row("empty publishedAt", manifestWith(u"publishedAt"_s, QString()), u"1.0"_s, 1, u"available"_s);
    row("no release notes", manifestWith(u"releaseNotes"_s, QJsonArray()), u"1.0"_s, 1, u"available"_s);

    // Decoding.
    for (const QString& key : manifestObject().keys()) {
        QTest::addRow("without %s", qPrintable(key))
            << manifestWithout(key) << u"1.0"_s << qint64(1) << host << u"invalid"_s;
        QTest::addRow("%s null", qPrintable(key))
            << manifestWith(key, QJsonValue::Null) << u"1.0"_s << qint64(1) << host << u"invalid"_s;
    }
    row("build as a string", manifestWith(u"build"_s, u"27"_s), u"1.0"_s, 1, u"invalid"_s);
    row("build 27.5", manifestText("\"build\":27", "\"build\":27.5"), u"1.0"_s, 1, u"invalid"_s);
    row("build true", manifestWith(u"build"_s, true), u"1.0"_s, 1, u"invalid"_s);
    row("build beyond 64 bits", manifestText("\"build\":27", "\"build\":9223372036854775808"), u"1.0"_s, 1,
        u"invalid"_s);
    row("sizeBytes as a string", manifestWith(u"sizeBytes"_s, u"48213776"_s), u"1.0"_s, 1, u"invalid"_s);
    row("version as a number", manifestWith(u"version"_s, 2), u"1.0"_s, 1, u"invalid"_s);
    row("release notes as a string", manifestWith(u"releaseNotes"_s, u"Исправлены ошибки."_s), u"1.0"_s, 1,
        u"invalid"_s);
    row("a number among the release notes", manifestWith(u"releaseNotes"_s, QJsonArray{u"Новое"_s, 1}),
        u"1.0"_s, 1, u"invalid"_s);
    row("an unknown member", manifestWith(u"channel"_s, u"beta"_s), u"1.0"_s, 1, u"available"_s);
    row("not JSON", "<html>502 Bad Gateway</html>", u"1.0"_s, 1, u"invalid"_s);
    row("an array", "[" + manifest + "]", u"1.0"_s, 1, u"invalid"_s);
    row("trailing text", manifest + " and more", u"1.0"_s, 1, u"invalid"_s);
    row("an empty body", QByteArray(), u"1.0"_s, 1, u"invalid"_s);

    // The trusted host.
    QTest::newRow("trusted host in capitals")
        << manifest << u"1.0"_s << qint64(1) << u"MIRVO.APP"_s << u"available"_s;
    QTest::newRow("no trusted host") << manifest << u"1.0"_s << qint64(1) << QString() << u"invalid"_s;
    QTest::newRow("no host on either side") << download(u"https:/download/Mirvo-1.4.0.dmg"_s) << u"1.0"_s
                                            << qint64(1) << QString() << u"available"_s;
    QTest::newRow("a trusted host and none in the address")
        << download(u"https:/download/Mirvo-1.4.0.dmg"_s) << u"1.0"_s << qint64(1) << host << u"invalid"_s;
}

void tst_AppUpdateService::evaluate()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, currentVersion);
    QFETCH(qint64, currentBuild);
    QFETCH(QString, trustedHost);
    QFETCH(QString, expected);

    const std::optional<QString> trusted = trustedHost.isEmpty() ? std::nullopt : std::optional(trustedHost);
    QCOMPARE(outcome([&] { return AppUpdateService::evaluate(body, currentVersion, currentBuild, trusted); }),
             expected);
}

void tst_AppUpdateService::availableCarriesTheWholeManifest()
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
    QCOMPARE(result, AppUpdateCheckResult::available(expected));
    QVERIFY(!(result == AppUpdateCheckResult::current()));
    QCOMPARE(AppUpdateService::evaluate(toJson(manifestObject()), u"1.4.0"_s, 27, u"mirvo.app"_s),
             AppUpdateCheckResult::current());
}

void tst_AppUpdateService::versionComponents_data()
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
    readable("one", u"7"_s, {7});
    readable("four", u"1.2.3.4"_s, {1, 2, 3, 4});
    readable("leading zeros", u"01.002"_s, {1, 2});
    readable("lower-case v", u"v2.0"_s, {2, 0});
    readable("white space and newlines around", u" \t1.2\n"_s, {1, 2});
    readable("no-break space around", u"\u00a01.2\u2028"_s, {1, 2});
    readable("largest 64-bit value", u"9223372036854775807"_s, {Q_INT64_C(9223372036854775807)});
    unreadable("five", u"1.2.3.4.5"_s);
    unreadable("empty", QString());
    unreadable("only white space", u"  "_s);
    unreadable("empty piece", u"1..2"_s);
    unreadable("trailing dot", u"1."_s);
    unreadable("leading dot", u".1"_s);
    unreadable("negative piece", u"1.-2"_s);
    unreadable("plus sign", u"+1.2"_s);
    unreadable("upper-case V", u"V2.0"_s);
    unreadable("two v", u"vv2.0"_s);
    unreadable("v alone", u"v"_s);
    unreadable("space after v", u" v 2.0"_s);
    unreadable("letters", u"1.4-beta"_s);
    unreadable("space inside", u"1 .2"_s);
    unreadable("full-width digit", u"1.\uff12"_s);
    unreadable("Arabic-Indic digits", u"\u0661.\u0662"_s);
    unreadable("too large", u"9223372036854775808"_s);
}

void tst_AppUpdateService::versionComponents()
{
    QFETCH(QString, text);
    QFETCH(bool, readable);
    QFETCH(QList<qint64>, components);

    const std::optional<QList<qint64>> result = AppUpdateService::versionComponents(text);
    QCOMPARE(result.has_value(), readable);
    if (readable)
        QCOMPARE(*result, components);
}

void tst_AppUpdateService::compare_data()
{
    QTest::addColumn<QList<qint64>>("a");
    QTest::addColumn<QList<qint64>>("b");
    QTest::addColumn<int>("expected");

    QTest::newRow("1.2 and 1.2.0") << QList<qint64>{1, 2} << QList<qint64>{1, 2, 0} << 0;
    QTest::newRow("1.10 and 1.9") << QList<qint64>{1, 10} << QList<qint64>{1, 9} << 1;
    QTest::newRow("1.9 and 1.10") << QList<qint64>{1, 9} << QList<qint64>{1, 10} << -1;
    QTest::newRow("2 and 1.99") << QList<qint64>{2} << QList<qint64>{1, 99} << 1;
    QTest::newRow("1.4 and 1.4.0.1") << QList<qint64>{1, 4} << QList<qint64>{1, 4, 0, 1} << -1;
    QTest::newRow("nothing and 0") << QList<qint64>{} << QList<qint64>{0} << 0;
    QTest::newRow("equal") << QList<qint64>{3, 1, 4} << QList<qint64>{3, 1, 4} << 0;
}

void tst_AppUpdateService::compare()
{
    QFETCH(QList<qint64>, a);
    QFETCH(QList<qint64>, b);
    QFETCH(int, expected);

    QCOMPARE(AppUpdateService::compare(a, b), expected);
    QCOMPARE(AppUpdateService::compare(b, a), -expected);
}

void tst_AppUpdateService::errorsDescribeThemselves()
{
    const AppUpdateServiceError unavailable = AppUpdateServiceError::unavailable();
    const AppUpdateServiceError invalid = AppUpdateServiceError::invalidResponse();
    QCOMPARE(unavailable.errorDescription(),
             u"Не удалось проверить обновления. Проверьте подключение к интернету и повторите попытку."_s);
    QCOMPARE(invalid.errorDescription(),
             u"Сервер обновлений вернул некорректные данные. Попробуйте ещё раз позже."_s);
    QCOMPARE(localizedDescription(invalid), invalid.errorDescription());
    QCOMPARE(QString::fromUtf8(unavailable.what()), unavailable.errorDescription());
    QVERIFY(unavailable == AppUpdateServiceError::unavailable());
    QVERIFY(!(unavailable == invalid));
    QCOMPARE(QSet<AppUpdateServiceError>({unavailable, invalid, AppUpdateServiceError::unavailable()}).size(),
             2);
}

void tst_AppUpdateService::requestAsksForAFreshManifest()
{
    auto http = std::make_shared<FakeHttpClient>(
        [](const HttpRequest&) { return FakeHttpClient::ok(toJson(manifestObject())); });
    const QUrl manifestURL(u"https://mirvo.app/download/latest.json"_s);
    const AppUpdateService service(manifestURL, http);
    QCOMPARE(service.manifestURL(), manifestURL);

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

void tst_AppUpdateService::answers_data()
{
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("status"); // -1: the answer was not HTTP
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("tooLarge");
    QTest::addColumn<QString>("expected");

    const QByteArray manifest = toJson(manifestObject());
    QTest::newRow("200") << true << 200 << manifest << false << u"available"_s;
    QTest::newRow("another 2xx") << true << 203 << manifest << false << u"available"_s;
    QTest::newRow("unreachable") << false << 0 << QByteArray() << false << u"unavailable"_s;
    QTest::newRow("not HTTP") << true << -1 << manifest << false << u"unavailable"_s;
    QTest::newRow("304") << true << 304 << manifest << false << u"unavailable"_s;
    QTest::newRow("404") << true << 404 << manifest << false << u"unavailable"_s;
    QTest::newRow("503") << true << 503 << manifest << false << u"unavailable"_s;
    QTest::newRow("empty body") << true << 200 << QByteArray() << false << u"unavailable"_s;
    QTest::newRow("over the cap") << true << 200 << QByteArray() << true << u"unavailable"_s;
    QTest::newRow("one byte over, not flagged")
        << true << 200 << manifest.leftJustified(65537, ' ') << false << u"unavailable"_s;
    QTest::newRow("exactly at the cap")
        << true << 200 << manifest.leftJustified(65536, ' ') << false << u"available"_s;
    QTest::newRow("not a manifest") << true << 200 << QByteArray("{}") << false << u"invalid"_s;
}

void tst_AppUpdateService::answers()
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
    const AppUpdateService service(QUrl(u"https://mirvo.app/download/latest.json"_s), http);
    QCOMPARE(checkOutcome(service), expected);
}

void tst_AppUpdateService::noClientIsUnavailable()
{
    const AppUpdateService service(QUrl(u"https://mirvo.app/download/latest.json"_s), nullptr);
    QCOMPARE(checkOutcome(service), u"unavailable"_s);
}

void tst_AppUpdateService::stopThrowsCancelled()
{
    auto http = std::make_shared<FakeHttpClient>(
        [](const HttpRequest&) { return FakeHttpClient::ok(toJson(manifestObject())); });
    http->setDelay(30);
    const AppUpdateService service(QUrl(u"https://mirvo.app/download/latest.json"_s), http);
    std::stop_source stop;
    QCoro::Task<AppUpdateCheckResult> check = service.check(u"1.0"_s, 1, stop.get_token());
    QTimer::singleShot(0, [&stop] { stop.request_stop(); });
    QCOMPARE(outcome([&] { return awaitTask(std::move(check), 5000); }), u"cancelled"_s);
}

void tst_AppUpdateService::stopReportedAsTransportFailureIsStillAStop()
{
    std::stop_source stop;
    auto http = std::make_shared<FakeHttpClient>([&stop](const HttpRequest&) -> HttpResponse {
        stop.request_stop();
        throw SystemError(u"Соединение разорвано."_s);
    });
    const AppUpdateService service(QUrl(u"https://mirvo.app/download/latest.json"_s), http);
    QCOMPARE(outcome([&] { return awaitTask(service.check(u"1.0"_s, 1, stop.get_token())); }),
             u"cancelled"_s);
}

void tst_AppUpdateService::serviceMayGoWhileChecking()
{
    auto http = std::make_shared<FakeHttpClient>(
        [](const HttpRequest&) { return FakeHttpClient::ok(toJson(manifestObject())); });
    http->setDelay(0.05);
    auto service =
        std::make_unique<AppUpdateService>(QUrl(u"https://mirvo.app/download/latest.json"_s), http);
    QCoro::Task<AppUpdateCheckResult> check = service->check(u"1.0"_s, 1);
    service.reset();
    QVERIFY(awaitTask(std::move(check)).isAvailable());
}

void tst_AppUpdateService::overLoopback_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("streamedBytes"); // -1: the body as given
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("expected");

    const QByteArray manifest = toJson(manifestObject(u"127.0.0.1"_s));
    QTest::newRow("a manifest") << 200 << manifest << qint64(-1) << true << u"available"_s;
    QTest::newRow("exactly 65,536 bytes")
        << 200 << manifest.leftJustified(65536, ' ') << qint64(-1) << true << u"available"_s;
    QTest::newRow("empty body") << 200 << QByteArray() << qint64(-1) << true << u"unavailable"_s;
    QTest::newRow("404") << 404 << manifest << qint64(-1) << true << u"unavailable"_s;
    QTest::newRow("500") << 500 << manifest << qint64(-1) << true << u"unavailable"_s;
    QTest::newRow("70,000 bytes") << 200 << manifest.leftJustified(70000, ' ') << qint64(-1) << true
                                  << u"unavailable"_s;
    QTest::newRow("70,000 bytes without a length")
        << 200 << QByteArray() << qint64(70000) << true << u"unavailable"_s;
    QTest::newRow("a download elsewhere")
        << 200 << toJson(manifestObject(u"mirvo.app"_s)) << qint64(-1) << true << u"invalid"_s;
    QTest::newRow("nothing listening") << 200 << manifest << qint64(-1) << false << u"unavailable"_s;
}

void tst_AppUpdateService::overLoopback()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(qint64, streamedBytes);
    QFETCH(bool, listening);
    QFETCH(QString, expected);

    LoopbackHttpServer server;
    QVERIFY(server.isListening());
    LoopbackHttpServer::Route route = LoopbackHttpServer::Route::answering(status, body);
    if (streamedBytes >= 0)
        route.streamedBytes = streamedBytes;
    server.setRoute("/download/latest.json", route);
    const QUrl manifestURL =
        listening ? server.url(u"/download/latest.json"_s)
                  : QUrl(u"http://127.0.0.1:%1/download/latest.json"_s.arg(LoopbackHttpServer::closedPort()));

    const AppUpdateService service(manifestURL, std::make_shared<NetworkHttpClient>(QString()));
    QCOMPARE(checkOutcome(service), expected);
    if (listening) {
        QCOMPARE(server.requests().size(), 1);
        const LoopbackHttpServer::Request request = server.requests().constFirst();
        QCOMPARE(request.method, "GET");
        QCOMPARE(request.header("Cache-Control"), "no-cache");
        QCOMPARE(request.header("Accept"), "application/json");
    }
}

QTEST_MAIN(tst_AppUpdateService)
#include "tst_appupdateservice.moc"
