#include "AppStoreMetadata.h"
#include "AwaitTask.h"
#include "CancelledError.h"
#include "FakeHttpClient.h"
#include "SystemError.h"

#include <QtTest>

#include <functional>
#include <memory>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

// Test JSON is written with ' for " to stay readable.
QByteArray json(QByteArray text)
{
    return text.replace('\'', '"');
}

QByteArray resultsBody(const QList<QByteArray>& items)
{
    return "{\"resultCount\": " + QByteArray::number(items.size()) + ", \"results\": [" + items.join(',') +
           "]}";
}

QByteArray item(const QString& id, const QString& name)
{
    return json("{'trackId': " + id.toUtf8() + ", 'trackName': '" + name.toUtf8() + "'}");
}

// A canned answer: "transport" cannot connect, "not HTTP" has no status, "too large" went over the cap
// (though its body would read), a number is that status; anything else is a 200 body (' for ").
HttpResponse canned(const QByteArray& answer)
{
    if (answer == "transport")
        throw SystemError(u"Сервер недоступен."_s);
    if (answer == "not HTTP")
        return HttpResponse{};
    if (answer == "too large")
        return HttpResponse{200, json("{'results': [{'trackId': 1}]}"), true};
    bool isStatus = false;
    const int status = answer.toInt(&isStatus);
    return isStatus ? FakeHttpClient::status(status) : FakeHttpClient::ok(json(answer));
}

CatalogApp catalogApp(const QString& id, const QString& name = {})
{
    return CatalogApp(id, name.isEmpty() ? u"App "_s + id : name, {}, {}, 0, {}, {}, {});
}

QList<CatalogApp> catalogApps(int count, int firstID = 1000)
{
    QList<CatalogApp> apps;
    for (int i = 0; i < count; ++i)
        apps.append(catalogApp(QString::number(firstID + i)));
    return apps;
}

QString optionalText(const std::optional<QString>& text)
{
    return text ? u'"' + *text + u'"' : u"-"_s;
}

QString optionalURL(const std::optional<QUrl>& url)
{
    return url ? url->toString() : u"-"_s;
}

// "id name category artwork bundle version", absent values as "-".
QStringList describe(const QList<StoreApp>& apps)
{
    QStringList lines;
    for (const StoreApp& app : apps)
        lines.append(QStringList{app.id, u'"' + app.name + u'"', optionalText(app.category),
                                 optionalURL(app.artworkURL), optionalText(app.bundleIdentifier),
                                 optionalText(app.version)}
                         .join(u' '));
    return lines;
}

QString describe(const CatalogApp& app)
{
    return QStringList{app.id(),
                       u'"' + app.name() + u'"',
                       u'"' + app.category() + u'"',
                       app.mark(),
                       QString::number(app.color()),
                       optionalURL(app.artworkURL()),
                       optionalText(app.bundleIdentifier()),
                       optionalText(app.version()),
                       app.searchIndex()}
        .join(u' ');
}

QStringList names(const QList<CatalogApp>& apps)
{
    QStringList result;
    for (const CatalogApp& app : apps)
        result.append(app.name());
    return result;
}

QString queryValue(const HttpRequest& request, const QString& key)
{
    return QUrlQuery(request.url).queryItemValue(key, QUrl::FullyDecoded);
}

// Each request as "country:id,id,…".
QStringList requestLog(const QList<HttpRequest>& requests)
{
    QStringList log;
    for (const HttpRequest& request : requests)
        log.append(queryValue(request, u"country"_s) + u':' + queryValue(request, u"id"_s));
    return log;
}

// A store that knows, per country, some IDs; each answers with the name "<country> <id>". A country
// listed in `failing` answers 503.
FakeHttpClient::Answer storefronts(QHash<QString, QStringList> known, QStringList failing = {})
{
    return [known = std::move(known), failing = std::move(failing)](const HttpRequest& request) {
        const QString country = queryValue(request, u"country"_s);
        if (failing.contains(country))
            return FakeHttpClient::status(503);
        QList<QByteArray> items;
        const QStringList ids = queryValue(request, u"id"_s).split(u',');
        for (const QString& id : ids) {
            if (known.value(country).contains(id))
                items.append(item(id, country + u' ' + id));
        }
        return FakeHttpClient::ok(resultsBody(items));
    };
}

