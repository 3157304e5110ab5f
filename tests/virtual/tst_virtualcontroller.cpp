// The simulated controller: what its reports say when decoded, how often they come, and how
// it answers parameter frames.
#include "paramframe.h"
#include "reportdecoder.h"
#include "virtualcontroller.h"

#include <QtTest>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

using Notification = VirtualController::Notification;

// Orientation samples as the stationary check takes them: decoded angles of consecutive
// type-0 reports.
std::vector<IMU_POS> orientationSamples(VirtualController &c, int64_t from, int count)
{
    std::vector<IMU_POS> samples;
    c.startReports(from);
    int64_t t = from;
    ReportState state;
    while (int(samples.size()) < count) {
        t += 10;
        for (const Notification &n : c.advanceTo(t)) {
            if (decodeReport(n.bytes.data(), n.bytes.size(), state).pos)
                samples.push_back(state.posSample);
        }
    }
    samples.resize(size_t(count));
    return samples;
}

} // namespace

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
    void controlsOnlyWhileTurning();
    void parameterFrames_data();
    void parameterFrames();
    void ackOnlyWhileNotifying();
    void pauseAndResume();
};

void TestVirtualController::reportsDecodeToModel_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<qint64>("span");

    QTest::newRow("lying still") << 1u << qint64(1000) << qint64(3000);
    QTest::newRow("turning") << 1u << qint64(25000) << qint64(5000);
    QTest::newRow("still into turning") << 2u << qint64(18500) << qint64(3000);
    QTest::newRow("turning into still, second cycle") << 3u << qint64(78500) << qint64(3000);
}

void TestVirtualController::reportsDecodeToModel()
{
    QFETCH(uint, seed);
    QFETCH(qint64, from);
    QFETCH(qint64, span);

    VirtualController c(seed);
    c.startReports(from);
    ReportState state;
    int positions = 0, raws = 0;
    for (const Notification &n : c.advanceTo(from + span)) {
        QCOMPARE(n.bytes.size(), VirtualController::ReportLength);
        const VirtualController::Truth truth = c.truthAt(n.timeMs);
        const ReportResult r = decodeReport(n.bytes.data(), n.bytes.size(), state);
        QCOMPARE(r.ack, ReportAck::None);
        switch (n.bytes[16]) {
        case 0:
            QVERIFY(r.pos);
            ++positions;
            QCOMPARE(state.posSample.angle1, float(truth.angleTenths[0]) * 0.1f);
            QCOMPARE(state.posSample.angle2, float(truth.angleTenths[1]) * 0.1f);
            QCOMPARE(state.posSample.angle3, float(truth.angleTenths[2]) * 0.1f);
            QCOMPARE(state.btn, int16_t(truth.btn));
            QCOMPARE(state.trig, int16_t(truth.trig));
            QCOMPARE(state.rock_x, int16_t(truth.rockX));
            QCOMPARE(state.rock_y, int16_t(truth.rockY));
            break;
        case 2:
            QCOMPARE(state.rawSample.first_x, truth.accel[0]);
            QCOMPARE(state.rawSample.first_y, truth.accel[1]);
            QCOMPARE(state.rawSample.first_z, truth.accel[2]);
            break;
        case 3:
            QCOMPARE(state.rawSample.second_x, truth.gyro[0]);
            QCOMPARE(state.rawSample.second_y, truth.gyro[1]);
            QCOMPARE(state.rawSample.second_z, truth.gyro[2]);
            break;
        case 4:
            QVERIFY(r.raw);
            ++raws;
            QCOMPARE(state.rawSample.mag_x, truth.mag[0]);
            QCOMPARE(state.rawSample.mag_y, truth.mag[1]);
            QCOMPARE(state.rawSample.mag_z, truth.mag[2]);
            break;
        default:
            QFAIL("unexpected report type");
        }
    }
    QVERIFY(positions > 0);
    QVERIFY(raws > 0);
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
    QTest::newRow("fastest rate") << 1000 << 3 << 10000 << 2500;
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
    for (int64_t t = 0; t < 10000;) {
        t = std::min<int64_t>(t + stepMs, 10000);
        for (const Notification &n : c.advanceTo(t)) {
            QVERIFY(n.timeMs >= last && n.timeMs <= t);
            last = n.timeMs;
            ++counts[n.bytes[16]];
        }
    }
    QCOMPARE(counts[0], orientation);
    QCOMPARE(counts[2], eachSensor);
    QCOMPARE(counts[3], eachSensor);
    QCOMPARE(counts[4], eachSensor);
}

