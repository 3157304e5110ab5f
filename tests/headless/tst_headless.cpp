// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Jobs without a window: the demo executable run as a station script runs it, with no
// display, and the runner in this process on a virtual dongle whose clock and answers the
// test controls.
#include "headlessrunner.h"
#include "virtualdongle.h"

#include <QBuffer>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <vector>

namespace {

// The fields of a record line, by operation.
QStringList recordFields(const QString &operation, bool saved)
{
    QStringList fields{"time", "tool", "backend", "station", "operator", "address", "name", "serial",
                       "operation", "attempt", "limits", "limitsSha256", "status", "reports", "dropped", "rssi"};
    if (operation == "write") {
        fields << "values" << "answer" << "sent";
        // A saved calibration brings its figures and verdict along.
        if (saved)
            fields << "quality" << "gate" << "forced";
    } else if (operation == "calibrate") {
        fields << "values" << "coverage" << "quality" << "gate";
    } else {
        fields << "sums" << "means" << "samples" << "passed" << "rate";
    }
    fields.sort();
    return fields;
}

// Controllers that get every frame with its checksum broken, and so answer "fail"; or, with
// `swallow`, a stack that takes every frame and neither delivers nor confirms it.
class RefusingDongle : public VirtualDongle
{
public:
    RefusingDongle() : VirtualDongle(Clock::Manual) {}
    bool swallow = false;
    bool writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset, uint16_t length,
                           const uint8_t *data) override
    {
        if (swallow)
            return true;
        std::vector<uint8_t> frame(data, data + length);
        if (length == 20)
            frame[18] ^= 0xFF;
        return VirtualDongle::writeCharByHandle(connId, handle, offset, length, frame.data());
    }
};

} // namespace

class TestHeadless : public QObject
{
    Q_OBJECT

private slots:
    void demo_data();
    void demo();
    void controlledDongle_data();
    void controlledDongle();
    void stopSignals_data();
    void stopSignals();
};

void TestHeadless::demo_data()
{
    QTest::addColumn<QStringList>("arguments");   // RECORD stands for the record file
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("recorded");    // operations, in order
    QTest::addColumn<QString>("output");

    QTest::newRow("help") << QStringList{"--help"} << 0 << QStringList() << "Exit status:";
    QTest::newRow("save without calibrate")
        << QStringList{"--address", "00025B0A1C01", "--save"} << 2 << QStringList() << "";
    QTest::newRow("list")
        << QStringList{"--list", "--json", "--timeout", "1.5"} << 0 << QStringList()
        << R"({"address":"00025B0A1C03","name":"IMU Controller C","rssi":-52})";
    QTest::newRow("write answered success")
        << QStringList{"--address", "00:02:5b:0a:1c:01", "--write", "120,35,200,-75,-200,-3",
                       "--record", "RECORD"}
        << 0 << QStringList{"write"} << "write 120,35,200,-75,-200,-3: success";
    // A second of lying still is no calibration: the gate keeps it from the unit, unless forced.
    QTest::newRow("calibrate and save: the gate refuses")
        << QStringList{"--address", "00025B0A1C03", "--calibrate", "1", "--save", "--json",
                       "--record", "RECORD"}
        << 1 << QStringList{"calibrate"} << R"("passed":false,"reasons":["coverage)";
    QTest::newRow("calibrate and save: forced")
        << QStringList{"--address", "00025B0A1C03", "--calibrate", "1", "--save", "--force", "--json",
                       "--record", "RECORD"}
        << 1 << QStringList{"calibrate", "write"} << R"("answer":"success")";
    QTest::newRow("check while still")
        << QStringList{"--address", "00025B0A1C02", "--check", "--json", "--record", "RECORD"}
        << 0 << QStringList{"check"} << R"("samples":1001,"passed":true)";
    QTest::newRow("unknown address")
        << QStringList{"--address", "00025B0A1CFF", "--check", "--timeout", "1", "--record", "RECORD"}
        << 2 << QStringList() << "";
}

