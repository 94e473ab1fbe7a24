#include "AwaitTask.h"
#include "CancelledError.h"
#include "LoopbackHttpServer.h"
#include "NetworkHttpClient.h"
#include "SystemError.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

HttpRequest requestFor(const QUrl& url, double timeout = 10, qint64 cap = 10 * 1024 * 1024)
{
    HttpRequest request;
    request.url = url;
    request.timeout = timeout;
    request.maxBodyBytes = cap;
    return request;
}

HttpResponse fetch(HttpClient& client, HttpRequest request, std::stop_token stop = {})
{
    return awaitTask(client.get(std::move(request), std::move(stop)), 20000);
}

QString systemErrorOf(HttpClient& client, HttpRequest request)
{
    try {
        fetch(client, std::move(request));
    } catch (const SystemError& error) {
        return error.description();
    }
    return {};
}

} // namespace

class tst_NetworkHttpClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void returnsBodyOfSuccess();
    void keepsStatusOfFailure();
    void sendsHeaderFields();
    void followsRedirects();
    void capsTheBody_data();
    void capsTheBody();
    void timeOutCoversTheWholeRequest_data();
    void timeOutCoversTheWholeRequest();
    void refusedConnectionIsASystemError();
    void truncatedBodyIsASystemError();
    void stopAbortsTheRequest();
    void stopBeforeStartSendsNothing();
    void destroyingTheClientEndsItsRequests();
    void fileAnswerHasNoStatus();
    void trustsExtraAuthorities();
    void refusesUnknownCertificates();
    void neverRedirectsToPlainHttp();
};

void tst_NetworkHttpClient::returnsBodyOfSuccess()
{
    LoopbackHttpServer server;
    QVERIFY(server.isListening());
    server.setRoute("/hello",
                    LoopbackHttpServer::Route::answering(200, "привет"_ba, {{"Content-Type", "text/plain"}}));
    NetworkHttpClient client;

    const HttpResponse response = fetch(client, requestFor(server.url(u"/hello"_s)));
    QCOMPARE(response.status, 200);
    QVERIFY(response.isSuccess());
    QCOMPARE(response.body, "привет"_ba);
    QVERIFY(!response.bodyTooLarge);
}

void tst_NetworkHttpClient::keepsStatusOfFailure()
{
    LoopbackHttpServer server;
    server.setRoute("/broken", LoopbackHttpServer::Route::answering(500, "server trouble"));
    NetworkHttpClient client;

    const HttpResponse missing = fetch(client, requestFor(server.url(u"/nowhere"_s)));
    QCOMPARE(missing.status, 404);
    QVERIFY(!missing.isSuccess());
    QCOMPARE(missing.body, "not found"_ba);

    const HttpResponse broken = fetch(client, requestFor(server.url(u"/broken"_s)));
    QCOMPARE(broken.status, 500);
    QVERIFY(!broken.isSuccess());
    QCOMPARE(broken.body, "server trouble"_ba);
}

void tst_NetworkHttpClient::sendsHeaderFields()
{
    LoopbackHttpServer server;
    server.setRoute("/api", LoopbackHttpServer::Route::answering(200, "{}"));
    NetworkHttpClient client;

    HttpRequest request = requestFor(server.url(u"/api?page=2&q=%D0%B0"_s));
    request.headers = {{"User-Agent", "Mirvo/1.0"}, {"Accept", "application/vnd.github+json"}};
    request.cachePolicy = HttpRequest::CachePolicy::ReloadIgnoringCache;
    QVERIFY(fetch(client, request).isSuccess());

    QVERIFY(!server.requests().isEmpty());
    const LoopbackHttpServer::Request& recorded = server.requests().constFirst();
    QCOMPARE(recorded.method, "GET"_ba);
    QCOMPARE(recorded.target, "/api?page=2&q=%D0%B0"_ba);
    QCOMPARE(recorded.header("user-agent"), "Mirvo/1.0"_ba);
    QCOMPARE(recorded.header("ACCEPT"), "application/vnd.github+json"_ba);
}

