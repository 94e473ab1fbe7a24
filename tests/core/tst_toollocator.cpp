#include "MirvoError.h"
#include "ToolLocator.h"

#include "TemporaryDataDirectory.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

class tst_ToolLocator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void defaultDirectoryWithoutToolsFindsNothing();
    void dataDirectoryLocatorSearchesItsToolsFolder();
    void fileWithoutExecutePermissionIsNotFound();
    void directoryNamedLikeAToolIsNotFound();
    void earlierDirectoryWins();
    void emptyListFindsNothing();
    void fixedValues();

private:
    static QString makeFile(const QString& directory, const QString& name,
                            QFileDevice::Permissions permissions);
};

void tst_ToolLocator::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

QString tst_ToolLocator::makeFile(const QString& directory, const QString& name,
                                  QFileDevice::Permissions permissions)
{
    QDir().mkpath(directory);
    QFile file(QDir(directory).filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot create a test file");
    file.write("#!/bin/sh\n");
    file.close();
    file.setPermissions(permissions);
    return file.fileName();
}

void tst_ToolLocator::defaultDirectoryWithoutToolsFindsNothing()
{
    const QString defaultDirectory = ToolLocator::defaultToolsDirectory();
    QVERIFY(defaultDirectory.endsWith(u"/Mirvo/Tools"_s));
    QDir(defaultDirectory).removeRecursively();

    const ToolLocator locator;
    QCOMPARE(locator.directories(), QStringList{defaultDirectory});
    QCOMPARE(locator.find(u"ipatool"_s), std::nullopt);
    try {
        locator.require(u"ios"_s);
        QFAIL("a missing tool was found");
    } catch (const MirvoError& error) {
        QCOMPARE(error, MirvoError::missingTool(u"ios"_s));
    }
}

void tst_ToolLocator::dataDirectoryLocatorSearchesItsToolsFolder()
{
    const test::TemporaryDataDirectory data;
    const QString tool = makeFile(data.filePath(u"Tools"_s), u"ios"_s, QFile::ReadOwner | QFile::ExeOwner);
    const ToolLocator locator = ToolLocator::inDataDirectory(data.path());
    QCOMPARE(locator.find(u"ios"_s), std::optional<QString>(tool));
    QCOMPARE(locator.require(u"ios"_s), tool);
    QCOMPARE(locator.find(u"ipatool"_s), std::nullopt);
}

void tst_ToolLocator::fileWithoutExecutePermissionIsNotFound()
{
    const test::TemporaryDataDirectory data;
    makeFile(data.path(), u"ipatool"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QCOMPARE(ToolLocator(QStringList{data.path()}).find(u"ipatool"_s), std::nullopt);
}

void tst_ToolLocator::directoryNamedLikeAToolIsNotFound()
{
    const test::TemporaryDataDirectory data;
    QVERIFY(QDir(data.path()).mkdir(u"ios"_s));
    QCOMPARE(ToolLocator(QStringList{data.path()}).find(u"ios"_s), std::nullopt);
}

void tst_ToolLocator::earlierDirectoryWins()
{
    const test::TemporaryDataDirectory data;
    const QString first = data.filePath(u"first"_s);
    const QString second = data.filePath(u"second"_s);
    const QString missing = data.filePath(u"missing"_s);
    const auto executable = QFile::ReadOwner | QFile::ExeOwner;
    const QString inFirst = makeFile(first, u"ios"_s, executable);
    const QString inSecond = makeFile(second, u"ios"_s, executable);

    QCOMPARE(ToolLocator(QStringList{missing, first, second}).find(u"ios"_s),
             std::optional<QString>(inFirst));
    QCOMPARE(ToolLocator(QStringList{second, first}).find(u"ios"_s), std::optional<QString>(inSecond));
}

void tst_ToolLocator::emptyListFindsNothing()
{
    const ToolLocator locator(QStringList{});
    QVERIFY(locator.directories().isEmpty());
    QCOMPARE(locator.find(u"ios"_s), std::nullopt);
    QVERIFY_THROWS_EXCEPTION(MirvoError, locator.require(u"ipatool"_s));
}

void tst_ToolLocator::fixedValues()
{
    QCOMPARE(ToolLocator::required(), (QStringList{u"ipatool"_s, u"ios"_s}));
    QCOMPARE(ToolLocator::minimumIPAToolVersion(), (QList<int>{2, 3, 2}));
}

QTEST_GUILESS_MAIN(tst_ToolLocator)
#include "tst_toollocator.moc"
