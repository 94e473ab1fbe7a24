#pragma once

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace mirvo::test {

// Replaces the file at `path` with `contents`; a failure fails the running test.
void writeFile(const QString& path, const QByteArray& contents);
// What the file at `path` holds; nothing when it cannot be opened.
std::optional<QByteArray> readFile(const QString& path);
// Creates `entry` below `root`, its folders included, marked much as `ls -F` marks it: "name/" a folder,
// "name*" an empty executable file, "name|" a FIFO, "name@target" a symbolic link to `target`, "name" an
// empty file. Returns the entry's path; a failure fails the running test.
QString makeEntry(const QString& root, const QString& entry);

// A fresh directory for one test, removed afterwards.
class TemporaryDataDirectory {
public:
    TemporaryDataDirectory();

    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // Every file below the directory whose name marks it as temporary or partial
    // (a leading dot, ".tmp", ".partial"), relative to the directory.
    QStringList leftoverTemporaryFiles() const;

private:
    QTemporaryDir m_dir;
};

} // namespace mirvo::test
