#include "OperationFixture.h"

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

CatalogApp app(const QString& id, const QString& name)
{
    return CatalogApp(id, name, {}, {}, 0, {}, {}, {});
}

const QList<CatalogApp> threeApps{app(u"100001"_s, u"Сбербанк"_s), app(u"100002"_s, u"Ozon"_s),
                                  app(u"100003"_s, u"Госуслуги"_s)};

QString counters(const BatchInstallProgress& progress)
{
    return u"%1/%2 +%3 -%4"_s.arg(progress.current)
        .arg(progress.total)
        .arg(progress.succeeded)
        .arg(progress.failed);
}

} // namespace

// The selected catalog apps downloaded, or installed, one after another through the fake tools.
class tst_BatchOperation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void outcomes_data();
    void outcomes();
    void stopDuringTheSecondOfFour();
    void onlyListedAppsCount();
    void guards_data();
    void guards();
    void withoutAStore();

private:
    void select(const QList<CatalogApp>& apps, const QStringList& ids);

    std::unique_ptr<test::OperationFixture> m_fixture;
};

void tst_BatchOperation::init()
{
    m_fixture = std::make_unique<test::OperationFixture>();
}

void tst_BatchOperation::cleanup()
{
    if (m_fixture)
        QVERIFY(m_fixture->waitUntilIdle());
    m_fixture.reset();
    QCOMPARE(test::liveChildProcesses(), QList<pid_t>{});
}

void tst_BatchOperation::select(const QList<CatalogApp>& apps, const QStringList& ids)
{
    CatalogState& catalog = *m_fixture->model().catalog();
    catalog.updateCatalog(apps);
    catalog.setSelectedAppIDs(QSet<QString>(ids.cbegin(), ids.cend()));
}

void tst_BatchOperation::outcomes_data()
{
    QTest::addColumn<bool>("install");
    QTest::addColumn<QByteArray>("failing"); // store IDs the fake ipatool refuses
    QTest::addColumn<QString>("notice");
    QTest::addColumn<bool>("isError");
    QTest::addColumn<QStringList>("stillSelected");
    QTest::addColumn<QStringList>("counters");

    const QStringList clean{u"1/3 +0 -0"_s, u"2/3 +1 -0"_s, u"3/3 +2 -0"_s};
    QTest::newRow("three downloaded")
        << false << QByteArray() << u"Скачано 3 приложения. IPA сохранены на Mac."_s << false << QStringList()
        << clean;
    QTest::newRow("three installed") << true << QByteArray()
                                     << u"Установлено 3 приложения на Jane's iPhone."_s << false
                                     << QStringList() << clean;
    const QStringList secondFails{u"1/3 +0 -0"_s, u"2/3 +1 -0"_s, u"3/3 +1 -1"_s};
    QTest::newRow("second download fails")
        << false << "100002"_ba << u"Скачано 2 из 3. Не удалось скачать: 1."_s << true
        << QStringList{u"100002"_s} << secondFails;
    QTest::newRow("second installation fails")
        << true << "100002"_ba << u"Установлено 2 из 3. Не удалось установить: 1."_s << true
        << QStringList{u"100002"_s} << secondFails;
    QTest::newRow("all fail") << false << "100001,100002,100003"_ba
                              << u"Скачано 0 из 3. Не удалось скачать: 3."_s << true
                              << QStringList{u"100001"_s, u"100002"_s, u"100003"_s}
                              << QStringList{u"1/3 +0 -0"_s, u"2/3 +0 -1"_s, u"3/3 +0 -2"_s};
}

