#include "calibthread.h"
#include "magthread.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {
// Re-emits a ticker's signal on the test thread, so the spy is only touched there.
class Relay : public QObject
{
    Q_OBJECT
signals:
    void tick();
};

// Holds the ticker thread inside its emit while armed, so a test can act at a known point
// of the loop. std primitives, so that ThreadSanitizer sees the hand-over.
struct Gate
{
    std::atomic<bool> armed{false};
    std::mutex mutex;
    std::condition_variable changed;
    bool inside = false;
    bool released = false;

    void pass()
    {
        if (!armed.exchange(false))
            return;
        std::unique_lock<std::mutex> lock(mutex);
        inside = true;
        changed.notify_all();
        changed.wait(lock, [this] { return released; });
    }

    bool waitInside(std::chrono::milliseconds limit)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [this] { return inside; });
    }

    void release()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            released = true;
        }
        changed.notify_all();
    }
};
} // namespace

class TestTickers : public QObject
{
    Q_OBJECT

private slots:
    void magStopCutsThePause_data();
    void magStopCutsThePause();
    void calibTicksUntilStopped();
    void calibStartWithdrawsPendingStop();
};

void TestTickers::magStopCutsThePause_data()
{
    QTest::addColumn<bool>("stopBeforeStart");
    QTest::addColumn<int>("ticks");

    QTest::newRow("stop while pausing") << false << 1;
    QTest::newRow("stop before start") << true << 0;
}

void TestTickers::magStopCutsThePause()
{
    QFETCH(bool, stopBeforeStart);
    QFETCH(int, ticks);

    MagThread ticker;
    auto join = qScopeGuard([&ticker] { ticker.requestStop(); ticker.wait(); });
    Relay relay;
    connect(&ticker, &MagThread::magSender, &relay, &Relay::tick, Qt::QueuedConnection);
    QSignalSpy spy(&relay, &Relay::tick);

    if (stopBeforeStart)
        ticker.requestStop();
    ticker.start();
    if (ticks > 0)
        QVERIFY(spy.wait(2000));

    QElapsedTimer clock;
    clock.start();
    // A stop given before the start is the one that ends the loop; another one here could
    // come after the loop had used that up, and would then be left for the restart below.
    if (!stopBeforeStart)
        ticker.requestStop();
    QVERIFY(ticker.wait(2000));
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), ticks);

    // The request is used up by the loop that saw it: the ticker can run again.
    ticker.start();
    QVERIFY(spy.wait(2000));
    ticker.requestStop();
    QVERIFY(ticker.wait(2000));
}

void TestTickers::calibTicksUntilStopped()
{
    CalibThread ticker;
    auto join = qScopeGuard([&ticker] { ticker.stop(); ticker.wait(); });
    Relay relay;
    connect(&ticker, &CalibThread::calibSender, &relay, &Relay::tick, Qt::QueuedConnection);
    QSignalSpy spy(&relay, &Relay::tick);

    ticker.startTicks();
    QTRY_VERIFY(spy.count() >= 5);
    ticker.stop();
    QVERIFY(ticker.wait(2000));

    // A second start on a running ticker does not start a second loop, and does not stop it.
    ticker.startTicks();
    ticker.startTicks();
    const int before = spy.count();
    QTRY_VERIFY(spy.count() >= before + 5);
    QVERIFY(ticker.isRunning());
    ticker.stop();
    QVERIFY(ticker.wait(2000));
}

void TestTickers::calibStartWithdrawsPendingStop()
{
    Gate gate;   // outlives the ticker, which may be inside it
    CalibThread ticker;
    auto join = qScopeGuard([&ticker, &gate] {
        ticker.stop();
        gate.release();
        ticker.wait();
    });
    Relay relay;
    connect(&ticker, &CalibThread::calibSender, &relay, &Relay::tick, Qt::QueuedConnection);
    connect(&ticker, &CalibThread::calibSender, &ticker, [&gate] { gate.pass(); },
            Qt::DirectConnection);
    QSignalSpy spy(&relay, &Relay::tick);

    ticker.startTicks();
    gate.armed = true;
    QVERIFY(gate.waitInside(std::chrono::seconds(5)));

    // The loop is inside its pass: the stop is pending and not yet seen when the next
    // check starts.
    ticker.stop();
    ticker.startTicks();
    gate.release();

    const int before = spy.count();
    QTRY_VERIFY(spy.count() >= before + 5);
    QVERIFY(ticker.isRunning());

    ticker.stop();
    QVERIFY(ticker.wait(2000));
}

QTEST_GUILESS_MAIN(TestTickers)
#include "tst_tickers.moc"
