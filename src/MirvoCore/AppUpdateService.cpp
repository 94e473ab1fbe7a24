#include "AppUpdateService.h"

#include "AppUpdateServiceError.h"
#include "CancelledError.h"
#include "Endpoints.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

// Hosts compare in lower case and in their ASCII form, so that an internationalised name matches however it
// is written. Nothing for no host.
std::optional<QString> normalizedHost(const QString& host)
{
    if (host.isEmpty())
        return std::nullopt;
    const QByteArray ascii = QUrl::toAce(host);
    return (ascii.isEmpty() ? host : QString::fromLatin1(ascii)).toLower();
}

std::optional<QString> hostOf(const QUrl& url)
{
    return normalizedHost(url.host(QUrl::FullyEncoded));
}

// The extension of the last path component, a trailing slash aside; none for a name that only starts
// with a dot.
QString pathExtension(QString path)
{
    while (path.endsWith(u'/'))
        path.chop(1);
    const QString name = path.mid(path.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0)
        return {};
    return name.mid(dot + 1);
}

bool isHexDigit(char32_t c)
{
    const auto within = [c](char32_t first, char32_t last) { return c >= first && c <= last; };
    // ASCII and the full-width forms of 0-9, A-F and a-f.
    return within(U'0', U'9') || within(U'A', U'F') || within(U'a', U'f') || within(0xFF10, 0xFF19) ||
           within(0xFF21, 0xFF26) || within(0xFF41, 0xFF46);
}

// Exactly 64 hexadecimal digits. Every code point being a digit, code points and user-perceived characters
// count alike.
bool isSHA256Digest(const QString& text)
{
    const QList<uint> codePoints = text.toUcs4();
    return codePoints.size() == 64 &&
           std::all_of(codePoints.begin(), codePoints.end(), [](uint c) { return isHexDigit(c); });
}

} // namespace

QUrl AppUpdateService::defaultManifestURL()
{
    return Endpoints::current().updateManifest;
}

AppUpdateService::AppUpdateService(QUrl manifestURL, std::shared_ptr<HttpClient> http)
    : m_manifestURL(std::move(manifestURL))
    , m_http(std::move(http))
{
}

QCoro::Task<AppUpdateCheckResult> AppUpdateService::check(QString currentVersion, qint64 currentBuild,
                                                          std::stop_token stop) const
{
    // Copied before the first suspension: nothing of the service is touched once the request runs.
    const std::shared_ptr<HttpClient> http = m_http;
    const QUrl manifestURL = m_manifestURL;
    if (!http)
        throw AppUpdateServiceError::unavailable();

    HttpRequest request{.url = manifestURL,
                        .timeout = timeout,
                        .headers = {{"Cache-Control", "no-cache"}, {"Accept", "application/json"}},
                        .cachePolicy = HttpRequest::CachePolicy::ReloadIgnoringCache,
                        .maxBodyBytes = maximumManifestBytes};
    HttpResponse response;
    bool transportFailed = false;
    try {
        response = co_await http->get(std::move(request), stop);
    } catch (const CancelledError&) {
        throw;
    } catch (const std::exception&) {
        transportFailed = true;
    }
    // A stop that the transport reports as some other failure is still a stop.
    if (transportFailed && stop.stop_requested())
        throw CancelledError();
    if (transportFailed || !response.isSuccess() || response.bodyTooLarge || response.body.isEmpty() ||
        response.body.size() > maximumManifestBytes)
        throw AppUpdateServiceError::unavailable();

    co_return evaluate(response.body, currentVersion, currentBuild, hostOf(manifestURL));
}

AppUpdateCheckResult AppUpdateService::evaluate(const QByteArray& data, const QString& currentVersion,
                                                qint64 currentBuild,
                                                const std::optional<QString>& trustedHost)
{
    const std::optional<AppUpdateManifest> manifest = AppUpdateManifest::decode(data);
    if (!manifest)
        throw AppUpdateServiceError::invalidResponse();

    const std::optional<QList<qint64>> remote = versionComponents(manifest->version);
    const std::optional<QList<qint64>> local = versionComponents(currentVersion);
    if (!remote || !local)
        throw AppUpdateServiceError::invalidResponse();
    if (manifest->build < 1)
        throw AppUpdateServiceError::invalidResponse();

    const QUrl& download = manifest->downloadURL;
    if (download.scheme().toLower() != u"https"_s)
        throw AppUpdateServiceError::invalidResponse();
    if (hostOf(download) != normalizedHost(trustedHost.value_or(QString())))
        throw AppUpdateServiceError::invalidResponse();
    const QString path = download.path(QUrl::FullyDecoded);
    if (!path.startsWith(u"/download/"_s))
        throw AppUpdateServiceError::invalidResponse();
    if (pathExtension(path).toLower() != u"dmg"_s)
        throw AppUpdateServiceError::invalidResponse();

    if (!isSHA256Digest(manifest->sha256))
        throw AppUpdateServiceError::invalidResponse();
    if (manifest->sizeBytes < 1 || manifest->minimumSystemVersion.isEmpty() ||
        manifest->architecture.isEmpty())
        throw AppUpdateServiceError::invalidResponse();

    const int order = compare(*remote, *local);
    if (order == 1 || (order == 0 && manifest->build > currentBuild))
        return AppUpdateCheckResult::available(*manifest);
    return AppUpdateCheckResult::current();
}

std::optional<QList<qint64>> AppUpdateService::versionComponents(const QString& text)
{
    QString trimmed = text.trimmed();
    if (trimmed.startsWith(u'v'))
        trimmed.remove(0, 1);
    const QStringList pieces = trimmed.split(u'.', Qt::KeepEmptyParts);
    if (pieces.size() > 4)
        return std::nullopt;
    QList<qint64> components;
    for (const QString& piece : pieces) {
        // Digits of other scripts are numbers too, but do not read as one: only ASCII digits pass.
        if (piece.isEmpty() ||
            !std::all_of(piece.begin(), piece.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            return std::nullopt;
        bool ok = false;
        const qint64 value = piece.toLongLong(&ok, 10);
        if (!ok)
            return std::nullopt;
        components.append(value);
    }
    return components;
}

int AppUpdateService::compare(const QList<qint64>& a, const QList<qint64>& b)
{
    const qsizetype length = std::max(a.size(), b.size());
    for (qsizetype i = 0; i < length; ++i) {
        const qint64 left = i < a.size() ? a[i] : 0;
        const qint64 right = i < b.size() ? b[i] : 0;
        if (left != right)
            return left < right ? -1 : 1;
    }
    return 0;
}

} // namespace mirvo
