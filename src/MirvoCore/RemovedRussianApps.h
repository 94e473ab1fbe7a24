#pragma once

#include "HttpClient.h"
#include "Models.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QUrl>

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>
#include <stop_token>

namespace mirvo {

// The removed-apps list exactly as received, with the date its file last changed.
struct CatalogDownload {
    QByteArray data;
    std::optional<QDateTime> updatedAt;
};

// Fetches and reads the two public lists the catalog rests on: the removed-apps list and the popular apps.
// Stateless; every failure it raises itself is a MirvoError with a Russian text.
class RemovedRussianApps {
public:
    RemovedRussianApps() = delete;

    static constexpr qint64 maximumBodyBytes = 1'000'000;
    static constexpr int maximumApps = 5000;

    static QUrl remoteCatalogURL();
    static QUrl topAppsURL();

    // Transport failures and stops are thrown unchanged; the change date is absent when it could not be had.
    static QCoro::Task<CatalogDownload> downloadCatalog(std::shared_ptr<HttpClient> http,
                                                        std::stop_token stop = {});
    static QList<CatalogApp> parseCatalog(const QByteArray& data);
    static QCoro::Task<QList<TopApp>> downloadTopApps(std::shared_ptr<HttpClient> http,
                                                      std::stop_token stop = {});
    static QList<TopApp> parseTopApps(const QByteArray& data);
    // The popular apps shipped with the application, for when the published list cannot be had.
    static QList<TopApp> bundledTopApps();
};

} // namespace mirvo
