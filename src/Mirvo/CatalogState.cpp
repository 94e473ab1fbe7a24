#include "CatalogState.h"

#include "AppModel.h"
#include "AppStoreMetadata.h"
#include "AssignProperty.h"
#include "Endpoints.h"
#include "LogCategories.h"
#include "RemovedRussianApps.h"
#include "RussianPlural.h"

#include <QLocale>
#include <QPointer>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

QString countedApps(qint64 n)
{
    return QString::number(n) + u' ' + appsWord(n);
}

} // namespace

CatalogState::CatalogState(AppModel& root)
    : QObject(&root)
    , m_root(root)
{
    connect(&m_apps, &CatalogListModel::selectedIDsChanged, this, &CatalogState::selectionChanged);
    // The select-all state and the count follow the filter as well as the selection.
    connect(&m_filteredApps, &SearchProxyModel::countChanged, this, &CatalogState::selectionChanged);
    connect(&m_filteredApps, &SearchProxyModel::countChanged, this, &CatalogState::appCountLabelChanged);
    connect(&m_filteredApps, &SearchProxyModel::searchChanged, this, &CatalogState::searchChanged);
    connect(&m_filteredTopApps, &SearchProxyModel::searchChanged, this, &CatalogState::topSearchChanged);
}

void CatalogState::updateCatalog(const QList<CatalogApp>& apps)
{
    m_metadataTask.cancel();
    m_metadataTask = {};
    m_apps.setApps(apps);
    QSet<QString> ids;
    ids.reserve(apps.size());
    for (const CatalogApp& app : apps)
        ids.insert(app.id());
    setSelectedAppIDs(QSet<QString>(selectedAppIDs()).intersect(ids));
    if (!apps.isEmpty() && m_root.http())
        m_metadataTask = TaskHandle::start([this, apps](std::stop_token stop) { return enrich(apps, stop); });
}

QCoro::Task<> CatalogState::enrich(QList<CatalogApp> apps, std::stop_token stop)
{
    QPointer<CatalogState> self(this);
    QStringList ids;
    ids.reserve(apps.size());
    for (const CatalogApp& app : apps)
        ids.append(app.id());
    QList<CatalogApp> enriched;
    try {
        const AppStoreMetadata metadata(m_root.http());
        enriched = co_await metadata.enrich(std::move(apps), u"ru"_s,
                                            Endpoints::current().lookupFallbackCountries, stop);
    } catch (...) {
        co_return; // stopped: a newer catalog took this one's place
    }
    if (!self || stop.stop_requested() || catalogIDs() != ids)
        co_return;
    qCDebug(lcCatalog) << "catalog details loaded for" << enriched.size() << "apps";
    m_apps.setApps(enriched);
}

QStringList CatalogState::catalogIDs() const
{
    QStringList ids;
    const int rows = m_apps.rowCount();
    ids.reserve(rows);
    for (int row = 0; row < rows; ++row)
        ids.append(m_apps.index(row).data(CatalogListModel::IdRole).toString());
    return ids;
}

void CatalogState::setTopApps(const QList<TopApp>& apps)
{
    m_topApps.setApps(apps);
}

void CatalogState::setSearch(const QString& search)
{
    m_filteredApps.setSearch(search);
}

void CatalogState::setTopSearch(const QString& search)
{
    m_filteredTopApps.setSearch(search);
}

void CatalogState::setLoading(bool loading)
{
    assignProperty(this, m_loading, loading, &CatalogState::loadingChanged);
}

void CatalogState::setUpdatedAt(const QDateTime& updatedAt)
{
    assignProperty(this, m_updatedAt, updatedAt, &CatalogState::updatedAtChanged);
}

void CatalogState::setTopAppsLoading(bool loading)
{
    assignProperty(this, m_topAppsLoading, loading, &CatalogState::topAppsLoadingChanged);
}

void CatalogState::setSelectedAppIDs(const QSet<QString>& ids)
{
    m_apps.setSelectedIDs(ids);
}

void CatalogState::toggleSelection(const QString& id)
{
    if (m_root.busy())
        return;
    QSet<QString> ids = selectedAppIDs();
    if (!ids.remove(id))
        ids.insert(id);
    setSelectedAppIDs(ids);
}

void CatalogState::clearSelection()
{
    if (m_root.busy())
        return;
    setSelectedAppIDs({});
}

void CatalogState::toggleFilteredSelection()
{
    if (m_root.busy())
        return;
    const QSet<QString> filtered = filteredIDs();
    if (filtered.isEmpty())
        return;
    QSet<QString> ids = selectedAppIDs();
    if (ids.contains(filtered))
        ids.subtract(filtered);
    else
        ids.unite(filtered);
    setSelectedAppIDs(ids);
}

bool CatalogState::allFilteredAppsSelected() const
{
    const QSet<QString> filtered = filteredIDs();
    return !filtered.isEmpty() && selectedAppIDs().contains(filtered);
}

