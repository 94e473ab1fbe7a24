#include "AppModel.h"
#include "IconImageProvider.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExtensionPlugin>
#include <QQuickStyle>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(u"Mirvo"_s);
    QGuiApplication::setApplicationDisplayName(u"Сольвена"_s);
    QGuiApplication::setOrganizationName(u"Mirvo"_s);
    QGuiApplication::setOrganizationDomain(u"mirvo.app"_s);
    QGuiApplication::setApplicationVersion(QStringLiteral(MIRVO_VERSION));
    // Wayland compositors find the icon and name through the installed .desktop file of this id.
    QGuiApplication::setDesktopFileName(u"app.mirvo.Mirvo"_s);
#ifndef Q_OS_MACOS
    QGuiApplication::setWindowIcon(QIcon(u":/icons/mirvo.png"_s));
#endif
    QGuiApplication::setQuitOnLastWindowClosed(true);
    QQuickStyle::setStyle(u"Basic"_s);

    mirvo::AppModel model(mirvo::AppModelEnvironment::production());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &model, &mirvo::AppModel::shutdown);
    mirvo::AppModel::setInstance(&model);

    QQmlApplicationEngine engine;
    engine.addImageProvider(mirvo::IconImageProvider::providerId, new mirvo::IconImageProvider(&model));
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app, [] { QCoreApplication::exit(1); },
        Qt::QueuedConnection);
    engine.load(QUrl(u"qrc:/qt/qml/Mirvo/qml/Main.qml"_s));
    return QGuiApplication::exec();
}
