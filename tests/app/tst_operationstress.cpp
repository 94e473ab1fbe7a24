// Stops at random moments of single downloads, installs and batches, with the fake tools as real
// processes. After each: no child process, nothing but whole IPAs in Packages, not busy, and exactly one
// final word (a notice or an alert). MIRVO_STRESS_SEED repeats a run; the seed is printed with every
// failure.
#include "OperationFixture.h"

#include <QRandomGenerator>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int rounds = 200;
constexpr qint64 ipaSize = 64 * 1024;

CatalogApp app(const QString& id, const QString& name)
{
    return CatalogApp(id, name, {}, {}, 0, {}, {}, {});
}

} // namespace

class tst_OperationStress : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void stopsAtRandomMoments();
};

void tst_OperationStress::initTestCase()
{
    qputenv("MIRVO_FAKE_IPA_SIZE", QByteArray::number(ipaSize));
}

void tst_OperationStress::cleanupTestCase()
{
    qunsetenv("MIRVO_FAKE_IPA_SIZE");
}

void tst_OperationStress::stopsAtRandomMoments()
{
    const quint32 seed = qEnvironmentVariableIsSet("MIRVO_STRESS_SEED")
                             ? quint32(qEnvironmentVariableIntValue("MIRVO_STRESS_SEED"))
                             : QRandomGenerator::system()->generate();
    QRandomGenerator random(seed);
    test::OperationFixture fixture;
    AppModel& model = fixture.model();
    OperationState& operation = fixture.operation();
    const QList<CatalogApp> apps{app(u"100001"_s, u"Сбербанк"_s), app(u"100002"_s, u"Ozon"_s),
                                 app(u"100003"_s, u"Госуслуги"_s)};
    model.catalog()->updateCatalog(apps);

    int words = 0;
    QObject context;
    connect(&model, &AppModel::noticeChanged, &context, [&] { words += model.notice().isEmpty() ? 0 : 1; });
    connect(&model, &AppModel::alertChanged, &context, [&] { words += model.alert().isEmpty() ? 0 : 1; });

    int stopped = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString where = u"seed %1, round %2"_s.arg(seed).arg(round);
        const int kind = int(random.bounded(4));
        const bool install = kind % 2 == 1;
        // Now and then the packages stay, so that reusing one is stopped too.
        if (random.bounded(4) != 0) {
            for (const QString& file : fixture.packageFiles())
                QFile::remove(fixture.packages() + u'/' + file);
        }
        words = 0;
        if (kind < 2) {
            const CatalogApp& chosen = apps.at(random.bounded(int(apps.size())));
            operation.perform(fixture.request(chosen.name(), chosen.id(), chosen.id()), install);
        } else {
            model.catalog()->setSelectedAppIDs({u"100001"_s, u"100002"_s, u"100003"_s});
            operation.performSelectedCatalogApps(install);
        }
        const int delay = int(random.bounded(kind < 2 ? 250 : 600));
        if (delay > 0)
            QTest::qWait(delay);
        if (operation.busy())
            ++stopped;
        operation.stop();
        QVERIFY2(fixture.waitUntilIdle(), qPrintable(where));

        QVERIFY2(!operation.busy(), qPrintable(where));
        QVERIFY2(operation.task().isEmpty(), qPrintable(where));
        QVERIFY2(test::liveChildProcesses().isEmpty(), qPrintable(where));
        QVERIFY2(words == 1,
                 qPrintable(where + u": %1 final words, notice \"%2\", alert \"%3\""_s.arg(words).arg(
                                        model.notice(), model.alert())));
        QVERIFY2(model.alert().isEmpty(), qPrintable(where + u": "_s + model.alert()));
        for (const QString& file : fixture.packageFiles()) {
            const QFileInfo info(fixture.packages() + u'/' + file);
            QVERIFY2(!file.startsWith(u'.') && file.endsWith(u".ipa"_s), qPrintable(where + u": "_s + file));
            QVERIFY2(info.size() == ipaSize, qPrintable(where + u": part of an IPA in "_s + file));
        }
        model.closeNotice();
    }
    qInfo("seed %u: %d of %d operations stopped while running", seed, stopped, rounds);
    // The random moments must also have fallen inside the work, not only after it.
    QVERIFY2(stopped > rounds / 4, qPrintable(u"seed %1"_s.arg(seed)));
}

QTEST_MAIN(tst_OperationStress)
#include "tst_operationstress.moc"
