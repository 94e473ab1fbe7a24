#include "TemporaryDataDirectory.h"

#include <QDirIterator>

namespace mirvo::test {

TemporaryDataDirectory::TemporaryDataDirectory()
    : m_dir(QDir::tempPath() + QStringLiteral("/mirvo-test-XXXXXX"))
{
}

QStringList TemporaryDataDirectory::leftoverTemporaryFiles() const
{
    QStringList leftovers;
    QDirIterator it(m_dir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (name.startsWith(u'.') || name.contains(QStringLiteral(".tmp")) ||
            name.contains(QStringLiteral(".partial")))
            leftovers.append(QDir(m_dir.path()).relativeFilePath(it.filePath()));
    }
    return leftovers;
}

} // namespace mirvo::test
