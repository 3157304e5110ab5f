// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The simulated controller: its reports decode to its model, and it answers parameter frames.
#include "calibrationgate.h"
#include "magcalibration.h"
#include "magrecording.h"
#include "protocol.h"
#include "virtualcontroller.h"
#include "virtualdongle.h"

#include <QtTest>

#include <array>
#include <cmath>
#include <map>

using namespace Protocol;
using Notification = VirtualController::Notification;
using Values = std::array<int, 4>;

namespace {

struct Reading {
    int64_t ms;
    std::array<int16_t, 3> mag;
};

std::vector<Reading> magReadings(const std::vector<Notification> &notifications)
{
    std::vector<Reading> readings;
    ReportState s;
    for (const Notification &n : notifications) {
        if (decodeReport(n.bytes.data(), n.bytes.size(), s).raw)
            readings.push_back({n.timeMs, {s.rawSample.mag_x, s.rawSample.mag_y, s.rawSample.mag_z}});
    }
    return readings;
}

// A calibration of these readings as a recording makes it: every reading adds to the
// coverage, and the ticks, one a second from `firstTick` until `end`, fold in the latest one.
MagRecording record(const std::vector<Reading> &readings, int64_t firstTick, int64_t end)
{
    MagRecording recording;
    recording.start();
    size_t next = 0;
    for (int64_t tick = firstTick; tick < end; tick += 1000) {
        for (; next < readings.size() && readings[next].ms <= tick; ++next)
            recording.addSample(readings[next].mag.data());
        if (next > 0)
            recording.tick(readings[next - 1].mag.data());
    }
    for (; next < readings.size(); ++next)
        recording.addSample(readings[next].mag.data());
    return recording;
}

// The fit error of a recording, as the quality figures give it (-1 while unknown).
double fitError(const MagRecording &recording)
{
    return recording.figures().fitError.value_or(-1.0);
}

bool crossesZero(const MagRecording &recording, int axis)
{
    return recording.max()[axis] > 0 && recording.min()[axis] < 0;
}

} // namespace

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
    void magnetometerFaults_data();
    void magnetometerFaults();
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

// A calibration recorded over one whole phase of each controller, as a job records it, with
// its ticks at any time in the second. Turning, the field points into most directions, every
// axis crosses zero without reaching the limits, and each axis meets a tick while it lies
// along and against the field, so the corrected readings lie on a sphere. Lying still covers
// hardly anything.
void TestVirtualController::calibrationCoverage_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<qint64>("from");

    const qint64 turn = VirtualController::StillMs, cycle = VirtualController::CycleMs;
    for (uint seed = 1; seed <= 3; ++seed) {
        QTest::addRow("controller %u still", seed) << seed << qint64(0);
        QTest::addRow("controller %u turning", seed) << seed << turn;
        QTest::addRow("controller %u still again", seed) << seed << cycle;
        QTest::addRow("controller %u sixth turn", seed) << seed << turn + 5 * cycle;
    }
}

void TestVirtualController::calibrationCoverage()
{
    QFETCH(uint, seed);
    QFETCH(qint64, from);

    VirtualController c(seed);
    c.startReports(from);
    const int64_t end = from + VirtualController::TurnMs;
    const std::vector<Reading> readings = magReadings(c.advanceTo(end - 1));
    const bool turning = c.truthAt(from).turning;
    for (const Reading &r : readings) {
        for (int axis = 0; axis < 3; ++axis)
            QVERIFY2(std::abs(r.mag[size_t(axis)]) < MagCalibration::Limit, qPrintable(QString::number(r.ms)));
    }
    for (int64_t tickPhase = 0; tickPhase < 1000; tickPhase += 25) {
        const MagRecording recording = record(readings, from + tickPhase, end);
        const GateVerdict verdict = judgeCalibration(recording.figures(), GateLimits());
        const QString figures = QString("ticks at %1 ms: coverage %2 %, fit %3 %: %4").arg(tickPhase)
                .arg(recording.coverage()).arg(fitError(recording)).arg(verdict.reasons.join("; "));
        if (!turning) {
            QVERIFY2(recording.coverage() < 10.0, qPrintable(figures));
            continue;
        }
        // One turn makes a calibration that passes the gate, whenever the ticks come.
        QVERIFY2(verdict.passed, qPrintable(figures));
        for (int axis = 0; axis < 3; ++axis)
            QVERIFY2(crossesZero(recording, axis), qPrintable(figures));
    }
}

enum Fault { NoFault, Spike, Magnet, Offset };
constexpr int16_t SpikeValue = 199;
constexpr int16_t OffsetY = 170;
constexpr int64_t MagnetMs = 5000;

