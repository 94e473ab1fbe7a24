#pragma once

#include "AppModel.h"
#include "AppModelEnvironment.h"

#include <QQmlApplicationEngine>

class QQuickWindow;

namespace mirvo {

// The application as the user starts it: the names, the style and the window icon, the model over a given
// environment, the QML engine with its image providers, and the main window. The executable builds it over
// the production environment; tools that photograph or time the window build exactly the same thing over
// their own.
class Application {
public:
    // The names and the version QSettings, the data paths and --version go by. Callable before the
    // QGuiApplication exists; the constructor calls it again.
    static void setApplicationNames();

    // Needs the QGuiApplication. Makes the model the one QML sees; load() shows the window.
    explicit Application(AppModelEnvironment environment);
    ~Application();

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    AppModel& model() { return m_model; }
    QQmlApplicationEngine& engine() { return m_engine; }

    // Loads the main window; a window that cannot be created ends the event loop with status 1. Returns
    // the window, or null when it could not be created.
    QQuickWindow* load();
    QQuickWindow* window() const;

    // Quits the event loop once the window has shown its first frame.
    void quitAfterFirstFrame();

private:
    AppModel m_model;
    QQmlApplicationEngine m_engine;
};

} // namespace mirvo
