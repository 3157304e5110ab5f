// Closing the tool in every busy state, over and over: each run is a fresh process of
// imu_exit_scenario, which must end soon after it closes its window, with status 0 and
// without a sanitizer report.
//
// IMU_STRESS_RUNS sets the runs per state (100 by default); IMU_STRESS_EXIT_MS the longest
// time allowed from closing the window to the end of the process (3000 ms by default, which
// leaves room for a sanitizer's leak check at exit).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <algorithm>

namespace {

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// Texts that the sanitizers print when they find something.
const char *const SanitizerMarks[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                      "runtime error:", "WARNING: ThreadSanitizer",
                                      "ERROR: ThreadSanitizer"};

struct Run {
    bool ok = false;
    QString why;
    qint64 exitMs = -1;     // from "closing" to the end of the process
    qint64 closeMs = -1;    // as the child measured it: from the close to the end of main
};

Run runOnce(const QString &program, const QString &scenario)
{
    Run run;
    QProcess child;
    child.start(program, {scenario});
    if (!child.waitForStarted(10000)) {
        run.why = QStringLiteral("did not start: ") + child.errorString();
        return run;
    }

    // The exit is timed from the moment the child says it closes its window.
    QByteArray out;
    QElapsedTimer sinceClose;
    while (!out.contains("closing\n")) {
        if (child.state() == QProcess::NotRunning || !child.waitForReadyRead(30000))
            break;
        out += child.readAllStandardOutput();
    }
    if (out.contains("closing\n"))
        sinceClose.start();
    out += child.readAllStandardOutput();

    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished(5000);
        run.why = QStringLiteral("still running 30 s after closing (hang)");
        return run;
    }
    run.exitMs = sinceClose.isValid() ? sinceClose.elapsed() : -1;
    const QByteArray err = child.readAllStandardError();
    const int closed = err.lastIndexOf("closed in ");
    if (closed >= 0)
        run.closeMs = err.mid(closed + 10).split(' ').value(0).toLongLong();

    if (!sinceClose.isValid())
        run.why = QStringLiteral("never closed its window: ") + QString::fromLocal8Bit(err);
    else if (child.exitStatus() != QProcess::NormalExit)
        run.why = QStringLiteral("crashed: ") + QString::fromLocal8Bit(err.right(2000));
    else if (child.exitCode() != 0)
        run.why = QStringLiteral("exit status %1: ").arg(child.exitCode())
                  + QString::fromLocal8Bit(err.right(2000));
    for (const char *mark : SanitizerMarks) {
        if (run.why.isEmpty() && err.contains(mark))
            run.why = QStringLiteral("sanitizer report: ") + QString::fromLocal8Bit(err.right(4000));
    }
    run.ok = run.why.isEmpty();
    return run;
}

} // namespace

class TestExitStress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void closingWhileBusy_data();
    void closingWhileBusy();

private:
    QString program;
};

void TestExitStress::initTestCase()
{
    program = QCoreApplication::applicationDirPath() + QStringLiteral("/imu_exit_scenario");
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
    QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "the tool needs an X display (xvfb-run)");
}

void TestExitStress::closingWhileBusy_data()
{
    QTest::addColumn<QString>("scenario");
    QTest::newRow("streaming") << "stream";
    QTest::newRow("right after a save") << "save";
    QTest::newRow("mid-check") << "check";
    QTest::newRow("calibrating") << "calibration";
}

void TestExitStress::closingWhileBusy()
{
    QFETCH(QString, scenario);
    const int runs = environmentNumber("IMU_STRESS_RUNS", 100);
    const int exitLimitMs = environmentNumber("IMU_STRESS_EXIT_MS", 3000);

    int failures = 0;
    qint64 maxExitMs = 0;
    qint64 totalExitMs = 0;
    int timed = 0;
    qint64 maxCloseMs = 0;
    QStringList reasons;
    for (int i = 0; i < runs; ++i) {
        const Run run = runOnce(program, scenario);
        if (run.exitMs >= 0) {
            maxExitMs = std::max(maxExitMs, run.exitMs);
            totalExitMs += run.exitMs;
            ++timed;
        }
        maxCloseMs = std::max(maxCloseMs, run.closeMs);
        QString why = run.why;
        if (run.ok && run.exitMs > exitLimitMs)
            why = QStringLiteral("took %1 ms to exit").arg(run.exitMs);
        if (!why.isEmpty()) {
            ++failures;
            if (reasons.size() < 5)
                reasons << QStringLiteral("run %1: %2").arg(i + 1).arg(why);
        }
    }
    qInfo("%s: %d runs, %d failures, exit after close max %lld ms, mean %lld ms"
          " (in main: max %lld ms)",
          qPrintable(scenario), runs, failures, maxExitMs,
          timed ? totalExitMs / timed : -1LL, maxCloseMs);
    QVERIFY2(failures == 0, qPrintable(reasons.join('\n')));
}

QTEST_GUILESS_MAIN(TestExitStress)
#include "tst_exitstress.moc"
