// Start-up of the real application against a minimal Qt Quick Controls window of the same style
// (bench/minimal_window): the time from launch to the first frame drawn (both run with the hidden
// --quit-after-first-frame option, median of several runs, the two sides alternating), and the resident
// memory of each after five seconds of running. The application starts in a fresh data directory holding a
// saved catalog of 5,000 apps and 200 cached icons, with advanced mode on so that its catalog list is what
// it draws once started, and with the fake tools (tests/fakes) in place so that it fetches none; every
// network address points at a loopback port where nothing listens, so it falls back to the saved catalog.
// The minimal window gets a fresh, empty home as well.
//
// The saved catalog holds names and IDs only ("name: id" lines); icon addresses come from the App Store
// lookup, which finds nothing here, so the cached icons stay on disk and the rows show their letters. The
// first frame is the start-up placeholder in any case: the catalog list appears once start-up has run.
//
// Both are measured off screen (QT_QPA_PLATFORM=offscreen) and, when xvfb-run is installed, on an X server
// of their own: the benchmark runs itself again under xvfb-run -a for that.
#include "BenchIcon.h"
#include <QBuffer>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int catalogApps = 5000;
constexpr int cachedIcons = 200;
constexpr int runs = 7;
constexpr int residentAfterMs = 5000;
constexpr double aimRatio = 1.3;
constexpr double aimExtraMB = 40;
// Seconds from 1970 to 2001-01-01, the reference date of the saved catalog's date.
constexpr qint64 referenceDateSeconds = 978307200;

