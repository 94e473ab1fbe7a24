#pragma once

#include "Endpoints.h"
#include "HttpClient.h"
#include "Models.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>
#include <stop_token>

namespace mirvo {

// One app as the App Store lookup service describes it.
struct StoreApp {
    QString id;
    QString name;
    std::optional<QString> category;
    std::optional<QUrl> artworkURL;
    std::optional<QString> bundleIdentifier;
    std::optional<QString> version;

    bool operator==(const StoreApp&) const = default;
};

// Completes catalog entries with what the App Store lookup service knows about their IDs. Never throws
// (except CancelledError when stopped): a failed request only yields less metadata.
class AppStoreMetadata {
public:
    static constexpr int batchSize = 200;

    explicit AppStoreMetadata(std::shared_ptr<HttpClient> http);

    // `apps` with store data merged in, same length and order. The IDs `country` leaves out are looked up
    // once more in each of `fallbackCountries`, in turn; apps the first storefront answered keep its data.
    QCoro::Task<QList<CatalogApp>>
    enrich(QList<CatalogApp> apps, QString country,
           QStringList fallbackCountries = Endpoints::current().lookupFallbackCountries,
           std::stop_token stop = {}) const;
    // The removed apps the store of `country` does not offer; the whole list when the store cannot be asked.
    QCoro::Task<QList<CatalogApp>> removedRussianCatalog(QString country, std::stop_token stop = {}) const;
    // One request for all `ids`; none when the service could not be asked.
    QCoro::Task<std::optional<QList<StoreApp>>> lookup(QStringList ids, QString country,
                                                       std::stop_token stop = {}) const;

    // The App Store ID of the app with `bundleID` in the first of `countries` whose storefront knows it;
    // none when none does or the service cannot be asked.
    QCoro::Task<std::optional<QString>> storeIDForBundleID(QString bundleID, QStringList countries,
                                                           std::stop_token stop = {}) const;

    static QList<StoreApp> decode(const QByteArray& data);
    static QList<CatalogApp> confirmedUnavailable(const QList<CatalogApp>& apps,
                                                  const QSet<QString>& verifiedIDs,
                                                  const QSet<QString>& availableIDs);
    static std::optional<QUrl> lookupURL(const QStringList& ids, const QString& country);

private:
    std::shared_ptr<HttpClient> m_http;
};

} // namespace mirvo
