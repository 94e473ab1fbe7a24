#pragma once

#include "Models.h"
#include "SearchableListModel.h"

#include <QList>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// The short list of popular apps as rows.
class TopAppsListModel : public SearchableListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the catalog")

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        NameRole,
        CategoryRole, // trimmed; "Без категории" when empty
        IconURLRole,
        IconSourceRole, // the icon's image source for QML; empty without a favicon address
    };
    Q_ENUM(Role)

    using SearchableListModel::SearchableListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    bool rowMatches(int row, const QString& normalizedQuery) const override;

    void setApps(const QList<TopApp>& apps);
    const QList<TopApp>& topApps() const { return m_apps; }

private:
    QList<TopApp> m_apps;
};

} // namespace mirvo
