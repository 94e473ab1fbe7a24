#include "FileSystem.h"

#include "SystemError.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
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

std::optional<QByteArray> readFileIfExists(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return std::nullopt;
        throw SystemError::fromErrno(errno, path);
    }

    QByteArray content;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        content.reserve(static_cast<qsizetype>(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count == 0)
            break;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            const int error = errno;
            ::close(fd);
            throw SystemError::fromErrno(error, path);
        }
        content.append(buffer, count);
    }
    ::close(fd);
    return content;
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

} // namespace mirvo::FileSystem
