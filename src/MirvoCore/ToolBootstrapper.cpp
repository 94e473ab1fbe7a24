#include "ToolBootstrapper.h"

#include "CancelledError.h"
#include "Endpoints.h"
#include "FileSystem.h"
#include "MirvoError.h"
#include "SystemError.h"
#include "ToolArchive.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFuture>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSysInfo>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoro/QCoroFuture>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <sys/stat.h>
#include <unistd.h>

#if defined(Q_OS_MACOS)
#include <sys/sysctl.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

constexpr double releaseTimeout = 60;
constexpr double downloadTimeout = 60;
constexpr int listedReleases = 10;
constexpr mode_t executableMode = 0700;

QString ipatoolDisplayName()
{
    return u"IPATool"_s;
}

QString goIOSDisplayName()
{
    return u"go-ios"_s;
}

QString addressFailed()
{
    return u"Не удалось составить адрес выпуска инструмента."_s;
}

QString releaseNotReturned()
{
    return u"GitHub не вернул выпуск инструмента. Проверьте подключение к интернету и повторите попытку."_s;
}

QString releaseUnreadable()
{
    return u"Не удалось прочитать выпуск инструмента на GitHub."_s;
}

QString invalidDownloadAddress()
{
    return u"GitHub вернул недопустимый адрес загрузки инструмента."_s;
}

QString downloadFailed()
{
    return u"Не удалось скачать выпуск инструмента с GitHub."_s;
}

QString invalidExecutable()
{
    return u"Выпуск инструмента содержит недопустимый исполняемый файл."_s;
}

QString checksumMismatch()
{
    return u"Контрольная сумма загруженного инструмента не совпадает. Попробуйте ещё раз позже."_s;
}

bool isLinuxBuildWeKnow(const ToolPlatform& platform)
{
    return platform.system == u"linux"_s &&
           (platform.architecture == u"amd64"_s || platform.architecture == u"arm64"_s);
}

QString noIPAToolAsset(const ToolPlatform& platform, bool chosenRelease)
{
    const QString release = chosenRelease ? u"В выбранном выпуске"_s : u"В последнем выпуске"_s;
    return release + u" IPATool нет файла для этого "_s + (platform.isMac() ? u"Mac."_s : u"компьютера."_s);
}

QString noGoIOSAsset(const ToolPlatform& platform)
{
    if (platform.isMac())
        return u"В последнем выпуске go-ios нет macOS-файла."_s;
    if (isLinuxBuildWeKnow(platform))
        return u"В последнем выпуске go-ios нет Linux-файла."_s;
    return u"В последнем выпуске go-ios нет файла для этого компьютера."_s;
}

QString joined(const QString& directory, const QString& name)
{
    if (directory.endsWith(u'/'))
        return directory + name;
    return directory + u'/' + name;
}

