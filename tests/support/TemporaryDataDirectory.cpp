#include "TemporaryDataDirectory.h"

#include <QDirIterator>
#include <QFile>
#include <QTest>

namespace mirvo::test {

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(contents), contents.size());
}

std::optional<QByteArray> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

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
