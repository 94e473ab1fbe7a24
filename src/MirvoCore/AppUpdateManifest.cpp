#include "AppUpdateManifest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

std::optional<QString> stringMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// A JSON number that is a whole value within the signed 64-bit range; 27.0 counts, 27.5 does not.
std::optional<qint64> integerMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    // toInteger falls back to its default when the value is not whole or out of range: two different
    // defaults tell that case apart from a real value.
    const qint64 first = value.toInteger(0);
    if (first != value.toInteger(1))
        return std::nullopt;
    return first;
}

std::optional<QStringList> stringListMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    if (!value.isArray())
        return std::nullopt;
    QStringList strings;
    for (const QJsonValue& item : value.toArray()) {
        if (!item.isString())
            return std::nullopt;
        strings.append(item.toString());
    }
    return strings;
}

std::optional<QUrl> urlMember(const QJsonObject& object, const QString& key)
{
    const std::optional<QString> text = stringMember(object, key);
    if (!text || text->isEmpty())
        return std::nullopt;
    const QUrl url(*text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

} // namespace

QString AppUpdateManifest::id() const
{
    return version + u'-' + QString::number(build);
}

std::optional<AppUpdateManifest> AppUpdateManifest::decode(const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    const std::optional<QString> version = stringMember(object, u"version"_s);
    const std::optional<qint64> build = integerMember(object, u"build"_s);
    const std::optional<QString> minimumSystemVersion = stringMember(object, u"minimumSystemVersion"_s);
    const std::optional<QString> architecture = stringMember(object, u"architecture"_s);
    const std::optional<QUrl> downloadURL = urlMember(object, u"downloadURL"_s);
    const std::optional<QString> sha256 = stringMember(object, u"sha256"_s);
    const std::optional<qint64> sizeBytes = integerMember(object, u"sizeBytes"_s);
    const std::optional<QString> publishedAt = stringMember(object, u"publishedAt"_s);
    const std::optional<QStringList> releaseNotes = stringListMember(object, u"releaseNotes"_s);
    if (!version || !build || !minimumSystemVersion || !architecture || !downloadURL || !sha256 ||
        !sizeBytes || !publishedAt || !releaseNotes)
        return std::nullopt;

    return AppUpdateManifest{*version, *build,     *minimumSystemVersion, *architecture, *downloadURL,
                             *sha256,  *sizeBytes, *publishedAt,          *releaseNotes};
}

} // namespace mirvo
