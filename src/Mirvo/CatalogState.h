#pragma once

#include "CatalogListModel.h"
#include "Models.h"
#include "SearchProxyModel.h"
#include "TopAppsListModel.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QtQml/qqmlregistration.h>

#include <QCoro/QCoroTask>

namespace mirvo {

class AppModel;

// The catalog of removed apps and the popular apps: both lists, their searches, the selection for batch
// operations and the labels the catalog page shows.
class CatalogState : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reached through AppModel.catalog")

    Q_PROPERTY(mirvo::CatalogListModel* apps READ apps CONSTANT)
    Q_PROPERTY(mirvo::SearchProxyModel* filteredApps READ filteredApps CONSTANT)
    Q_PROPERTY(mirvo::TopAppsListModel* topApps READ topApps CONSTANT)
    Q_PROPERTY(mirvo::SearchProxyModel* filteredTopApps READ filteredTopApps CONSTANT)
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(QString topSearch READ topSearch WRITE setTopSearch NOTIFY topSearchChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(QDateTime updatedAt READ updatedAt NOTIFY updatedAtChanged)
    Q_PROPERTY(bool topAppsLoading READ topAppsLoading NOTIFY topAppsLoadingChanged)
    Q_PROPERTY(int selectedCount READ selectedCount NOTIFY selectionChanged)
    Q_PROPERTY(bool allFilteredAppsSelected READ allFilteredAppsSelected NOTIFY selectionChanged)
    Q_PROPERTY(QString appCountLabel READ appCountLabel NOTIFY appCountLabelChanged)
    Q_PROPERTY(QString updateLabel READ updateLabel NOTIFY updatedAtChanged)
    Q_PROPERTY(QString selectedAppsLabel READ selectedAppsLabel NOTIFY selectionChanged)
    Q_PROPERTY(QString batchInstallButtonTitle READ batchInstallButtonTitle NOTIFY selectionChanged)
    Q_PROPERTY(QString batchDownloadButtonTitle READ batchDownloadButtonTitle NOTIFY selectionChanged)

public:
    explicit CatalogState(AppModel& root);

    CatalogListModel* apps() { return &m_apps; }
    SearchProxyModel* filteredApps() { return &m_filteredApps; }
    TopAppsListModel* topApps() { return &m_topApps; }
    SearchProxyModel* filteredTopApps() { return &m_filteredTopApps; }

    // Replaces the catalog; the selection keeps only the IDs still in it.
    void updateCatalog(const QList<CatalogApp>& apps);
    void setTopApps(const QList<TopApp>& apps);

    const QString& search() const { return m_filteredApps.search(); }
    void setSearch(const QString& search);
    const QString& topSearch() const { return m_filteredTopApps.search(); }
    void setTopSearch(const QString& search);

    bool loading() const { return m_loading; }
    void setLoading(bool loading);
    const QDateTime& updatedAt() const { return m_updatedAt; }
    void setUpdatedAt(const QDateTime& updatedAt);
    bool topAppsLoading() const { return m_topAppsLoading; }
    void setTopAppsLoading(bool loading);

    const QSet<QString>& selectedAppIDs() const { return m_apps.selectedIDs(); }
    void setSelectedAppIDs(const QSet<QString>& ids);
    int selectedCount() const { return int(m_apps.selectedIDs().size()); }
    // Both toggles stand back while an operation runs.
    Q_INVOKABLE void toggleSelection(const QString& id);
    Q_INVOKABLE void toggleFilteredSelection();
    bool allFilteredAppsSelected() const;

    QString appCountLabel() const;
    QString updateLabel() const;
    QString selectedAppsLabel() const;
    QString batchInstallButtonTitle() const;
    QString batchDownloadButtonTitle() const;

    QCoro::Task<> refreshCatalog();
    QCoro::Task<> refreshTopApps();

Q_SIGNALS:
    void searchChanged();
    void topSearchChanged();
    void loadingChanged();
    void updatedAtChanged();
    void topAppsLoadingChanged();
    void selectionChanged();
    void appCountLabelChanged();

private:
    QSet<QString> filteredIDs() const;

    AppModel& m_root;
    CatalogListModel m_apps{this};
    SearchProxyModel m_filteredApps{&m_apps, this};
    TopAppsListModel m_topApps{this};
    SearchProxyModel m_filteredTopApps{&m_topApps, this};
    bool m_loading = false;
    QDateTime m_updatedAt;
    bool m_topAppsLoading = false;
};

} // namespace mirvo
