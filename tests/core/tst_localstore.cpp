#include "FileSystem.h"
#include "LocalStore.h"
#include "SystemError.h"
#include "TemporaryDataDirectory.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

enum class Reader { FileSystem, Catalog, Metadata };

int modeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

} // namespace

class tst_LocalStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_data.emplace(); }

    void createsPrivateTreeAndNarrowsItOnReopening()
    {
        const QString root = m_data->filePath(u"Support/Mirvo"_s);
        const LocalStore store(root);
        for (const QString& directory :
             {m_data->filePath(u"Support"_s), root, store.packagesPath(), store.toolsPath()})
            QCOMPARE(modeOf(directory), 0700);
        store.saveCatalog("A:1\n", QDateTime::currentDateTimeUtc());
        QCOMPARE(modeOf(root + u"/catalog.txt"_s), 0600);
        QCOMPARE(modeOf(root + u"/catalog-metadata.json"_s), 0600);

        QVERIFY(::chmod(QFile::encodeName(root).constData(), 0755) == 0);
        for (const QString& name : {u"Packages/Old.ipa"_s, u"history.json"_s, u"journal.json"_s})
            makeEntry(root, name);
        const LocalStore reopened(root);
        QCOMPARE(modeOf(root), 0700);
        QCOMPARE(reopened.cachedCatalog(), std::optional<QByteArray>("A:1\n"));
        QVERIFY(QFile::exists(root + u"/Packages/Old.ipa"_s));
        QVERIFY(!QFile::exists(root + u"/history.json"_s));
        QVERIFY(!QFile::exists(root + u"/journal.json"_s));
    }

    void fileInPlaceOfDirectoryThrows_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("root");

        QTest::newRow("the root") << u"Mirvo"_s << u"Mirvo"_s;
        QTest::newRow("a parent of the root") << u"Mirvo"_s << u"Mirvo/Inner"_s;
        QTest::newRow("Packages") << u"Mirvo/Packages"_s << u"Mirvo"_s;
    }

    void fileInPlaceOfDirectoryThrows()
    {
        QFETCH(QString, file);
        QFETCH(QString, root);
        makeEntry(m_data->path(), file);
        QVERIFY_THROWS_EXCEPTION(SystemError, LocalStore(m_data->filePath(root)));
    }

    void destination_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("fileName");

        const QString batch = u" \u2014 284910350"_s; // " — " and an ID, as a batch names its files
        const QString ya = u"я"_s;
        // One user-perceived character of three conjoining jamo, all letters: 9 bytes.
        const QString syllable = u"\u1100\u1161\u11A8"_s;
        const QString ideograph = u"\U00020000"_s; // a letter of 4 bytes, two UTF-16 units

        QTest::newRow("fits: sanitised as before")
            << u"Банк: Онлайн/2"_s << batch << u"Банк_ Онлайн_2 _ 284910350.ipa"_s;
        QTest::newRow("fits: letters, digits and punctuation kept")
            << u"Ёлка-2.0 beta_x 日本 ١٢٣"_s << QString() << u"Ёлка-2.0 beta_x 日本 ١٢٣.ipa"_s;
        QTest::newRow("fits: emoji is one character") << u"Go 🚀"_s << QString() << u"Go _.ipa"_s;
        QTest::newRow("fits: empty name") << QString() << batch << u" _ 284910350.ipa"_s;
        QTest::newRow("fits: both empty") << QString() << QString() << u"IPA.ipa"_s;
        QTest::newRow("fits: exactly 255 bytes")
            << u"a"_s.repeated(251) << QString() << u"a"_s.repeated(251) + u".ipa"_s;
        QTest::newRow("fits: a suffix that takes exactly the room")
            << ya.repeated(119) + u"a"_s << batch << ya.repeated(119) + u"a _ 284910350.ipa"_s;
        QTest::newRow("252 ASCII letters lose one")
            << u"a"_s.repeated(252) << QString() << u"a"_s.repeated(251) + u".ipa"_s;
        QTest::newRow("the suffix stays whole")
            << ya.repeated(200) << batch << ya.repeated(119) + u" _ 284910350.ipa"_s;
        QTest::newRow("cut after sanitising")
            << u"/"_s.repeated(300) << batch << u"_"_s.repeated(239) + u" _ 284910350.ipa"_s;
        QTest::newRow("cut where a character ends")
            << syllable.repeated(30) << QString() << syllable.repeated(27) + u".ipa"_s;
        QTest::newRow("never inside a surrogate pair")
            << ideograph.repeated(64) << QString() << ideograph.repeated(62) + u".ipa"_s;
        QTest::newRow("no space left before the extension")
            << u"a"_s.repeated(250) + u"  bcd"_s << QString() << u"a"_s.repeated(250) + u".ipa"_s;
        QTest::newRow("a first character too long on its own is cut between code points")
            << u"\u1100"_s.repeated(100) + u"\u1161"_s << QString() << u"\u1100"_s.repeated(83) + u".ipa"_s;
        QTest::newRow("a suffix too long on its own")
            << u"App"_s << u"-"_s.repeated(300) << u"-"_s.repeated(251) + u".ipa"_s;
    }

    void destination()
    {
        QFETCH(QString, name);
        QFETCH(QString, suffix);
        QFETCH(QString, fileName);
        const LocalStore store(m_data->path());
        const QString destination = store.destination(name, suffix);
        QCOMPARE(destination, store.packagesPath() + u'/' + fileName);
        QVERIFY(QFileInfo(destination).fileName().toUtf8().size() <= 255);
        // The file system takes the name.
        writeFile(destination, "ipa");
        QVERIFY(QFile::exists(destination));
    }

    void savedDates_data()
    {
        QTest::addColumn<QDateTime>("date");
        QTest::addColumn<bool>("given");
        QTest::addColumn<QJsonValue>("stored"); // undefined: no metadata file

        // Stored as seconds since 2001-01-01T00:00:00Z.
        QTest::newRow("date") << QDateTime::fromString(u"2001-01-01T02:59:59.500+03:00"_s, Qt::ISODateWithMs)
                              << true << QJsonValue(-0.5);
        QTest::newRow("none") << QDateTime() << false << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("invalid") << QDateTime() << true << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("absurd") << QDateTime(QDate(999'999, 1, 1), QTime(0, 0), Qt::UTC) << true
                                << QJsonValue(QJsonValue::Undefined);
    }

    void savedDates()
    {
        QFETCH(QDateTime, date);
        QFETCH(bool, given);
        QFETCH(QJsonValue, stored);
        const LocalStore store(m_data->path());
        // The date of an earlier list must not pass for the new one's.
        store.saveCatalog("first", QDateTime::currentDateTimeUtc());

        store.saveCatalog("second", given ? std::optional(date) : std::nullopt);
        const std::optional<QByteArray> metadata = readFile(m_data->filePath(u"catalog-metadata.json"_s));
        QCOMPARE(metadata ? QJsonDocument::fromJson(*metadata).object().value(u"updatedAt"_s)
                          : QJsonValue::Undefined,
                 stored);
        QCOMPARE(store.cachedCatalogUpdatedAt().value_or(QDateTime()).toMSecsSinceEpoch(),
                 (stored.isUndefined() ? QDateTime() : date).toMSecsSinceEpoch());
        QCOMPARE(store.cachedCatalog(), std::optional<QByteArray>("second"));
    }

    void readsOnlySmallRegularFiles_data()
    {
        // The entry is made as makeEntry() marks it and then given `content`; when empty, there is none.
        QTest::addColumn<Reader>("reader");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("read"); // what was read, or the error's text with PATH for the path
        const auto row = [](const char* name, Reader reader, const QString& entry, const QByteArray& content,
                            const QString& read) {
            QTest::newRow(name) << reader << entry << content << read;
        };
        const QString notRegular = u"Путь ведёт не к обычному файлу. (PATH)"_s;
        const QString loop = u"Символические ссылки в пути ведут по кругу. (PATH)"_s;
        const QString damaged = u"Не удалось прочитать дату сохранённого каталога: файл повреждён (PATH)."_s;
        const QString catalog = u"catalog.txt"_s;
        const QString metadata = u"catalog-metadata.json"_s;
        using enum Reader;

        // The file system's own reads of catalog.txt, capped at 1 MiB.
        row("missing", FileSystem, {}, {}, u"none"_s);
        row("exactly the cap", FileSystem, catalog, QByteArray(fileCap, 'c'), QString(fileCap, u'c'));
        row("sparse, far over the cap", FileSystem, catalog, "<8 GiB>",
            u"Файл слишком большой: больше 1 МБ. (PATH)"_s);
        row("FIFO", FileSystem, catalog + u'|', {}, notRegular);
        row("link to /dev/zero", FileSystem, catalog + u"@/dev/zero"_s, {}, notRegular);
        row("folder", FileSystem, catalog + u'/', {}, u"Путь ведёт к папке, а не к файлу. (PATH)"_s);
        row("link to itself", FileSystem, catalog + u'@' + catalog, {}, loop);

        // The store's saved files go through the same reader, each with its own cap.
        row("catalog over its cap", Catalog, catalog, QByteArray(LocalStore::maximumCatalogBytes + 1, 'c'),
            u"Файл слишком большой: больше 4 МБ. (PATH)"_s);
        row("metadata not JSON", Metadata, metadata, "{updatedAt: soon", damaged);
        row("date as text", Metadata, metadata, R"({"updatedAt":"2020-01-01"})", damaged);
        row("absurd number", Metadata, metadata, R"({"updatedAt":1e300})", damaged);
        row("metadata over its cap", Metadata, metadata,
            QByteArray(R"({"updatedAt":1})").leftJustified(LocalStore::maximumMetadataBytes + 1),
            u"Файл слишком большой: больше 64 КБ. (PATH)"_s);
    }

    void readsOnlySmallRegularFiles()
    {
        QFETCH(Reader, reader);
        QFETCH(QString, entry);
        QFETCH(QByteArray, content);
        const LocalStore store(m_data->path());
        const QString path =
            entry.isEmpty() ? m_data->filePath(u"catalog.txt"_s) : makeEntry(m_data->path(), entry);
        if (content == "<8 GiB>") {
            writeFile(path, "c");
            QVERIFY(QFile::resize(path, qint64(8) << 30));
        } else if (!content.isEmpty()) {
            writeFile(path, content);
        }

        QString read;
        try {
            if (reader == Reader::Metadata) {
                read = store.cachedCatalogUpdatedAt().value_or(QDateTime()).toString(Qt::ISODate);
            } else {
                const std::optional<QByteArray> bytes = reader == Reader::Catalog
                                                            ? store.cachedCatalog()
                                                            : FileSystem::readFileIfExists(path, fileCap);
                read = bytes ? QString::fromLatin1(*bytes) : u"none"_s;
            }
        } catch (const SystemError& error) {
            read = QString(error.description()).replace(path, u"PATH"_s);
        }
        QTEST(read, "read");
    }

    void cacheSizeAndClearing()
    {
        const LocalStore store(m_data->path());
        QCOMPARE(store.cacheSizeInBytes(), 0);
        store.clearCatalogCache(); // nothing to clear is fine

        store.saveCatalog(QByteArray(1000, 'a'), QDateTime::currentDateTimeUtc());
        // Packages are not part of the catalog cache.
        writeFile(store.destination(u"Big"_s), QByteArray(5000, 'p'));
        QCOMPARE(store.cacheSizeInBytes(),
                 1000 + QFileInfo(m_data->filePath(u"catalog-metadata.json"_s)).size());

        store.clearCatalogCache();
        QCOMPARE(store.cacheSizeInBytes(), 0);
        QCOMPARE(store.cachedCatalog(), std::nullopt);
        QCOMPARE(store.cachedCatalogUpdatedAt(), std::nullopt);
        QVERIFY(QFile::exists(store.destination(u"Big"_s)));
    }

    void failedWriteKeepsOldContent()
    {
        const LocalStore store(m_data->path());
        store.saveCatalog("old", std::nullopt);
        QCOMPARE(m_data->leftoverTemporaryFiles(), QStringList());

        // A write cut short by the file-size limit (which binds root as well) must not reach the old file.
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit previous{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &previous) == 0);
        rlimit small = previous;
        small.rlim_cur = 16;
        {
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
            const auto restore = qScopeGuard([&previous] { ::setrlimit(RLIMIT_FSIZE, &previous); });
            QVERIFY_THROWS_EXCEPTION(SystemError, store.saveCatalog(QByteArray(4096, 'n'), std::nullopt));
        }
        QCOMPARE(store.cachedCatalog(), std::optional<QByteArray>("old"));
        QCOMPARE(m_data->leftoverTemporaryFiles(), QStringList());
    }

private:
    static constexpr qsizetype fileCap = 1024 * 1024;
    std::optional<TemporaryDataDirectory> m_data;
};

QTEST_GUILESS_MAIN(tst_LocalStore)
#include "tst_localstore.moc"
