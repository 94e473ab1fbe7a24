#include "AppModel.h"
#include "AwaitTask.h"
#include "ChildProcesses.h"
#include "TestEnvironment.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

Device phone(const QString& id, bool ready = true)
{
    return Device{id, u"iPhone "_s + id, u"17.5"_s, ready, DeviceTransport::Usb};
}

} // namespace

// The device list from the fake go-ios, the chosen device and the poller.
class tst_DevicesState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<test::TemporaryDataDirectory>();
        AppModelEnvironment environment = test::modelEnvironment(*m_dir);
        environment.devicePollingSeconds = 0.05;
        test::installFakeTools(environment, {u"ios"_s});
        m_model = std::make_unique<AppModel>(std::move(environment));
        m_devices = m_model->devices();
        qputenv("MIRVO_FAKE_DEVICES", m_dir->filePath(u"devices.json"_s).toUtf8());
        qputenv("MIRVO_FAKE_LOG", m_dir->filePath(u"calls.log"_s).toUtf8());
        plug({u"A"_s, u"B"_s});
    }

    void cleanup()
    {
        m_model.reset();
        qunsetenv("MIRVO_FAKE_DEVICES");
        qunsetenv("MIRVO_FAKE_LOG");
        qunsetenv("MIRVO_FAKE_SCENARIO");
        QTRY_COMPARE(test::liveChildProcesses(), QList<pid_t>{});
        m_dir.reset();
    }

    void selectedDevice_data()
    {
        QTest::addColumn<QList<Device>>("connected");
        QTest::addColumn<QString>("selectedID");
        QTest::addColumn<QString>("expected"); // empty: none
        QTest::addColumn<int>("signals");

        const QList<Device> two{phone(u"A"_s), phone(u"B"_s)};
        QTest::newRow("listed, second") << two << u"B"_s << u"B"_s << 1;
        QTest::newRow("not listed") << two << u"C"_s << QString() << 0;
    }

    void selectedDevice()
    {
        QFETCH(QList<Device>, connected);
        QFETCH(QString, selectedID);
        QFETCH(QString, expected);
        QFETCH(int, signals);

        m_devices->setConnected(connected);
        QSignalSpy changed(m_devices, &DevicesState::selectedDeviceChanged);
        m_devices->setSelectedDeviceID(selectedID);
        QCOMPARE(m_devices->selectedDevice().value_or(Device{}).id, expected);
        QCOMPARE(changed.count(), signals);

        // The chosen device locking up counts as a change of the selected device.
        if (!expected.isEmpty()) {
            QList<Device> relisted = connected;
            for (Device& device : relisted)
                device.ready = false;
            relisted.prepend(phone(u"Z"_s));
            m_devices->setConnected(relisted);
            QCOMPARE(changed.count(), signals + 1);
            QVERIFY(!m_devices->selectedDevice()->ready);
        }
    }

    void refreshKeepsMovesAndClearsTheSelection()
    {
        test::awaitTask(m_devices->refreshDevices());
        QCOMPARE(listedNames(), (QStringList{u"A"_s, u"B"_s}));
        QCOMPARE(m_devices->selectedDeviceID(), u"UDID-A"_s);

        // A device that stays connected stays chosen, wherever it is listed.
        m_devices->setSelectedDeviceID(u"UDID-B"_s);
        plug({u"C"_s, u"B"_s});
        test::awaitTask(m_devices->refreshDevices());
        QCOMPARE(m_devices->selectedDeviceID(), u"UDID-B"_s);

        // Unplugged, the choice moves to the first device; with none, to nothing, and that is no error.
        plug({u"C"_s});
        test::awaitTask(m_devices->refreshDevices());
        QCOMPARE(m_devices->selectedDeviceID(), u"UDID-C"_s);
        plug({});
        test::awaitTask(m_devices->refreshDevices());
        QCOMPARE(m_devices->selectedDeviceID(), QString());
        QVERIFY(m_devices->connected().isEmpty());
        QCOMPARE(m_devices->deviceError(), QString());
        QVERIFY(!m_devices->refreshing());
    }

    void refreshStandsBack_data()
    {
        QTest::addColumn<QString>("why");
        QTest::newRow("busy") << u"busy"_s;
        QTest::newRow("go-ios missing") << u"missing"_s;
    }

    void refreshStandsBack()
    {
        QFETCH(QString, why);

        test::awaitTask(m_devices->refreshDevices());
        plug({u"C"_s});
        const int before = listings();
        if (why == u"busy")
            m_model->operation()->setBusy(true);
        else
            QVERIFY(QFile::remove(m_dir->filePath(u"Mirvo/Tools/ios"_s)));

        QSignalSpy refreshing(m_devices, &DevicesState::refreshingChanged);
        test::awaitTask(m_devices->refreshDevices());
        QCOMPARE(listings(), before);
        QCOMPARE(listedNames(), (QStringList{u"A"_s, u"B"_s}));
        QVERIFY(!m_devices->refreshing());
        QCOMPARE(m_model->components()->missingTools().contains(u"ios"_s), why == u"missing");
        QCOMPARE(refreshing.count(), why == u"busy" ? 0 : 2);
    }

    void listingErrorDropsTheList()
    {
        test::awaitTask(m_devices->refreshDevices());
        qputenv("MIRVO_FAKE_SCENARIO", "no-usbmuxd");
        test::awaitTask(m_devices->refreshDevices());
        QVERIFY(m_devices->connected().isEmpty());
        QCOMPARE(m_devices->selectedDeviceID(), QString());
#ifdef Q_OS_LINUX
        QCOMPARE(m_devices->deviceError(),
                 u"Служба usbmuxd не запущена. Установите пакет usbmuxd и подключите iPhone заново."_s);
#else
        QVERIFY(!m_devices->deviceError().isEmpty());
#endif

        // The next good listing clears the error.
        qunsetenv("MIRVO_FAKE_SCENARIO");
        test::awaitTask(m_devices->refreshDevices());
        QCOMPARE(m_devices->deviceError(), QString());
        QCOMPARE(m_devices->selectedDeviceID(), u"UDID-A"_s);
    }

    void pollerRefreshesAndSkipsWhileBusy()
    {
        m_devices->startPolling();
        const TaskHandle first = m_devices->poller();
        QTRY_COMPARE(listedNames(), (QStringList{u"A"_s, u"B"_s}));

        m_model->operation()->setBusy(true);
        QTest::qWait(100); // a pass that began before the operation may still list
        plug({u"C"_s});
        const int before = listings();
        QTest::qWait(400);
        QCOMPARE(listings(), before);
        m_model->operation()->setBusy(false);
        QTRY_COMPARE(listedNames(), QStringList{u"C"_s});

        // A second start replaces the poller; stopping ends it.
        m_devices->startPolling();
        QVERIFY(first.isCancelled());
        QTRY_VERIFY(first.isFinished());
        m_devices->stopPolling();
        QTRY_VERIFY(m_devices->poller().isFinished());
    }

