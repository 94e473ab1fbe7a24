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
    assign(m_page, value, &AppModel::pageChanged);
}

void AppModel::setAdvancedMode(bool value)
{
    assign(m_advancedMode, value, &AppModel::advancedModeChanged);
    if (m_environment.settings)
        m_environment.settings->setValue(u"advancedMode"_s, value);
    if (!value && !m_busy)
        setSelectedCatalogAppIDs({});
}

void AppModel::setSearch(const QString& value)
{
    assign(m_search, value, &AppModel::searchChanged);
    updateFilteredApps();
}

void AppModel::setTopSearch(const QString& value)
{
    assign(m_topSearch, value, &AppModel::topSearchChanged);
    updateFilteredTopApps();
}

void AppModel::setCatalogApps(const QList<CatalogApp>& value)
{
    assign(m_catalogApps, value, &AppModel::catalogAppsChanged);
    updateFilteredApps();
}

void AppModel::setFilteredApps(const QList<CatalogApp>& value)
{
    assign(m_filteredApps, value, &AppModel::filteredAppsChanged);
}

void AppModel::setSelectedCatalogAppIDs(const QSet<QString>& value)
{
    assign(m_selectedCatalogAppIDs, value, &AppModel::selectedCatalogAppIDsChanged);
}

void AppModel::setCatalogLoading(bool value)
{
    assign(m_catalogLoading, value, &AppModel::catalogLoadingChanged);
}

void AppModel::setCatalogUpdatedAt(const QDateTime& value)
{
    assign(m_catalogUpdatedAt, value, &AppModel::catalogUpdatedAtChanged);
}

void AppModel::setTopApps(const QList<TopApp>& value)
{
    assign(m_topApps, value, &AppModel::topAppsChanged);
    updateFilteredTopApps();
}

void AppModel::setFilteredTopApps(const QList<TopApp>& value)
{
    assign(m_filteredTopApps, value, &AppModel::filteredTopAppsChanged);
}

void AppModel::setTopAppsLoading(bool value)
{
    assign(m_topAppsLoading, value, &AppModel::topAppsLoadingChanged);
}

void AppModel::setDevices(const QList<Device>& value)
{
    if (assign(m_devices, value, &AppModel::devicesChanged))
        Q_EMIT readinessChanged();
}

void AppModel::setSelectedDeviceID(const QString& value)
{
    if (assign(m_selectedDeviceID, value, &AppModel::selectedDeviceIDChanged))
        Q_EMIT readinessChanged();
}

void AppModel::setDeviceError(const QString& value)
{
    assign(m_deviceError, value, &AppModel::deviceErrorChanged);
}

void AppModel::setRefreshing(bool value)
{
    assign(m_refreshing, value, &AppModel::refreshingChanged);
}

void AppModel::setAccountModal(AccountModal value)
{
    assign(m_accountModal, value, &AppModel::accountModalChanged);
}

void AppModel::setAccount(const QString& value)
{
    if (assign(m_account, value, &AppModel::accountChanged))
        Q_EMIT readinessChanged();
}

void AppModel::setMissingTools(const QStringList& value)
{
    if (assign(m_missingTools, value, &AppModel::missingToolsChanged))
        Q_EMIT readinessChanged();
}

void AppModel::setVersions(const QMap<QString, QString>& value)
{
    assign(m_versions, value, &AppModel::versionsChanged);
}

void AppModel::setIpatoolNeedsUpdate(bool value)
{
    if (assign(m_ipatoolNeedsUpdate, value, &AppModel::ipatoolNeedsUpdateChanged))
        Q_EMIT readinessChanged();
}

void AppModel::setBusy(bool value)
{
    if (assign(m_busy, value, &AppModel::busyChanged))
        Q_EMIT readinessChanged();
}

void AppModel::setOperationTitle(const QString& value)
{
    assign(m_operationTitle, value, &AppModel::operationTitleChanged);
}

void AppModel::setOperationStage(const QString& value)
{
    assign(m_operationStage, value, &AppModel::operationStageChanged);
}

void AppModel::setActiveProgressStage(OperationProgressStage value)
{
    assign(m_activeProgressStage, value, &AppModel::activeProgressStageChanged);
}

void AppModel::setDownloadProgress(const std::optional<double>& value)
{
    assign(m_downloadProgress, value, &AppModel::downloadProgressChanged);
}

void AppModel::setInstallProgress(const std::optional<double>& value)
{
    assign(m_installProgress, value, &AppModel::installProgressChanged);
}

void AppModel::setDownloadedBytes(qint64 value)
{
    assign(m_downloadedBytes, value, &AppModel::downloadedBytesChanged);
}

void AppModel::setDownloadTotalBytes(qint64 value)
{
    assign(m_downloadTotalBytes, value, &AppModel::downloadTotalBytesChanged);
}

void AppModel::setActiveCatalogAppID(const QString& value)
{
    assign(m_activeCatalogAppID, value, &AppModel::activeCatalogAppIDChanged);
}

void AppModel::setBatchInstallProgress(const std::optional<BatchInstallProgress>& value)
{
    assign(m_batchInstallProgress, value, &AppModel::batchInstallProgressChanged);
}

void AppModel::setToolsInstalling(bool value)
{
    assign(m_toolsInstalling, value, &AppModel::toolsInstallingChanged);
}

void AppModel::setComponentsChecking(bool value)
{
    assign(m_componentsChecking, value, &AppModel::componentsCheckingChanged);
}

void AppModel::setToolsStage(const QString& value)
{
    assign(m_toolsStage, value, &AppModel::toolsStageChanged);
}

void AppModel::setAlert(const QString& value)
{
    assign(m_alert, value, &AppModel::alertChanged);
}

void AppModel::setNotice(const QString& value)
{
    assign(m_notice, value, &AppModel::noticeChanged);
}

void AppModel::setNoticeIsError(bool value)
{
    assign(m_noticeIsError, value, &AppModel::noticeIsErrorChanged);
}

void AppModel::setUpdateDialog(const std::optional<UpdateDialogState>& value)
{
    assign(m_updateDialog, value, &AppModel::updateDialogChanged);
}

void AppModel::setUpdateChecking(bool value)
{
    assign(m_updateChecking, value, &AppModel::updateCheckingChanged);
}

void AppModel::setCacheSizeBytes(qint64 value)
{
    assign(m_cacheSizeBytes, value, &AppModel::cacheSizeBytesChanged);
}

void AppModel::setCacheClearing(bool value)
{
    assign(m_cacheClearing, value, &AppModel::cacheClearingChanged);
}

void AppModel::setRequest(const std::optional<InstallRequest>& value)
{
    assign(m_request, value, &AppModel::requestChanged);
}

void AppModel::setLoginStage(const AuthenticationEvent& value)
{
    assign(m_loginStage, value, &AppModel::loginStageChanged);
}

void AppModel::setLoginStarted(bool value)
{
    assign(m_loginStarted, value, &AppModel::loginStartedChanged);
}

} // namespace mirvo
