#include "FileSystem.h"
#include "LocalStore.h"
#include "SystemError.h"
#include "TemporaryDataDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QDateTime utc(const QString& iso)
{
    return QDateTime::fromString(iso, Qt::ISODateWithMs).toUTC();
}

} // namespace

class tst_LocalStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void createsPrivateTree();
    void narrowsExistingRoot();
    void fileInPlaceOfRootThrows();
    void destination_data();
    void destination();
    void savingWithoutDateDropsMetadata();
    void dateRoundTrip_data();
    void dateRoundTrip();
    void missingCatalog();
    void damagedMetadataThrows_data();
    void damagedMetadataThrows();
    void cacheSizeAndClearing();
    void atomicWritesLeaveNoTemporaryFiles();
    void failedWriteKeepsOldContent();
    void failedMetadataWriteKeepsList();
};

void tst_LocalStore::createsPrivateTree()
{
    test::TemporaryDataDirectory data;
    const QString root = data.filePath(u"Support/Mirvo"_s);
    const LocalStore store(root);

    for (const QString& directory :
         {data.filePath(u"Support"_s), root, store.packagesPath(), store.toolsPath()})
        QCOMPARE(modeOf(directory), 0700);
    QCOMPARE(store.packagesPath(), root + u"/Packages"_s);
    QCOMPARE(store.toolsPath(), root + u"/Tools"_s);

    store.saveCatalog("A:1\n", utc(u"2024-05-01T10:00:00Z"_s));
    QCOMPARE(modeOf(root + u"/catalog.txt"_s), 0600);
    QCOMPARE(modeOf(root + u"/catalog-metadata.json"_s), 0600);

    // Opening again is fine and keeps what is there.
    const LocalStore reopened(root);
    QCOMPARE(reopened.cachedCatalog(), std::optional<QByteArray>("A:1\n"));
}

void tst_LocalStore::narrowsExistingRoot()
{
    test::TemporaryDataDirectory data;
    const QString root = data.filePath(u"Mirvo"_s);
    QVERIFY(QDir().mkpath(root + u"/Packages"_s));
    QVERIFY(::chmod(QFile::encodeName(root).constData(), 0755) == 0);
    for (const QString& name :
         {u"catalog.txt"_s, u"Packages/Old.ipa"_s, u"history.json"_s, u"journal.json"_s})
        writeFile(root + u'/' + name, "x");

    const LocalStore store(root);

    QCOMPARE(modeOf(root), 0700);
    QVERIFY(QFile::exists(root + u"/catalog.txt"_s));
    QVERIFY(QFile::exists(root + u"/Packages/Old.ipa"_s));
    QVERIFY(!QFile::exists(root + u"/history.json"_s));
    QVERIFY(!QFile::exists(root + u"/journal.json"_s));
}

void tst_LocalStore::fileInPlaceOfRootThrows()
{
    test::TemporaryDataDirectory data;
    writeFile(data.filePath(u"Mirvo"_s), "not a directory");

    try {
        LocalStore store(data.filePath(u"Mirvo"_s));
        QFAIL("a file in place of the root was accepted");
    } catch (const SystemError& error) {
        QVERIFY2(error.description().startsWith(u"Путь ведёт не к папке."_s),
                 qPrintable(error.description()));
    }
    QVERIFY_THROWS_EXCEPTION(SystemError, LocalStore(data.filePath(u"Mirvo/Inner"_s)));
}

void tst_LocalStore::destination_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("cyrillic with colon and slash") << u"Банк: Онлайн/2"_s << u"Банк_ Онлайн_2.ipa"_s;
    QTest::newRow("empty") << QString() << u"IPA.ipa"_s;
    QTest::newRow("question marks") << u"???"_s << u"___.ipa"_s;
    QTest::newRow("allowed punctuation") << u"Ёлка-2.0 beta_x"_s << u"Ёлка-2.0 beta_x.ipa"_s;
    QTest::newRow("other scripts and digits") << u"日本 ١٢٣"_s << u"日本 ١٢٣.ipa"_s;
    QTest::newRow("parent directories") << u"../../etc/passwd"_s << u".._.._etc_passwd.ipa"_s;
    QTest::newRow("backslash and newline") << u"a\\b\nc"_s << u"a_b_c.ipa"_s;
    QTest::newRow("emoji is one character") << u"Go 🚀"_s << u"Go _.ipa"_s;
}

void tst_LocalStore::destination()
{
    QFETCH(QString, name);
    QFETCH(QString, fileName);
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());

    const QFileInfo destination(store.destination(name));
    QCOMPARE(destination.fileName(), fileName);
    QCOMPARE(destination.absolutePath(), QFileInfo(store.packagesPath()).absoluteFilePath());
}

void tst_LocalStore::savingWithoutDateDropsMetadata()
{
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());

    store.saveCatalog("first", utc(u"2024-05-01T10:00:00Z"_s));
    QVERIFY(store.cachedCatalogUpdatedAt().has_value());
    store.saveCatalog("second", std::nullopt);

    QVERIFY(!QFile::exists(data.filePath(u"catalog-metadata.json"_s)));
    QCOMPARE(store.cachedCatalogUpdatedAt(), std::nullopt);
    QCOMPARE(store.cachedCatalog(), std::optional<QByteArray>("second"));
}