// Each fault of the fault control, put into the dongle while two of its controllers stream a
// turn: which readings it changes, and what a calibration recorded over that turn (ticks 999
// ms into each second) makes of it. Times are ms after the turn's start.
void TestVirtualController::magnetometerFaults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<qint64>("at");         // the spike injected, the magnet from
    QTest::addColumn<int>("amount");        // the spike's reports, the magnet's counts
    QTest::addColumn<qint64>("changedFrom");
    QTest::addColumn<qint64>("changedUntil");
    QTest::addColumn<int>("changed");       // readings of each controller unlike the clean model
    QTest::addColumn<bool>("spikeRecorded");
    QTest::addColumn<QString>("gate");      // the reason the gate fails it for; empty: it passes

    QTest::newRow("none") << int(NoFault) << qint64(0) << 0 << qint64(0) << qint64(0) << 0 << false << "";
    // The next magnetometer report comes within 40 ms and stays the latest until the tick.
    QTest::newRow("single spike, latest at a tick")
        << int(Spike) << qint64(3999 - 39) << 1 << qint64(3960) << qint64(4000) << 1 << true
        << "max_x set by one outlying sample";
    QTest::newRow("single spike between ticks")
        << int(Spike) << qint64(3100) << 1 << qint64(3100) << qint64(3140) << 1 << false << "";
    QTest::newRow("spike of a second")
        << int(Spike) << qint64(3100) << 25 << qint64(3100) << qint64(4140) << 25 << true << "max_x set by";
    QTest::newRow("magnet, 5 s of the turn")
        << int(Magnet) << qint64(4000) << 40 << qint64(4000) << qint64(9000) << 125 << false << "fit error";
    QTest::newRow("magnet taking 30 counts away")
        << int(Magnet) << qint64(9000) << -30 << qint64(9000) << qint64(14000) << 125 << false << "fit error";
    QTest::newRow("hard-iron offset on y")
        << int(Offset) << qint64(0) << 0 << qint64(0) << qint64(VirtualController::TurnMs) << 500 << false
        << "y never read below zero: its minimum 0 was not measured";
}

void TestVirtualController::magnetometerFaults()
{
    QFETCH(int, fault);
    QFETCH(qint64, at);
    QFETCH(int, amount);
    QFETCH(qint64, changedFrom);
    QFETCH(qint64, changedUntil);
    QFETCH(int, changed);
    QFETCH(bool, spikeRecorded);
    QFETCH(QString, gate);

    const int64_t turn = VirtualController::StillMs, end = turn + VirtualController::TurnMs;
    VirtualDongle dongle(VirtualDongle::Clock::Manual);
    QVERIFY(dongle.init(HostEventTarget{}) && dongle.start());
    dongle.advance(100);
    const int streaming = 2;    // the third controller stays unconnected
    std::map<uint32_t, std::vector<Reading>> readings;
    dongle.setNotificationObserver([&](uint32_t id, const uint8_t *data, size_t length) {
        ReportState s;
        if (decodeReport(data, length, s).raw && dongle.now() >= turn)
            readings[id].push_back({dongle.now() - turn, {s.rawSample.mag_x, s.rawSample.mag_y, s.rawSample.mag_z}});
    });
    for (int i = 0; i < streaming; ++i) {
        QVERIFY(dongle.connect(VirtualDongle::controllerAddress(i)));
        dongle.advance(100);
        QVERIFY(dongle.writeConfiguration(dongle.connectionId(i), 0x000E, 0x000D, 1));
    }
    if (fault == Magnet)
        dongle.faults().setMagnet(turn + at, turn + at + MagnetMs, amount);
    if (fault == Offset)
        dongle.faults().setAddedHardIron({0, OffsetY, 0});
    while (dongle.now() < end) {
        if (fault == Spike && dongle.now() == turn + at)
            dongle.faults().injectMagSpike(0, SpikeValue, amount);
        dongle.advance(1);
    }

    for (int i = 0; i < VirtualDongle::ControllerCount; ++i) {
        const VirtualController clean(uint32_t(i + 1));     // the dongle's controller i, unharmed
        if (i >= streaming) {
            // Settings reach controllers that are not connected as well.
            const int64_t t = turn + changedFrom;
            QCOMPARE(dongle.controllerTruth(i, t).mag == clean.truthAt(t).mag, fault == NoFault || fault == Spike);
            continue;
        }
        const std::vector<Reading> &got = readings[dongle.connectionId(i)];
        QCOMPARE(got.size(), size_t(VirtualController::TurnMs / 40));
        int differing = 0;
        for (const Reading &r : got) {
            std::array<int16_t, 3> expected = clean.truthAt(turn + r.ms).mag;
            if (r.mag == expected)
                continue;
            ++differing;
            QVERIFY2(r.ms >= changedFrom && r.ms < changedUntil, qPrintable(QString::number(r.ms)));
            if (fault == Spike)
                expected[0] = SpikeValue;
            if (fault == Offset)
                expected[1] = int16_t(expected[1] + OffsetY);
            if (fault != Magnet)
                QCOMPARE(r.mag, expected);
        }
        QCOMPARE(differing, changed);

        const MagRecording recording = record(got, 999, VirtualController::TurnMs);
        QCOMPARE(recording.max()[0] == SpikeValue, spikeRecorded);
        // A clean turn passes the gate; each fault fails it, with its own reason.
        const GateVerdict verdict = judgeCalibration(recording.figures(), GateLimits());
        const QString reasons = verdict.reasons.join("; ");
        QVERIFY2(gate.isEmpty() ? verdict.passed : reasons.contains(gate),
                 qPrintable(QString("fit %1 %: %2").arg(fitError(recording)).arg(reasons)));
    }
    dongle.setNotificationObserver(nullptr);
}

QTEST_GUILESS_MAIN(TestVirtualController)
#include "tst_virtualcontroller.moc"
