#include "AppModel.h"
#include "ImageProviders.h"
#include "LogBuffer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLoggingCategory>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQmlExtensionPlugin>
#include <QQuickStyle>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace Qt::Literals::StringLiterals;

namespace {

QStringList argumentsOf(int argc, char* argv[])
{
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    return arguments;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(u"Mirvo"_s);
    QCoreApplication::setOrganizationName(u"Mirvo"_s);
    QCoreApplication::setOrganizationDomain(u"mirvo.app"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(MIRVO_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Сольвена возвращает на iPhone приложения, которых больше нет в App Store вашего региона."_s);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption verboseOption(u"verbose"_s, u"Подробный журнал всех действий приложения."_s);
    parser.addOption(verboseOption);
    // Help, the version and a wrong option are answered without a display: a plain application prints
    // them and exits.
    if (!parser.parse(argumentsOf(argc, argv)) || parser.isSet(helpOption) || parser.isSet(versionOption)) {
        QCoreApplication console(argc, argv);
        parser.process(console);
        return 0;
    }

    mirvo::LogBuffer log;
    log.install();
    if (parser.isSet(verboseOption))
        QLoggingCategory::setFilterRules(u"mirvo.*=true"_s);

    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationDisplayName(u"Сольвена"_s);
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
    mirvo::installImageProviders(engine, model);
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app, [] { QCoreApplication::exit(1); },
        Qt::QueuedConnection);
    engine.load(QUrl(u"qrc:/qt/qml/Mirvo/qml/Main.qml"_s));
    return QGuiApplication::exec();
}