void TestVirtualController::stationaryCheck_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<qint64>("from");
    QTest::addColumn<bool>("passes");

    QTest::newRow("still, first cycle") << 1u << qint64(500) << true;
    QTest::newRow("still, third cycle") << 2u << qint64(89000) << true;
    QTest::newRow("still, another controller") << 3u << qint64(45000) << true;
    QTest::newRow("turn just starting") << 1u << qint64(20000) << false;
    QTest::newRow("middle of a turn") << 2u << qint64(65000) << false;
    QTest::newRow("turn coming to rest") << 3u << qint64(29900) << false;
}

void TestVirtualController::stationaryCheck()
{
    QFETCH(uint, seed);
    QFETCH(qint64, from);
    QFETCH(bool, passes);

    // 1001 changes between 1002 consecutive samples, each sum divided by 1000, against the
    // limits for angle1, angle2 and angle3.
    VirtualController c(seed);
    const std::vector<IMU_POS> s = orientationSamples(c, from, 1002);
    double sum[3] = {0, 0, 0};
    for (size_t i = 1; i < s.size(); ++i) {
        sum[0] += std::fabs(s[i].angle1 - s[i - 1].angle1);
        sum[1] += std::fabs(s[i].angle2 - s[i - 1].angle2);
        sum[2] += std::fabs(s[i].angle3 - s[i - 1].angle3);
    }
    const bool ok = sum[0] / 1000 < 1.0 && sum[1] / 1000 < 0.1 && sum[2] / 1000 < 0.6;
    QCOMPARE(ok, passes);
    if (passes) {
        // Far inside the limits, but not frozen: the check sees some sensor noise.
        QVERIFY(sum[1] / 1000 < 0.03);
        QVERIFY(sum[0] + sum[1] + sum[2] > 0);
    }
}

void TestVirtualController::fieldSweepsOverATurn_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<qint64>("turnStart");

    QTest::newRow("controller 1, first turn") << 1u << qint64(20000);
    QTest::newRow("controller 1, second turn") << 1u << qint64(60000);
    QTest::newRow("controller 2, first turn") << 2u << qint64(20000);
    QTest::newRow("controller 3, third turn") << 3u << qint64(100000);
}

void TestVirtualController::fieldSweepsOverATurn()
{
    QFETCH(uint, seed);
    QFETCH(qint64, turnStart);

    VirtualController c(seed);
    c.startReports(turnStart);
    ReportState state;
    std::array<int, 3> lo{{32767, 32767, 32767}}, hi{{-32767, -32767, -32767}};
    for (const Notification &n : c.advanceTo(turnStart + VirtualController::TurnMs)) {
        if (!decodeReport(n.bytes.data(), n.bytes.size(), state).raw)
            continue;
        const int16_t m[3] = {state.rawSample.mag_x, state.rawSample.mag_y, state.rawSample.mag_z};
        for (int i = 0; i < 3; ++i) {
            lo[size_t(i)] = std::min<int>(lo[size_t(i)], m[i]);
            hi[size_t(i)] = std::max<int>(hi[size_t(i)], m[i]);
        }
    }
    for (size_t i = 0; i < 3; ++i) {
        // The calibration only keeps values inside -200..200; a turn must reach far across it.
        QVERIFY2(lo[i] >= -200 && hi[i] <= 200, qPrintable(QString("axis %1: %2..%3").arg(i).arg(lo[i]).arg(hi[i])));
        QVERIFY2(hi[i] - lo[i] >= 240, qPrintable(QString("axis %1: %2..%3").arg(i).arg(lo[i]).arg(hi[i])));
        // The sweep is centred on the hard-iron offset, not on zero.
        QVERIFY(std::abs((hi[i] + lo[i]) / 2 - c.hardIronOffset()[i]) < 40);
    }
}

void TestVirtualController::controlsOnlyWhileTurning()
{
    VirtualController c(1);
    int buttonsSeen = 0;
    int trigLo = 127, trigHi = -128, rockLo = 127, rockHi = -128;
    for (int64_t t = 0; t < VirtualController::CycleMs; t += 10) {
        const VirtualController::Truth s = c.truthAt(t);
        if (!s.turning) {
            QCOMPARE(int(s.btn), 0);
            QCOMPARE(int(s.trig), -128);
            QCOMPARE(int(s.rockX), 0);
            QCOMPARE(int(s.rockY), 0);
            continue;
        }
        const int b = uint8_t(s.btn);
        QVERIFY((b & (b - 1)) == 0);    // one button at a time
        QVERIFY(b < 0x20);
        buttonsSeen |= b;
        trigLo = std::min<int>(trigLo, s.trig);
        trigHi = std::max<int>(trigHi, s.trig);
        rockLo = std::min<int>(rockLo, std::min(s.rockX, s.rockY));
        rockHi = std::max<int>(rockHi, std::max(s.rockX, s.rockY));
    }
    QCOMPARE(buttonsSeen, 0x1F);
    QCOMPARE(trigLo, -128);
    QCOMPARE(trigHi, 127);
    QVERIFY(rockLo <= -120 && rockHi >= 120);
}

