#include "AppModel.h"

namespace mirvo {

QCoro::Task<> AppModel::refreshTopApps()
{
    // The popular-apps list arrives with the catalog sources.
    co_return;
}

QCoro::Task<> AppModel::refreshCatalog()
{
    // The removed-apps list arrives with the catalog sources.
    co_return;
}

void AppModel::updateFilteredApps()
{
    const QString query = CatalogApp::normalizedSearchText(m_search);
    if (query.isEmpty()) {
        setFilteredApps(m_catalogApps);
        return;
    }
    QList<CatalogApp> filtered;
    for (const CatalogApp& app : std::as_const(m_catalogApps)) {
        if (app.matchesNormalizedSearch(query))
            filtered.append(app);
    }
    setFilteredApps(filtered);
}

void AppModel::updateFilteredTopApps()
{
    QList<TopApp> filtered;
    for (const TopApp& app : std::as_const(m_topApps)) {
        if (app.matches(m_topSearch))
            filtered.append(app);
    }
    setFilteredTopApps(filtered);
}

} // namespace mirvo
