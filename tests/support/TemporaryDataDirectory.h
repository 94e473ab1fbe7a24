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
