#include "ArtworkCache.h"
#include "AwaitTask.h"
#include "CancelledError.h"
#include "FakeHttpClient.h"
#include "MirvoError.h"
#include "Sleep.h"
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

// Answers after a pause on the event loop, so that the caller can act while the request is out.
class SlowHttpClient : public HttpClient {
public:
    QCoro::Task<HttpResponse> get(HttpRequest, std::stop_token stop) override
    {
        co_await sleepFor(0.05, stop);
        co_return FakeHttpClient::ok("icon");
    }
};

} // namespace

class tst_ArtworkCache : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void createsAPrivateDirectory();
    void openingFailsWhereAFileIsInTheWay();

    void keys_data();
    void keys();
    void onlyHttpsIsFetched_data();
    void onlyHttpsIsFetched();
    void requestCarriesTheIconCap();
    void responses_data();
    void responses();
    void aFailedFetchIsTriedAgain();
    void hitFetchesNothing();
    void emptyFileIsAMissAndIsReplaced();
    void withoutAClientOnlyStoredIconsAreGiven();
    void stopThrowsCancelled();
    void cacheGoneWhileFetching();

    void storeRefuses_data();
    void storeRefuses();
    void storeReplacesAnEarlierIcon();
    void failedMoveLeavesNoUnfinishedFile();

    void pruningDeletesTheOldestFirst();
    void aReadIconOutlivesNewerUnreadOnes();
    void pruningLeavesUnfinishedFilesAlone();

    void sizeOfEmptyOrMissingDirectoryIsZero();
    void sizeCountsEveryFile();
    void clearRemovesEveryIcon();
    void clearFailsWithoutTheDirectory();

private:
    ArtworkCache makeCache();
    QString iconPath(const QString& key) const { return m_dir->filePath(u"Artwork/"_s + key + u".image"_s); }
    QStringList storedFiles() const;

    std::optional<TemporaryDataDirectory> m_dir;
    std::shared_ptr<FakeHttpClient> m_http;
};

void tst_ArtworkCache::init()
{
    m_dir.emplace();
    m_http = std::make_shared<FakeHttpClient>([](const HttpRequest&) { return FakeHttpClient::ok("png"); });
}

ArtworkCache tst_ArtworkCache::makeCache()
{
    return ArtworkCache(m_dir->path(), u"Artwork"_s, m_http);
}

QStringList tst_ArtworkCache::storedFiles() const
{
    return QDir(m_dir->filePath(u"Artwork"_s))
        .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

void tst_ArtworkCache::createsAPrivateDirectory()
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

void tst_ArtworkCache::openingFailsWhereAFileIsInTheWay()
{
    makeEntry(m_dir->path(), u"Artwork"_s);
    QVERIFY_THROWS_EXCEPTION(SystemError, makeCache());
}

void tst_ArtworkCache::keys_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("stored");

    QTest::newRow("digits") << u"284882215"_s << true;
    QTest::newRow("one digit") << u"0"_s << true;
    QTest::newRow("letters") << u"abc"_s << false;
    QTest::newRow("trailing letter") << u"12a"_s << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("space") << u" 12"_s << false;
    QTest::newRow("sign") << u"+12"_s << false;
    QTest::newRow("path") << u"../12"_s << false;
    QTest::newRow("arabic-indic digits") << u"\u0661\u0662"_s << false;
    QTest::newRow("full-width digits") << u"\uFF11\uFF12"_s << false;
}

void tst_ArtworkCache::keys()
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

void tst_ArtworkCache::onlyHttpsIsFetched_data()
{
    QTest::addColumn<QUrl>("address");
    QTest::addColumn<bool>("fetched");

    QTest::newRow("https") << iconAddress << true;
    QTest::newRow("upper-case scheme") << QUrl(u"HTTPS://icons.example/a.png"_s) << true;
    QTest::newRow("mixed-case scheme") << QUrl(u"hTtPs://icons.example/a.png"_s) << true;
    QTest::newRow("http") << QUrl(u"http://icons.example/a.png"_s) << false;
    QTest::newRow("file") << QUrl(u"file:///tmp/a.png"_s) << false;
    QTest::newRow("no scheme") << QUrl(u"icons.example/a.png"_s) << false;
    QTest::newRow("empty") << QUrl() << false;
}