void tst_NetworkHttpClient::followsRedirects()
{
    LoopbackHttpServer server;
    server.setRedirect("/old", server.url(u"/middle"_s), 301);
    server.setRedirect("/middle", QUrl(u"/new"_s), 302); // relative, as servers often answer
    server.setRoute("/new", LoopbackHttpServer::Route::answering(200, "arrived"));
    NetworkHttpClient client;

    const HttpResponse response = fetch(client, requestFor(server.url(u"/old"_s)));
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body, "arrived"_ba);
    // Qt sometimes sends a hop again on a new connection after the server closed the last one.
    QList<QByteArray> hops;
    for (const LoopbackHttpServer::Request& request : server.requests()) {
        if (hops.isEmpty() || hops.constLast() != request.target)
            hops.append(request.target);
    }
    QCOMPARE(hops, (QList<QByteArray>{"/old", "/middle", "/new"}));
}

void tst_NetworkHttpClient::capsTheBody_data()
{
    QTest::addColumn<LoopbackHttpServer::Route>("route");
    QTest::addColumn<qint64>("cap");
    QTest::addColumn<bool>("tooLarge");
    QTest::addColumn<qint64>("expectedSize");

    const qint64 huge = 256LL * 1024 * 1024;
    LoopbackHttpServer::Route route;
    route.body = QByteArray(5000, 'a');
    QTest::newRow("announced over the cap") << route << qint64(4999) << true << qint64(0);
    QTest::newRow("exactly the cap") << route << qint64(5000) << false << qint64(5000);

    route = {};
    route.streamedBytes = huge;
    QTest::newRow("chunked without length") << route << qint64(1024 * 1024) << true << qint64(0);
    route.chunked = false;
    QTest::newRow("until the connection closes") << route << qint64(1024 * 1024) << true << qint64(0);
    route.streamedBytes = 300 * 1024;
    QTest::newRow("streamed under the cap") << route << qint64(1024 * 1024) << false << qint64(300 * 1024);

    // A server that understates the length must not slip a larger body past the cap.
    route = {};
    route.body = QByteArray(5000, 'a');
    route.contentLength = 100;
    QTest::newRow("understated length") << route << qint64(1000) << false << qint64(100);
}

void tst_NetworkHttpClient::capsTheBody()
{
    QFETCH(LoopbackHttpServer::Route, route);
    QFETCH(qint64, cap);
    QFETCH(bool, tooLarge);
    QFETCH(qint64, expectedSize);

    LoopbackHttpServer server;
    server.setRoute("/file", route);
    NetworkHttpClient client;

    const HttpResponse response = fetch(client, requestFor(server.url(u"/file"_s), 30, cap));
    QCOMPARE(response.status, 200);
    QCOMPARE(response.bodyTooLarge, tooLarge);
    QCOMPARE(response.body.size(), expectedSize);
    if (tooLarge && route.streamedBytes) {
        // The client hung up instead of reading the rest.
        QVERIFY(server.streamedBytesSent() < *route.streamedBytes);
        QTRY_COMPARE(server.openConnections(), 0);
    }
}

void tst_NetworkHttpClient::timeOutCoversTheWholeRequest_data()
{
    QTest::addColumn<LoopbackHttpServer::Route>("route");

    LoopbackHttpServer::Route silent;
    silent.body = "late";
    silent.delayMs = 5000;
    QTest::newRow("silent server") << silent;

    // Never idle for long, so only a deadline for the whole request ends it.
    LoopbackHttpServer::Route trickle;
    trickle.streamedBytes = 1024 * 1024;
    trickle.chunkIntervalMs = 20;
    QTest::newRow("trickling server") << trickle;
}

void tst_NetworkHttpClient::timeOutCoversTheWholeRequest()
{
    QFETCH(LoopbackHttpServer::Route, route);
    LoopbackHttpServer server;
    server.setRoute("/slow", route);
    NetworkHttpClient client;

    QCOMPARE(systemErrorOf(client, requestFor(server.url(u"/slow"_s), 0.4)),
             u"Превышено время ожидания ответа сервера."_s);
    QTRY_COMPARE(server.openConnections(), 0);
}

void tst_NetworkHttpClient::refusedConnectionIsASystemError()
{
    NetworkHttpClient client;
    const QUrl url(u"http://127.0.0.1:%1/"_s.arg(LoopbackHttpServer::closedPort()));
    QCOMPARE(systemErrorOf(client, requestFor(url)), u"Сервер отклонил подключение."_s);
}

void tst_NetworkHttpClient::truncatedBodyIsASystemError()
{
    LoopbackHttpServer server;
    LoopbackHttpServer::Route route;
    route.body = "short";
    route.contentLength = 1000;
    server.setRoute("/cut", route);
    NetworkHttpClient client;

    QVERIFY(!systemErrorOf(client, requestFor(server.url(u"/cut"_s))).isEmpty());
}

