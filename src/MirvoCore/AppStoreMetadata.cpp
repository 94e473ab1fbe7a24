#include "AppStoreMetadata.h"

#include "CancelledError.h"
#include "Endpoints.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

// Thrown inside decode() for a member of the wrong type: the whole response is then unusable.
struct Undecodable {};

std::optional<QString> optionalText(const QJsonObject& item, QLatin1StringView name)
{
    const QJsonValue value = item.value(name);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isString())
        throw Undecodable();
    return value.toString();
}

std::optional<QUrl> optionalURL(const QJsonObject& item, QLatin1StringView name)
{
    const std::optional<QString> text = optionalText(item, name);
    if (!text)
        return std::nullopt;
    QUrl url(*text, QUrl::StrictMode);
    if (text->isEmpty() || !url.isValid())
        throw Undecodable();
    return url;
}

// Only integral numbers within 64 bits: 1.0 is an ID, 1.5 and 1e19 are not.
std::optional<qint64> optionalInteger(const QJsonObject& item, QLatin1StringView name)
{
    const QJsonValue value = item.value(name);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    if (!value.isDouble())
        throw Undecodable();
    const qint64 low = value.toInteger(std::numeric_limits<qint64>::min());
    const qint64 high = value.toInteger(std::numeric_limits<qint64>::max());
    if (low != high)
        throw Undecodable();
    return low;
}

StoreApp storeApp(const QJsonObject& item, qint64 trackID)
{
    StoreApp app;
    app.id = QString::number(trackID);
    app.name = optionalText(item, "trackName"_L1).value_or(QString());
    app.category = optionalText(item, "primaryGenreName"_L1);
    // Both members are read, so that an ill-formed one fails the response even when the other is there.
    const std::optional<QUrl> large = optionalURL(item, "artworkUrl512"_L1);
    const std::optional<QUrl> small = optionalURL(item, "artworkUrl100"_L1);
    app.artworkURL = large ? large : small;
    app.bundleIdentifier = optionalText(item, "bundleId"_L1);
    app.version = optionalText(item, "version"_L1);
    return app;
}

CatalogApp merged(const CatalogApp& app, const StoreApp& store)
{
    return CatalogApp(app.id(), store.name.isEmpty() ? app.name() : store.name,
                      store.category.value_or(app.category()), app.mark(), app.color(), store.artworkURL,
                      store.bundleIdentifier ? store.bundleIdentifier : app.bundleIdentifier(),
                      store.version ? store.version : app.version());
}

QString queryValue(const QString& value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value, ","));
}

