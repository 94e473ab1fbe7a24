// A minimal Qt Quick Controls window in the application's style, for the start-up benchmark. With
// --quit-after-first-frame it quits once the window has drawn itself once, as the application does.
#include <QCommandLineParser>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(u"Basic"_s);

    QCommandLineParser parser;
    QCommandLineOption firstFrameOption(u"quit-after-first-frame"_s);
    firstFrameOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(firstFrameOption);
    parser.process(app);

    QQmlApplicationEngine engine;
    engine.load(QUrl(u"qrc:/qt/qml/MinimalWindow/Main.qml"_s));
    if (engine.rootObjects().isEmpty())
        return 1;
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
    if (window && parser.isSet(firstFrameOption))
        QObject::connect(
            window, &QQuickWindow::frameSwapped, &app, [] { QCoreApplication::quit(); },
            static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
    return QGuiApplication::exec();
}