void tst_BatchOperation::outcomes()
{
    QFETCH(bool, install);
    QFETCH(QByteArray, failing);
    QFETCH(QString, notice);
    QFETCH(bool, isError);
    QFETCH(QStringList, stillSelected);
    QFETCH(QStringList, counters);

    qputenv("MIRVO_FAKE_FAIL_IDS", failing);
    OperationState& operation = m_fixture->operation();
    QStringList seen;
    QStringList stages;
    QObject context; // the connections end with this test
    connect(&operation, &OperationState::batchProgressChanged, &context, [&] {
        if (operation.batchProgress())
            seen.append(::counters(*operation.batchProgress()));
    });
    connect(&operation, &OperationState::stageChanged, &context, [&] { stages.append(operation.stage()); });
    // Bytes shown for an app are its own: a late count from the app before must not reach the next row.
    QStringList strayBytes;
    connect(&operation, &OperationState::downloadedBytesChanged, &context, [&] {
        const QString download = u"ipatool download --app-id "_s + operation.activeCatalogAppID();
        if (operation.downloadedBytes() > 0 && m_fixture->calls().filter(download).isEmpty())
            strayBytes.append(operation.activeCatalogAppID());
    });
    select(threeApps, {u"100003"_s, u"100001"_s, u"100002"_s});
    operation.performSelectedCatalogApps(install);
    QVERIFY(operation.busy());
    QCOMPARE(stages.value(0), install ? u"Готовим установку"_s : u"Готовим скачивание"_s);
    QCOMPARE(stages.value(1), u"Скачиваем 1 из 3"_s);
    QCOMPARE(operation.title(), u"Сбербанк"_s);
    QVERIFY(m_fixture->waitUntilIdle());

    QCOMPARE(m_fixture->model().alert(), QString());
    QCOMPARE(m_fixture->model().notice(), notice);
    QCOMPARE(m_fixture->model().noticeIsError(), isError);
    QStringList selected = m_fixture->model().catalog()->selectedAppIDs().values();
    selected.sort();
    QCOMPARE(selected, stillSelected);
    QCOMPARE(seen, counters);
    QCOMPARE(strayBytes, QStringList());
    QVERIFY(!operation.batchProgress());
    QCOMPARE(operation.activeCatalogAppID(), QString());
    // Each file is named after the app and its ID; only whole downloads are kept.
    QStringList expectedFiles;
    for (const CatalogApp& app : threeApps) {
        if (!failing.contains(app.id().toUtf8()))
            expectedFiles.append(app.name() + u" _ "_s + app.id() + u".ipa"_s);
    }
    expectedFiles.sort();
    QStringList files = m_fixture->packageFiles();
    files.sort();
    QCOMPARE(files, expectedFiles);
}

void tst_BatchOperation::stopDuringTheSecondOfFour()
{
    qputenv("MIRVO_FAKE_SCENARIO", "slow-progress");
    const QList<CatalogApp> four = threeApps + QList<CatalogApp>{app(u"100004"_s, u"Почта"_s)};
    select(four, {u"100001"_s, u"100002"_s, u"100003"_s, u"100004"_s});
    OperationState& operation = m_fixture->operation();
    operation.performSelectedCatalogApps(false);
    QTRY_VERIFY_WITH_TIMEOUT(operation.activeCatalogAppID() == u"100002"_s && operation.downloadedBytes() > 0,
                             30000);
    QCOMPARE(operation.stage(), u"Скачиваем 2 из 4"_s);
    operation.stop();
    QVERIFY(m_fixture->waitUntilIdle());

    QCOMPARE(m_fixture->model().notice(), u"Массовое скачивание остановлено. Скачано 1 из 4."_s);
    QVERIFY(!m_fixture->model().noticeIsError());
    QStringList selected = m_fixture->model().catalog()->selectedAppIDs().values();
    selected.sort();
    QCOMPARE(selected, (QStringList{u"100002"_s, u"100003"_s, u"100004"_s}));
    QCOMPARE(m_fixture->packageFiles(), QStringList{u"Сбербанк _ 100001.ipa"_s});
    QCOMPARE(m_fixture->calls().filter(u"download"_s).size(), 2);
}

