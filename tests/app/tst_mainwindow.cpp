#include "AppModel.h"
#include "TemporaryDataDirectory.h"

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

private:
    QQuickWindow* load(QQmlApplicationEngine& engine);
    AppModelEnvironment environment(const QString& root);

    test::TemporaryDataDirectory m_dir;
};

AppModelEnvironment tst_MainWindow::environment(const QString& root)
{
    AppModelEnvironment environment;
    environment.dataRoot = root;
    environment.settings =
        std::make_shared<QSettings>(m_dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
    return environment;
}

QQuickWindow* tst_MainWindow::load(QQmlApplicationEngine& engine)
{
    engine.load(QUrl(u"qrc:/qt/qml/Mirvo/qml/Main.qml"_s));
    if (engine.rootObjects().isEmpty())
        return nullptr;
    return qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
}

void tst_MainWindow::showsThePlaceholderThenTheCatalog()
{
    AppModel model(environment(m_dir.filePath(u"Mirvo"_s)));
    AppModel::setInstance(&model);
    QQmlApplicationEngine engine;
    QQuickWindow* window = load(engine);
    QVERIFY(window);
    QCOMPARE(window->title(), u"Сольвена"_s);
    QCOMPARE(window->size(), QSize(1180, 820));
    QCOMPARE(window->minimumSize(), QSize(1000, 720));

    auto* placeholder = window->findChild<QQuickItem*>(u"startupPlaceholder"_s);
    auto* heading = window->findChild<QQuickItem*>(u"catalogHeading"_s);
    QVERIFY(placeholder && heading);
    QVERIFY(model.isStarting());
    QVERIFY(placeholder->isVisible());
    QVERIFY(!heading->isVisible());

    QTRY_VERIFY(!model.isStarting());
    QVERIFY(!placeholder->isVisible());
    QVERIFY(heading->isVisible());
    model.shutdown();
}

void tst_MainWindow::showsTheStoreAlert()
{
    QFile blocker(m_dir.filePath(u"file"_s));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    AppModel model(environment(blocker.fileName()));
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

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
