#include "RemovedRussianApps.h"

#include "Endpoints.h"
#include "MirvoError.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QStringDecoder>
#include <QTextBoundaryFinder>
#include <QUuid>

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

constexpr double catalogTimeout = 15;
constexpr double revisionTimeout = 10;
constexpr double topAppsTimeout = 15;
// One commit of the GitHub answer takes a few kilobytes; anything far larger is not the answer we want.
constexpr qint64 maximumRevisionBytes = 256 * 1024;
constexpr int minimumIDLength = 6;
constexpr int maximumIDLength = 20;

// Code points outside the Unicode number categories that still carry a numeric value: CJK ideographs used
// as numerals (一, 二, 萬, 零 …) and their compatibility forms.
constexpr std::array<char32_t, 81> numericIdeographs{
    0x3405,  0x3483,  0x382A,  0x3B4D,  0x4E00,  0x4E03,  0x4E07,  0x4E09,  0x4E5D,  0x4E8C,  0x4E94,
    0x4E96,  0x4EBF,  0x4EC0,  0x4EDF,  0x4EE8,  0x4F0D,  0x4F70,  0x5104,  0x5146,  0x5169,  0x516B,
    0x516D,  0x5341,  0x5343,  0x5344,  0x5345,  0x534C,  0x53C1,  0x53C2,  0x53C3,  0x53C4,  0x56DB,
    0x58F1,  0x58F9,  0x5E7A,  0x5EFE,  0x5EFF,  0x5F0C,  0x5F0D,  0x5F0E,  0x5F10,  0x62FE,  0x634C,
    0x67D2,  0x6F06,  0x7396,  0x767E,  0x8086,  0x842C,  0x8CAE,  0x8CB3,  0x8D30,  0x9621,  0x9646,
    0x964C,  0x9678,  0x96F6,  0xF96B,  0xF973,  0xF978,  0xF9B2,  0xF9D1,  0xF9D3,  0xF9FD,  0x20001,
    0x20064, 0x200E2, 0x20121, 0x2092A, 0x20983, 0x2098C, 0x2099C, 0x20AEA, 0x20AFD, 0x20B19, 0x22390,
    0x22998, 0x23B1B, 0x2626D, 0x2F890};
static_assert(std::is_sorted(numericIdeographs.begin(), numericIdeographs.end()));

QString catalogDownloadFailed()
{
    return u"Не удалось получить обновлённый каталог приложений."_s;
}

QString topAppsUnreadable()
{
    return u"Не удалось прочитать список популярных приложений."_s;
}

QUrl withPath(QUrl base, const QString& path)
{
    QString prefix = base.path();
    while (prefix.endsWith(u'/'))
        prefix.chop(1);
    base.setPath(prefix + path);
    return base;
}

QUrl rawContentURL(const QString& repository, const QString& branch, const QString& path)
{
    return withPath(Endpoints::current().gitHubRawContent,
                    u'/' + repository + u"/refs/heads/"_s + branch + u'/' + path);
}

QUrl remoteCatalogRevisionURL()
{
    const Endpoints& endpoints = Endpoints::current();
    QUrl url = withPath(endpoints.gitHubApi, u"/repos/"_s + endpoints.removedAppsRepository + u"/commits"_s);
    url.setQuery(u"path="_s + QString::fromLatin1(QUrl::toPercentEncoding(endpoints.removedAppsPath)) +
                     u"&per_page=1"_s,
                 QUrl::StrictMode);
    return url;
}

bool isLineBreak(char16_t unit)
{
    return unit == u'\n' || unit == u'\v' || unit == u'\f' || unit == u'\r' || unit == 0x0085 ||
           unit == 0x2028 || unit == 0x2029;
}

bool isNumeric(char32_t codePoint)
{
    return QChar::isNumber(codePoint) ||
           std::binary_search(numericIdeographs.begin(), numericIdeographs.end(), codePoint);
}

bool isAsciiDigits(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar unit) { return unit >= u'0' && unit <= u'9'; });
}

