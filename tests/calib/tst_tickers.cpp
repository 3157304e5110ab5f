// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "calibthread.h"
#include "waits.h"

#include <QScopeGuard>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <future>

namespace {
// Re-emits the ticker's signal on the test thread, so the spy is only touched there.
class Relay : public QObject
{
    Q_OBJECT
signals:
    void tick();
};

// Holds the ticker thread inside its emit once armed, so the test acts at a known point of the
// loop. std primitives, so that ThreadSanitizer sees the hand-over.
struct Gate
{
    std::atomic<bool> armed{false};
    std::promise<void> inside, resume;
    std::shared_future<void> resumed = resume.get_future().share();

    void pass()
    {
        if (!armed.exchange(false))
            return;
        inside.set_value();
        resumed.wait();
    }
};
} // namespace

class TestTickers : public QObject
{
    Q_OBJECT

private slots:
    void startWithdrawsPendingStop();
};

// A check restarted after stop() but before the loop has seen the stop keeps ticking.
void TestTickers::startWithdrawsPendingStop()
{
    Gate gate;   // outlives the ticker, which may be inside it
    std::future<void> inside = gate.inside.get_future();
    bool released = false;
    CalibThread ticker;
    auto join = qScopeGuard([&] {
        ticker.stop();
        if (!released)
            gate.resume.set_value();
        ticker.wait();
    });
    Relay relay;
    connect(&ticker, &CalibThread::calibSender, &relay, &Relay::tick, Qt::QueuedConnection);
    connect(&ticker, &CalibThread::calibSender, &ticker, [&gate] { gate.pass(); },
            Qt::DirectConnection);
    QSignalSpy spy(&relay, &Relay::tick);

    ticker.startTicks();
    gate.armed = true;
    QVERIFY(inside.wait_for(std::chrono::milliseconds(WaitDeadline)) == std::future_status::ready);
    ticker.stop();
    ticker.startTicks();
    gate.resume.set_value();
    released = true;

    const int before = spy.count();
    QTRY_VERIFY_WITH_TIMEOUT(spy.count() >= before + 5, WaitDeadline);
    QVERIFY(ticker.isRunning());
    ticker.stop();
    QVERIFY(ticker.wait(WaitDeadline));
}

QTEST_GUILESS_MAIN(TestTickers)
#include "tst_tickers.moc"
