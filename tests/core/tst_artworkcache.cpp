#include "ArtworkCache.h"
#include "AwaitTask.h"
#include "CancelledError.h"
#include "FakeHttpClient.h"
#include "MirvoError.h"
#include "SystemError.h"
#include "TemporaryDataDirectory.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 mebibyte = 1024 * 1024;
const QUrl iconAddress(u"https://icons.example/512x512bb.png"_s);
const std::optional<QString> nothing;

std::optional<QString> some(const QString& path)
{
    return path;
}

int modeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

// A file of `size` bytes (sparse: only its length matters here) last modified `secondsAgo` ago.
void makeFile(const QString& path, qint64 size, qint64 secondsAgo)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QVERIFY(file.resize(size));
    QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-secondsAgo),
                             QFileDevice::FileModificationTime));
}

} // namespace

class tst_ArtworkCache : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir.emplace();
        m_http =
            std::make_shared<FakeHttpClient>([](const HttpRequest&) { return FakeHttpClient::ok("png"); });
    }

    void createsAPrivateDirectory()
    {
        const QString root = m_dir->filePath(u"Support/Mirvo"_s);
        {
            const ArtworkCache cache(root, u"Favicons"_s, m_http);
            QCOMPARE(cache.directory(), root + u"/Favicons"_s);
            QCOMPARE(modeOf(cache.directory()), 0700);
        }
        // A directory left wider by someone else is narrowed on opening.
        QVERIFY(::chmod(QFile::encodeName(root + u"/Favicons"_s).constData(), 0755) == 0);
        ArtworkCache cache(root + u'/', u"Favicons"_s, m_http);
        QCOMPARE(cache.directory(), root + u"/Favicons"_s);
        QCOMPARE(modeOf(cache.directory()), 0700);

        QCOMPARE(awaitTask(cache.file(u"42"_s, iconAddress)), some(root + u"/Favicons/42.image"_s));
        QCOMPARE(modeOf(root + u"/Favicons/42.image"_s), 0600);
        QVERIFY2(m_dir->leftoverTemporaryFiles().isEmpty(),
                 qPrintable(m_dir->leftoverTemporaryFiles().join(u", ")));
    }

    void openingFailsWhereAFileIsInTheWay()
    {
        makeEntry(m_dir->path(), u"Artwork"_s);
        QVERIFY_THROWS_EXCEPTION(SystemError, makeCache());
    }

    void keys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("stored");

        QTest::newRow("digits") << u"284882215"_s << true;
        QTest::newRow("trailing letter") << u"12a"_s << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("sign") << u"+12"_s << false;
        QTest::newRow("path") << u"../12"_s << false;
        QTest::newRow("arabic-indic digits") << u"\u0661\u0662"_s << false;
    }

    void keys()
    {
        QFETCH(QString, key);
        QFETCH(bool, stored);

        ArtworkCache cache = makeCache();
        const std::optional<QString> path = awaitTask(cache.file(key, iconAddress));
        QCOMPARE(path.has_value(), stored);
        QCOMPARE(storedFiles(), stored ? QStringList{key + u".image"_s} : QStringList());
        QCOMPARE(m_http->requests().size(), 1);
        if (stored) {
            QCOMPARE(*path, iconPath(key));
            QCOMPARE(test::readFile(*path), std::optional<QByteArray>("png"));
            return;
        }
        // The key is only tested when storing: every call asks the server again.
        QCOMPARE(awaitTask(cache.file(key, iconAddress)), nothing);
        QCOMPARE(m_http->requests().size(), 2);
        QCOMPARE(cache.cachedURL(key), nothing);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{u"Artwork"_s});
    }

    void onlyHttpsIsFetched_data()
    {
        QTest::addColumn<QUrl>("address");
        QTest::addColumn<bool>("fetched");

        QTest::newRow("upper-case scheme") << QUrl(u"HTTPS://icons.example/a.png"_s) << true;
        QTest::newRow("http") << QUrl(u"http://icons.example/a.png"_s) << false;
        QTest::newRow("empty") << QUrl() << false;
    }

    void onlyHttpsIsFetched()
    {
        QFETCH(QUrl, address);
        QFETCH(bool, fetched);

        ArtworkCache cache = makeCache();
        QCOMPARE(awaitTask(cache.file(u"7"_s, address)).has_value(), fetched);
        QCOMPARE(m_http->requests().size(), fetched ? 1 : 0);
        QCOMPARE(storedFiles().size(), fetched ? 1 : 0);
    }

    void responses_data()
    {
        QTest::addColumn<HttpResponse>("response");
        QTest::addColumn<bool>("stored");

        QTest::newRow("299") << HttpResponse{299, "icon", false} << true;
        QTest::newRow("largest icon") << FakeHttpClient::ok(QByteArray(5'242'880, 'x')) << true;
        QTest::newRow("empty body") << FakeHttpClient::ok({}) << false;
        QTest::newRow("one byte too many") << FakeHttpClient::ok(QByteArray(5'242'881, 'x')) << false;
        QTest::newRow("over the cap while reading") << HttpResponse{200, {}, true} << false;
        QTest::newRow("not HTTP") << HttpResponse{std::nullopt, "icon", false} << false;
    }

    void responses()
    {
        QFETCH(HttpResponse, response);
        QFETCH(bool, stored);

        m_http->setAnswer([response](const HttpRequest&) { return response; });
        ArtworkCache cache = makeCache();
        const std::optional<QString> path = awaitTask(cache.file(u"99"_s, iconAddress));
        QCOMPARE(path.has_value(), stored);
        QCOMPARE(storedFiles(), stored ? QStringList{u"99.image"_s} : QStringList());
        if (stored)
            QCOMPARE(test::readFile(*path), std::optional(response.body));
    }

    void aFailedFetchIsTriedAgain()
    {
        m_http->setAnswer({}); // the host cannot be reached
        ArtworkCache cache = makeCache();
        QCOMPARE(awaitTask(cache.file(u"5"_s, iconAddress)), nothing);
        QVERIFY(storedFiles().isEmpty());

        m_http->setAnswer([](const HttpRequest&) { return FakeHttpClient::ok("icon"); });
        QCOMPARE(awaitTask(cache.file(u"5"_s, iconAddress)), some(iconPath(u"5"_s)));
        QCOMPARE(m_http->requests().size(), 2);
    }

    void hitFetchesNothing()
    {
        ArtworkCache cache = makeCache();
        QVERIFY(awaitTask(cache.file(u"5"_s, iconAddress)));
        // The fetch carries the icon cap, so that the client stops reading past it.
        QCOMPARE(m_http->requests().constFirst().url, iconAddress);
        QCOMPARE(m_http->requests().constFirst().maxBodyBytes, 5'242'880);
        m_http->setAnswer([](const HttpRequest&) { return FakeHttpClient::ok("newer"); });
        // Even an address that would never be fetched gives the stored icon.
        QCOMPARE(awaitTask(cache.file(u"5"_s, QUrl(u"http://elsewhere.example/b.png"_s))),
                 some(iconPath(u"5"_s)));
        QCOMPARE(m_http->requests().size(), 1);
        QCOMPARE(test::readFile(iconPath(u"5"_s)), std::optional<QByteArray>("png"));
    }

    void emptyFileIsAMissAndIsReplaced()
    {
        ArtworkCache cache = makeCache();
        makeFile(iconPath(u"8"_s), 0, 0);
        QCOMPARE(cache.cachedURL(u"8"_s), nothing);
        QCOMPARE(awaitTask(cache.file(u"8"_s, iconAddress)), some(iconPath(u"8"_s)));
        QCOMPARE(m_http->requests().size(), 1);
        QCOMPARE(test::readFile(iconPath(u"8"_s)), std::optional<QByteArray>("png"));
        QCOMPARE(cache.cachedURL(u"8"_s), some(iconPath(u"8"_s)));

        // Something other than a file under an icon's name is a miss as well.
        QVERIFY(QDir().mkpath(iconPath(u"9"_s)));
        QCOMPARE(cache.cachedURL(u"9"_s), nothing);
    }

    void withoutAClientOnlyStoredIconsAreGiven()
    {
        ArtworkCache cache(m_dir->path(), u"Artwork"_s, nullptr);
        QCOMPARE(awaitTask(cache.file(u"3"_s, iconAddress)), nothing);
        cache.store("icon", u"3"_s);
        QCOMPARE(awaitTask(cache.file(u"3"_s, iconAddress)), some(iconPath(u"3"_s)));
    }

    void stopThrowsCancelled()
    {
        ArtworkCache cache = makeCache();
        std::stop_source stop;
        stop.request_stop();
        QVERIFY_THROWS_EXCEPTION(CancelledError,
                                 awaitTask(cache.file(u"3"_s, iconAddress, stop.get_token())));
        QVERIFY(storedFiles().isEmpty());

        // A stored icon needs no request, so there is nothing to stop.
        cache.store("icon", u"3"_s);
        QCOMPARE(awaitTask(cache.file(u"3"_s, iconAddress, stop.get_token())), some(iconPath(u"3"_s)));
    }

    void cacheGoneWhileFetching()
    {
        m_http->setDelay(0.05); // the answer comes after the cache is gone
        auto cache = std::make_unique<ArtworkCache>(m_dir->path(), u"Artwork"_s, m_http);
        QCoro::Task<std::optional<QString>> task = cache->file(u"3"_s, iconAddress);
        cache.reset();
        QCOMPARE(awaitTask(std::move(task)), nothing);
        QVERIFY(storedFiles().isEmpty());
    }

    void storeRefuses()
    {
        ArtworkCache cache = makeCache();
        QVERIFY_THROWS_EXCEPTION(MirvoError, cache.store("icon", u"abc"_s));
        QVERIFY_THROWS_EXCEPTION(MirvoError, cache.store({}, u"1"_s));
        QVERIFY_THROWS_EXCEPTION(MirvoError, cache.store(QByteArray(5'242'881, 'x'), u"1"_s));
        QVERIFY(storedFiles().isEmpty());
    }

    void storeReplacesAnEarlierIcon()
    {
        ArtworkCache cache = makeCache();
        QCOMPARE(cache.store("first", u"12"_s), iconPath(u"12"_s));
        QCOMPARE(cache.store(QByteArray(5'242'880, 'x'), u"12"_s), iconPath(u"12"_s));
        QCOMPARE(storedFiles(), QStringList{u"12.image"_s});
        QCOMPARE(QFileInfo(iconPath(u"12"_s)).size(), 5'242'880);
        QCOMPARE(modeOf(iconPath(u"12"_s)), 0600);
        QVERIFY(m_dir->leftoverTemporaryFiles().isEmpty());
    }

    void failedMoveLeavesNoUnfinishedFile()
    {
        ArtworkCache cache = makeCache();
        // A folder that is not empty cannot be replaced by the icon.
        makeEntry(cache.directory(), u"4.image/inside"_s);
        QVERIFY_THROWS_EXCEPTION(SystemError, cache.store("icon", u"4"_s));
        QCOMPARE(awaitTask(cache.file(u"4"_s, iconAddress)), nothing);
        QCOMPARE(m_http->requests().size(), 1);
        QCOMPARE(storedFiles(), QStringList());
        QVERIFY2(m_dir->leftoverTemporaryFiles().isEmpty(),
                 qPrintable(m_dir->leftoverTemporaryFiles().join(u", ")));
    }

    void pruningDeletesTheOldestFirst()
    {
        ArtworkCache cache = makeCache();
        // 130 MiB in 26 icons of 5 MiB, key 1 the oldest.
        for (int key = 1; key <= 26; ++key)
            makeFile(iconPath(QString::number(key)), 5 * mebibyte, 1000 - key);
        QCOMPARE(cache.sizeInBytes(), 130 * mebibyte);

        m_http->setAnswer(
            [](const HttpRequest&) { return FakeHttpClient::ok(QByteArray(4 * mebibyte, 'x')); });
        QCOMPARE(awaitTask(cache.file(u"100"_s, iconAddress)), some(iconPath(u"100"_s)));

        // 134 MiB went down to 124 MiB: two icons had to go, the two oldest.
        QVERIFY(!QFile::exists(iconPath(u"1"_s)));
        QVERIFY(!QFile::exists(iconPath(u"2"_s)));
        QCOMPARE(cache.sizeInBytes(), 124 * mebibyte);
    }

    void aReadIconOutlivesNewerUnreadOnes()
    {
        ArtworkCache cache = makeCache();
        // Exactly at the cap: the oldest first, then 31 icons of 4 MiB stored after it.
        makeFile(iconPath(u"1"_s), 4 * mebibyte, 1000);
        for (int key = 2; key <= 32; ++key)
            makeFile(iconPath(QString::number(key)), 4 * mebibyte, 900 - key);
        QCOMPARE(cache.sizeInBytes(), ArtworkCache::maximumBytes);

        QCOMPARE(cache.cachedURL(u"1"_s), some(iconPath(u"1"_s)));

        cache.store(QByteArray(mebibyte, 'x'), u"100"_s);
        QVERIFY(QFile::exists(iconPath(u"1"_s)));
        QVERIFY(!QFile::exists(iconPath(u"2"_s)));
        QCOMPARE(cache.sizeInBytes(), ArtworkCache::maximumBytes - 3 * mebibyte);
    }

    void pruningLeavesUnfinishedFilesAlone()
    {
        ArtworkCache cache = makeCache();
        const QString unfinished = m_dir->filePath(u"Artwork/.0A1B.partial"_s);
        makeFile(unfinished, 200 * mebibyte, 5000);
        makeFile(iconPath(u"1"_s), 4 * mebibyte, 1000);

        cache.store("icon", u"2"_s);
        QVERIFY(QFile::exists(unfinished));
        QVERIFY(QFile::exists(iconPath(u"1"_s)));
        // The size display does count it.
        QCOMPARE(cache.sizeInBytes(), 204 * mebibyte + 4);
    }

    void sizeCountsEveryFile()
    {
        ArtworkCache cache = makeCache();
        QCOMPARE(cache.sizeInBytes(), 0);
        cache.store("12345", u"1"_s);
        cache.store("123", u"2"_s);
        makeFile(m_dir->filePath(u"Artwork/.hidden.partial"_s), 10, 0);
        makeFile(m_dir->filePath(u"Artwork/notes.txt"_s), 2, 0);
        QVERIFY(QDir().mkpath(m_dir->filePath(u"Artwork/folder"_s)));
        makeFile(m_dir->filePath(u"Artwork/folder/inside"_s), 100, 0);
        QCOMPARE(cache.sizeInBytes(), 20);
        QVERIFY(QDir(cache.directory()).removeRecursively());
        QCOMPARE(cache.sizeInBytes(), 0);
    }

    void clearRemovesEveryIcon()
    {
        ArtworkCache cache = makeCache();
        QVERIFY(awaitTask(cache.file(u"1"_s, iconAddress)));
        QVERIFY(awaitTask(cache.file(u"2"_s, iconAddress)));
        QVERIFY(QDir().mkpath(m_dir->filePath(u"Artwork/folder/deeper"_s)));
        makeFile(m_dir->filePath(u"Artwork/.left.partial"_s), 10, 0);
        QVERIFY(::chmod(QFile::encodeName(cache.directory()).constData(), 0755) == 0);

        cache.clear();
        QVERIFY(QDir(cache.directory()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QCOMPARE(modeOf(cache.directory()), 0700);

        QCOMPARE(awaitTask(cache.file(u"1"_s, iconAddress)), some(iconPath(u"1"_s)));
        QCOMPARE(m_http->requests().size(), 3);
    }

    void clearFailsWithoutTheDirectory()
    {
        ArtworkCache cache = makeCache();
        QVERIFY(QDir(cache.directory()).removeRecursively());
        QVERIFY_THROWS_EXCEPTION(SystemError, cache.clear());
        QVERIFY(!QFileInfo::exists(cache.directory()));
    }

private:
    ArtworkCache makeCache() { return ArtworkCache(m_dir->path(), u"Artwork"_s, m_http); }

    QString iconPath(const QString& key) const { return m_dir->filePath(u"Artwork/"_s + key + u".image"_s); }
    QStringList storedFiles() const
    {
        return QDir(m_dir->filePath(u"Artwork"_s))
            .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    std::optional<TemporaryDataDirectory> m_dir;
    std::shared_ptr<FakeHttpClient> m_http;
};

QTEST_GUILESS_MAIN(tst_ArtworkCache)
#include "tst_artworkcache.moc"
