// The simulated controller: its reports decode to its model, and it answers parameter frames.
#include "magrecording.h"
#include "protocol.h"
#include "virtualcontroller.h"

#include <QtTest>

#include <array>

using namespace Protocol;
using Notification = VirtualController::Notification;
using Values = std::array<int, 4>;

class TestVirtualController : public QObject
{
    Q_OBJECT

private slots:
    void reportsDecodeToModel_data();
    void reportsDecodeToModel();
    void parameterFrames_data();
    void parameterFrames();
    void calibrationCoverage_data();
    void calibrationCoverage();
};

void TestVirtualController::reportsDecodeToModel_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<qint64>("from");

    QTest::newRow("still into turning") << 2u << qint64(18500);
    QTest::newRow("turning into still, second cycle") << 3u << qint64(78500);
}

void TestVirtualController::reportsDecodeToModel()
{
    QFETCH(uint, seed);
    QFETCH(qint64, from);

    VirtualController c(seed);
    c.startReports(from);
    ReportState s;
    const IMU_RAW &raw = s.rawSample;
    int types = 0;
    for (const Notification &n : c.advanceTo(from + 3000)) {
        QCOMPARE(n.bytes.size(), ReportLength);
        const VirtualController::Truth t = c.truthAt(n.timeMs);
        const ReportResult r = decodeReport(n.bytes.data(), n.bytes.size(), s);
        QCOMPARE(r.ack, ReportAck::None);
        types |= 1 << n.bytes[16];
        if (n.bytes[16] == 0) {
            QVERIFY(r.pos);
            QCOMPARE(QVector<float>({s.posSample.angle1, s.posSample.angle2, s.posSample.angle3}),
                     QVector<float>({t.angleTenths[0] * 0.1f, t.angleTenths[1] * 0.1f, t.angleTenths[2] * 0.1f}));
            QCOMPARE(Values({s.btn, s.trig, s.rock_x, s.rock_y}), Values({t.btn, t.trig, t.rockX, t.rockY}));
        } else if (n.bytes[16] == 2) {
            QCOMPARE(Values({raw.first_x, raw.first_y, raw.first_z}), Values({t.accel[0], t.accel[1], t.accel[2]}));
        } else if (n.bytes[16] == 3) {
            QCOMPARE(Values({raw.second_x, raw.second_y, raw.second_z}), Values({t.gyro[0], t.gyro[1], t.gyro[2]}));
        } else {
            QVERIFY(r.raw);
            QCOMPARE(Values({raw.mag_x, raw.mag_y, raw.mag_z}), Values({t.mag[0], t.mag[1], t.mag[2]}));
        }
    }
    QCOMPARE(types, 0x1D);
}

void TestVirtualController::parameterFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("valid");

    const ParamFrame f = buildParamFrame(MAG_PARAM{120, 35, 200, -75, -200, -3});
    const QByteArray g(reinterpret_cast<const char *>(f.data()), int(f.size()));
    QTest::newRow("valid") << g << true;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestVirtualController::parameterFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, valid);

    VirtualController c(1);
    const int64_t t = 5000;
    c.startReports(t);
    const auto *bytes = reinterpret_cast<const uint8_t *>(frame.constData());
    QCOMPARE(c.writeParameter(frame.isEmpty() ? nullptr : bytes, size_t(frame.size()), t), valid);

    // The answer is due at once, ahead of any report, and is no orientation or sensor data.
    const std::vector<Notification> out = c.advanceTo(t);
    QCOMPARE(out.size(), size_t(1));
    ReportState s;
    const ReportResult r = decodeReport(out[0].bytes.data(), out[0].bytes.size(), s);
    QCOMPARE(r.ack, valid ? ReportAck::Success : ReportAck::Fail);
    QVERIFY(!r.pos && !r.raw);
}

// A calibration recorded over one whole phase of each controller, as a job records it: every
// magnetometer sample adds to the coverage, and the extremes follow the latest sample once a
// second. One turn covers most of the sphere's 100 regions, lying still hardly any of them.
void TestVirtualController::calibrationCoverage_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<qint64>("from");

    for (uint seed = 1; seed <= 3; ++seed) {
        QTest::addRow("controller %u still", seed) << seed << qint64(0);
        QTest::addRow("controller %u turning", seed) << seed << qint64(VirtualController::StillMs);
        QTest::addRow("controller %u still again", seed) << seed << qint64(VirtualController::CycleMs);
    }
}

void TestVirtualController::calibrationCoverage()
{
    QFETCH(uint, seed);
    QFETCH(qint64, from);

    VirtualController c(seed);
    c.startReports(from);
    ReportState s;
    int16_t latest[3] = {0, 0, 0};
    MagRecording recording;
    recording.start();
    recording.tick(latest);
    for (int64_t second = 1; second * 1000 <= VirtualController::TurnMs; ++second) {
        for (const Notification &n : c.advanceTo(from + second * 1000 - 1)) {
            if (!decodeReport(n.bytes.data(), n.bytes.size(), s).raw)
                continue;
            const int16_t sample[3] = {s.rawSample.mag_x, s.rawSample.mag_y, s.rawSample.mag_z};
            std::copy(sample, sample + 3, latest);
            recording.addSample(sample);
        }
        recording.tick(latest);
    }
    const bool turning = c.truthAt(from).turning;
    QVERIFY2(turning ? recording.coverage() >= 55.0 : recording.coverage() < 10.0,
             qPrintable(QString::number(recording.coverage())));
}

QTEST_GUILESS_MAIN(TestVirtualController)
#include "tst_virtualcontroller.moc"
