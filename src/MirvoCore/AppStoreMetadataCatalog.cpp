#include "AppStoreMetadata.h"

#include "CancelledError.h"
#include "RemovedRussianApps.h"

namespace mirvo {

QCoro::Task<QList<CatalogApp>> AppStoreMetadata::removedRussianCatalog(QString country,
                                                                       std::stop_token stop) const
{
    // Copied before the first suspension: nothing below touches this object.
    const std::shared_ptr<HttpClient> http = m_http;

    QList<CatalogApp> apps;
    try {
        const CatalogDownload download = co_await RemovedRussianApps::downloadCatalog(http, stop);
        apps = RemovedRussianApps::parseCatalog(download.data);
    } catch (const CancelledError&) {
        throw;
    } catch (const std::exception&) {
        co_return {};
    }

    QStringList ids;
    ids.reserve(apps.size());
    for (const CatalogApp& app : std::as_const(apps))
        ids.append(app.id());
    const AppStoreMetadata metadata(http);
    const std::optional<QList<StoreApp>> offered = co_await metadata.lookup(ids, country, stop);
    if (!offered)
        co_return apps;

    QSet<QString> offeredIDs;
    for (const StoreApp& app : *offered)
        offeredIDs.insert(app.id);
    QList<CatalogApp> unavailable;
    for (const CatalogApp& app : std::as_const(apps)) {
        if (!offeredIDs.contains(app.id()))
            unavailable.append(app);
    }
    co_return unavailable;
}

} // namespace mirvo
