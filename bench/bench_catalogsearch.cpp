// The catalog search as a user types: one refilter of the catalog's proxy per keystroke, over 5,000
// generated apps, against one plain substring scan of the same search indexes joined into one text.
// Prints the median time of each and their ratio.
#include "CatalogListModel.h"
#include "SearchProxyModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int appCount = 5000;
constexpr int runs = 21;

QList<CatalogApp> generatedApps()
{
    const QStringList words{u"Банк"_s,      u"Онлайн"_s, u"Маркет"_s, u"Такси"_s,    u"Почта"_s, u"Карты"_s,
                            u"Госуслуги"_s, u"Pay"_s,    u"Music"_s,  u"Delivery"_s, u"Ёлка"_s,  u"Кино"_s};
    const QStringList categories{u"Финансы"_s, u"Покупки"_s, u"Транспорт"_s, u"Связь"_s, QString()};
    QRandomGenerator random(2026);
    QList<CatalogApp> apps;
    apps.reserve(appCount);
    for (int i = 0; i < appCount; ++i) {
        QString name = words.at(random.bounded(words.size())) + u' ' +
                       words.at(random.bounded(words.size())) + u' ' + QString::number(i);
        apps.append(CatalogApp(QString::number(1'000'000'000LL + i * 7919LL), name,
                               categories.at(random.bounded(categories.size())), {}, 0, {}, {}, {}));
    }
    return apps;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QList<CatalogApp> apps = generatedApps();
    CatalogListModel source;
    source.setApps(apps);
    SearchProxyModel proxy(&source);

    QString joined;
    for (const CatalogApp& app : apps)
        joined += app.searchIndex() + u'\n';

    const QString typed = u"маркет онлайн 4"_s;
    std::vector<double> refilters;
    std::vector<double> scans;
    qsizetype sink = 0;
    for (int run = 0; run < runs; ++run) {
        for (qsizetype length = 1; length <= typed.size(); ++length) {
            const QString query = typed.left(length);
            QElapsedTimer timer;
            timer.start();
            proxy.setSearch(query);
            refilters.push_back(double(timer.nsecsElapsed()));
            sink += proxy.rowCount();

            const QString normalized = CatalogApp::normalizedSearchText(query);
            timer.restart();
            sink += joined.indexOf(normalized);
            // A plain scan that finds an early match stops there; scan every index to the end, as the
            // filter does.
            for (qsizetype from = joined.indexOf(normalized); from >= 0;
                 from = joined.indexOf(normalized, from + 1))
                ++sink;
            scans.push_back(double(timer.nsecsElapsed()));
        }
        proxy.setSearch({});
    }
    const double refilter = median(refilters);
    const double scan = median(scans);
    std::printf("apps: %d, keystrokes: %lld, runs: %d\n", appCount, static_cast<long long>(typed.size()),
                runs);
    std::printf("refilter of the proxy: %.1f µs (median)\n", refilter / 1000);
    std::printf("plain scan of the joined indexes: %.1f µs (median)\n", scan / 1000);
    std::printf("refilter / scan: %.2f (aim: at most 3)\n", refilter / scan);
    return sink < 0 ? 1 : 0;
}
