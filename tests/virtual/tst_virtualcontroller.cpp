// The simulated controller: what its reports say when decoded, how often they come, and how
// it answers parameter frames.
#include "paramframe.h"
#include "reportdecoder.h"
#include "virtualcontroller.h"

#include <QtTest>

#include <array>
#include <cmath>

using Notification = VirtualController::Notification;
using Values = std::array<int, 4>;

// Up to four values in one comparison.
static Values values(int a, int b, int c, int d = 0)
{
    return Values{{a, b, c, d}};
}

class TestVirtualController : public QObject
{
    Q_OBJECT

private slots:
    void reportsDecodeToModel_data();
    void reportsDecodeToModel();
    void reportRates_data();
    void reportRates();
    void stationaryCheck_data();
    void stationaryCheck();
    void fieldSweepsOverATurn_data();
    void fieldSweepsOverATurn();
    void parameterFrames_data();
    void parameterFrames();
};

void TestVirtualController::reportsDecodeToModel_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<qint64>("from");

    QTest::newRow("lying still") << 1u << qint64(1000);
    QTest::newRow("turning") << 1u << qint64(25000);
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
    int types = 0;
    for (const Notification &n : c.advanceTo(from + 3000)) {
        QCOMPARE(n.bytes.size(), VirtualController::ReportLength);
        const VirtualController::Truth t = c.truthAt(n.timeMs);
        const ReportResult r = decodeReport(n.bytes.data(), n.bytes.size(), s);
        QCOMPARE(r.ack, ReportAck::None);
        types |= 1 << n.bytes[16];
        const IMU_RAW &raw = s.rawSample;
        switch (n.bytes[16]) {
        case 0:
            QVERIFY(r.pos);
            QCOMPARE(s.posSample.angle1, float(t.angleTenths[0]) * 0.1f);
            QCOMPARE(s.posSample.angle2, float(t.angleTenths[1]) * 0.1f);
            QCOMPARE(s.posSample.angle3, float(t.angleTenths[2]) * 0.1f);
            QCOMPARE(values(s.btn, s.trig, s.rock_x, s.rock_y),
                     values(t.btn, t.trig, t.rockX, t.rockY));
            if (!t.turning) {
                QCOMPARE(values(s.btn, s.trig, s.rock_x, s.rock_y),
                         values(0, -128, 0, 0));
            }
            break;
        case 2:
            QCOMPARE(values(raw.first_x, raw.first_y, raw.first_z),
                     values(t.accel[0], t.accel[1], t.accel[2]));
            break;
        case 3:
            QCOMPARE(values(raw.second_x, raw.second_y, raw.second_z),
                     values(t.gyro[0], t.gyro[1], t.gyro[2]));
            break;
        case 4:
            QVERIFY(r.raw);
            QCOMPARE(values(raw.mag_x, raw.mag_y, raw.mag_z), values(t.mag[0], t.mag[1], t.mag[2]));
            break;
        default:
            QFAIL("unexpected report type");
        }
    }
    QCOMPARE(types, 0x1D);
}

void TestVirtualController::reportRates_data()
{
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("stepMs");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("eachSensor");

    QTest::newRow("default rate, 10 ms steps") << 100 << 10 << 1000 << 250;
    QTest::newRow("default rate, uneven 7 ms steps") << 100 << 7 << 1000 << 250;
    QTest::newRow("default rate, one jump") << 100 << 10000 << 1000 << 250;
    QTest::newRow("rate not dividing a second") << 30 << 13 << 300 << 75;
}

void TestVirtualController::reportRates()
{
    QFETCH(int, rate);
    QFETCH(int, stepMs);
    QFETCH(int, orientation);
    QFETCH(int, eachSensor);

    VirtualController c(1);
    c.setReportRate(rate, 0);
    c.startReports(0);
    std::array<int, 256> counts{};
    int64_t last = 0;
    for (int64_t t = stepMs; t < 10000 + stepMs; t += stepMs) {
        for (const Notification &n : c.advanceTo(std::min<int64_t>(t, 10000))) {
            QVERIFY(n.timeMs >= last);
            last = n.timeMs;
            ++counts[n.bytes[16]];
        }
    }
    QCOMPARE(values(counts[0], counts[2], counts[3], counts[4]),
             values(orientation, eachSensor, eachSensor, eachSensor));
}

void TestVirtualController::stationaryCheck_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<bool>("passes");

    QTest::newRow("still, first cycle") << 1u << qint64(500) << true;
    QTest::newRow("still, third cycle") << 2u << qint64(89000) << true;
    QTest::newRow("turn just starting") << 1u << qint64(20000) << false;
    QTest::newRow("middle of a turn") << 2u << qint64(65000) << false;
    QTest::newRow("turn coming to rest") << 3u << qint64(29900) << false;
}