void tst_ArtworkCache::onlyHttpsIsFetched()
{
    QFETCH(QUrl, address);
    QFETCH(bool, fetched);

    ArtworkCache cache = makeCache();
    QCOMPARE(awaitTask(cache.file(u"7"_s, address)).has_value(), fetched);
    QCOMPARE(m_http->requests().size(), fetched ? 1 : 0);
    QCOMPARE(storedFiles().size(), fetched ? 1 : 0);
}

void tst_ArtworkCache::requestCarriesTheIconCap()
{
    ArtworkCache cache = makeCache();
    QVERIFY(awaitTask(cache.file(u"7"_s, iconAddress)));
    QCOMPARE(m_http->requests().size(), 1);
    const HttpRequest& request = m_http->requests().constFirst();
    const HttpRequest plain;
    QCOMPARE(request.url, iconAddress);
    QCOMPARE(request.maxBodyBytes, 5'242'880);
    QVERIFY(request.headers.isEmpty());
    QCOMPARE(request.cachePolicy, plain.cachePolicy);
    QCOMPARE(request.timeout, plain.timeout);
}

void tst_ArtworkCache::responses_data()
{
    QTest::addColumn<HttpResponse>("response");
    QTest::addColumn<bool>("stored");

    QTest::newRow("200") << FakeHttpClient::ok("icon") << true;
    QTest::newRow("299") << HttpResponse{299, "icon", false} << true;
    QTest::newRow("largest icon") << FakeHttpClient::ok(QByteArray(5'242'880, 'x')) << true;
    QTest::newRow("one byte") << FakeHttpClient::ok("x") << true;
    QTest::newRow("empty body") << FakeHttpClient::ok({}) << false;
    QTest::newRow("one byte too many") << FakeHttpClient::ok(QByteArray(5'242'881, 'x')) << false;
    QTest::newRow("over the cap while reading") << HttpResponse{200, {}, true} << false;
    QTest::newRow("404 with a body") << HttpResponse{404, "Not Found", false} << false;
    QTest::newRow("199") << HttpResponse{199, "icon", false} << false;
    QTest::newRow("300") << HttpResponse{300, "icon", false} << false;
    QTest::newRow("not HTTP") << HttpResponse{std::nullopt, "icon", false} << false;
}

void tst_ArtworkCache::responses()
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

void tst_ArtworkCache::aFailedFetchIsTriedAgain()
{
    m_http->setAnswer([](const HttpRequest&) { return FakeHttpClient::status(404); });
    ArtworkCache cache = makeCache();
    QCOMPARE(awaitTask(cache.file(u"5"_s, iconAddress)), nothing);
    QVERIFY(storedFiles().isEmpty());

    // A transport failure is no different.
    m_http->setAnswer({});
    QCOMPARE(awaitTask(cache.file(u"5"_s, iconAddress)), nothing);
    QVERIFY(storedFiles().isEmpty());

    m_http->setAnswer([](const HttpRequest&) { return FakeHttpClient::ok("icon"); });
    QCOMPARE(awaitTask(cache.file(u"5"_s, iconAddress)), some(iconPath(u"5"_s)));
    QCOMPARE(m_http->requests().size(), 3);
}

void tst_ArtworkCache::hitFetchesNothing()
{
    ArtworkCache cache = makeCache();
    QVERIFY(awaitTask(cache.file(u"5"_s, iconAddress)));
    m_http->setAnswer([](const HttpRequest&) { return FakeHttpClient::ok("newer"); });
    // Even an address that would never be fetched gives the stored icon.
    QCOMPARE(awaitTask(cache.file(u"5"_s, QUrl(u"http://elsewhere.example/b.png"_s))),
             some(iconPath(u"5"_s)));
    QCOMPARE(m_http->requests().size(), 1);
    QCOMPARE(test::readFile(iconPath(u"5"_s)), std::optional<QByteArray>("png"));
}

void tst_ArtworkCache::emptyFileIsAMissAndIsReplaced()
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

