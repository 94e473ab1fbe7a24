#pragma once

#include <QBitArray>
#include <QSortFilterProxyModel>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

class SearchableListModel;

// The rows of a searchable list that match `search`, grouped by category and in the source's order within
// a group. A new search refilters here; the source list never changes for it.
class SearchProxyModel : public QSortFilterProxyModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the catalog")
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(QVariantList groups READ groups NOTIFY groupsChanged)

public:
    explicit SearchProxyModel(SearchableListModel* source, QObject* parent = nullptr);

    const QString& search() const { return m_search; }
    void setSearch(const QString& search);
    int count() const { return rowCount(); }
    // The visible rows as category groups, for views that lay a group out as a grid: each group a map of
    // "title" and "rows", each row a map from role name to value. Built anew on every read, so it suits
    // short lists only (the popular apps).
    QVariantList groups() const;

Q_SIGNALS:
    void searchChanged();
    void countChanged();
    void groupsChanged();

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    SearchableListModel* m_source;
    QString m_search;
    QString m_normalizedQuery;
    // The source rows matching the query, worked out once per query and source generation.
    mutable QBitArray m_matches;
    mutable quint64 m_matchesGeneration = 0;
    mutable bool m_matchesValid = false;
};

} // namespace mirvo
