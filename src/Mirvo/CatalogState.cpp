#include "CatalogState.h"

#include "AppModel.h"
#include "AssignProperty.h"
#include "RussianPlural.h"

#include <QLocale>

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
    m_apps.setApps(apps);
    QSet<QString> ids;
    ids.reserve(apps.size());
    for (const CatalogApp& app : apps)
        ids.insert(app.id());
    setSelectedAppIDs(QSet<QString>(selectedAppIDs()).intersect(ids));
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
    // The removed-apps list arrives with the catalog sources.
    co_return;
}

QCoro::Task<> CatalogState::refreshTopApps()
{
    // The popular-apps list arrives with the catalog sources.
    co_return;
}

} // namespace mirvo