void tst_LocalStore::dateRoundTrip_data()
{
    QTest::addColumn<QDateTime>("date");
    QTest::addColumn<double>("storedSeconds");

    QTest::newRow("reference date") << utc(u"2001-01-01T00:00:00Z"_s) << 0.0;
    QTest::newRow("milliseconds") << utc(u"2026-12-07T14:05:33.123Z"_s) << 818345133.123;
    QTest::newRow("before the reference date") << utc(u"2000-12-31T23:59:59.500Z"_s) << -0.5;
    QTest::newRow("offset is an instant")
        << QDateTime::fromString(u"2001-01-01T03:00:01+03:00"_s, Qt::ISODate) << 1.0;
}

void tst_LocalStore::dateRoundTrip()
{
    QFETCH(QDateTime, date);
    QFETCH(double, storedSeconds);
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());

    store.saveCatalog("list", date);

    const QJsonObject stored =
        QJsonDocument::fromJson(readFile(data.filePath(u"catalog-metadata.json"_s))).object();
    QCOMPARE(stored.keys(), QStringList{u"updatedAt"_s});
    QVERIFY(stored.value(u"updatedAt"_s).isDouble());
    QCOMPARE(stored.value(u"updatedAt"_s).toDouble(), storedSeconds);

    const std::optional<QDateTime> loaded = store.cachedCatalogUpdatedAt();
    QVERIFY(loaded.has_value());
    QCOMPARE(loaded->toMSecsSinceEpoch(), date.toMSecsSinceEpoch());
    QCOMPARE(loaded->offsetFromUtc(), 0);
}

void tst_LocalStore::missingCatalog()
{
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    QCOMPARE(store.cachedCatalog(), std::nullopt);
    QCOMPARE(store.cachedCatalogUpdatedAt(), std::nullopt);
}

void tst_LocalStore::damagedMetadataThrows_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("not JSON") << QByteArray("{updatedAt: soon");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("array") << QByteArray("[1]");
    QTest::newRow("no date") << QByteArray("{}");
    QTest::newRow("date as text") << QByteArray(R"({"updatedAt":"2020-01-01"})");
    QTest::newRow("absurd number") << QByteArray(R"({"updatedAt":1e300})");
}

void tst_LocalStore::damagedMetadataThrows()
{
    QFETCH(QByteArray, content);
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    writeFile(data.filePath(u"catalog-metadata.json"_s), content);

    QVERIFY_THROWS_EXCEPTION(SystemError, store.cachedCatalogUpdatedAt());
}

void tst_LocalStore::cacheSizeAndClearing()
{
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    QCOMPARE(store.cacheSizeInBytes(), 0);
    store.clearCatalogCache();

    store.saveCatalog(QByteArray(1000, 'a'), utc(u"2024-05-01T10:00:00.250Z"_s));
    const qint64 metadataSize = QFileInfo(data.filePath(u"catalog-metadata.json"_s)).size();
    QVERIFY(metadataSize > 0);
    QCOMPARE(store.cacheSizeInBytes(), 1000 + metadataSize);
    // Packages are not part of the catalog cache.
    writeFile(store.destination(u"Big"_s), QByteArray(5000, 'p'));
    QCOMPARE(store.cacheSizeInBytes(), 1000 + metadataSize);

    store.clearCatalogCache();
    QCOMPARE(store.cacheSizeInBytes(), 0);
    QCOMPARE(store.cachedCatalog(), std::nullopt);
    QVERIFY(QFile::exists(store.destination(u"Big"_s)));
}

void tst_LocalStore::atomicWritesLeaveNoTemporaryFiles()
{
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    for (int i = 0; i < 3; ++i)
        store.saveCatalog(QByteArray::number(i), utc(u"2024-05-01T10:00:00Z"_s).addSecs(i));

    QCOMPARE(data.leftoverTemporaryFiles(), QStringList());
    QCOMPARE(store.cachedCatalog(), std::optional<QByteArray>("2"));
    QCOMPARE(modeOf(data.filePath(u"catalog.txt"_s)), 0600);
}

void tst_LocalStore::failedWriteKeepsOldContent()
{
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    store.saveCatalog("old", std::nullopt);

    // A write cut short by the file-size limit (which binds root as well) must not reach the old file.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &previous) == 0);
    rlimit small = previous;
    small.rlim_cur = 16;
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    bool threw = false;
    try {
        store.saveCatalog(QByteArray(4096, 'n'), std::nullopt);
    } catch (const SystemError&) {
        threw = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &previous);
    QVERIFY(threw);
    QCOMPARE(store.cachedCatalog(), std::optional<QByteArray>("old"));
    QCOMPARE(data.leftoverTemporaryFiles(), QStringList());

    if (::geteuid() == 0)
        QSKIP("root ignores directory permissions");
    QVERIFY(::chmod(QFile::encodeName(data.path()).constData(), 0500) == 0);
    QVERIFY_THROWS_EXCEPTION(SystemError, store.saveCatalog("new", std::nullopt));
    QVERIFY(::chmod(QFile::encodeName(data.path()).constData(), 0700) == 0);
    QCOMPARE(store.cachedCatalog(), std::optional<QByteArray>("old"));
    QCOMPARE(data.leftoverTemporaryFiles(), QStringList());
}

void tst_LocalStore::failedMetadataWriteKeepsList()
{
    test::TemporaryDataDirectory data;
    const LocalStore store(data.path());
    FileSystem::createDirectory(data.filePath(u"catalog-metadata.json/inside"_s), 0700);

    QVERIFY_THROWS_EXCEPTION(SystemError, store.saveCatalog("list", utc(u"2024-05-01T10:00:00Z"_s)));
    QCOMPARE(store.cachedCatalog(), std::optional<QByteArray>("list"));
    QCOMPARE(data.leftoverTemporaryFiles(), QStringList());
}

QTEST_GUILESS_MAIN(tst_LocalStore)
#include "tst_localstore.moc"