using Answers = QHash<QString, QByteArray>;

} // namespace

class tst_AppStoreMetadata : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lookupURL()
    {
        // The commas between IDs stay; anything reserved inside an ID or the country is encoded.
        QCOMPARE(AppStoreMetadata::lookupURL({u"1&2"_s, u"3 4"_s, u"5"_s}, u"r+u#"_s).value().toEncoded(),
                 "https://itunes.apple.com/lookup?id=1%262,3%204,5&country=r%2Bu%23&entity=software"_ba);
    }

    void requestIsAPlainGet()
    {
        auto http = std::make_shared<FakeHttpClient>(storefronts({}));
        awaitTask(AppStoreMetadata(http).enrich({catalogApp(u"7"_s)}, u"ru"_s, {}));
        QCOMPARE(http->requests().size(), 1);
        QCOMPARE(http->requests().constFirst().timeout, 60.0);
        QVERIFY(http->requests().constFirst().headers.isEmpty());
        QCOMPARE(http->requests().constFirst().cachePolicy, HttpRequest::CachePolicy::UseProtocolPolicy);
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("body"); // ' for "
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char* name, const QByteArray& body, const QStringList& expected) {
            QTest::newRow(name) << body << expected;
        };
        const QStringList none;

        row("every member",
            "{'resultCount': 1, 'results': [{'trackId': 42, 'trackName': 'Банк', 'primaryGenreName': "
            "'Finance',"
            "'artworkUrl512': 'https://is1.test/512.png', 'artworkUrl100': 'https://is1.test/100.png',"
            "'bundleId': 'ru.bank.app', 'version': '3.1', 'price': 0}]}",
            {u"42 \"Банк\" \"Finance\" https://is1.test/512.png \"ru.bank.app\" \"3.1\""_s});
        row("null members are absent",
            "{'results': [{'trackId': 1, 'trackName': null, 'primaryGenreName': null, 'artworkUrl512': null,"
            "'artworkUrl100': 'https://is1.test/100.png', 'bundleId': null, 'version': null}]}",
            {u"1 \"\" - https://is1.test/100.png - -"_s});
        row("empty texts kept",
            "{'results': [{'trackId': 1, 'trackName': '', 'primaryGenreName': '', 'version': ''}]}",
            {u"1 \"\" \"\" - - \"\""_s});
        row("without or with zero trackId skipped",
            "{'results': [{'trackName': 'none'}, {'trackId': 0, 'trackName': 'zero'}, {'trackId': null},"
            "{'trackId': 5, 'trackName': 'five'}]}",
            {u"5 \"five\" - - - -"_s});
        row("order and repeats kept",
            "{'results': [{'trackId': 3}, {'trackId': 1}, {'trackId': 3, 'trackName': 'again'}]}",
            {u"3 \"\" - - - -"_s, u"1 \"\" - - - -"_s, u"3 \"again\" - - - -"_s});
        row("integral number written as a fraction", "{'results': [{'trackId': 12.0}]}",
            {u"12 \"\" - - - -"_s});
        row("beyond double precision", "{'results': [{'trackId': 9007199254740993}]}",
            {u"9007199254740993 \"\" - - - -"_s});

        row("not JSON", "<html>Service Unavailable</html>", none);
        row("an array", "[{'trackId': 1}]", none);
        row("results missing", "{'resultCount': 0}", none);
        row("an item not an object", "{'results': [{'trackId': 1}, 2]}", none);
        row("trackId a string", "{'results': [{'trackId': 1}, {'trackId': '2'}]}", none);
        row("trackId a fraction", "{'results': [{'trackId': 1}, {'trackId': 2.5}]}", none);
        row("trackId beyond 64 bits", "{'results': [{'trackId': 1}, {'trackId': 1e19}]}", none);
        row("trackName a number", "{'results': [{'trackId': 1, 'trackName': 7}]}", none);
        row("artwork not a valid URL",
            "{'results': [{'trackId': 1, 'artworkUrl512': 'https://is1 .test/a.png'}]}", none);
        row("artwork empty", "{'results': [{'trackId': 1, 'artworkUrl100': ''}]}", none);
        row("malformed item that would be skipped",
            "{'results': [{'trackId': 1}, {'trackId': 0, 'trackName': 3}]}", none);
    }

    void decode()
    {
        QFETCH(QByteArray, body);
        QTEST(describe(AppStoreMetadata::decode(json(body))), "expected");
    }

    void merge_data()
    {
        QTest::addColumn<CatalogApp>("app");
        QTest::addColumn<QByteArray>("result"); // ' for "
        QTest::addColumn<CatalogApp>("expected");
        const CatalogApp plain(u"42"_s, u"Банк"_s, u"Финансы"_s, u"Б"_s, 0x336699,
                               QUrl(u"https://old.test/i.png"_s), u"ru.bank.old"_s, u"1.0"_s);
        const auto expected = [&plain](QString name, QString category, std::optional<QUrl> artwork,
                                       std::optional<QString> bundle, std::optional<QString> version) {
            return CatalogApp(plain.id(), std::move(name), std::move(category), plain.mark(), plain.color(),
                              std::move(artwork), std::move(bundle), std::move(version));
        };

        QTest::newRow("everything replaced")
            << plain
            << "{'trackId': 42, 'trackName': 'Bank Online', 'primaryGenreName': 'Finance',"
               "'artworkUrl512': 'https://new.test/512.png', 'bundleId': 'ru.bank.app', 'version': '3.1'}"_ba
            << expected(u"Bank Online"_s, u"Finance"_s, QUrl(u"https://new.test/512.png"_s), u"ru.bank.app"_s,
                        u"3.1"_s);
        QTest::newRow("nothing but the ID")
            << plain << "{'trackId': 42}"_ba
            << expected(u"Банк"_s, u"Финансы"_s, std::nullopt, u"ru.bank.old"_s, u"1.0"_s);
        QTest::newRow("empty name keeps the catalog's")
            << plain << "{'trackId': 42, 'trackName': ''}"_ba
            << expected(u"Банк"_s, u"Финансы"_s, std::nullopt, u"ru.bank.old"_s, u"1.0"_s);
        QTest::newRow("empty category, bundle and version are set")
            << plain << "{'trackId': 42, 'primaryGenreName': '', 'bundleId': '', 'version': ''}"_ba
            << expected(u"Банк"_s, QString(), std::nullopt, QString(), QString());
        QTest::newRow("searchable by the new bundle")
            << catalogApp(u"42"_s, u"Ёлка"_s) << "{'trackId': 42, 'bundleId': 'RU.Elka'}"_ba
            << CatalogApp(u"42"_s, u"Ёлка"_s, {}, {}, 0, {}, u"RU.Elka"_s, {});
        QTest::newRow("another ID leaves the app as it was")
            << plain << "{'trackId': 43, 'trackName': 'Other'}"_ba << plain;
        QTest::newRow("leading zero never matches")
            << catalogApp(u"0042"_s) << "{'trackId': 42, 'trackName': 'X'}"_ba << catalogApp(u"0042"_s);
    }

    void merge()
    {
        QFETCH(CatalogApp, app);
        QFETCH(QByteArray, result);
        QFETCH(CatalogApp, expected);
        auto http = std::make_shared<FakeHttpClient>(
            [body = resultsBody({json(result)})](const HttpRequest&) { return FakeHttpClient::ok(body); });

        const QList<CatalogApp> enriched = awaitTask(AppStoreMetadata(http).enrich({app}, u"ru"_s, {}));
        QCOMPARE(enriched.size(), 1);
        // The description holds every field, the search text included.
        QCOMPARE(describe(enriched.constFirst()), describe(expected));
    }

    void laterResultReplacesEarlier()
    {
        auto http = std::make_shared<FakeHttpClient>([](const HttpRequest&) {
            return FakeHttpClient::ok(resultsBody({item(u"1"_s, u"first"_s), item(u"1"_s, u"second"_s)}));
        });
        const QList<CatalogApp> enriched =
            awaitTask(AppStoreMetadata(http).enrich({catalogApp(u"1"_s)}, u"ru"_s, {}));
        QCOMPARE(names(enriched), QStringList{u"second"_s});
    }

    void batchFailureCostsOnlyItsApps_data()
    {
        QTest::addColumn<int>("failedBatch");
        QTest::addColumn<QString>("failure");
        const std::pair<int, QString> rows[] = {{1, u"503"_s},       {0, u"transport"_s},
                                                {2, u"not JSON"_s},  {1, u"trackId a string"_s},
                                                {0, u"too large"_s}, {2, u"not HTTP"_s}};
        for (const auto& [batch, failure] : rows)
            QTest::addRow("batch %d, %s", batch + 1, qPrintable(failure)) << batch << failure;
    }

    void batchFailureCostsOnlyItsApps()
    {
        QFETCH(int, failedBatch);
        QFETCH(QString, failure);
        const QList<CatalogApp> apps = catalogApps(450);
        int batch = 0;
        auto http = std::make_shared<FakeHttpClient>([&](const HttpRequest& request) {
            const QStringList ids = queryValue(request, u"id"_s).split(u',');
            if (batch++ == failedBatch) {
                if (failure == u"trackId a string"_s)
                    return FakeHttpClient::ok(
                        resultsBody({item(ids.first(), u"x"_s), json("{'trackId': '1'}")}));
                return canned(failure == u"not JSON"_s ? "Service Unavailable"_ba : failure.toUtf8());
            }
            QList<QByteArray> items;
            for (const QString& id : ids)
                items.append(item(id, u"Store "_s + id));
            return FakeHttpClient::ok(resultsBody(items));
        });

        const QList<CatalogApp> enriched = awaitTask(AppStoreMetadata(http).enrich(apps, u"ru"_s, {}));

        QCOMPARE(http->requests().size(), 3);
        for (int i = 0; i < 3; ++i) {
            QStringList expectedIDs;
            for (int j = i * 200; j < qMin(450, (i + 1) * 200); ++j)
                expectedIDs.append(apps.at(j).id());
            QCOMPARE(queryValue(http->requests().at(i), u"id"_s).split(u','), expectedIDs);
        }
        QCOMPARE(enriched.size(), apps.size());
        for (int j = 0; j < apps.size(); ++j) {
            if (j / 200 == failedBatch)
                QVERIFY(enriched.at(j) == apps.at(j));
            else
                QCOMPARE(enriched.at(j).name(), u"Store "_s + apps.at(j).id());
        }
    }

    void emptyListMakesNoRequest()
    {
        auto http = std::make_shared<FakeHttpClient>(storefronts({}));
        QVERIFY(awaitTask(AppStoreMetadata(http).enrich({}, u"ru"_s, {u"us"_s})).isEmpty());
        QVERIFY(http->requests().isEmpty());
    }

    void fallback_data()
    {
        QTest::addColumn<QString>("fallbacks"); // storefronts, space-separated
        QTest::addColumn<QString>("failing");   // storefronts answering 503
        QTest::addColumn<QString>("requests");  // "country:ids", space-separated
        QTest::addColumn<QString>("names");     // '|'-separated
        const auto row = [](const char* name, const QString& fallbacks, const QString& failing,
                            const QString& requests, const QString& names) {
            QTest::newRow(name) << fallbacks << failing << requests << names;
        };
        // The catalog is 1 2 3 4; "ru" knows 1 and 3, "us" knows 1 2 3, "gb" knows 4.
        row("no fallback", {}, {}, u"ru:1,2,3,4"_s, u"ru 1|App 2|ru 3|App 4"_s);
        row("us asked only for what ru left out", u"us"_s, {}, u"ru:1,2,3,4 us:2,4"_s,
            u"ru 1|us 2|ru 3|App 4"_s);
        row("gb asked only for what us left out", u"us gb"_s, {}, u"ru:1,2,3,4 us:2,4 gb:4"_s,
            u"ru 1|us 2|ru 3|gb 4"_s);
        row("nothing left, nothing asked", u"gb us de"_s, {}, u"ru:1,2,3,4 gb:2,4 us:2"_s,
            u"ru 1|us 2|ru 3|gb 4"_s);
        row("ru failing, us fills what it knows", u"us"_s, u"ru"_s, u"ru:1,2,3,4 us:1,2,3,4"_s,
            u"us 1|us 2|us 3|App 4"_s);
        row("us failing, gb still asked", u"us gb"_s, u"us"_s, u"ru:1,2,3,4 us:2,4 gb:2,4"_s,
            u"ru 1|App 2|ru 3|gb 4"_s);
    }

    void fallback()
    {
        QFETCH(QString, fallbacks);
        QFETCH(QString, failing);
        const QHash<QString, QStringList> known{
            {u"ru"_s, {u"1"_s, u"3"_s}}, {u"us"_s, {u"1"_s, u"2"_s, u"3"_s}}, {u"gb"_s, {u"4"_s}}};
        auto http = std::make_shared<FakeHttpClient>(storefronts(known, failing.split(u' ')));
        const QList<CatalogApp> enriched = awaitTask(AppStoreMetadata(http).enrich(
            catalogApps(4, 1), u"ru"_s, fallbacks.split(u' ', Qt::SkipEmptyParts)));
        QTEST(requestLog(http->requests()).join(u' '), "requests");
        QTEST(names(enriched).join(u'|'), "names");
    }

    void fallbackAnswerNeverOverridesAnEntry()
    {
        // A storefront that answers for more than it was asked still fills only apps without an entry.
        auto http = std::make_shared<FakeHttpClient>([](const HttpRequest& request) {
            if (queryValue(request, u"country"_s) == u"ru"_s)
                return FakeHttpClient::ok(resultsBody({item(u"1"_s, u"ru 1"_s)}));
            return FakeHttpClient::ok(resultsBody({item(u"1"_s, u"us 1"_s), item(u"2"_s, u"us 2"_s)}));
        });
        const QList<CatalogApp> enriched = awaitTask(
            AppStoreMetadata(http).enrich({catalogApp(u"1"_s), catalogApp(u"2"_s)}, u"ru"_s, {u"us"_s}));
        QCOMPARE(names(enriched), (QStringList{u"ru 1"_s, u"us 2"_s}));
    }

    void fallbackInBatchesInListOrder()
    {
        // "ru" knows every third app of 700: "us" gets the 466 others in batches of 200, 200 and 66.
        const QList<CatalogApp> apps = catalogApps(700);
        QStringList ruKnows, missing;
        for (int i = 0; i < apps.size(); ++i)
            (i % 3 == 0 ? ruKnows : missing).append(apps.at(i).id());
        auto http = std::make_shared<FakeHttpClient>(storefronts({{u"ru"_s, ruKnows}, {u"us"_s, missing}}));

        const QList<CatalogApp> enriched = awaitTask(AppStoreMetadata(http).enrich(apps, u"ru"_s, {u"us"_s}));

        const QStringList log = requestLog(http->requests());
        QCOMPARE(log.size(), 4 + 3);
        QStringList usAsked;
        for (int i = 4; i < log.size(); ++i) {
            QVERIFY(log.at(i).startsWith(u"us:"_s));
            usAsked.append(log.at(i).mid(3).split(u','));
        }
        QCOMPARE(log.at(4).count(u',') + 1, 200);
        QCOMPARE(log.at(5).count(u',') + 1, 200);
        QCOMPARE(log.at(6).count(u',') + 1, 66);
        QCOMPARE(usAsked, missing);
        for (int i = 0; i < apps.size(); ++i)
            QCOMPARE(enriched.at(i).name(), (i % 3 == 0 ? u"ru "_s : u"us "_s) + apps.at(i).id());
    }

    void stopBeforeStartingAsksNothing()
    {
        auto http = std::make_shared<FakeHttpClient>(storefronts({}));
        std::stop_source source;
        source.request_stop();
        QVERIFY_THROWS_EXCEPTION(CancelledError, awaitTask(AppStoreMetadata(http).enrich(
                                                     catalogApps(3), u"ru"_s, {}, source.get_token())));
        QVERIFY(http->requests().isEmpty());
    }

    void stopBetweenBatchesEndsTheEnrichment()
    {
        std::stop_source source;
        auto http = std::make_shared<FakeHttpClient>([&source](const HttpRequest&) {
            source.request_stop();
            return FakeHttpClient::ok(resultsBody({}));
        });
        QVERIFY_THROWS_EXCEPTION(CancelledError,
                                 awaitTask(AppStoreMetadata(http).enrich(catalogApps(450), u"ru"_s, {u"us"_s},
                                                                         source.get_token())));
        QCOMPARE(http->requests().size(), 1);
    }

    void clientCancellationIsRethrown_data()
    {
        QTest::addColumn<QString>("country"); // the storefront whose request is cancelled
        QTest::newRow("first storefront") << u"ru"_s;
        QTest::newRow("fallback storefront") << u"us"_s;
    }

    void clientCancellationIsRethrown()
    {
        QFETCH(QString, country);
        auto http = std::make_shared<FakeHttpClient>([country](const HttpRequest& request) {
            if (queryValue(request, u"country"_s) == country)
                throw CancelledError();
            return FakeHttpClient::ok(resultsBody({}));
        });
        QVERIFY_THROWS_EXCEPTION(
            CancelledError, awaitTask(AppStoreMetadata(http).enrich(catalogApps(2), u"ru"_s, {u"us"_s})));
        QVERIFY_THROWS_EXCEPTION(CancelledError, awaitTask(AppStoreMetadata(http).lookup({u"1"_s}, country)));
    }

    void lookup_data()
    {
        QTest::addColumn<QByteArray>("answer"); // as canned() reads it
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("results") << resultsBody({item(u"1"_s, u"one"_s), item(u"449"_s, u"last"_s)}) << true
                                 << QStringList{u"1 \"one\" - - - -"_s, u"449 \"last\" - - - -"_s};
        QTest::newRow("not JSON answers nothing") << "oops"_ba << true << QStringList{};
        QTest::newRow("503") << "503"_ba << false << QStringList{};
    }

    void lookup()
    {
        QFETCH(QByteArray, answer);
        auto http = std::make_shared<FakeHttpClient>([answer](const HttpRequest&) { return canned(answer); });
        QStringList ids;
        for (int i = 0; i < 450; ++i)
            ids.append(QString::number(i));

        const std::optional<QList<StoreApp>> found = awaitTask(AppStoreMetadata(http).lookup(ids, u"ru"_s));
        QCOMPARE(http->requests().size(), 1);
        QCOMPARE(queryValue(http->requests().constFirst(), u"id"_s), ids.join(u','));
        QTEST(found.has_value(), "answered");
        if (found)
            QTEST(describe(*found), "expected");
    }

    void storeIDForBundleID_data()
    {
        QTest::addColumn<Answers>("answers"); // each storefront's, as canned() reads it
        QTest::addColumn<QString>("countries");
        QTest::addColumn<QString>("bundleID");
        QTest::addColumn<QString>("expected"); // "-" for none
        QTest::addColumn<QString>("asked");    // the storefronts asked, in order
        const QByteArray yelp = "{'results': [{'trackId': 284910350, 'bundleId': 'com.yelp.yelpiphone'}]}";
        const QByteArray none = "{'resultCount': 0, 'results': []}";
        const auto row = [](const char* name, const Answers& answers, const QString& expected,
                            const QString& asked, const QString& countries = u"ru,us"_s,
                            const QString& bundleID = u"com.yelp.yelpiphone"_s) {
            QTest::newRow(name) << answers << countries << bundleID << expected << asked;
        };

        row("the first storefront knows it", {{u"ru"_s, yelp}}, u"284910350"_s, u"ru"_s);
        row("only the second knows it", {{u"ru"_s, none}, {u"us"_s, yelp}}, u"284910350"_s, u"ru,us"_s);
        row("the first answers 503", {{u"ru"_s, "503"}, {u"us"_s, yelp}}, u"284910350"_s, u"ru,us"_s);
        row("the first cannot be reached", {{u"ru"_s, "transport"}, {u"us"_s, yelp}}, u"284910350"_s,
            u"ru,us"_s);
        row("an ill-typed trackId spoils the answer",
            {{u"ru"_s, "{'results': [{'trackId': '1'}]}"}, {u"us"_s, yelp}}, u"284910350"_s, u"ru,us"_s);
        // Reserved characters in the bundle ID must not cut the query short.
        row("no storefront knows it", {{u"ru"_s, none}, {u"us"_s, none}, {u"de"_s, none}}, u"-"_s,
            u"ru,us,de"_s, u"ru,us,de"_s, u"com.example.a&b c#d"_s);
        row("results without a usable trackId are passed over",
            {{u"ru"_s, "{'results': [{'trackId': 0}, {'trackName': 'x'}]}"}, {u"us"_s, yelp}}, u"284910350"_s,
            u"ru,us"_s);
        row("the first result counts",
            {{u"ru"_s, "{'results': [{'trackId': 0}, {'trackId': 7.0}, {'trackId': 8}]}"}}, u"7"_s, u"ru"_s);
        row("no countries", {}, u"-"_s, QString(), QString());
        row("no bundle ID", {{u"ru"_s, yelp}}, u"-"_s, QString(), u"ru,us"_s, QString());
    }

    void storeIDForBundleID()
    {
        QFETCH(Answers, answers);
        QFETCH(QString, countries);
        QFETCH(QString, bundleID);
        auto http = std::make_shared<FakeHttpClient>([answers](const HttpRequest& request) {
            return canned(answers.value(queryValue(request, u"country"_s)));
        });

        const std::optional<QString> id = awaitTask(
            AppStoreMetadata(http).storeIDForBundleID(bundleID, countries.split(u',', Qt::SkipEmptyParts)));
        QTEST(id.value_or(u"-"_s), "expected");
        QStringList asked;
        for (const HttpRequest& request : http->requests()) {
            QCOMPARE(queryValue(request, u"bundleId"_s), bundleID);
            QCOMPARE(queryValue(request, u"entity"_s), u"software"_s);
            QCOMPARE(request.timeout, 60.0);
            asked.append(queryValue(request, u"country"_s));
        }
        QTEST(asked.join(u','), "asked");
    }

    void storeIDForBundleIDStops()
    {
        // A stop in the first storefront's request is no failure to pass over.
        auto http = std::make_shared<FakeHttpClient>([](const HttpRequest& request) -> HttpResponse {
            if (queryValue(request, u"country"_s) == u"ru"_s)
                throw CancelledError();
            return FakeHttpClient::ok(resultsBody({item(u"5"_s, u"five"_s)}));
        });
        QVERIFY_THROWS_EXCEPTION(CancelledError, awaitTask(AppStoreMetadata(http).storeIDForBundleID(
                                                     u"com.example.app"_s, {u"ru"_s, u"us"_s})));
        QCOMPARE(http->requests().size(), 1);
    }

    void confirmedUnavailable()
    {
        // 2 is verified only as "02", 3 is available, 5 is not in the list: 1 and 4 remain, in list order.
        QStringList ids;
        for (const CatalogApp& app : AppStoreMetadata::confirmedUnavailable(
                 catalogApps(4, 1), {u"4"_s, u"02"_s, u"1"_s, u"3"_s, u"5"_s}, {u"3"_s}))
            ids.append(app.id());
        QCOMPARE(ids, (QStringList{u"1"_s, u"4"_s}));
    }
};

QTEST_GUILESS_MAIN(tst_AppStoreMetadata)
#include "tst_appstoremetadata.moc"
