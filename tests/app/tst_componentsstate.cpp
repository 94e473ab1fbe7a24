#include "AppModel.h"
#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "FakeHttpClient.h"
#include "ProcessRunner.h"
#include "TestEnvironment.h"

#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

// Which tools are there, their versions, and fetching the missing ones.
class tst_ComponentsState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void versions_data();
    void versions();
    void nothingToInstall();
    void failureAfterAnEarlierSuccess();

private:
    void makeModel(const QStringList& tools);

    std::unique_ptr<test::TemporaryDataDirectory> m_dir;
    std::shared_ptr<test::FakeHttpClient> m_http;
    std::unique_ptr<AppModel> m_model;
};

void tst_ComponentsState::init()
{
    m_dir = std::make_unique<test::TemporaryDataDirectory>();
    m_http = std::make_shared<test::FakeHttpClient>(
        [](const HttpRequest&) { return test::FakeHttpClient::status(404); });
}

void tst_ComponentsState::cleanup()
{
    m_model.reset();
    qunsetenv("MIRVO_FAKE_VERSION");
    QTRY_COMPARE(test::liveChildProcesses(), QList<pid_t>{});
    m_dir.reset();
}

void tst_ComponentsState::makeModel(const QStringList& tools)
{
    AppModelEnvironment environment = test::modelEnvironment(*m_dir);
    environment.runner = std::make_shared<ProcessRunner>();
    environment.http = m_http;
    test::installFakeTools(environment, tools);
    m_model = std::make_unique<AppModel>(std::move(environment));
}

void tst_ComponentsState::versions_data()
{
    QTest::addColumn<QStringList>("tools");
    QTest::addColumn<QByteArray>("version"); // what both fakes report; empty for their defaults
    QTest::addColumn<QStringList>("missing");
    QTest::addColumn<QString>("ipatool"); // empty: no entry
    QTest::addColumn<QString>("ios");
    QTest::addColumn<bool>("needsUpdate");

    const QStringList both{u"ipatool"_s, u"ios"_s};
    QTest::newRow("both current") << both << QByteArray() << QStringList() << u"2.3.2"_s << u"1.3.2"_s
                                  << false;
    QTest::newRow("2.3.1 is too old")
        << both << "2.3.1"_ba << QStringList() << u"2.3.1"_s << u"2.3.1"_s << true;
    QTest::newRow("2.10.0 is newer than 2.3.2")
        << both << "2.10.0"_ba << QStringList() << u"2.10.0"_s << u"2.10.0"_s << false;
    QTest::newRow("no number shows the output")
        << both << "development"_ba << QStringList() << u"ipatool version development"_s << QString() << true;
    QTest::newRow("only go-ios") << QStringList{u"ios"_s} << QByteArray() << QStringList{u"ipatool"_s}
                                 << QString() << u"1.3.2"_s << false;
    QTest::newRow("neither") << QStringList() << QByteArray() << both << QString() << QString() << false;
}

void tst_ComponentsState::versions()
{
    QFETCH(QStringList, tools);
    QFETCH(QByteArray, version);
    QFETCH(QStringList, missing);
    QFETCH(QString, ipatool);
    QFETCH(QString, ios);
    QFETCH(bool, needsUpdate);

    if (!version.isEmpty())
        qputenv("MIRVO_FAKE_VERSION", version);
    makeModel(tools);
    ComponentsState& components = *m_model->components();
    components.setIpatoolNeedsUpdate(!needsUpdate);
    test::awaitTask(components.refreshComponents(), 30000);

    QVERIFY(!components.checking());
    QCOMPARE(components.missingTools(), missing);
    QCOMPARE(components.versions().value(u"ipatool"_s), ipatool);
    QCOMPARE(components.versions().contains(u"ipatool"_s), !ipatool.isEmpty());
    if (!ios.isEmpty())
        QCOMPARE(components.versions().value(u"ios"_s), ios);
    QCOMPARE(components.ipatoolNeedsUpdate(), needsUpdate);
}

void tst_ComponentsState::nothingToInstall()
{
    makeModel({u"ipatool"_s, u"ios"_s});
    ComponentsState& components = *m_model->components();
    components.setStage(u"Компоненты готовы"_s);
    test::awaitTask(components.installMissingTools());
    QCOMPARE(components.stage(), u"Компоненты готовы"_s);
    QVERIFY(!components.installing());
    QCOMPARE(m_http->requests().size(), 0);
}

void tst_ComponentsState::failureAfterAnEarlierSuccess()
{
    makeModel({u"ios"_s});
    ComponentsState& components = *m_model->components();
    components.setStage(u"Компоненты готовы"_s);
    QStringList stages;
    QObject context;
    connect(&components, &ComponentsState::stageChanged, &context,
            [&] { stages.append(components.stage()); });
    test::awaitTask(components.installMissingTools());

    QCOMPARE(stages.value(0), u"Подготавливаем компоненты"_s);
    QCOMPARE(stages.value(1), u"Ищем выпуск IPATool…"_s);
    QCOMPARE(components.stage(), u"Не удалось подготовить компоненты"_s);
    QCOMPARE(
        m_model->alert(),
        u"GitHub не вернул выпуск инструмента. Проверьте подключение к интернету и повторите попытку."_s);
    QCOMPARE(components.missingTools(), QStringList{u"ipatool"_s});
    QVERIFY(!components.installing());
}

QTEST_MAIN(tst_ComponentsState)
#include "tst_componentsstate.moc"
