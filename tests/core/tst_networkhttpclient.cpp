#include "AwaitTask.h"
#include "CancelledError.h"
#include "LoopbackHttpServer.h"
#include "NetworkHttpClient.h"
#include "PeakResidentGrowth.h"
#include "SystemError.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(mirvo::test::LoopbackHttpServer::Route)

namespace {

using Route = LoopbackHttpServer::Route;

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 hugeBody = 2048 * MiB;
constexpr qsizetype bigBody = 5000;
constexpr qint64 defaultCap = 10 * MiB;

// "<status> <body>", with a long body given by its size and digest.
QString answer(int status, const QByteArray& body)
{
    if (body.size() <= bigBody)
        return QString::number(status) + u' ' + QString::fromUtf8(body);
    return QString::number(status) +
           u" %1 bytes, SHA-1 %2"_s.arg(body.size())
               .arg(QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha1).toHex()));
}

// How a request ended: an answer(), "<status> too large", "cancelled" or the SystemError's text.
QString outcome(QCoro::Task<HttpResponse> task)
{
    try {
        const HttpResponse response = awaitTask(std::move(task), 20000);
        const QString status = response.status ? QString::number(*response.status) : u"-"_s;
        if (response.bodyTooLarge && response.body.isEmpty())
            return status + u" too large"_s;
        if (!response.status)
            return u"- "_s + QString::fromUtf8(response.body);
        return answer(*response.status, response.body);
    } catch (const SystemError& error) {
        return error.description();
    } catch (const CancelledError&) {
        return u"cancelled"_s;
    }
}

// A generated body of `bytes`, chunked or until the connection closes, one piece per `intervalMs` when set.
Route streamed(qint64 bytes, bool chunked = true, int intervalMs = 0)
{
    Route route;
    route.streamedBytes = bytes;
    route.chunked = chunked;
    route.chunkIntervalMs = intervalMs;
    return route;
}

QByteArray pseudoRandomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

} // namespace

