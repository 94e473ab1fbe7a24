#include "FileSystem.h"

#include "SystemError.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace mirvo::FileSystem {

namespace {

bool isDirectory(const QByteArray& path)
{
    struct stat info {};
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

void createOneDirectory(const QString& path, mode_t mode)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return;
        throw SystemError::fromErrno(ENOTDIR, path);
    }
    if (errno != ENOENT)
        throw SystemError::fromErrno(errno, path);
    if (::mkdir(native.constData(), mode) != 0) {
        const int error = errno;
        // Someone else may have created it in the meantime.
        if (error == EEXIST && isDirectory(native))
            return;
        throw SystemError::fromErrno(error, path);
    }
    // mkdir applies the umask; the caller asked for this exact mode.
    if (::chmod(native.constData(), mode) != 0)
        throw SystemError::fromErrno(errno, path);
}

QString sizeText(qint64 bytes)
{
    constexpr qint64 kibibyte = 1024;
    constexpr qint64 mebibyte = 1024 * kibibyte;
    if (bytes >= mebibyte && bytes % mebibyte == 0)
        return QString::number(bytes / mebibyte) + u" МБ"_s;
    if (bytes >= kibibyte && bytes % kibibyte == 0)
        return QString::number(bytes / kibibyte) + u" КБ"_s;
    return QString::number(bytes) + u" байт"_s;
}

SystemError failure(const QString& text, const QString& path)
{
    return SystemError(text + u" ("_s + path + u')');
}

SystemError tooLarge(qint64 maxBytes, const QString& path)
{
    return failure(u"Файл слишком большой: больше "_s + sizeText(maxBytes) + u'.', path);
}

void requireRegularFile(const struct stat& info, const QString& path)
{
    if (S_ISDIR(info.st_mode))
        throw SystemError::fromErrno(EISDIR, path);
    if (!S_ISREG(info.st_mode))
        throw failure(u"Путь ведёт не к обычному файлу."_s, path);
}

} // namespace

void createDirectory(const QString& path, mode_t mode)
{
    if (path.isEmpty())
        throw SystemError::fromErrno(ENOENT, path);
    if (isDirectory(QFile::encodeName(path)))
        return;

    qsizetype start = path.startsWith(u'/') ? 1 : 0;
    while (start <= path.size()) {
        qsizetype slash = path.indexOf(u'/', start);
        if (slash < 0)
            slash = path.size();
        if (slash > start)
            createOneDirectory(path.left(slash), mode);
        start = slash + 1;
    }
}

void setPermissions(const QString& path, mode_t mode)
{
    if (::chmod(QFile::encodeName(path).constData(), mode) != 0)
        throw SystemError::fromErrno(errno, path);
}

void writeFileAtomically(const QString& path, const QByteArray& data, mode_t mode)
{
    const QFileInfo target(path);
    QByteArray temporary = QFile::encodeName(target.path() + u"/."_s + target.fileName() + u".tmp.XXXXXX"_s);
    int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        throw SystemError::fromErrno(errno, path);

    const auto fail = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.constData());
        return SystemError::fromErrno(error, path);
    };

    const char* next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw fail(errno);
        }
        next += written;
        left -= written;
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0)
        throw fail(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        throw fail(errno);
    if (::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0)
        throw fail(errno);

    // Make the rename itself durable; the file is already in place, so a failure here changes nothing.
    const int directory = ::open(QFile::encodeName(target.path()).constData(), O_RDONLY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
}

std::optional<QByteArray> readFileIfExists(const QString& path, qint64 maxBytes)
{
    maxBytes = std::max<qint64>(0, maxBytes);
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    // Looked at before opening: opening a FIFO waits for a writer, and opening a device may do anything.
    if (::stat(native.constData(), &info) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw SystemError::fromErrno(errno, path);
    }
    requireRegularFile(info, path);

    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw SystemError::fromErrno(errno, path);
    }
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    // Something else may have been put in its place since the first look.
    if (::fstat(fd, &info) != 0)
        throw SystemError::fromErrno(errno, path);
    requireRegularFile(info, path);
    if (info.st_size > maxBytes)
        throw tooLarge(maxBytes, path);

    QByteArray content;
    content.reserve(qsizetype(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        // Asking for one byte past the cap catches a file that grows while it is read.
        const qint64 wanted = std::min<qint64>(qint64(sizeof buffer), maxBytes + 1 - content.size());
        const ssize_t count = ::read(fd, buffer, size_t(wanted));
        if (count == 0)
            break;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw SystemError::fromErrno(errno, path);
        }
        content.append(buffer, count);
        if (content.size() > maxBytes)
            throw tooLarge(maxBytes, path);
    }
    return content;
}

bool exists(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

void moveWithoutReplacing(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
#if defined(__APPLE__)
    if (::renamex_np(source.constData(), target.constData(), RENAME_EXCL) == 0)
        return;
    if (errno != ENOTSUP)
        throw SystemError::fromErrno(errno, to);
#elif defined(__linux__)
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return;
    if (errno != EINVAL && errno != ENOSYS)
        throw SystemError::fromErrno(errno, to);
#endif
    // File systems without an exclusive rename: a hard link fails just as well when `to` exists.
    if (::link(source.constData(), target.constData()) != 0)
        throw SystemError::fromErrno(errno, to);
    ::unlink(source.constData());
}

bool removeFile(const QString& path)
{
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

qint64 fileSize(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<qint64>(info.st_size);
}

TemporaryFiles::TemporaryFiles(QStringList paths)
    : m_paths(std::move(paths))
{
}

TemporaryFiles::~TemporaryFiles()
{
    for (const QString& path : std::as_const(m_paths))
        removeFile(path);
}

} // namespace mirvo::FileSystem