void TestVirtualController::parameterFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QVector<int>>("centre");

    const ParamFrame good = buildParamFrame(MAG_PARAM{120, 35, 200, -75, -200, -3});
    const QByteArray g(reinterpret_cast<const char *>(good.data()), int(good.size()));
    auto changed = [&](int at, char value) {
        QByteArray f = g;
        f[at] = value;
        return f;
    };

    QTest::newRow("valid") << g << true << QVector<int>{22, -82, 98};
    QTest::newRow("valid, full range")
            << QByteArray::fromHex("5A040100C8FF3800C8FF3800C8FF3800000002A5") << true
            << QVector<int>{0, 0, 0};
    QTest::newRow("bad checksum") << changed(18, char(g[18] + 1)) << false << QVector<int>{0, 0, 0};
    QTest::newRow("bad start") << changed(0, char(0x5B)) << false << QVector<int>{0, 0, 0};
    QTest::newRow("bad end") << changed(19, char(0xA4)) << false << QVector<int>{0, 0, 0};
    QTest::newRow("bad command") << changed(1, char(0x05)) << false << QVector<int>{0, 0, 0};
    QTest::newRow("too short") << g.left(19) << false << QVector<int>{0, 0, 0};
    QTest::newRow("too long") << g + char(0) << false << QVector<int>{0, 0, 0};
    QTest::newRow("empty") << QByteArray() << false << QVector<int>{0, 0, 0};
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
    QCOMPARE(c.receivedFrames().size(), size_t(1));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(c.receivedFrames()[0].data()),
                        int(c.receivedFrames()[0].size())),
             frame);

    // The answer is due at once, ahead of any report.
    const std::vector<Notification> out = c.advanceTo(t);
    QCOMPARE(out.size(), size_t(1));
    const std::vector<uint8_t> &ack = out[0].bytes;
    const QByteArray head = QByteArray(reinterpret_cast<const char *>(ack.data()), 12).toHex();
    QCOMPARE(head, valid ? QByteArray("550101000000000000000000")
                         : QByteArray("550101000100010001000000"));
    ReportState state;
    const ReportResult r = decodeReport(ack.data(), ack.size(), state);
    QCOMPARE(r.ack, valid ? ReportAck::Success : ReportAck::Fail);
    // An acknowledgement must not also pass for orientation or sensor data.
    QVERIFY(!r.pos);
    QVERIFY(!r.raw);

    // From now on the magnetometer reads relative to the calibrated centre.
    const VirtualController::Truth after = c.truthAt(t + 30);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(int(after.mag[size_t(i)]), before.mag[size_t(i)] - centre[i]);
    for (const Notification &n : c.advanceTo(t + 30)) {
        if (n.timeMs == t + 30 && decodeReport(n.bytes.data(), n.bytes.size(), state).raw)
            QCOMPARE(int(state.rawSample.mag_x), before.mag[0] - centre[0]);
    }
}

void TestVirtualController::ackOnlyWhileNotifying()
{
    // With notifications off the controller has no way to answer; the frame still counts.
    VirtualController c(1);
    const ParamFrame f = buildParamFrame(MAG_PARAM{100, 100, 100, -50, -50, -50});
    QVERIFY(c.writeParameter(f.data(), f.size(), 1000));
    QCOMPARE(c.nextDueMs(), std::numeric_limits<int64_t>::max());
    QVERIFY(c.advanceTo(5000).empty());
    QCOMPARE(c.magCentre(), (std::array<int16_t, 3>{{25, 25, 25}}));
}

void TestVirtualController::pauseAndResume()
{
    VirtualController c(1);
    c.startReports(0);
    QCOMPARE(c.advanceTo(1000).size(), size_t(175));
    c.setPaused(true, 1000);
    QVERIFY(c.advanceTo(3000).empty());

    // An answer still goes out while paused.
    const ParamFrame f = buildParamFrame(MAG_PARAM{});
    c.writeParameter(f.data(), f.size(), 3000);
    QCOMPARE(c.advanceTo(3000).size(), size_t(1));

    // Resuming picks up at the normal rate, without the backlog of the pause.
    c.setPaused(false, 3000);
    QCOMPARE(c.nextDueMs(), int64_t(3010));
    QCOMPARE(c.advanceTo(4000).size(), size_t(175));
}

QTEST_GUILESS_MAIN(TestVirtualController)
#include "tst_virtualcontroller.moc"
