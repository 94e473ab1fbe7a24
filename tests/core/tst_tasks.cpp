#include "AwaitTask.h"
#include "CancelledError.h"
#include "Sleep.h"
#include "SleepUntilStopped.h"
#include "TaskHandle.h"

#include <QtTest>

using namespace mirvo;

class tst_Tasks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shortSleepReturns()
    {
        test::awaitTask(sleepFor(0.01, {}));
        test::awaitTask(sleepFor(-1, {}));
    }

    void stopBeforeSleepThrows()
    {
        std::stop_source source;
        source.request_stop();
        QVERIFY_THROWS_EXCEPTION(CancelledError, test::awaitTask(sleepFor(3600, source.get_token())));
    }

    void stopFromAnotherThreadWakesTheSleep()
    {
        std::stop_source source;
        std::thread stopper([&source] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            source.request_stop();
        });
        QVERIFY_THROWS_EXCEPTION(CancelledError, test::awaitTask(sleepFor(3600, source.get_token()), 5000));
        stopper.join();
    }

    void cancellingAHandleStopsItsTask()
    {
        auto cancelled = std::make_shared<bool>(false);
        const TaskHandle handle = TaskHandle::start(
            [cancelled](std::stop_token stop) { return test::sleepUntilStopped(stop, cancelled); });
        QVERIFY(!handle.isFinished());
        const TaskHandle other = TaskHandle::start([](std::stop_token stop) { return sleepFor(0, stop); });
        QVERIFY(other.serial() != handle.serial());

        handle.cancel();
        QVERIFY(handle.isCancelled());
        QTRY_VERIFY(handle.isFinished());
        QVERIFY(*cancelled);
        QTRY_VERIFY(other.isFinished());
        QVERIFY(!other.isCancelled());
    }

    void droppingAHandleLetsTheTaskRun()
    {
        auto cancelled = std::make_shared<bool>(false);
        std::optional<TaskHandle> handle = TaskHandle::start(
            [cancelled](std::stop_token stop) { return test::sleepUntilStopped(stop, cancelled); });
        const TaskHandle copy = *handle;
        handle.reset();
        QTest::qWait(20);
        QVERIFY(!copy.isFinished());
        copy.cancel();
        QTRY_VERIFY(copy.isFinished());
        QVERIFY(*cancelled);
    }
};

QTEST_GUILESS_MAIN(tst_Tasks)
#include "tst_tasks.moc"
