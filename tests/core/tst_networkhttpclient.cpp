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
        const auto streamed = [](qint64 bytes, int intervalMs = 0) {
            Route route;
            route.streamedBytes = bytes;
            route.chunkIntervalMs = intervalMs;
            return route;
        };
        m_plain.setRoute("/hello", Route::answering(200, "привет"_ba));
        m_plain.setRoute("/gone", Route::answering(404, "gone"));
        m_plain.setRoute("/forbidden", Route::answering(403, "forbidden"));
        Route late = Route::answering(200, "late");
        late.delayMs = 1000;
        m_plain.setRoute("/late", late);
        m_plain.setRoute("/big", Route::answering(200, QByteArray(bigBody, 'a')));
        m_plain.setRoute("/big-streamed", streamed(bigBody));
        m_plain.setRoute("/huge", streamed(hugeBody));
        Route untilClosed = streamed(hugeBody);
        untilClosed.chunked = false;
        m_plain.setRoute("/huge-until-closed", untilClosed);
        untilClosed.streamedBytes = bigBody;
        m_plain.setRoute("/big-until-closed", untilClosed);
        Route headerFlood;
        headerFlood.headerLineBytes = 256 * MiB;
        m_plain.setRoute("/header-flood", headerFlood);

        const LoopbackHttpServer::Headers gzipped{{"Content-Encoding", "gzip"}};
        m_plain.setRoute("/gzip", Route::answering(200, LoopbackHttpServer::gzip("привет"_ba), gzipped));
        m_plain.setRoute("/gzip-large",
                         Route::answering(200, LoopbackHttpServer::gzip(m_largeBody), gzipped));
        m_plain.setRoute(
            "/gzip-bomb",
            Route::answering(200, LoopbackHttpServer::gzip(QByteArray(MiB, '\0'), 256), gzipped));
        m_plain.setRoute(
            "/gzip-junk",
            Route::answering(200, "\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03junk junk junk"_ba, gzipped));
        m_plain.setRoute("/gzip-cut",
                         Route::answering(200, LoopbackHttpServer::gzip(m_largeBody).first(1000), gzipped));

        const auto raw = [](QByteArray bytes) {
            Route route;
            route.raw = std::move(bytes);
            return route;
        };
        m_plain.setRoute("/length-twice", raw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n"
                                              "Connection: close\r\n\r\nhello"));
        m_plain.setRoute("/length-conflict",
                         raw("HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 7\r\n"
                             "Connection: close\r\n\r\nhello, world"));
        m_plain.setRoute("/length-list", raw("HTTP/1.1 200 OK\r\nContent-Length: 5, 7\r\n"
                                             "Connection: close\r\n\r\nhello, world"));
        m_plain.setRoute("/cut-short",
                         raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n"
                             "only this"));
        m_plain.setRoute("/chunks-cut-short", raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                                  "Connection: close\r\n\r\n64\r\nonly this"));
        m_plain.setRoute("/not-http", raw("SSH-2.0-OpenSSH_9.2\r\n\r\n"));
        m_plain.setRoute("/old-style", raw("HTTP/1.0 200 OK\r\n\r\nold style"));
        m_plain.setRoute("/nothing", raw({}));

        m_plain.setRedirect("/to-file", QUrl(u"file:///etc/passwd"_s));
        m_plain.setRedirect("/to-data", QUrl(u"data:text/plain,hello"_s));
        m_plain.setRedirect("/to-ftp", QUrl(u"ftp://127.0.0.1/file"_s));
        m_plain.setRedirect("/to-https", m_secure.url(u"/secure"_s), 307);
        m_plain.setRedirect("/loop", m_plain.url(u"/loop"_s));
        m_plain.setRoute("/found-nowhere", Route::answering(302, "nowhere"));
        m_plain.setRoute("/two-locations", raw("HTTP/1.1 302 Found\r\nLocation: /new\r\nLocation: /hello\r\n"
                                               "Content-Length: 0\r\nConnection: close\r\n\r\n"));
        m_plain.setRoute("/same-location-twice",
                         raw("HTTP/1.1 302 Found\r\nLocation: /new\r\nLocation: /new\r\n"
                             "Content-Length: 0\r\nConnection: close\r\n\r\n"));
        m_plain.setRoute("/brotli", Route::answering(200, "whatever", {{"Content-Encoding", "br"}}));
        m_secure.setRoute("/huge", streamed(hugeBody));
        m_plain.setRoute("/see-other-nowhere", Route::answering(303, "nowhere"));
        // Never idle for long, so only a deadline for the whole request ends it.
        m_plain.setRoute("/trickle", streamed(1024 * 1024, 20));
        m_plain.setRedirect("/old", m_plain.url(u"/middle"_s), 301);
        m_plain.setRedirect("/middle", QUrl(u"/new"_s), 302); // relative, as servers often answer
        m_plain.setRoute("/new", Route::answering(200, "arrived"));
        m_plain.setRoute("/exposed", Route::answering(200, "exposed"));
        m_secure.setRoute("/secure", Route::answering(200, "secret"));
        m_secure.setRedirect("/to-plain", m_plain.url(u"/exposed"_s));
    }

    void outcomes_data()
    {
        QTest::addColumn<HttpRequest>("request");
        QTest::addColumn<bool>("trustExtra");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QUrl& url, const QString& expected, double timeout = 10,
                            qint64 cap = MiB, bool trustExtra = true) {
            QTest::newRow(name) << HttpRequest{.url = url, .timeout = timeout, .maxBodyBytes = cap}
                                << trustExtra << expected;
        };
        const QString timedOut = u"Превышено время ожидания ответа сервера."_s;
        const QString badAnswer = u"Сервер вернул некорректный ответ."_s;
        const QString badRedirect = u"Сервер перенаправил запрос по недопустимому адресу."_s;
        const QString closed = u"Сервер неожиданно закрыл соединение."_s;
        const QString undecodable = u"Не удалось распаковать ответ сервера."_s;

        row("200 body", m_plain.url(u"/hello"_s), u"200 привет"_s);
        row("404 kept", m_plain.url(u"/gone"_s), u"404 gone"_s);
        row("403 kept", m_plain.url(u"/forbidden"_s), u"403 forbidden"_s);
        row("redirects followed", m_plain.url(u"/old"_s), u"200 arrived"_s);
        row("announced at the cap", m_plain.url(u"/big"_s), u"200 "_s + QString(bigBody, u'a'), 10, bigBody);
        row("announced over the cap", m_plain.url(u"/big"_s), u"200 too large"_s, 10, bigBody - 1);
        row("streamed at the cap", m_plain.url(u"/big-streamed"_s), u"200 "_s + QString(bigBody, u'x'), 10,
            bigBody);
        row("until closed, at the cap", m_plain.url(u"/big-until-closed"_s),
            u"200 "_s + QString(bigBody, u'x'), 10, bigBody);
        row("until closed, over the cap", m_plain.url(u"/big-until-closed"_s), u"200 too large"_s, 10,
            bigBody - 1);
        row("HTTP/1.0 answer", m_plain.url(u"/old-style"_s), u"200 old style"_s);
        row("streamed over the cap", m_plain.url(u"/huge"_s), u"200 too large"_s);
        row("2 GiB chunked, 10 MiB cap", m_plain.url(u"/huge"_s), u"200 too large"_s, 10, defaultCap);
        row("2 GiB until closed, 10 MiB cap", m_plain.url(u"/huge-until-closed"_s), u"200 too large"_s, 10,
            defaultCap);
        row("https: 2 GiB chunked, 10 MiB cap", m_secure.url(u"/huge"_s), u"200 too large"_s, 10, defaultCap);
        row("endless header lines", m_plain.url(u"/header-flood"_s),
            u"Сервер прислал слишком длинный заголовок ответа."_s);
        row("gzip", m_plain.url(u"/gzip"_s), u"200 привет"_s);
        row("gzip larger than the read buffer", m_plain.url(u"/gzip-large"_s), answer(200, m_largeBody), 10,
            m_largeBody.size());
        row("gzip over the cap once unpacked", m_plain.url(u"/gzip-large"_s), u"200 too large"_s, 10,
            m_largeBody.size() - 1);
        row("gzip bomb, 10 MiB cap", m_plain.url(u"/gzip-bomb"_s), u"200 too large"_s, 10, defaultCap);
        row("gzip bomb, 1 MiB cap", m_plain.url(u"/gzip-bomb"_s), u"200 too large"_s);
        row("gzip header, then junk", m_plain.url(u"/gzip-junk"_s), undecodable);
        row("gzip cut short", m_plain.url(u"/gzip-cut"_s), undecodable);
        row("unknown content coding", m_plain.url(u"/brotli"_s), undecodable);
        row("same Content-Length twice", m_plain.url(u"/length-twice"_s), u"200 hello"_s);
        row("conflicting Content-Length", m_plain.url(u"/length-conflict"_s), badAnswer);
        row("Content-Length list", m_plain.url(u"/length-list"_s), badAnswer);
        row("body cut short", m_plain.url(u"/cut-short"_s), closed);
        row("chunks cut short", m_plain.url(u"/chunks-cut-short"_s), closed);
        row("not HTTP", m_plain.url(u"/not-http"_s), badAnswer);
        row("closed without an answer", m_plain.url(u"/nothing"_s), closed);
        row("redirect to file:", m_plain.url(u"/to-file"_s), badRedirect);
        row("redirect to data:", m_plain.url(u"/to-data"_s), badRedirect);
        row("redirect to ftp:", m_plain.url(u"/to-ftp"_s), badRedirect);
        row("redirect from http to https", m_plain.url(u"/to-https"_s), u"200 secret"_s);
        row("redirect loop", m_plain.url(u"/loop"_s), u"Сервер перенаправил запрос слишком много раз."_s);
        row("302 without Location", m_plain.url(u"/found-nowhere"_s), u"302 nowhere"_s);
        row("Location fields that disagree", m_plain.url(u"/two-locations"_s), badRedirect);
        row("same Location twice", m_plain.url(u"/same-location-twice"_s), u"200 arrived"_s);
        row("303 without Location", m_plain.url(u"/see-other-nowhere"_s), u"303 nowhere"_s);
        row("late answer, short time-out", m_plain.url(u"/late"_s), timedOut, 0.2);
        row("late answer, long time-out", m_plain.url(u"/late"_s), u"200 late"_s, 5);
        row("whole-request time-out", m_plain.url(u"/trickle"_s), timedOut, 0.4);
        row("connection refused", QUrl(u"http://127.0.0.1:%1/"_s.arg(LoopbackHttpServer::closedPort())),
            u"Сервер отклонил подключение."_s);
        row("extra authority trusted", m_secure.url(u"/secure"_s), u"200 secret"_s);
        row("unknown certificate", m_secure.url(u"/secure"_s),
            u"Не удалось установить защищённое соединение с сервером."_s, 10, 1024 * 1024, false);
        row("https to http refused", m_secure.url(u"/to-plain"_s),
            u"Сервер перенаправил запрос на незащищённый адрес."_s);
    }

    void outcomes()
    {
        QFETCH(HttpRequest, request);
        QFETCH(bool, trustExtra);
        NetworkHttpClient client(trustExtra ? LoopbackHttpServer::certificateAuthorityPath() : QString());

        const PeakResidentGrowth growth;
        const QString ended = outcome(client.get(request, {}));
        const std::optional<qint64> grown = growth.bytes();
        if (grown)
            qInfo("peak resident growth %.1f MiB", double(*grown) / MiB);
        QTEST(ended, "expected");
        // Whatever the server sends, the client holds little more than the cap.
        if (grown)
            QVERIFY2(*grown < request.maxBodyBytes + 64 * MiB, qPrintable(QString::number(*grown)));
        // Nothing was read past a cap or a deadline: the client hung up.
        QTRY_COMPARE(m_plain.connectionsInUse(), 0);
        QTRY_COMPARE(m_secure.connectionsInUse(), 0);
        QVERIFY(m_plain.streamedBytesSent() < hugeBody);
        QVERIFY(m_secure.streamedBytesSent() < hugeBody);
        for (const LoopbackHttpServer::Request& served : m_plain.requests())
            QVERIFY(served.target != "/exposed");
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
        const QString badAddress = u"Адрес запроса не поддерживается."_s;
        const QString badField = u"Недопустимый заголовок запроса."_s;
        const QUrl hello = m_plain.url(u"/hello"_s);
        QTest::newRow("file address") << QUrl(u"file:///etc/passwd"_s) << "Accept"_ba
                                      << "*/*"_ba << badAddress;
        QTest::newRow("ftp address") << QUrl(u"ftp://127.0.0.1/"_s) << "Accept"_ba
                                     << "*/*"_ba << badAddress;
        QTest::newRow("no host") << QUrl(u"http:///hello"_s) << "Accept"_ba
                                 << "*/*"_ba << badAddress;
        QTest::newRow("line break in a value") << hello << "X-Note"_ba
                                               << "a\r\nX-Injected: 1"_ba << badField;
        QTest::newRow("space in a name") << hello << "X Note"_ba
                                         << "a"_ba << badField;
        QTest::newRow("empty name") << hello << QByteArray() << "a"_ba << badField;
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

    void stopAndDestructionCancel_data()
    {
        QTest::addColumn<bool>("destroyClient"); // otherwise a stop from another thread
        QTest::newRow("stop") << false;
        QTest::newRow("client destroyed") << true;
    }

    void stopAndDestructionCancel()
    {
        QFETCH(bool, destroyClient);
        auto client = std::make_unique<NetworkHttpClient>();
        std::stop_source source;
        const qsizetype before = m_plain.requests().size();

        QCoro::Task<HttpResponse> task =
            client->get(HttpRequest{.url = m_plain.url(u"/trickle"_s), .timeout = 60}, source.get_token());
        QTRY_COMPARE(m_plain.requests().size(), before + 1);
        if (destroyClient)
            client.reset();
        else
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
