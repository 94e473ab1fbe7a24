#include "LocalStore.h"
#include "SystemError.h"
#include "TemporaryDataDirectory.h"

#include <QDir>
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
using namespace Qt::Literals::StringLiterals;

namespace {

int modeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(data), data.size());
}

} // namespace

class tst_LocalStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void createsPrivateTreeAndNarrowsItOnReopening();
    void fileInPlaceOfDirectoryThrows_data();
    void fileInPlaceOfDirectoryThrows();
    void destination_data();
    void destination();
    void savedDates_data();
    void savedDates();
    void unreadableSavedFilesThrow_data();
    void unreadableSavedFilesThrow();
    void cacheSizeAndClearing();
    void failedWriteKeepsOldContent();
};

void tst_LocalStore::createsPrivateTreeAndNarrowsItOnReopening()
{
    test::TemporaryDataDirectory data;
    const QString root = data.filePath(u"Support/Mirvo"_s);
    const LocalStore store(root);
    for (const QString& directory :
         {data.filePath(u"Support"_s), root, store.packagesPath(), store.toolsPath()})
        QCOMPARE(modeOf(directory), 0700);
    store.saveCatalog("A:1\n", QDateTime::currentDateTimeUtc());
    QCOMPARE(modeOf(root + u"/catalog.txt"_s), 0600);
    QCOMPARE(modeOf(root + u"/catalog-metadata.json"_s), 0600);

    QVERIFY(::chmod(QFile::encodeName(root).constData(), 0755) == 0);
    for (const QString& name : {u"Packages/Old.ipa"_s, u"history.json"_s, u"journal.json"_s})
        writeFile(root + u'/' + name, "x");
    const LocalStore reopened(root);
    QCOMPARE(modeOf(root), 0700);
    QCOMPARE(reopened.cachedCatalog(), std::optional<QByteArray>("A:1\n"));
    QVERIFY(QFile::exists(root + u"/Packages/Old.ipa"_s));
    QVERIFY(!QFile::exists(root + u"/history.json"_s));
    QVERIFY(!QFile::exists(root + u"/journal.json"_s));
}

void tst_LocalStore::fileInPlaceOfDirectoryThrows_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("root");

    QTest::newRow("the root") << u"Mirvo"_s << u"Mirvo"_s;
    QTest::newRow("a parent of the root") << u"Mirvo"_s << u"Mirvo/Inner"_s;
    QTest::newRow("Packages") << u"Mirvo/Packages"_s << u"Mirvo"_s;
    QTest::newRow("Tools") << u"Mirvo/Tools"_s << u"Mirvo"_s;
}

void tst_LocalStore::fileInPlaceOfDirectoryThrows()
{
    QFETCH(QString, file);
    QFETCH(QString, root);
    test::TemporaryDataDirectory data;
    QVERIFY(QDir().mkpath(QFileInfo(data.filePath(file)).path()));
    writeFile(data.filePath(file), "not a directory");

    QVERIFY_THROWS_EXCEPTION(SystemError, LocalStore(data.filePath(root)));
}

void tst_LocalStore::destination_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("colon and slash") << u"Банк: Онлайн/2"_s << u"Банк_ Онлайн_2.ipa"_s;
    QTest::newRow("parent directories") << u"../../etc/passwd"_s << u".._.._etc_passwd.ipa"_s;
    QTest::newRow("letters, digits and punctuation kept")
        << u"Ёлка-2.0 beta_x 日本 ١٢٣"_s << u"Ёлка-2.0 beta_x 日本 ١٢٣.ipa"_s;
    QTest::newRow("emoji is one character") << u"Go 🚀"_s << u"Go _.ipa"_s;
    QTest::newRow("empty") << QString() << u"IPA.ipa"_s;
}

void tst_LocalStore::destination()
{
    QFETCH(QString, name);
    QFETCH(QString, fileName);
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());

    QCOMPARE(store.destination(name), store.packagesPath() + u'/' + fileName);
}

