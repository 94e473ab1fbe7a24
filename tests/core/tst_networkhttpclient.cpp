#include "AwaitTask.h"
#include "CancelledError.h"
#include "LoopbackHttpServer.h"
#include "NetworkHttpClient.h"
#include "SystemError.h"

#include <QtTest>

#include <memory>
#include <thread>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

using Route = LoopbackHttpServer::Route;

constexpr qint64 hugeBody = 256LL * 1024 * 1024;
constexpr qsizetype bigBody = 5000;

HttpRequest requestFor(const QUrl& url, double timeout = 10, qint64 cap = 1024 * 1024)
{
    HttpRequest request;
    request.url = url;
    request.timeout = timeout;
    request.maxBodyBytes = cap;
    return request;
}

// How a request ended: "<status> <body>", "<status> too large", "cancelled" or the SystemError's text.
QString outcome(QCoro::Task<HttpResponse> task)
{
    try {
        const HttpResponse response = awaitTask(std::move(task), 20000);
        const QString status = response.status ? QString::number(*response.status) : u"-"_s;
        if (response.bodyTooLarge && response.body.isEmpty())
            return status + u" too large"_s;
        return status + u' ' + QString::fromUtf8(response.body);
    } catch (const SystemError& error) {
        return error.description();
    } catch (const CancelledError&) {
        return u"cancelled"_s;
    }
}

} // namespace

class tst_NetworkHttpClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void outcomes_data();
    void outcomes();
    void sendsHeaderFields();
    void stopAndDestructionCancel_data();
    void stopAndDestructionCancel();

private:
    LoopbackHttpServer m_plain;
    LoopbackHttpServer m_secure{LoopbackHttpServer::Scheme::Https};
};

void tst_NetworkHttpClient::initTestCase()
{
    QVERIFY(m_plain.isListening());
    QVERIFY(m_secure.isListening());
    m_plain.setRoute("/hello", Route::answering(200, "привет"_ba));
    m_plain.setRoute("/gone", Route::answering(404, "gone"));
    m_plain.setRoute("/forbidden", Route::answering(403, "forbidden"));
    Route late = Route::answering(200, "late");
    late.delayMs = 1000;
    m_plain.setRoute("/late", late);
    m_plain.setRoute("/big", Route::answering(200, QByteArray(bigBody, 'a')));
    Route bigStreamed;
    bigStreamed.streamedBytes = bigBody;
    m_plain.setRoute("/big-streamed", bigStreamed);
    Route streamed;
    streamed.streamedBytes = hugeBody;
    m_plain.setRoute("/huge", streamed);
    // Never idle for long, so only a deadline for the whole request ends it.
    Route trickle;
    trickle.streamedBytes = 1024 * 1024;
    trickle.chunkIntervalMs = 20;
    m_plain.setRoute("/trickle", trickle);
    m_plain.setRedirect("/old", m_plain.url(u"/middle"_s), 301);
    m_plain.setRedirect("/middle", QUrl(u"/new"_s), 302); // relative, as servers often answer
    m_plain.setRoute("/new", Route::answering(200, "arrived"));
    m_plain.setRoute("/exposed", Route::answering(200, "exposed"));
    m_secure.setRoute("/secure", Route::answering(200, "secret"));
    m_secure.setRedirect("/to-plain", m_plain.url(u"/exposed"_s));
}

