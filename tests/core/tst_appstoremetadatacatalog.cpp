#include "AppStoreMetadata.h"
#include "AwaitTask.h"
#include "CancelledError.h"
#include "FakeHttpClient.h"
#include "RemovedRussianApps.h"
#include "SystemError.h"

#include <QtTest>

#include <memory>

using namespace mirvo;
using namespace mirvo::test;
using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray catalog = "Банк:1234567\nИгра:2345678\nКарта:3456789\n";

QString queryValue(const HttpRequest& request, const QString& key)
{
    return QUrlQuery(request.url).queryItemValue(key, QUrl::FullyDecoded);
}

bool isLookup(const HttpRequest& request)
{
    return request.url.path().endsWith(u"/lookup"_s);
}

} // namespace

// The removed apps a storefront no longer offers: the list downloaded and read, then one lookup.
class tst_AppStoreMetadataCatalog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void removedRussianCatalog_data()
    {
        QTest::addColumn<QString>("list");   // how the list download ends
        QTest::addColumn<QString>("lookup"); // how the lookup ends
        QTest::addColumn<QStringList>("expected");
        const QStringList all{u"1234567"_s, u"2345678"_s, u"3456789"_s};

        QTest::newRow("offered apps left out") << u"ok"_s << u"two offered"_s << QStringList{u"2345678"_s};
        QTest::newRow("none offered") << u"ok"_s << u"none offered"_s << all;
        QTest::newRow("lookup 503: whole list") << u"ok"_s << u"503"_s << all;
        QTest::newRow("lookup unreachable: whole list") << u"ok"_s << u"transport"_s << all;
        QTest::newRow("list 404") << u"404"_s << u"two offered"_s << QStringList{};
        QTest::newRow("list without a valid line") << u"invalid"_s << u"two offered"_s << QStringList{};
    }

    void removedRussianCatalog()
    {
        QFETCH(QString, list);
        QFETCH(QString, lookup);
        const auto answer = [](const QString& how, const QByteArray& ok) {
            if (how == u"transport"_s)
                throw SystemError(u"Сервер недоступен."_s);
            if (how.toInt() != 0)
                return FakeHttpClient::status(how.toInt());
            if (how == u"invalid"_s)
                return FakeHttpClient::ok("no colon here\n");
            if (how == u"none offered"_s)
                return FakeHttpClient::ok("{\"results\": []}");
            return FakeHttpClient::ok(ok);
        };
        auto http = std::make_shared<FakeHttpClient>([&](const HttpRequest& request) {
            if (isLookup(request))
                return answer(lookup, "{\"results\": [{\"trackId\": 3456789}, {\"trackId\": 1234567}]}");
            if (request.url != RemovedRussianApps::remoteCatalogURL())
                return FakeHttpClient::status(404); // the list's change date is of no interest here
            return answer(list, catalog);
        });

        QStringList ids;
        for (const CatalogApp& app : awaitTask(AppStoreMetadata(http).removedRussianCatalog(u"ru"_s)))
            ids.append(app.id());
        QTEST(ids, "expected");

        QStringList lookups;
        for (const HttpRequest& request : http->requests()) {
            if (isLookup(request))
                lookups.append(queryValue(request, u"country"_s) + u':' + queryValue(request, u"id"_s));
        }
        QCOMPARE(lookups, list == u"ok"_s ? QStringList{u"ru:1234567,2345678,3456789"_s} : QStringList{});
    }

    void keepsTheListsNamesAndOrder()
    {
        auto http = std::make_shared<FakeHttpClient>([](const HttpRequest& request) {
            if (isLookup(request))
                return FakeHttpClient::ok(
                    "{\"results\": [{\"trackId\": 2345678, \"trackName\": \"Store name\"}]}");
            return FakeHttpClient::ok(catalog);
        });
        const QList<CatalogApp> apps = awaitTask(AppStoreMetadata(http).removedRussianCatalog(u"us"_s));
        QCOMPARE(apps, RemovedRussianApps::parseCatalog("Банк:1234567\nКарта:3456789\n"));
    }

    void stopAfterTheListIsAStop()
    {
        std::stop_source source;
        auto http = std::make_shared<FakeHttpClient>([&source](const HttpRequest& request) {
            if (request.url == RemovedRussianApps::remoteCatalogURL())
                source.request_stop();
            return FakeHttpClient::ok(catalog);
        });
        QVERIFY_THROWS_EXCEPTION(CancelledError, awaitTask(AppStoreMetadata(http).removedRussianCatalog(
                                                     u"ru"_s, source.get_token())));
        for (const HttpRequest& request : http->requests())
            QVERIFY(!isLookup(request));
    }
};

QTEST_GUILESS_MAIN(tst_AppStoreMetadataCatalog)
#include "tst_appstoremetadatacatalog.moc"
