#include "MirvoError.h"
#include "ToolLocator.h"

#include "TemporaryDataDirectory.h"

#include <QDir>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QtTest>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

class tst_ToolLocator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void searchesItsOwnDirectories()
    {
        const QString defaultDirectory = ToolLocator::defaultToolsDirectory();
        const auto removeTools =
            qScopeGuard([defaultDirectory] { QDir(defaultDirectory).removeRecursively(); });
        QVERIFY(QDir(defaultDirectory).removeRecursively());
        try {
            ToolLocator().require(u"ios"_s);
            QFAIL("a missing tool was found");
        } catch (const MirvoError& error) {
            QCOMPARE(error, MirvoError::missingTool(u"ios"_s));
        }

        const QString ios = makeEntry(defaultDirectory, u"ios*"_s);
        QCOMPARE(ToolLocator().find(u"ios"_s), ios);
        // A given list is used as it is, even an empty one.
        QCOMPARE(ToolLocator(QStringList{}).find(u"ios"_s), std::nullopt);

        const TemporaryDataDirectory data;
        const QString ipatool = makeEntry(data.path(), u"Tools/ipatool*"_s);
        QCOMPARE(ToolLocator::inDataDirectory(data.path()).find(u"ipatool"_s), ipatool);
    }

    void finds_data()
    {
        QTest::addColumn<QStringList>("entries"); // as makeEntry() marks them
        QTest::addColumn<QStringList>("searched");
        QTest::addColumn<QString>("expected");

        QTest::newRow("not executable") << QStringList{u"a/ios"_s} << QStringList{u"a"_s} << QString();
        QTest::newRow("folder named like the tool")
            << QStringList{u"a/ios/"_s} << QStringList{u"a"_s} << QString();
        QTest::newRow("earlier directory wins")
            << QStringList{u"first/ios*"_s, u"second/ios*"_s}
            << QStringList{u"missing"_s, u"second"_s, u"first"_s} << u"second/ios"_s;
    }

    void finds()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, searched);
        QFETCH(QString, expected);
        const TemporaryDataDirectory data;
        for (const QString& entry : std::as_const(entries))
            makeEntry(data.path(), entry);
        QStringList directories;
        for (const QString& directory : std::as_const(searched))
            directories.append(data.filePath(directory));
        QCOMPARE(ToolLocator(directories).find(u"ios"_s),
                 expected.isEmpty() ? std::nullopt : std::optional(data.filePath(expected)));
    }
};

QTEST_GUILESS_MAIN(tst_ToolLocator)
#include "tst_toollocator.moc"
