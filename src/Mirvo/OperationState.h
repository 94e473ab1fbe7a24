#pragma once

#include "BatchInstallProgress.h"
#include "CommandRunning.h"
#include "InstallRequest.h"
#include "OptionalNumber.h"
#include "TaskHandle.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>
#include <stop_token>

namespace mirvo {

class AppModel;

// The single or batch download or install: its request, stages, progress and running task. Progress from
// the tools arrives on their reading threads and reaches this object on the GUI thread only.
class OperationState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through AppModel.operation")

    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString title READ title NOTIFY titleChanged)
    Q_PROPERTY(QString stage READ stage NOTIFY stageChanged)
    Q_PROPERTY(ProgressStage progressStage READ progressStage NOTIFY progressStageChanged)
    Q_PROPERTY(
        mirvo::OptionalNumber downloadProgress READ downloadProgressForQml NOTIFY downloadProgressChanged)
    Q_PROPERTY(mirvo::OptionalNumber installProgress READ installProgressForQml NOTIFY installProgressChanged)
    Q_PROPERTY(qint64 downloadedBytes READ downloadedBytes NOTIFY downloadedBytesChanged)
    Q_PROPERTY(qint64 downloadTotalBytes READ downloadTotalBytes NOTIFY downloadTotalBytesChanged)
    Q_PROPERTY(QString activeCatalogAppID READ activeCatalogAppID NOTIFY activeCatalogAppIDChanged)
    Q_PROPERTY(mirvo::BatchInstallProgress batchProgress READ batchProgressForQml NOTIFY batchProgressChanged)
    Q_PROPERTY(mirvo::InstallRequest request READ requestForQml NOTIFY requestChanged)

public:
    // Which progress bar is live; None when neither is.
    enum class ProgressStage { None, Download, Install };
    Q_ENUM(ProgressStage)

    using BytesHandler = std::function<void(qint64 bytes)>;

    explicit OperationState(AppModel& root);

    bool busy() const { return m_busy; }
    void setBusy(bool busy);
    const QString& title() const { return m_title; }
    void setTitle(const QString& title);
    const QString& stage() const { return m_stage; }
    void setStage(const QString& stage);
    ProgressStage progressStage() const { return m_progressStage; }
    void setProgressStage(ProgressStage stage);
    const std::optional<double>& downloadProgress() const { return m_downloadProgress; }
    void setDownloadProgress(const std::optional<double>& progress);
    const std::optional<double>& installProgress() const { return m_installProgress; }
    void setInstallProgress(const std::optional<double>& progress);
    qint64 downloadedBytes() const { return m_downloadedBytes; }
    void setDownloadedBytes(qint64 bytes);
    qint64 downloadTotalBytes() const { return m_downloadTotalBytes; }
    void setDownloadTotalBytes(qint64 bytes);
    // The catalog entry being processed, empty for none.
    const QString& activeCatalogAppID() const { return m_activeCatalogAppID; }
    void setActiveCatalogAppID(const QString& id);
    const std::optional<BatchInstallProgress>& batchProgress() const { return m_batchProgress; }
    void setBatchProgress(const std::optional<BatchInstallProgress>& progress);
    // The app whose install sheet is open.
    const std::optional<InstallRequest>& request() const { return m_request; }
    void setRequest(const std::optional<InstallRequest>& request);

    // The install sheet's openers: the App Store action of a catalog row and of a popular-app tile, and
    // "Установить по ID". Each does nothing unless the identifier reads and a download may start.
    Q_INVOKABLE void requestCatalogApp(const QString& catalogAppID);
    Q_INVOKABLE void requestTopApp(const QString& topAppID);
    Q_INVOKABLE void chooseStoreID(const QString& text);
    Q_INVOKABLE void closeRequest() { setRequest(std::nullopt); }
    // False when busy or signed out; signed out opens the Apple ID sheet.
    bool prepareStoreDownload();
    // False when signed out, opening the Apple ID sheet; never looks at `busy`.
    bool prepareInstallation();

    // Downloads the request's app into Packages and, with `install`, installs it on the iPhone selected
    // now. Returns at once; the outcome arrives as a notice or an alert.
    Q_INVOKABLE void perform(const mirvo::InstallRequest& request, bool install);
    // The same for every selected catalog app, one after another in catalog order.
    Q_INVOKABLE void performSelectedCatalogApps(bool install);

    const TaskHandle& task() const { return m_task; }
    void setTask(TaskHandle task);
    // The user's stop: says so in the stage line and cancels the running task.
    Q_INVOKABLE void stop();
    // Cancels the running task without a word, as the application quits.
    void cancel();

    // Callbacks for a tool's output and for byte counts; both may be called on any thread.
    OutputHandler outputReceiver(ProgressStage stage);
    BytesHandler downloadedBytesReceiver();
    // Download values only grow, whichever report arrives first.
    void updateDownloadedBytes(qint64 bytes);

Q_SIGNALS:
    void busyChanged();
    void titleChanged();
    void stageChanged();
    void progressStageChanged();
    void downloadProgressChanged();
    void installProgressChanged();
    void downloadedBytesChanged();
    void downloadTotalBytesChanged();
    void activeCatalogAppIDChanged();
    void batchProgressChanged();
    void requestChanged();

private:
    void openRequest(const QString& name, const QString& identifierText,
                     const std::optional<QString>& catalogAppID, bool storeIDOnly = false);
    // Clears the progress of the app about to be processed.
    void resetProgress(ProgressStage stage);
    void finish();
    QCoro::Task<> runSingle(InstallRequest request, bool install, std::optional<Device> device,
                            std::stop_token stop);
    QCoro::Task<> runBatch(QList<CatalogApp> apps, bool install, std::optional<Device> device,
                           std::stop_token stop);
    // Downloads `identifier` to `destination` unless a file is there already, then installs it on `device`.
    QCoro::Task<> downloadAndInstall(AppIdentifier identifier, QString destination,
                                     std::optional<Device> device, QString installStage,
                                     std::stop_token stop);
    // A bundle ID becomes the store ID a storefront gives for it, so that ipatool needs no storefront of
    // its own to find the app.
    QCoro::Task<AppIdentifier> resolved(AppIdentifier identifier, std::stop_token stop);

    // Runs `apply` on the GUI thread if this object still exists by then. Callable from any thread.
    using Update = std::function<void(OperationState&)>;
    std::function<void(Update)> guiThreadHop();
    void applyOutput(ProgressStage stage, const QString& chunk);
    void raiseDownloadProgress(double fraction);

    OptionalNumber downloadProgressForQml() const { return OptionalNumber::from(m_downloadProgress); }
    OptionalNumber installProgressForQml() const { return OptionalNumber::from(m_installProgress); }
    BatchInstallProgress batchProgressForQml() const
    {
        return m_batchProgress.value_or(BatchInstallProgress{});
    }
    InstallRequest requestForQml() const { return m_request.value_or(InstallRequest{}); }

    AppModel& m_root;
    bool m_busy = false;
    QString m_title;
    QString m_stage;
    ProgressStage m_progressStage = ProgressStage::None;
    std::optional<double> m_downloadProgress;
    std::optional<double> m_installProgress;
    qint64 m_downloadedBytes = 0;
    // Counts the resets of the progress, so that late updates for an earlier app are told apart.
    quint64 m_progressGeneration = 0;
    qint64 m_downloadTotalBytes = 0;
    QString m_activeCatalogAppID;
    std::optional<BatchInstallProgress> m_batchProgress;
    std::optional<InstallRequest> m_request;
    TaskHandle m_task;
};

} // namespace mirvo
