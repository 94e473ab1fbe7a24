// One app: the install sheet's openers and the operation that downloads it and, when asked, installs it.
#include "OperationState.h"

#include "AppModel.h"
#include "AppStoreMetadata.h"
#include "CancelledError.h"
#include "Endpoints.h"
#include "FileSystem.h"
#include "LogCategories.h"
#include "MirvoError.h"
#include "SystemError.h"

#include <QPointer>
#include <QUuid>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

const QString stoppedNotice =
    u"Операция остановлена. Если передача уже началась, проверьте состояние приложения на iPhone."_s;

} // namespace

void OperationState::requestCatalogApp(const QString& catalogAppID)
{
    for (const CatalogApp& app : m_root.catalog()->apps()->catalogApps()) {
        if (app.id() == catalogAppID)
            return openRequest(app.name(), app.id(), app.id());
    }
}

void OperationState::requestTopApp(const QString& topAppID)
{
    for (const TopApp& app : m_root.catalog()->topApps()->topApps()) {
        if (app.id == topAppID)
            return openRequest(app.name, app.id, std::nullopt);
    }
}

void OperationState::chooseStoreID(const QString& text)
{
    openRequest({}, text, std::nullopt, true);
}

void OperationState::openRequest(const QString& name, const QString& identifierText,
                                 const std::optional<QString>& catalogAppID, bool storeIDOnly)
{
    std::optional<AppIdentifier> identifier;
    try {
        identifier = AppIdentifier::parse(identifierText);
    } catch (const MirvoError&) {
        return;
    }
    if (storeIDOnly && identifier->kind() != AppIdentifier::Kind::StoreID)
        return;
    if (!prepareStoreDownload())
        return;
    InstallRequest request;
    request.id = QUuid::createUuid();
    request.name = storeIDOnly ? u"Приложение "_s + identifier->value() : name;
    request.identifier = *identifier;
    request.catalogAppID = catalogAppID;
    setRequest(request);
}

bool OperationState::prepareStoreDownload()
{
    if (m_busy)
        return false;
    return prepareInstallation();
}

bool OperationState::prepareInstallation()
{
    if (m_root.account()->signedIn())
        return true;
    m_root.account()->setModal(AccountState::Modal::AppleID);
    return false;
}

void OperationState::perform(const InstallRequest& request, bool install)
{
    if (m_busy || !m_root.store() || !prepareStoreDownload())
        return;
    std::optional<Device> device;
    if (install) {
        if (!prepareInstallation())
            return;
        device = m_root.devices()->selectedDevice();
        if (!device || !device->ready) {
            m_root.setAlert(u"Подключите и разблокируйте iPhone."_s);
            return;
        }
    }
    setRequest(std::nullopt);
    setTitle(request.name);
    setStage(u"Загружаем из Apple"_s);
    resetProgress(ProgressStage::Download);
    setActiveCatalogAppID(request.catalogAppID.value_or(QString()));
    setBusy(true);
    m_root.setNotice({}, false);
    TaskHandle task = TaskHandle::start([this, request, install, device](std::stop_token stop) {
        return runSingle(request, install, device, stop);
    });
    // A package already in place and nothing to install: the task may have ended already.
    if (m_busy)
        setTask(std::move(task));
}

void OperationState::resetProgress(ProgressStage stage)
{
    ++m_progressGeneration;
    setProgressStage(stage);
    setDownloadProgress(std::nullopt);
    setInstallProgress(std::nullopt);
    setDownloadedBytes(0);
    setDownloadTotalBytes(0);
}

void OperationState::finish()
{
    if (!m_root.alert().isEmpty())
        qCInfo(lcStore).noquote() << "operation alert:" << m_root.alert();
    else if (!m_root.notice().isEmpty())
        qCInfo(lcStore).noquote() << "operation notice:" << m_root.notice()
                                  << (m_root.noticeIsError() ? "(failure)" : "");
    setBusy(false);
    setProgressStage(ProgressStage::None);
    setActiveCatalogAppID({});
    setBatchProgress(std::nullopt);
    m_task = {};
}

QCoro::Task<> OperationState::runSingle(InstallRequest request, bool install, std::optional<Device> device,
                                        std::stop_token stop)
{
    QPointer<OperationState> self(this);
    try {
        if (!m_root.account()->signedIn())
            throw MirvoError::message(u"Сначала войдите в Apple ID."_s);
        const QString destination = m_root.store()->destination(request.name);
        const QString installStage = device ? u"Устанавливаем на "_s + device->name : QString();
        co_await downloadAndInstall(request.identifier, destination, install ? device : std::nullopt,
                                    installStage, stop);
        if (!self)
            co_return;
        if (install && device)
            m_root.setNotice(
                u"Установка на "_s + device->name + u" завершена. Проверьте приложение на iPhone."_s, false);
        else
            m_root.setNotice(request.name + u": IPA сохранён на Mac."_s, false);
    } catch (const CancelledError&) {
        if (!self)
            co_return;
        m_root.setNotice(stoppedNotice, false);
    } catch (const std::exception& error) {
        if (!self)
            co_return;
        qCInfo(lcStore).noquote() << "operation failed:" << localizedDescription(error);
        m_root.setAlert(localizedDescription(error));
    }
    finish();
}

QCoro::Task<> OperationState::downloadAndInstall(AppIdentifier identifier, QString destination,
                                                 std::optional<Device> device, QString installStage,
                                                 std::stop_token stop)
{
    QPointer<OperationState> self(this);
    // A copy: the operation does not depend on the model's service object staying alive.
    const ToolService service = m_root.service();
    if (FileSystem::exists(destination)) {
        setProgressStage(ProgressStage::None); // an earlier download: use it
    } else {
        const AppIdentifier target = co_await resolved(std::move(identifier), stop);
        if (!self)
            throw CancelledError();
        co_await service.download(target, destination, outputReceiver(ProgressStage::Download),
                                  downloadedBytesReceiver(), stop);
        if (!self)
            throw CancelledError();
        setDownloadProgress(1.0);
    }
    if (stop.stop_requested())
        throw CancelledError();
    if (!device)
        co_return;
    setStage(installStage);
    setProgressStage(ProgressStage::Install);
    setInstallProgress(std::nullopt);
    co_await service.install(destination, *device, outputReceiver(ProgressStage::Install), stop);
    if (!self)
        throw CancelledError();
    setInstallProgress(1.0);
}

QCoro::Task<AppIdentifier> OperationState::resolved(AppIdentifier identifier, std::stop_token stop)
{
    const std::shared_ptr<HttpClient> http = m_root.http();
    if (identifier.kind() != AppIdentifier::Kind::BundleID || !http)
        co_return identifier;
    QStringList countries{u"ru"_s};
    countries += Endpoints::current().lookupFallbackCountries;
    const AppStoreMetadata metadata(http);
    const std::optional<QString> storeID =
        co_await metadata.storeIDForBundleID(identifier.value(), countries, stop);
    // No storefront knows it: ipatool may still find it in the account's own.
    co_return storeID ? AppIdentifier::storeID(*storeID) : identifier;
}

} // namespace mirvo
