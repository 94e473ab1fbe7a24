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
                            qint64 cap = 1024 * 1024, bool trustExtra = true) {
            QTest::newRow(name) << HttpRequest{.url = url, .timeout = timeout, .maxBodyBytes = cap}
                                << trustExtra << expected;
        };
        const QString timedOut = u"Превышено время ожидания ответа сервера."_s;

        row("200 body", m_plain.url(u"/hello"_s), u"200 привет"_s);
        row("404 kept", m_plain.url(u"/gone"_s), u"404 gone"_s);
        row("403 kept", m_plain.url(u"/forbidden"_s), u"403 forbidden"_s);
        row("redirects followed", m_plain.url(u"/old"_s), u"200 arrived"_s);
        row("announced at the cap", m_plain.url(u"/big"_s), u"200 "_s + QString(bigBody, u'a'), 10, bigBody);
        row("announced over the cap", m_plain.url(u"/big"_s), u"200 too large"_s, 10, bigBody - 1);
        row("streamed at the cap", m_plain.url(u"/big-streamed"_s), u"200 "_s + QString(bigBody, u'x'), 10,
            bigBody);
        row("streamed over the cap", m_plain.url(u"/huge"_s), u"200 too large"_s);
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

        QTEST(outcome(client.get(request, {})), "expected");
        // Nothing was read past a cap or a deadline: the client hung up.
        QTRY_COMPARE(m_plain.connectionsInUse(), 0);
        QVERIFY(m_plain.streamedBytesSent() < hugeBody);
        for (const LoopbackHttpServer::Request& served : m_plain.requests())
            QVERIFY(served.target != "/exposed");
    }

    void sendsHeaderFields()
    {
        NetworkHttpClient client;
        HttpRequest request{.url = m_plain.url(u"/hello?q=%D0%B0"_s)};
        request.headers = {{"User-Agent", "Mirvo/1.0"}, {"Accept", "application/vnd.github+json"}};
        QCOMPARE(outcome(client.get(request, {})), u"200 привет"_s);

        const LoopbackHttpServer::Request& recorded = m_plain.requests().constLast();
        QCOMPARE(recorded.target, "/hello?q=%D0%B0"_ba);
        QCOMPARE(recorded.header("user-agent"), "Mirvo/1.0"_ba);
        QCOMPARE(recorded.header("accept"), "application/vnd.github+json"_ba);
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
    LoopbackHttpServer m_plain;
    LoopbackHttpServer m_secure{LoopbackHttpServer::Scheme::Https};
};

QTEST_GUILESS_MAIN(tst_NetworkHttpClient)
#include "tst_networkhttpclient.moc"