bool isExecutableFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    // access() follows symbolic links and lets a directory through, which can never be run.
    return ::access(native.constData(), X_OK) == 0 && ::stat(native.constData(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

void report(const ToolBootstrapper::EventHandler& onEvent, ToolDownloadEvent::Kind kind, const QString& name)
{
    if (onEvent)
        onEvent(ToolDownloadEvent{kind, name});
}

void throwIfStopped(const std::stop_token& stop)
{
    if (stop.stop_requested())
        throw CancelledError();
}

// An address below the GitHub API base: `encodedPath` is appended to the repository's path, already
// percent-encoded. Nothing when no https address with a host results.
std::optional<QUrl> apiURL(const QString& repository, const QString& encodedPath, const QString& query = {})
{
    QUrl url = Endpoints::current().gitHubApi;
    if (!url.isValid() || url.scheme() != u"https"_s || url.host().isEmpty() || repository.isEmpty())
        return std::nullopt;
    QString path = url.path(QUrl::FullyEncoded);
    while (path.endsWith(u'/'))
        path.chop(1);
    path += u"/repos/"_s + QString::fromLatin1(QUrl::toPercentEncoding(repository, "/")) + encodedPath;
    url.setPath(path, QUrl::StrictMode);
    url.setQuery(query.isEmpty() ? QString() : query, QUrl::StrictMode);
    url.setFragment(QString());
    if (!url.isValid())
        return std::nullopt;
    return url;
}

std::optional<QUrl> releaseURL(const QString& repository, const std::optional<QString>& tag)
{
    if (!tag)
        return apiURL(repository, u"/releases/latest"_s);
    // Encoded whole, so that a tag can never reach another path of the API.
    if (tag->isEmpty() || *tag == u"."_s || *tag == u".."_s)
        return std::nullopt;
    return apiURL(repository, u"/releases/tags/"_s + QString::fromLatin1(QUrl::toPercentEncoding(*tag)));
}

std::optional<ReleaseAsset> decodeAsset(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue name = object.value(u"name"_s);
    const QJsonValue address = object.value(u"browser_download_url"_s);
    if (!name.isString() || !address.isString() || address.toString().isEmpty())
        return std::nullopt;
    const QUrl url(address.toString(), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return ReleaseAsset{name.toString(), url};
}

std::optional<QList<ReleaseAsset>> decodeAssets(const QJsonObject& release)
{
    const QJsonValue value = release.value(u"assets"_s);
    if (!value.isArray())
        return std::nullopt;
    QList<ReleaseAsset> assets;
    const QJsonArray array = value.toArray();
    assets.reserve(array.size());
    for (const QJsonValue& entry : array) {
        std::optional<ReleaseAsset> asset = decodeAsset(entry);
        if (!asset)
            return std::nullopt;
        assets.append(std::move(*asset));
    }
    return assets;
}

std::optional<QJsonDocument> parseJson(const QByteArray& body)
{
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return std::nullopt;
    return document;
}

std::optional<ToolRelease> decodeRelease(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue tag = object.value(u"tag_name"_s);
    if (!tag.isString() || tag.toString().isEmpty())
        return std::nullopt;
    ToolRelease release;
    release.tag = tag.toString();
    release.version = release.tag.startsWith(u'v') ? release.tag.mid(1) : release.tag;
    // A draft has no date yet; any date given must be readable.
    const QJsonValue published = object.value(u"published_at"_s);
    if (published.isString()) {
        release.publishedAt = QDateTime::fromString(published.toString(), Qt::ISODate);
        if (!release.publishedAt.isValid())
            return std::nullopt;
    } else if (!published.isNull() && !published.isUndefined()) {
        return std::nullopt;
    }
    std::optional<QList<ReleaseAsset>> assets = decodeAssets(object);
    if (!assets)
        return std::nullopt;
    release.assets = std::move(*assets);
    return release;
}

std::optional<QList<ToolRelease>> decodeReleaseList(const QByteArray& body)
{
    const std::optional<QJsonDocument> document = parseJson(body);
    if (!document || !document->isArray())
        return std::nullopt;
    QList<ToolRelease> releases;
    for (const QJsonValue& value : document->array()) {
        std::optional<ToolRelease> release = decodeRelease(value);
        if (!release)
            return std::nullopt;
        if (releases.size() < listedReleases)
            releases.append(std::move(*release));
    }
    return releases;
}

// The body of a GitHub API answer about releases.
QCoro::Task<QByteArray> fetchRelease(std::shared_ptr<HttpClient> http, std::optional<QUrl> url,
                                     std::stop_token stop)
{
    if (!url)
        throw MirvoError::message(addressFailed());
    HttpRequest request;
    request.url = *url;
    request.timeout = releaseTimeout;
    request.headers = {{"Accept"_ba, "application/vnd.github+json"_ba}, {"User-Agent"_ba, "Mirvo"_ba}};
    const HttpResponse response = co_await http->get(std::move(request), std::move(stop));
    if (!response.isSuccess())
        throw MirvoError::message(releaseNotReturned());
    if (response.bodyTooLarge)
        throw MirvoError::message(releaseUnreadable());
    co_return response.body;
}

QCoro::Task<QList<ReleaseAsset>> releaseAssets(std::shared_ptr<HttpClient> http, std::optional<QUrl> url,
                                               std::stop_token stop)
{
    const QByteArray body = co_await fetchRelease(std::move(http), std::move(url), std::move(stop));
    const std::optional<QJsonDocument> document = parseJson(body);
    if (!document || !document->isObject())
        throw MirvoError::message(releaseUnreadable());
    std::optional<QList<ReleaseAsset>> assets = decodeAssets(document->object());
    if (!assets)
        throw MirvoError::message(releaseUnreadable());
    co_return std::move(*assets);
}

void requireDownloadAddress(const QUrl& url)
{
    if (!url.isValid() || url.scheme() != u"https"_s || url.host().isEmpty() ||
        url.host() != Endpoints::current().gitHubWebHost)
        throw MirvoError::message(invalidDownloadAddress());
}

QCoro::Task<QByteArray> download(std::shared_ptr<HttpClient> http, QUrl url, qint64 maxBytes,
                                 std::stop_token stop)
{
    requireDownloadAddress(url);
    HttpRequest request;
    request.url = std::move(url);
    request.timeout = downloadTimeout;
    request.headers = {{"User-Agent"_ba, "Mirvo"_ba}};
    request.maxBodyBytes = maxBytes;
    const HttpResponse response = co_await http->get(std::move(request), std::move(stop));
    if (!response.isSuccess() || response.bodyTooLarge || response.body.isEmpty() ||
        response.body.size() > maxBytes)
        throw MirvoError::message(downloadFailed());
    co_return response.body;
}

bool isHexDigest(const QByteArray& text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

// The SHA-256 a checksum file gives for `archiveName`: the line that names it ("<hex>  <name>", as
// sha256sum writes it, the name possibly with a directory or a "*"), or a lone line with no name.
std::optional<QByteArray> expectedDigest(const QByteArray& text, const QString& archiveName)
{
    std::optional<QByteArray> unnamed;
    int lines = 0;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        ++lines;
        qsizetype end = 0;
        while (end < line.size() && line.at(end) != ' ' && line.at(end) != '\t')
            ++end;
        const QByteArray hex = line.left(end);
        if (!isHexDigest(hex))
            return std::nullopt;
        QByteArray name = line.mid(end).trimmed();
        if (name.isEmpty()) {
            unnamed = QByteArray::fromHex(hex);
            continue;
        }
        if (name.startsWith('*'))
            name.remove(0, 1);
        if (QString::fromUtf8(name).section(u'/', -1) == archiveName)
            return QByteArray::fromHex(hex);
    }
    if (lines == 1 && unnamed)
        return unnamed;
    return std::nullopt;
}

enum class ArchiveKind { TarGzip, Zip };

// One tool's files in a release and how its executable is taken out and published.
struct Installation {
    QString displayName;
    QString executable; // the published name
    QString entry;      // the name inside the archive
    ArchiveKind kind;
    ReleaseAsset archive;
    std::optional<ReleaseAsset> checksum;
};

struct Extracted {
    QByteArray executable;
    std::exception_ptr failure;
};

// Runs on a worker thread. Failures travel back as they are: QtConcurrent would wrap them otherwise.
Extracted extract(QByteArray archive, std::optional<QByteArray> digest, ArchiveKind kind, QString entry)
{
    try {
        if (digest && QCryptographicHash::hash(archive, QCryptographicHash::Sha256) != *digest)
            throw MirvoError::message(checksumMismatch());
        QByteArray executable = kind == ArchiveKind::Zip ? ToolArchive::zipEntry(entry, archive)
                                                         : ToolArchive::tarGzipEntry(entry, archive);
        return {std::move(executable), {}};
    } catch (...) {
        return {{}, std::current_exception()};
    }
}

void replaceFile(const QString& from, const QString& to)
{
    // One rename replaces the previous executable, so the tool is never absent for the locator.
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw SystemError::fromErrno(errno, to);
}

void publish(const QString& directory, const QByteArray& data, const QString& name)
{
    if (data.isEmpty() || data.size() > ToolArchive::maximumExecutableBytes)
        throw MirvoError::message(invalidExecutable());
    const QString destination = joined(directory, name);
    // Hidden and named after no tool the locator looks for, so that a half-written file is never run.
    const QString temporary =
        joined(directory, u'.' + name + u'.' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                              u".partial"_s);
    const FileSystem::TemporaryFiles cleanup({temporary});
    FileSystem::writeFileAtomically(temporary, data, executableMode);
    FileSystem::setPermissions(temporary, executableMode);
    replaceFile(temporary, destination);
}

// Runs on a worker thread.
std::exception_ptr publishCatching(QString directory, QByteArray data, QString name)
{
    try {
        publish(directory, data, name);
        return {};
    } catch (...) {
        return std::current_exception();
    }
}

QCoro::Task<> fetchAndPublish(std::shared_ptr<HttpClient> http, QString directory, Installation installation,
                              ToolBootstrapper::EventHandler onEvent, std::stop_token stop)
{
    report(onEvent, ToolDownloadEvent::Kind::Downloading, installation.displayName);
    // Every address is checked before anything is fetched.
    requireDownloadAddress(installation.archive.url);
    if (installation.checksum)
        requireDownloadAddress(installation.checksum->url);
    std::optional<QByteArray> digest;
    if (installation.checksum) {
        const QByteArray text =
            co_await download(http, installation.checksum->url, ToolBootstrapper::maximumChecksumBytes, stop);
        digest = expectedDigest(text, installation.archive.name);
        if (!digest)
            throw MirvoError::message(checksumMismatch());
    }
    QByteArray archive =
        co_await download(http, installation.archive.url, ToolBootstrapper::maximumDownloadBytes, stop);
    throwIfStopped(stop);

    report(onEvent, ToolDownloadEvent::Kind::Extracting, installation.displayName);
    QFuture<Extracted> extraction = QtConcurrent::run(extract, std::move(archive), std::move(digest),
                                                      installation.kind, installation.entry);
    Extracted extracted = co_await extraction;
    if (extracted.failure)
        std::rethrow_exception(extracted.failure);
    throwIfStopped(stop);

    QFuture<std::exception_ptr> publishing = QtConcurrent::run(
        publishCatching, directory, std::move(extracted.executable), installation.executable);
    const std::exception_ptr failure = co_await publishing;
    if (failure)
        std::rethrow_exception(failure);
    report(onEvent, ToolDownloadEvent::Kind::Installed, installation.displayName);
}

std::optional<ReleaseAsset> checksumFor(const QList<ReleaseAsset>& assets, const ReleaseAsset& archive)
{
    const QString name = archive.name + u".sha256sum"_s;
    for (const ReleaseAsset& asset : assets) {
        if (asset.name == name)
            return asset;
    }
    return std::nullopt;
}

std::optional<ReleaseAsset> ipatoolAsset(const QList<ReleaseAsset>& assets, const ToolPlatform& platform)
{
    const QString build = platform.system + u'-' + platform.architecture;
    for (const ReleaseAsset& asset : assets) {
        const QString name = asset.name.toLower();
        if (name.startsWith(u"ipatool-"_s) && name.contains(build) && name.endsWith(u".tar.gz"_s))
            return asset;
    }
    return std::nullopt;
}

std::optional<ReleaseAsset> goIOSAsset(const QList<ReleaseAsset>& assets, const ToolPlatform& platform)
{
    QString exact;
    QString system;
    if (platform.isMac()) {
        exact = u"go-ios-mac.zip"_s;
        system = u"mac"_s;
    } else if (isLinuxBuildWeKnow(platform)) {
        exact = u"go-ios-linux.zip"_s;
        system = u"linux"_s;
    } else {
        return std::nullopt;
    }
    for (const ReleaseAsset& asset : assets) {
        if (asset.name == exact)
            return asset;
    }
    for (const ReleaseAsset& asset : assets) {
        const QString name = asset.name.toLower();
        if (name.contains(u"go-ios"_s) && name.contains(system) && name.endsWith(u".zip"_s))
            return asset;
    }
    return std::nullopt;
}

QCoro::Task<> installIPATool(std::shared_ptr<HttpClient> http, QString directory, ToolPlatform platform,
                             std::optional<QString> tag, ToolBootstrapper::EventHandler onEvent,
                             std::stop_token stop)
{
    report(onEvent, ToolDownloadEvent::Kind::Resolving, ipatoolDisplayName());
    std::optional<QUrl> url = releaseURL(Endpoints::current().ipatoolRepository, tag);
    const QList<ReleaseAsset> assets = co_await releaseAssets(http, std::move(url), stop);
    const std::optional<ReleaseAsset> archive = ipatoolAsset(assets, platform);
    if (!archive)
        throw MirvoError::message(noIPAToolAsset(platform, tag.has_value()));
    Installation installation{ipatoolDisplayName(), u"ipatool"_s, u"ipatool"_s,
                              ArchiveKind::TarGzip, *archive,     checksumFor(assets, *archive)};
    co_await fetchAndPublish(std::move(http), std::move(directory), std::move(installation),
                             std::move(onEvent), std::move(stop));
}

QCoro::Task<> installGoIOS(std::shared_ptr<HttpClient> http, QString directory, ToolPlatform platform,
                           ToolBootstrapper::EventHandler onEvent, std::stop_token stop)
{
    report(onEvent, ToolDownloadEvent::Kind::Resolving, goIOSDisplayName());
    std::optional<QUrl> url = releaseURL(Endpoints::current().goIOSRepository, std::nullopt);
    const QList<ReleaseAsset> assets = co_await releaseAssets(http, std::move(url), stop);
    const std::optional<ReleaseAsset> archive = goIOSAsset(assets, platform);
    if (!archive)
        throw MirvoError::message(noGoIOSAsset(platform));
    // The Mac archive holds one universal "ios"; the Linux one an executable per processor.
    const QString entry = platform.isMac() ? u"ios"_s : u"ios-"_s + platform.architecture;
    Installation installation{goIOSDisplayName(), u"ios"_s, entry,
                              ArchiveKind::Zip,   *archive, checksumFor(assets, *archive)};
    co_await fetchAndPublish(std::move(http), std::move(directory), std::move(installation),
                             std::move(onEvent), std::move(stop));
}

QString currentArchitecture()
{
#if defined(Q_OS_MACOS)
    // An Intel build under Rosetta still runs on Apple silicon, where the arm64 tools run natively.
    int arm64 = 0;
    size_t size = sizeof arm64;
    if (::sysctlbyname("hw.optional.arm64", &arm64, &size, nullptr, 0) == 0 && arm64 == 1)
        return u"arm64"_s;
#endif
    const QString architecture = QSysInfo::currentCpuArchitecture();
    if (architecture == u"x86_64"_s)
        return u"amd64"_s;
    return architecture;
}

} // namespace

QString ToolDownloadEvent::text() const
{
    switch (kind) {
    case Kind::Resolving:
        return u"Ищем выпуск "_s + name + u"…"_s;
    case Kind::Downloading:
        return u"Скачиваем "_s + name + u"…"_s;
    case Kind::Extracting:
        return u"Подготавливаем "_s + name + u"…"_s;
    case Kind::Installed:
        return name + u" готов"_s;
    }
    return name;
}

bool ToolPlatform::isMac() const
{
    return system == u"macos"_s;
}

ToolPlatform ToolPlatform::current()
{
#if defined(Q_OS_MACOS)
    const QString system = u"macos"_s;
#elif defined(Q_OS_LINUX)
    const QString system = u"linux"_s;
#else
    const QString system = QSysInfo::kernelType();
#endif
    return {system, currentArchitecture()};
}

ToolBootstrapper::ToolBootstrapper(QString directory, std::shared_ptr<HttpClient> http, ToolPlatform platform)
    : m_directory(std::move(directory))
    , m_http(std::move(http))
    , m_platform(std::move(platform))
{
    Q_ASSERT(m_http);
}

QCoro::Task<QStringList> ToolBootstrapper::installMissing(bool forceIPATool, EventHandler onEvent,
                                                          std::optional<QString> ipatoolRelease,
                                                          std::stop_token stop) const
{
    // Copies: the bootstrapper may be gone before the task ends.
    const QString directory = m_directory;
    const std::shared_ptr<HttpClient> http = m_http;
    const ToolPlatform platform = m_platform;

    FileSystem::createDirectory(directory, FileSystem::privateDirectoryMode);
    QStringList installed;
    if (forceIPATool || !isExecutableFile(joined(directory, u"ipatool"_s))) {
        co_await installIPATool(http, directory, platform, ipatoolRelease, onEvent, stop);
        installed.append(u"ipatool"_s);
    }
    throwIfStopped(stop);
    if (!isExecutableFile(joined(directory, u"ios"_s))) {
        co_await installGoIOS(http, directory, platform, onEvent, stop);
        installed.append(u"ios"_s);
    }
    co_return installed;
}

QCoro::Task<QList<ToolRelease>> ToolBootstrapper::ipatoolReleases(std::stop_token stop) const
{
    const std::shared_ptr<HttpClient> http = m_http;
    std::optional<QUrl> url = apiURL(Endpoints::current().ipatoolRepository, u"/releases"_s,
                                     u"per_page="_s + QString::number(listedReleases));
    const QByteArray body = co_await fetchRelease(http, std::move(url), std::move(stop));
    std::optional<QList<ToolRelease>> releases = decodeReleaseList(body);
    if (!releases)
        throw MirvoError::message(releaseUnreadable());
    co_return std::move(*releases);
}

} // namespace mirvo
