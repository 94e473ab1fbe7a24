#include "AwaitTask.h"
#include "CancelledError.h"
#include "FakeHttpClient.h"
#include "LoopbackHttpServer.h"
#include "MirvoError.h"
#include "NetworkHttpClient.h"
#include "RemovedRussianApps.h"
#include "SleepUntilStopped.h"
#include "SystemError.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

#include <memory>
#include <thread>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

using Route = LoopbackHttpServer::Route;

const QString listPath = u"/kda2495/IPA_Downloader/refs/heads/main/Files/Apps_ID_List.txt"_s;
const QString commitsPath = u"/repos/kda2495/IPA_Downloader/commits"_s;
const QString commitsQuery = u"path=Files%2FApps_ID_List.txt&per_page=1"_s;
const QString topAppsPath = u"/mirvo-app/mirvo-data/refs/heads/main/files/top.json"_s;
const QString cacheBustPattern = u"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"_s;

// Counted independently of the parser: 638 lines, of which one repeats an earlier ID.
constexpr qsizetype referenceListApps = 637;

const QString catalogDownloadFailed = u"Не удалось получить обновлённый каталог приложений."_s;
const QString catalogTooLarge = u"Файл каталога слишком большой."_s;
const QString catalogUnreadable = u"Не удалось прочитать каталог приложений."_s;
const QString catalogEmpty = u"Каталог не содержит корректных приложений."_s;
const QString topAppsFailed = u"Не удалось получить список популярных приложений."_s;
const QString topAppsTooLarge = u"Список популярных приложений слишком большой."_s;
const QString topAppsUnreadable = u"Не удалось прочитать список популярных приложений."_s;
const QString topAppsEmpty = u"Список популярных приложений не содержит корректных данных."_s;

// What `produce` returns, or the text of what it throws ("cancelled" for a stop).
template <typename Produce> QString outcome(Produce produce)
{
    try {
        return produce();
    } catch (const MirvoError& error) {
        return error.errorDescription();
    } catch (const SystemError& error) {
        return error.description();
    } catch (const CancelledError&) {
        return u"cancelled"_s;
    }
}

// "id|name" per app, joined with ";".
QString catalogOutcome(const QByteArray& data)
{
    return outcome([&data] {
        QStringList apps;
        for (const CatalogApp& app : RemovedRussianApps::parseCatalog(data))
            apps.append(app.id() + u'|' + app.name());
        return apps.join(u';');
    });
}

// "id|name|domain|category" per app, joined with ";".
QString describe(const QList<TopApp>& apps)
{
    QStringList described;
    for (const TopApp& app : apps)
        described.append(QStringList{app.id, app.name, app.domain, app.category}.join(u'|'));
    return described.join(u';');
}

QString topAppsOutcome(const QByteArray& data)
{
    return outcome([&data] { return describe(RemovedRussianApps::parseTopApps(data)); });
}

QString dateText(const std::optional<QDateTime>& date)
{
    return date ? date->toUTC().toString(Qt::ISODate) : u"none"_s;
}

// "<size> bytes, <date>".
QString downloadOutcome(QCoro::Task<CatalogDownload> task)
{
    return outcome([&task]() -> QString {
        const CatalogDownload download = awaitTask(std::move(task), 20000);
        return QString::number(download.data.size()) + u" bytes, "_s + dateText(download.updatedAt);
    });
}

QString topAppsDownloadOutcome(QCoro::Task<QList<TopApp>> task)
{
    return outcome([&task] { return describe(awaitTask(std::move(task), 20000)); });
}

bool isCommitsRequest(const HttpRequest& request)
{
    return request.url.path() == commitsPath;
}

QByteArray commitsBody(const QByteArray& date)
{
    return R"([{"sha":"a1b2c3","commit":{"committer":{"name":"Someone","date":")" + date + R"("}}}])";
}

