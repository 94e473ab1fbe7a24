#include "AppModel.h"
#include "AwaitTask.h"
#include "TemporaryDataDirectory.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace mirvo {

class tst_AppModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void opensTheStoreInTheDataDirectory();
    void dataDirectoryBlockedByAFile();
    void manifestAddressFromBundleInfo_data();
    void manifestAddressFromBundleInfo();
    void advancedModeComesFromTheUserDefault();
    void disablingAdvancedMode_data();
    void disablingAdvancedMode();
    void searchRefiltersTheCatalog();
    void canInstall_data();
    void canInstall();
    void canDownloadNeedsEveryPiece();
    void startTwiceKeepsOneUpdateCheckAndOnePoller();
    void shutdownWithNothingRunning();
    void shutdownStopsThePoller();

private:
    AppModelEnvironment environment(const QString& dataRoot, QVariantMap bundle = {});

    test::TemporaryDataDirectory m_dir;
};

AppModelEnvironment tst_AppModel::environment(const QString& dataRoot, QVariantMap bundle)
{
    AppModelEnvironment environment;
    environment.dataRoot = dataRoot;
    environment.bundleInfo = BundleInfo(std::move(bundle));
    environment.settings =
        std::make_shared<QSettings>(m_dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
    environment.settings->clear();
    environment.openUrl = [](const QUrl&) { return true; };
    return environment;
}

void tst_AppModel::opensTheStoreInTheDataDirectory()
{
    const QString root = m_dir.filePath(u"Mirvo"_s);
    const AppModel model(environment(root));
    QVERIFY(model.store().has_value());
    QCOMPARE(model.store()->root(), root);
    QVERIFY(QFileInfo(root + u"/Packages"_s).isDir());
    QCOMPARE(model.service().locator().directories(), QStringList{root + u"/Tools"_s});
    QVERIFY(model.alert().isEmpty());
    QVERIFY(model.isStarting());
    QCOMPARE(model.page(), AppModel::Page::Catalog);
    QCOMPARE(model.loginStage(), AuthenticationEvent::working());
}

void tst_AppModel::dataDirectoryBlockedByAFile()
{
    const QString blocked = m_dir.filePath(u"blocked"_s);
    QFile file(blocked);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    AppModel model(environment(blocked));
    QVERIFY(!model.store().has_value());
    QVERIFY2(model.alert().startsWith(u"Не удалось открыть локальное хранилище: "_s),
             qPrintable(model.alert()));
    QVERIFY(model.alert().size() > u"Не удалось открыть локальное хранилище: "_s.size());

    // Everything else in place, the missing store alone keeps downloads off.
    model.setAccount(u"jane@example.com"_s);
    QVERIFY(!model.canDownload());
    QVERIFY(QFileInfo(blocked).isFile());
}

void tst_AppModel::manifestAddressFromBundleInfo_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QUrl>("expected");

    const QUrl fallback(u"https://mirvo.app/download/latest.json"_s);
    QTest::newRow("absent") << QVariant() << fallback;
    QTest::newRow("a number") << QVariant(42) << fallback;
    QTest::newRow("not a url") << QVariant(u"не адрес"_s) << fallback;
    QTest::newRow("relative") << QVariant(u"latest.json"_s) << fallback;
    QTest::newRow("a url") << QVariant(u"https://mirror.example/download/latest.json"_s)
                           << QUrl(u"https://mirror.example/download/latest.json"_s);
}

void tst_AppModel::manifestAddressFromBundleInfo()
{
    QFETCH(QVariant, value);
    QFETCH(QUrl, expected);

    QVariantMap bundle;
    if (value.isValid())
        bundle.insert(u"SolvenaUpdateManifestURL"_s, value);
    const AppModel model(environment(m_dir.filePath(u"Mirvo"_s), bundle));
    QCOMPARE(model.updateManifestURL(), expected);
}

void tst_AppModel::advancedModeComesFromTheUserDefault()
{
    AppModelEnvironment env = environment(m_dir.filePath(u"Mirvo"_s));
    env.settings->setValue(u"advancedMode"_s, true);
    env.settings->sync();
    const auto settings = env.settings;
    const AppModel model(std::move(env));
    QVERIFY(model.advancedMode());
    QCOMPARE(settings->allKeys(), QStringList{u"advancedMode"_s});
}

void tst_AppModel::disablingAdvancedMode_data()
{
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("selectionKept");

    QTest::newRow("idle") << false << false;
    QTest::newRow("busy") << true << true;
}

void tst_AppModel::disablingAdvancedMode()
{
    QFETCH(bool, busy);
    QFETCH(bool, selectionKept);

    AppModelEnvironment env = environment(m_dir.filePath(u"Mirvo"_s));
    const auto settings = env.settings;
    AppModel model(std::move(env));
    model.setAdvancedMode(true);
    QCOMPARE(settings->value(u"advancedMode"_s).toBool(), true);
    model.setSelectedCatalogAppIDs({u"1"_s, u"2"_s});
    model.setBusy(busy);

    model.setAdvancedMode(false);
    QCOMPARE(settings->value(u"advancedMode"_s).toBool(), false);
    QCOMPARE(model.selectedCatalogAppIDs().isEmpty(), !selectionKept);
}