void tst_ArtworkCache::withoutAClientOnlyStoredIconsAreGiven()
{
    ArtworkCache cache(m_dir->path(), u"Artwork"_s, nullptr);
    QCOMPARE(awaitTask(cache.file(u"3"_s, iconAddress)), nothing);
    cache.store("icon", u"3"_s);
    QCOMPARE(awaitTask(cache.file(u"3"_s, iconAddress)), some(iconPath(u"3"_s)));
}

void tst_ArtworkCache::stopThrowsCancelled()
{
    ArtworkCache cache = makeCache();
    std::stop_source stop;
    stop.request_stop();
    QVERIFY_THROWS_EXCEPTION(CancelledError, awaitTask(cache.file(u"3"_s, iconAddress, stop.get_token())));
    QVERIFY(storedFiles().isEmpty());

    // A stored icon needs no request, so there is nothing to stop.
    cache.store("icon", u"3"_s);
    QCOMPARE(awaitTask(cache.file(u"3"_s, iconAddress, stop.get_token())), some(iconPath(u"3"_s)));
}

void tst_ArtworkCache::cacheGoneWhileFetching()
{
    auto cache =
        std::make_unique<ArtworkCache>(m_dir->path(), u"Artwork"_s, std::make_shared<SlowHttpClient>());
    QCoro::Task<std::optional<QString>> task = cache->file(u"3"_s, iconAddress);
    cache.reset();
    QCOMPARE(awaitTask(std::move(task)), nothing);
    QVERIFY(storedFiles().isEmpty());
}

void tst_ArtworkCache::storeRefuses_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("key");

    QTest::newRow("letters") << QByteArray("icon") << u"abc"_s;
    QTest::newRow("empty key") << QByteArray("icon") << QString();
    QTest::newRow("empty data") << QByteArray() << u"1"_s;
    QTest::newRow("one byte too many") << QByteArray(5'242'881, 'x') << u"1"_s;
}

void tst_ArtworkCache::storeRefuses()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, key);

    ArtworkCache cache = makeCache();
    try {
        cache.store(data, key);
        QFAIL("stored");
    } catch (const MirvoError& error) {
        QCOMPARE(error, MirvoError::message(u"Не удалось сохранить иконку приложения."_s));
    }
    QVERIFY(storedFiles().isEmpty());
}

void tst_ArtworkCache::storeReplacesAnEarlierIcon()
{
    ArtworkCache cache = makeCache();
    QCOMPARE(cache.store("first", u"12"_s), iconPath(u"12"_s));
    QCOMPARE(cache.store(QByteArray(5'242'880, 'x'), u"12"_s), iconPath(u"12"_s));
    QCOMPARE(storedFiles(), QStringList{u"12.image"_s});
    QCOMPARE(QFileInfo(iconPath(u"12"_s)).size(), 5'242'880);
    QCOMPARE(modeOf(iconPath(u"12"_s)), 0600);
    QVERIFY(m_dir->leftoverTemporaryFiles().isEmpty());
}

void tst_ArtworkCache::failedMoveLeavesNoUnfinishedFile()
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

void tst_ArtworkCache::pruningDeletesTheOldestFirst()
{
    ArtworkCache cache = makeCache();
    // 130 MiB in 26 icons of 5 MiB, key 1 the oldest.
    for (int key = 1; key <= 26; ++key)
        makeFile(iconPath(QString::number(key)), 5 * mebibyte, 1000 - key);
    QCOMPARE(cache.sizeInBytes(), 130 * mebibyte);

    m_http->setAnswer([](const HttpRequest&) { return FakeHttpClient::ok(QByteArray(4 * mebibyte, 'x')); });
    QCOMPARE(awaitTask(cache.file(u"100"_s, iconAddress)), some(iconPath(u"100"_s)));

    // 134 MiB went down to 124 MiB: two icons had to go, the two oldest.
    QVERIFY(!QFile::exists(iconPath(u"1"_s)));
    QVERIFY(!QFile::exists(iconPath(u"2"_s)));
    for (int key = 3; key <= 26; ++key)
        QVERIFY2(QFile::exists(iconPath(QString::number(key))), qPrintable(QString::number(key)));
    QCOMPARE(QFileInfo(iconPath(u"100"_s)).size(), 4 * mebibyte);
    QCOMPARE(cache.sizeInBytes(), 124 * mebibyte);
    QVERIFY(cache.sizeInBytes() <= ArtworkCache::maximumBytes);
}

