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

// Controllers that get every frame with its checksum broken, and so answer "fail".
class RefusingDongle : public VirtualDongle
{
public:
    RefusingDongle() : VirtualDongle(Clock::Manual) {}
    bool writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset, uint16_t length,
                           const uint8_t *data) override
    {
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

// The answers and motions the demo does not give: a write refused, a unit that turns, and one
// that falls silent. The dongle's clock moves only when the test moves it.
void TestHeadless::controlledDongle_data()
{
    QTest::addColumn<qint64>("from");      // the dongle's clock at the start
    QTest::addColumn<bool>("write");
    QTest::addColumn<qint64>("silentAt");  // reports stop then (0: never)
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");

    QTest::newRow("write answered fail") << qint64(0) << true << qint64(0) << 1
                                         << "write 1,2,3,-4,-5,-6: fail";
    QTest::newRow("check while turning")
        << qint64(VirtualController::StillMs + 4000) << false << qint64(0) << 1 << "failed";
    QTest::newRow("reports stop mid-check") << qint64(0) << false << qint64(3000) << 2 << "no orientation reports";
}

void TestHeadless::controlledDongle()
{
    QFETCH(qint64, from);
    QFETCH(bool, write);
    QFETCH(qint64, silentAt);
    QFETCH(int, status);
    QFETCH(QString, output);

    RefusingDongle dongle;
    dongle.advance(from);
    setHostBackend(&dongle);
    ToolOptions options;
    options.address = "00025B0A1C01";
    options.write = write;
    options.values = MAG_PARAM{1, 2, 3, -4, -5, -6};
    options.check = !write;
    options.answerTimeoutMs = 2000;
    QBuffer out, err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    {
        HeadlessRunner runner(options, "virtual", &out, &err);
        QSignalSpy finished(&runner, &HeadlessRunner::finished);
        runner.start();
        const bool ended = QTest::qWaitFor([&] {
            dongle.advance(50);
            if (silentAt && dongle.now() >= from + silentAt)
                dongle.setReportsPaused(true);
            return !finished.isEmpty();
        }, 60000);
        QVERIFY(ended);
        QCOMPARE(finished.first().first().toInt(), status);
    }
    setHostBackend(nullptr);
    QVERIFY2((out.data() + err.data()).contains(output.toUtf8()), (out.data() + err.data()).constData());
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