void TestVirtualController::stationaryCheck()
{
    QFETCH(uint, seed);
    QFETCH(qint64, from);
    QFETCH(bool, passes);

    // As the check does it: the changes between 1002 consecutive decoded orientations, each
    // sum divided by 1000, against the limits for angle1, angle2 and angle3.
    VirtualController c(seed);
    c.startReports(from);
    ReportState s;
    std::vector<IMU_POS> samples;
    for (const Notification &n : c.advanceTo(from + 10020)) {
        if (decodeReport(n.bytes.data(), n.bytes.size(), s).pos)
            samples.push_back(s.posSample);
    }
    QCOMPARE(samples.size(), size_t(1002));
    double sum[3] = {0, 0, 0};
    for (size_t i = 1; i < samples.size(); ++i) {
        sum[0] += std::fabs(samples[i].angle1 - samples[i - 1].angle1);
        sum[1] += std::fabs(samples[i].angle2 - samples[i - 1].angle2);
        sum[2] += std::fabs(samples[i].angle3 - samples[i - 1].angle3);
    }
    QCOMPARE(sum[0] / 1000 < 1.0 && sum[1] / 1000 < 0.1 && sum[2] / 1000 < 0.6, passes);
    // Lying still is far inside the limits, but not frozen.
    if (passes)
        QVERIFY(sum[1] / 1000 < 0.03 && sum[0] + sum[1] + sum[2] > 0);
}

void TestVirtualController::fieldSweepsOverATurn_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<qint64>("turnStart");

    QTest::newRow("controller 1, first turn") << 1u << qint64(20000);
    QTest::newRow("controller 2, second turn") << 2u << qint64(60000);
    QTest::newRow("controller 3, third turn") << 3u << qint64(100000);
}

void TestVirtualController::fieldSweepsOverATurn()
{
    QFETCH(uint, seed);
    QFETCH(qint64, turnStart);

    VirtualController c(seed);
    std::array<int, 3> lo{{999, 999, 999}}, hi{{-999, -999, -999}};
    int buttons = 0;
    for (int64_t t = turnStart; t < turnStart + VirtualController::TurnMs; t += 10) {
        const VirtualController::Truth s = c.truthAt(t);
        for (size_t i = 0; i < 3; ++i) {
            lo[i] = std::min<int>(lo[i], s.mag[i]);
            hi[i] = std::max<int>(hi[i], s.mag[i]);
        }
        const int b = uint8_t(s.btn);
        QVERIFY(b < 0x20 && (b & (b - 1)) == 0);   // one button at a time
        buttons |= b;
    }
    QCOMPARE(buttons, 0x1F);
    for (size_t i = 0; i < 3; ++i) {
        // The calibration keeps only -200..200; a turn must sweep far across it, around the
        // hard-iron offset.
        const QByteArray range = QByteArray::number(lo[i]) + ".." + QByteArray::number(hi[i]);
        QVERIFY2(lo[i] >= -200 && hi[i] <= 200 && hi[i] - lo[i] >= 240, range.constData());
        QVERIFY2(std::abs((hi[i] + lo[i]) / 2 - c.hardIronOffset()[i]) < 40, range.constData());
    }
}

void TestVirtualController::parameterFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QVector<int>>("centre");

    const ParamFrame f = buildParamFrame(MAG_PARAM{120, 35, 200, -75, -200, -3});
    const QByteArray g(reinterpret_cast<const char *>(f.data()), int(f.size()));
    auto changed = [&](int at, int value) {
        QByteArray bad = g;
        bad[at] = char(value);
        return bad;
    };
    const QVector<int> none{0, 0, 0};

    QTest::newRow("valid") << g << true << QVector<int>{22, -82, 98};
    QTest::newRow("bad checksum") << changed(18, g[18] + 1) << false << none;
    QTest::newRow("bad start") << changed(0, 0x5B) << false << none;
    QTest::newRow("bad end") << changed(19, 0xA4) << false << none;
    QTest::newRow("bad command") << changed(1, 0x05) << false << none;
    QTest::newRow("too short") << g.left(19) << false << none;
    QTest::newRow("too long") << g + char(0) << false << none;
    QTest::newRow("empty") << QByteArray() << false << none;
}

void TestVirtualController::parameterFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, valid);
    QFETCH(QVector<int>, centre);

    VirtualController c(1);
    const int64_t t = 5000;
    c.startReports(t);
    const VirtualController::Truth before = c.truthAt(t + 30);

    const auto *bytes = reinterpret_cast<const uint8_t *>(frame.constData());
    QCOMPARE(c.writeParameter(frame.isEmpty() ? nullptr : bytes, size_t(frame.size()), t), valid);

    // The answer is due at once, ahead of any report.
    const std::vector<Notification> out = c.advanceTo(t);
    QCOMPARE(out.size(), size_t(1));
    const std::vector<uint8_t> &ack = out[0].bytes;
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(ack.data()), 12).toHex(),
             QByteArray(valid ? "550101000000000000000000" : "550101000100010001000000"));
    ReportState s;
    const ReportResult r = decodeReport(ack.data(), ack.size(), s);
    QCOMPARE(r.ack, valid ? ReportAck::Success : ReportAck::Fail);
    // An acknowledgement must not also pass for orientation or sensor data.
    QVERIFY(!r.pos && !r.raw);

    // From now on the magnetometer reads relative to the calibrated centre.
    int checked = 0;
    for (const Notification &n : c.advanceTo(t + 30)) {
        if (n.timeMs == t + 30 && decodeReport(n.bytes.data(), n.bytes.size(), s).raw) {
            ++checked;
            QCOMPARE(values(s.rawSample.mag_x, s.rawSample.mag_y, s.rawSample.mag_z),
                     values(before.mag[0] - centre[0], before.mag[1] - centre[1],
                            before.mag[2] - centre[2]));
        }
    }
    QCOMPARE(checked, 1);
}

QTEST_GUILESS_MAIN(TestVirtualController)
#include "tst_virtualcontroller.moc"
