#include "Endpoints.h"
#include "LoopbackHttpServer.h"

#include <QtTest>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

// Run by CTest once per function, each time with MIRVO_ENDPOINTS naming a different file (or none).
class tst_EndpointsEnvironment : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void unset()
    {
        if (qEnvironmentVariableIsSet("MIRVO_ENDPOINTS"))
            QSKIP("MIRVO_ENDPOINTS is set");
        QVERIFY(Endpoints::current() == Endpoints());
        QCOMPARE(Endpoints::loadError(), QString());
    }

    void overridesInForce()
    {
        const QString path = qEnvironmentVariable("MIRVO_ENDPOINTS");
        if (!path.endsWith(u"mirror.json"_s))
            QSKIP("run with MIRVO_ENDPOINTS naming endpoints/mirror.json");
        const Endpoints& endpoints = Endpoints::current();
        QCOMPARE(Endpoints::loadError(), QString());
        QCOMPARE(endpoints.appStoreLookup, QUrl(u"http://127.0.0.1:9/store"_s));
        QCOMPARE(endpoints.lookupFallbackCountries, (QStringList{u"gb"_s, u"de"_s}));
        QCOMPARE(endpoints.extraCertificateAuthorities,
                 QFileInfo(LoopbackHttpServer::certificateAuthorityPath()).absoluteFilePath());
        QCOMPARE(endpoints.gitHubApi, Endpoints().gitHubApi);
        // The same value every time, from any thread.
        const Endpoints* fromThread = nullptr;
        QThread* thread = QThread::create([&fromThread] { fromThread = &Endpoints::current(); });
        thread->start();
        QVERIFY(thread->wait(10000));
        delete thread;
        QCOMPARE(fromThread, &endpoints);
    }

    void brokenFileReported()
    {
        const QString path = qEnvironmentVariable("MIRVO_ENDPOINTS");
        if (!path.endsWith(u"broken.json"_s))
            QSKIP("run with MIRVO_ENDPOINTS naming endpoints/broken.json");
        QCOMPARE(Endpoints::loadError(),
                 u"Не удалось прочитать файл адресов MIRVO_ENDPOINTS ("_s + path +
                     u"): значение «appStoreLookup» («itunes.apple.com») не является абсолютным адресом http "
                     u"или https."_s);
        QVERIFY(Endpoints::current() == Endpoints());
    }
};

QTEST_GUILESS_MAIN(tst_EndpointsEnvironment)
#include "tst_endpoints_environment.moc"
