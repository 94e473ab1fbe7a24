#pragma once

#include "AppUpdateService.h"
#include "TaskHandle.h"
#include "UpdateDialogState.h"

#include <QObject>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

#include <optional>
#include <stop_token>

namespace mirvo {

class AppModel;
struct AppModelEnvironment;

// Checks for a newer build of the application, drives the update dialog, and sizes and clears the caches.
class UpdatesState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through AppModel.updates")

    Q_PROPERTY(mirvo::UpdateDialogState dialog READ dialogForQml NOTIFY dialogChanged)
    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)
    Q_PROPERTY(qint64 cacheSizeBytes READ cacheSizeBytes NOTIFY cacheSizeBytesChanged)
    Q_PROPERTY(bool cacheClearing READ cacheClearing NOTIFY cacheClearingChanged)
    Q_PROPERTY(QString currentAppVersion READ currentAppVersion CONSTANT)
    Q_PROPERTY(qint64 currentAppBuild READ currentAppBuild CONSTANT)

public:
    // `environment` is the model's own and outlives this object's use of it.
    UpdatesState(AppModel& root, const AppModelEnvironment& environment);

    // The manifest address: the bundle's "SolvenaUpdateManifestURL" when it is an absolute URL with a host,
    // else the default one.
    const QUrl& manifestURL() const { return m_service.manifestURL(); }

    // The running version and build as the bundle gives them: "0.0.0" and 0 when absent or unusable.
    QString currentAppVersion() const;
    qint64 currentAppBuild() const;

    const std::optional<UpdateDialogState>& dialog() const { return m_dialog; }
    void setDialog(const std::optional<UpdateDialogState>& dialog);
    Q_INVOKABLE void closeDialog() { setDialog(std::nullopt); }
    bool checking() const { return m_checking; }
    void setChecking(bool checking);
    qint64 cacheSizeBytes() const { return m_cacheSizeBytes; }
    void setCacheSizeBytes(qint64 bytes);
    bool cacheClearing() const { return m_cacheClearing; }
    void setCacheClearing(bool clearing);

    // Asks the update service, unless a check already runs. A manual check shows its progress and every
    // outcome; an automatic one only opens the dialog for an update it finds. Never throws.
    QCoro::Task<> checkForUpdates(bool manual, std::stop_token stop = {});
    // The menu command: a visible check.
    Q_INVOKABLE void checkFromMenu();

    // The silent check of start-up runs once per process, however often start-up runs.
    void startAutomaticCheck();
    const TaskHandle& automaticCheck() const { return m_automaticCheck; }
    void cancelAutomaticCheck();

    // Opens the manifest's download address in the browser; the dialog closes, or says it could not.
    Q_INVOKABLE void openUpdate(const mirvo::AppUpdateManifest& manifest);

    // The saved catalog copy and both icon caches, in bytes. Never throws.
    QCoro::Task<> refreshCacheSize();
    // Deletes the saved catalog copy and the icons, keeping the catalog on screen; a failure stops at the
    // cache that failed and reports it in the model's alert. Never throws.
    QCoro::Task<> clearCache();
    // The settings page's size and confirmed clearing.
    Q_INVOKABLE void refreshCacheSizeFromPage();
    Q_INVOKABLE void clearCacheFromPage();

Q_SIGNALS:
    void dialogChanged();
    void checkingChanged();
    void cacheSizeBytesChanged();
    void cacheClearingChanged();

private:
    QCoro::Task<> runAutomaticCheck(std::stop_token stop);
    UpdateDialogState dialogForQml() const { return m_dialog.value_or(UpdateDialogState{}); }

    AppModel& m_root;
    const AppModelEnvironment& m_environment;
    AppUpdateService m_service;
    std::optional<UpdateDialogState> m_dialog;
    bool m_checking = false;
    qint64 m_cacheSizeBytes = 0;
    bool m_cacheClearing = false;
    TaskHandle m_automaticCheck;
};

} // namespace mirvo
