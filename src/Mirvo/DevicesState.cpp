#include "DevicesState.h"

#include "AppModel.h"
#include "AssignProperty.h"
#include "CancelledError.h"
#include "Sleep.h"
#include "SystemError.h"

#include <QPointer>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

DevicesState::DevicesState(AppModel& root, double pollingSeconds)
    : QObject(&root)
    , m_root(root)
    , m_pollingSeconds(pollingSeconds)
{
}

void DevicesState::setConnected(const QList<Device>& devices)
{
    if (devices == m_connected)
        return;
    const std::optional<Device> before = selectedDevice();
    m_connected = devices;
    Q_EMIT connectedChanged();
    if (selectedDevice() != before)
        Q_EMIT selectedDeviceChanged();
}

void DevicesState::setSelectedDeviceID(const QString& id)
{
    if (id == m_selectedDeviceID)
        return;
    const std::optional<Device> before = selectedDevice();
    m_selectedDeviceID = id;
    Q_EMIT selectedDeviceIDChanged();
    if (selectedDevice() != before)
        Q_EMIT selectedDeviceChanged();
}

std::optional<Device> DevicesState::selectedDevice() const
{
    for (const Device& device : m_connected) {
        if (device.id == m_selectedDeviceID)
            return device;
    }
    return std::nullopt;
}

void DevicesState::setDeviceError(const QString& error)
{
    assignProperty(this, m_deviceError, error, &DevicesState::deviceErrorChanged);
}

void DevicesState::setRefreshing(bool refreshing)
{
    assignProperty(this, m_refreshing, refreshing, &DevicesState::refreshingChanged);
}

QCoro::Task<> DevicesState::refreshDevices(std::stop_token stop)
{
    if (m_refreshing || m_root.busy())
        co_return;
    setRefreshing(true);
    const QStringList missing = m_root.components()->updateMissingTools();
    if (missing.contains(u"ios"_s)) {
        setRefreshing(false);
        co_return;
    }

    QPointer<DevicesState> self(this);
    try {
        const QList<Device> devices = co_await m_root.service().devices(stop);
        if (!self)
            co_return;
        setConnected(devices);
        setDeviceError({});
        if (!selectedDevice())
            setSelectedDeviceID(devices.isEmpty() ? QString() : devices.constFirst().id);
    } catch (const CancelledError&) {
        if (!self)
            co_return;
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        setConnected({});
        setSelectedDeviceID({});
        setDeviceError(localizedDescription(error));
    }
    setRefreshing(false);
}

void DevicesState::refresh()
{
    refreshDevices();
}

void DevicesState::startPolling()
{
    m_poller.cancel();
    m_poller = TaskHandle::start([this](std::stop_token stop) { return poll(stop); });
}

void DevicesState::stopPolling()
{
    m_poller.cancel();
}

QCoro::Task<> DevicesState::poll(std::stop_token stop)
{
    QPointer<DevicesState> self(this);
    while (!stop.stop_requested()) {
        try {
            co_await sleepFor(m_pollingSeconds, stop);
        } catch (const CancelledError&) {
            co_return;
        }
        if (!self)
            co_return;
        if (!m_root.busy())
            co_await refreshDevices(stop);
        if (!self)
            co_return;
    }
}

QVariantList DevicesState::connectedForQml() const
{
    QVariantList list;
    list.reserve(m_connected.size());
    for (const Device& device : m_connected)
        list.append(QVariant::fromValue(device));
    return list;
}

} // namespace mirvo
