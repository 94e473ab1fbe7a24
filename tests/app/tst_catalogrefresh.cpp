#include "AppModel.h"
#include "AwaitTask.h"
#include "FakeHttpClient.h"
#include "RemovedRussianApps.h"
#include "TestEnvironment.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray networkList = "Сбербанк: 100001\nOzon: 100002\nГосуслуги: 100003\n"_ba;
const QByteArray savedList = "Старый банк: 200001\nOzon: 100002\n"_ba;
const QDateTime networkDate(QDate(2026, 3, 1), QTime(9, 30), Qt::UTC);
const QDateTime savedDate(QDate(2025, 11, 20), QTime(18, 5), Qt::UTC);
const QString savedNotice = u"Не удалось обновить каталог. Показана последняя сохранённая версия."_s;
const QString offlineNotice = u"Не удалось обновить каталог. Проверьте подключение к интернету."_s;

// What the remote services answer: the two lists, the change date and the store lookup.
struct Remote {
    int catalogStatus = 200; // 0: the host cannot be reached
    QByteArray catalog = networkList;
    QByteArray topApps;
    int topAppsStatus = 404;
    QHash<QString, QString> storeNames; // ID -> name, in every storefront

    HttpResponse answer(const HttpRequest& request) const
    {
        const QString path = request.url.path();
        if (path.endsWith(u"/Apps_ID_List.txt"_s)) {
            if (catalogStatus == 0)
                throw SystemError(u"Не удалось подключиться к серверу."_s);
            return {catalogStatus, catalog, false};
        }
        if (path.endsWith(u"/commits"_s))
            return test::FakeHttpClient::ok(
                R"([{"commit":{"committer":{"date":"2026-03-01T09:30:00Z"}}}])"_ba);
        if (path.endsWith(u"/top.json"_s))
            return {topAppsStatus, topApps, false};
        if (path == u"/lookup"_s) {
            QJsonArray results;
            for (const QString& id : QUrlQuery(request.url).queryItemValue(u"id"_s).split(u',')) {
                if (storeNames.contains(id))
                    results.append(
                        QJsonObject{{u"trackId"_s, id.toLongLong()}, {u"trackName"_s, storeNames.value(id)}});
            }
            return test::FakeHttpClient::ok(QJsonDocument(QJsonObject{{u"results"_s, results}}).toJson());
        }
        return test::FakeHttpClient::status(404);
    }
};

QStringList column(const QAbstractItemModel& model, int role)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result.append(model.index(row, 0).data(role).toString());
    return result;
}

CatalogApp app(const QString& id, const QString& name)
{
    return CatalogApp(id, name, {}, {}, 0, {}, {}, {});
}

} // namespace

