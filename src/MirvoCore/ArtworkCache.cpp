#include "ArtworkCache.h"

#include "CancelledError.h"
#include "FileSystem.h"
#include "MirvoError.h"
#include "SystemError.h"

#include <QFile>
#include <QList>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

struct Entry {
    QString path;
    qint64 size = 0;
    qint64 modifiedNanoseconds = 0;
};

qint64 modificationTime(const struct stat& info)
{
#if defined(__APPLE__)
    const struct timespec& time = info.st_mtimespec;
#else
    const struct timespec& time = info.st_mtim;
#endif
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// The directory's entries in the order the file system lists them. Anything but a regular file counts
// 0 bytes; an entry that vanishes or cannot be examined meanwhile is left out.
QList<Entry> listEntries(const QString& directory, bool includeHidden)
{
    DIR* dir = ::opendir(QFile::encodeName(directory).constData());
    if (!dir)
        throw SystemError::fromErrno(errno, directory);
    const auto closeDirectory = qScopeGuard([dir] { ::closedir(dir); });

    QList<Entry> entries;
    for (;;) {
        errno = 0;
        const struct dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                throw SystemError::fromErrno(errno, directory);
            break;
        }
        const QString name = QFile::decodeName(entry->d_name);
        if (name == u"."_s || name == u".."_s || (!includeHidden && name.startsWith(u'.')))
            continue;
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        entries.append({directory + u'/' + name, S_ISREG(info.st_mode) ? qint64(info.st_size) : 0,
                        modificationTime(info)});
    }
    return entries;
}

thread_local int t_removeError = 0;

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    if (::remove(path) != 0) {
        t_removeError = errno;
        return -1;
    }
    return 0;
}

// Deletes `path` with everything below it, without following symbolic links. A missing `path` fails.
void removeTree(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(native.constData(), &info) != 0)
        throw SystemError::fromErrno(errno, path);
    t_removeError = 0;
    if (::nftw(native.constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS) != 0)
        throw SystemError::fromErrno(t_removeError != 0 ? t_removeError : errno, path);
}

QString childPath(const QString& root, const QString& name)
{
    if (root.endsWith(u'/'))
        return root + name;
    return root + u'/' + name;
}

} // namespace

ArtworkCache::ArtworkCache(QString root, QString directoryName, std::shared_ptr<HttpClient> http,
                           QObject* parent)
    : QObject(parent)
    , m_directory(childPath(root, directoryName))
    , m_http(std::move(http))
{
    FileSystem::createDirectory(m_directory, FileSystem::privateDirectoryMode);
    // An existing directory keeps whatever mode it was made with.
    FileSystem::setPermissions(m_directory, FileSystem::privateDirectoryMode);
}

std::optional<QString> ArtworkCache::url(const QString& key) const
{
    static const QRegularExpression digits(u"^[0-9]+$"_s);
    if (!digits.match(key).hasMatch())
        return std::nullopt;
    return m_directory + u'/' + key + u".image"_s;
}

std::optional<QString> ArtworkCache::cachedURL(const QString& key)
{
    std::optional<QString> path = url(key);
    if (!path || FileSystem::fileSize(*path) < 1)
        return std::nullopt;
    // The modification time is what pruning orders by: a read makes the icon the newest.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    ::utimensat(AT_FDCWD, QFile::encodeName(*path).constData(), times, 0);
    return path;
}

QCoro::Task<std::optional<QString>> ArtworkCache::file(QString key, QUrl remoteURL, std::stop_token stop)
{
    if (std::optional<QString> cached = cachedURL(key))
        co_return cached;
    if (!m_http || remoteURL.scheme().compare(u"https"_s, Qt::CaseInsensitive) != 0)
        co_return std::nullopt;

    const QPointer<ArtworkCache> self(this);
    // The client must outlive the request even if the cache goes first.
    const std::shared_ptr<HttpClient> http = m_http;
    HttpRequest request;
    request.url = remoteURL;
    request.maxBodyBytes = maximumSingleFileBytes;
    HttpResponse response;
    try {
        response = co_await http->get(std::move(request), stop);
    } catch (const CancelledError&) {
        throw;
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
    if (!self)
        co_return std::nullopt;
    if (!response.isSuccess() || response.bodyTooLarge || response.body.isEmpty() ||
        response.body.size() > maximumSingleFileBytes)
        co_return std::nullopt;
    try {
        co_return store(response.body, key);
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
}

QString ArtworkCache::store(const QByteArray& data, const QString& key)
{
    const std::optional<QString> destination = url(key);
    if (!destination || data.isEmpty() || data.size() > maximumSingleFileBytes)
        throw MirvoError::message(u"Не удалось сохранить иконку приложения."_s);

    // Hidden, so that neither pruning nor a reader ever takes an unfinished icon for a stored one.
    const QString temporary =
        m_directory + u"/."_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + u".partial"_s;
    const FileSystem::TemporaryFiles cleanup({temporary});
    FileSystem::writeFileAtomically(temporary, data, FileSystem::privateFileMode);
    FileSystem::setPermissions(temporary, FileSystem::privateFileMode);
    FileSystem::removeFile(*destination);
    FileSystem::moveWithoutReplacing(temporary, *destination);
    pruneIfNeeded();
    return *destination;
}

void ArtworkCache::pruneIfNeeded()
{
    QList<Entry> entries = listEntries(m_directory, false);
    qint64 total = 0;
    for (const Entry& entry : std::as_const(entries))
        total += entry.size;
    if (total <= maximumBytes)
        return;

    std::stable_sort(entries.begin(), entries.end(), [](const Entry& left, const Entry& right) {
        return left.modifiedNanoseconds < right.modifiedNanoseconds;
    });
    for (const Entry& entry : std::as_const(entries)) {
        // A file that cannot be deleted is still taken off the sum: it does not cost other icons their place.
        FileSystem::removeFile(entry.path);
        total -= entry.size;
        if (total <= maximumBytes)
            break;
    }
}

qint64 ArtworkCache::sizeInBytes() const
{
    try {
        qint64 total = 0;
        for (const Entry& entry : listEntries(m_directory, true))
            total += entry.size;
        return total;
    } catch (const SystemError&) {
        return 0;
    }
}

void ArtworkCache::clear()
{
    removeTree(m_directory);
    FileSystem::createDirectory(m_directory, FileSystem::privateDirectoryMode);
    FileSystem::setPermissions(m_directory, FileSystem::privateDirectoryMode);
}

} // namespace mirvo
