// The wait dialog: its task runs on the pool, a modal run ends when the task has, however short the
// task was, and the dialog never outlives a running task.

#include "boxtestpolicy.h"
#include "ccomp_diawait.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <atomic>

class TestDiaWaitThread : public QObject
{
    Q_OBJECT
private slots:
    // An instant task ends before the run starts; a 300 ms task ends inside it. Neither may hang:
    // a watchdog ends a stuck run with -7. Under the box policy the task still runs for real.
    void runReturnsWhenTheTaskHasEnded_data()
    {
        QTest::addColumn<int>("taskMs");
        QTest::addColumn<int>("waitBeforeRunMs");
        QTest::addColumn<bool>("policy");
        QTest::newRow("instant task, run late") << 0 << 400 << false;
        QTest::newRow("instant task, run at once") << 0 << 0 << false;
        QTest::newRow("300 ms task") << 300 << 0 << false;
        QTest::newRow("300 ms task under the box policy") << 300 << 0 << true;
    }
    void runReturnsWhenTheTaskHasEnded()
    {
        QFETCH(int, taskMs);
        QFETCH(int, waitBeforeRunMs);
        QFETCH(bool, policy);
        if (policy)
            BoxTestPolicy::enable(0);
        std::atomic<bool> ran{false};
        QElapsedTimer t;
        t.start();
        CComp_DiaWait wait([&] {
            QThread::msleep(taskMs);
            ran = true;
        });
        if (waitBeforeRunMs) {
            // The queued close arrives (and is handled) before the run starts.
            QTRY_VERIFY(wait.isFinished());
            QTest::qWait(waitBeforeRunMs);
        }
        QTimer::singleShot(10000, &wait, [&] { wait.done(-7); });
        QCOMPARE(wait.exec(), 1);
        QVERIFY(ran);
        QVERIFY(t.elapsed() >= taskMs);
        BoxTestPolicy::disable();
    }

    void destructorWaitsForTheTask()
    {
        std::atomic<bool> ran{false};
        {
            CComp_DiaWait wait([&] {
                QThread::msleep(300);
                ran = true;
            });
        }
        QVERIFY(ran);
    }

    // A task that throws still ends the run instead of leaving it waiting.
    void throwingTaskStillEndsTheRun()
    {
        CComp_DiaWait wait([] { throw std::runtime_error("no network script"); });
        QTimer::singleShot(10000, &wait, [&] { wait.done(-7); });
        QCOMPARE(wait.exec(), 1);
    }
};

QTEST_MAIN(TestDiaWaitThread)
#include "tst_diawait_thread.moc"
