#include "AppModel.h"
#include "ImageProviders.h"
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

// Loads the real window over a model in a temporary data directory.
class tst_MainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsThePlaceholderThenTheCatalog();
    void showsTheStoreAlert();
    void buildsTheSettingsPageWhenFirstShown();
    void opensTheErrorDialogForALaterAlert();
    void catalogListFollowsTheSearch();
    void catalogRowsShowIconOrPlaceholder();
    void sectionHeadersFollowTheCategories();

private:
    QQuickWindow* load(QQmlApplicationEngine& engine);

    test::TemporaryDataDirectory m_dir;
};

QQuickWindow* tst_MainWindow::load(QQmlApplicationEngine& engine)
{
    installImageProviders(engine, *AppModel::create(&engine, &engine));
    engine.load(QUrl(u"qrc:/qt/qml/Mirvo/qml/Main.qml"_s));
    if (engine.rootObjects().isEmpty())
        return nullptr;
    return qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
}

void tst_MainWindow::showsThePlaceholderThenTheCatalog()
{
    AppModel model(test::modelEnvironment(m_dir));
    AppModel::setInstance(&model);
    QQmlApplicationEngine engine;
    QQuickWindow* window = load(engine);
    QVERIFY(window);

    auto* placeholder = window->findChild<QQuickItem*>(u"startupPlaceholder"_s);
    QVERIFY(placeholder);
    QVERIFY(model.isStarting());
    QVERIFY(placeholder->isVisible());
    // The page's content is built once start-up is over.
    QVERIFY(!window->findChild<QQuickItem*>(u"catalogHeading"_s));

    QTRY_VERIFY(!model.isStarting());
    QVERIFY(!placeholder->isVisible());
    auto* heading = window->findChild<QQuickItem*>(u"catalogHeading"_s);
    QVERIFY(heading);
    QVERIFY(heading->isVisible());
    model.shutdown();
}

void tst_MainWindow::showsTheStoreAlert()
{
    AppModel model(test::blockedModelEnvironment(m_dir));
    AppModel::setInstance(&model);
    QQmlApplicationEngine engine;
    QQuickWindow* window = load(engine);
    QVERIFY(window);
    auto* dialog = window->findChild<QObject*>(u"errorDialog"_s);
    QVERIFY(dialog);
    QCOMPARE(dialog->property("title").toString(), u"Не удалось завершить операцию"_s);
    QTRY_VERIFY(dialog->property("visible").toBool());
    QCOMPARE(dialog->property("message").toString(), model.alert());

    QMetaObject::invokeMethod(dialog, "close");
    QTRY_VERIFY(model.alert().isEmpty());
    model.shutdown();
}

void tst_MainWindow::buildsTheSettingsPageWhenFirstShown()
{
    AppModel model(test::modelEnvironment(m_dir));
    AppModel::setInstance(&model);
    QQmlApplicationEngine engine;
    QQuickWindow* window = load(engine);
    QVERIFY(window);
    QTRY_VERIFY(!model.isStarting());
    QVERIFY(!window->findChild<QQuickItem*>(u"settingsHeading"_s));

    model.setPage(AppModel::Page::Settings);
    auto* heading = window->findChild<QQuickItem*>(u"settingsHeading"_s);
    QVERIFY(heading);
    QTRY_VERIFY(heading->isVisible());

    // Back on the catalog the page is kept, hidden, and shown again as it was.
    model.setPage(AppModel::Page::Catalog);
    QTRY_VERIFY(!heading->isVisible());
    model.setPage(AppModel::Page::Settings);
    QCOMPARE(window->findChild<QQuickItem*>(u"settingsHeading"_s), heading);
    QTRY_VERIFY(heading->isVisible());
    model.shutdown();
}

void tst_MainWindow::opensTheErrorDialogForALaterAlert()
{
    AppModel model(test::modelEnvironment(m_dir));
    AppModel::setInstance(&model);
    QQmlApplicationEngine engine;
    QQuickWindow* window = load(engine);
    QVERIFY(window);
    QTRY_VERIFY(!model.isStarting());
    QVERIFY(model.alert().isEmpty());
    QVERIFY(!window->findChild<QObject*>(u"errorDialog"_s));

    model.setAlert(u"Не удалось сохранить журнал."_s);
    auto* dialog = window->findChild<QObject*>(u"errorDialog"_s);
    QVERIFY(dialog);
    QTRY_VERIFY(dialog->property("visible").toBool());
    QCOMPARE(dialog->property("message").toString(), model.alert());

    QMetaObject::invokeMethod(dialog, "close");
    QTRY_VERIFY(model.alert().isEmpty());
    QTRY_VERIFY(!dialog->property("visible").toBool());
    model.shutdown();
}

