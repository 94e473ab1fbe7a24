#include "AppModel.h"
#include "ImageProviders.h"
#include "QuickTestHelpers.h"
#include "TestEnvironment.h"

#include <QBuffer>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QtTest>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

// The real window over a model; the model shuts down before the window goes.
struct Window {
    explicit Window(AppModelEnvironment environment, bool advanced = false)
        : model(std::move(environment))
    {
        model.setAdvancedMode(advanced);
        AppModel::setInstance(&model);
    }
    ~Window() { model.shutdown(); }

    // Loads Main.qml; with `started`, waits until start-up is over.
    QQuickWindow* load(bool started = true)
    {
        installImageProviders(engine, *AppModel::create(&engine, &engine));
        engine.load(QUrl(u"qrc:/qt/qml/Mirvo/qml/Main.qml"_s));
        window = engine.rootObjects().isEmpty()
                     ? nullptr
                     : qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
        if (window && started && !QTest::qWaitFor([this] { return !model.isStarting(); }))
            return nullptr;
        return window;
    }
    template <typename T = QQuickItem> T* find(const QString& name) const
    {
        return window->findChild<T*>(name);
    }

    AppModel model;
    QQmlApplicationEngine engine;
    QQuickWindow* window = nullptr;
};

} // namespace

class tst_MainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsThePlaceholderThenTheCatalog()
    {
        Window w(test::modelEnvironment(m_dir));
        QVERIFY(w.load(false));
        auto* placeholder = w.find(u"startupPlaceholder"_s);
        QVERIFY(placeholder);
        QVERIFY(w.model.isStarting());
        QVERIFY(placeholder->isVisible());
        // The page's content is built once start-up is over.
        QVERIFY(!w.find(u"catalogHeading"_s));

        QTRY_VERIFY(!w.model.isStarting());
        QVERIFY(!placeholder->isVisible());
        QVERIFY(w.find(u"catalogHeading"_s) && w.find(u"catalogHeading"_s)->isVisible());
    }

    void showsTheStoreAlert()
    {
        Window w(test::blockedModelEnvironment(m_dir));
        QVERIFY(w.load(false));
        auto* dialog = w.find<QObject>(u"errorDialog"_s);
        QVERIFY(dialog);
        QCOMPARE(dialog->property("title").toString(), u"Не удалось завершить операцию"_s);
        QTRY_VERIFY(dialog->property("visible").toBool());
        QCOMPARE(dialog->property("message").toString(), w.model.alert());

        QMetaObject::invokeMethod(dialog, "close");
        QTRY_VERIFY(w.model.alert().isEmpty());
    }

    void buildsTheSettingsPageWhenFirstShown()
    {
        Window w(test::modelEnvironment(m_dir));
        QVERIFY(w.load());
        QVERIFY(!w.find(u"settingsHeading"_s));

        w.model.setPage(AppModel::Page::Settings);
        auto* heading = w.find(u"settingsHeading"_s);
        QVERIFY(heading);
        QTRY_VERIFY(heading->isVisible());

        // Back on the catalog the page is kept, hidden, and shown again as it was.
        w.model.setPage(AppModel::Page::Catalog);
        QTRY_VERIFY(!heading->isVisible());
        w.model.setPage(AppModel::Page::Settings);
        QCOMPARE(w.find(u"settingsHeading"_s), heading);
        QTRY_VERIFY(heading->isVisible());
    }

    void opensTheErrorDialogForALaterAlert()
    {
        Window w(test::modelEnvironment(m_dir));
        QVERIFY(w.load());
        QVERIFY(w.model.alert().isEmpty());
        QVERIFY(!w.find<QObject>(u"errorDialog"_s));

        w.model.setAlert(u"Не удалось сохранить журнал."_s);
        auto* dialog = w.find<QObject>(u"errorDialog"_s);
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->property("visible").toBool());
        QCOMPARE(dialog->property("message").toString(), w.model.alert());

        QMetaObject::invokeMethod(dialog, "close");
        QTRY_VERIFY(w.model.alert().isEmpty());
        QTRY_VERIFY(!dialog->property("visible").toBool());
    }

    void catalogRowsShowIconOrPlaceholder()
    {
        Window w(test::modelEnvironment(m_dir), true);
        QImage picture(64, 64, QImage::Format_ARGB32);
        picture.fill(Qt::blue);
        QByteArray png;
        QBuffer buffer(&png);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG"));
        QVERIFY(w.model.artworkCache());
        w.model.artworkCache()->store(png, u"1"_s);

        QVERIFY(w.load());
        const QUrl artwork(u"https://icons.example/1.png"_s);
        w.model.catalog()->updateCatalog({CatalogApp(u"1"_s, u"Сбербанк"_s, {}, {}, 0, artwork, {}, {}),
                                          CatalogApp(u"2"_s, u"Карты"_s, {}, {}, 0, {}, {}, {})});
        auto* list = w.find(u"catalogList"_s);
        QVERIFY(list);
        QTRY_COMPARE(test::itemsNamed(list, u"appIconPicture"_s).size(), 2);
        const QList<QQuickItem*> pictures = test::itemsNamed(list, u"appIconPicture"_s);
        const QList<QQuickItem*> placeholders = test::itemsNamed(list, u"appIconPlaceholder"_s);
        QCOMPARE(placeholders.size(), 2);

        // The first row's icon arrives from the cache; the second row has no address and keeps its letter.
        QTRY_VERIFY(pictures.at(0)->isVisible());
        QVERIFY(!placeholders.at(0)->isVisible());
        QVERIFY(!pictures.at(1)->isVisible());
        QVERIFY(placeholders.at(1)->isVisible());
        QCOMPARE(placeholders.at(1)->property("letter").toString(), u"К"_s);
    }

    // Section headers follow categories that arrive after the rows; the list follows the search.
    void catalogListFollowsCategoriesAndSearch()
    {
        Window w(test::modelEnvironment(m_dir), true);
        // Start-up finds no network here and leaves the catalog empty; this one comes after it.
        QVERIFY(w.load());
        auto* list = w.find(u"catalogList"_s);
        QVERIFY(list);
        const auto headers = [&] {
            QStringList texts;
            for (QQuickItem* header : test::itemsNamed(list, u"sectionHeader"_s)) {
                if (header->isVisible())
                    texts.append(header->property("text").toString());
            }
            texts.sort();
            return texts;
        };
        w.model.catalog()->updateCatalog({CatalogApp(u"1"_s, u"Сбербанк"_s, {}, {}, 0, {}, {}, {}),
                                          CatalogApp(u"2"_s, u"Карты"_s, {}, {}, 0, {}, {}, {})});
        QTRY_COMPARE(headers(), QStringList{u"Без категории"_s});

        // The store's answer brings the categories: the same rows now stand under two headers.
        w.model.catalog()->updateCatalog({CatalogApp(u"1"_s, u"Сбербанк"_s, u"Финансы"_s, {}, 0, {}, {}, {}),
                                          CatalogApp(u"2"_s, u"Карты"_s, u"Навигация"_s, {}, 0, {}, {}, {})});
        QTRY_COMPARE(headers(), (QStringList{u"Навигация"_s, u"Финансы"_s}));

        // Typing goes to the catalog's search, and the list shows what matches.
        auto* search = w.find(u"catalogSearch"_s);
        QVERIFY(search);
        test::type(w.window, search, u"сбер"_s);
        QCOMPARE(w.model.catalog()->search(), u"сбер"_s);
        QTRY_COMPARE(list->property("count").toInt(), 1);
        QTRY_COMPARE(headers(), QStringList{u"Финансы"_s});
    }

private:
    test::TemporaryDataDirectory m_dir;
};

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
