#include "AppModel.h"
#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "FakeHttpClient.h"
#include "ProcessRunner.h"
#include "TestEnvironment.h"

#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

// Which tools are there and their versions; installing them over HTTPS is tst_componentsoverhttps.
class tst_ComponentsState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        m_model.reset();
        qunsetenv("MIRVO_FAKE_VERSION");
        QTRY_COMPARE(test::liveChildProcesses(), QList<pid_t>{});
        m_dir.reset();
    }

    void versions_data()
    {
        QTest::addColumn<QStringList>("tools");
        QTest::addColumn<QByteArray>("version"); // what both fakes report; empty for their defaults
        QTest::addColumn<QStringList>("missing");
        QTest::addColumn<QString>("ipatool"); // empty: no entry
        QTest::addColumn<QString>("ios");
        QTest::addColumn<bool>("needsUpdate");

        const QStringList both{u"ipatool"_s, u"ios"_s};
        QTest::newRow("both current")
            << both << QByteArray() << QStringList() << u"2.3.2"_s << u"1.3.2"_s << false;
        QTest::newRow("2.3.1 is too old")
            << both << "2.3.1"_ba << QStringList() << u"2.3.1"_s << u"2.3.1"_s << true;
        QTest::newRow("2.10.0 is newer than 2.3.2")
            << both << "2.10.0"_ba << QStringList() << u"2.10.0"_s << u"2.10.0"_s << false;
        QTest::newRow("no number shows the output") << both << "development"_ba << QStringList()
                                                    << u"ipatool version development"_s << QString() << true;
        QTest::newRow("only go-ios") << QStringList{u"ios"_s} << QByteArray() << QStringList{u"ipatool"_s}
                                     << QString() << u"1.3.2"_s << false;
        QTest::newRow("neither") << QStringList() << QByteArray() << both << QString() << QString() << false;
    }

    void versions()
    {
        QFETCH(QStringList, tools);
        QFETCH(QByteArray, version);
        QFETCH(QString, ipatool);
        QFETCH(QString, ios);
        QFETCH(bool, needsUpdate);
        if (!version.isEmpty())
            qputenv("MIRVO_FAKE_VERSION", version);
        ComponentsState& components = makeModel(tools);
        components.setIpatoolNeedsUpdate(!needsUpdate);
        test::awaitTask(components.refreshComponents(), 30000);

        QVERIFY(!components.checking());
        QTEST(components.missingTools(), "missing");
        QCOMPARE(components.versions().value(u"ipatool"_s), ipatool);
        QCOMPARE(components.versions().contains(u"ipatool"_s), !ipatool.isEmpty());
        if (!ios.isEmpty())
            QCOMPARE(components.versions().value(u"ios"_s), ios);
        QCOMPARE(components.ipatoolNeedsUpdate(), needsUpdate);
    }

    void nothingToInstall()
    {
        ComponentsState& components = makeModel({u"ipatool"_s, u"ios"_s});
        components.setStage(u"Компоненты готовы"_s);
        test::awaitTask(components.installMissingTools());
        QCOMPARE(components.stage(), u"Компоненты готовы"_s);
        QVERIFY(!components.installing());
        QCOMPARE(m_http->requests().size(), 0);
    }

private:
    ComponentsState& makeModel(const QStringList& tools)
    {
        m_dir = std::make_unique<test::TemporaryDataDirectory>();
        m_http = std::make_shared<test::FakeHttpClient>(
            [](const HttpRequest&) { return test::FakeHttpClient::status(404); });
        AppModelEnvironment environment = test::modelEnvironment(*m_dir);
        environment.runner = std::make_shared<ProcessRunner>();
        environment.http = m_http;
        test::installFakeTools(environment, tools);
        m_model = std::make_unique<AppModel>(std::move(environment));
        return *m_model->components();
    }

    std::unique_ptr<test::TemporaryDataDirectory> m_dir;
    std::shared_ptr<test::FakeHttpClient> m_http;
    std::unique_ptr<AppModel> m_model;
};

QTEST_MAIN(tst_ComponentsState)
#include "tst_componentsstate.moc"
