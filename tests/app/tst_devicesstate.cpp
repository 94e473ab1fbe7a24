#include "AppModel.h"
#include "TestEnvironment.h"

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

// The device list, the chosen device and the poller.
class tst_DevicesState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void selectedDevice_data();
    void selectedDevice();
    void pollingReplacesTheEarlierPoller();

private:
    test::TemporaryDataDirectory m_dir;
};

void tst_DevicesState::selectedDevice_data()
{
    QTest::addColumn<QList<Device>>("connected");
    QTest::addColumn<QString>("selectedID");
    QTest::addColumn<QString>("expected"); // empty: none
    QTest::addColumn<int>("signals");

    const QList<Device> two{phone(u"A"_s), phone(u"B"_s)};
    QTest::newRow("listed, second") << two << u"B"_s << u"B"_s << 1;
    QTest::newRow("not listed") << two << u"C"_s << QString() << 0;
    QTest::newRow("nothing chosen") << two << QString() << QString() << 0;
    QTest::newRow("no devices") << QList<Device>{} << u"A"_s << QString() << 0;
}

void tst_DevicesState::selectedDevice()
{
    QFETCH(QList<Device>, connected);
    QFETCH(QString, selectedID);
    QFETCH(QString, expected);
    QFETCH(int, signals);

    AppModel model(test::modelEnvironment(m_dir));
    DevicesState* devices = model.devices();
    devices->setConnected(connected);
    QSignalSpy changed(devices, &DevicesState::selectedDeviceChanged);
    devices->setSelectedDeviceID(selectedID);
    QCOMPARE(devices->selectedDevice().value_or(Device{}).id, expected);
    QCOMPARE(changed.count(), signals);

    // The chosen device locking up counts as a change of the selected device; another device's does not.
    if (!expected.isEmpty()) {
        QList<Device> relisted = connected;
        for (Device& device : relisted)
            device.ready = false;
        relisted.prepend(phone(u"Z"_s));
        devices->setConnected(relisted);
        QCOMPARE(changed.count(), signals + 1);
        QVERIFY(!devices->selectedDevice()->ready);
    }
}

void tst_DevicesState::pollingReplacesTheEarlierPoller()
{
    AppModel model(test::modelEnvironment(m_dir));
    DevicesState* devices = model.devices();
    devices->startPolling();
    const TaskHandle first = devices->poller();
    devices->startPolling();
    const TaskHandle second = devices->poller();
    QVERIFY(first.isCancelled());
    QTRY_VERIFY(first.isFinished());
    QVERIFY(!second.isCancelled());

    devices->stopPolling();
    QTRY_VERIFY(second.isFinished());
}

QTEST_MAIN(tst_DevicesState)
#include "tst_devicesstate.moc"
