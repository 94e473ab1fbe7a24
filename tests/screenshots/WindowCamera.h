#pragma once

#include <QString>

#include <functional>

class QQuickWindow;

namespace mirvo::screenshots {

// Photographs a window once what it shows has settled: a fresh frame drawn, animations run out and the
// icons it asked for answered.
class WindowCamera {
public:
    WindowCamera(QQuickWindow& window, QString outputDirectory);

    // Waits, then saves the window as `name`.png. Returns false (and says why on stderr) when it could not.
    bool shoot(const QString& name);

private:
    bool waitForFrame();
    // Icons from the "icons" image provider that are still loading; waits until none is, for a while.
    void waitForIcons();

    QQuickWindow& m_window;
    QString m_outputDirectory;
};

// Runs the event loop until `condition` holds or `timeoutMs` passes; says what it waited for on stderr when
// it gave up.
bool waitFor(const std::function<bool()>& condition, const char* what, int timeoutMs = 20000);

} // namespace mirvo::screenshots
