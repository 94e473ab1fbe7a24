#pragma once

#include "CommandRunning.h"
#include "Models.h"
#include "ToolLocator.h"

#include <QJsonValue>
#include <QList>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace mirvo {

// Turns the application's needs into ipatool and go-ios command lines, and their output back into values.
// Holds nothing but the runner and the locator; each operation copies both when it starts, so a running
// operation does not depend on the service object staying alive.
class ToolService {
public:
    using BytesHandler = std::function<void(qint64 bytes)>;

    ToolService(std::shared_ptr<CommandRunning> runner, ToolLocator locator);
    // The runner must outlive every operation started through this service.
    ToolService(CommandRunning& runner, ToolLocator locator);

    const ToolLocator& locator() const { return m_locator; }

    // The connected iPhones in go-ios' order; those whose lockdown query fails are listed as not ready.
    QCoro::Task<QList<Device>> devices(std::stop_token stop) const;
    // One entry per UDID: the USB one where go-ios also lists the phone over the network.
    static QList<Device> parseDevices(const QString& output);

    // The e-mail of the signed-in Apple ID.
    QCoro::Task<QString> account(std::stop_token stop) const;
    QCoro::Task<> logout(std::stop_token stop) const;

    // Downloads the IPA into a hidden partial file beside `destination` and moves it into place once it is
    // valid. Nothing is left behind when it fails or stops. Both callbacks may be called from any thread.
    // A destination that exists, whose name passes 255 bytes, or whose folder takes no files fails with
    // MirvoError::message before ipatool runs.
    QCoro::Task<> download(AppIdentifier identifier, QString destination, OutputHandler onOutput,
                           BytesHandler onDownloadedBytes, std::stop_token stop) const;

    static void validateIPA(const QString& path);

    QCoro::Task<> install(QString ipa, Device device, OutputHandler onOutput, std::stop_token stop) const;

private:
    static QCoro::Task<Device> verifyConnection(std::shared_ptr<CommandRunning> runner, Device device,
                                                QString executable, std::stop_token stop);
    static Device applyingLockdownInfo(const QString& output, Device device);
    static std::optional<QString> stringValue(const QString& key, const QJsonValue& value);

    std::shared_ptr<CommandRunning> m_runner;
    ToolLocator m_locator;
};

} // namespace mirvo
