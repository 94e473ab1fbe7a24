#include "LocalStore.h"

#include "FileSystem.h"
#include "SystemError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

// 2001-01-01T00:00:00Z, the reference date of the stored catalog date.
constexpr qint64 referenceDateMSecs = 978'307'200'000;
// Far beyond any real date, and small enough that the conversion to milliseconds cannot overflow.
constexpr double largestStoredSeconds = 1e13;

bool isStorable(double seconds)
{
    return std::isfinite(seconds) && std::abs(seconds) <= largestStoredSeconds;
}

QString childPath(const QString& root, const QString& name)
{
    if (root.endsWith(u'/'))
        return root + name;
    return root + u'/' + name;
}

QDateTime utcDateTime(qint64 msecsSinceEpoch)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, QTimeZone::UTC);
#else
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, Qt::UTC);
#endif
}

QString catalogPath(const QString& root)
{
    return childPath(root, u"catalog.txt"_s);
}

QString metadataPath(const QString& root)
{
    return childPath(root, u"catalog-metadata.json"_s);
}

// File systems take names of at most 255 bytes.
constexpr qsizetype maximumFileNameBytes = 255;

QString sanitizedFileName(const QString& text)
{
    static const QRegularExpression forbidden(u"[^\\p{L}\\p{N}._ -]"_s,
                                              QRegularExpression::UseUnicodePropertiesOption);
    QString result = text;
    result.replace(forbidden, u"_"_s);
    return result;
}

qsizetype utf8Size(QStringView text)
{
    return text.toUtf8().size();
}

// The longest start of `text` whose UTF-8 form takes at most `bytes`, ending where a user-perceived
// character ends; where even the first one is too long, where a code point ends.
QString leadingPart(const QString& text, qsizetype bytes)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    qsizetype used = 0;
    for (qsizetype next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
        used += utf8Size(QStringView(text).sliced(end, next - end));
        if (used > bytes)
            break;
        end = next;
    }
    if (end > 0)
        return text.left(end);

    used = 0;
    for (qsizetype index = 0; index < text.size();) {
        const qsizetype length =
            text[index].isHighSurrogate() && index + 1 < text.size() && text[index + 1].isLowSurrogate() ? 2
                                                                                                         : 1;
        used += utf8Size(QStringView(text).sliced(index, length));
        if (used > bytes)
            break;
        index += length;
        end = index;
    }
    return text.left(end);
}

SystemError damagedMetadata(const QString& path)
{
    return SystemError(u"Не удалось прочитать дату сохранённого каталога: файл повреждён ("_s + path +
                       u")."_s);
}

} // namespace

LocalStore::LocalStore(QString root)
    : m_root(std::move(root))
{
    FileSystem::createDirectory(m_root);
    FileSystem::createDirectory(packagesPath());
    FileSystem::createDirectory(toolsPath());
    // A root made earlier, or by someone else, may be wider than ours.
    FileSystem::setPermissions(m_root, FileSystem::privateDirectoryMode);
    FileSystem::removeFile(childPath(m_root, u"history.json"_s));
    FileSystem::removeFile(childPath(m_root, u"journal.json"_s));
}

QString LocalStore::packagesPath() const
{
    return childPath(m_root, u"Packages"_s);
}

QString LocalStore::toolsPath() const
{
    return childPath(m_root, u"Tools"_s);
}

QString LocalStore::destination(const QString& name, const QString& suffix) const
{
    const QString extension = u".ipa"_s;
    QString base = sanitizedFileName(name);
    const QString tail = sanitizedFileName(suffix);
    if (base.isEmpty() && tail.isEmpty())
        base = u"IPA"_s;
    const qsizetype room = maximumFileNameBytes - utf8Size(tail) - utf8Size(extension);
    if (utf8Size(base) > room) {
        base = leadingPart(base, std::max<qsizetype>(0, room));
        // A cut that ends in a space would leave it before the suffix or the extension.
        while (base.endsWith(u' '))
            base.chop(1);
    }
    QString fileName = base + tail;
    // Only a suffix too long on its own gets here.
    if (utf8Size(fileName) + utf8Size(extension) > maximumFileNameBytes)
        fileName = leadingPart(fileName, maximumFileNameBytes - utf8Size(extension));
    return childPath(packagesPath(), fileName + extension);
}

void LocalStore::saveCatalog(const QByteArray& data, const std::optional<QDateTime>& updatedAt) const
{
    FileSystem::writeFileAtomically(catalogPath(m_root), data);

    // An invalid date carries no instant, and one beyond what the reader accepts would make the saved
    // copy unreadable: either way the new list has no known date.
    std::optional<double> seconds;
    if (updatedAt && updatedAt->isValid())
        seconds = double(updatedAt->toMSecsSinceEpoch() - referenceDateMSecs) / 1000.0;
    if (!seconds || !isStorable(*seconds)) {
        FileSystem::removeFile(metadataPath(m_root));
        return;
    }
    const QJsonObject metadata{{u"updatedAt"_s, *seconds}};
    FileSystem::writeFileAtomically(metadataPath(m_root),
                                    QJsonDocument(metadata).toJson(QJsonDocument::Compact));
}

std::optional<QByteArray> LocalStore::cachedCatalog() const
{
    return FileSystem::readFileIfExists(catalogPath(m_root), maximumCatalogBytes);
}

std::optional<QDateTime> LocalStore::cachedCatalogUpdatedAt() const
{
    const QString path = metadataPath(m_root);
    const std::optional<QByteArray> content = FileSystem::readFileIfExists(path, maximumMetadataBytes);
    if (!content)
        return std::nullopt;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(*content, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        throw damagedMetadata(path);
    const QJsonValue value = document.object().value(u"updatedAt"_s);
    if (!value.isDouble())
        throw damagedMetadata(path);
    const double seconds = value.toDouble();
    if (!isStorable(seconds))
        throw damagedMetadata(path);

    const QDateTime date = utcDateTime(referenceDateMSecs + std::llround(seconds * 1000.0));
    if (!date.isValid())
        throw damagedMetadata(path);
    return date;
}

qint64 LocalStore::cacheSizeInBytes() const
{
    return FileSystem::fileSize(catalogPath(m_root)) + FileSystem::fileSize(metadataPath(m_root));
}

void LocalStore::clearCatalogCache() const
{
    FileSystem::removeFile(catalogPath(m_root));
    FileSystem::removeFile(metadataPath(m_root));
}

} // namespace mirvo