QByteArray referenceList()
{
    QFile file(QStringLiteral(DATA_DIR "/Apps_ID_List.txt"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("the reference list is missing");
    return file.readAll();
}

QByteArray validLines(int count)
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data += "Приложение " + QByteArray::number(i) + ": " + QByteArray::number(100000000 + i) + '\n';
    return data;
}

// Answers as the fake does, except for the requests `hangs` selects: those wait until stopped, as `log`
// notes.
class SuspendingHttpClient : public FakeHttpClient {
public:
    SuspendingHttpClient(std::function<bool(const HttpRequest&)> hangs, Answer answer)
        : FakeHttpClient(std::move(answer))
        , m_hangs(std::move(hangs))
    {
    }

    QStringList log;

    QCoro::Task<HttpResponse> get(HttpRequest request, std::stop_token stop) override
    {
        if (!m_hangs(request))
            co_return co_await FakeHttpClient::get(std::move(request), std::move(stop));
        const QString name = isCommitsRequest(request) ? u"commits"_s : u"list"_s;
        log.append(name + u" started"_s);
        co_await sleepUntilStopped(stop, std::make_shared<bool>(false));
        log.append(name + u" stopped"_s);
        throw CancelledError();
    }

private:
    std::function<bool(const HttpRequest&)> m_hangs;
};

// The real client, with every request sent to the loopback server instead (path and query kept) and its
// time-out scaled, so that a time-out does not hold up the test for seconds. The date request goes to
// `commitsServer` when one is given.
class LoopbackRedirect : public HttpClient {
public:
    explicit LoopbackRedirect(QUrl server, double timeoutScale = 1, QUrl commitsServer = {})
        : m_server(std::move(server))
        , m_commitsServer(std::move(commitsServer))
        , m_timeoutScale(timeoutScale)
    {
    }

    const QList<HttpRequest>& sent() const { return m_sent; }

    QCoro::Task<HttpResponse> get(HttpRequest request, std::stop_token stop) override
    {
        m_sent.append(request);
        const QUrl& target =
            isCommitsRequest(request) && !m_commitsServer.isEmpty() ? m_commitsServer : m_server;
        request.url.setScheme(target.scheme());
        request.url.setHost(target.host());
        request.url.setPort(target.port());
        request.timeout *= m_timeoutScale;
        return m_client.get(std::move(request), std::move(stop));
    }

private:
    QUrl m_server;
    QUrl m_commitsServer;
    double m_timeoutScale;
    NetworkHttpClient m_client;
    QList<HttpRequest> m_sent;
};

} // namespace