// An ID counts and is checked by the characters a reader sees: a digit with a combining mark is one
// character, numeric when its first code point is.
bool isCatalogID(QStringView id)
{
    if (id.size() < minimumIDLength)
        return false;
    if (isAsciiDigits(id))
        return id.size() <= maximumIDLength;
    const QString text = id.toString();
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    qsizetype start = 0;
    while (start < text.size()) {
        if (++count > maximumIDLength)
            return false;
        char32_t first = text.at(start).unicode();
        if (QChar::isHighSurrogate(first) && start + 1 < text.size() && text.at(start + 1).isLowSurrogate())
            first = QChar::surrogateToUcs4(text.at(start), text.at(start + 1));
        if (!isNumeric(first))
            return false;
        graphemes.setPosition(start);
        start = graphemes.toNextBoundary();
        if (start < 0)
            break;
    }
    return count >= minimumIDLength;
}

// The standard reading of an unsigned 64-bit decimal integer: at most one leading sign, then digits only.
bool readsAsUnsigned64(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return false;
    constexpr quint64 maximum = std::numeric_limits<quint64>::max();
    quint64 value = 0;
    for (const QChar unit : text) {
        if (unit < u'0' || unit > u'9')
            return false;
        const quint64 digit = unit.unicode() - u'0';
        if (value > (maximum - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return !negative || value == 0;
}

bool isDomain(QStringView domain)
{
    return !domain.isEmpty() && std::all_of(domain.begin(), domain.end(), [](QChar unit) {
        return (unit >= u'a' && unit <= u'z') || (unit >= u'0' && unit <= u'9') || unit == u'.' ||
               unit == u'-';
    });
}

// RFC 3339 as GitHub writes it: 2025-03-01T09:30:00Z or with a numeric offset, never with fractions.
std::optional<QDateTime> internetDateTime(const QString& text)
{
    const auto digitsAt = [&text](std::initializer_list<qsizetype> positions) {
        return std::all_of(positions.begin(), positions.end(), [&text](qsizetype position) {
            return text.at(position) >= u'0' && text.at(position) <= u'9';
        });
    };
    if (text.size() != 20 && text.size() != 25)
        return std::nullopt;
    if (!digitsAt({0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18}) || text.at(4) != u'-' ||
        text.at(7) != u'-' || text.at(10) != u'T' || text.at(13) != u':' || text.at(16) != u':')
        return std::nullopt;
    if (text.size() == 20 && text.at(19) != u'Z')
        return std::nullopt;
    if (text.size() == 25 &&
        ((text.at(19) != u'+' && text.at(19) != u'-') || !digitsAt({20, 21, 23, 24}) || text.at(22) != u':'))
        return std::nullopt;
    // Qt reads 24:00:00 as the next midnight; an internet date-time has no such hour.
    if (QStringView(text).mid(11, 2) == u"24")
        return std::nullopt;
    const QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

std::optional<QDateTime> commitDate(const QByteArray& body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray commits = document.array();
    if (commits.isEmpty() || !commits.first().isObject())
        return std::nullopt;
    const QJsonValue commit = commits.first().toObject().value(u"commit"_s);
    if (!commit.isObject())
        return std::nullopt;
    const QJsonValue committer = commit.toObject().value(u"committer"_s);
    if (!committer.isObject())
        return std::nullopt;
    const QJsonValue date = committer.toObject().value(u"date"_s);
    if (!date.isString())
        return std::nullopt;
    return internetDateTime(date.toString());
}

// Any failure, a stop included, only means that the date is not known.
QCoro::Task<std::optional<QDateTime>> downloadCatalogUpdateDate(std::shared_ptr<HttpClient> http,
                                                                std::stop_token stop)
{
    HttpRequest request{.url = remoteCatalogRevisionURL(),
                        .timeout = revisionTimeout,
                        .headers = {{"User-Agent", "Mirvo"}, {"Accept", "application/vnd.github+json"}},
                        .cachePolicy = HttpRequest::CachePolicy::ReloadIgnoringCache,
                        .maxBodyBytes = maximumRevisionBytes};
    std::optional<QDateTime> date;
    try {
        const HttpResponse response = co_await http->get(std::move(request), std::move(stop));
        if (response.isSuccess() && !response.bodyTooLarge)
            date = commitDate(response.body);
    } catch (...) {
        date = std::nullopt;
    }
    co_return date;
}

struct TopAppRecord {
    QString id;
    QString name;
    QString domain;
    QString category;
};

std::optional<QString> decodeID(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (!value.isDouble())
        return std::nullopt;
    // Qt keeps integers that fit a qint64 exactly; larger ones only as doubles.
    const qint64 whole = value.toInteger(-1);
    if (whole >= 0)
        return QString::number(whole);
    const double number = value.toDouble();
    constexpr double twoTo63 = 9223372036854775808.0;
    constexpr double twoTo64 = 18446744073709551616.0;
    if (number >= twoTo63 && number < twoTo64 && std::floor(number) == number)
        return QString::number(quint64(number));
    return std::nullopt;
}

std::optional<TopAppRecord> decodeRecord(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const std::optional<QString> id = decodeID(object.value(u"id"_s));
    const QJsonValue name = object.value(u"name"_s);
    const QJsonValue domain = object.value(u"domain"_s);
    if (!id || !name.isString() || !domain.isString())
        return std::nullopt;
    const QJsonValue category = object.value(u"category"_s);
    return TopAppRecord{*id, name.toString(), domain.toString(),
                        category.isString() ? category.toString() : QString()};
}

// All or nothing: one record that does not decode fails the whole body.
std::optional<QList<TopAppRecord>> decodeRecords(const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    if (document.isArray()) {
        const QJsonArray array = document.array();
        QList<TopAppRecord> records;
        records.reserve(array.size());
        for (const QJsonValue& value : array) {
            std::optional<TopAppRecord> record = decodeRecord(value);
            if (!record)
                return std::nullopt;
            records.append(std::move(*record));
        }
        return records;
    }
    if (document.isObject()) {
        if (std::optional<TopAppRecord> record = decodeRecord(document.object()))
            return QList<TopAppRecord>{std::move(*record)};
    }
    return std::nullopt;
}

} // namespace

QUrl RemovedRussianApps::remoteCatalogURL()
{
    const Endpoints& endpoints = Endpoints::current();
    return rawContentURL(endpoints.removedAppsRepository, endpoints.removedAppsBranch,
                         endpoints.removedAppsPath);
}

QUrl RemovedRussianApps::topAppsURL()
{
    const Endpoints& endpoints = Endpoints::current();
    return rawContentURL(endpoints.topAppsRepository, endpoints.topAppsBranch, endpoints.topAppsPath);
}

QCoro::Task<CatalogDownload> RemovedRussianApps::downloadCatalog(std::shared_ptr<HttpClient> http,
                                                                 std::stop_token stop)
{
    // The date request is a child of this call: stopping the caller stops it too, and it never outlives
    // the call. Chaining the sources is safe from any thread; the client posts its own reaction.
    std::stop_source childStop;
    const std::stop_callback chained(stop, [&childStop] { childStop.request_stop(); });
    QCoro::Task<std::optional<QDateTime>> date = downloadCatalogUpdateDate(http, childStop.get_token());

    HttpRequest request{.url = remoteCatalogURL(),
                        .timeout = catalogTimeout,
                        .headers = {},
                        .cachePolicy = HttpRequest::CachePolicy::ReloadIgnoringCache,
                        .maxBodyBytes = maximumBodyBytes};
    HttpResponse response;
    std::exception_ptr failure;
    try {
        response = co_await http->get(std::move(request), stop);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure && !response.isSuccess())
        failure = std::make_exception_ptr(MirvoError::message(catalogDownloadFailed()));
    if (!failure && (response.bodyTooLarge || response.body.size() > maximumBodyBytes))
        failure = std::make_exception_ptr(MirvoError::message(u"Файл каталога слишком большой."_s));
    if (failure) {
        childStop.request_stop();
        co_await std::move(date);
        std::rethrow_exception(failure);
    }

    std::optional<QDateTime> updatedAt = co_await std::move(date);
    co_return CatalogDownload{std::move(response.body), std::move(updatedAt)};
}

QList<CatalogApp> RemovedRussianApps::parseCatalog(const QByteArray& data)
{
    // Stateless, so that a sequence cut off at the end counts as an error rather than waiting for more.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(data);
    if (decoder.hasError())
        throw MirvoError::message(u"Не удалось прочитать каталог приложений."_s);

    // A line takes some 40 bytes; sizing for that spares the set its rehashing.
    const qsizetype expectedApps = std::min<qsizetype>(maximumApps, data.size() / 32 + 1);
    QList<CatalogApp> apps;
    apps.reserve(expectedApps);
    QSet<QString> takenIDs;
    takenIDs.reserve(expectedApps);
    const qsizetype length = text.size();
    qsizetype lineStart = 0;
    while (lineStart < length && apps.size() < maximumApps) {
        qsizetype lineEnd = lineStart;
        while (lineEnd < length && !isLineBreak(text.at(lineEnd).unicode()))
            ++lineEnd;
        const QStringView line = QStringView(text).mid(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;

        const qsizetype colon = line.lastIndexOf(u':');
        if (colon < 0)
            continue;
        const QStringView name = line.left(colon).trimmed();
        const QStringView id = line.mid(colon + 1).trimmed();
        if (name.isEmpty() || !isCatalogID(id))
            continue;
        // Texts that differ only in how their characters are composed are the same ID.
        const QString idText = id.toString();
        const QString key = isAsciiDigits(id) ? idText : idText.normalized(QString::NormalizationForm_C);
        if (takenIDs.contains(key))
            continue;
        takenIDs.insert(key);
        apps.append(CatalogApp(idText, name.toString(), QString(), QString(), 0, std::nullopt, std::nullopt,
                               std::nullopt));
    }
    if (apps.isEmpty())
        throw MirvoError::message(u"Каталог не содержит корректных приложений."_s);
    return apps;
}

QCoro::Task<QList<TopApp>> RemovedRussianApps::downloadTopApps(std::shared_ptr<HttpClient> http,
                                                               std::stop_token stop)
{
    // A fresh value on every call gets past any cache between us and the file.
    const QUrl base = topAppsURL();
    QUrl url = base;
    const QString existing = base.query(QUrl::FullyEncoded);
    const QString cacheBust = u"_cacheBust="_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    url.setQuery(existing.isEmpty() ? cacheBust : existing + u'&' + cacheBust, QUrl::StrictMode);
    if (!url.isValid())
        url = base;

    HttpRequest request{
        .url = url,
        .timeout = topAppsTimeout,
        .headers = {{"Cache-Control", "no-cache, no-store, max-age=0"}, {"Pragma", "no-cache"}},
        .cachePolicy = HttpRequest::CachePolicy::ReloadIgnoringCache,
        .maxBodyBytes = maximumBodyBytes};
    const HttpResponse response = co_await http->get(std::move(request), std::move(stop));
    if (!response.isSuccess())
        throw MirvoError::message(u"Не удалось получить список популярных приложений."_s);
    if (response.bodyTooLarge || response.body.size() > maximumBodyBytes)
        throw MirvoError::message(u"Список популярных приложений слишком большой."_s);
    co_return parseTopApps(response.body);
}

QList<TopApp> RemovedRussianApps::parseTopApps(const QByteArray& data)
{
    const std::optional<QList<TopAppRecord>> records = decodeRecords(data);
    if (!records)
        throw MirvoError::message(topAppsUnreadable());

    QList<TopApp> apps;
    QSet<QString> takenIDs;
    for (const TopAppRecord& record : *records) {
        const QString id = record.id.trimmed();
        const QString name = record.name.trimmed();
        const QString domain = record.domain.trimmed().toLower();
        if (id.isEmpty() || !readsAsUnsigned64(id) || name.isEmpty() || !isDomain(domain) ||
            takenIDs.contains(id))
            continue;
        takenIDs.insert(id);
        apps.append(TopApp{id, name, domain, record.category.trimmed()});
    }
    if (apps.isEmpty())
        throw MirvoError::message(u"Список популярных приложений не содержит корректных данных."_s);
    return apps;
}

QList<TopApp> RemovedRussianApps::bundledTopApps()
{
    QFile file(u":/mirvo/core/top-apps.json"_s);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("The bundled list of popular apps is missing");
    try {
        return parseTopApps(file.readAll());
    } catch (const MirvoError& error) {
        qFatal("The bundled list of popular apps does not read: %s", error.what());
    }
}

} // namespace mirvo
