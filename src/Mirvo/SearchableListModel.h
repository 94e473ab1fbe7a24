#pragma once

#include <QAbstractListModel>
#include <QBitArray>
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
    // The rows that match, one bit a row: one scan of all the rows' search texts when the model gave them,
    // row by row otherwise.
    QBitArray matchingRows(const QString& normalizedQuery) const;
    // Changes whenever the rows, their groups or their search texts do.
    quint64 indexGeneration() const { return m_generation; }

    // Where the row's group stands among all groups: groups are ordered by their titles, compared the way
    // Russian readers sort words, ignoring letter case.
    int groupRank(int row) const { return m_groupRanks.at(row); }

protected:
    // Call whenever the rows change, before announcing them: one group title a row, and either one folded
    // search text a row or none at all.
    void indexRows(const QStringList& titles, const QStringList& searchTexts = {});

private:
    QList<int> m_groupRanks;
    // Every row's search text, each followed by a line feed; m_rowStarts[row] is where the row's begins.
    QString m_joinedSearchTexts;
    QList<qsizetype> m_rowStarts;
    bool m_joinedSearchUsable = false;
    quint64 m_generation = 0;
};

} // namespace mirvo
