#include "SearchProxyModel.h"

#include "Models.h"
#include "SearchableListModel.h"

namespace mirvo {

SearchProxyModel::SearchProxyModel(SearchableListModel* source, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_source(source)
{
    setSourceModel(source);
    sort(0);
    connect(this, &QAbstractItemModel::rowsInserted, this, &SearchProxyModel::countChanged);
    connect(this, &QAbstractItemModel::rowsRemoved, this, &SearchProxyModel::countChanged);
    connect(this, &QAbstractItemModel::modelReset, this, &SearchProxyModel::countChanged);
    connect(this, &QAbstractItemModel::layoutChanged, this, &SearchProxyModel::countChanged);
}

void SearchProxyModel::setSearch(const QString& search)
{
    if (search == m_search)
        return;
    m_search = search;
    const QString query = CatalogApp::normalizedSearchText(search);
    if (query != m_normalizedQuery) {
        m_normalizedQuery = query;
        invalidateFilter();
    }
    Q_EMIT searchChanged();
}

bool SearchProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    return m_normalizedQuery.isEmpty() || m_source->rowMatches(sourceRow, m_normalizedQuery);
}

bool SearchProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const int leftRank = m_source->groupRank(left.row());
    const int rightRank = m_source->groupRank(right.row());
    return leftRank != rightRank ? leftRank < rightRank : left.row() < right.row();
}

} // namespace mirvo
