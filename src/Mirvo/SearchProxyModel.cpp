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
        m_matchesValid = false;
        invalidateFilter();
    }
    Q_EMIT searchChanged();
}

bool SearchProxyModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (m_normalizedQuery.isEmpty())
        return true;
    // Called for every row of a refilter, and for new rows while the source announces them.
    if (!m_matchesValid || m_matchesGeneration != m_source->indexGeneration()) {
        m_matches = m_source->matchingRows(m_normalizedQuery);
        m_matchesGeneration = m_source->indexGeneration();
        m_matchesValid = true;
    }
    return sourceRow < m_matches.size() && m_matches.testBit(sourceRow);
}

bool SearchProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const int leftRank = m_source->groupRank(left.row());
    const int rightRank = m_source->groupRank(right.row());
    return leftRank != rightRank ? leftRank < rightRank : left.row() < right.row();
}

} // namespace mirvo
