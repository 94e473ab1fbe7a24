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
#include <QUrlQuery>
#include <QUuid>
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

// Counted independently of the parser: 638 lines, of which one repeats an earlier ID.
constexpr qsizetype referenceListApps = 637;

QString catalogDownloadFailed()
{
    return u"Не удалось получить обновлённый каталог приложений."_s;
}

QString catalogTooLarge()
{
    return u"Файл каталога слишком большой."_s;
}

QString catalogUnreadable()
{
    return u"Не удалось прочитать каталог приложений."_s;
}

QString catalogEmpty()
{
    return u"Каталог не содержит корректных приложений."_s;
}

QString topAppsUnreadable()
{
    return u"Не удалось прочитать список популярных приложений."_s;
}

QString topAppsEmpty()
{
    return u"Список популярных приложений не содержит корректных данных."_s;
}

QString timedOut()
{
    return u"Превышено время ожидания ответа сервера."_s;
}

// "id|name" per app, joined with ";", or the error's text.
QString catalogOutcome(const QByteArray& data)
{
    try {
        QStringList apps;
        for (const CatalogApp& app : RemovedRussianApps::parseCatalog(data))
            apps.append(app.id() + u'|' + app.name());
        return apps.join(u';');
    } catch (const MirvoError& error) {
        return error.errorDescription();
    }
}

QString describe(const QList<TopApp>& apps)
{
    QStringList described;
    for (const TopApp& app : apps)
        described.append(QStringList{app.id, app.name, app.domain, app.category}.join(u'|'));
    return described.join(u';');
}

// "id|name|domain|category" per app, joined with ";", or the error's text.
QString topAppsOutcome(const QByteArray& data)
{
    try {
        return describe(RemovedRussianApps::parseTopApps(data));
    } catch (const MirvoError& error) {
        return error.errorDescription();
    }
}

QString dateText(const std::optional<QDateTime>& date)
{
    if (!date)
        return u"none"_s;
    return date->toUTC().toString(Qt::ISODate);
}

// How a download ended: "<size> bytes, <date>", "cancelled" or the error's text.
QString downloadOutcome(QCoro::Task<CatalogDownload> task)
{
    try {
        const CatalogDownload download = awaitTask(std::move(task), 20000);
        return QString::number(download.data.size()) + u" bytes, "_s + dateText(download.updatedAt);
    } catch (const MirvoError& error) {
        return error.errorDescription();
    } catch (const SystemError& error) {
        return error.description();
    } catch (const CancelledError&) {
        return u"cancelled"_s;
    }
}

QString topAppsDownloadOutcome(QCoro::Task<QList<TopApp>> task)
{
    try {
        return describe(awaitTask(std::move(task), 20000));
    } catch (const MirvoError& error) {
        return error.errorDescription();
    } catch (const SystemError& error) {
        return error.description();
    } catch (const CancelledError&) {
        return u"cancelled"_s;
    }
}

bool isCommitsRequest(const HttpRequest& request)
{
    return request.url.path() == commitsPath;
}

QByteArray commitsBody(const QByteArray& date)
{
    return R"([{"sha":"a1b2c3","commit":{"committer":{"name":"Someone","email":"someone@example.com","date":")" +
           date + R"("},"message":"Update list"}}])";
}