void tst_ArtworkCache::aReadIconOutlivesNewerUnreadOnes()
{
    ArtworkCache cache = makeCache();
    // Exactly at the cap: the oldest first, then 31 icons of 4 MiB stored after it.
    makeFile(iconPath(u"1"_s), 4 * mebibyte, 1000);
    for (int key = 2; key <= 32; ++key)
        makeFile(iconPath(QString::number(key)), 4 * mebibyte, 900 - key);
    QCOMPARE(cache.sizeInBytes(), ArtworkCache::maximumBytes);

    QCOMPARE(cache.cachedURL(u"1"_s), some(iconPath(u"1"_s)));
    QVERIFY(QFileInfo(iconPath(u"1"_s)).lastModified() > QDateTime::currentDateTime().addSecs(-60));

    cache.store(QByteArray(mebibyte, 'x'), u"100"_s);
    QVERIFY(QFile::exists(iconPath(u"1"_s)));
    QVERIFY(!QFile::exists(iconPath(u"2"_s)));
    QVERIFY(QFile::exists(iconPath(u"3"_s)));
    QVERIFY(QFile::exists(iconPath(u"100"_s)));
}

void tst_ArtworkCache::pruningLeavesUnfinishedFilesAlone()
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

void tst_ArtworkCache::sizeOfEmptyOrMissingDirectoryIsZero()
{
    ArtworkCache cache = makeCache();
    QCOMPARE(cache.sizeInBytes(), 0);
    QVERIFY(QDir(cache.directory()).removeRecursively());
    QCOMPARE(cache.sizeInBytes(), 0);
}

void tst_ArtworkCache::sizeCountsEveryFile()
{
    ArtworkCache cache = makeCache();
    cache.store("12345", u"1"_s);
    cache.store("123", u"2"_s);
    makeFile(m_dir->filePath(u"Artwork/.hidden.partial"_s), 10, 0);
    makeFile(m_dir->filePath(u"Artwork/notes.txt"_s), 2, 0);
    QVERIFY(QDir().mkpath(m_dir->filePath(u"Artwork/folder"_s)));
    makeFile(m_dir->filePath(u"Artwork/folder/inside"_s), 100, 0);
    QCOMPARE(cache.sizeInBytes(), 20);
}

void tst_ArtworkCache::clearRemovesEveryIcon()
{
    ArtworkCache cache = makeCache();
    QVERIFY(awaitTask(cache.file(u"1"_s, iconAddress)));
    QVERIFY(awaitTask(cache.file(u"2"_s, iconAddress)));
    QVERIFY(QDir().mkpath(m_dir->filePath(u"Artwork/folder/deeper"_s)));
    makeFile(m_dir->filePath(u"Artwork/.left.partial"_s), 10, 0);
    QVERIFY(::chmod(QFile::encodeName(cache.directory()).constData(), 0755) == 0);

    cache.clear();
    QVERIFY(storedFiles().isEmpty());
    QVERIFY(QDir(cache.directory()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QCOMPARE(modeOf(cache.directory()), 0700);
    QCOMPARE(cache.sizeInBytes(), 0);

    QCOMPARE(awaitTask(cache.file(u"1"_s, iconAddress)), some(iconPath(u"1"_s)));
    QCOMPARE(m_http->requests().size(), 3);
}

void tst_ArtworkCache::clearFailsWithoutTheDirectory()
{
    ArtworkCache cache = makeCache();
    QVERIFY(QDir(cache.directory()).removeRecursively());
    QVERIFY_THROWS_EXCEPTION(SystemError, cache.clear());
    QVERIFY(!QFileInfo::exists(cache.directory()));
}

QTEST_GUILESS_MAIN(tst_ArtworkCache)
#include "tst_artworkcache.moc"
