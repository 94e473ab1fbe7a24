#pragma once

#include <QAbstractListModel>

namespace mirvo {

// A list model whose rows a SearchProxyModel can match against a folded search query.
class SearchableListModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    // `normalizedQuery` is already trimmed and folded, and never empty.
    virtual bool rowMatches(int row, const QString& normalizedQuery) const = 0;
};

} // namespace mirvo
