#pragma once

#include <QStringList>
#include <QTemporaryDir>

namespace mirvo::test {

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
