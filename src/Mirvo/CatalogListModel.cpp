#include "CatalogListModel.h"

#include "CategoryTitle.h"
#include "IconImageProvider.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

bool sameIDs(const QList<CatalogApp>& left, const QList<CatalogApp>& right)
{
    return std::equal(left.cbegin(), left.cend(), right.cbegin(), right.cend(),
                      [](const CatalogApp& a, const CatalogApp& b) { return a.id() == b.id(); });
}

} // namespace

int CatalogListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_apps.size());
}

QVariant CatalogListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const CatalogApp& app = m_apps.at(index.row());
    switch (role) {
    case IdRole:
        return app.id();
    case Qt::DisplayRole:
    case NameRole:
        return app.name();
    case CategoryRole:
        return categoryTitle(app.category());
    case IconURLRole:
        return app.artworkURL().value_or(QUrl());
    case SelectedRole:
        return m_selectedIDs.contains(app.id());
    case RunningRole:
        return !m_runningID.isEmpty() && app.id() == m_runningID;
    case IconSourceRole:
        return IconImageProvider::artworkSource(app.id(), app.artworkURL());
    default:
        return {};
    }
}

QHash<int, QByteArray> CatalogListModel::roleNames() const
{
    return {{IdRole, "appID"},
            {NameRole, "name"},
            {CategoryRole, "category"},
            {IconURLRole, "iconURL"},
            {SelectedRole, "selected"},
            {RunningRole, "running"},
            {IconSourceRole, "iconSource"}};
}

bool CatalogListModel::rowMatches(int row, const QString& normalizedQuery) const
{
    return m_apps.at(row).matchesNormalizedSearch(normalizedQuery);
}

void CatalogListModel::setApps(const QList<CatalogApp>& apps)
{
    QStringList titles;
    QStringList searchTexts;
    titles.reserve(apps.size());
    searchTexts.reserve(apps.size());
    for (const CatalogApp& app : apps) {
        titles.append(categoryTitle(app.category()));
        searchTexts.append(app.searchIndex());
    }
    if (!m_apps.isEmpty() && sameIDs(m_apps, apps)) {
        m_apps = apps;
        indexRows(titles, searchTexts);
        Q_EMIT dataChanged(index(0), index(int(m_apps.size()) - 1),
                           {Qt::DisplayRole, NameRole, CategoryRole, IconURLRole, IconSourceRole});
        return;
    }
    if (m_apps.isEmpty()) {
        if (apps.isEmpty())
            return;
        beginInsertRows({}, 0, int(apps.size()) - 1);
        m_apps = apps;
        indexRows(titles, searchTexts);
        endInsertRows();
        return;
    }
    beginResetModel();
    m_apps = apps;
    indexRows(titles, searchTexts);
    endResetModel();
}

void CatalogListModel::setSelectedIDs(const QSet<QString>& ids)
{
    if (ids == m_selectedIDs)
        return;
    QSet<QString> changed = ids;
    changed.unite(m_selectedIDs);
    changed.subtract(QSet<QString>(ids).intersect(m_selectedIDs));
    m_selectedIDs = ids;
    emitRowsChanged(changed, SelectedRole);
    Q_EMIT selectedIDsChanged();
}

void CatalogListModel::setRunningID(const QString& id)
{
    if (id == m_runningID)
        return;
    const QSet<QString> changed{m_runningID, id};
    m_runningID = id;
    emitRowsChanged(changed, RunningRole);
}

void CatalogListModel::emitRowsChanged(const QSet<QString>& ids, int role)
{
    if (ids.isEmpty())
        return;
    for (int row = 0; row < m_apps.size(); ++row) {
        if (ids.contains(m_apps.at(row).id()))
            Q_EMIT dataChanged(index(row), index(row), {role});
    }
}

} // namespace mirvo