QSet<QString> CatalogState::filteredIDs() const
{
    QSet<QString> ids;
    const int rows = m_filteredApps.rowCount();
    ids.reserve(rows);
    for (int row = 0; row < rows; ++row)
        ids.insert(m_filteredApps.index(row, 0).data(CatalogListModel::IdRole).toString());
    return ids;
}

QString CatalogState::appCountLabel() const
{
    return countedApps(m_filteredApps.rowCount());
}

QString CatalogState::updateLabel() const
{
    if (!m_updatedAt.isValid())
        return u"Apps_ID_List: дата обновления недоступна"_s;
    // The medium date and short time of the Russian locale, e.g. "7 дек. 2026 г., 14:05".
    static const QLocale russian(QLocale::Russian, QLocale::Russia);
    return u"Список обновлён "_s + russian.toString(m_updatedAt.toLocalTime(), u"d MMM yyyy г., HH:mm"_s);
}

QString CatalogState::selectedAppsLabel() const
{
    return u"Выбрано: "_s + countedApps(selectedCount());
}

QString CatalogState::batchInstallButtonTitle() const
{
    return u"Установить "_s + countedApps(selectedCount());
}

QString CatalogState::batchDownloadButtonTitle() const
{
    return u"Скачать "_s + countedApps(selectedCount());
}

QCoro::Task<> CatalogState::refreshCatalog()
{
    if (m_loading)
        co_return;
    QPointer<CatalogState> self(this);
    setLoading(true);
    std::optional<CatalogDownload> download;
    QList<CatalogApp> apps;
    if (const std::shared_ptr<HttpClient> http = m_root.http()) {
        try {
            download = co_await RemovedRussianApps::downloadCatalog(http);
            // Half a list is never shown: a body that does not read counts as a failed download.
            apps = RemovedRussianApps::parseCatalog(download->data);
        } catch (...) {
            qCInfo(lcCatalog).noquote()
                << "catalog download failed:" << describeFailure(std::current_exception());
            download.reset();
        }
        if (!self)
            co_return;
    }
    if (download) {
        qCInfo(lcCatalog) << "catalog loaded:" << apps.size() << "apps";
        updateCatalog(apps);
        setUpdatedAt(download->updatedAt.value_or(QDateTime()));
        if (const std::optional<LocalStore>& store = m_root.store()) {
            try {
                store->saveCatalog(download->data, download->updatedAt);
            } catch (...) {
                // The next start may fall back to an older copy; nothing to tell the user now.
                qCWarning(lcStore).noquote()
                    << "saving the catalog failed:" << describeFailure(std::current_exception());
            }
        }
    } else {
        fallBackToSavedCatalog();
    }
    setLoading(false);
}

void CatalogState::fallBackToSavedCatalog()
{
    const std::optional<LocalStore>& store = m_root.store();
    QList<CatalogApp> saved;
    try {
        if (store) {
            if (const std::optional<QByteArray> data = store->cachedCatalog())
                saved = RemovedRussianApps::parseCatalog(*data);
        }
    } catch (...) {
        qCWarning(lcStore).noquote() << "reading the saved catalog failed:"
                                     << describeFailure(std::current_exception());
        saved.clear();
    }
    qCInfo(lcCatalog) << "catalog fallback: saved copy with" << saved.size() << "apps";
    if (saved.isEmpty()) {
        updateCatalog({});
        setUpdatedAt({});
        m_root.setNotice(u"Не удалось обновить каталог. Проверьте подключение к интернету."_s, true);
        return;
    }
    updateCatalog(saved);
    std::optional<QDateTime> savedAt;
    try {
        savedAt = store->cachedCatalogUpdatedAt();
    } catch (...) {
    }
    setUpdatedAt(savedAt.value_or(QDateTime()));
    m_root.setNotice(u"Не удалось обновить каталог. Показана последняя сохранённая версия."_s, true);
}

QCoro::Task<> CatalogState::refreshTopApps()
{
    if (m_topAppsLoading)
        co_return;
    QPointer<CatalogState> self(this);
    setTopAppsLoading(true);
    QList<TopApp> apps;
    if (const std::shared_ptr<HttpClient> http = m_root.http()) {
        try {
            apps = co_await RemovedRussianApps::downloadTopApps(http);
        } catch (...) {
            qCInfo(lcCatalog).noquote()
                << "popular apps download failed:" << describeFailure(std::current_exception());
            apps.clear();
        }
        if (!self)
            co_return;
    }
    if (apps.isEmpty())
        qCInfo(lcCatalog) << "popular apps fallback: the bundled list";
    else
        qCInfo(lcCatalog) << "popular apps loaded:" << apps.size() << "apps";
    // The published list is not always there: the popular screen never stays empty for it.
    setTopApps(apps.isEmpty() ? RemovedRussianApps::bundledTopApps() : apps);
    setTopAppsLoading(false);
}

} // namespace mirvo
