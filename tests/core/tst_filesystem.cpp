#include "FileSystem.h"
#include "SystemError.h"

#include "TemporaryDataDirectory.h"

#include <QFile>
#include <QtTest>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

class tst_FileSystem : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsOnlySmallRegularFiles_data()
    {
        QTest::addColumn<QString>("entry"); // at the path, as makeEntry() marks it; none when empty
        QTest::addColumn<qint64>("size");   // of a plain file
        QTest::addColumn<QString>("error"); // the text before the path; empty when the read succeeds
        const QString notRegular = u"Путь ведёт не к обычному файлу."_s;

        QTest::newRow("missing") << QString() << qint64(0) << QString();
        QTest::newRow("exactly the cap") << u"catalog.txt"_s << cap << QString();
        QTest::newRow("sparse, far over the cap")
            << u"catalog.txt"_s << qint64(8) * 1024 * 1024 * 1024 << u"Файл слишком большой: больше 1 МБ."_s;
        QTest::newRow("FIFO") << u"catalog.txt|"_s << qint64(0) << notRegular;
        QTest::newRow("link to /dev/zero") << u"catalog.txt@/dev/zero"_s << qint64(0) << notRegular;
        QTest::newRow("folder") << u"catalog.txt/"_s << qint64(0) << u"Путь ведёт к папке, а не к файлу."_s;
        QTest::newRow("link to itself")
            << u"catalog.txt@catalog.txt"_s << qint64(0) << u"Символические ссылки в пути ведут по кругу."_s;
    }

    void readsOnlySmallRegularFiles()
    {
        QFETCH(QString, entry);
        QFETCH(qint64, size);
        QFETCH(QString, error);
        const TemporaryDataDirectory data;
        const QString path = data.filePath(u"catalog.txt"_s);
        const QByteArray content(qsizetype(std::min(size, cap)), 'c');
        if (!entry.isEmpty())
            makeEntry(data.path(), entry);
        if (entry == u"catalog.txt"_s) {
            writeFile(path, content);
            QVERIFY(QFile::resize(path, size));
        }

        try {
            const std::optional<QByteArray> read = FileSystem::readFileIfExists(path, cap);
            QVERIFY2(error.isEmpty(), "reading should have failed");
            QCOMPARE(read, entry.isEmpty() ? std::nullopt : std::optional(content));
        } catch (const SystemError& failure) {
            QCOMPARE(failure.description(), error + u" ("_s + path + u')');
        }
    }

private:
    static constexpr qint64 cap = 1024 * 1024;
};

QTEST_GUILESS_MAIN(tst_FileSystem)
#include "tst_filesystem.moc"
