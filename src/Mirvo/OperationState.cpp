#include "OperationState.h"

#include "AppModel.h"
#include "AssignProperty.h"
#include "LogCategories.h"
#include "OutputParser.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

OperationState::OperationState(AppModel& root)
    : QObject(&root)
    , m_root(root)
{
}

void OperationState::setBusy(bool busy)
{
    if (busy != m_busy)
        qCInfo(lcStore) << "operation" << (busy ? "started" : "ended");
    assignProperty(this, m_busy, busy, &OperationState::busyChanged);
}

void OperationState::setTitle(const QString& title)
{
    assignProperty(this, m_title, title, &OperationState::titleChanged);
}

void OperationState::setStage(const QString& stage)
{
    if (stage != m_stage)
        qCInfo(lcStore).noquote() << "operation stage:" << stage;
    assignProperty(this, m_stage, stage, &OperationState::stageChanged);
}

void OperationState::setProgressStage(ProgressStage stage)
{
    if (stage != m_progressStage)
        qCDebug(lcStore) << "operation progress stage:" << stage;
    assignProperty(this, m_progressStage, stage, &OperationState::progressStageChanged);
}

void OperationState::setDownloadProgress(const std::optional<double>& progress)
{
    assignProperty(this, m_downloadProgress, progress, &OperationState::downloadProgressChanged);
}

void OperationState::setInstallProgress(const std::optional<double>& progress)
{
    assignProperty(this, m_installProgress, progress, &OperationState::installProgressChanged);
}

void OperationState::setDownloadedBytes(qint64 bytes)
{
    assignProperty(this, m_downloadedBytes, bytes, &OperationState::downloadedBytesChanged);
}

void OperationState::setDownloadTotalBytes(qint64 bytes)
{
    assignProperty(this, m_downloadTotalBytes, bytes, &OperationState::downloadTotalBytesChanged);
}

void OperationState::setActiveCatalogAppID(const QString& id)
{
    assignProperty(this, m_activeCatalogAppID, id, &OperationState::activeCatalogAppIDChanged);
}

void OperationState::setBatchProgress(const std::optional<BatchInstallProgress>& progress)
{
    assignProperty(this, m_batchProgress, progress, &OperationState::batchProgressChanged);
}

void OperationState::setRequest(const std::optional<InstallRequest>& request)
{
    assignProperty(this, m_request, request, &OperationState::requestChanged);
}

void OperationState::setTask(TaskHandle task)
{
    m_task = std::move(task);
}

void OperationState::stop()
{
    if (m_task.isEmpty() || m_task.isFinished())
        return;
    setStage(u"Останавливаем…"_s);
    m_task.cancel();
}

void OperationState::cancel()
{
    m_task.cancel();
}

std::function<void(OperationState::Update)> OperationState::guiThreadHop()
{
    // Made on the GUI thread; the pointer and the generation are only read back there. An update that
    // arrives after the progress was reset for the next app belongs to the previous one and is dropped.
    return [target = QPointer<OperationState>(this), generation = m_progressGeneration](Update update) {
        QCoreApplication* application = QCoreApplication::instance();
        if (!application)
            return;
        QMetaObject::invokeMethod(
            application,
            [target, generation, update = std::move(update)] {
                if (target && target->m_progressGeneration == generation)
                    update(*target);
            },
            Qt::QueuedConnection);
    };
}

OutputHandler OperationState::outputReceiver(ProgressStage stage)
{
    return [hop = guiThreadHop(), stage](const QString& chunk) {
        hop([stage, chunk](OperationState& operation) { operation.applyOutput(stage, chunk); });
    };
}

OperationState::BytesHandler OperationState::downloadedBytesReceiver()
{
    return [hop = guiThreadHop()](qint64 bytes) {
        hop([bytes](OperationState& operation) { operation.updateDownloadedBytes(bytes); });
    };
}

void OperationState::applyOutput(ProgressStage stage, const QString& chunk)
{
    if (stage == ProgressStage::Download) {
        if (const std::optional<TransferProgress> transfer = OutputParser::transferProgress(chunk)) {
            setDownloadTotalBytes(std::max(m_downloadTotalBytes, transfer->totalBytes));
            updateDownloadedBytes(transfer->completedBytes);
        }
    }
    const std::optional<double> fraction = OutputParser::progress(chunk);
    if (!fraction)
        return;
    if (stage == ProgressStage::Download)
        raiseDownloadProgress(*fraction);
    else if (stage == ProgressStage::Install)
        setInstallProgress(fraction);
}

void OperationState::updateDownloadedBytes(qint64 bytes)
{
    setDownloadedBytes(std::max(m_downloadedBytes, bytes));
    if (m_downloadTotalBytes >= 1)
        raiseDownloadProgress(std::min(double(m_downloadedBytes) / double(m_downloadTotalBytes), 1.0));
}

void OperationState::raiseDownloadProgress(double fraction)
{
    setDownloadProgress(std::max(fraction, m_downloadProgress.value_or(0.0)));
}

} // namespace mirvo