void tst_LocalStore::savedDates_data()
{
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<bool>("given");
    QTest::addColumn<QJsonValue>("stored"); // undefined: no metadata file

    const QDateTime halfSecondBefore =
        QDateTime::fromString(u"2001-01-01T02:59:59.500+03:00"_s, Qt::ISODateWithMs);
    // Stored as seconds since 2001-01-01T00:00:00Z.
    QTest::newRow("date") << halfSecondBefore << true << QJsonValue(-0.5);
    QTest::newRow("none") << QDateTime() << false << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("invalid") << QDateTime() << true << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("absurd") << QDateTime(QDate(999'999, 1, 1), QTime(0, 0), Qt::UTC) << true
                            << QJsonValue(QJsonValue::Undefined);
}

void tst_LocalStore::savedDates()
{
    QFETCH(QDateTime, date);
    QFETCH(bool, given);
    QFETCH(QJsonValue, stored);
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    // The date of an earlier list must not pass for the new one's.
    store.saveCatalog("first", QDateTime::currentDateTimeUtc());

    store.saveCatalog("second", given ? std::optional(date) : std::nullopt);
    QFile file(data.filePath(u"catalog-metadata.json"_s));
    const QJsonValue written = file.open(QIODevice::ReadOnly)
                                   ? QJsonDocument::fromJson(file.readAll()).object().value(u"updatedAt"_s)
                                   : QJsonValue(QJsonValue::Undefined);
    QCOMPARE(written, stored);
    QCOMPARE(store.cachedCatalogUpdatedAt().value_or(QDateTime()).toMSecsSinceEpoch(),
             stored.isUndefined() ? QDateTime().toMSecsSinceEpoch() : date.toMSecsSinceEpoch());
    QCOMPARE(store.cachedCatalog(), std::optional<QByteArray>("second"));
}

void tst_LocalStore::unreadableSavedFilesThrow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // "<fifo>", "<self-link>" and "<over the cap>" set up no file

    const QString catalog = u"catalog.txt"_s;
    const QString metadata = u"catalog-metadata.json"_s;
    QTest::newRow("metadata not JSON") << metadata << QByteArray("{updatedAt: soon");
    QTest::newRow("date as text") << metadata << QByteArray(R"({"updatedAt":"2020-01-01"})");
    QTest::newRow("absurd number") << metadata << QByteArray(R"({"updatedAt":1e300})");
    QTest::newRow("metadata a FIFO") << metadata << QByteArray("<fifo>");
    QTest::newRow("metadata over its cap") << metadata << QByteArray("<over the cap>");
    QTest::newRow("catalog a FIFO") << catalog << QByteArray("<fifo>");
    QTest::newRow("catalog a link to itself") << catalog << QByteArray("<self-link>");
    QTest::newRow("catalog over its cap") << catalog << QByteArray("<over the cap>");
}

void tst_LocalStore::unreadableSavedFilesThrow()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    const QString path = data.filePath(name);
    const QByteArray native = QFile::encodeName(path);
    const bool isCatalog = name == u"catalog.txt"_s;
    if (content == "<fifo>") {
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    } else if (content == "<self-link>") {
        QCOMPARE(::symlink(native.constData(), native.constData()), 0);
    } else if (content == "<over the cap>") {
        writeFile(path, "{");
        QVERIFY(QFile::resize(
            path, 1 + (isCatalog ? LocalStore::maximumCatalogBytes : LocalStore::maximumMetadataBytes)));
    } else {
        writeFile(path, content);
    }

    if (isCatalog)
        QVERIFY_THROWS_EXCEPTION(SystemError, store.cachedCatalog());
    else
        QVERIFY_THROWS_EXCEPTION(SystemError, store.cachedCatalogUpdatedAt());
}

void tst_LocalStore::cacheSizeAndClearing()
{
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    QCOMPARE(store.cacheSizeInBytes(), 0);
    store.clearCatalogCache(); // nothing to clear is fine

    store.saveCatalog(QByteArray(1000, 'a'), QDateTime::currentDateTimeUtc());
    // Packages are not part of the catalog cache.
    writeFile(store.destination(u"Big"_s), QByteArray(5000, 'p'));
    QCOMPARE(store.cacheSizeInBytes(), 1000 + QFileInfo(data.filePath(u"catalog-metadata.json"_s)).size());

    store.clearCatalogCache();
    QCOMPARE(store.cacheSizeInBytes(), 0);
    QCOMPARE(store.cachedCatalog(), std::nullopt);
    QCOMPARE(store.cachedCatalogUpdatedAt(), std::nullopt);
    QVERIFY(QFile::exists(store.destination(u"Big"_s)));
}

void tst_LocalStore::failedWriteKeepsOldContent()
{
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    store.saveCatalog("old", std::nullopt);
    QCOMPARE(data.leftoverTemporaryFiles(), QStringList());

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
    QCOMPARE(data.leftoverTemporaryFiles(), QStringList());
}

QTEST_GUILESS_MAIN(tst_LocalStore)
#include "tst_localstore.moc"
