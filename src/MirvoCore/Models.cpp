#include "Models.h"

#include "Endpoints.h"
#include "MirvoError.h"

#include <QRegularExpression>
#include <QUrlQuery>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

bool wholeMatch(const QString& pattern, const QString& text)
{
    const QRegularExpression expression(pattern);
    return expression.match(text).hasMatch();
}

QString foldFully(const QString& text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString stripped;
    stripped.reserve(decomposed.size());
    for (const QChar ch : decomposed) {
        if (ch.category() != QChar::Mark_NonSpacing)
            stripped.append(ch);
    }
    return stripped.toCaseFolded();
}

// Case, diacritic and width folding without trimming. Printable ASCII and the basic Russian letters other
// than Й and й are their own decomposition and fold to their lower case, so text made of them alone (most
// of a catalog) skips the normalisation.
QString fold(const QString& text)
{
    QString folded(text.size(), Qt::Uninitialized);
    QChar* out = folded.data();
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c >= 0x20 && c < 0x7F)
            *out++ = QChar(c >= u'A' && c <= u'Z' ? char16_t(c + 0x20) : c);
        else if (c >= 0x0410 && c <= 0x044F && c != 0x0419 && c != 0x0439)
            *out++ = QChar(c <= 0x042F ? char16_t(c + 0x20) : c);
        else
            return foldFully(text);
    }
    return folded;
}

} // namespace

AppIdentifier AppIdentifier::parse(const QString& text)
{
    return parse(text, Endpoints::current().appStoreWebHost);
}

AppIdentifier AppIdentifier::parse(const QString& text, const QString& appStoreWebHost)
{
    const QString trimmed = text.trimmed();

    if (wholeMatch(u"^[0-9]{1,18}$"_s, trimmed)) {
        bool ok = false;
        const qulonglong number = trimmed.toULongLong(&ok, 10);
        if (ok && number != 0)
            return storeID(QString::number(number));
    }

    const QUrl url(trimmed, QUrl::StrictMode);
    if (url.isValid() && url.scheme() == u"https"_s && url.host() == appStoreWebHost) {
        QString path = url.path();
        while (path.size() > 1 && path.endsWith(u'/'))
            path.chop(1);
        const QString lastComponent = path.section(u'/', -1);
        if (wholeMatch(u"^id[0-9]{1,18}$"_s, lastComponent))
            return parse(lastComponent.mid(2), appStoreWebHost);
    }

    if (wholeMatch(u"^[A-Za-z0-9][A-Za-z0-9-]*(\\.[A-Za-z0-9][A-Za-z0-9-]*)+$"_s, trimmed))
        return bundleID(trimmed);

    throw MirvoError::message(u"Введите числовой App Store ID, bundle ID (например, com.example.app) "
                              u"или ссылку на страницу приложения на "_s +
                              appStoreWebHost + u'.');
}

QStringList AppIdentifier::arguments() const
{
    if (m_kind == Kind::StoreID)
        return {u"--app-id"_s, m_value};
    return {u"--bundle-identifier"_s, m_value};
}

CatalogApp::CatalogApp(QString id, QString name, QString category, QString mark, quint32 color,
                       std::optional<QUrl> artworkURL, std::optional<QString> bundleIdentifier,
                       std::optional<QString> version)
    : m_id(std::move(id))
    , m_name(std::move(name))
    , m_category(std::move(category))
    , m_mark(std::move(mark))
    , m_color(color)
    , m_artworkURL(std::move(artworkURL))
    , m_bundleIdentifier(std::move(bundleIdentifier))
    , m_version(std::move(version))
{
    // Built in one piece: thousands of entries are made whenever the catalog is read.
    const QString joined = m_name + u' ' + m_id + u' ' + m_category + u' ' +
                           (m_bundleIdentifier ? *m_bundleIdentifier : QString());
    m_searchIndex = normalizedSearchText(joined);
}

QString CatalogApp::normalizedSearchText(const QString& text)
{
    return fold(text.trimmed());
}

bool CatalogApp::matches(const QString& search) const
{
    return matchesNormalizedSearch(normalizedSearchText(search));
}

bool CatalogApp::matchesNormalizedSearch(const QString& normalizedQuery) const
{
    return normalizedQuery.isEmpty() || m_searchIndex.contains(normalizedQuery);
}

std::optional<QUrl> TopApp::faviconURL() const
{
    const Endpoints& endpoints = Endpoints::current();
    QUrl url = endpoints.faviconService;
    url.setPath(endpoints.faviconPath);
    QUrlQuery query;
    query.addQueryItem(u"domain"_s, domain);
    query.addQueryItem(u"sz"_s, u"128"_s);
    url.setQuery(query);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

bool TopApp::matches(const QString& search) const
{
    const QString query = search.trimmed();
    if (query.isEmpty())
        return true;
    const QString text = QStringList{name, id, domain, category}.join(u' ');
    return fold(text).contains(fold(query));
}

QString rawValue(DeviceTransport transport)
{
    switch (transport) {
    case DeviceTransport::Usb:
        return u"usb"_s;
    case DeviceTransport::Network:
        return u"network"_s;
    case DeviceTransport::Unknown:
        break;
    }
    return u"unknown"_s;
}

std::optional<DeviceTransport> deviceTransportFromRawValue(const QString& raw)
{
    for (const DeviceTransport transport :
         {DeviceTransport::Usb, DeviceTransport::Network, DeviceTransport::Unknown}) {
        if (rawValue(transport) == raw)
            return transport;
    }
    return std::nullopt;
}

double TransferProgress::fraction() const
{
    if (totalBytes < 1)
        return 0;
    return std::clamp(double(completedBytes) / double(totalBytes), 0.0, 1.0);
}

} // namespace mirvo
