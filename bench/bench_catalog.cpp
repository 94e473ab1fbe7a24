// Reading the catalog against the least any reader must do with the same bytes. A generated list of 5000
// apps (Russian and Latin names, 9 and 10 digit IDs, about 40 bytes a line) is read with parseCatalog and
// split into lines with QByteArray::split; a decode to UTF-16 followed by a split is shown as a second
// baseline, and the CatalogApp entries built alone show what their search index costs. Each measurement is
// one entry of the table in main(), so that others can join it.
#include "RemovedRussianApps.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int catalogApps = 5000;
// Many short runs, alternating the sides: the medians then hold up on a machine shared with others.
constexpr int runs = 31;
constexpr int passesPerRun = 20;

// Keeps the compiler from dropping work whose result nobody reads.
volatile qsizetype sink = 0;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Microseconds per pass of `work`, the median over the runs.
struct Timing {
    std::vector<double> microseconds;

    void add(qint64 nanoseconds) { microseconds.push_back(double(nanoseconds) / 1e3 / passesPerRun); }
    double median() const { return ::median(microseconds); }
};

qint64 timed(const std::function<void()>& work)
{
    QElapsedTimer timer;
    timer.start();
    for (int pass = 0; pass < passesPerRun; ++pass)
        work();
    return timer.nsecsElapsed();
}

QByteArray generatedCatalog()
{
    const QList<QByteArray> makers{"Сбер",  "Альфа",   "Ozon",        "Яндекс", "Газпром", "Tinkoff",
                                   "Почта", "Мегафон", "Wildberries", "Avito",  "ВТБ",     "Lukoil"};
    const QList<QByteArray> products{"Онлайн",   "Бизнес", "Инвестиции",  "Pay", "Маркет",   "Банк",
                                     "Доставка", "Travel", "Страхование", "Pro", "Заправки", "Карты"};
    QRandomGenerator random(20250301);
    QByteArray data;
    data.reserve(catalogApps * 48);
    for (int i = 0; i < catalogApps; ++i) {
        const QByteArray& maker = makers.at(random.bounded(makers.size()));
        const QByteArray& product = products.at(random.bounded(products.size()));
        const quint64 id = random.bounded(2) == 0 ? 300000000 + random.bounded(700000000)
                                                  : 1000000000 + random.bounded(5800000000ULL);
        data +=
            maker + ' ' + product + ' ' + QByteArray::number(i % 97) + ": " + QByteArray::number(id) + '\n';
    }
    return data;
}

// parseCatalog against QByteArray::split('\n'); returns the ratio of the medians.
double measureCatalogParsing()
{
    const QByteArray data = generatedCatalog();
    const qsizetype apps = RemovedRussianApps::parseCatalog(data).size();
    std::printf("generated list: %lld bytes, %lld lines, %lld apps read, %.1f bytes a line\n",
                (long long)data.size(), (long long)data.count('\n'), (long long)apps,
                double(data.size()) / catalogApps);
    if (apps < catalogApps * 9 / 10) {
        std::fprintf(stderr, "too few apps read: %lld\n", (long long)apps);
        std::exit(1);
    }

    // The entries alone, built from names and IDs split beforehand: the share of the search index that
    // every CatalogApp derives on construction.
    std::vector<std::pair<QString, QString>> fields;
    for (const CatalogApp& entry : RemovedRussianApps::parseCatalog(data))
        fields.emplace_back(entry.id(), entry.name());
    const auto buildEntries = [&fields] {
        QList<CatalogApp> entries;
        entries.reserve(qsizetype(fields.size()));
        for (const auto& [id, name] : fields)
            entries.append(CatalogApp(id, name, {}, {}, 0, std::nullopt, std::nullopt, std::nullopt));
        sink = sink + entries.size();
    };

    Timing parse;
    Timing byteSplit;
    Timing decodeSplit;
    Timing entries;
    for (int run = 0; run < runs; ++run) {
        parse.add(timed([&data] { sink = sink + RemovedRussianApps::parseCatalog(data).size(); }));
        byteSplit.add(timed([&data] { sink = sink + data.split('\n').size(); }));
        decodeSplit.add(timed([&data] { sink = sink + QString::fromUtf8(data).split(u'\n').size(); }));
        entries.add(timed(buildEntries));
    }
    const double parseMedian = parse.median();
    const double byteMedian = byteSplit.median();
    const double decodeMedian = decodeSplit.median();
    const double entriesMedian = entries.median();
    std::printf("median of %d runs of %d passes: parseCatalog %.0f us, QByteArray::split %.0f us, "
                "QString::fromUtf8 + split %.0f us, the CatalogApp entries alone %.0f us\n",
                runs, passesPerRun, parseMedian, byteMedian, decodeMedian, entriesMedian);
    std::printf("parseCatalog / decode + split: %.2f; without building the entries, parseCatalog / "
                "QByteArray::split: %.2f\n",
                parseMedian / decodeMedian, (parseMedian - entriesMedian) / byteMedian);
    return parseMedian / byteMedian;
}

struct Measurement {
    const char* name;
    const char* ratioMeaning;
    std::function<double()> measure;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::vector<Measurement> measurements{
        {"catalog parsing", "parseCatalog / QByteArray::split (lower is better, aim: within 10)",
         measureCatalogParsing},
    };
    std::vector<std::pair<const Measurement*, double>> ratios;
    for (const Measurement& measurement : measurements) {
        std::printf("== %s\n", measurement.name);
        ratios.emplace_back(&measurement, measurement.measure());
    }
    std::printf("== ratios\n");
    for (const auto& [measurement, ratio] : ratios)
        std::printf("%s: %.2f\n", measurement->ratioMeaning, ratio);
    return 0;
}
