#pragma once

#include "Models.h"
#include "TaskHandle.h"

#include <QList>
#include <QObject>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

#include <optional>
#include <stop_token>

namespace mirvo {

class AppModel;

// The connected iPhones, the one the user chose, why the list is unavailable, and the poller that keeps
// the list current.
class DevicesState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through AppModel.devices")

    Q_PROPERTY(QVariantList connected READ connectedForQml NOTIFY connectedChanged)
    Q_PROPERTY(QString selectedDeviceID READ selectedDeviceID WRITE setSelectedDeviceID NOTIFY
                   selectedDeviceIDChanged)
    Q_PROPERTY(mirvo::Device selectedDevice READ selectedDeviceForQml NOTIFY selectedDeviceChanged)
    Q_PROPERTY(QString deviceError READ deviceError NOTIFY deviceErrorChanged)
    Q_PROPERTY(bool refreshing READ refreshing NOTIFY refreshingChanged)

public:
    DevicesState(AppModel& root, double pollingSeconds);

    const QList<Device>& connected() const { return m_connected; }
    void setConnected(const QList<Device>& devices);
    const QString& selectedDeviceID() const { return m_selectedDeviceID; }
    void setSelectedDeviceID(const QString& id);
    // The listed device whose id is the selected one.
    std::optional<Device> selectedDevice() const;
    const QString& deviceError() const { return m_deviceError; }
    void setDeviceError(const QString& error);
    bool refreshing() const { return m_refreshing; }
    void setRefreshing(bool refreshing);

    // Lists the devices unless a refresh or an operation runs; keeps the chosen device while it stays
    // listed, else chooses the first. A failed listing empties the list and says why in deviceError.
    QCoro::Task<> refreshDevices(std::stop_token stop = {});
    // The sidebar's "Проверить кабель".
    Q_INVOKABLE void refresh();

    // Refreshes every polling interval, skipping its turn while an operation runs. Replaces any running
    // poller, so that one at most exists.
    void startPolling();
    void stopPolling();
    const TaskHandle& poller() const { return m_poller; }

Q_SIGNALS:
    void connectedChanged();
    void selectedDeviceIDChanged();
    // The selected device appeared, went away or changed (its readiness, say).
    void selectedDeviceChanged();
    void deviceErrorChanged();
    void refreshingChanged();

private:
    QCoro::Task<> poll(std::stop_token stop);
    QVariantList connectedForQml() const;
    Device selectedDeviceForQml() const { return selectedDevice().value_or(Device{}); }

    AppModel& m_root;
    const double m_pollingSeconds;
    QList<Device> m_connected;
    QString m_selectedDeviceID;
    QString m_deviceError;
    bool m_refreshing = false;
    TaskHandle m_poller;
};

} // namespace mirvo
