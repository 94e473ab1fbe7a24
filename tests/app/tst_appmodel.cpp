#include "AppModel.h"
#include "AwaitTask.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

// The root: the store, the user default, the readiness flags, start-up and shutdown.
class tst_AppModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void opensTheStoreAndShutsDownIdle()
    {
        AppModel model(test::modelEnvironment(m_dir));
        const QString root = m_dir.filePath(u"Mirvo"_s);
        QVERIFY(model.store().has_value());
        QCOMPARE(model.store()->root(), root);
        QVERIFY(QFileInfo(root + u"/Packages"_s).isDir());
        QCOMPARE(model.service().locator().directories(), QStringList{root + u"/Tools"_s});
        QVERIFY(model.alert().isEmpty());
        QVERIFY(model.isStarting());

        // Shutting down with nothing running, twice, keeps the notice and starts nothing.
        model.setNotice(u"Вы вышли из Apple ID."_s, false);
        model.shutdown();
        model.shutdown();
        QCOMPARE(model.notice(), u"Вы вышли из Apple ID."_s);
        QVERIFY(model.isStarting());
        QVERIFY(model.devices()->poller().isEmpty());
    }

    void dataDirectoryBlockedByAFile()
    {
        AppModelEnvironment environment = test::blockedModelEnvironment(m_dir);
        const QString blocked = environment.dataRoot;
        AppModel model(std::move(environment));
        QVERIFY(!model.store().has_value());
        const QString prefix = u"Не удалось открыть локальное хранилище: "_s;
        QVERIFY2(model.alert().startsWith(prefix) && model.alert().size() > prefix.size(),
                 qPrintable(model.alert()));

        // Everything else in place, the missing store alone keeps downloads off.
        model.account()->setEmail(u"jane@example.com"_s);
        QVERIFY(!model.canDownload());
        QVERIFY(QFileInfo(blocked).isFile());
    }

    // Read from the user default without writing it back; turning it off clears the selection unless busy.
    void advancedMode_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("busy");

        QTest::newRow("absent, idle") << QVariant() << false;
        QTest::newRow("on, busy") << QVariant(true) << true;
        QTest::newRow("off, idle") << QVariant(false) << false;
    }

    void advancedMode()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, busy);

        AppModelEnvironment environment = test::modelEnvironment(m_dir);
        if (stored.isValid())
            environment.settings->setValue(u"advancedMode"_s, stored);
        const auto settings = environment.settings;
        AppModel model(std::move(environment));
        QCOMPARE(model.advancedMode(), stored.toBool());
        QCOMPARE(settings->contains(u"advancedMode"_s), stored.isValid());

        model.setAdvancedMode(true);
        QCOMPARE(settings->value(u"advancedMode"_s).toBool(), true);
        model.catalog()->updateCatalog({CatalogApp(u"1"_s, u"Один"_s, {}, {}, 0, {}, {}, {}),
                                        CatalogApp(u"2"_s, u"Два"_s, {}, {}, 0, {}, {}, {})});
        model.catalog()->setSelectedAppIDs({u"1"_s, u"2"_s});
        model.operation()->setBusy(busy);
        model.setAdvancedMode(false);
        QCOMPARE(settings->value(u"advancedMode"_s).toBool(), false);
        QCOMPARE(model.catalog()->selectedAppIDs().isEmpty(), !busy);
    }

    void readinessFollowsEachInput_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("canDownload");
        QTest::addColumn<bool>("canInstall");

        // Each row changes one input of a model that is ready for both.
        QTest::newRow("signed out") << u"signOut"_s << false << false;
        QTest::newRow("device unplugged") << u"unplug"_s << true << false;
        QTest::newRow("device locked") << u"lock"_s << true << false;
        QTest::newRow("another device chosen") << u"chooseUnknown"_s << true << false;
        QTest::newRow("ios missing") << u"iosMissing"_s << true << false;
        QTest::newRow("ipatool missing") << u"ipatoolMissing"_s << false << true;
        QTest::newRow("ipatool too old") << u"ipatoolOld"_s << false << true;
        QTest::newRow("busy") << u"busy"_s << false << false;
    }

    void readinessFollowsEachInput()
    {
        QFETCH(QString, change);
        QFETCH(bool, canDownload);
        QFETCH(bool, canInstall);

        AppModel model(test::modelEnvironment(m_dir));
        const Device phone{u"UDID-1"_s, u"iPhone"_s, u"17.5"_s, true, DeviceTransport::Usb};
        model.account()->setEmail(u"jane@example.com"_s);
        model.devices()->setConnected({phone});
        model.devices()->setSelectedDeviceID(phone.id);
        QVERIFY(model.canDownload());
        QVERIFY(model.canInstall());

        QSignalSpy readiness(&model, &AppModel::readinessChanged);
        Device locked = phone;
        locked.ready = false;
        if (change == u"signOut")
            model.account()->setEmail({});
        else if (change == u"unplug")
            model.devices()->setConnected({});
        else if (change == u"lock")
            model.devices()->setConnected({locked});
        else if (change == u"chooseUnknown")
            model.devices()->setSelectedDeviceID(u"UDID-2"_s);
        else if (change == u"iosMissing")
            model.components()->setMissingTools({u"ios"_s});
        else if (change == u"ipatoolMissing")
            model.components()->setMissingTools({u"ipatool"_s});
        else if (change == u"ipatoolOld")
            model.components()->setIpatoolNeedsUpdate(true);
        else if (change == u"busy")
            model.operation()->setBusy(true);

        QCOMPARE(model.canDownload(), canDownload);
        QCOMPARE(model.canInstall(), canInstall);
        QCOMPARE(readiness.count(), 1);
    }

    void startTwiceKeepsOneUpdateCheckAndOnePoller()
    {
        AppModel model(test::modelEnvironment(m_dir));
        QSignalSpy starting(&model, &AppModel::isStartingChanged);

        test::awaitTask(model.start());
        QVERIFY(!model.isStarting());
        const TaskHandle updateCheck = model.updates()->automaticCheck();
        const TaskHandle firstPoller = model.devices()->poller();
        QVERIFY(!updateCheck.isEmpty());
        QVERIFY(!firstPoller.isEmpty() && !firstPoller.isFinished());

        test::awaitTask(model.start());
        QCOMPARE(model.updates()->automaticCheck().serial(), updateCheck.serial());
        const TaskHandle secondPoller = model.devices()->poller();
        QVERIFY(secondPoller.serial() != firstPoller.serial());
        QVERIFY(!secondPoller.isFinished());
        QTRY_VERIFY(firstPoller.isFinished());
        QCOMPARE(starting.count(), 1);

        model.shutdown();
        QVERIFY(updateCheck.isCancelled());
        QTRY_VERIFY(secondPoller.isFinished());
        QVERIFY(!model.isStarting());
    }

private:
    test::TemporaryDataDirectory m_dir;
};

QTEST_MAIN(tst_AppModel)
#include "tst_appmodel.moc"
