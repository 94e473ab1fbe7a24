#pragma once

#include "CatalogListModel.h"
#include "Models.h"
#include "SearchProxyModel.h"
#include "TaskHandle.h"
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

    // Replaces the catalog; the selection keeps only the IDs still in it. Store data for the new entries is
    // looked up in the background; a catalog replaced meanwhile never receives the old result.
    void updateCatalog(const QList<CatalogApp>& apps);
    const TaskHandle& metadataTask() const { return m_metadataTask; }
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
    Q_INVOKABLE void clearSelection();
    bool allFilteredAppsSelected() const;

    QString appCountLabel() const;
    QString updateLabel() const;
    QString selectedAppsLabel() const;
    QString batchInstallButtonTitle() const;
    QString batchDownloadButtonTitle() const;

    // The network list first, the saved copy only when it fails. Never throws.
    QCoro::Task<> refreshCatalog();
    // The published popular apps, or the ones shipped with the application. Never throws.
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
    QStringList catalogIDs() const;
    QCoro::Task<> enrich(QList<CatalogApp> apps, std::stop_token stop);
    // The saved copy in place of a list the network did not give; an empty catalog when there is none.
    void fallBackToSavedCatalog();

    AppModel& m_root;
    CatalogListModel m_apps{this};
    SearchProxyModel m_filteredApps{&m_apps, this};
    TopAppsListModel m_topApps{this};
    SearchProxyModel m_filteredTopApps{&m_topApps, this};
    bool m_loading = false;
    QDateTime m_updatedAt;
    bool m_topAppsLoading = false;
    TaskHandle m_metadataTask;
};

} // namespace mirvo
