#include "AppModel.h"

#include "Endpoints.h"
#include "ProcessRunner.h"
#include "SystemError.h"

#include <QJSEngine>
#include <QPointer>
#include <QQmlEngine>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

AppModel* s_instance = nullptr;

// The information-dictionary key may hold anything: only an absolute URL string is taken.
QUrl manifestURL(const BundleInfo& bundleInfo, const QUrl& fallback)
{
    const QVariant value = bundleInfo.value(u"SolvenaUpdateManifestURL"_s);
    if (value.typeId() != QMetaType::QString)
        return fallback;
    const QUrl url(value.toString(), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return fallback;
    return url;
}

ToolService makeService(const AppModelEnvironment& environment)
{
    std::shared_ptr<CommandRunning> runner = environment.runner;
    if (!runner)
        runner = std::make_shared<ProcessRunner>();
    ToolLocator locator =
        environment.dataRoot.isEmpty() ? ToolLocator() : ToolLocator::inDataDirectory(environment.dataRoot);
    return ToolService(std::move(runner), std::move(locator));
}

} // namespace

AppModel::AppModel(AppModelEnvironment environment, QObject* parent)
    : QObject(parent)
    , m_environment(std::move(environment))
    , m_service(makeService(m_environment))
{
    m_updateManifestURL = manifestURL(m_environment.bundleInfo, Endpoints::current().updateManifest);
    // Read without writing back: the user default only changes when the user flips the switch.
    if (m_environment.settings)
        m_advancedMode = m_environment.settings->value(u"advancedMode"_s, false).toBool();
    openStore();
}

AppModel::~AppModel()
{
    if (s_instance == this)
        s_instance = nullptr;
}

void AppModel::openStore()
{
    try {
        if (m_environment.dataRoot.isEmpty())
            throw SystemError(u"Не найдена папка для данных приложения."_s);
        m_store.emplace(m_environment.dataRoot);
    } catch (const std::exception& error) {
        m_store.reset();
        setAlert(u"Не удалось открыть локальное хранилище: "_s + localizedDescription(error));
    }
}

void AppModel::setInstance(AppModel* model)
{
    s_instance = model;
}

AppModel* AppModel::create(QQmlEngine*, QJSEngine*)
{
    Q_ASSERT_X(s_instance, "AppModel::create", "the application object sets the model before loading QML");
    QJSEngine::setObjectOwnership(s_instance, QJSEngine::CppOwnership);
    return s_instance;
}

QString AppModel::pageTitle(Page page)
{
    return page == Page::Settings ? u"Настройки"_s : u"Приложения"_s;
}

QString AppModel::accountModalRawValue(AccountModal modal)
{
    return modal == AccountModal::AppleID ? u"appleID"_s : QString();
}

QCoro::Task<> AppModel::start()
{
    QPointer<AppModel> self(this);
    if (m_updateCheckTask.isEmpty())
        m_updateCheckTask = TaskHandle::start([this](std::stop_token stop) { return runUpdateCheck(stop); });

    co_await installMissingTools();
    if (!self)
        co_return;
    co_await refreshComponents();
    if (!self)
        co_return;
    co_await refreshTopApps();
    if (!self)
        co_return;
    co_await refreshCatalog();
    if (!self)
        co_return;
    co_await restoreAccount();
    if (!self)
        co_return;
    co_await refreshDevices();
    if (!self)
        co_return;

    m_poller.cancel();
    m_poller = TaskHandle::start([this](std::stop_token stop) { return pollDevices(stop); });

    if (m_isStarting) {
        m_isStarting = false;
        Q_EMIT isStartingChanged();
    }
}

void AppModel::shutdown()
{
    m_operation.cancel();
    m_poller.cancel();
    m_updateCheckTask.cancel();
}

void AppModel::windowShown()
{
    // Let the window draw its first frame, with the start-up placeholder, before the work begins.
    QMetaObject::invokeMethod(
        this, [this] { start(); }, Qt::QueuedConnection);
}

