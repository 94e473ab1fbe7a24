#pragma once

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
class BundleInfo;

// Checks for a newer build of the application, drives the update dialog, and sizes and clears the caches.
class UpdatesState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through AppModel.updates")

    Q_PROPERTY(mirvo::UpdateDialogState dialog READ dialogForQml NOTIFY dialogChanged)
    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)
    Q_PROPERTY(qint64 cacheSizeBytes READ cacheSizeBytes NOTIFY cacheSizeBytesChanged)
    Q_PROPERTY(bool cacheClearing READ cacheClearing NOTIFY cacheClearingChanged)

public:
    UpdatesState(AppModel& root, const BundleInfo& bundleInfo);

    // The manifest address: the bundle's "SolvenaUpdateManifestURL" when it is an absolute URL, else the
    // default one.
    const QUrl& manifestURL() const { return m_manifestURL; }

    const std::optional<UpdateDialogState>& dialog() const { return m_dialog; }
    void setDialog(const std::optional<UpdateDialogState>& dialog);
    bool checking() const { return m_checking; }
    void setChecking(bool checking);
    qint64 cacheSizeBytes() const { return m_cacheSizeBytes; }
    void setCacheSizeBytes(qint64 bytes);
    bool cacheClearing() const { return m_cacheClearing; }
    void setCacheClearing(bool clearing);

    QCoro::Task<> checkForUpdates(bool manual);
    // The menu command: a visible check.
    Q_INVOKABLE void checkFromMenu();

    // The silent check of start-up runs once per process, however often start-up runs.
    void startAutomaticCheck();
    const TaskHandle& automaticCheck() const { return m_automaticCheck; }
    void cancelAutomaticCheck();

Q_SIGNALS:
    void dialogChanged();
    void checkingChanged();
    void cacheSizeBytesChanged();
    void cacheClearingChanged();

private:
    QCoro::Task<> runAutomaticCheck(std::stop_token stop);
    UpdateDialogState dialogForQml() const { return m_dialog.value_or(UpdateDialogState{}); }

    QUrl m_manifestURL;
    std::optional<UpdateDialogState> m_dialog;
    bool m_checking = false;
    qint64 m_cacheSizeBytes = 0;
    bool m_cacheClearing = false;
    TaskHandle m_automaticCheck;
};

} // namespace mirvo