// The lookup service's address with `query` (already encoded), or nothing when it makes no valid URL.
std::optional<QUrl> serviceURL(const QString& query)
{
    QUrl url = Endpoints::current().appStoreLookup;
    if (!url.isValid())
        return std::nullopt;
    // A mirror may serve the service below a path of its own.
    QString path = url.path();
    while (path.endsWith(u'/'))
        path.chop(1);
    url.setPath(path + u"/lookup"_s);
    url.setQuery(query, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

// Absent when the service could not be asked or did not answer with success. A stop is thrown.
QCoro::Task<std::optional<QList<StoreApp>>> fetch(std::shared_ptr<HttpClient> http, std::optional<QUrl> url,
                                                  std::stop_token stop)
{
    if (stop.stop_requested())
        throw CancelledError();
    if (!url)
        co_return std::nullopt;
    HttpRequest httpRequest{.url = *url, .timeout = 60};
    HttpResponse response;
    try {
        response = co_await http->get(std::move(httpRequest), stop);
    } catch (const CancelledError&) {
        throw;
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
    if (!response.isSuccess() || response.bodyTooLarge)
        co_return std::nullopt;
    co_return AppStoreMetadata::decode(response.body);
}

QCoro::Task<std::optional<QList<StoreApp>>> request(std::shared_ptr<HttpClient> http, QStringList ids,
                                                    QString country, std::stop_token stop)
{
    return fetch(std::move(http), AppStoreMetadata::lookupURL(ids, country), std::move(stop));
}

// Asks `country` about `ids` in batches, one after another. A later result for an ID replaces an earlier one.
QCoro::Task<QHash<QString, StoreApp>> requestInBatches(std::shared_ptr<HttpClient> http, QStringList ids,
                                                       QString country, std::stop_token stop)
{
    QHash<QString, StoreApp> found;
    for (qsizetype start = 0; start < ids.size(); start += AppStoreMetadata::batchSize) {
        const QStringList batch = ids.mid(start, AppStoreMetadata::batchSize);
        const std::optional<QList<StoreApp>> results = co_await request(http, batch, country, stop);
        if (!results)
            continue;
        for (const StoreApp& result : *results)
            found.insert(result.id, result);
    }
    co_return found;
}

} // namespace

AppStoreMetadata::AppStoreMetadata(std::shared_ptr<HttpClient> http)
    : m_http(std::move(http))
{
}

std::optional<QUrl> AppStoreMetadata::lookupURL(const QStringList& ids, const QString& country)
{
    return serviceURL(u"id="_s + queryValue(ids.join(u',')) + u"&country="_s + queryValue(country) +
                      u"&entity=software"_s);
}

QList<StoreApp> AppStoreMetadata::decode(const QByteArray& data)
{
    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (!document.isObject())
        return {};
    const QJsonValue results = document.object().value("results"_L1);
    if (!results.isArray())
        return {};

    QList<StoreApp> apps;
    try {
        for (const QJsonValue& value : results.toArray()) {
            if (!value.isObject())
                throw Undecodable();
            const QJsonObject item = value.toObject();
            const std::optional<qint64> trackID = optionalInteger(item, "trackId"_L1);
            // Every member is checked before an item is skipped: a malformed one still spoils the response.
            StoreApp app = storeApp(item, trackID.value_or(0));
            if (trackID.value_or(0) != 0)
                apps.append(std::move(app));
        }
    } catch (const Undecodable&) {
        return {};
    }
    return apps;
}

QCoro::Task<QList<CatalogApp>> AppStoreMetadata::enrich(QList<CatalogApp> apps, QString country,
                                                        QStringList fallbackCountries,
                                                        std::stop_token stop) const
{
    if (apps.isEmpty())
        co_return apps;
    // Copied before the first suspension: nothing below touches this object.
    const std::shared_ptr<HttpClient> http = m_http;

    QStringList ids;
    ids.reserve(apps.size());
    for (const CatalogApp& app : std::as_const(apps))
        ids.append(app.id());

    QHash<QString, StoreApp> found = co_await requestInBatches(http, ids, country, stop);
    for (const QString& fallback : std::as_const(fallbackCountries)) {
        QStringList missing;
        for (const QString& id : std::as_const(ids)) {
            if (!found.contains(id))
                missing.append(id);
        }
        if (missing.isEmpty())
            break;
        const QHash<QString, StoreApp> more = co_await requestInBatches(http, missing, fallback, stop);
        for (auto it = more.cbegin(); it != more.cend(); ++it) {
            if (!found.contains(it.key()))
                found.insert(it.key(), it.value());
        }
    }

    QList<CatalogApp> result;
    result.reserve(apps.size());
    for (const CatalogApp& app : std::as_const(apps)) {
        const auto entry = found.constFind(app.id());
        result.append(entry == found.cend() ? app : merged(app, *entry));
    }
    co_return result;
}

QCoro::Task<std::optional<QList<StoreApp>>> AppStoreMetadata::lookup(QStringList ids, QString country,
                                                                     std::stop_token stop) const
{
    return request(m_http, std::move(ids), std::move(country), std::move(stop));
}

QCoro::Task<std::optional<QString>>
AppStoreMetadata::storeIDForBundleID(QString bundleID, QStringList countries, std::stop_token stop) const
{
    if (bundleID.isEmpty())
        co_return std::nullopt;
    const std::shared_ptr<HttpClient> http = m_http;
    for (const QString& country : std::as_const(countries)) {
        const std::optional<QUrl> url = serviceURL(u"bundleId="_s + queryValue(bundleID) + u"&country="_s +
                                                   queryValue(country) + u"&entity=software"_s);
        const std::optional<QList<StoreApp>> found = co_await fetch(http, url, stop);
        if (found && !found->isEmpty())
            co_return found->constFirst().id;
    }
    co_return std::nullopt;
}

QList<CatalogApp> AppStoreMetadata::confirmedUnavailable(const QList<CatalogApp>& apps,
                                                         const QSet<QString>& verifiedIDs,
                                                         const QSet<QString>& availableIDs)
{
    QList<CatalogApp> unavailable;
    for (const CatalogApp& app : apps) {
        if (verifiedIDs.contains(app.id()) && !availableIDs.contains(app.id()))
            unavailable.append(app);
    }
    return unavailable;
}

} // namespace mirvo
