#include "DevicesState.h"

#include "AppModel.h"
#include "AssignProperty.h"
#include "CancelledError.h"
#include "Sleep.h"

#include <QPointer>

namespace mirvo {

namespace {
constexpr double pollingIntervalSeconds = 8.0;
} // namespace

DevicesState::DevicesState(AppModel& root)
    : QObject(&root)
    , m_root(root)
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

QCoro::Task<> DevicesState::refreshDevices()
{
    // The device listing arrives with the tool service's device tracking.
    co_return;
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
            co_await sleepFor(pollingIntervalSeconds, stop);
        } catch (const CancelledError&) {
            co_return;
        }
        if (!self)
            co_return;
        if (!m_root.busy())
            co_await refreshDevices();
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
