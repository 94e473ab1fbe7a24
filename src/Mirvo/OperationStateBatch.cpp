// The selected catalog apps, one after another: counters, the summary and the stop.
#include "OperationState.h"

#include "AppModel.h"
#include "CancelledError.h"
#include "LogCategories.h"
#include "MirvoError.h"
#include "RussianPlural.h"
#include "SystemError.h"

#include <QPointer>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

QString number(qint64 n)
{
    return QString::number(n);
}

} // namespace

void OperationState::performSelectedCatalogApps(bool install)
{
    if (m_busy)
        return;
    CatalogState& catalog = *m_root.catalog();
    QList<CatalogApp> batch;
    for (const CatalogApp& app : catalog.apps()->catalogApps()) {
        if (catalog.selectedAppIDs().contains(app.id()))
            batch.append(app);
    }
    if (batch.isEmpty())
        return;
    if (!m_root.store()) {
        m_root.setAlert(u"Не удалось открыть хранилище приложений."_s);
        return;
    }
    if (!prepareStoreDownload() || (install && !prepareInstallation()))
        return;
    const ComponentsState& components = *m_root.components();
    if (components.missingTools().contains(u"ipatool"_s) || components.ipatoolNeedsUpdate()) {
        m_root.setAlert(u"Не удалось подготовить загрузку приложений. Попробуйте ещё раз позже."_s);
        return;
    }
    std::optional<Device> device;
    if (install) {
        device = m_root.devices()->selectedDevice();
        if (components.missingTools().contains(u"ios"_s) || !device || !device->ready) {
            m_root.setAlert(u"Подключите и разблокируйте iPhone."_s);
            return;
        }
    }
    setRequest(std::nullopt);
    m_root.setNotice({}, false);
    setBusy(true);
    setTitle(batch.constFirst().name());
    setStage(install ? u"Готовим установку"_s : u"Готовим скачивание"_s);
    setActiveCatalogAppID({});
    resetProgress(ProgressStage::None);
    setBatchProgress(BatchInstallProgress{1, int(batch.size()), 0, 0});
    TaskHandle task = TaskHandle::start([this, batch, install, device](std::stop_token stop) {
        return runBatch(batch, install, device, stop);
    });
    // Packages already in place and nothing to install: the task may have ended already.
    if (m_busy)
        setTask(std::move(task));
}

QCoro::Task<> OperationState::runBatch(QList<CatalogApp> apps, bool install, std::optional<Device> device,
                                       std::stop_token stop)
{
    QPointer<OperationState> self(this);
    const qint64 total = apps.size();
    int succeeded = 0;
    int failed = 0;
    QSet<QString> done;
    bool stopped = false;
    for (qsizetype index = 0; index < apps.size() && !stopped; ++index) {
        if (stop.stop_requested()) {
            stopped = true;
            break;
        }
        const CatalogApp& app = apps.at(index);
        const QString position = number(index + 1) + u" из "_s + number(total);
        setBatchProgress(BatchInstallProgress{int(index + 1), int(total), succeeded, failed});
        setTitle(app.name());
        setStage(u"Скачиваем "_s + position);
        setActiveCatalogAppID(app.id());
        resetProgress(ProgressStage::Download);
        try {
            std::optional<AppIdentifier> identifier;
            try {
                identifier = AppIdentifier::parse(app.id());
            } catch (const MirvoError&) {
                throw MirvoError::message(u"У приложения указан некорректный App Store ID."_s);
            }
            // Named after the app and its ID, so that two apps of one name never share a file.
            const QString destination = m_root.store()->destination(app.name(), u" — "_s + app.id());
            const QString installStage =
                device ? u"Устанавливаем "_s + position + u" на "_s + device->name : QString();
            co_await downloadAndInstall(*identifier, destination, device, installStage, stop);
            if (!self)
                co_return;
            ++succeeded;
            done.insert(app.id());
        } catch (const CancelledError&) {
            if (!self)
                co_return;
            stopped = true;
        } catch (const std::exception& error) {
            if (!self)
                co_return;
            qCInfo(lcStore).noquote() << "batch item failed:" << localizedDescription(error);
            ++failed; // only the counts reach the summary
        }
    }

    CatalogState& catalog = *m_root.catalog();
    catalog.setSelectedAppIDs(QSet<QString>(catalog.selectedAppIDs()).subtract(done));
    const QString counts = number(succeeded) + u" из "_s + number(total);
    if (stopped) {
        const QString notice =
            install ? QString(u"Массовая установка остановлена. Установлено "_s + counts + u'.')
                    : QString(u"Массовое скачивание остановлено. Скачано "_s + counts + u'.');
        m_root.setNotice(notice, false);
    } else if (failed == 0) {
        const QString count = number(succeeded) + u' ' + appsWord(succeeded);
        const QString notice = install ? QString(u"Установлено "_s + count + u" на "_s +
                                                 (device ? device->name : u"iPhone"_s) + u'.')
                                       : QString(u"Скачано "_s + count + u". IPA сохранены на Mac."_s);
        m_root.setNotice(notice, false);
    } else {
        const QString notice =
            install
                ? QString(u"Установлено "_s + counts + u". Не удалось установить: "_s + number(failed) + u'.')
                : QString(u"Скачано "_s + counts + u". Не удалось скачать: "_s + number(failed) + u'.');
        m_root.setNotice(notice, true);
    }
    finish();
}

} // namespace mirvo