void tst_NetworkHttpClient::outcomes_data()
{
    QTest::addColumn<HttpRequest>("request");
    QTest::addColumn<bool>("trustExtra");
    QTest::addColumn<QString>("expected");

    QTest::newRow("200 body") << requestFor(m_plain.url(u"/hello"_s)) << true << u"200 привет"_s;
    QTest::newRow("404 kept") << requestFor(m_plain.url(u"/gone"_s)) << true << u"404 gone"_s;
    QTest::newRow("403 kept") << requestFor(m_plain.url(u"/forbidden"_s)) << true << u"403 forbidden"_s;
    QTest::newRow("redirects followed") << requestFor(m_plain.url(u"/old"_s)) << true << u"200 arrived"_s;
    QTest::newRow("announced at the cap")
        << requestFor(m_plain.url(u"/big"_s), 10, bigBody) << true << u"200 "_s + QString(bigBody, u'a');
    QTest::newRow("announced over the cap")
        << requestFor(m_plain.url(u"/big"_s), 10, bigBody - 1) << true << u"200 too large"_s;
    QTest::newRow("streamed at the cap") << requestFor(m_plain.url(u"/big-streamed"_s), 10, bigBody) << true
                                         << u"200 "_s + QString(bigBody, u'x');
    QTest::newRow("streamed over the cap")
        << requestFor(m_plain.url(u"/huge"_s)) << true << u"200 too large"_s;
    QTest::newRow("late answer, short time-out")
        << requestFor(m_plain.url(u"/late"_s), 0.2) << true << u"Превышено время ожидания ответа сервера."_s;
    QTest::newRow("late answer, long time-out")
        << requestFor(m_plain.url(u"/late"_s), 5) << true << u"200 late"_s;
    QTest::newRow("whole-request time-out") << requestFor(m_plain.url(u"/trickle"_s), 0.4) << true
                                            << u"Превышено время ожидания ответа сервера."_s;
    QTest::newRow("connection refused")
        << requestFor(QUrl(u"http://127.0.0.1:%1/"_s.arg(LoopbackHttpServer::closedPort()))) << true
        << u"Сервер отклонил подключение."_s;
    QTest::newRow("extra authority trusted")
        << requestFor(m_secure.url(u"/secure"_s)) << true << u"200 secret"_s;
    QTest::newRow("unknown certificate") << requestFor(m_secure.url(u"/secure"_s)) << false
                                         << u"Не удалось установить защищённое соединение с сервером."_s;
    QTest::newRow("https to http refused") << requestFor(m_secure.url(u"/to-plain"_s)) << true
                                           << u"Сервер перенаправил запрос на незащищённый адрес."_s;
}

void tst_NetworkHttpClient::outcomes()
{
    QFETCH(HttpRequest, request);
    QFETCH(bool, trustExtra);
    QFETCH(QString, expected);
    NetworkHttpClient client(trustExtra ? LoopbackHttpServer::certificateAuthorityPath() : QString());

    QCOMPARE(outcome(client.get(request, {})), expected);
    // Nothing was read past a cap or a deadline: the client hung up.
    QTRY_COMPARE(m_plain.connectionsInUse(), 0);
    QVERIFY(m_plain.streamedBytesSent() < hugeBody);
    for (const LoopbackHttpServer::Request& served : m_plain.requests())
        QVERIFY(served.target != "/exposed");
}

void tst_NetworkHttpClient::sendsHeaderFields()
{
    NetworkHttpClient client;
    HttpRequest request = requestFor(m_plain.url(u"/hello?q=%D0%B0"_s));
    request.headers = {{"User-Agent", "Mirvo/1.0"}, {"Accept", "application/vnd.github+json"}};
    QCOMPARE(outcome(client.get(request, {})), u"200 привет"_s);

    const LoopbackHttpServer::Request& recorded = m_plain.requests().constLast();
    QCOMPARE(recorded.target, "/hello?q=%D0%B0"_ba);
    QCOMPARE(recorded.header("user-agent"), "Mirvo/1.0"_ba);
    QCOMPARE(recorded.header("accept"), "application/vnd.github+json"_ba);
}

void tst_NetworkHttpClient::stopAndDestructionCancel_data()
{
    QTest::addColumn<bool>("destroyClient"); // otherwise a stop from another thread

    QTest::newRow("stop") << false;
    QTest::newRow("client destroyed") << true;
}

void tst_NetworkHttpClient::stopAndDestructionCancel()
{
    QFETCH(bool, destroyClient);
    auto client = std::make_unique<NetworkHttpClient>();
    std::stop_source source;
    const qsizetype before = m_plain.requests().size();

    QCoro::Task<HttpResponse> task =
        client->get(requestFor(m_plain.url(u"/trickle"_s), 60), source.get_token());
    QTRY_COMPARE(m_plain.requests().size(), before + 1);
    if (destroyClient)
        client.reset();
    else
        std::thread([&source] { source.request_stop(); }).join();

    QCOMPARE(outcome(std::move(task)), u"cancelled"_s);
    QTRY_COMPARE(m_plain.connectionsInUse(), 0);
}

QTEST_GUILESS_MAIN(tst_NetworkHttpClient)
#include "tst_networkhttpclient.moc"
