#include "AppModel.h"

#include "CancelledError.h"
#include "Sleep.h"

#include <QPointer>

namespace mirvo {

namespace {
constexpr double pollingIntervalSeconds = 8.0;
} // namespace

std::optional<Device> AppModel::selectedDevice() const
{
    for (const Device& device : m_devices) {
        if (device.id == m_selectedDeviceID)
            return device;
    }
    return std::nullopt;
}

QCoro::Task<> AppModel::refreshDevices()
{
    // The device listing arrives with the tool service.
    co_return;
}

QCoro::Task<> AppModel::pollDevices(std::stop_token stop)
{
    QPointer<AppModel> self(this);
    while (!stop.stop_requested()) {
        try {
            co_await sleepFor(pollingIntervalSeconds, stop);
        } catch (const CancelledError&) {
            co_return;
        }
        if (!self)
            co_return;
        if (!m_busy)
            co_await refreshDevices();
        if (!self)
            co_return;
    }
}

} // namespace mirvo
