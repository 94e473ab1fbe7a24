#include "TemporaryDataDirectory.h"

#include <QDirIterator>
#include <QFile>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

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

QString makeEntry(const QString& root, const QString& entry)
{
    const qsizetype at = entry.indexOf(u'@');
    const QChar mark = at >= 0 ? u'@' : entry.back();
    const bool marked = QStringView(u"/*|@").contains(mark);
    const QString path = QDir(root).filePath(at >= 0 ? entry.left(at) : marked ? entry.chopped(1) : entry);
    const QByteArray native = QFile::encodeName(path);
    // A failed check returns from the lambda only: the caller still gets the path.
    [&] {
        QVERIFY(QDir().mkpath(mark == u'/' ? path : QFileInfo(path).path()));
        if (mark == u'|')
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        else if (mark == u'@')
            QCOMPARE(::symlink(QFile::encodeName(entry.mid(at + 1)).constData(), native.constData()), 0);
        else if (mark != u'/')
            writeFile(path, {});
        if (mark == u'*')
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner));
    }();
    return path;
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