void TestHeadless::demo()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, recorded);
    QFETCH(QString, output);

    QTemporaryDir dir;
    const QString recordPath = dir.filePath("units.jsonl");
    arguments.replaceInStrings("RECORD", recordPath);
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    tool.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    tool.start(DEMO_PATH, arguments);
    QVERIFY(tool.waitForFinished(60000));
    const QByteArray out = tool.readAllStandardOutput();
    const QByteArray err = tool.readAllStandardError();
    QVERIFY2(tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == status, err.constData());
    QVERIFY2(out.contains(output.toUtf8()), out.constData());
    // A line on standard error ends every job, and says whether it could finish. Every line
    // there, the worker's own ("OK", "success!") among them, names the program; standard
    // output holds results only.
    if (!arguments.contains("--help")) {
        QVERIFY2(err.trimmed().split('\n').last().contains("ERROR") == (status == 2), err.constData());
        for (const QByteArray &line : err.trimmed().split('\n')) {
            // Progress in JSON says it is progress.
            const QJsonObject json = QJsonDocument::fromJson(line).object();
            QVERIFY2(line.startsWith("imu-calibration-tool-demo: ")
                         || (arguments.contains("--json") && json.value("progress").toBool()), line.constData());
        }
        QVERIFY2(!out.contains("success!") && !out.contains("OK\n"), out.constData());
    }
    if (arguments.contains("--timeout") && !arguments.contains("--list"))
        QVERIFY2(clock.elapsed() >= 1000 && clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
    if (arguments.contains("--json")) {
        for (const QByteArray &line : out.trimmed().split('\n'))
            QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
    }

    QFile record(recordPath);
    QStringList operations;
    int worst = -1;
    if (record.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : record.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonObject fields = QJsonDocument::fromJson(line).object();
            const QString operation = fields.value("operation").toString();
            operations << operation;
            QStringList keys = fields.keys();
            keys.sort();
            QCOMPARE(keys, recordFields(operation, arguments.contains("--save")));
            QVERIFY(QDateTime::fromString(fields.value("time").toString(), Qt::ISODateWithMs).isValid());
            QCOMPARE(fields.value("backend").toString(), QStringLiteral("virtual"));
            worst = std::max(worst, fields.value("status").toInt(-1));
            const QString array = operation == "check" ? "sums" : "values";
            QCOMPARE(fields.value(array).toArray().size(), operation == "check" ? 3 : 6);
        }
    }
    QCOMPARE(operations, recorded);
    if (!recorded.isEmpty())
        QCOMPARE(worst, status);
}

// The answers and motions the demo does not give: writes answered "fail", not delivered,
// never answered, a unit that turns or falls silent or floods the link, and a job stopped by a
// signal. The dongle's clock moves only when the test moves it.
void TestHeadless::controlledDongle_data()
{
    QTest::addColumn<qint64>("from");      // the dongle's clock at the start
    QTest::addColumn<QString>("fault");    // write...: the job writes; otherwise it checks
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("recorded"); // in the operation's record line

    QTest::newRow("write answered fail") << qint64(0) << "write" << 1 << "write 1,2,3,-4,-5,-6: fail"
                                         << R"("answer":"fail","sent":true)";
    QTest::newRow("write refused later: not sent") << qint64(0) << "write refused later" << 2
        << "ERROR: the frame did not reach" << R"("answer":"not sent","sent":true)";
    // The deadline is the answer time given, not the stack's own.
    QTest::newRow("write never answered") << qint64(0) << "write swallowed" << 2
        << "ERROR: no answer from 00025B0A1C01 within 2 s" << R"("answer":"none","sent":true)";
    QTest::newRow("stopped while the answer is awaited") << qint64(0) << "write swallowed, stop" << 143
        << "ERROR: stopped by SIGTERM" << R"("answer":"none","sent":true)";
    QTest::newRow("stopped during a check") << qint64(0) << "stop" << 143 << "ERROR: stopped by SIGTERM"
                                            << R"("status":2,"reason":"stopped by SIGTERM","aborted":true)";
    QTest::newRow("check while turning")
        << qint64(VirtualController::StillMs + 4000) << "" << 1 << "failed" << R"("passed":false)";
    QTest::newRow("reports stop mid-check") << qint64(0) << "silence" << 2 << "no orientation reports"
                                            << R"("status":2)";
    QTest::newRow("reports dropped mid-check") << qint64(0) << "flood" << 2
        << "reports were dropped during the check" << R"("status":2,"reason":"the check is not judged)";
}