class tst_NetworkHttpClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_plain.isListening());
        QVERIFY(m_secure.isListening());
        m_plain.setRoute("/hello", Route::answering(200, "привет"_ba));
        // Never idle for long, so only a deadline for the whole request ends it.
        m_plain.setRoute("/trickle", streamed(1024 * 1024, true, 20));
        m_plain.setRedirect("/to-https", m_secure.url(u"/secure"_s), 307);
        m_plain.setRedirect("/old", m_plain.url(u"/middle"_s), 301);
        m_plain.setRedirect("/middle", QUrl(u"/new"_s), 302); // relative, as servers often answer
        m_plain.setRoute("/new", Route::answering(200, "arrived"));
        m_secure.setRoute("/secure", Route::answering(200, "secret"));
    }

    // Each row's route is served at /case.
    void outcomes_data()
    {
        QTest::addColumn<Route>("route");
        QTest::addColumn<int>("server"); // 0 plain, 1 HTTPS, 2 HTTPS with an unknown authority, 3 none
        QTest::addColumn<double>("timeout");
        QTest::addColumn<qint64>("cap");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const Route& route, const QString& expected,
                            double timeout = 10, qint64 cap = MiB, int server = 0) {
            QTest::newRow(name) << route << server << timeout << cap << expected;
        };
        const auto ok = [](const QByteArray& body) { return Route::answering(200, body); };
        const auto redirect = [](const QByteArray& location) {
            return Route::answering(302, {}, {{"Location", location}});
        };
        const auto raw = [](const QByteArray& bytes) {
            Route route;
            route.raw = bytes;
            return route;
        };
        const LoopbackHttpServer::Headers gzipped{{"Content-Encoding", "gzip"}};
        const auto gzip = [&](const QByteArray& packed) { return Route::answering(200, packed, gzipped); };
        const QByteArray packedLarge = LoopbackHttpServer::gzip(m_largeBody);
        const QString badRedirect = u"Сервер перенаправил запрос по недопустимому адресу."_s;
        Route late = ok("late");
        late.delayMs = 1000;
        Route headerFlood;
        headerFlood.headerLineBytes = 256 * MiB;

        row("404 kept", Route::answering(404, "gone"), u"404 gone"_s);
        row("announced at the cap", ok(QByteArray(bigBody, 'a')), u"200 "_s + QString(bigBody, u'a'), 10,
            bigBody);
        row("announced over the cap", ok(QByteArray(bigBody, 'a')), u"200 too large"_s, 10, bigBody - 1);
        row("streamed at the cap", streamed(bigBody), u"200 "_s + QString(bigBody, u'x'), 10, bigBody);
        row("until closed, at the cap", streamed(bigBody, false), u"200 "_s + QString(bigBody, u'x'), 10,
            bigBody);
        row("until closed, over the cap", streamed(bigBody, false), u"200 too large"_s, 10, bigBody - 1);
        row("2 GiB chunked, 10 MiB cap", streamed(hugeBody), u"200 too large"_s, 10, defaultCap);
        row("2 GiB until closed, 10 MiB cap", streamed(hugeBody, false), u"200 too large"_s, 10, defaultCap);
        row("https: 2 GiB chunked, 10 MiB cap", streamed(hugeBody), u"200 too large"_s, 10, defaultCap, 1);
        row("endless header lines", headerFlood, u"Сервер прислал слишком длинный заголовок ответа."_s);
        row("gzip larger than the read buffer", gzip(packedLarge), answer(200, m_largeBody), 10,
            m_largeBody.size());
        row("gzip over the cap once unpacked", gzip(packedLarge), u"200 too large"_s, 10,
            m_largeBody.size() - 1);
        row("gzip bomb, 10 MiB cap", gzip(LoopbackHttpServer::gzip(QByteArray(MiB, '\0'), 256)),
            u"200 too large"_s, 10, defaultCap);
        row("gzip cut short", gzip(packedLarge.first(1000)), u"Не удалось распаковать ответ сервера."_s);
        row("conflicting Content-Length",
            raw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 7\r\nConnection: "
                "close\r\n\r\nhello, world"),
            u"Сервер вернул некорректный ответ."_s);
        row("closed without an answer", raw({}), u"Сервер неожиданно закрыл соединение."_s);
        row("redirect to file:", redirect("file:///etc/passwd"), badRedirect);
        row("redirect loop", redirect("/case"), u"Сервер перенаправил запрос слишком много раз."_s);
        row("302 without Location", Route::answering(302, "nowhere"), u"302 nowhere"_s);
        row("Location fields that disagree",
            raw("HTTP/1.1 302 Found\r\nLocation: /new\r\nLocation: /hello\r\nContent-Length: 0\r\n\r\n"),
            badRedirect);
        row("same Location twice",
            raw("HTTP/1.1 302 Found\r\nLocation: /new\r\nLocation: /new\r\nContent-Length: 0\r\n\r\n"),
            u"200 arrived"_s);
        row("late answer, long time-out", late, u"200 late"_s, 5);
        row("whole-request time-out", streamed(1024 * 1024, true, 20),
            u"Превышено время ожидания ответа сервера."_s, 0.4);
        row("connection refused", ok("unheard"), u"Сервер отклонил подключение."_s, 10, MiB, 3);
        row("unknown certificate", ok("secret"), u"Не удалось установить защищённое соединение с сервером."_s,
            10, MiB, 2);
    }

    void outcomes()
    {
        QFETCH(Route, route);
        QFETCH(int, server);
        QFETCH(double, timeout);
        QFETCH(qint64, cap);
        LoopbackHttpServer& serving = server == 0 ? m_plain : m_secure;
        serving.setRoute("/case", route);
        QUrl url = serving.url(u"/case"_s);
        if (server == 3)
            url.setPort(LoopbackHttpServer::closedPort());
        NetworkHttpClient client(server == 2 ? QString() : LoopbackHttpServer::certificateAuthorityPath());

        const PeakResidentGrowth growth;
        const QString ended =
            outcome(client.get(HttpRequest{.url = url, .timeout = timeout, .maxBodyBytes = cap}, {}));
        const std::optional<qint64> grown = growth.bytes();
        if (grown)
            qInfo("peak resident growth %.1f MiB", double(*grown) / MiB);
        QTEST(ended, "expected");
        // Whatever the server sends, the client holds little more than the cap.
        if (grown)
            QVERIFY2(*grown < cap + 64 * MiB, qPrintable(QString::number(*grown)));
        // Nothing was read past a cap or a deadline: the client hung up.
        QTRY_COMPARE(m_plain.connectionsInUse(), 0);
        QTRY_COMPARE(m_secure.connectionsInUse(), 0);
        QVERIFY(m_plain.streamedBytesSent() < hugeBody);
        QVERIFY(m_secure.streamedBytesSent() < hugeBody);
    }

    void sendsHeaderFields()
    {
        NetworkHttpClient client;
        HttpRequest request{.url = m_plain.url(u"/hello?q=%D0%B0"_s)};
        request.headers = {{"User-Agent", "Mirvo/1.0"}, {"Accept", "application/vnd.github+json"}};
        QCOMPARE(outcome(client.get(request, {})), u"200 привет"_s);

        const LoopbackHttpServer::Request recorded = m_plain.requests().constLast();
        QCOMPARE(recorded.method, "GET"_ba);
        QCOMPARE(recorded.target, "/hello?q=%D0%B0"_ba);
        QCOMPARE(recorded.header("host"), "127.0.0.1:" + QByteArray::number(m_plain.port()));
        QCOMPARE(recorded.header("user-agent"), "Mirvo/1.0"_ba);
        QCOMPARE(recorded.header("accept"), "application/vnd.github+json"_ba);
        QCOMPARE(recorded.header("accept-encoding"), "gzip, deflate"_ba);
        QVERIFY(recorded.header("cache-control").isEmpty());

        request.cachePolicy = HttpRequest::CachePolicy::ReloadIgnoringCache;
        QCOMPARE(outcome(client.get(request, {})), u"200 привет"_s);
        const LoopbackHttpServer::Request reloaded = m_plain.requests().constLast();
        QCOMPARE(reloaded.header("cache-control"), "no-cache"_ba);
        QCOMPARE(reloaded.header("pragma"), "no-cache"_ba);

        // Addresses joined from a base and a path lose the doubled separator.
        request.url = QUrl(m_plain.url(u"/"_s).toString() + u"/hello"_s);
        QCOMPARE(outcome(client.get(request, {})), u"200 привет"_s);
        QCOMPARE(m_plain.requests().constLast().target, "/hello"_ba);
    }

    void refusedBeforeSending_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QByteArray>("headerName");
        QTest::addColumn<QByteArray>("headerValue");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const QUrl& url, const QByteArray& name, const QByteArray& value,
                            const QString& expected) {
            QTest::newRow(tag) << url << name << value << expected;
        };
        const QString badAddress = u"Адрес запроса не поддерживается."_s;
        const QString badField = u"Недопустимый заголовок запроса."_s;
        const QUrl hello = m_plain.url(u"/hello"_s);
        row("file address", QUrl(u"file:///etc/passwd"_s), "Accept", "*/*", badAddress);
        row("no host", QUrl(u"http:///hello"_s), "Accept", "*/*", badAddress);
        row("line break in a value", hello, "X-Note", "a\r\nX-Injected: 1", badField);
        row("space in a name", hello, "X Note", "a", badField);
        row("empty name", hello, QByteArray(), "a", badField);
    }

    void refusedBeforeSending()
    {
        QFETCH(QUrl, url);
        QFETCH(QByteArray, headerName);
        QFETCH(QByteArray, headerValue);
        NetworkHttpClient client;
        const qsizetype before = m_plain.requests().size();
        HttpRequest request{.url = url};
        request.headers = {{headerName, headerValue}};
        QTEST(outcome(client.get(request, {})), "expected");
        QCOMPARE(m_plain.requests().size(), before);
    }

    // Redirects are followed, from http to https and to a relative address too.
    void credentialsStayWithTheirServer()
    {
        NetworkHttpClient client(LoopbackHttpServer::certificateAuthorityPath());
        HttpRequest request{.url = m_plain.url(u"/to-https"_s)};
        request.headers = {{"Authorization", "Bearer token"}, {"X-Note", "kept"}};
        QCOMPARE(outcome(client.get(request, {})), u"200 secret"_s);
        const LoopbackHttpServer::Request elsewhere = m_secure.requests().constLast();
        QCOMPARE(elsewhere.target, "/secure"_ba);
        QVERIFY(elsewhere.header("authorization").isEmpty());
        QCOMPARE(elsewhere.header("x-note"), "kept"_ba);

        request.url = m_plain.url(u"/old"_s);
        QCOMPARE(outcome(client.get(request, {})), u"200 arrived"_s);
        const LoopbackHttpServer::Request sameServer = m_plain.requests().constLast();
        QCOMPARE(sameServer.target, "/new"_ba);
        QCOMPARE(sameServer.header("authorization"), "Bearer token"_ba);
    }

    void connectionsPerServerLimited_data()
    {
        QTest::addColumn<QString>("ending"); // what happens to the requests once all are sent
        QTest::newRow("all answered") << u"answered"_s;
        QTest::newRow("a waiting one stopped") << u"stopped"_s;
        QTest::newRow("client destroyed") << u"destroyed"_s;
    }

    void connectionsPerServerLimited()
    {
        QFETCH(QString, ending);
        LoopbackHttpServer server;
        Route slow = Route::answering(200, "slow");
        slow.delayMs = 500;
        server.setRoute("/slow", slow);
        auto client = std::make_unique<NetworkHttpClient>();
        constexpr int count = NetworkHttpClient::maxConnectionsPerServer + 3;
        std::stop_source lastOne;
        std::vector<QCoro::Task<HttpResponse>> tasks;
        for (int i = 0; i < count; ++i)
            tasks.push_back(client->get(HttpRequest{.url = server.url(u"/slow"_s)},
                                        i == count - 1 ? lastOne.get_token() : std::stop_token()));
        QTRY_COMPARE(server.connectionsInUse(), NetworkHttpClient::maxConnectionsPerServer);

        if (ending == u"destroyed"_s)
            client.reset();
        else if (ending == u"stopped"_s)
            lastOne.request_stop();
        for (int i = 0; i < count; ++i) {
            const bool cancelled = ending == u"destroyed"_s || (ending == u"stopped"_s && i == count - 1);
            QCOMPARE(outcome(std::move(tasks[i])), cancelled ? u"cancelled"_s : u"200 slow"_s);
        }
        QCOMPARE(server.peakConnectionsInUse(), NetworkHttpClient::maxConnectionsPerServer);
        QTRY_COMPARE(server.connectionsInUse(), 0);
        const int expectedRequests = ending == u"destroyed"_s ? NetworkHttpClient::maxConnectionsPerServer
                                     : ending == u"stopped"_s ? count - 1
                                                              : count;
        QCOMPARE(server.requests().size(), expectedRequests);
    }

    // Destroying the client is a row of connectionsPerServerLimited.
    void stopFromAnotherThreadCancels()
    {
        NetworkHttpClient client;
        std::stop_source source;
        const qsizetype before = m_plain.requests().size();
        QCoro::Task<HttpResponse> task =
            client.get(HttpRequest{.url = m_plain.url(u"/trickle"_s), .timeout = 60}, source.get_token());
        QTRY_COMPARE(m_plain.requests().size(), before + 1);
        std::thread([&source] { source.request_stop(); }).join();

        QCOMPARE(outcome(std::move(task)), u"cancelled"_s);
        QTRY_COMPARE(m_plain.connectionsInUse(), 0);
    }

private:
    const QByteArray m_largeBody = pseudoRandomBytes(1536 * 1024);
    LoopbackHttpServer m_plain;
    LoopbackHttpServer m_secure{LoopbackHttpServer::Scheme::Https};
};

QTEST_GUILESS_MAIN(tst_NetworkHttpClient)
#include "tst_networkhttpclient.moc"
