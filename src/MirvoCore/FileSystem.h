#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/types.h>

// Small POSIX file helpers shared by the store, the icon caches and the tool bootstrapper.
// Every throwing helper throws SystemError carrying the errno text and the path concerned.
namespace mirvo::FileSystem {

// Creates `path` with its missing parents; each directory created gets exactly `mode`.
// An existing directory is fine; anything else in the way fails.
void createDirectory(const QString& path, mode_t mode);

void setPermissions(const QString& path, mode_t mode);

// Writes `data` to a temporary file beside `path`, flushes it to disk, gives it `mode` and moves it into
// place. On failure the temporary file is removed and a previous file at `path` stays as it was.
void writeFileAtomically(const QString& path, const QByteArray& data, mode_t mode);

// The whole content of the file, or nothing when it does not exist.
std::optional<QByteArray> readFileIfExists(const QString& path);

// Removes a file, ignoring any error; true when it was removed.
bool removeFile(const QString& path);

// The size of a regular file; 0 when it is missing or cannot be examined.
qint64 fileSize(const QString& path);

} // namespace mirvo::FileSystem