QByteArray referenceList()
{
    QFile file(QStringLiteral(DATA_DIR "/Apps_ID_List.txt"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("the reference list is missing");
    return file.readAll();
}

QByteArray validLines(int count, int firstID = 100000000)
{
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data += "Приложение " + QByteArray::number(i) + ": " + QByteArray::number(firstID + i) + '\n';
    return data;
}

// Answers at once, except for the requests `hangs` selects: those wait until stopped and note it in `log`.
class SuspendingHttpClient : public HttpClient {
public:
    using Answer = std::function<HttpResponse(const HttpRequest&)>;
    using Selector = std::function<bool(const HttpRequest&)>;

    SuspendingHttpClient(Selector hangs, Answer answer)
        : m_hangs(std::move(hangs))
        , m_answer(std::move(answer))
    {
    }

    const QStringList& log() const { return m_log; }

    QCoro::Task<HttpResponse> get(HttpRequest request, std::stop_token stop) override
    {
        const QString name = isCommitsRequest(request) ? u"commits"_s : u"list"_s;
        if (!m_hangs(request))
            co_return m_answer(request);
        m_log.append(name + u" started"_s);
        auto cancelled = std::make_shared<bool>(false);
        co_await sleepUntilStopped(stop, cancelled);
        m_log.append(name + u" stopped"_s);
        throw CancelledError();
    }

private:
    Selector m_hangs;
    Answer m_answer;
    QStringList m_log;
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

    void addresses()
    {
        QCOMPARE(RemovedRussianApps::remoteCatalogURL(),
                 QUrl(u"https://raw.githubusercontent.com/kda2495/IPA_Downloader/refs/heads/main/"
                      u"Files/Apps_ID_List.txt"_s));
        QCOMPARE(
            RemovedRussianApps::topAppsURL(),
            QUrl(u"https://raw.githubusercontent.com/mirvo-app/mirvo-data/refs/heads/main/files/top.json"_s));
    }

    void parseCatalog_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& data, const QString& expected) {
            QTest::newRow(name) << data << expected;
        };

        row("name with colons", "Банк: Онлайн: 1234567", u"1234567|Банк: Онлайн"_s);
        row("name ending in a colon", "Почта:: 1234567", u"1234567|Почта:"_s);
        row("spaces around name, colon and line", "   Ozon Банк   :   1629869891   ",
            u"1629869891|Ozon Банк"_s);
        row("tabs, no-break and ideographic spaces trimmed",
            "\tOzon\xC2\xA0:\xE3\x80\x80"
            "1629869891\t",
            u"1629869891|Ozon"_s);
        row("5 digits", "A: 12345", catalogEmpty());
        row("6 digits", "A: 123456", u"123456|A"_s);
        row("20 digits", "A: 12345678901234567890", u"12345678901234567890|A"_s);
        row("21 digits", "A: 123456789012345678901", catalogEmpty());
        row("letter in the ID", "A: 12345a7", catalogEmpty());
        row("space inside the ID", "A: 123 4567", catalogEmpty());
        row("leading plus", "A: +1234567", catalogEmpty());
        row("decimal point", "A: 1234.567", catalogEmpty());
        row("empty name", ": 1234567", catalogEmpty());
        row("name of spaces only", "   : 1234567", catalogEmpty());
        row("no colon", "A 1234567", catalogEmpty());
        row("full-width colon is not a colon",
            "A\xEF\xBC\x9A"
            "1234567",
            catalogEmpty());
        row("empty ID", "A:", catalogEmpty());
        row("bad lines cost only themselves", "A 1\nB: 2\n: 3333333\nC: 4444444\nD: x444444\n",
            u"4444444|C"_s);
        row("duplicate keeps the first", "A: 1111111\nB: 2222222\nC: 1111111\n", u"1111111|A;2222222|B"_s);
        row("an invalid line takes no ID", ": 1111111\nB: 1111111\n", u"1111111|B"_s);
        row("same ID with spaces is a duplicate", "A: 1111111\nB:1111111  \n", u"1111111|A"_s);
        // Every line break Unicode names ends a line.
        const std::pair<const char*, QByteArray> breaks[] = {{"LF", "\n"},
                                                             {"CR LF", "\r\n"},
                                                             {"CR", "\r"},
                                                             {"VT", "\v"},
                                                             {"FF", "\f"},
                                                             {"NEL", "\xC2\x85"},
                                                             {"line separator", "\xE2\x80\xA8"},
                                                             {"paragraph separator", "\xE2\x80\xA9"}};
        for (const auto& [name, lineBreak] : breaks)
            row(name, "A: 1111111" + lineBreak + "B: 2222222" + lineBreak, u"1111111|A;2222222|B"_s);
        row("blank lines dropped", "\n\n\r\nA: 1111111\n\n\n", u"1111111|A"_s);
        row("a tab does not break a line", "A: 1111111\tB: 2222222", u"2222222|A: 1111111\tB"_s);
        row("no final newline", "A: 1111111", u"1111111|A"_s);
        row("byte order mark dropped",
            "\xEF\xBB\xBF"
            "A: 1111111",
            u"1111111|A"_s);
        // Any character with a numeric value counts as a digit.
        const std::pair<const char*, QString> numerals[] = {
            {"Arabic-Indic digits", u"١٢٣٤٥٦"_s}, {"Roman numerals", u"ⅠⅡⅢⅣⅤⅥ"_s},
            {"superscript digits", u"¹²³⁴⁵⁶"_s},  {"vulgar fractions", u"½½½½½½"_s},
            {"CJK numerals", u"一二三四五六"_s},  {"more CJK numerals", u"〇十百千万零"_s}};
        for (const auto& [name, id] : numerals)
            row(name, "A: " + id.toUtf8(), id + u"|A"_s);
        row("CJK ideograph without a value", "A: 一二三四五木", catalogEmpty());
        row("Latin letter O is not zero", "A: 12345O", catalogEmpty());
        // Supplementary characters count once each although each takes two UTF-16 units.
        row("mathematical digits", "A: 𝟏𝟐𝟑𝟒𝟓𝟔", u"𝟏𝟐𝟑𝟒𝟓𝟔|A"_s);
        row("20 mathematical digits", "A: 𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎", u"𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎|A"_s);
        row("21 mathematical digits", "A: 𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎𝟏𝟐𝟑𝟒𝟓𝟔𝟕𝟖𝟗𝟎𝟏", catalogEmpty());
        row("5 mathematical digits", "A: 𝟏𝟐𝟑𝟒𝟓", catalogEmpty());
        row("supplementary numeric ideographs", "A: 𠀁𠀁𠀁𠀁𠀁𠀁", u"𠀁𠀁𠀁𠀁𠀁𠀁|A"_s);
        // A digit with a combining mark is one character that a reader sees.
        row("digits with combining marks",
            "A: 1\xCC\x81"
            "2\xCC\x81"
            "3\xCC\x81"
            "4\xCC\x81"
            "5\xCC\x81"
            "6",
            u"1\u03012\u03013\u03014\u03015\u03016|A"_s);
        row("5 digits with a combining mark", "A: 12345\xCC\x81", catalogEmpty());
        row("20 characters in 21 units",
            "A: 1234567890123456789"
            "0\xCC\x81",
            u"12345678901234567890\u0301|A"_s);
        row("combining mark first",
            "A: \xCC\x81"
            "123456",
            catalogEmpty());
        // U+F96B decomposes canonically to U+53C3: the two spellings are one ID.
        row("canonically equivalent IDs are the same", "A: 參參參參參參\nB: 參參參參參參\n",
            u"參參參參參參|A"_s);
        row("empty file", "", catalogEmpty());
        row("only blank lines", "\n\r\n\n", catalogEmpty());
        row("only invalid lines", "A 1\n: 1234567\nB: 12\n", catalogEmpty());
        row("invalid byte", "A: 1234567\n\xFF", catalogUnreadable());
        row("overlong encoding", "A: 1234567\n\xC0\xAF", catalogUnreadable());
        row("encoded surrogate", "A: 1234567\n\xED\xA0\x80", catalogUnreadable());
        row("truncated sequence", "A: 1234567\n\xD0", catalogUnreadable());
        row("Latin-1 text", "Caf\xE9: 1234567", catalogUnreadable());
    }

    void parseCatalog()
    {
        QFETCH(QByteArray, data);
        QTEST(catalogOutcome(data), "expected");
    }

    void catalogEntriesCarryOnlyNameAndID()
    {
        const QList<CatalogApp> apps = RemovedRussianApps::parseCatalog("  Госуслуги : 1367959794 \n");
        QCOMPARE(apps.size(), 1);
        const CatalogApp expected(u"1367959794"_s, u"Госуслуги"_s, QString(), QString(), 0, std::nullopt,
                                  std::nullopt, std::nullopt);
        QCOMPARE(apps.first(), expected);
        QVERIFY(apps.first().category().isEmpty());
        QVERIFY(apps.first().mark().isEmpty());
        QCOMPARE(apps.first().color(), 0u);
        QVERIFY(!apps.first().artworkURL() && !apps.first().bundleIdentifier() && !apps.first().version());
        QVERIFY(apps.first().matches(u"госуслуги 1367959794"_s));
    }

    void stopsAfterTheMaximum()
    {
        const QList<CatalogApp> apps = RemovedRussianApps::parseCatalog(validLines(6000));
        QCOMPARE(apps.size(), RemovedRussianApps::maximumApps);
        QCOMPARE(apps.first().id(), u"100000000"_s);
        QCOMPARE(apps.last().id(), u"100004999"_s);
        QCOMPARE(apps.last().name(), u"Приложение 4999"_s);

        // Only appended apps count: skipped and repeated lines before the end do not.
        const QByteArray noisy = "bad line\nA: 100000000\n: 5555555\n" + validLines(5000);
        const QList<CatalogApp> fromNoisy = RemovedRussianApps::parseCatalog(noisy);
        QCOMPARE(fromNoisy.size(), 5000);
        QCOMPARE(fromNoisy.first().name(), u"A"_s);
        QCOMPARE(fromNoisy.last().id(), u"100004999"_s);

        // What follows the last app is not read, so it cannot spoil the list.
        const QList<CatalogApp> trailing = RemovedRussianApps::parseCatalog(validLines(5000) + "\n: \n");
        QCOMPARE(trailing.size(), 5000);
    }

    void readsTheReferenceList()
    {
        const QByteArray data = referenceList();
        const QList<CatalogApp> apps = RemovedRussianApps::parseCatalog(data);
        QCOMPARE(apps.size(), referenceListApps);
        QCOMPARE(apps.first().id(), u"568903335"_s);
        QCOMPARE(apps.first().name(), u"1Password 7"_s);
        QCOMPARE(apps.last().id(), u"387272416"_s);
        QCOMPARE(apps.last().name(), u"Яндекс Электрички и ЖД билеты"_s);

        QSet<QString> ids;
        for (const CatalogApp& app : apps) {
            ids.insert(app.id());
            QVERIFY(!app.name().isEmpty());
            QCOMPARE(app.name(), app.name().trimmed());
        }
        QCOMPARE(ids.size(), apps.size());
        // The trailing space after this ID is not part of it.
        QVERIFY(ids.contains(u"1596885549"_s));
        // Repeated ID: the first line's name stays.
        const auto teboil = std::find_if(apps.cbegin(), apps.cend(),
                                         [](const CatalogApp& app) { return app.id() == u"1668947265"_s; });
        QCOMPARE(teboil->name(), u"АЗС Teboil"_s);

        // The same list with plain line feeds reads the same.
        QByteArray lineFeeds = data;
        lineFeeds.replace("\r\n", "\n");
        QVERIFY(lineFeeds.size() < data.size());
        QCOMPARE(RemovedRussianApps::parseCatalog(lineFeeds), apps);
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

        row("full record",
            R"([{"id":"492224193","name":"СберБанк","domain":"sberbank.ru","category":"Финансы"}])",
            u"492224193|СберБанк|sberbank.ru|Финансы"_s);
        row("number ID, loud domain, no category",
            R"([{"id":407804998,"name":"Ozon","domain":"  OZON.Ru  "}])", u"407804998|Ozon|ozon.ru|"_s);
        row("single object", R"({"id":"1","name":"A","domain":"a.ru","category":"X"})", u"1|A|a.ru|X"_s);
        row("fields trimmed",
            "[{\"id\":\" 12\\n\",\"name\":\"\\t Ozon \",\"domain\":\"ozon.ru\\n\","
            "\"category\":\" Покупки \"}]",
            u"12|Ozon|ozon.ru|Покупки"_s);
        row("other members ignored", R"([{"id":"1","name":"A","domain":"a.ru","rank":3,"extra":{"x":[]}}])",
            u"1|A|a.ru|"_s);
        row("order kept", R"([{"id":"2","name":"B","domain":"b.ru"},{"id":"1","name":"A","domain":"a.ru"}])",
            u"2|B|b.ru|;1|A|a.ru|"_s);
        row("duplicate keeps the first",
            R"([{"id":"1","name":"A","domain":"a.ru"},{"id":"1","name":"B","domain":"b.ru"}])",
            u"1|A|a.ru|"_s);
        row("duplicate after trimming",
            R"([{"id":"1","name":"A","domain":"a.ru"},{"id":" 1 ","name":"B","domain":"b.ru"}])",
            u"1|A|a.ru|"_s);
        row("skipped record takes no ID",
            R"([{"id":"1","name":" ","domain":"a.ru"},{"id":"1","name":"B","domain":"b.ru"}])",
            u"1|B|b.ru|"_s);
        row("text and number IDs collide",
            R"([{"id":"7","name":"A","domain":"a.ru"},{"id":7,"name":"B","domain":"b.ru"}])", u"7|A|a.ru|"_s);

        // Categories
        row("null category", R"([{"id":"1","name":"A","domain":"a.ru","category":null}])", u"1|A|a.ru|"_s);
        row("number category", R"([{"id":"1","name":"A","domain":"a.ru","category":5}])", u"1|A|a.ru|"_s);

        // Domains
        row("underscore in domain", R"([{"id":"1","name":"A","domain":"my_bank.ru"}])", topAppsEmpty());
        row("slash in domain", R"([{"id":"1","name":"A","domain":"bank.ru/app"}])", topAppsEmpty());
        row("scheme prefix", "[{\"id\":\"1\",\"name\":\"A\",\"domain\":\"https://bank.ru\"}]",
            topAppsEmpty());
        row("space inside domain", R"([{"id":"1","name":"A","domain":"bank .ru"}])", topAppsEmpty());
        row("Cyrillic domain", R"([{"id":"1","name":"A","domain":"госуслуги.рф"}])", topAppsEmpty());
        row("empty domain", R"([{"id":"1","name":"A","domain":"  "}])", topAppsEmpty());
        row("digits, dots and hyphens", R"([{"id":"1","name":"A","domain":"2GIS-App.Co.RU"}])",
            u"1|A|2gis-app.co.ru|"_s);
        row("bad domain skipped, others kept",
            R"([{"id":"1","name":"A","domain":"a_b.ru"},{"id":"2","name":"B","domain":"b.ru"}])",
            u"2|B|b.ru|"_s);

        // Text IDs, by the standard integer reading
        row("letters", one(R"("abc")"), topAppsEmpty());
        row("digits and a letter", one(R"("12a")"), topAppsEmpty());
        row("empty text", one(R"("")"), topAppsEmpty());
        row("spaces only", one(R"("  ")"), topAppsEmpty());
        row("plus sign kept as written", one(R"("+12")"), u"+12|A|a.ru|"_s);
        row("minus zero kept as written", one(R"("-0")"), u"-0|A|a.ru|"_s);
        row("leading zeros kept", one(R"("007")"), u"007|A|a.ru|"_s);
        row("negative text", one(R"("-5")"), topAppsEmpty());
        row("sign alone", one(R"("+")"), topAppsEmpty());
        row("two signs", one(R"("+-1")"), topAppsEmpty());
        row("space after the sign", one(R"("+ 1")"), topAppsEmpty());
        row("largest 64-bit value", one(R"("18446744073709551615")"), u"18446744073709551615|A|a.ru|"_s);
        row("over 64 bits", one(R"("18446744073709551616")"), topAppsEmpty());
        row("Arabic-Indic digits", one(R"("١٢٣")"), topAppsEmpty());
        row("decimal text", one(R"("1.0")"), topAppsEmpty());

        // Number IDs
        row("zero", one("0"), u"0|A|a.ru|"_s);
        row("JSON minus zero", one("-0"), u"0|A|a.ru|"_s);
        row("whole number written with a fraction", one("12.0"), u"12|A|a.ru|"_s);
        row("exponent", one("1e3"), u"1000|A|a.ru|"_s);
        row("beyond doubles' exact integers", one("9007199254740993"), u"9007199254740993|A|a.ru|"_s);
        row("largest signed 64-bit value", one("9223372036854775807"), u"9223372036854775807|A|a.ru|"_s);
        row("past signed 64 bits", one("10000000000000000000"), u"10000000000000000000|A|a.ru|"_s);
        row("past unsigned 64 bits", one("20000000000000000000"), topAppsUnreadable());
        row("fraction", one("1.5"), topAppsUnreadable());
        row("negative number fails the body",
            R"([{"id":"1","name":"A","domain":"a.ru"},{"id":-5,"name":"B","domain":"b.ru"}])",
            topAppsUnreadable());
        row("negative number alone", R"({"id":-5,"name":"B","domain":"b.ru"})", topAppsUnreadable());

        // Ill-typed or missing members fail the whole body
        row("boolean ID", one("true"), topAppsUnreadable());
        row("null ID", one("null"), topAppsUnreadable());
        row("array ID", one("[1]"), topAppsUnreadable());
        row("missing ID", R"([{"name":"A","domain":"a.ru"}])", topAppsUnreadable());
        row("missing name", R"([{"id":"1","domain":"a.ru"}])", topAppsUnreadable());
        row("number name", R"([{"id":"1","name":5,"domain":"a.ru"}])", topAppsUnreadable());
        row("null domain", R"([{"id":"1","name":"A","domain":null}])", topAppsUnreadable());
        row("missing domain", R"([{"id":"1","name":"A"}])", topAppsUnreadable());
        row("one bad record among good ones",
            R"([{"id":"1","name":"A","domain":"a.ru"},{"id":"2","domain":"b.ru"}])", topAppsUnreadable());
        row("array of arrays", R"([[{"id":"1","name":"A","domain":"a.ru"}]])", topAppsUnreadable());
        row("array of texts", R"(["1"])", topAppsUnreadable());

        // Bodies
        row("not JSON", "<html>404</html>", topAppsUnreadable());
        row("truncated JSON", R"([{"id":"1","name":"A","domain":"a.ru"})", topAppsUnreadable());
        row("empty body", "", topAppsUnreadable());
        row("JSON text", R"("apps")", topAppsUnreadable());
        row("empty array", "[]", topAppsEmpty());
        row("empty object", "{}", topAppsUnreadable());
        row("only invalid records",
            R"([{"id":"x","name":"A","domain":"a.ru"},{"id":"2","name":"","domain":"b.ru"}])",
            topAppsEmpty());
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
            QVERIFY(!app.name.isEmpty());
            QVERIFY(!app.category.isEmpty());
            QVERIFY2(app.domain.contains(u'.'), qPrintable(app.domain));
            QVERIFY(app.faviconURL().has_value());
        }
    }

    void catalogRequests()
    {
        // The body comes back byte for byte, not read: even bytes that are not UTF-8.
        const QByteArray body = "Ozon: 407804998\r\n\xFF\xFE garbage";
        auto http = std::make_shared<FakeHttpClient>([&body](const HttpRequest& request) {
            if (isCommitsRequest(request))
                return FakeHttpClient::ok(commitsBody("2025-03-01T09:30:00Z"));
            return FakeHttpClient::ok(body);
        });
        const CatalogDownload download = awaitTask(RemovedRussianApps::downloadCatalog(http));
        QCOMPARE(download.data, body);
        QCOMPARE(dateText(download.updatedAt), u"2025-03-01T09:30:00Z"_s);

        QCOMPARE(http->requests().size(), 2);
        // The date request goes out first and runs while the list is fetched.
        const HttpRequest& commits = http->requests().at(0);
        QCOMPARE(commits.url.scheme(), u"https"_s);
        QCOMPARE(commits.url.host(), u"api.github.com"_s);
        QCOMPARE(commits.url.path(), commitsPath);
        QCOMPARE(commits.url.query(QUrl::FullyEncoded), commitsQuery);
        QCOMPARE(commits.timeout, 10.0);
        QCOMPARE(commits.cachePolicy, HttpRequest::CachePolicy::ReloadIgnoringCache);
        const QList<std::pair<QByteArray, QByteArray>> commitsHeaders{
            {"User-Agent", "Mirvo"}, {"Accept", "application/vnd.github+json"}};
        QCOMPARE(commits.headers, commitsHeaders);
        QVERIFY(commits.maxBodyBytes > 0 && commits.maxBodyBytes < RemovedRussianApps::maximumBodyBytes);

        const HttpRequest& list = http->requests().at(1);
        QCOMPARE(list.url, RemovedRussianApps::remoteCatalogURL());
        QCOMPARE(list.timeout, 15.0);
        QVERIFY(list.headers.isEmpty());
        QCOMPARE(list.cachePolicy, HttpRequest::CachePolicy::ReloadIgnoringCache);
        QCOMPARE(list.maxBodyBytes, 1'000'000);
    }

    void catalogFailures_data()
    {
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<bool>("tooLarge");
        QTest::addColumn<QString>("expected");
        QTest::newRow("200") << std::optional<int>(200) << false << u"4 bytes, 2025-03-01T09:30:00Z"_s;
        QTest::newRow("299") << std::optional<int>(299) << false << u"4 bytes, 2025-03-01T09:30:00Z"_s;
        QTest::newRow("199") << std::optional<int>(199) << false << catalogDownloadFailed();
        QTest::newRow("300") << std::optional<int>(300) << false << catalogDownloadFailed();
        QTest::newRow("404") << std::optional<int>(404) << false << catalogDownloadFailed();
        QTest::newRow("not HTTP") << std::optional<int>() << false << catalogDownloadFailed();
        QTest::newRow("too large") << std::optional<int>(200) << true << catalogTooLarge();
        QTest::newRow("404 and too large") << std::optional<int>(404) << true << catalogDownloadFailed();
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

    void catalogTransportFailures()
    {
        auto unreachable = std::make_shared<FakeHttpClient>();
        QCOMPARE(downloadOutcome(RemovedRussianApps::downloadCatalog(unreachable)), u"Сервер недоступен."_s);

        auto http =
            std::make_shared<FakeHttpClient>([](const HttpRequest&) { return FakeHttpClient::ok("A"); });
        std::stop_source stopped;
        stopped.request_stop();
        QCOMPARE(downloadOutcome(RemovedRussianApps::downloadCatalog(http, stopped.get_token())),
                 u"cancelled"_s);
        QVERIFY(!http->requests().isEmpty());
    }

    void listFailureStopsAndAwaitsTheDateRequest_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("status") << 404 << catalogDownloadFailed();
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
        QCOMPARE(http->log(), (QStringList{u"commits started"_s, u"commits stopped"_s}));
    }

    void callerStopReachesBothRequests()
    {
        auto http = std::make_shared<SuspendingHttpClient>([](const HttpRequest&) { return true; },
                                                           [](const HttpRequest&) { return HttpResponse{}; });
        std::stop_source source;
        QCoro::Task<CatalogDownload> task = RemovedRussianApps::downloadCatalog(http, source.get_token());
        QCOMPARE(http->log(), (QStringList{u"commits started"_s, u"list started"_s}));
        std::thread([&source] { source.request_stop(); }).join();
        QCOMPARE(downloadOutcome(std::move(task)), u"cancelled"_s);
        QCOMPARE(http->log().size(), 4);
        QVERIFY(http->log().contains(u"commits stopped"_s));
        QVERIFY(http->log().contains(u"list stopped"_s));
    }

    void stopWhileOnlyTheDateIsAwaitedKeepsTheList()
    {
        auto http = std::make_shared<SuspendingHttpClient>(
            isCommitsRequest, [](const HttpRequest&) { return FakeHttpClient::ok("Ozon: 407804998"); });
        std::stop_source source;
        QCoro::Task<CatalogDownload> task = RemovedRussianApps::downloadCatalog(http, source.get_token());
        std::thread([&source] { source.request_stop(); }).join();
        QCOMPARE(downloadOutcome(std::move(task)), u"15 bytes, none"_s);
        QCOMPARE(http->log(), (QStringList{u"commits started"_s, u"commits stopped"_s}));
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
        dated("positive offset", "2025-03-01T12:30:00+03:00", u"2025-03-01T09:30:00Z"_s);
        dated("negative offset", "2025-02-28T23:30:00-10:00", u"2025-03-01T09:30:00Z"_s);
        dated("zero offset", "2025-03-01T09:30:00+00:00", u"2025-03-01T09:30:00Z"_s);
        dated("fractional seconds", "2025-03-01T09:30:00.123Z", u"none"_s);
        dated("no zone", "2025-03-01T09:30:00", u"none"_s);
        dated("no seconds", "2025-03-01T09:30Z", u"none"_s);
        dated("date only", "2025-03-01", u"none"_s);
        dated("space instead of T", "2025-03-01 09:30:00Z", u"none"_s);
        dated("lower-case zone", "2025-03-01T09:30:00z", u"none"_s);
        dated("offset without colon", "2025-03-01T12:30:00+0300", u"none"_s);
        dated("month 13", "2025-13-01T09:30:00Z", u"none"_s);
        dated("February 30", "2025-02-30T09:30:00Z", u"none"_s);
        dated("hour 24", "2025-03-01T24:00:00Z", u"none"_s);
        dated("minute 60", "2025-03-01T09:60:00Z", u"none"_s);
        dated("text", "yesterday", u"none"_s);
        dated("empty text", "", u"none"_s);
        row("newest of several",
            R"([{"commit":{"committer":{"date":"2025-03-01T09:30:00Z"}}},)"
            R"({"commit":{"committer":{"date":"2024-01-01T00:00:00Z"}}}])",
            u"2025-03-01T09:30:00Z"_s);
        row("only the first element counts",
            R"([{"commit":{}},)"
            R"({"commit":{"committer":{"date":"2024-01-01T00:00:00Z"}}}])",
            u"none"_s);
        row("empty array", "[]", u"none"_s);
        row("object instead of array", R"({"commit":{"committer":{"date":"2025-03-01T09:30:00Z"}}})",
            u"none"_s);
        row("array of texts", R"(["2025-03-01T09:30:00Z"])", u"none"_s);
        row("no commit", R"([{"sha":"1"}])", u"none"_s);
        row("commit not an object", R"([{"commit":"x"}])", u"none"_s);
        row("committer not an object", R"([{"commit":{"committer":["2025-03-01T09:30:00Z"]}}])", u"none"_s);
        row("no date", R"([{"commit":{"committer":{"name":"x"}}}])", u"none"_s);
        row("date a number", R"([{"commit":{"committer":{"date":1740821400}}}])", u"none"_s);
        row("date null", R"([{"commit":{"committer":{"date":null}}}])", u"none"_s);
        row("author date is not the committer's",
            R"([{"commit":{"author":{"date":"2025-03-01T09:30:00Z"}}}])", u"none"_s);
        row("not JSON", "<html>rate limited</html>", u"none"_s);
        row("403 rate limited", commitsBody("2025-03-01T09:30:00Z"), u"none"_s, 403);
        row("not HTTP", commitsBody("2025-03-01T09:30:00Z"), u"none"_s, std::nullopt);
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

    void topAppsRequest()
    {
        auto http = std::make_shared<FakeHttpClient>([](const HttpRequest&) {
            return FakeHttpClient::ok(R"([{"id":"1","name":"A","domain":"a.ru"}])");
        });
        QCOMPARE(topAppsDownloadOutcome(RemovedRussianApps::downloadTopApps(http)), u"1|A|a.ru|"_s);
        QCOMPARE(topAppsDownloadOutcome(RemovedRussianApps::downloadTopApps(http)), u"1|A|a.ru|"_s);
        QCOMPARE(http->requests().size(), 2);

        const HttpRequest& request = http->requests().first();
        QUrl withoutQuery = request.url;
        withoutQuery.setQuery(QString());
        QCOMPARE(withoutQuery, RemovedRussianApps::topAppsURL());
        const QUrlQuery query(request.url);
        QCOMPARE(query.queryItems().size(), 1);
        const QString cacheBust = query.queryItemValue(u"_cacheBust"_s);
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(
                                        u"[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"_s))
                     .match(cacheBust)
                     .hasMatch(),
                 qPrintable(cacheBust));
        QVERIFY(!QUuid::fromString(cacheBust).isNull());
        QVERIFY(QUrlQuery(http->requests().last().url).queryItemValue(u"_cacheBust"_s) != cacheBust);

        QCOMPARE(request.timeout, 15.0);
        QCOMPARE(request.cachePolicy, HttpRequest::CachePolicy::ReloadIgnoringCache);
        QCOMPARE(request.maxBodyBytes, 1'000'000);
        const QList<std::pair<QByteArray, QByteArray>> headers{
            {"Cache-Control", "no-cache, no-store, max-age=0"}, {"Pragma", "no-cache"}};
        QCOMPARE(request.headers, headers);
    }

    void topAppsFailures_data()
    {
        QTest::addColumn<std::optional<int>>("status");
        QTest::addColumn<bool>("tooLarge");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("expected");
        const QString failed = u"Не удалось получить список популярных приложений."_s;
        const QByteArray valid = R"({"id":"1","name":"A","domain":"a.ru"})";
        QTest::newRow("200") << std::optional<int>(200) << false << valid << u"1|A|a.ru|"_s;
        QTest::newRow("404") << std::optional<int>(404) << false << valid << failed;
        QTest::newRow("304") << std::optional<int>(304) << false << valid << failed;
        QTest::newRow("not HTTP") << std::optional<int>() << false << valid << failed;
        QTest::newRow("too large") << std::optional<int>(200) << true << QByteArray()
                                   << u"Список популярных приложений слишком большой."_s;
        QTest::newRow("not JSON") << std::optional<int>(200) << false << "oops"_ba << topAppsUnreadable();
        QTest::newRow("no valid record") << std::optional<int>(200) << false << "[]"_ba << topAppsEmpty();
    }

    void topAppsFailures()
    {
        QFETCH(std::optional<int>, status);
        QFETCH(bool, tooLarge);
        QFETCH(QByteArray, body);
        auto http = std::make_shared<FakeHttpClient>([=](const HttpRequest&) {
            return HttpResponse{status, body, tooLarge};
        });
        QTEST(topAppsDownloadOutcome(RemovedRussianApps::downloadTopApps(http)), "expected");

        auto unreachable = std::make_shared<FakeHttpClient>();
        QCOMPARE(topAppsDownloadOutcome(RemovedRussianApps::downloadTopApps(unreachable)),
                 u"Сервер недоступен."_s);
    }

    // The real client against the loopback server from here on.

    void loopbackBodies_data()
    {
        QTest::addColumn<bool>("topApps");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<qint64>("streamedBytes"); // 0: the body as given, with its length
        QTest::addColumn<QString>("expected");
        const QString dated = u" bytes, 2025-03-01T09:30:00Z"_s;
        const QByteArray topApp = R"([{"id":"1","name":"A","domain":"a.ru"}])";
        QTest::newRow("catalog") << false << 200 << "Ozon: 407804998\n"_ba << qint64(0) << u"16"_s + dated;
        QTest::newRow("catalog 404") << false << 404 << "not here"_ba << qint64(0) << catalogDownloadFailed();
        QTest::newRow("catalog at the cap")
            << false << 200 << QByteArray(1'000'000, 'a') << qint64(0) << u"1000000"_s + dated;
        QTest::newRow("catalog over the cap")
            << false << 200 << QByteArray(1'000'001, 'a') << qint64(0) << catalogTooLarge();
        QTest::newRow("catalog streamed at the cap")
            << false << 200 << QByteArray() << qint64(1'000'000) << u"1000000"_s + dated;
        QTest::newRow("catalog streamed over the cap")
            << false << 200 << QByteArray() << qint64(1'000'001) << catalogTooLarge();
        QTest::newRow("top apps at the cap, padded")
            << true << 200 << topApp.leftJustified(1'000'000, ' ') << qint64(0) << u"1|A|a.ru|"_s;
        QTest::newRow("top apps over the cap") << true << 200 << QByteArray(1'000'001, ' ') << qint64(0)
                                               << u"Список популярных приложений слишком большой."_s;
    }

    void loopbackBodies()
    {
        QFETCH(bool, topApps);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(qint64, streamedBytes);
        Route route = Route::answering(status, body);
        if (streamedBytes > 0)
            route.streamedBytes = streamedBytes;
        m_server.setRoute((topApps ? topAppsPath : listPath).toUtf8(), route);
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
        QCOMPARE(downloadOutcome(RemovedRussianApps::downloadCatalog(http)), timedOut());
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
        const LoopbackHttpServer::Request list = served(listPath);
        QCOMPARE(list.method, "GET"_ba);
        QCOMPARE(list.target, listPath.toUtf8());
        QVERIFY(list.header("User-Agent") != "Mirvo");

        m_server.setRoute(topAppsPath.toUtf8(),
                          Route::answering(200, R"([{"id":407804998,"name":"Ozon","domain":"OZON.RU"}])"));
        QCOMPARE(topAppsDownloadOutcome(RemovedRussianApps::downloadTopApps(http)),
                 u"407804998|Ozon|ozon.ru|"_s);
        const LoopbackHttpServer::Request top = m_server.requests().constLast();
        QVERIFY(QRegularExpression(
                    QRegularExpression::anchoredPattern(
                        QRegularExpression::escape(topAppsPath) +
                        u"\\?_cacheBust=[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"_s))
                    .match(QString::fromUtf8(top.target))
                    .hasMatch());
        QCOMPARE(top.header("Cache-Control"), "no-cache, no-store, max-age=0"_ba);
        QCOMPARE(top.header("Pragma"), "no-cache"_ba);
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