void TestHeadless::controlledDongle()
{
    QFETCH(qint64, from);
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, recorded);

    RefusingDongle dongle;
    dongle.swallow = fault.contains("swallowed");
    dongle.faults().setWriteFailsLater(fault.contains("refused later"));
    dongle.advance(from);
    setHostBackend(&dongle);
    QTemporaryDir dir;
    ToolOptions options;
    options.address = "00025B0A1C01";
    options.write = fault.startsWith("write");
    options.values = MAG_PARAM{1, 2, 3, -4, -5, -6};
    options.check = !options.write;
    options.answerTimeoutMs = 2000;
    options.recordPath = dir.filePath("units.jsonl");
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    QElapsedTimer clock;
    {
        HeadlessRunner runner(options, "virtual", &out, &err);
        QSignalSpy finished(&runner, &HeadlessRunner::finished);
        runner.start();
        bool stopped = false;
        const bool ended = QTest::qWaitFor([&] {
            dongle.advance(50);
            const bool underWay = err.data().contains("writing") || err.data().contains("checking");
            if (underWay && !clock.isValid())
                clock.start();
            if (fault == "silence" && dongle.now() >= from + 3000)
                dongle.setReportsPaused(true);
            if (fault == "flood" && underWay)
                dongle.faults().setFlood(40000);
            if (fault.endsWith("stop") && underWay && !stopped) {
                stopped = true;
                runner.stop(15, "SIGTERM");
            }
            return !finished.isEmpty();
        }, 60000);
        QVERIFY(ended);
        QCOMPARE(finished.first().first().toInt(), status);
    }
    setHostBackend(nullptr);
    QVERIFY2((out.data() + err.data()).contains(output.toUtf8()), (out.data() + err.data()).constData());
    QFile record(options.recordPath);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QByteArray line = record.readAll();
    QVERIFY2(line.contains(recorded.toUtf8()), line.constData());
    if (fault == "write swallowed")
        QVERIFY2(clock.elapsed() >= options.answerTimeoutMs, qPrintable(QString::number(clock.elapsed())));
}

// The demo as a station runs it, stopped by a signal during its check: it ends at once with
// 128 + the signal, and the check is recorded as aborted.
void TestHeadless::stopSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestHeadless::stopSignals()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString recordPath = dir.filePath("units.jsonl");
    QProcess tool;
    tool.start(DEMO_PATH, {"--address", "00025B0A1C02", "--check", "--record", recordPath});
    QByteArray err;
    QVERIFY(QTest::qWaitFor([&] { return (err += tool.readAllStandardError()).contains("checking"); }, 60000));
    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid_t(tool.processId()), signal);
    QVERIFY(tool.waitForFinished(60000));
    qInfo("ended %lld ms after the signal", stopping.elapsed());
    QCOMPARE(tool.exitCode(), 128 + signal);
    QFile record(recordPath);
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QJsonObject line = QJsonDocument::fromJson(record.readAll()).object();
    QCOMPARE(line.value("operation").toString(), QStringLiteral("check"));
    QCOMPARE(line.value("status").toInt(), 2);
    QCOMPARE(line.value("aborted").toBool(), true);
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