void tst_BatchOperation::onlyListedAppsCount()
{
    // A 19-digit ID cannot name an app: it fails without a tool; an ID no longer listed is not counted.
    const QList<CatalogApp> apps{app(u"1234567890123456789"_s, u"Длинный"_s),
                                 app(u"100001"_s, u"Сбербанк"_s)};
    select(apps, {u"1234567890123456789"_s, u"100001"_s, u"555555"_s});
    OperationState& operation = m_fixture->operation();
    operation.performSelectedCatalogApps(false);
    QCOMPARE(operation.batchProgress()->total, 2);
    QVERIFY(m_fixture->waitUntilIdle());

    QCOMPARE(m_fixture->model().notice(), u"Скачано 1 из 2. Не удалось скачать: 1."_s);
    QCOMPARE(m_fixture->calls().size(), 1);
    QVERIFY(m_fixture->calls().constFirst().contains(u"100001"_s));
    QStringList selected = m_fixture->model().catalog()->selectedAppIDs().values();
    selected.sort();
    QCOMPARE(selected, (QStringList{u"1234567890123456789"_s, u"555555"_s}));
}

void tst_BatchOperation::guards_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("install");
    QTest::addColumn<QString>("alert"); // empty: none
    QTest::addColumn<bool>("appleIDSheet");

    const QString phone = u"Подключите и разблокируйте iPhone."_s;
    const QString tools = u"Не удалось подготовить загрузку приложений. Попробуйте ещё раз позже."_s;
    QTest::newRow("nothing selected") << u"nothing selected"_s << false << QString() << false;
    QTest::newRow("signed out") << u"signed out"_s << false << QString() << true;
    QTest::newRow("ipatool missing") << u"ipatool missing"_s << false << tools << false;
    QTest::newRow("ipatool too old") << u"ipatool too old"_s << false << tools << false;
    QTest::newRow("go-ios missing, downloading") << u"ios missing"_s << false << QString() << false;
    QTest::newRow("go-ios missing, installing") << u"ios missing"_s << true << phone << false;
    QTest::newRow("phone locked") << u"phone locked"_s << true << phone << false;
    QTest::newRow("no phone") << u"no phone"_s << true << phone << false;
}

void tst_BatchOperation::guards()
{
    QFETCH(QString, situation);
    QFETCH(bool, install);
    QFETCH(QString, alert);
    QFETCH(bool, appleIDSheet);

    AppModel& model = m_fixture->model();
    select(threeApps, situation == u"nothing selected"_s ? QStringList{} : QStringList{u"100001"_s});
    if (situation == u"signed out"_s)
        model.account()->setEmail({});
    else if (situation == u"ipatool missing"_s)
        model.components()->setMissingTools({u"ipatool"_s});
    else if (situation == u"ipatool too old"_s)
        model.components()->setIpatoolNeedsUpdate(true);
    else if (situation == u"ios missing"_s)
        model.components()->setMissingTools({u"ios"_s});
    else if (situation == u"phone locked"_s)
        model.devices()->setConnected({test::fakePhone(false)});
    else if (situation == u"no phone"_s)
        model.devices()->setConnected({});

    model.operation()->performSelectedCatalogApps(install);
    QCOMPARE(model.alert(), alert);
    QCOMPARE(model.account()->modal() == AccountState::Modal::AppleID, appleIDSheet);
    const bool starts = alert.isEmpty() && !appleIDSheet && situation != u"nothing selected"_s;
    QCOMPARE(model.operation()->busy(), starts);
    if (starts)
        QVERIFY(m_fixture->waitUntilIdle());
    else
        QCOMPARE(m_fixture->calls(), QStringList{});
}

void tst_BatchOperation::withoutAStore()
{
    test::TemporaryDataDirectory dir;
    AppModel model(test::blockedModelEnvironment(dir));
    model.account()->setEmail(u"jane@example.com"_s);
    model.catalog()->updateCatalog(threeApps);
    model.catalog()->setSelectedAppIDs({u"100001"_s});
    model.operation()->performSelectedCatalogApps(false);
    QCOMPARE(model.alert(), u"Не удалось открыть хранилище приложений."_s);
    QVERIFY(!model.operation()->busy());
}

QTEST_MAIN(tst_BatchOperation)
#include "tst_batchoperation.moc"