// Loading both lists over the network, the saved copy as a fallback, and the store data filled in later.
class tst_CatalogRefresh : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_remote = Remote();
        m_http = std::make_shared<test::FakeHttpClient>(
            [this](const HttpRequest& request) { return m_remote.answer(request); });
        AppModelEnvironment environment = test::modelEnvironment(m_dir);
        environment.http = m_http;
        m_model = std::make_unique<AppModel>(std::move(environment));
        m_model->store()->clearCatalogCache();
        for (QAbstractItemModel* model :
             std::initializer_list<QAbstractItemModel*>{catalog()->apps(), catalog()->filteredApps(),
                                                        catalog()->topApps(), catalog()->filteredTopApps()})
            new QAbstractItemModelTester(model, QAbstractItemModelTester::FailureReportingMode::QtTest,
                                         model);
    }

    void cleanup()
    {
        // Enrichment may still wait on the client; let it end before the model goes.
        if (m_model)
            QTRY_VERIFY(catalog()->metadataTask().isEmpty() || catalog()->metadataTask().isFinished());
        m_model.reset();
        m_http.reset();
    }

    void refreshCatalog_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("saved");
        QTest::addColumn<QStringList>("expectedIDs");
        QTest::addColumn<QDateTime>("expectedDate");
        QTest::addColumn<QString>("expectedNotice");

        const QStringList network{u"100001"_s, u"100002"_s, u"100003"_s};
        const QStringList saved{u"200001"_s, u"100002"_s};
        QTest::newRow("network, saved copy ignored")
            << 200 << networkList << savedList << network << networkDate << QString();
        QTest::newRow("unreachable, saved copy")
            << 0 << QByteArray() << savedList << saved << savedDate << savedNotice;
        QTest::newRow("does not parse, saved copy")
            << 200 << "no IDs here\n"_ba << savedList << saved << savedDate << savedNotice;
        QTest::newRow("first launch")
            << 0 << QByteArray() << QByteArray() << QStringList() << QDateTime() << offlineNotice;
        QTest::newRow("saved copy does not parse")
            << 0 << QByteArray() << "\xff\xfe"_ba << QStringList() << QDateTime() << offlineNotice;
    }

    void refreshCatalog()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, saved);
        QFETCH(QStringList, expectedIDs);
        QFETCH(QDateTime, expectedDate);
        QFETCH(QString, expectedNotice);

        m_remote.catalogStatus = status;
        m_remote.catalog = body;
        if (!saved.isEmpty())
            m_model->store()->saveCatalog(saved, savedDate);
        // Whatever was shown before is replaced, never kept; the selection keeps only what is still listed.
        catalog()->updateCatalog({app(u"100002"_s, u"Ozon"_s), app(u"300001"_s, u"Прежний"_s)});
        catalog()->setSelectedAppIDs({u"100002"_s, u"300001"_s});

        test::awaitTask(catalog()->refreshCatalog());

        QVERIFY(!catalog()->loading());
        QCOMPARE(column(*catalog()->apps(), CatalogListModel::IdRole), expectedIDs);
        QCOMPARE(catalog()->updatedAt(), expectedDate);
        QCOMPARE(m_model->notice(), expectedNotice);
        QCOMPARE(m_model->noticeIsError(), !expectedNotice.isEmpty());
        QCOMPARE(catalog()->selectedAppIDs(),
                 expectedIDs.contains(u"100002"_s) ? QSet<QString>{u"100002"_s} : QSet<QString>{});
        if (expectedNotice.isEmpty()) {
            // The bytes as received are what the next start falls back to.
            QCOMPARE(m_model->store()->cachedCatalog(), std::optional<QByteArray>(body));
            QCOMPARE(m_model->store()->cachedCatalogUpdatedAt(), std::optional<QDateTime>(networkDate));
        } else if (!saved.isEmpty()) {
            QCOMPARE(m_model->store()->cachedCatalog(), std::optional<QByteArray>(saved));
        }
    }

    void aReplacedCatalogNeverReceivesTheOldEnrichment()
    {
        m_remote.storeNames = {{u"1001"_s, u"Старое имя"_s}, {u"2002"_s, u"Новое имя"_s}};
        m_http->setDelay(0.05);
        catalog()->updateCatalog({app(u"1001"_s, u"Первый"_s)});
        const TaskHandle first = catalog()->metadataTask();
        catalog()->updateCatalog({app(u"1001"_s, u"Первый"_s), app(u"2002"_s, u"Второй"_s)});

        QVERIFY(first.isCancelled());
        QTRY_VERIFY(first.isFinished());
        QTRY_VERIFY(catalog()->metadataTask().isFinished());
        QCOMPARE(column(*catalog()->apps(), CatalogListModel::NameRole),
                 (QStringList{u"Старое имя"_s, u"Новое имя"_s}));

        // A catalog replaced by one with other IDs while its lookup runs keeps the new rows as they came.
        catalog()->updateCatalog({app(u"1001"_s, u"Первый"_s)});
        const TaskHandle third = catalog()->metadataTask();
        catalog()->updateCatalog({app(u"3003"_s, u"Третий"_s)});
        QTRY_VERIFY(third.isFinished());
        QTRY_VERIFY(catalog()->metadataTask().isFinished());
        QCOMPARE(column(*catalog()->apps(), CatalogListModel::NameRole), QStringList{u"Третий"_s});
    }

    void refreshTopApps_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("expectedIDs");

        QStringList bundled;
        for (const TopApp& app : RemovedRussianApps::bundledTopApps())
            bundled.append(app.id);
        const QByteArray list = R"([{"id": 100001, "name": "Сбербанк", "domain": "sberbank.ru"}])"_ba;
        QTest::newRow("published list") << 200 << list << QStringList{u"100001"_s};
        QTest::newRow("not published") << 404 << QByteArray() << bundled;
        QTest::newRow("does not parse") << 200 << "<html>"_ba << bundled;
    }

    void refreshTopApps()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);

        m_remote.topAppsStatus = status;
        m_remote.topApps = body;
        test::awaitTask(catalog()->refreshTopApps());

        QVERIFY(!catalog()->topAppsLoading());
        QTEST(column(*catalog()->topApps(), TopAppsListModel::IdRole), "expectedIDs");
        QCOMPARE(m_model->notice(), QString());
    }

private:
    CatalogState* catalog() { return m_model->catalog(); }

    test::TemporaryDataDirectory m_dir;
    Remote m_remote;
    std::shared_ptr<test::FakeHttpClient> m_http;
    std::unique_ptr<AppModel> m_model;
};

QTEST_MAIN(tst_CatalogRefresh)
#include "tst_catalogrefresh.moc"