void tst_AppModel::searchRefiltersTheCatalog()
{
    AppModel model(environment(m_dir.filePath(u"Mirvo"_s)));
    const CatalogApp bank(u"1001"_s, u"Сбербанк"_s, u"Финансы"_s, {}, 0, {}, {}, {});
    const CatalogApp map(u"1002"_s, u"Карты"_s, u"Навигация"_s, {}, 0, {}, {}, {});
    model.setSearch(u"сбер"_s);
    model.setCatalogApps({bank, map});
    QCOMPARE(model.filteredApps(), QList<CatalogApp>{bank});
    model.setSearch(u"  "_s);
    QCOMPARE(model.filteredApps(), (QList<CatalogApp>{bank, map}));

    const TopApp telegram{u"1"_s, u"Telegram"_s, u"telegram.org"_s, u"Общение"_s};
    model.setTopApps({telegram});
    model.setTopSearch(u"whatsapp"_s);
    QVERIFY(model.filteredTopApps().isEmpty());
    model.setTopSearch(u"ОБЩЕНИЕ"_s);
    QCOMPARE(model.filteredTopApps(), QList<TopApp>{telegram});
}

void tst_AppModel::canInstall_data()
{
    QTest::addColumn<bool>("selectDevice");
    QTest::addColumn<bool>("ready");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("ipatoolNeedsUpdate");
    QTest::addColumn<bool>("expected");

    QTest::newRow("ready device") << true << true << false << false << true;
    QTest::newRow("no selected device") << false << true << false << false << false;
    QTest::newRow("device not ready") << true << false << false << false << false;
    QTest::newRow("busy") << true << true << true << false << false;
    QTest::newRow("old ipatool does not matter") << true << true << false << true << true;
}

void tst_AppModel::canInstall()
{
    QFETCH(bool, selectDevice);
    QFETCH(bool, ready);
    QFETCH(bool, busy);
    QFETCH(bool, ipatoolNeedsUpdate);
    QFETCH(bool, expected);

    AppModel model(environment(m_dir.filePath(u"Mirvo"_s)));
    QSignalSpy readiness(&model, &AppModel::readinessChanged);
    model.setAccount(u"jane@example.com"_s);
    model.setDevices({Device{u"UDID-1"_s, u"iPhone"_s, u"17.5"_s, ready, DeviceTransport::Usb}});
    if (selectDevice)
        model.setSelectedDeviceID(u"UDID-1"_s);
    model.setBusy(busy);
    model.setIpatoolNeedsUpdate(ipatoolNeedsUpdate);
    QCOMPARE(model.canInstall(), expected);
    QVERIFY(!readiness.isEmpty());
}

void tst_AppModel::canDownloadNeedsEveryPiece()
{
    AppModel model(environment(m_dir.filePath(u"Mirvo"_s)));
    QVERIFY(!model.canDownload()); // no account
    model.setAccount(u"jane@example.com"_s);
    QVERIFY(model.canDownload());
    model.setMissingTools({u"ipatool"_s});
    QVERIFY(!model.canDownload());
    model.setMissingTools({u"ios"_s});
    QVERIFY(model.canDownload());
    model.setIpatoolNeedsUpdate(true);
    QVERIFY(!model.canDownload());
    model.setIpatoolNeedsUpdate(false);
    model.setBusy(true);
    QVERIFY(!model.canDownload());
}

void tst_AppModel::startTwiceKeepsOneUpdateCheckAndOnePoller()
{
    AppModel model(environment(m_dir.filePath(u"Mirvo"_s)));
    QSignalSpy starting(&model, &AppModel::isStartingChanged);

    test::awaitTask(model.start());
    QVERIFY(!model.isStarting());
    const quint64 updateCheck = model.m_updateCheckTask.serial();
    const TaskHandle firstPoller = model.m_poller;
    QVERIFY(updateCheck != 0);
    QVERIFY(!firstPoller.isEmpty());
    QVERIFY(!firstPoller.isFinished());

    test::awaitTask(model.start());
    QCOMPARE(model.m_updateCheckTask.serial(), updateCheck);
    QVERIFY(model.m_poller.serial() != firstPoller.serial());
    QVERIFY(!model.m_poller.isFinished());
    QVERIFY(firstPoller.isCancelled());
    QTRY_VERIFY(firstPoller.isFinished());
    QCOMPARE(starting.count(), 1);

    model.shutdown();
    const TaskHandle poller = model.m_poller;
    QTRY_VERIFY(poller.isFinished());
}

void tst_AppModel::shutdownWithNothingRunning()
{
    AppModel model(environment(m_dir.filePath(u"Mirvo"_s)));
    model.setNotice(u"Вы вышли из Apple ID."_s);
    model.shutdown();
    model.shutdown();
    QCOMPARE(model.notice(), u"Вы вышли из Apple ID."_s);
    QVERIFY(model.isStarting());
    QVERIFY(model.m_poller.isEmpty());
}

void tst_AppModel::shutdownStopsThePoller()
{
    AppModel model(environment(m_dir.filePath(u"Mirvo"_s)));
    test::awaitTask(model.start());
    const TaskHandle poller = model.m_poller;
    const TaskHandle updateCheck = model.m_updateCheckTask;
    model.shutdown();
    QVERIFY(poller.isCancelled());
    QVERIFY(updateCheck.isCancelled());
    QTRY_VERIFY(poller.isFinished());
    QVERIFY(!model.isStarting());
}

} // namespace mirvo

QTEST_MAIN(mirvo::tst_AppModel)
#include "tst_appmodel.moc"