void AppModel::checkForUpdatesFromMenu()
{
    checkForUpdates(true);
}

QCoro::Task<> AppModel::runUpdateCheck(std::stop_token stop)
{
    QPointer<AppModel> self(this);
    if (stop.stop_requested() || !self)
        co_return;
    co_await checkForUpdates(false);
}

bool AppModel::canDownload() const
{
    return !m_account.isEmpty() && !m_missingTools.contains(u"ipatool"_s) && !m_ipatoolNeedsUpdate &&
           m_store.has_value() && !m_busy;
}

bool AppModel::canInstall() const
{
    const std::optional<Device> device = selectedDevice();
    return !m_account.isEmpty() && device && device->ready && !m_missingTools.contains(u"ios"_s) && !m_busy;
}

void AppModel::dismissAlert()
{
    setAlert({});
}

void AppModel::closeNotice()
{
    setNotice({});
    setNoticeIsError(false);
}

QStringList AppModel::selectedCatalogAppIDList() const
{
    QStringList ids(m_selectedCatalogAppIDs.begin(), m_selectedCatalogAppIDs.end());
    ids.sort();
    return ids;
}

QVariantMap AppModel::versionMap() const
{
    QVariantMap map;
    for (auto it = m_versions.cbegin(); it != m_versions.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

QVariant AppModel::downloadProgressValue() const
{
    return m_downloadProgress ? QVariant(*m_downloadProgress) : QVariant();
}

QVariant AppModel::installProgressValue() const
{
    return m_installProgress ? QVariant(*m_installProgress) : QVariant();
}

QVariant AppModel::batchInstallProgressValue() const
{
    if (!m_batchInstallProgress)
        return {};
    return QVariantMap{{u"current"_s, m_batchInstallProgress->current},
                       {u"total"_s, m_batchInstallProgress->total},
                       {u"succeeded"_s, m_batchInstallProgress->succeeded},
                       {u"failed"_s, m_batchInstallProgress->failed}};
}

QVariant AppModel::updateDialogValue() const
{
    if (!m_updateDialog)
        return {};
    return QVariantMap{{u"kind"_s, int(m_updateDialog->kind)}, {u"text"_s, m_updateDialog->text}};
}

QVariant AppModel::requestValue() const
{
    if (!m_request)
        return {};
    return QVariantMap{{u"id"_s, m_request->id.toString(QUuid::WithoutBraces)},
                       {u"name"_s, m_request->name},
                       {u"identifier"_s, m_request->identifier.value()},
                       {u"catalogAppID"_s, m_request->catalogAppID.value_or(QString())}};
}

QVariant AppModel::loginStageValue() const
{
    return QVariantMap{{u"kind"_s, int(m_loginStage.kind)}, {u"payload"_s, m_loginStage.payload}};
}

void AppModel::setPage(Page value)
{
    if (m_page == value)
        return;
    m_page = value;
    Q_EMIT pageChanged();
}

void AppModel::setAdvancedMode(bool value)
{
    const bool changed = m_advancedMode != value;
    m_advancedMode = value;
    if (changed)
        Q_EMIT advancedModeChanged();
    if (m_environment.settings)
        m_environment.settings->setValue(u"advancedMode"_s, value);
    if (!value && !m_busy)
        setSelectedCatalogAppIDs({});
}

void AppModel::setSearch(const QString& value)
{
    const bool changed = m_search != value;
    m_search = value;
    if (changed)
        Q_EMIT searchChanged();
    updateFilteredApps();
}

void AppModel::setTopSearch(const QString& value)
{
    const bool changed = m_topSearch != value;
    m_topSearch = value;
    if (changed)
        Q_EMIT topSearchChanged();
    updateFilteredTopApps();
}

void AppModel::setCatalogApps(const QList<CatalogApp>& value)
{
    const bool changed = m_catalogApps != value;
    m_catalogApps = value;
    if (changed)
        Q_EMIT catalogAppsChanged();
    updateFilteredApps();
}

void AppModel::setFilteredApps(const QList<CatalogApp>& value)
{
    if (m_filteredApps == value)
        return;
    m_filteredApps = value;
    Q_EMIT filteredAppsChanged();
}

void AppModel::setSelectedCatalogAppIDs(const QSet<QString>& value)
{
    if (m_selectedCatalogAppIDs == value)
        return;
    m_selectedCatalogAppIDs = value;
    Q_EMIT selectedCatalogAppIDsChanged();
}

void AppModel::setCatalogLoading(bool value)
{
    if (m_catalogLoading == value)
        return;
    m_catalogLoading = value;
    Q_EMIT catalogLoadingChanged();
}

void AppModel::setCatalogUpdatedAt(const QDateTime& value)
{
    if (m_catalogUpdatedAt == value)
        return;
    m_catalogUpdatedAt = value;
    Q_EMIT catalogUpdatedAtChanged();
}

void AppModel::setTopApps(const QList<TopApp>& value)
{
    const bool changed = m_topApps != value;
    m_topApps = value;
    if (changed)
        Q_EMIT topAppsChanged();
    updateFilteredTopApps();
}

void AppModel::setFilteredTopApps(const QList<TopApp>& value)
{
    if (m_filteredTopApps == value)
        return;
    m_filteredTopApps = value;
    Q_EMIT filteredTopAppsChanged();
}

void AppModel::setTopAppsLoading(bool value)
{
    if (m_topAppsLoading == value)
        return;
    m_topAppsLoading = value;
    Q_EMIT topAppsLoadingChanged();
}

void AppModel::setDevices(const QList<Device>& value)
{
    if (m_devices == value)
        return;
    m_devices = value;
    Q_EMIT devicesChanged();
    Q_EMIT readinessChanged();
}

void AppModel::setSelectedDeviceID(const QString& value)
{
    if (m_selectedDeviceID == value)
        return;
    m_selectedDeviceID = value;
    Q_EMIT selectedDeviceIDChanged();
    Q_EMIT readinessChanged();
}

void AppModel::setDeviceError(const QString& value)
{
    if (m_deviceError == value)
        return;
    m_deviceError = value;
    Q_EMIT deviceErrorChanged();
}

void AppModel::setRefreshing(bool value)
{
    if (m_refreshing == value)
        return;
    m_refreshing = value;
    Q_EMIT refreshingChanged();
}

void AppModel::setAccountModal(AccountModal value)
{
    if (m_accountModal == value)
        return;
    m_accountModal = value;
    Q_EMIT accountModalChanged();
}

void AppModel::setAccount(const QString& value)
{
    if (m_account == value)
        return;
    m_account = value;
    Q_EMIT accountChanged();
    Q_EMIT readinessChanged();
}

void AppModel::setMissingTools(const QStringList& value)
{
    if (m_missingTools == value)
        return;
    m_missingTools = value;
    Q_EMIT missingToolsChanged();
    Q_EMIT readinessChanged();
}

void AppModel::setVersions(const QMap<QString, QString>& value)
{
    if (m_versions == value)
        return;
    m_versions = value;
    Q_EMIT versionsChanged();
}

void AppModel::setIpatoolNeedsUpdate(bool value)
{
    if (m_ipatoolNeedsUpdate == value)
        return;
    m_ipatoolNeedsUpdate = value;
    Q_EMIT ipatoolNeedsUpdateChanged();
    Q_EMIT readinessChanged();
}

void AppModel::setBusy(bool value)
{
    if (m_busy == value)
        return;
    m_busy = value;
    Q_EMIT busyChanged();
    Q_EMIT readinessChanged();
}

void AppModel::setOperationTitle(const QString& value)
{
    if (m_operationTitle == value)
        return;
    m_operationTitle = value;
    Q_EMIT operationTitleChanged();
}

void AppModel::setOperationStage(const QString& value)
{
    if (m_operationStage == value)
        return;
    m_operationStage = value;
    Q_EMIT operationStageChanged();
}

void AppModel::setActiveProgressStage(OperationProgressStage value)
{
    if (m_activeProgressStage == value)
        return;
    m_activeProgressStage = value;
    Q_EMIT activeProgressStageChanged();
}

void AppModel::setDownloadProgress(const std::optional<double>& value)
{
    if (m_downloadProgress == value)
        return;
    m_downloadProgress = value;
    Q_EMIT downloadProgressChanged();
}

void AppModel::setInstallProgress(const std::optional<double>& value)
{
    if (m_installProgress == value)
        return;
    m_installProgress = value;
    Q_EMIT installProgressChanged();
}

void AppModel::setDownloadedBytes(qint64 value)
{
    if (m_downloadedBytes == value)
        return;
    m_downloadedBytes = value;
    Q_EMIT downloadedBytesChanged();
}

void AppModel::setDownloadTotalBytes(qint64 value)
{
    if (m_downloadTotalBytes == value)
        return;
    m_downloadTotalBytes = value;
    Q_EMIT downloadTotalBytesChanged();
}

void AppModel::setActiveCatalogAppID(const QString& value)
{
    if (m_activeCatalogAppID == value)
        return;
    m_activeCatalogAppID = value;
    Q_EMIT activeCatalogAppIDChanged();
}

void AppModel::setBatchInstallProgress(const std::optional<BatchInstallProgress>& value)
{
    if (m_batchInstallProgress == value)
        return;
    m_batchInstallProgress = value;
    Q_EMIT batchInstallProgressChanged();
}

void AppModel::setToolsInstalling(bool value)
{
    if (m_toolsInstalling == value)
        return;
    m_toolsInstalling = value;
    Q_EMIT toolsInstallingChanged();
}

void AppModel::setComponentsChecking(bool value)
{
    if (m_componentsChecking == value)
        return;
    m_componentsChecking = value;
    Q_EMIT componentsCheckingChanged();
}

void AppModel::setToolsStage(const QString& value)
{
    if (m_toolsStage == value)
        return;
    m_toolsStage = value;
    Q_EMIT toolsStageChanged();
}

void AppModel::setAlert(const QString& value)
{
    if (m_alert == value)
        return;
    m_alert = value;
    Q_EMIT alertChanged();
}

void AppModel::setNotice(const QString& value)
{
    if (m_notice == value)
        return;
    m_notice = value;
    Q_EMIT noticeChanged();
}

void AppModel::setNoticeIsError(bool value)
{
    if (m_noticeIsError == value)
        return;
    m_noticeIsError = value;
    Q_EMIT noticeIsErrorChanged();
}

void AppModel::setUpdateDialog(const std::optional<UpdateDialogState>& value)
{
    if (m_updateDialog == value)
        return;
    m_updateDialog = value;
    Q_EMIT updateDialogChanged();
}

void AppModel::setUpdateChecking(bool value)
{
    if (m_updateChecking == value)
        return;
    m_updateChecking = value;
    Q_EMIT updateCheckingChanged();
}

void AppModel::setCacheSizeBytes(qint64 value)
{
    if (m_cacheSizeBytes == value)
        return;
    m_cacheSizeBytes = value;
    Q_EMIT cacheSizeBytesChanged();
}

void AppModel::setCacheClearing(bool value)
{
    if (m_cacheClearing == value)
        return;
    m_cacheClearing = value;
    Q_EMIT cacheClearingChanged();
}

void AppModel::setRequest(const std::optional<InstallRequest>& value)
{
    if (m_request == value)
        return;
    m_request = value;
    Q_EMIT requestChanged();
}

void AppModel::setLoginStage(const AuthenticationEvent& value)
{
    if (m_loginStage == value)
        return;
    m_loginStage = value;
    Q_EMIT loginStageChanged();
}

void AppModel::setLoginStarted(bool value)
{
    if (m_loginStarted == value)
        return;
    m_loginStarted = value;
    Q_EMIT loginStartedChanged();
}

} // namespace mirvo
