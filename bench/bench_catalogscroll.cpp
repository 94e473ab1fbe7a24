// Scrolling the whole catalog in the real window: Main.qml loaded off screen over a model in a temporary
// data directory, in advanced mode, with 5,000 apps in several categories of which the first 200 have their
// icons in the icon cache. The catalog list ("catalogList") is moved through the whole list by setting its
// contentY in steps, and every step renders a frame (QQuickWindow::grabWindow, which polishes, renders and
// reads the frame back). Prints the median and the 99th percentile of the time per step, beside the time
// of a frame grabbed with nothing moved, which is what reading a frame back costs on its own.
//
// Usage: bench_catalogscroll [step in pixels, 100 by default]
#include "AppModel.h"
#include "BenchIcon.h"
#include "ImageProviders.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQmlExtensionPlugin>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

Q_IMPORT_QML_PLUGIN(MirvoPlugin)

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int appCount = 5000;
constexpr int cachedIcons = 200;
constexpr int defaultStep = 100;
constexpr int idleFrames = 50;
// Milliseconds per step that still keep a 60 Hz screen moving.
constexpr double aimMedianMs = 16.7;
constexpr double aimP99Ms = 33.4;

QString appID(int index)
{
    return QString::number(400000000LL + index * 7919LL);
}

QList<CatalogApp> generatedApps()
{
    const QStringList makers{u"Сбер"_s,        u"Альфа"_s,   u"Ozon"_s,  u"Яндекс"_s,
                             u"Газпром"_s,     u"Tinkoff"_s, u"Почта"_s, u"Мегафон"_s,
                             u"Wildberries"_s, u"Avito"_s,   u"ВТБ"_s,   u"Lukoil"_s};
    const QStringList kinds{u"Онлайн"_s, u"Банк"_s,  u"Маркет"_s, u"Go"_s,
                            u"Бизнес"_s, u"Music"_s, u"Такси"_s,  u"Доставка"_s};
    const QStringList categories{u"Финансы"_s, u"Покупки"_s, u"Навигация"_s, u"Музыка"_s, u"Еда и напитки"_s};
    QList<CatalogApp> apps;
    apps.reserve(appCount);
    for (int i = 0; i < appCount; ++i) {
        const QString name = makers.at(i % makers.size()) + u' ' +
                             kinds.at((i / makers.size()) % kinds.size()) + u' ' + QString::number(i);
        // Sorted by category, as the list groups its rows; a few hundred rows under each header.
        const QString category = categories.at(i * categories.size() / appCount);
        apps.append(CatalogApp(appID(i), name, category, {}, 0,
                               QUrl(u"https://icons.invalid/"_s + appID(i) + u".png"_s), {}, {}));
    }
    return apps;
}

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, size_t(std::ceil(fraction * double(values.size())) - 1));
    return values[index];
}

double grabMs(QQuickWindow* window)
{
    QElapsedTimer timer;
    timer.start();
    const QImage frame = window->grabWindow();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (frame.isNull())
        qFatal("the window gave no frame");
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const int step = argc > 1 ? QByteArray(argv[1]).toInt() : defaultStep;
    if (step <= 0)
        qFatal("the step is a positive number of pixels");

    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("cannot create a temporary directory");
    AppModelEnvironment environment;
    environment.dataRoot = dir.filePath(u"Mirvo"_s);
    environment.settings = std::make_shared<QSettings>(dir.filePath(u"settings.ini"_s), QSettings::IniFormat);
    // No HTTP client: start-up fetches nothing, and the icons come from the cache only.
    AppModel model(std::move(environment));
    model.setAdvancedMode(true);
    if (!model.artworkCache())
        qFatal("the icon cache did not open");
    for (int i = 0; i < cachedIcons; ++i)
        model.artworkCache()->store(bench::iconPNG(i), appID(i));
    AppModel::setInstance(&model);

    QQmlApplicationEngine engine;
    installImageProviders(engine, model);
    engine.load(QUrl(u"qrc:/qt/qml/Mirvo/qml/Main.qml"_s));
    if (engine.rootObjects().isEmpty())
        qFatal("Main.qml did not load");
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
    if (!window)
        qFatal("Main.qml gave no window");
    QElapsedTimer wait;
    wait.start();
    while (model.isStarting() && wait.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (model.isStarting())
        qFatal("start-up did not finish");
    model.catalog()->updateCatalog(generatedApps());

    auto* list = window->findChild<QQuickItem*>(u"catalogList"_s);
    if (!list)
        qFatal("no catalog list in the window");
    grabMs(window);
    if (list->property("count").toInt() != appCount)
        qFatal("the catalog list shows %d rows", list->property("count").toInt());

    std::vector<double> idle;
    for (int i = 0; i < idleFrames; ++i) {
        QCoreApplication::processEvents();
        idle.push_back(grabMs(window));
    }

    std::vector<double> steps;
    double contentY = list->property("originY").toDouble();
    for (;;) {
        const double end = list->property("originY").toDouble() + list->property("contentHeight").toDouble() -
                           list->height();
        if (contentY >= end)
            break;
        contentY = std::min(end, contentY + step);
        QElapsedTimer timer;
        timer.start();
        list->setProperty("contentY", contentY);
        // Icons that finished decoding reach their rows here, as they would between two frames.
        QCoreApplication::processEvents();
        const QImage frame = window->grabWindow();
        steps.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (frame.isNull())
            qFatal("the window gave no frame");
    }
    if (steps.empty())
        qFatal("the list did not scroll");

    const double median = percentile(steps, 0.5);
    const double p99 = percentile(steps, 0.99);
    std::printf("catalog rows: %d, step: %d px, steps: %zu, list height: %.0f px\n", appCount, step,
                steps.size(), list->height());
    std::printf("frame with nothing moved: %.2f ms (median)\n", percentile(idle, 0.5));
    std::printf("per step: median %.2f ms   aim: at most %.1f ms  %s\n", median, aimMedianMs,
                median <= aimMedianMs ? "met" : "NOT MET");
    std::printf("per step: 99th percentile %.2f ms   aim: at most %.1f ms  %s\n", p99, aimP99Ms,
                p99 <= aimP99Ms ? "met" : "NOT MET");
    std::printf("per step: slowest %.2f ms\n", *std::max_element(steps.begin(), steps.end()));
    model.shutdown();
    return 0;
}
