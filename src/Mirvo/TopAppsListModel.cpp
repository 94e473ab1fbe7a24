#include "TopAppsListModel.h"

#include "CategoryTitle.h"
#include "IconImageProvider.h"

namespace mirvo {

int TopAppsListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_apps.size());
}

QVariant TopAppsListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TopApp& app = m_apps.at(index.row());
    switch (role) {
    case IdRole:
        return app.id;
    case Qt::DisplayRole:
    case NameRole:
        return app.name;
    case CategoryRole:
        return categoryTitle(app.category);
    case IconURLRole:
        return app.faviconURL().value_or(QUrl());
    case IconSourceRole:
        return IconImageProvider::faviconSource(app.id, app.faviconURL());
    default:
        return {};
    }
}

QHash<int, QByteArray> TopAppsListModel::roleNames() const
{
    return {{IdRole, "appID"},
            {NameRole, "name"},
            {CategoryRole, "category"},
            {IconURLRole, "iconURL"},
            {IconSourceRole, "iconSource"}};
}

bool TopAppsListModel::rowMatches(int row, const QString& normalizedQuery) const
{
    return m_apps.at(row).matches(normalizedQuery);
}

void TopAppsListModel::setApps(const QList<TopApp>& apps)
{
    if (apps == m_apps)
        return;
    QStringList titles;
    titles.reserve(apps.size());
    for (const TopApp& app : apps)
        titles.append(categoryTitle(app.category));
    beginResetModel();
    m_apps = apps;
    indexRows(titles);
    endResetModel();
}

} // namespace mirvo
