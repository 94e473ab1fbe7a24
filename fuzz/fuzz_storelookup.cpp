// Feeds any bytes to the reader of the App Store lookup answer, and what it found to the search of apps the
// store does not offer.
#include "AppStoreMetadata.h"
#include "FuzzInput.h"
#include "MirvoError.h"
#include "SystemError.h"

#include <QSet>

using namespace mirvo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        const QList<StoreApp> found = AppStoreMetadata::decode(fuzz::bytes(data, size));
        QSet<QString> ids;
        QList<CatalogApp> apps;
        for (const StoreApp& app : found) {
            ids.insert(app.id);
            apps.append(CatalogApp(app.id, app.name, app.category.value_or(QString()), QString(), 0,
                                   app.artworkURL, app.bundleIdentifier, app.version));
        }
        AppStoreMetadata::confirmedUnavailable(apps, ids, {});
    } catch (const MirvoError&) {
    } catch (const SystemError&) {
    }
    return 0;
}