private:
    // The devices the fake lists from now on, by their names.
    void plug(const QStringList& names)
    {
        QJsonArray devices;
        for (const QString& name : names) {
            const QString udid = u"UDID-"_s + name;
            devices.append(QJsonObject{{u"Udid"_s, udid},
                                       {u"ProductName"_s, u"iPhone OS"_s},
                                       {u"ProductType"_s, u"iPhone14,5"_s},
                                       {u"ProductVersion"_s, u"17.5.1"_s},
                                       {u"ConnectionType"_s, u"USB"_s},
                                       {u"lockdown"_s, QJsonObject{{u"DeviceName"_s, name},
                                                                   {u"ProductVersion"_s, u"17.5.1"_s},
                                                                   {u"UniqueDeviceID"_s, udid}}}});
        }
        QFile file(m_dir->filePath(u"devices.json"_s));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(devices).toJson());
    }

    QStringList listedNames() const
    {
        QStringList names;
        for (const Device& device : m_devices->connected())
            names.append(device.name);
        return names;
    }

    // How many listings the fake go-ios has run.
    int listings() const
    {
        QFile log(m_dir->filePath(u"calls.log"_s));
        return log.open(QIODevice::ReadOnly) ? int(log.readAll().count("list")) : 0;
    }

    std::unique_ptr<test::TemporaryDataDirectory> m_dir;
    std::unique_ptr<AppModel> m_model;
    DevicesState* m_devices = nullptr;
};

QTEST_MAIN(tst_DevicesState)
#include "tst_devicesstate.moc"
