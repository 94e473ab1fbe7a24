#include "SearchProxyModel.h"

#include "Models.h"
#include "SearchableListModel.h"

using namespace Qt::Literals::StringLiterals;

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
    connect(this, &SearchProxyModel::countChanged, this, &SearchProxyModel::groupsChanged);
    // A row whose name or icon changed changes the groups as well.
    connect(this, &QAbstractItemModel::dataChanged, this, &SearchProxyModel::groupsChanged);
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

QVariantList SearchProxyModel::groups() const
{
    const QHash<int, QByteArray> roles = roleNames();
    const int categoryRole = roles.key("category", -1);
    QVariantList groups;
    QString title;
    QVariantList rows;
    const auto closeGroup = [&] {
        if (!rows.isEmpty())
            groups.append(QVariantMap{{u"title"_s, title}, {u"rows"_s, rows}});
        rows.clear();
    };
    for (int row = 0; row < rowCount(); ++row) {
        const QModelIndex index = this->index(row, 0);
        const QString category = index.data(categoryRole).toString();
        if (row == 0 || category != title) {
            closeGroup();
            title = category;
        }
        QVariantMap values;
        for (auto role = roles.cbegin(); role != roles.cend(); ++role)
            values.insert(QString::fromUtf8(role.value()), index.data(role.key()));
        rows.append(values);
    }
    closeGroup();
    return groups;
}

bool SearchProxyModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const int leftRank = m_source->groupRank(left.row());
    const int rightRank = m_source->groupRank(right.row());
    return leftRank != rightRank ? leftRank < rightRank : left.row() < right.row();
}

} // namespace mirvo