class tst_RemovedRussianApps : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.isListening()); }

    void init()
    {
        m_server.setRoute(listPath.toUtf8(), Route::answering(200, "Ozon: 407804998\n"));
        m_server.setRoute(commitsPath.toUtf8(), Route::answering(200, commitsBody("2025-03-01T09:30:00Z")));
    }

    void parseCatalog_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& data, const QString& expected) {
            QTest::newRow(name) << data << expected;
        };

        row("name with colons", "Банк: Онлайн: 1234567", u"1234567|Банк: Онлайн"_s);
        row("tabs, no-break and ideographic spaces trimmed", u"\t Ozon\u00A0:\u30001629869891\t "_s.toUtf8(),
            u"1629869891|Ozon"_s);
        row("5 digits", "A: 12345", catalogEmpty);
        row("6 digits", "A: 123456", u"123456|A"_s);
        row("20 digits", "A: 12345678901234567890", u"12345678901234567890|A"_s);
        row("21 digits", "A: 123456789012345678901", catalogEmpty);
        row("letter in the ID", "A: 12345a7", catalogEmpty);
        row("name of spaces only", "   : 1234567", catalogEmpty);
        row("no colon", "A 1234567", catalogEmpty);
        row("bad lines cost only themselves", "A 1\nB: 2\n: 3333333\nC: 4444444\nD: x444444\n",
            u"4444444|C"_s);
        row("duplicate keeps the first", "A: 1111111\nB: 2222222\nC: 1111111\n", u"1111111|A;2222222|B"_s);
        row("an invalid line takes no ID", ": 1111111\nB: 1111111\n", u"1111111|B"_s);
        row("same ID with spaces is a duplicate", "A: 1111111\nB:1111111  \n", u"1111111|A"_s);
        // Every line break Unicode names ends a line.
        for (const QString& lineBreak :
             {u"\n"_s, u"\r\n"_s, u"\r"_s, u"\v"_s, u"\f"_s, u"\u0085"_s, u"\u2028"_s, u"\u2029"_s}) {
            const QByteArray encoded = lineBreak.toUtf8();
            QTest::addRow("line break %s", encoded.toHex().constData())
                << "A: 1111111" + encoded + "B: 2222222" + encoded << u"1111111|A;2222222|B"_s;
        }
        row("a tab does not break a line", "A: 1111111\tB: 2222222", u"2222222|A: 1111111\tB"_s);
        row("byte order mark dropped", u"\uFEFFA: 1111111"_s.toUtf8(), u"1111111|A"_s);
        // Any character with a numeric value is a digit: Arabic-Indic, CJK numerals, supplementary ones.
        for (const QString& id : {u"١٢٣٤٥٦"_s, u"〇十百千万零"_s, u"𠀁𠀁𠀁𠀁𠀁𠀁"_s})
            QTest::addRow("numeral %s", qPrintable(id)) << "A: " + id.toUtf8() << id + u"|A"_s;
        row("CJK ideograph without a value", "A: 一二三四五木", catalogEmpty);
        // Characters are counted as a reader sees them: a supplementary digit takes two UTF-16 units, and a
        // digit with a combining mark is one character.
        row("20 mathematical digits", "A: 𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎", u"𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎|A"_s);
        row("5 mathematical digits", "A: 𝟏𝟐𝟑𝟒𝟓", catalogEmpty);
        row("5 digits with a combining mark", u"A: 12345\u0301"_s.toUtf8(), catalogEmpty);
        row("20 characters in 21 units", u"A: 12345678901234567890\u0301"_s.toUtf8(),
            u"12345678901234567890\u0301|A"_s);
        row("combining mark first", u"A: \u0301123456"_s.toUtf8(), catalogEmpty);
        // U+F96B decomposes canonically to U+53C3: the two spellings are one ID.
        row("canonically equivalent IDs are the same", "A: 參參參參參參\nB: 參參參參參參\n",
            u"參參參參參參|A"_s);
        row("only invalid lines", "A 1\n: 1234567\nB: 12\n", catalogEmpty);
        row("invalid byte", "A: 1234567\n\xFF", catalogUnreadable);
        row("truncated sequence", "A: 1234567\n\xD0", catalogUnreadable);
    }

    void parseCatalog()
    {
        QFETCH(QByteArray, data);
        QTEST(catalogOutcome(data), "expected");
    }

    void stopsAfterTheMaximum()
    {
        const QList<CatalogApp> apps = RemovedRussianApps::parseCatalog(validLines(6000));
        QCOMPARE(apps.size(), RemovedRussianApps::maximumApps);
        QCOMPARE(apps.last().id(), u"100004999"_s);

        // Only appended apps count: skipped and repeated lines do not.
        const QList<CatalogApp> fromNoisy =
            RemovedRussianApps::parseCatalog("bad line\nA: 100000000\n: 5555555\n" + validLines(5000));
        QCOMPARE(fromNoisy.size(), 5000);
        QCOMPARE(fromNoisy.first().name(), u"A"_s);
        QCOMPARE(fromNoisy.last().id(), u"100004999"_s);
    }

    void readsTheReferenceList()
    {
        const QList<CatalogApp> apps = RemovedRussianApps::parseCatalog(referenceList());
        QCOMPARE(apps.size(), referenceListApps);
        QCOMPARE(apps.first().id() + u'|' + apps.first().name(), u"568903335|1Password 7"_s);
        QCOMPARE(apps.last().id() + u'|' + apps.last().name(), u"387272416|Яндекс Электрички и ЖД билеты"_s);
        // The trailing space after this ID is not part of it; the repeated ID keeps the first line's name.
        const auto named = [&apps](const QString& id) {
            const auto found = std::find_if(apps.cbegin(), apps.cend(),
                                            [&id](const CatalogApp& app) { return app.id() == id; });
            return found == apps.cend() ? QString() : found->name();
        };
        QVERIFY(!named(u"1596885549"_s).isEmpty());
        QCOMPARE(named(u"1668947265"_s), u"АЗС Teboil"_s);
    }

    void parseTopApps_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& data, const QString& expected) {
            QTest::newRow(name) << data << expected;
        };
        const auto one = [](const QByteArray& id) -> QByteArray {
            return R"([{"id":)" + id + R"(,"name":"A","domain":"a.ru"}])";
        };
        const auto withDomain = [](const QByteArray& domain) -> QByteArray {
            return "[{\"id\":\"1\",\"name\":\"A\",\"domain\":\"" + domain + "\"}]";
        };

        row("number ID, loud domain, no category",
            R"([{"id":407804998,"name":"Ozon","domain":"  OZON.Ru  "}])", u"407804998|Ozon|ozon.ru|"_s);
        row("single object", R"({"id":"1","name":"A","domain":"a.ru","category":"X"})", u"1|A|a.ru|X"_s);
        row("fields trimmed",
            "[{\"id\":\" 12\\n\",\"name\":\"\\t Ozon \",\"domain\":\"ozon.ru\\n\","
            "\"category\":\" Покупки \"}]",
            u"12|Ozon|ozon.ru|Покупки"_s);
        row("order kept, a duplicate keeps the first",
            R"([{"id":"2","name":"B","domain":"b.ru"},{"id":"1","name":"A","domain":"a.ru"},)"
            R"({"id":" 1 ","name":"C","domain":"c.ru"}])",
            u"2|B|b.ru|;1|A|a.ru|"_s);
        row("skipped record takes no ID",
            R"([{"id":"1","name":" ","domain":"a.ru"},{"id":"1","name":"B","domain":"b.ru"}])",
            u"1|B|b.ru|"_s);
        row("number category", R"([{"id":"1","name":"A","domain":"a.ru","category":5}])", u"1|A|a.ru|"_s);

        row("underscore in domain", withDomain("my_bank.ru"), topAppsEmpty);
        row("Cyrillic domain", withDomain("госуслуги.рф"), topAppsEmpty);
        row("empty domain", withDomain("  "), topAppsEmpty);
        row("digits, dots and hyphens", withDomain("2GIS-App.Co.RU"), u"1|A|2gis-app.co.ru|"_s);
        row("bad domain skipped, others kept",
            R"([{"id":"1","name":"A","domain":"a_b.ru"},{"id":"2","name":"B","domain":"b.ru"}])",
            u"2|B|b.ru|"_s);

        // Text IDs, by the standard integer reading
        row("digits and a letter", one(R"("12a")"), topAppsEmpty);
        row("empty text", one(R"("")"), topAppsEmpty);
        row("plus sign kept as written", one(R"("+12")"), u"+12|A|a.ru|"_s);
        row("minus zero kept as written", one(R"("-0")"), u"-0|A|a.ru|"_s);
        row("negative text", one(R"("-5")"), topAppsEmpty);
        row("largest 64-bit value", one(R"("18446744073709551615")"), u"18446744073709551615|A|a.ru|"_s);
        row("over 64 bits", one(R"("18446744073709551616")"), topAppsEmpty);
        row("Arabic-Indic digits", one(R"("١٢٣")"), topAppsEmpty);

        // Number IDs
        row("JSON minus zero", one("-0"), u"0|A|a.ru|"_s);
        row("whole number written with a fraction", one("12.0"), u"12|A|a.ru|"_s);
        row("beyond doubles' exact integers", one("9007199254740993"), u"9007199254740993|A|a.ru|"_s);
        row("past signed 64 bits", one("10000000000000000000"), u"10000000000000000000|A|a.ru|"_s);
        row("past unsigned 64 bits", one("20000000000000000000"), topAppsUnreadable);
        row("fraction", one("1.5"), topAppsUnreadable);
        row("negative number fails the body",
            R"([{"id":"1","name":"A","domain":"a.ru"},{"id":-5,"name":"B","domain":"b.ru"}])",
            topAppsUnreadable);

        // Ill-typed or missing members fail the whole body
        row("one bad record among good ones",
            R"([{"id":"1","name":"A","domain":"a.ru"},{"id":"2","domain":"b.ru"}])", topAppsUnreadable);
        row("array of texts", R"(["1"])", topAppsUnreadable);
        row("not JSON", "<html>404</html>", topAppsUnreadable);
        row("empty object", "{}", topAppsUnreadable);
        row("empty array", "[]", topAppsEmpty);
    }

    void parseTopApps()
    {
        QFETCH(QByteArray, data);
        QTEST(topAppsOutcome(data), "expected");
    }

    void bundledTopApps()
    {
        const QList<TopApp> apps = RemovedRussianApps::bundledTopApps();
        QVERIFY2(apps.size() >= 20 && apps.size() <= 30, qPrintable(QString::number(apps.size())));

        // Every record of the file made it into the list: none was skipped as invalid or repeated.
        QFile file(u":/mirvo/core/top-apps.json"_s);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QJsonDocument::fromJson(file.readAll()).array().size(), apps.size());

        QSet<QString> removedIDs;
        for (const CatalogApp& app : RemovedRussianApps::parseCatalog(referenceList()))
            removedIDs.insert(app.id());
        for (const TopApp& app : apps) {
            QVERIFY2(removedIDs.contains(app.id), qPrintable(app.id));
            QVERIFY2(!app.category.isEmpty(), qPrintable(app.id));
        }
    }

    void catalogRequests()
    {
        // The body comes back byte for byte, not read: even bytes that are not UTF-8.
        const QByteArray body = "Ozon: 407804998\r\n\xFF\xFE garbage";
        auto http = std::make_shared<FakeHttpClient>([&body](const HttpRequest& request) {
            return FakeHttpClient::ok(isCommitsRequest(request) ? commitsBody("2025-03-01T09:30:00Z") : body);
        });
        const CatalogDownload download = awaitTask(RemovedRussianApps::downloadCatalog(http));
        QCOMPARE(download.data, body);
        QCOMPARE(dateText(download.updatedAt), u"2025-03-01T09:30:00Z"_s);

        // The date request goes out first and runs while the list is fetched; it takes far less than the
        // list's cap.
        QCOMPARE(http->requests().size(), 2);
        QVERIFY(isCommitsRequest(http->requests().at(0)));
        QCOMPARE(http->requests().at(1).url, RemovedRussianApps::remoteCatalogURL());
        QVERIFY(http->requests().at(0).maxBodyBytes < RemovedRussianApps::maximumBodyBytes);
    }

    void catalogFailures_data()
    {
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<bool>("tooLarge");
        QTest::addColumn<QString>("expected");
        QTest::newRow("299") << std::optional<int>(299) << false << u"4 bytes, 2025-03-01T09:30:00Z"_s;
        QTest::newRow("199") << std::optional<int>(199) << false << catalogDownloadFailed;
        QTest::newRow("300") << std::optional<int>(300) << false << catalogDownloadFailed;
        QTest::newRow("not HTTP") << std::optional<int>() << false << catalogDownloadFailed;
        QTest::newRow("404 and too large") << std::optional<int>(404) << true << catalogDownloadFailed;
    }

    void catalogFailures()
    {
        QFETCH(std::optional<int>, status);
        QFETCH(bool, tooLarge);
        auto http = std::make_shared<FakeHttpClient>([status, tooLarge](const HttpRequest& request) {
            if (isCommitsRequest(request))
                return FakeHttpClient::ok(commitsBody("2025-03-01T09:30:00Z"));
            return HttpResponse{status, tooLarge ? QByteArray() : "A: 1"_ba, tooLarge};
        });
        QTEST(downloadOutcome(RemovedRussianApps::downloadCatalog(http)), "expected");
    }

    void listFailureStopsAndAwaitsTheDateRequest_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("status") << 404 << catalogDownloadFailed;
        QTest::newRow("transport") << 0 << u"Сервер недоступен."_s;
    }

    void listFailureStopsAndAwaitsTheDateRequest()
    {
        QFETCH(int, status);
        auto http = std::make_shared<SuspendingHttpClient>(isCommitsRequest, [status](const HttpRequest&) {
            if (status == 0)
                throw SystemError(u"Сервер недоступен."_s);
            return FakeHttpClient::status(status);
        });
        QTEST(downloadOutcome(RemovedRussianApps::downloadCatalog(http)), "expected");
        // Checked at once: the date request had ended before the failure reached the caller.
        QCOMPARE(http->log, (QStringList{u"commits started"_s, u"commits stopped"_s}));
    }

    void callerStopReachesBothRequests()
    {
        auto http = std::make_shared<SuspendingHttpClient>([](const HttpRequest&) { return true; },
                                                           [](const HttpRequest&) { return HttpResponse{}; });
        std::stop_source source;
        QCoro::Task<CatalogDownload> task = RemovedRussianApps::downloadCatalog(http, source.get_token());
        QCOMPARE(http->log, (QStringList{u"commits started"_s, u"list started"_s}));
        std::thread([&source] { source.request_stop(); }).join();
        QCOMPARE(downloadOutcome(std::move(task)), u"cancelled"_s);
        QCOMPARE(http->log.size(), 4);
        QVERIFY(http->log.contains(u"commits stopped"_s));
        QVERIFY(http->log.contains(u"list stopped"_s));
    }

    void stopWhileOnlyTheDateIsAwaitedKeepsTheList()
    {
        auto http = std::make_shared<SuspendingHttpClient>(
            isCommitsRequest, [](const HttpRequest&) { return FakeHttpClient::ok("Ozon: 407804998"); });
        std::stop_source source;
        QCoro::Task<CatalogDownload> task = RemovedRussianApps::downloadCatalog(http, source.get_token());
        std::thread([&source] { source.request_stop(); }).join();
        QCOMPARE(downloadOutcome(std::move(task)), u"15 bytes, none"_s);
        QCOMPARE(http->log, (QStringList{u"commits started"_s, u"commits stopped"_s}));
    }

    void changeDate_data()
    {
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& body, const QString& expected,
                            std::optional<int> status = 200) {
            QTest::newRow(name) << status << body << expected;
        };
        const auto dated = [&row](const char* name, const QByteArray& date, const QString& expected) {
            row(name, commitsBody(date), expected);
        };

        dated("UTC", "2025-03-01T09:30:00Z", u"2025-03-01T09:30:00Z"_s);
        dated("negative offset", "2025-02-28T23:30:00-10:00", u"2025-03-01T09:30:00Z"_s);
        dated("fractional seconds", "2025-03-01T09:30:00.123Z", u"none"_s);
        dated("no zone", "2025-03-01T09:30:00", u"none"_s);
        dated("February 30", "2025-02-30T09:30:00Z", u"none"_s);
        dated("hour 24", "2025-03-01T24:00:00Z", u"none"_s);
        row("only the first element counts",
            R"([{"commit":{}},{"commit":{"committer":{"date":"2024-01-01T00:00:00Z"}}}])", u"none"_s);
        row("empty array", "[]", u"none"_s);
        row("author date is not the committer's",
            R"([{"commit":{"author":{"date":"2025-03-01T09:30:00Z"}}}])", u"none"_s);
        row("not JSON", "<html>rate limited</html>", u"none"_s);
        row("403 rate limited", commitsBody("2025-03-01T09:30:00Z"), u"none"_s, 403);
        row("too large", "<too large>", u"none"_s);
        row("transport failure", "<transport>", u"none"_s);
    }

    void changeDate()
    {
        QFETCH(std::optional<int>, status);
        QFETCH(QByteArray, body);
        auto http = std::make_shared<FakeHttpClient>([status, body](const HttpRequest& request) {
            if (!isCommitsRequest(request))
                return FakeHttpClient::ok("Ozon: 407804998");
            if (body == "<transport>")
                throw SystemError(u"Сервер недоступен."_s);
            return body == "<too large>" ? HttpResponse{200, {}, true} : HttpResponse{status, body, false};
        });
        QFETCH(QString, expected);
        QCOMPARE(downloadOutcome(RemovedRussianApps::downloadCatalog(http)), u"15 bytes, "_s + expected);
    }

    void topAppsFailures_data()
    {
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<bool>("tooLarge");
        QTest::addColumn<QString>("expected");
        QTest::newRow("304") << std::optional<int>(304) << false << topAppsFailed;
        QTest::newRow("not HTTP") << std::optional<int>() << false << topAppsFailed;
        QTest::newRow("no valid record") << std::optional<int>(200) << false << topAppsEmpty;
        QTest::newRow("unreachable") << std::optional<int>(0) << false << u"Сервер недоступен."_s;
    }

    void topAppsFailures()
    {
        QFETCH(std::optional<int>, status);
        QFETCH(bool, tooLarge);
        auto http = std::make_shared<FakeHttpClient>();
        if (status != 0)
            http->setAnswer([=](const HttpRequest&) { return HttpResponse{status, "[]", tooLarge}; });
        QTEST(topAppsDownloadOutcome(RemovedRussianApps::downloadTopApps(http)), "expected");
    }

    // The real client against the loopback server from here on: caps, time-outs and what goes on the wire.

    void loopbackCaps_data()
    {
        QTest::addColumn<bool>("topApps");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const QByteArray topApp = R"([{"id":"1","name":"A","domain":"a.ru"}])";
        QTest::newRow("catalog at the cap")
            << false << QByteArray(1'000'000, 'a') << u"1000000 bytes, 2025-03-01T09:30:00Z"_s;
        QTest::newRow("catalog over the cap") << false << QByteArray(1'000'001, 'a') << catalogTooLarge;
        QTest::newRow("top apps at the cap, padded")
            << true << topApp.leftJustified(1'000'000, ' ') << u"1|A|a.ru|"_s;
        QTest::newRow("top apps over the cap") << true << QByteArray(1'000'001, ' ') << topAppsTooLarge;
    }

    void loopbackCaps()
    {
        QFETCH(bool, topApps);
        QFETCH(QByteArray, body);
        m_server.setRoute((topApps ? topAppsPath : listPath).toUtf8(), Route::answering(200, body));
        auto http = std::make_shared<LoopbackRedirect>(m_server.url(u"/"_s));
        QTEST(topApps ? topAppsDownloadOutcome(RemovedRussianApps::downloadTopApps(http))
                      : downloadOutcome(RemovedRussianApps::downloadCatalog(http)),
              "expected");
        QTRY_COMPARE(m_server.connectionsInUse(), 0);
    }

    void loopbackCatalogTimeout()
    {
        Route late = Route::answering(200, "Ozon: 407804998\n");
        late.delayMs = 1000;
        m_server.setRoute(listPath.toUtf8(), late);
        // 15 s scaled down to 0.3 s.
        auto http = std::make_shared<LoopbackRedirect>(m_server.url(u"/"_s), 0.02);
        QCOMPARE(downloadOutcome(RemovedRussianApps::downloadCatalog(http)),
                 u"Превышено время ожидания ответа сервера."_s);
        QCOMPARE(http->sent().size(), 2);
        for (const HttpRequest& sent : http->sent())
            QCOMPARE(sent.timeout, isCommitsRequest(sent) ? 10.0 : 15.0);
    }

    void loopbackRequestsAsSent()
    {
        auto http = std::make_shared<LoopbackRedirect>(m_server.url(u"/"_s));
        const qsizetype before = m_server.requests().size();
        QCOMPARE(downloadOutcome(RemovedRussianApps::downloadCatalog(http)),
                 u"16 bytes, 2025-03-01T09:30:00Z"_s);
        QCOMPARE(m_server.requests().size(), before + 2);

        const auto served = [this, before](const QString& path) {
            for (qsizetype i = before; i < m_server.requests().size(); ++i) {
                if (m_server.requests().at(i).target.startsWith(path.toUtf8()))
                    return m_server.requests().at(i);
            }
            return LoopbackHttpServer::Request{};
        };
        const LoopbackHttpServer::Request commits = served(commitsPath);
        QCOMPARE(commits.method, "GET"_ba);
        QCOMPARE(commits.target, (commitsPath + u'?' + commitsQuery).toUtf8());
        QCOMPARE(commits.header("User-Agent"), "Mirvo"_ba);
        QCOMPARE(commits.header("Accept"), "application/vnd.github+json"_ba);
        QCOMPARE(commits.header("Cache-Control"), "no-cache"_ba);
        const LoopbackHttpServer::Request list = served(listPath);
        QCOMPARE(list.method, "GET"_ba);
        QCOMPARE(list.target, listPath.toUtf8());
        QVERIFY(list.header("User-Agent") != "Mirvo");
        QCOMPARE(list.header("Cache-Control"), "no-cache"_ba);

        m_server.setRoute(topAppsPath.toUtf8(),
                          Route::answering(200, R"([{"id":407804998,"name":"Ozon","domain":"OZON.RU"}])"));
        QCOMPARE(topAppsDownloadOutcome(RemovedRussianApps::downloadTopApps(http)),
                 u"407804998|Ozon|ozon.ru|"_s);
        const LoopbackHttpServer::Request top = m_server.requests().constLast();
        QVERIFY(
            QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(topAppsPath) +
                                                                   u"\\?_cacheBust="_s + cacheBustPattern))
                .match(QString::fromUtf8(top.target))
                .hasMatch());
        QCOMPARE(top.header("Cache-Control"), "no-cache, no-store, max-age=0"_ba);
        QCOMPARE(top.header("Pragma"), "no-cache"_ba);
        QCOMPARE(http->sent().constLast().timeout, 15.0);
        // Every request busts the cache anew.
        QCOMPARE(topAppsDownloadOutcome(RemovedRussianApps::downloadTopApps(http)),
                 u"407804998|Ozon|ozon.ru|"_s);
        QVERIFY(m_server.requests().constLast().target != top.target);
    }

    void loopbackChangeDateFailureKeepsTheList_data()
    {
        QTest::addColumn<bool>("closedPort");
        QTest::newRow("time-out") << false;
        QTest::newRow("nobody listening") << true;
    }

    void loopbackChangeDateFailureKeepsTheList()
    {
        QFETCH(bool, closedPort);
        // 10 s scaled down to 0.2 s; the list itself answers at once.
        Route late = Route::answering(200, commitsBody("2025-03-01T09:30:00Z"));
        late.delayMs = 1000;
        m_server.setRoute(commitsPath.toUtf8(), late);
        const QUrl dead(u"http://127.0.0.1:%1/"_s.arg(LoopbackHttpServer::closedPort()));
        auto http =
            std::make_shared<LoopbackRedirect>(m_server.url(u"/"_s), 0.02, closedPort ? dead : QUrl());
        QCOMPARE(downloadOutcome(RemovedRussianApps::downloadCatalog(http)), u"16 bytes, none"_s);
    }

private:
    LoopbackHttpServer m_server;
};

QTEST_GUILESS_MAIN(tst_RemovedRussianApps)
#include "tst_removedrussianapps.moc"