struct Side {
    const char* label;
    QString executable;
    bool application; // the real application, which gets the prepared data directory
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray generatedCatalog()
{
    const QList<QByteArray> makers{"Сбер",  "Альфа",   "Ozon",        "Яндекс", "Газпром", "Tinkoff",
                                   "Почта", "Мегафон", "Wildberries", "Avito",  "ВТБ",     "Lukoil"};
    const QList<QByteArray> kinds{"Онлайн", "Банк", "Маркет", "Go", "Бизнес", "Music", "Такси", "Доставка"};
    QByteArray catalog;
    for (int i = 0; i < catalogApps; ++i) {
        catalog += makers[i % makers.size()] + ' ' + kinds[(i / makers.size()) % kinds.size()] + ' ' +
                   QByteArray::number(i) + ": " + QByteArray::number(400000000LL + i * 7919LL) + '\n';
    }
    return catalog;
}

// The fake tools (tests/fakes): MIRVO_BENCH_FAKES_DIR when set, otherwise the ones this build made.
QString fakesDirectory()
{
    static const QString directory = [] {
        QString path = qEnvironmentVariable("MIRVO_BENCH_FAKES_DIR");
#ifdef MIRVO_FAKES_DIR
        if (path.isEmpty())
            path = QStringLiteral(MIRVO_FAKES_DIR);
#endif
        if (path.isEmpty() || !QFileInfo(path + u"/ipatool"_s).isExecutable() ||
            !QFileInfo(path + u"/ios"_s).isExecutable())
            qFatal(
                "no fake tools: build the targets fake_ipatool and fake_ios, or point MIRVO_BENCH_FAKES_DIR "
                "at a directory holding ipatool and ios");
        return path;
    }();
    return directory;
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

// A home with nothing in it but what the side needs, and the environment that points there.
class FreshHome {
public:
    FreshHome(const Side& side, const QString& platform)
        : m_dir(QDir::tempPath() + u"/mirvo-bench-startup-XXXXXX"_s)
    {
        const QString root = m_dir.path();
        m_environment = QProcessEnvironment::systemEnvironment();
        for (const QString& name : m_environment.keys()) {
            if (name.startsWith(u"MIRVO_"_s) || name.startsWith(u"QT_"_s))
                m_environment.remove(name);
        }
        m_environment.insert(u"QT_QPA_PLATFORM"_s, platform);
        m_environment.insert(u"HOME"_s, root + u"/home"_s);
        m_environment.insert(u"XDG_DATA_HOME"_s, root + u"/data"_s);
        m_environment.insert(u"XDG_CONFIG_HOME"_s, root + u"/config"_s);
        m_environment.insert(u"XDG_CACHE_HOME"_s, root + u"/cache"_s);
        m_environment.insert(u"XDG_RUNTIME_DIR"_s, root + u"/runtime"_s);
        for (const char* name : {"home", "data", "config", "cache", "runtime"})
            QDir().mkpath(root + u'/' + QLatin1StringView(name));
        QFile::setPermissions(root + u"/runtime"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (side.application)
            prepareApplication(root);
    }

    const QProcessEnvironment& environment() const { return m_environment; }

private:
    void prepareApplication(const QString& root)
    {
        static const QByteArray catalog = generatedCatalog();
        static const QList<QByteArray> icons = [] {
            QList<QByteArray> pictures;
            for (int i = 0; i < cachedIcons; ++i)
                pictures.append(mirvo::bench::iconPNG(i));
            return pictures;
        }();
        const QString data = root + u"/data/Mirvo"_s;
        writeFile(data + u"/catalog.txt"_s, catalog);
        const qint64 savedAt = QDateTime::currentSecsSinceEpoch() - 3600 - referenceDateSeconds;
        writeFile(data + u"/catalog-metadata.json"_s,
                  QJsonDocument(QJsonObject{{u"updatedAt"_s, double(savedAt)}}).toJson());
        // The icons of the first apps of the list, as the artwork cache names them.
        for (int i = 0; i < cachedIcons; ++i)
            writeFile(data + u"/Artwork/"_s + QString::number(400000000LL + i * 7919LL) + u".image"_s,
                      icons[i]);
        writeFile(root + u"/config/Mirvo/Mirvo.conf"_s, "[General]\nadvancedMode=true\n");
        // The tools are in place, so start-up does not try to fetch them.
        QDir().mkpath(data + u"/Tools"_s);
        for (const QString& tool : {u"ipatool"_s, u"ios"_s}) {
            if (!QFile::copy(fakesDirectory() + u'/' + tool, data + u"/Tools/"_s + tool))
                qFatal("cannot copy the fake %s from %s", qPrintable(tool), qPrintable(fakesDirectory()));
        }
        const QString nowhere = u"https://127.0.0.1:"_s + QString::number(closedPort());
        const QJsonObject endpoints{{u"gitHubApi"_s, nowhere},
                                    {u"gitHubRawContent"_s, nowhere},
                                    {u"appStoreLookup"_s, nowhere},
                                    {u"faviconService"_s, nowhere},
                                    {u"updateManifest"_s, QString(nowhere + u"/latest.json"_s)}};
        writeFile(root + u"/endpoints.json"_s, QJsonDocument(endpoints).toJson());
        m_environment.insert(u"MIRVO_ENDPOINTS"_s, root + u"/endpoints.json"_s);
    }

    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
};

// Milliseconds from launch to the end of a run that quits after its first frame.
double timeToFirstFrame(const Side& side, const QString& platform)
{
    FreshHome home(side, platform);
    QProcess process;
    process.setProcessEnvironment(home.environment());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(side.executable, {u"--quit-after-first-frame"_s});
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        qFatal("%s did not quit after its first frame", side.label);
    return double(timer.nsecsElapsed()) / 1e6;
}

std::optional<double> residentMB(qint64 pid)
{
#ifdef Q_OS_LINUX
    QFile status(u"/proc/"_s + QString::number(pid) + u"/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return std::nullopt;
#else
    QProcess ps;
    ps.start(u"ps"_s, {u"-o"_s, u"rss="_s, u"-p"_s, QString::number(pid)});
    if (!ps.waitForFinished(10000))
        return std::nullopt;
    bool ok = false;
    const double kilobytes = ps.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? std::optional(kilobytes / 1024.0) : std::nullopt;
#endif
}

// Resident memory after five seconds of running, then the process is ended.
double residentAfterRunning(const Side& side, const QString& platform)
{
    FreshHome home(side, platform);
    QProcess process;
    process.setProcessEnvironment(home.environment());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(side.executable, {});
    if (!process.waitForStarted(30000))
        qFatal("%s did not start", side.label);
    if (process.waitForFinished(residentAfterMs))
        qFatal("%s ended before it could be measured", side.label);
    const std::optional<double> resident = residentMB(process.processId());
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
    if (!resident)
        qFatal("cannot read the resident memory of %s", side.label);
    return *resident;
}

void measure(const QList<Side>& sides, const QString& platform, const char* description)
{
    std::vector<std::vector<double>> times(sides.size());
    for (int run = 0; run < runs; ++run) {
        for (qsizetype i = 0; i < sides.size(); ++i) {
            // Alternating which side goes first, so that neither always meets a warm cache.
            const qsizetype side = run % 2 == 0 ? i : sides.size() - 1 - i;
            times[side].push_back(timeToFirstFrame(sides[side], platform));
        }
    }
    std::vector<double> resident;
    for (const Side& side : sides)
        resident.push_back(residentAfterRunning(side, platform));

    const double application = median(times[0]);
    const double minimal = median(times[1]);
    std::printf("\nstart-up to first frame, %s (median of %d runs)\n", description, runs);
    for (qsizetype i = 0; i < sides.size(); ++i)
        std::printf("  %-16s %8.1f ms\n", sides[i].label, median(times[i]));
    const double ratio = application / minimal;
    std::printf("  ratio            %8.2fx   aim: within %.1fx  %s\n", ratio, aimRatio,
                ratio <= aimRatio ? "met" : "NOT MET");
    std::printf("resident memory after %d s, %s\n", residentAfterMs / 1000, description);
    for (qsizetype i = 0; i < sides.size(); ++i)
        std::printf("  %-16s %8.1f MB\n", sides[i].label, resident[i]);
    const double extra = resident[0] - resident[1];
    std::printf("  difference       %8.1f MB   aim: at most %.0f MB more  %s\n", extra, aimExtraMB,
                extra <= aimExtraMB ? "met" : "NOT MET");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QList<Side> sides{{"mirvo", QStringLiteral(MIRVO_EXECUTABLE), true},
                            {"minimal window", QStringLiteral(MINIMAL_WINDOW_EXECUTABLE), false}};
    const bool underXvfb = QCoreApplication::arguments().contains(u"--under-xvfb"_s);
    if (underXvfb) {
        measure(sides, u"xcb"_s, "under Xvfb");
        return 0;
    }

    measure(sides, u"offscreen"_s, "offscreen");
    const QString xvfbRun = QStandardPaths::findExecutable(u"xvfb-run"_s);
    if (xvfbRun.isEmpty()) {
        std::printf("\nxvfb-run is not installed: no measurement on an X server\n");
        return 0;
    }
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(xvfbRun, {u"-a"_s, u"-s"_s, u"-screen 0 1920x1080x24"_s,
                          QCoreApplication::applicationFilePath(), u"--under-xvfb"_s});
    if (!child.waitForFinished(-1) || child.exitCode() != 0) {
        std::fprintf(stderr, "the run under xvfb-run failed\n");
        return 1;
    }
    return 0;
}
