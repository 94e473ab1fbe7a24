#include "Endpoints.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QSslCertificate>

#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

enum class Kind { Url, Text, Countries, CertificateFile };

struct Member {
    QLatin1StringView name;
    Kind kind;
    QUrl Endpoints::*url = nullptr;
    QString Endpoints::*text = nullptr;
    QStringList Endpoints::*list = nullptr;
};

const Member members[] = {
    {"gitHubApi"_L1, Kind::Url, &Endpoints::gitHubApi},
    {"gitHubWebHost"_L1, Kind::Text, nullptr, &Endpoints::gitHubWebHost},
    {"gitHubRawContent"_L1, Kind::Url, &Endpoints::gitHubRawContent},
    {"ipatoolRepository"_L1, Kind::Text, nullptr, &Endpoints::ipatoolRepository},
    {"goIOSRepository"_L1, Kind::Text, nullptr, &Endpoints::goIOSRepository},
    {"removedAppsRepository"_L1, Kind::Text, nullptr, &Endpoints::removedAppsRepository},
    {"removedAppsPath"_L1, Kind::Text, nullptr, &Endpoints::removedAppsPath},
    {"removedAppsBranch"_L1, Kind::Text, nullptr, &Endpoints::removedAppsBranch},
    {"topAppsRepository"_L1, Kind::Text, nullptr, &Endpoints::topAppsRepository},
    {"topAppsPath"_L1, Kind::Text, nullptr, &Endpoints::topAppsPath},
    {"topAppsBranch"_L1, Kind::Text, nullptr, &Endpoints::topAppsBranch},
    {"appStoreLookup"_L1, Kind::Url, &Endpoints::appStoreLookup},
    {"lookupFallbackCountries"_L1, Kind::Countries, nullptr, nullptr, &Endpoints::lookupFallbackCountries},
    {"appStoreWebHost"_L1, Kind::Text, nullptr, &Endpoints::appStoreWebHost},
    {"faviconService"_L1, Kind::Url, &Endpoints::faviconService},
    {"faviconPath"_L1, Kind::Text, nullptr, &Endpoints::faviconPath},
    {"updateManifest"_L1, Kind::Url, &Endpoints::updateManifest},
    {"extraCertificateAuthorities"_L1, Kind::CertificateFile, nullptr,
     &Endpoints::extraCertificateAuthorities},
};

const Member* findMember(const QString& name)
{
    for (const Member& member : members) {
        if (member.name == name)
            return &member;
    }
    return nullptr;
}

QString quoted(const QString& text)
{
    return u'«' + text + u'»';
}

// Applies one member to `endpoints`; returns why it cannot be used, or nothing.
std::optional<QString> apply(const Member& member, const QJsonValue& value, const QDir& folder,
                             Endpoints& endpoints)
{
    const QString name = quoted(member.name);
    if (member.kind == Kind::Countries) {
        if (!value.isArray())
            return u"значение "_s + name + u" должно быть массивом строк"_s;
        static const QRegularExpression countryCode(u"^[A-Za-z]{2}$"_s);
        QStringList countries;
        for (const QJsonValue& element : value.toArray()) {
            if (!element.isString())
                return u"значение "_s + name + u" должно быть массивом строк"_s;
            if (!countryCode.match(element.toString()).hasMatch())
                return u"в "_s + name + u" код страны "_s + quoted(element.toString()) +
                       u" не из двух латинских букв"_s;
            countries.append(element.toString());
        }
        endpoints.*member.list = countries;
        return std::nullopt;
    }

    if (!value.isString())
        return u"значение "_s + name + u" должно быть строкой"_s;
    const QString text = value.toString();

    switch (member.kind) {
    case Kind::Url: {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid() || url.host().isEmpty() ||
            (url.scheme() != u"https"_s && url.scheme() != u"http"_s))
            return u"значение "_s + name + u" ("_s + quoted(text) +
                   u") не является абсолютным адресом http или https"_s;
        endpoints.*member.url = url;
        return std::nullopt;
    }
    case Kind::Text:
        if (text.isEmpty())
            return u"значение "_s + name + u" не может быть пустым"_s;
        endpoints.*member.text = text;
        return std::nullopt;
    case Kind::CertificateFile: {
        if (text.isEmpty()) {
            endpoints.*member.text = QString();
            return std::nullopt;
        }
        const QString path = QDir::cleanPath(folder.absoluteFilePath(text));
        const QFileInfo info(path);
        if (!info.exists())
            return u"файл сертификатов "_s + quoted(path) + u" не существует"_s;
        if (!info.isFile() || !info.isReadable())
            return u"файл сертификатов "_s + quoted(path) + u" не читается"_s;
        const QList<QSslCertificate> certificates =
            QSslCertificate::fromPath(path, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
        if (certificates.isEmpty())
            return u"в файле "_s + quoted(path) + u" нет сертификатов в формате PEM"_s;
        endpoints.*member.text = path;
        return std::nullopt;
    }
    case Kind::Countries:
        break;
    }
    return std::nullopt;
}

std::variant<Endpoints, QString> loadReason(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return u"файл не существует"_s;
    if (info.isDir())
        return u"это папка, а не файл"_s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return u"файл не читается"_s;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return u"файл не читается"_s;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return u"это не JSON (ошибка в позиции "_s + QString::number(parseError.offset) + u')';
    if (!document.isObject())
        return u"ожидался JSON-объект"_s;

    Endpoints endpoints;
    const QJsonObject object = document.object();
    const QDir folder = info.absoluteDir();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const Member* member = findMember(it.key());
        if (!member)
            return u"неизвестный ключ "_s + quoted(it.key());
        if (std::optional<QString> error = apply(*member, it.value(), folder, endpoints))
            return *error;
    }
    return endpoints;
}

struct Loaded {
    Endpoints endpoints;
    QString error;
};

const Loaded& loaded()
{
    static const Loaded result = [] {
        const QString path = qEnvironmentVariable("MIRVO_ENDPOINTS");
        if (path.isEmpty())
            return Loaded{};
        std::variant<Endpoints, QString> outcome = Endpoints::load(path);
        if (QString* error = std::get_if<QString>(&outcome))
            return Loaded{Endpoints(), *error};
        return Loaded{std::get<Endpoints>(std::move(outcome)), QString()};
    }();
    return result;
}

} // namespace

std::variant<Endpoints, QString> Endpoints::load(const QString& path)
{
    std::variant<Endpoints, QString> outcome = loadReason(path);
    if (const QString* reason = std::get_if<QString>(&outcome))
        return u"Не удалось прочитать файл адресов MIRVO_ENDPOINTS ("_s + path + u"): "_s + *reason + u'.';
    return outcome;
}

const Endpoints& Endpoints::current()
{
    return loaded().endpoints;
}

QString Endpoints::loadError()
{
    return loaded().error;
}

} // namespace mirvo
