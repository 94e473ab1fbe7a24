#include "Application.h"

#include "ImageProviders.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlExtensionPlugin>
#include <QQuickStyle>
#include <QQuickWindow>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace Qt::Literals::StringLiterals;

namespace mirvo {

namespace {

// The model must be the one QML sees before anything loads; set while the members are built.
AppModelEnvironment configured(AppModelEnvironment environment)
{
    Application::setApplicationNames();
    QGuiApplication::setApplicationDisplayName(u"Сольвена"_s);
    // Wayland compositors find the icon and name through the installed .desktop file of this id.
    QGuiApplication::setDesktopFileName(u"app.mirvo.Mirvo"_s);
#ifndef Q_OS_MACOS
    QGuiApplication::setWindowIcon(QIcon(u":/icons/mirvo.png"_s));
#endif
    QGuiApplication::setQuitOnLastWindowClosed(true);
    QQuickStyle::setStyle(u"Basic"_s);
    return environment;
}

} // namespace

void Application::setApplicationNames()
{
    QCoreApplication::setApplicationName(u"Mirvo"_s);
    QCoreApplication::setOrganizationName(u"Mirvo"_s);
    QCoreApplication::setOrganizationDomain(u"mirvo.app"_s);
    QCoreApplication::setApplicationVersion(QStringLiteral(MIRVO_VERSION));
}

Application::Application(AppModelEnvironment environment)
    : m_model(configured(std::move(environment)))
{
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &m_model, &AppModel::shutdown);
    AppModel::setInstance(&m_model);
    installImageProviders(m_engine, m_model);
    QObject::connect(
        &m_engine, &QQmlApplicationEngine::objectCreationFailed, &m_model, [] { QCoreApplication::exit(1); },
        Qt::QueuedConnection);
}

Application::~Application()
{
    m_model.shutdown();
}

QQuickWindow* Application::load()
{
    m_engine.load(QUrl(u"qrc:/qt/qml/Mirvo/qml/Main.qml"_s));
    return window();
}

QQuickWindow* Application::window() const
{
    const QList<QObject*> roots = m_engine.rootObjects();
    return roots.isEmpty() ? nullptr : qobject_cast<QQuickWindow*>(roots.constFirst());
}

void Application::quitAfterFirstFrame()
{
    QQuickWindow* shown = window();
    if (!shown)
        return;
    QObject::connect(
        shown, &QQuickWindow::frameSwapped, &m_model, [] { QCoreApplication::quit(); },
        static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
}

} // namespace mirvo
