#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QStringList>

namespace mirvo {

// A list model whose rows a SearchProxyModel can match against a folded search query and group by
// category.
class SearchableListModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    // `normalizedQuery` is already trimmed and folded, and never empty.
    virtual bool rowMatches(int row, const QString& normalizedQuery) const = 0;
    // Where the row's group stands among all groups: groups are ordered by their titles, compared the way
    // Russian readers sort words, ignoring letter case.
    int groupRank(int row) const { return m_groupRanks.at(row); }

protected:
    // Ranks the rows by their group titles, one title a row; call whenever the rows or titles change.
    void rankGroups(const QStringList& titles);

private:
    QList<int> m_groupRanks;
};

} // namespace mirvo
