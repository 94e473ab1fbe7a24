#include "WindowCamera.h"

#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QUrl>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace mirvo::screenshots {

namespace {

// Time for transitions and popups to finish opening.
constexpr int settleMs = 600;
constexpr int iconTimeoutMs = 15000;

// QQuickImageBase::Status::Loading
constexpr int loadingStatus = 2;

void collectLoadingIcons(QQuickItem* item, int& loading)
{
    if (!item->isVisible())
        return;
    if (item->inherits("QQuickImageBase")) {
        const QUrl source = item->property("source").toUrl();
        if (source.scheme() == u"image"_s && item->property("status").toInt() == loadingStatus)
            ++loading;
    }
    for (QQuickItem* child : item->childItems())
        collectLoadingIcons(child, loading);
}

} // namespace

bool waitFor(const std::function<bool()>& condition, const char* what, int timeoutMs)
{
    if (QTest::qWaitFor(condition, timeoutMs))
        return true;
    std::fprintf(stderr, "mirvo-screenshots: gave up waiting for %s\n", what);
    return false;
}

WindowCamera::WindowCamera(QQuickWindow& window, QString outputDirectory)
    : m_window(window)
    , m_outputDirectory(std::move(outputDirectory))
{
}

bool WindowCamera::waitForFrame()
{
    bool swapped = false;
    QObject context;
    QObject::connect(
        &m_window, &QQuickWindow::frameSwapped, &context, [&swapped] { swapped = true; },
        Qt::QueuedConnection);
    m_window.update();
    return waitFor([&swapped] { return swapped; }, "a frame", 10000);
}

void WindowCamera::waitForIcons()
{
    const auto settled = [this] {
        int loading = 0;
        collectLoadingIcons(m_window.contentItem(), loading);
        return loading == 0;
    };
    waitFor(settled, "the icons", iconTimeoutMs);
}

bool WindowCamera::shoot(const QString& name)
{
    waitForFrame();
    QTest::qWait(settleMs);
    waitForIcons();
    // The icons that just arrived, drawn.
    waitForFrame();
    QTest::qWait(100);
    const QImage image = m_window.grabWindow();
    const QString path = QDir(m_outputDirectory).filePath(name + u".png"_s);
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "mirvo-screenshots: could not save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
    return true;
}

} // namespace mirvo::screenshots
