#include "MirvoError.h"
#include "ToolLocator.h"

#include "TemporaryDataDirectory.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

// Creates `entry` below `root`, marked as `ls -F` does: "name*" an executable file, "name/" a folder,
// "name" a plain file.
void makeEntry(const QDir& root, const QString& entry)
{
    const bool folder = entry.endsWith(u'/');
    const bool executable = entry.endsWith(u'*');
    const QString path = root.filePath(folder || executable ? entry.chopped(1) : entry);
    QVERIFY(QDir().mkpath(folder ? path : QFileInfo(path).path()));
    if (folder)
        return;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.setPermissions(executable ? QFile::ReadOwner | QFile::ExeOwner : QFile::ReadOwner));
}

} // namespace

class tst_ToolLocator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void searchesItsOwnDirectories();
    void finds_data();
    void finds();
};

void tst_ToolLocator::searchesItsOwnDirectories()
{
    const QDir defaultDirectory(ToolLocator::defaultToolsDirectory());
    const auto removeTools = qScopeGuard([defaultDirectory] { QDir(defaultDirectory).removeRecursively(); });
    QVERIFY(QDir(defaultDirectory).removeRecursively());
    try {
        ToolLocator().require(u"ios"_s);
        QFAIL("a missing tool was found");
    } catch (const MirvoError& error) {
        QCOMPARE(error, MirvoError::missingTool(u"ios"_s));
    }

    makeEntry(defaultDirectory, u"ios*"_s);
    QCOMPARE(ToolLocator().find(u"ios"_s), std::optional(defaultDirectory.filePath(u"ios"_s)));
    // A given list is used as it is, even an empty one.
    QCOMPARE(ToolLocator(QStringList{}).find(u"ios"_s), std::nullopt);

    const test::TemporaryDataDirectory data;
    makeEntry(QDir(data.path()), u"Tools/ipatool*"_s);
    QCOMPARE(ToolLocator::inDataDirectory(data.path()).find(u"ipatool"_s),
             std::optional(data.filePath(u"Tools/ipatool"_s)));
}

void tst_ToolLocator::finds_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("searched");
    QTest::addColumn<QString>("expected");

    QTest::newRow("not executable") << QStringList{u"a/ios"_s} << QStringList{u"a"_s} << QString();
    QTest::newRow("folder named like the tool")
        << QStringList{u"a/ios/"_s} << QStringList{u"a"_s} << QString();
    QTest::newRow("earlier directory wins")
        << QStringList{u"first/ios*"_s, u"second/ios*"_s}
        << QStringList{u"missing"_s, u"second"_s, u"first"_s} << u"second/ios"_s;
}

void tst_ToolLocator::finds()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, searched);
    QFETCH(QString, expected);
    const test::TemporaryDataDirectory data;
    const QDir root(data.path());
    for (const QString& entry : std::as_const(entries))
        makeEntry(root, entry);
    QStringList directories;
    for (const QString& directory : std::as_const(searched))
        directories.append(root.filePath(directory));
    QCOMPARE(ToolLocator(directories).find(u"ios"_s),
             expected.isEmpty() ? std::nullopt : std::optional(root.filePath(expected)));
}

QTEST_GUILESS_MAIN(tst_ToolLocator)
#include "tst_toollocator.moc"