void tst_NetworkHttpClient::stopAbortsTheRequest()
{
    LoopbackHttpServer server;
    LoopbackHttpServer::Route route;
    route.delayMs = 10000;
    server.setRoute("/wait", route);
    NetworkHttpClient client;

    std::stop_source source;
    QTimer::singleShot(200, this, [&source] {
        // Stops come from other threads too.
        std::thread stopper([&source] { source.request_stop(); });
        stopper.join();
    });
    QVERIFY_THROWS_EXCEPTION(CancelledError,
                             fetch(client, requestFor(server.url(u"/wait"_s)), source.get_token()));
    QCOMPARE(server.requests().size(), 1);
    QTRY_COMPARE(server.openConnections(), 0);
}

void tst_NetworkHttpClient::stopBeforeStartSendsNothing()
{
    LoopbackHttpServer server;
    NetworkHttpClient client;
    std::stop_source source;
    source.request_stop();

    QVERIFY_THROWS_EXCEPTION(CancelledError,
                             fetch(client, requestFor(server.url(u"/"_s)), source.get_token()));
    QTest::qWait(50);
    QVERIFY(server.requests().isEmpty());
}

void tst_NetworkHttpClient::destroyingTheClientEndsItsRequests()
{
    LoopbackHttpServer server;
    LoopbackHttpServer::Route route;
    route.delayMs = 10000;
    server.setRoute("/wait", route);
    auto client = std::make_unique<NetworkHttpClient>();

    QCoro::Task<HttpResponse> task = client->get(requestFor(server.url(u"/wait"_s)), {});
    QTRY_COMPARE(server.requests().size(), 1);
    client.reset();
    QVERIFY_THROWS_EXCEPTION(CancelledError, awaitTask(std::move(task), 5000));
    QTRY_COMPARE(server.openConnections(), 0);
}

void tst_NetworkHttpClient::fileAnswerHasNoStatus()
{
    QTemporaryDir directory;
    QFile file(directory.filePath(u"list.txt"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Telegram: 686449807\n");
    file.close();
    NetworkHttpClient client;

    const HttpResponse response = fetch(client, requestFor(QUrl::fromLocalFile(file.fileName())));
    QVERIFY(!response.status);
    QVERIFY(!response.isSuccess());
    QCOMPARE(response.body, "Telegram: 686449807\n"_ba);
}

void tst_NetworkHttpClient::trustsExtraAuthorities()
{
    LoopbackHttpServer server(LoopbackHttpServer::Scheme::Https);
    server.setRoute("/secure", LoopbackHttpServer::Route::answering(200, "secret"));
    NetworkHttpClient client(LoopbackHttpServer::certificateAuthorityPath());

    const HttpResponse response = fetch(client, requestFor(server.url(u"/secure"_s)));
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body, "secret"_ba);
}

void tst_NetworkHttpClient::refusesUnknownCertificates()
{
    LoopbackHttpServer server(LoopbackHttpServer::Scheme::Https);
    server.setRoute("/secure", LoopbackHttpServer::Route::answering(200, "secret"));
    NetworkHttpClient client{QString()};

    QCOMPARE(systemErrorOf(client, requestFor(server.url(u"/secure"_s))),
             u"Не удалось установить защищённое соединение с сервером."_s);
    QVERIFY(server.requests().isEmpty());
}

void tst_NetworkHttpClient::neverRedirectsToPlainHttp()
{
    LoopbackHttpServer plain;
    plain.setRoute("/open", LoopbackHttpServer::Route::answering(200, "exposed"));
    LoopbackHttpServer secure(LoopbackHttpServer::Scheme::Https);
    secure.setRedirect("/download", plain.url(u"/open"_s));
    NetworkHttpClient client(LoopbackHttpServer::certificateAuthorityPath());

    QCOMPARE(systemErrorOf(client, requestFor(secure.url(u"/download"_s))),
             u"Сервер перенаправил запрос на незащищённый адрес."_s);
    QVERIFY(!secure.requests().isEmpty());
    QVERIFY(plain.requests().isEmpty());
}

QTEST_GUILESS_MAIN(tst_NetworkHttpClient)
#include "tst_networkhttpclient.moc"
