#include "AppModel.h"
#include "RussianPlural.h"
#include "TestEnvironment.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

CatalogApp app(const QString& id, const QString& name, const QString& category = {},
               std::optional<QUrl> artwork = {})
{
    return CatalogApp(id, name, category, {}, 0, std::move(artwork), {}, {});
}

QStringList ids(const QAbstractItemModel& model)
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result.append(model.index(row, 0).data(CatalogListModel::IdRole).toString());
    return result;
}

// Every signal by which a list model says its rows changed.
class ModelSignals {
public:
    explicit ModelSignals(const QAbstractItemModel* model)
        : reset(model, &QAbstractItemModel::modelReset)
        , layout(model, &QAbstractItemModel::layoutChanged)
        , inserted(model, &QAbstractItemModel::rowsInserted)
        , removed(model, &QAbstractItemModel::rowsRemoved)
        , data(model, &QAbstractItemModel::dataChanged)
    {
    }

    int structural() const
    {
        return int(reset.count() + layout.count() + inserted.count() + removed.count());
    }

    QSignalSpy reset, layout, inserted, removed, data;
};

} // namespace

// The catalog and popular-app lists, their searches, the selection and the labels.
class tst_CatalogState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_model = std::make_unique<AppModel>(test::modelEnvironment(m_dir));
        m_catalog = m_model->catalog();
        for (QAbstractItemModel* model :
             std::initializer_list<QAbstractItemModel*>{m_catalog->apps(), m_catalog->filteredApps(),
                                                        m_catalog->topApps(), m_catalog->filteredTopApps()})
            m_testers.append(new QAbstractItemModelTester(
                model, QAbstractItemModelTester::FailureReportingMode::QtTest, model));
    }

    void cleanup()
    {
        m_testers.clear();
        m_model.reset();
    }

    void catalogRowsAreInsertedEnrichedAndReplaced()
    {
        ModelSignals source(m_catalog->apps());
        m_catalog->updateCatalog({app(u"1"_s, u"Сбербанк"_s), app(u"2"_s, u"Карты"_s)});
        QCOMPARE(source.inserted.count(), 1);
        QCOMPARE(source.reset.count(), 0);
        QCOMPARE(ids(*m_catalog->filteredApps()), (QStringList{u"1"_s, u"2"_s}));

        // Enrichment keeps the IDs: the rows stay, their data changes.
        const QUrl icon(u"https://is1.example/icon.png"_s);
        m_catalog->updateCatalog({app(u"1"_s, u"СберБанк Онлайн"_s, {}, icon), app(u"2"_s, u"Карты"_s)});
        QCOMPARE(source.structural(), 1);
        QCOMPARE(source.data.count(), 1);
        QCOMPARE(m_catalog->apps()->index(0).data(CatalogListModel::NameRole).toString(),
                 u"СберБанк Онлайн"_s);
        QCOMPARE(m_catalog->apps()->index(0).data(CatalogListModel::IconURLRole).toUrl(), icon);

        // A new list replaces the rows, and the selection keeps only what it still lists.
        m_catalog->setSelectedAppIDs({u"1"_s, u"2"_s});
        m_catalog->updateCatalog({app(u"2"_s, u"Карты"_s), app(u"3"_s, u"Почта"_s)});
        QCOMPARE(source.reset.count(), 1);
        QCOMPARE(ids(*m_catalog->filteredApps()), (QStringList{u"2"_s, u"3"_s}));
        QCOMPARE(m_catalog->selectedAppIDs(), QSet<QString>{u"2"_s});
        QVERIFY(m_catalog->apps()->index(0).data(CatalogListModel::SelectedRole).toBool());
    }

    void rowRoles()
    {
        m_catalog->updateCatalog(
            {app(u"1"_s, u"Сбербанк"_s, u"  Финансы "_s), app(u"2"_s, u"Карты"_s, u"   "_s)});
        const TopApp telegram{u"10"_s, u"Telegram"_s, u"telegram.org"_s, {}};
        m_catalog->setTopApps({telegram});
        const CatalogListModel* apps = m_catalog->apps();
        QCOMPARE(apps->index(0).data(CatalogListModel::CategoryRole).toString(), u"Финансы"_s);
        QCOMPARE(apps->index(1).data(CatalogListModel::CategoryRole).toString(), u"Без категории"_s);
        QCOMPARE(m_catalog->topApps()->index(0).data(TopAppsListModel::CategoryRole).toString(),
                 u"Без категории"_s);
        QCOMPARE(m_catalog->topApps()->index(0).data(TopAppsListModel::IconURLRole).toUrl(),
                 telegram.faviconURL());

        // The row of the running operation says so, and only that row changes.
        ModelSignals source(apps);
        m_model->operation()->setActiveCatalogAppID(u"2"_s);
        QCOMPARE(source.data.count(), 1);
        QCOMPARE(source.data.first().at(0).toModelIndex().row(), 1);
        QVERIFY(apps->index(1).data(CatalogListModel::RunningRole).toBool());
        QVERIFY(!apps->index(0).data(CatalogListModel::RunningRole).toBool());
        m_model->operation()->setActiveCatalogAppID({});
        QVERIFY(!apps->index(1).data(CatalogListModel::RunningRole).toBool());
    }

    void selectingARowChangesThatRowOnly()
    {
        m_catalog->updateCatalog({app(u"1"_s, u"Один"_s), app(u"2"_s, u"Два"_s), app(u"3"_s, u"Три"_s)});
        ModelSignals source(m_catalog->apps());
        QSignalSpy selection(m_catalog, &CatalogState::selectionChanged);

        m_catalog->toggleSelection(u"2"_s);
        QCOMPARE(source.structural(), 0);
        QCOMPARE(source.data.count(), 1);
        const QList<QVariant> change = source.data.first();
        QCOMPARE(change.at(0).toModelIndex().row(), 1);
        QCOMPARE(change.at(1).toModelIndex().row(), 1);
        QCOMPARE(change.at(2).value<QList<int>>(), QList<int>{CatalogListModel::SelectedRole});
        QVERIFY(m_catalog->apps()->index(1).data(CatalogListModel::SelectedRole).toBool());
        QCOMPARE(selection.count(), 1);

        m_catalog->toggleSelection(u"2"_s);
        QVERIFY(m_catalog->selectedAppIDs().isEmpty());
        QCOMPARE(source.data.count(), 2);
    }

    void searchNeverTouchesTheSource_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");

        // "Без категории" comes before "Финансы".
        const QStringList all{u"2"_s, u"3"_s, u"4"_s, u"1"_s};
        QTest::newRow("empty") << QString() << all;
        QTest::newRow("spaces only") << u"   "_s << all;
        QTest::newRow("ё and е") << u"ежик"_s << QStringList{u"3"_s};
        QTest::newRow("category") << u"финансы"_s << QStringList{u"1"_s};
    }

    void searchNeverTouchesTheSource()
    {
        QFETCH(QString, search);
        QFETCH(QStringList, expected);

        m_catalog->updateCatalog({app(u"1"_s, u"Сбербанк"_s, u"Финансы"_s), app(u"2"_s, u"Карты 12"_s),
                                  app(u"3"_s, u"Ёжик"_s), app(u"4"_s, u"Café"_s)});
        ModelSignals source(m_catalog->apps());
        QSignalSpy searchChanged(m_catalog, &CatalogState::searchChanged);

        m_catalog->setSearch(u"к"_s);
        m_catalog->setSearch(search);
        QCOMPARE(ids(*m_catalog->filteredApps()), expected);
        QCOMPARE(m_catalog->search(), search);
        QCOMPARE(searchChanged.count(), search == u"к"_s ? 1 : 2);
        QCOMPARE(source.structural(), 0);
        QCOMPARE(source.data.count(), 0);
    }

    void rowsAreGroupedByCategory()
    {
        // Russian order (Ё files with Е, before Ж), letter case ignored, list order inside a group.
        m_catalog->updateCatalog({app(u"1"_s, u"a"_s, u"Жуки"_s), app(u"2"_s, u"b"_s, u"ёлки"_s),
                                  app(u"3"_s, u"c"_s), app(u"4"_s, u"d"_s, u" Жуки"_s),
                                  app(u"5"_s, u"e"_s, u"Еда"_s), app(u"6"_s, u"f"_s, u"банки"_s)});
        QCOMPARE(ids(*m_catalog->filteredApps()),
                 (QStringList{u"6"_s, u"3"_s, u"5"_s, u"2"_s, u"1"_s, u"4"_s}));
        m_catalog->setSearch(u"d"_s);
        QCOMPARE(ids(*m_catalog->filteredApps()), QStringList{u"4"_s});

        m_catalog->setTopApps({TopApp{u"7"_s, u"g"_s, u"g.ru"_s, u"Связь"_s},
                               TopApp{u"8"_s, u"h"_s, u"h.ru"_s, u"Банки"_s},
                               TopApp{u"9"_s, u"i"_s, u"i.ru"_s, u"связь"_s}});
        QCOMPARE(ids(*m_catalog->filteredTopApps()), (QStringList{u"8"_s, u"7"_s, u"9"_s}));
    }

    void searchFollowsTheRows()
    {
        m_catalog->setSearch(u"сбер"_s);
        m_catalog->updateCatalog({app(u"1"_s, u"Сбербанк"_s), app(u"2"_s, u"Карты"_s)});
        QCOMPARE(ids(*m_catalog->filteredApps()), QStringList{u"1"_s});
        // New data for the same rows, then new rows: the filter never works from the old ones.
        m_catalog->updateCatalog({app(u"1"_s, u"Банк"_s), app(u"2"_s, u"СберМаркет"_s)});
        QCOMPARE(ids(*m_catalog->filteredApps()), QStringList{u"2"_s});
        m_catalog->updateCatalog(
            {app(u"3"_s, u"Сбер ID"_s), app(u"4"_s, u"Почта"_s), app(u"5"_s, u"сберкнижка"_s)});
        QCOMPARE(ids(*m_catalog->filteredApps()), (QStringList{u"3"_s, u"5"_s}));

        // A match never runs from one row into the next, whether or not a name holds a line break.
        m_catalog->setSearch(u"3\nпочта"_s);
        QCOMPARE(ids(*m_catalog->filteredApps()), QStringList{});
        m_catalog->setSearch(u"id 3"_s);
        QCOMPARE(ids(*m_catalog->filteredApps()), QStringList{u"3"_s});
        m_catalog->updateCatalog({app(u"6"_s, u"Сбер\nID"_s), app(u"7"_s, u"Почта"_s)});
        QCOMPARE(ids(*m_catalog->filteredApps()), QStringList{});
        m_catalog->setSearch(u"сбер\nid"_s);
        QCOMPARE(ids(*m_catalog->filteredApps()), QStringList{u"6"_s});
        m_catalog->setSearch(u"6\nпочта"_s);
        QCOMPARE(ids(*m_catalog->filteredApps()), QStringList{});
    }

    void topAppsSearch_data()
    {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("empty") << QString() << QStringList{u"10"_s, u"20"_s};
        QTest::newRow("name") << u" TELE "_s << QStringList{u"10"_s};
        QTest::newRow("domain") << u"whatsapp.com"_s << QStringList{u"20"_s};
        QTest::newRow("id") << u"20"_s << QStringList{u"20"_s};
    }

    void topAppsSearch()
    {
        QFETCH(QString, search);
        QFETCH(QStringList, expected);

        m_catalog->setTopApps({TopApp{u"10"_s, u"Telegram"_s, u"telegram.org"_s, u"Общение"_s},
                               TopApp{u"20"_s, u"WhatsApp"_s, u"whatsapp.com"_s, u"Общение"_s}});
        ModelSignals source(m_catalog->topApps());
        m_catalog->setTopSearch(search);
        QCOMPARE(ids(*m_catalog->filteredTopApps()), expected);
        QCOMPARE(source.structural(), 0);
    }

    void selectAllActsOnTheFilteredRows()
    {
        m_catalog->updateCatalog(
            {app(u"1"_s, u"Карты"_s), app(u"2"_s, u"Картотека"_s), app(u"3"_s, u"Почта"_s)});
        m_catalog->setSelectedAppIDs({u"3"_s});
        m_catalog->setSearch(u"карт"_s);
        QVERIFY(!m_catalog->allFilteredAppsSelected());

        m_catalog->toggleFilteredSelection();
        QCOMPARE(m_catalog->selectedAppIDs(), (QSet<QString>{u"1"_s, u"2"_s, u"3"_s}));
        QVERIFY(m_catalog->allFilteredAppsSelected());
        m_catalog->toggleFilteredSelection();
        QCOMPARE(m_catalog->selectedAppIDs(), QSet<QString>{u"3"_s});

        // Nothing visible, nothing to select.
        m_catalog->setSearch(u"whatsapp"_s);
        m_catalog->toggleFilteredSelection();
        QCOMPARE(m_catalog->selectedAppIDs(), QSet<QString>{u"3"_s});
        QVERIFY(!m_catalog->allFilteredAppsSelected());

        // Both toggles stand back while an operation runs.
        m_catalog->setSearch({});
        m_model->operation()->setBusy(true);
        m_catalog->toggleSelection(u"1"_s);
        m_catalog->toggleFilteredSelection();
        QCOMPARE(m_catalog->selectedAppIDs(), QSet<QString>{u"3"_s});
    }

    void appsWord_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("word");

        const QString one = u"приложение"_s, few = u"приложения"_s, many = u"приложений"_s;
        const QList<std::pair<qint64, QString>> rows{{0, many},   {1, one},   {2, few},  {5, many},
                                                     {11, many},  {12, many}, {21, one}, {22, few},
                                                     {111, many}, {1004, few}};
        for (const auto& [count, word] : rows)
            QTest::addRow("%lld", count) << count << word;
    }

    void appsWord()
    {
        QFETCH(qint64, count);
        QFETCH(QString, word);
        QCOMPARE(mirvo::appsWord(count), word);
    }

    void labels()
    {
        QCOMPARE(m_catalog->updateLabel(), u"Apps_ID_List: дата обновления недоступна"_s);
        m_catalog->setUpdatedAt(QDateTime(QDate(2026, 12, 7), QTime(14, 5)));
        QCOMPARE(m_catalog->updateLabel(), u"Список обновлён 7 дек. 2026 г., 14:05"_s);

        QSignalSpy count(m_catalog, &CatalogState::appCountLabelChanged);
        m_catalog->updateCatalog({app(u"1"_s, u"Карты"_s), app(u"2"_s, u"Почта"_s)});
        QCOMPARE(m_catalog->appCountLabel(), u"2 приложения"_s);
        m_catalog->setSelectedAppIDs({u"2"_s});
        m_catalog->setSearch(u"карт"_s);
        QVERIFY(count.count() >= 2);
        // The count follows the search; the batch labels count the whole selection.
        QCOMPARE(m_catalog->appCountLabel(), u"1 приложение"_s);
        QCOMPARE(m_catalog->selectedAppsLabel(), u"Выбрано: 1 приложение"_s);
        QCOMPARE(m_catalog->batchInstallButtonTitle(), u"Установить 1 приложение"_s);
        QCOMPARE(m_catalog->batchDownloadButtonTitle(), u"Скачать 1 приложение"_s);
    }

private:
    test::TemporaryDataDirectory m_dir;
    std::unique_ptr<AppModel> m_model;
    CatalogState* m_catalog = nullptr;
    QList<QAbstractItemModelTester*> m_testers;
};

QTEST_MAIN(tst_CatalogState)
#include "tst_catalogstate.moc"
