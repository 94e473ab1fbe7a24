#include "FileSystem.h"
#include "SystemError.h"

#include "TemporaryDataDirectory.h"

#include <QFile>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 cap = 1024 * 1024;

} // namespace

class tst_FileSystem : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsOnlySmallRegularFiles_data();
    void readsOnlySmallRegularFiles();
};

void tst_FileSystem::readsOnlySmallRegularFiles_data()
{
    QTest::addColumn<QString>("entry"); // what lies at the path
    QTest::addColumn<qint64>("size");   // of a file
    QTest::addColumn<QString>("error"); // the text before the path; empty when the read succeeds

    QTest::newRow("missing") << u"nothing"_s << qint64(0) << QString();
    QTest::newRow("exactly the cap") << u"file"_s << cap << QString();
    QTest::newRow("sparse, far over the cap")
        << u"file"_s << qint64(8) * 1024 * 1024 * 1024 << u"Файл слишком большой: больше 1 МБ."_s;
    QTest::newRow("FIFO") << u"fifo"_s << qint64(0) << u"Путь ведёт не к обычному файлу."_s;
    QTest::newRow("link to /dev/zero") << u"/dev/zero"_s << qint64(0) << u"Путь ведёт не к обычному файлу."_s;
    QTest::newRow("folder") << u"folder"_s << qint64(0) << u"Путь ведёт к папке, а не к файлу."_s;
    QTest::newRow("link to itself") << u"self"_s << qint64(0)
                                    << u"Символические ссылки в пути ведут по кругу."_s;
}

void tst_FileSystem::readsOnlySmallRegularFiles()
{
    QFETCH(QString, entry);
    QFETCH(qint64, size);
    QFETCH(QString, error);
    const test::TemporaryDataDirectory data;
    const QString path = data.filePath(u"catalog.txt"_s);
    const QByteArray native = QFile::encodeName(path);
    QByteArray content(qsizetype(std::min(size, cap)), 'c');
    if (entry == u"file"_s) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        QVERIFY(file.resize(size));
    } else if (entry == u"fifo"_s) {
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    } else if (entry == u"folder"_s) {
        QCOMPARE(::mkdir(native.constData(), 0700), 0);
    } else if (entry == u"self"_s) {
        QCOMPARE(::symlink(native.constData(), native.constData()), 0);
    } else if (entry.startsWith(u'/')) {
        QCOMPARE(::symlink(QFile::encodeName(entry).constData(), native.constData()), 0);
    }

    try {
        const std::optional<QByteArray> read = FileSystem::readFileIfExists(path, cap);
        QVERIFY2(error.isEmpty(), "reading should have failed");
        QCOMPARE(read, entry == u"nothing"_s ? std::nullopt : std::optional(content));
    } catch (const SystemError& failure) {
        QCOMPARE(failure.description(), error + u" ("_s + path + u')');
    }
}

QTEST_GUILESS_MAIN(tst_FileSystem)
#include "tst_filesystem.moc"
