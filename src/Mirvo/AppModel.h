#pragma once

#include "AppModelEnvironment.h"
#include "AuthenticationEvent.h"
#include "BatchInstallProgress.h"
#include "InstallRequest.h"
#include "LocalStore.h"
#include "Models.h"
#include "TaskHandle.h"
#include "ToolService.h"
#include "UpdateDialogState.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

#include <optional>

class QJSEngine;
class QQmlEngine;

namespace mirvo {

// The one observable model behind every screen: all state, the start-up sequence, every user operation
// and the background tasks. Lives on the GUI thread.
class AppModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    Q_PROPERTY(Page page READ page WRITE setPage NOTIFY pageChanged)
    Q_PROPERTY(bool isStarting READ isStarting NOTIFY isStartingChanged)
    Q_PROPERTY(bool advancedMode READ advancedMode WRITE setAdvancedMode NOTIFY advancedModeChanged)
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(QString topSearch READ topSearch WRITE setTopSearch NOTIFY topSearchChanged)
    Q_PROPERTY(QList<mirvo::CatalogApp> catalogApps READ catalogApps NOTIFY catalogAppsChanged)
    Q_PROPERTY(QList<mirvo::CatalogApp> filteredApps READ filteredApps NOTIFY filteredAppsChanged)
    Q_PROPERTY(
        QStringList selectedCatalogAppIDs READ selectedCatalogAppIDList NOTIFY selectedCatalogAppIDsChanged)
    Q_PROPERTY(bool catalogLoading READ catalogLoading NOTIFY catalogLoadingChanged)
    Q_PROPERTY(QDateTime catalogUpdatedAt READ catalogUpdatedAt NOTIFY catalogUpdatedAtChanged)
    Q_PROPERTY(QList<mirvo::TopApp> topApps READ topApps NOTIFY topAppsChanged)
    Q_PROPERTY(QList<mirvo::TopApp> filteredTopApps READ filteredTopApps NOTIFY filteredTopAppsChanged)
    Q_PROPERTY(bool topAppsLoading READ topAppsLoading NOTIFY topAppsLoadingChanged)
    Q_PROPERTY(QList<mirvo::Device> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(QString selectedDeviceID READ selectedDeviceID WRITE setSelectedDeviceID NOTIFY
                   selectedDeviceIDChanged)
    Q_PROPERTY(QString deviceError READ deviceError NOTIFY deviceErrorChanged)
    Q_PROPERTY(bool refreshing READ refreshing NOTIFY refreshingChanged)
    Q_PROPERTY(AccountModal accountModal READ accountModal WRITE setAccountModal NOTIFY accountModalChanged)
    Q_PROPERTY(QString account READ account NOTIFY accountChanged)
    Q_PROPERTY(QStringList missingTools READ missingTools NOTIFY missingToolsChanged)
    Q_PROPERTY(QVariantMap versions READ versionMap NOTIFY versionsChanged)
    Q_PROPERTY(bool ipatoolNeedsUpdate READ ipatoolNeedsUpdate NOTIFY ipatoolNeedsUpdateChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString operationTitle READ operationTitle NOTIFY operationTitleChanged)
    Q_PROPERTY(QString operationStage READ operationStage NOTIFY operationStageChanged)
    Q_PROPERTY(
        OperationProgressStage activeProgressStage READ activeProgressStage NOTIFY activeProgressStageChanged)
    Q_PROPERTY(QVariant downloadProgress READ downloadProgressValue NOTIFY downloadProgressChanged)
    Q_PROPERTY(QVariant installProgress READ installProgressValue NOTIFY installProgressChanged)
    Q_PROPERTY(qint64 downloadedBytes READ downloadedBytes NOTIFY downloadedBytesChanged)
    Q_PROPERTY(qint64 downloadTotalBytes READ downloadTotalBytes NOTIFY downloadTotalBytesChanged)
    Q_PROPERTY(QString activeCatalogAppID READ activeCatalogAppID NOTIFY activeCatalogAppIDChanged)
    Q_PROPERTY(
        QVariant batchInstallProgress READ batchInstallProgressValue NOTIFY batchInstallProgressChanged)
    Q_PROPERTY(bool toolsInstalling READ toolsInstalling NOTIFY toolsInstallingChanged)
    Q_PROPERTY(bool componentsChecking READ componentsChecking NOTIFY componentsCheckingChanged)
    Q_PROPERTY(QString toolsStage READ toolsStage NOTIFY toolsStageChanged)
    Q_PROPERTY(QString alert READ alert WRITE setAlert NOTIFY alertChanged)
    Q_PROPERTY(QString notice READ notice WRITE setNotice NOTIFY noticeChanged)
    Q_PROPERTY(bool noticeIsError READ noticeIsError WRITE setNoticeIsError NOTIFY noticeIsErrorChanged)
    Q_PROPERTY(QVariant updateDialog READ updateDialogValue NOTIFY updateDialogChanged)
    Q_PROPERTY(bool updateChecking READ updateChecking NOTIFY updateCheckingChanged)
    Q_PROPERTY(qint64 cacheSizeBytes READ cacheSizeBytes NOTIFY cacheSizeBytesChanged)
    Q_PROPERTY(bool cacheClearing READ cacheClearing NOTIFY cacheClearingChanged)
    Q_PROPERTY(QVariant request READ requestValue NOTIFY requestChanged)
    Q_PROPERTY(QVariant loginStage READ loginStageValue NOTIFY loginStageChanged)
    Q_PROPERTY(bool loginStarted READ loginStarted NOTIFY loginStartedChanged)

    Q_PROPERTY(bool canDownload READ canDownload NOTIFY readinessChanged)
    Q_PROPERTY(bool canInstall READ canInstall NOTIFY readinessChanged)

public:
    enum class Page { Catalog, Settings };
    Q_ENUM(Page)
    enum class AccountModal { None, AppleID };
    Q_ENUM(AccountModal)
    enum class OperationProgressStage { None, Download, Install };
    Q_ENUM(OperationProgressStage)

    explicit AppModel(AppModelEnvironment environment, QObject* parent = nullptr);
    ~AppModel() override;

    // The one instance QML sees; set by the application object before the engine loads.
    static void setInstance(AppModel* model);
    static AppModel* create(QQmlEngine* engine, QJSEngine* scriptEngine);

    // The page titles the sidebar shows, and the raw value of an account sheet.
    Q_INVOKABLE static QString pageTitle(mirvo::AppModel::Page page);
    static QString accountModalRawValue(AccountModal modal);

    // Start-up, run once the main window is shown. A second call runs again without a second update check.
    QCoro::Task<> start();
    // Cancels the running operation, the device poller, the update check and any sign-in. Clears nothing.
    Q_INVOKABLE void shutdown();

    // Entry points for the window and the menu command: they start the coroutine and return.
    Q_INVOKABLE void windowShown();
    Q_INVOKABLE void checkForUpdatesFromMenu();

    // Operations the start-up sequence runs, one after another.
    QCoro::Task<> installMissingTools();
    QCoro::Task<> refreshComponents();
    QCoro::Task<> refreshTopApps();
    QCoro::Task<> refreshCatalog();
    QCoro::Task<> restoreAccount();
    QCoro::Task<> refreshDevices();
    QCoro::Task<> checkForUpdates(bool manual);

    bool canDownload() const;
    bool canInstall() const;
    std::optional<Device> selectedDevice() const;

    const std::optional<LocalStore>& store() const { return m_store; }
    const ToolService& service() const { return m_service; }
    const QString& dataRoot() const { return m_environment.dataRoot; }
    const QUrl& updateManifestURL() const { return m_updateManifestURL; }

    Q_INVOKABLE void dismissAlert();
    Q_INVOKABLE void closeNotice();

    // Published state.
    Page page() const { return m_page; }
    bool isStarting() const { return m_isStarting; }
    bool advancedMode() const { return m_advancedMode; }
    const QString& search() const { return m_search; }
    const QString& topSearch() const { return m_topSearch; }
    const QList<CatalogApp>& catalogApps() const { return m_catalogApps; }
    const QList<CatalogApp>& filteredApps() const { return m_filteredApps; }
    const QSet<QString>& selectedCatalogAppIDs() const { return m_selectedCatalogAppIDs; }
    bool catalogLoading() const { return m_catalogLoading; }
    const QDateTime& catalogUpdatedAt() const { return m_catalogUpdatedAt; }
    const QList<TopApp>& topApps() const { return m_topApps; }
    const QList<TopApp>& filteredTopApps() const { return m_filteredTopApps; }
    bool topAppsLoading() const { return m_topAppsLoading; }
    const QList<Device>& devices() const { return m_devices; }
    const QString& selectedDeviceID() const { return m_selectedDeviceID; }
    const QString& deviceError() const { return m_deviceError; }
    bool refreshing() const { return m_refreshing; }
    AccountModal accountModal() const { return m_accountModal; }
    const QString& account() const { return m_account; }
    const QStringList& missingTools() const { return m_missingTools; }
    const QMap<QString, QString>& versions() const { return m_versions; }
    bool ipatoolNeedsUpdate() const { return m_ipatoolNeedsUpdate; }
    bool busy() const { return m_busy; }
    const QString& operationTitle() const { return m_operationTitle; }
    const QString& operationStage() const { return m_operationStage; }
    OperationProgressStage activeProgressStage() const { return m_activeProgressStage; }
    const std::optional<double>& downloadProgress() const { return m_downloadProgress; }
    const std::optional<double>& installProgress() const { return m_installProgress; }
    qint64 downloadedBytes() const { return m_downloadedBytes; }
    qint64 downloadTotalBytes() const { return m_downloadTotalBytes; }
    const QString& activeCatalogAppID() const { return m_activeCatalogAppID; }
    const std::optional<BatchInstallProgress>& batchInstallProgress() const { return m_batchInstallProgress; }
    bool toolsInstalling() const { return m_toolsInstalling; }
    bool componentsChecking() const { return m_componentsChecking; }
    const QString& toolsStage() const { return m_toolsStage; }
    const QString& alert() const { return m_alert; }
    const QString& notice() const { return m_notice; }
    bool noticeIsError() const { return m_noticeIsError; }
    const std::optional<UpdateDialogState>& updateDialog() const { return m_updateDialog; }
    bool updateChecking() const { return m_updateChecking; }
    qint64 cacheSizeBytes() const { return m_cacheSizeBytes; }
    bool cacheClearing() const { return m_cacheClearing; }
    const std::optional<InstallRequest>& request() const { return m_request; }
    const AuthenticationEvent& loginStage() const { return m_loginStage; }
    bool loginStarted() const { return m_loginStarted; }

    void setPage(Page value);
    void setAdvancedMode(bool value);
    void setSearch(const QString& value);
    void setTopSearch(const QString& value);
    void setCatalogApps(const QList<CatalogApp>& value);
    void setFilteredApps(const QList<CatalogApp>& value);
    void setSelectedCatalogAppIDs(const QSet<QString>& value);
    void setCatalogLoading(bool value);
    void setCatalogUpdatedAt(const QDateTime& value);
    void setTopApps(const QList<TopApp>& value);
    void setFilteredTopApps(const QList<TopApp>& value);
    void setTopAppsLoading(bool value);
    void setDevices(const QList<Device>& value);
    void setSelectedDeviceID(const QString& value);
    void setDeviceError(const QString& value);
    void setRefreshing(bool value);
    void setAccountModal(AccountModal value);
    void setAccount(const QString& value);
    void setMissingTools(const QStringList& value);
    void setVersions(const QMap<QString, QString>& value);
    void setIpatoolNeedsUpdate(bool value);
    void setBusy(bool value);
    void setOperationTitle(const QString& value);
    void setOperationStage(const QString& value);
    void setActiveProgressStage(OperationProgressStage value);
    void setDownloadProgress(const std::optional<double>& value);
    void setInstallProgress(const std::optional<double>& value);
    void setDownloadedBytes(qint64 value);
    void setDownloadTotalBytes(qint64 value);
    void setActiveCatalogAppID(const QString& value);
    void setBatchInstallProgress(const std::optional<BatchInstallProgress>& value);
    void setToolsInstalling(bool value);
    void setComponentsChecking(bool value);
    void setToolsStage(const QString& value);
    void setAlert(const QString& value);
    void setNotice(const QString& value);
    void setNoticeIsError(bool value);
    void setUpdateDialog(const std::optional<UpdateDialogState>& value);
    void setUpdateChecking(bool value);
    void setCacheSizeBytes(qint64 value);
    void setCacheClearing(bool value);
    void setRequest(const std::optional<InstallRequest>& value);
    void setLoginStage(const AuthenticationEvent& value);
    void setLoginStarted(bool value);

Q_SIGNALS:
    void pageChanged();
    void isStartingChanged();
    void advancedModeChanged();
    void searchChanged();
    void topSearchChanged();
    void catalogAppsChanged();
    void filteredAppsChanged();
    void selectedCatalogAppIDsChanged();
    void catalogLoadingChanged();
    void catalogUpdatedAtChanged();
    void topAppsChanged();
    void filteredTopAppsChanged();
    void topAppsLoadingChanged();
    void devicesChanged();
    void selectedDeviceIDChanged();
    void deviceErrorChanged();
    void refreshingChanged();
    void accountModalChanged();
    void accountChanged();
    void missingToolsChanged();
    void versionsChanged();
    void ipatoolNeedsUpdateChanged();
    void busyChanged();
    void operationTitleChanged();
    void operationStageChanged();
    void activeProgressStageChanged();
    void downloadProgressChanged();
    void installProgressChanged();
    void downloadedBytesChanged();
    void downloadTotalBytesChanged();
    void activeCatalogAppIDChanged();
    void batchInstallProgressChanged();
    void toolsInstallingChanged();
    void componentsCheckingChanged();
    void toolsStageChanged();
    void alertChanged();
    void noticeChanged();
    void noticeIsErrorChanged();
    void updateDialogChanged();
    void updateCheckingChanged();
    void cacheSizeBytesChanged();
    void cacheClearingChanged();
    void requestChanged();
    void loginStageChanged();
    void loginStartedChanged();
    // Any input of canDownload or canInstall changed.
    void readinessChanged();

private:
    friend class tst_AppModel;

    void openStore();
    // Stores `value` and emits `changed` when it differs; tells whether it did.
    template <typename T> bool assign(T& member, const T& value, void (AppModel::*changed)())
    {
        if (member == value)
            return false;
        member = value;
        Q_EMIT(this->*changed)();
        return true;
    }
    void updateFilteredApps();
    void updateFilteredTopApps();
    QCoro::Task<> runUpdateCheck(std::stop_token stop);
    QCoro::Task<> pollDevices(std::stop_token stop);

    QStringList selectedCatalogAppIDList() const;
    QVariantMap versionMap() const;
    QVariant downloadProgressValue() const;
    QVariant installProgressValue() const;
    QVariant batchInstallProgressValue() const;
    QVariant updateDialogValue() const;
    QVariant requestValue() const;
    QVariant loginStageValue() const;

    AppModelEnvironment m_environment;
    QUrl m_updateManifestURL;
    ToolService m_service;
    std::optional<LocalStore> m_store;

    TaskHandle m_operation;
    TaskHandle m_poller;
    TaskHandle m_catalogMetadataTask;
    TaskHandle m_updateCheckTask;

    Page m_page = Page::Catalog;
    bool m_isStarting = true;
    bool m_advancedMode = false;
    QString m_search;
    QString m_topSearch;
    QList<CatalogApp> m_catalogApps;
    QList<CatalogApp> m_filteredApps;
    QSet<QString> m_selectedCatalogAppIDs;
    bool m_catalogLoading = false;
    QDateTime m_catalogUpdatedAt;
    QList<TopApp> m_topApps;
    QList<TopApp> m_filteredTopApps;
    bool m_topAppsLoading = false;
    QList<Device> m_devices;
    QString m_selectedDeviceID;
    QString m_deviceError;
    bool m_refreshing = false;
    AccountModal m_accountModal = AccountModal::None;
    QString m_account;
    QStringList m_missingTools;
    QMap<QString, QString> m_versions;
    bool m_ipatoolNeedsUpdate = false;
    bool m_busy = false;
    QString m_operationTitle;
    QString m_operationStage;
    OperationProgressStage m_activeProgressStage = OperationProgressStage::None;
    std::optional<double> m_downloadProgress;
    std::optional<double> m_installProgress;
    qint64 m_downloadedBytes = 0;
    qint64 m_downloadTotalBytes = 0;
    QString m_activeCatalogAppID;
    std::optional<BatchInstallProgress> m_batchInstallProgress;
    bool m_toolsInstalling = false;
    bool m_componentsChecking = false;
    QString m_toolsStage;
    QString m_alert;
    QString m_notice;
    bool m_noticeIsError = false;
    std::optional<UpdateDialogState> m_updateDialog;
    bool m_updateChecking = false;
    qint64 m_cacheSizeBytes = 0;
    bool m_cacheClearing = false;
    std::optional<InstallRequest> m_request;
    AuthenticationEvent m_loginStage;
    bool m_loginStarted = false;
};

} // namespace mirvo
