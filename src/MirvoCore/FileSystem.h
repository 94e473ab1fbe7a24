#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>

// The POSIX file primitives of the store, the tool service, the icon caches and the tool bootstrapper.
// Every throwing helper throws SystemError carrying a Russian text and the path concerned.
namespace mirvo::FileSystem {

constexpr mode_t privateDirectoryMode = 0700;
constexpr mode_t privateFileMode = 0600;

// Creates `path` with its missing parents; each directory created gets exactly `mode`.
// An existing directory is fine; anything else in the way fails.
void createDirectory(const QString& path, mode_t mode = privateDirectoryMode);

void setPermissions(const QString& path, mode_t mode);

// Writes `data` to a temporary file beside `path`, flushes it to disk, gives it `mode` and moves it into
// place. On failure the temporary file is removed and a previous file at `path` stays as it was.
void writeFileAtomically(const QString& path, const QByteArray& data, mode_t mode = privateFileMode);

// The whole content of a regular file of at most `maxBytes`, or nothing when there is no file. Never
// blocks on a FIFO or a device: anything but a regular file, and a file over the cap, fails.
std::optional<QByteArray> readFileIfExists(const QString& path, qint64 maxBytes);

// Whether anything is at `path`, a dangling symbolic link included.
bool exists(const QString& path);

// Renames `from` to `to` within one file system, failing rather than replacing anything at `to`.
void moveWithoutReplacing(const QString& from, const QString& to);

// Removes a file, ignoring any error; true when it was removed.
bool removeFile(const QString& path);

// The size of a regular file; 0 when it is missing or cannot be examined.
qint64 fileSize(const QString& path);

// Temporary files that belong to one piece of work: whichever of them exist are removed when the set
// goes, however the work ended.
class TemporaryFiles {
public:
    explicit TemporaryFiles(QStringList paths);
    TemporaryFiles(const TemporaryFiles&) = delete;
    TemporaryFiles& operator=(const TemporaryFiles&) = delete;
    ~TemporaryFiles();

    const QStringList& paths() const { return m_paths; }

private:
    QStringList m_paths;
};

} // namespace mirvo::FileSystem