void tst_MainWindow::catalogListFollowsTheSearch()
{
    AppModel model(test::modelEnvironment(m_dir));
    model.setAdvancedMode(true);
    AppModel::setInstance(&model);
    QQmlApplicationEngine engine;
    QQuickWindow* window = load(engine);
    QVERIFY(window);
    // Start-up finds no network here and leaves the catalog empty; this one comes after it.
    QTRY_VERIFY(!model.isStarting());
    auto* list = window->findChild<QQuickItem*>(u"catalogList"_s);
    auto* search = window->findChild<QQuickItem*>(u"catalogSearch"_s);
    QVERIFY(list && search);
    model.catalog()->updateCatalog({CatalogApp(u"1"_s, u"Сбербанк"_s, u"Финансы"_s, {}, 0, {}, {}, {}),
                                    CatalogApp(u"2"_s, u"Карты"_s, {}, {}, 0, {}, {}, {})});
    QCOMPARE(list->property("count").toInt(), 2);

    // Typing goes to the catalog's search, and the list shows what matches.
    search->forceActiveFocus();
    for (const QChar letter : u"сбер"_s)
        QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString(letter), Qt::NoModifier);
    QCOMPARE(model.catalog()->search(), u"сбер"_s);
    QTRY_COMPARE(list->property("count").toInt(), 1);
    model.shutdown();
}

namespace {

// Every item below `root` called `name`, in the order of the visual tree.
QList<QQuickItem*> itemsNamed(QQuickItem* root, const QString& name)
{
    QList<QQuickItem*> found;
    const QList<QQuickItem*> children = root->childItems();
    for (QQuickItem* child : children) {
        if (child->objectName() == name)
            found.append(child);
        found.append(itemsNamed(child, name));
    }
    return found;
}

} // namespace

void tst_MainWindow::catalogRowsShowIconOrPlaceholder()
{
    AppModel model(test::modelEnvironment(m_dir));
    model.setAdvancedMode(true);
    QImage picture(64, 64, QImage::Format_ARGB32);
    picture.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG"));
    QVERIFY(model.artworkCache());
    model.artworkCache()->store(png, u"1"_s);

    AppModel::setInstance(&model);
    QQmlApplicationEngine engine;
    QQuickWindow* window = load(engine);
    QVERIFY(window);
    QTRY_VERIFY(!model.isStarting());
    const QUrl artwork(u"https://icons.example/1.png"_s);
    model.catalog()->updateCatalog({CatalogApp(u"1"_s, u"Сбербанк"_s, {}, {}, 0, artwork, {}, {}),
                                    CatalogApp(u"2"_s, u"Карты"_s, {}, {}, 0, {}, {}, {})});
    auto* list = window->findChild<QQuickItem*>(u"catalogList"_s);
    QVERIFY(list);
    QTRY_COMPARE(itemsNamed(list, u"appIconPicture"_s).size(), 2);
    const QList<QQuickItem*> pictures = itemsNamed(list, u"appIconPicture"_s);
    const QList<QQuickItem*> placeholders = itemsNamed(list, u"appIconPlaceholder"_s);
    QCOMPARE(placeholders.size(), 2);

    // The first row's icon arrives from the cache; the second row has no address and keeps its letter.
    QTRY_VERIFY(pictures.at(0)->isVisible());
    QVERIFY(!placeholders.at(0)->isVisible());
    QVERIFY(!pictures.at(1)->isVisible());
    QVERIFY(placeholders.at(1)->isVisible());
    QCOMPARE(placeholders.at(1)->property("letter").toString(), u"К"_s);
    model.shutdown();
}

void tst_MainWindow::sectionHeadersFollowTheCategories()
{
    AppModel model(test::modelEnvironment(m_dir));
    model.setAdvancedMode(true);
    AppModel::setInstance(&model);
    QQmlApplicationEngine engine;
    QQuickWindow* window = load(engine);
    QVERIFY(window);
    QTRY_VERIFY(!model.isStarting());
    auto* list = window->findChild<QQuickItem*>(u"catalogList"_s);
    QVERIFY(list);
    const auto headers = [&] {
        QStringList texts;
        for (QQuickItem* header : itemsNamed(list, u"sectionHeader"_s)) {
            if (header->isVisible())
                texts.append(header->property("text").toString());
        }
        texts.sort();
        return texts;
    };
    model.catalog()->updateCatalog({CatalogApp(u"1"_s, u"Сбербанк"_s, {}, {}, 0, {}, {}, {}),
                                    CatalogApp(u"2"_s, u"Карты"_s, {}, {}, 0, {}, {}, {})});
    QTRY_COMPARE(headers(), QStringList{u"Без категории"_s});

    // The store's answer brings the categories: the same rows now stand under two headers.
    model.catalog()->updateCatalog({CatalogApp(u"1"_s, u"Сбербанк"_s, u"Финансы"_s, {}, 0, {}, {}, {}),
                                    CatalogApp(u"2"_s, u"Карты"_s, u"Навигация"_s, {}, 0, {}, {}, {})});
    QTRY_COMPARE(headers(), (QStringList{u"Навигация"_s, u"Финансы"_s}));
    model.shutdown();
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
