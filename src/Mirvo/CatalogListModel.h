#pragma once

#include "Models.h"
#include "SearchableListModel.h"

#include <QList>
#include <QSet>
#include <QtQml/qqmlregistration.h>

namespace mirvo {

// The catalog of removed apps as rows, with each row's selection and whether its operation runs.
class CatalogListModel : public SearchableListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Owned by the catalog")

public:
    enum Role {
        IdRole = Qt::UserRole + 1,
        NameRole,
        CategoryRole, // trimmed; "Без категории" when empty
        IconURLRole,
        SelectedRole,
        RunningRole,
        IconSourceRole, // the icon's image source for QML; empty without an artwork address
    };
    Q_ENUM(Role)

    using SearchableListModel::SearchableListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    bool rowMatches(int row, const QString& normalizedQuery) const override;

    // The same IDs in the same order only update the rows (an enrichment); anything else replaces them.
    void setApps(const QList<CatalogApp>& apps);

    // The whole catalog, in the order of the list it came from.
    const QList<CatalogApp>& catalogApps() const { return m_apps; }
    const QSet<QString>& selectedIDs() const { return m_selectedIDs; }
    void setSelectedIDs(const QSet<QString>& ids);

    // The catalog ID whose operation is running, empty for none.
    void setRunningID(const QString& id);

Q_SIGNALS:
    void selectedIDsChanged();

private:
    void emitRowsChanged(const QSet<QString>& ids, int role);

    QList<CatalogApp> m_apps;
    QSet<QString> m_selectedIDs;
    QString m_runningID;
};

} // namespace mirvo
