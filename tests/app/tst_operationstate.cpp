#include "AppModel.h"
#include "SleepUntilStopped.h"
#include "TestEnvironment.h"

#include <QtTest>

#include <thread>

using namespace mirvo;
using namespace Qt::Literals::StringLiterals;

using Stage = OperationState::ProgressStage;

// Progress reports from the tools' reading threads, and the user's stop.
class tst_OperationState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reportsFromAnotherThread_data();
    void reportsFromAnotherThread();
    void reportsAfterTheModelIsGone();
    void stop();

private:
    test::TemporaryDataDirectory m_dir;
};

void tst_OperationState::reportsFromAnotherThread_data()
{
    QTest::addColumn<QStringList>("downloadOutput");
    QTest::addColumn<QList<qint64>>("byteReports");
    QTest::addColumn<QStringList>("installOutput");
    QTest::addColumn<double>("download"); // negative: unknown
    QTest::addColumn<qint64>("downloaded");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<double>("install");

    const QList<qint64> none;
    QTest::newRow("percentages never go back")
        << QStringList{u"{\"progress\":0.4}"_s, u"{\"progress\":0.3}"_s} << none << QStringList{} << 0.4
        << 0LL << 0LL << -1.0;
    QTest::newRow("byte counts set the total and the fraction")
        << QStringList{u"1MB/4MB"_s} << QList<qint64>{2'000'000} << QStringList{} << 0.5 << 2'000'000LL
        << 4'000'000LL << -1.0;
    QTest::newRow("file size before a total moves nothing")
        << QStringList{} << QList<qint64>{500} << QStringList{} << -1.0 << 500LL << 0LL << -1.0;
    QTest::newRow("more bytes than the total is whole")
        << QStringList{u"1MB/2MB"_s} << QList<qint64>{3'000'000, 100} << QStringList{} << 1.0 << 3'000'000LL
        << 2'000'000LL << -1.0;
    QTest::newRow("install follows the tool both ways")
        << QStringList{} << none << QStringList{u"{\"progress\":0.8}"_s, u"{\"progress\":0.6}"_s} << -1.0
        << 0LL << 0LL << 0.6;
}

void tst_OperationState::reportsFromAnotherThread()
{
    QFETCH(QStringList, downloadOutput);
    QFETCH(QList<qint64>, byteReports);
    QFETCH(QStringList, installOutput);
    QFETCH(double, download);
    QFETCH(qint64, downloaded);
    QFETCH(qint64, total);
    QFETCH(double, install);

    AppModel model(test::modelEnvironment(m_dir));
    OperationState* operation = model.operation();
    const OutputHandler onDownload = operation->outputReceiver(Stage::Download);
    const OutputHandler onInstall = operation->outputReceiver(Stage::Install);
    const OperationState::BytesHandler onBytes = operation->downloadedBytesReceiver();

    std::thread reader([&] {
        for (const QString& chunk : downloadOutput)
            onDownload(chunk);
        for (qint64 bytes : byteReports)
            onBytes(bytes);
        for (const QString& chunk : installOutput)
            onInstall(chunk);
    });
    reader.join();
    // Nothing reached the object on the reading thread.
    QCOMPARE(operation->downloadedBytes(), 0LL);
    QVERIFY(!operation->downloadProgress() && !operation->installProgress());

    QCoreApplication::processEvents();
    QCOMPARE(operation->downloadProgress().value_or(-1.0), download);
    QCOMPARE(operation->downloadedBytes(), downloaded);
    QCOMPARE(operation->downloadTotalBytes(), total);
    QCOMPARE(operation->installProgress().value_or(-1.0), install);
}

void tst_OperationState::reportsAfterTheModelIsGone()
{
    auto gone = std::make_unique<AppModel>(test::modelEnvironment(m_dir));
    const OutputHandler late = gone->operation()->outputReceiver(Stage::Download);
    const OperationState::BytesHandler lateBytes = gone->operation()->downloadedBytesReceiver();
    AppModel model(test::modelEnvironment(m_dir));
    const OperationState::BytesHandler onBytes = model.operation()->downloadedBytesReceiver();

    std::thread reader([&] {
        late(u"{\"progress\":0.5}"_s);
        lateBytes(10);
        onBytes(20);
    });
    reader.join();
    gone.reset();
    QCoreApplication::processEvents();
    QCOMPARE(model.operation()->downloadedBytes(), 20LL);
}

void tst_OperationState::stop()
{
    AppModel model(test::modelEnvironment(m_dir));
    OperationState* operation = model.operation();
    operation->setStage(u"Загружаем из Apple"_s);

    // Nothing runs: nothing to stop.
    operation->stop();
    QCOMPARE(operation->stage(), u"Загружаем из Apple"_s);

    auto wasCancelled = std::make_shared<bool>(false);
    operation->setTask(TaskHandle::start(
        [wasCancelled](std::stop_token stop) { return test::sleepUntilStopped(stop, wasCancelled); }));
    operation->stop();
    QCOMPARE(operation->stage(), u"Останавливаем…"_s);
    QTRY_VERIFY(operation->task().isFinished());
    QVERIFY(*wasCancelled);
}

QTEST_MAIN(tst_OperationState)
#include "tst_operationstate.moc"
