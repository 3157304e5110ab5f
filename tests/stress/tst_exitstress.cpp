// Closing the tool in every busy state, over and over: each run is a fresh imu_exit_scenario,
// which must end soon after it closes its window, with status 0 and no sanitizer report.
// IMU_STRESS_RUNS: runs per state (100); IMU_STRESS_EXIT_MS: longest time from closing to
// the end of the process (3000, room for a sanitizer's leak check at exit).
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

namespace {

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// Why the run failed; empty when it did not.
QString runOnce(const QString &program, const QString &scenario, int exitLimitMs)
{
    QProcess child;
    child.start(program, {scenario});
    if (!child.waitForStarted(10000))
        return QStringLiteral("did not start: ") + child.errorString();
    QByteArray out;
    while (!out.contains("closing\n") && child.state() != QProcess::NotRunning
           && child.waitForReadyRead(30000))
        out += child.readAllStandardOutput();
    QElapsedTimer sinceClose;
    sinceClose.start();
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished(5000);
        return QStringLiteral("still running 30 s after closing");
    }
    const qint64 exitMs = sinceClose.elapsed();
    const QByteArray err = child.readAllStandardError();
    const QString tail = QString::fromLocal8Bit(err.right(4000));
    if (!(out + child.readAllStandardOutput()).contains("closing\n"))
        return QStringLiteral("never closed its window: ") + tail;
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        return QStringLiteral("crashed or exit status %1: ").arg(child.exitCode()) + tail;
    for (const char *mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:",
                             "WARNING: ThreadSanitizer", "ERROR: ThreadSanitizer"})
        if (err.contains(mark))
            return QStringLiteral("sanitizer report: ") + tail;
    if (exitMs > exitLimitMs)
        return QStringLiteral("took %1 ms to exit").arg(exitMs);
    return QString();
}

} // namespace

class TestExitStress : public QObject
{
    Q_OBJECT

private slots:
    void closingWhileBusy_data();
    void closingWhileBusy();
};

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
    QVERIFY2(qEnvironmentVariableIsSet("DISPLAY"), "the tool needs an X display (xvfb-run)");
    const QString program = QCoreApplication::applicationDirPath() + "/imu_exit_scenario";
    const int runs = environmentNumber("IMU_STRESS_RUNS", 100);
    const int exitLimitMs = environmentNumber("IMU_STRESS_EXIT_MS", 3000);
    QStringList reasons;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        const QString why = runOnce(program, scenario, exitLimitMs);
        if (!why.isEmpty() && ++failures <= 5)
            reasons << QStringLiteral("run %1: %2").arg(i + 1).arg(why);
    }
    QVERIFY2(failures == 0, qPrintable(QStringLiteral("%1 of %2 runs failed\n").arg(failures).arg(runs)
                                       + reasons.join('\n')));
}

QTEST_GUILESS_MAIN(TestExitStress)
#include "tst_exitstress.moc"
