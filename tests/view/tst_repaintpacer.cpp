// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The window's repaint pacing: a change on a quiet window is painted at once, a burst of
// changes is painted at most once per interval, and the last change is always painted.
#include "repaintpacer.h"
#include "waits.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>
#include <vector>

namespace {

struct Paint
{
    qint64 atMs;
    QString text;
};

// Records each paint of a label: when its window's repaint began, and the text it showed.
// Installed on the window before the pacer, it hears only the repaints the pacer lets through,
// right after the pacer took their time.
class PaintLog : public QObject
{
public:
    PaintLog(QWidget *window, QLabel *label) : window(window), label(label)
    {
        clock.start();
        window->installEventFilter(this);
        label->installEventFilter(this);
    }
    std::vector<Paint> paints;
    QElapsedTimer clock;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window && event->type() == QEvent::UpdateRequest) {
            repaintAt = clock.elapsed();
        } else if (watched == label && event->type() == QEvent::Paint) {
            paints.push_back({repaintAt >= 0 ? repaintAt : clock.elapsed(), label->text()});
            repaintAt = -1;
        }
        return false;
    }

private:
    QWidget *window;
    QLabel *label;
    qint64 repaintAt = -1;
};

} // namespace

class TestRepaintPacer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void changeOnQuietWindowIsPaintedAtOnce();
    void burstIsPaintedOncePerInterval_data();
    void burstIsPaintedOncePerInterval();

private:
    static constexpr int IntervalMs = 200;
    std::unique_ptr<QWidget> window;
    QLabel *label = nullptr;
    std::unique_ptr<PaintLog> log;
};

void TestRepaintPacer::init()
{
    window.reset(new QWidget);
    label = new QLabel(QStringLiteral("start"), window.get());
    auto *layout = new QVBoxLayout(window.get());
    layout->addWidget(label);
    label->setMinimumWidth(200);
    log.reset(new PaintLog(window.get(), label));
    auto *pacer = new RepaintPacer(window.get(), IntervalMs);
    QCOMPARE(pacer->intervalMs(), IntervalMs);
    QVERIFY(showAndWait(window.get()));
    // Quiet: the first paints and any held one are done, and the last is an interval old.
    QTRY_VERIFY_WITH_TIMEOUT(!pacer->isHolding() && !log->paints.empty()
                                     && log->clock.elapsed() - log->paints.back().atMs > IntervalMs, WaitDeadline);
    log->paints.clear();
}

void TestRepaintPacer::cleanup()
{
    log.reset();
    window.reset();
}

void TestRepaintPacer::changeOnQuietWindowIsPaintedAtOnce()
{
    label->setText(QStringLiteral("one"));
    // One pass of the event loop: no timer has to run for the repaint.
    QCoreApplication::processEvents();
    QCOMPARE(int(log->paints.size()), 1);
    QCOMPARE(log->paints.back().text, QStringLiteral("one"));
}

void TestRepaintPacer::burstIsPaintedOncePerInterval_data()
{
    QTest::addColumn<int>("changes");
    QTest::addColumn<int>("changeEveryMs");
    QTest::newRow("back to back") << 200 << 0;
    QTest::newRow("spread over two intervals") << 40 << 10;
}

void TestRepaintPacer::burstIsPaintedOncePerInterval()
{
    QFETCH(int, changes);
    QFETCH(int, changeEveryMs);

    QString last;
    for (int n = 0; n < changes; ++n) {
        last = QString::number(n);
        label->setText(last);
        QCoreApplication::processEvents();
        if (changeEveryMs > 0)
            QTest::qWait(changeEveryMs);
    }
    QVERIFY(!log->paints.empty());
    QTRY_COMPARE_WITH_TIMEOUT(log->paints.back().text, last, WaitDeadline);

    // The first change was painted at once; no two repaints began closer than the interval (a
    // millisecond's leeway for the clocks' rounding), so a burst costs a few paints, not one
    // per change.
    QCOMPARE(log->paints.front().text, QStringLiteral("0"));
    for (size_t i = 1; i < log->paints.size(); ++i)
        QVERIFY2(log->paints[i].atMs - log->paints[i - 1].atMs >= IntervalMs - 1,
                 qPrintable(QStringLiteral("paints %1 ms apart")
                                    .arg(log->paints[i].atMs - log->paints[i - 1].atMs)));
    const qint64 span = log->clock.elapsed();
    QVERIFY(int(log->paints.size()) <= 1 + int(span / IntervalMs) + 1);
    QVERIFY(int(log->paints.size()) < changes);

    // Nothing is painted afterwards without a change.
    const size_t painted = log->paints.size();
    QTest::qWait(IntervalMs + 50);
    QCOMPARE(log->paints.size(), painted);
}

QTEST_MAIN(TestRepaintPacer)
#include "tst_repaintpacer.moc"
