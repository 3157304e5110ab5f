// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "virtualcontroller.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double Pi = 3.14159265358979323846;

// Still poses step on by these angles from one cycle to the next. Not multiples of 360, so
// every still phase rests in a new pose.
constexpr double StillStep[3] = {3 * 360.0 + 37.0, 2 * 360.0 + 83.0, 5 * 360.0 - 51.0};

// Earth field direction in the world frame (y up): horizontal part plus a downward dip.
constexpr double FieldDir[3] = {0.60, -0.70, 0.38};

uint64_t mix(uint64_t x)
{
    // splitmix64 finaliser
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// 0 at u = 0, 1 at u = 1, with zero rate at both ends so a turn starts and stops gently.
double ease(double u)
{
    return u - std::sin(2 * Pi * u) / (2 * Pi);
}

struct Mat3 {
    double m[3][3];
};

Mat3 mul(const Mat3 &a, const Mat3 &b)
{
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r.m[i][j] += a.m[i][k] * b.m[k][j];
    return r;
}

Mat3 rotX(double deg)
{
    const double c = std::cos(deg * Pi / 180), s = std::sin(deg * Pi / 180);
    return Mat3{{{1, 0, 0}, {0, c, -s}, {0, s, c}}};
}

Mat3 rotY(double deg)
{
    const double c = std::cos(deg * Pi / 180), s = std::sin(deg * Pi / 180);
    return Mat3{{{c, 0, s}, {0, 1, 0}, {-s, 0, c}}};
}

Mat3 rotZ(double deg)
{
    const double c = std::cos(deg * Pi / 180), s = std::sin(deg * Pi / 180);
    return Mat3{{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}};
}

// The controller's frame in world coordinates, the same composition the 3-D view draws:
// turn by angle1 about y, by -angle2 about z, by angle3 about x.
Mat3 orientation(const double angle[3])
{
    return mul(mul(rotY(angle[0]), rotZ(-angle[1])), rotX(angle[2]));
}

// M^T v: a world vector seen in the controller's frame.
void toBody(const Mat3 &m, const double v[3], double out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = m.m[0][i] * v[0] + m.m[1][i] * v[1] + m.m[2][i] * v[2];
}

int16_t clampCount(double v)
{
    const long r = std::lround(v);
    return int16_t(std::clamp<long>(r, -32767, 32767));
}

int8_t clampByte(double v)
{
    return int8_t(std::clamp<long>(std::lround(v), -128, 127));
}

int wrapTenths(long tenths)
{
    long w = (tenths + 1800) % 3600;
    if (w < 0)
        w += 3600;
    return int(w - 1800);
}

int64_t floorDiv(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        --q;
    return q;
}

double wrapDegrees(double deg)
{
    return deg - 360.0 * std::floor((deg + 180.0) / 360.0);
}

// `target` plus the whole turns that bring it nearest to `from`.
double nearestTurn(double target, double from)
{
    return from + wrapDegrees(target - from);
}

// The turn, from one still pose to the next. What a calibration needs to see is the field's
// direction in the controller's frame: it should point into every part of the sphere, and
// each axis should lie along and against the field for more than a second, since the
// extremes take only one sample a second. So for most of the turn the heading is the one at
// which pitch and roll steer that direction: with p = angle2 - pitch0 and r = angle3 the
// field lies along (cos p, sin p cos r, -sin p sin r) in the controller's frame. Key times
// in the turn, in milliseconds; every stretch between two keys starts and ends at rest:
//     0  the still pose
//  1500  field along +x (p 0)
//  7100  after a spiral of SpiralTurns rolls, +y (p 90, r 0), held until 7800
//  8800  a quarter roll on, -z, held until 9550
// 10550  -y, held until 11300
// 12300  +z, held until 12900
// 18500  after a second spiral, -x (p 180)
// 20000  the next still pose
constexpr int64_t TurnKeyMs[] = {0, 1500, 7100, 7800, 8800, 9550, 10550, 11300, 12300, 12900, 18500, 20000};
constexpr int TurnKeys = int(sizeof TurnKeyMs / sizeof TurnKeyMs[0]);
constexpr double SpiralTurns = 4;   // whole rolls in each half of the spiral

// The heading at which the field lies in the controller's x-y plane when angle2 and angle3
// are 0, and pitch0, the field's dip below the x axis there.
double fieldHeading()
{
    return std::atan2(-FieldDir[2], FieldDir[0]) * 180 / Pi;
}

double fieldPitch()
{
    return std::atan2(-FieldDir[1], std::hypot(FieldDir[0], FieldDir[2])) * 180 / Pi;
}

} // namespace

VirtualController::VirtualController(uint32_t seed_)
    : seed(seed_)
{
    // Start pose, hard-iron offset and soft iron differ per controller but keep every axis
    // inside the range a calibration records: |offset| <= 30, gains within 4 % of 1 and each
    // cross-axis term within 2 %, so |reading| <= 30 + 1.041 * field + noise < 190.
    for (int i = 0; i < 3; ++i) {
        startPose[i] = double(mix(seed * 7919ull + i) % 3600) / 10.0 - 180.0;
        hardIron[i] = int16_t(int(mix(seed * 104729ull + 17 + i) % 61) - 30);
        for (int j = 0; j < 3; ++j) {
            const int spread = i == j ? 40 : 20;
            const int permille = int(mix(seed * 15485863ull + 31 + 3 * i + j) % uint64_t(2 * spread + 1)) - spread;
            softIron[i][j] = (i == j ? 1.0 : 0.0) + permille / 1000.0;
        }
    }
}

void VirtualController::setMagnet(int64_t fromMs, int64_t untilMs, int counts)
{
    magnetFrom = fromMs;
    magnetUntil = untilMs;
    magnetCounts = counts;
}

void VirtualController::spikeMag(int axis, int16_t value, int reports)
{
    if (axis < 0 || axis > 2 || reports < 1)
        return;
    spikeAxis = axis;
    spikeValue = value;
    spikeReports = reports;
}

void VirtualController::setReportRate(int perSecond, int64_t nowMs)
{
    rate = std::clamp(perSecond, 1, 1000);
    scheduleStart = nowMs;
    nextSlot = 1;
}

void VirtualController::startReports(int64_t nowMs)
{
    reporting = true;
    scheduleStart = nowMs;
    nextSlot = 1;
}

void VirtualController::stopReports()
{
    reporting = false;
    pending.clear();
    spikeReports = 0;
}

void VirtualController::setPaused(bool paused, int64_t nowMs)
{
    if (isPaused == paused)
        return;
    isPaused = paused;
    if (!paused) {
        scheduleStart = nowMs;
        nextSlot = 1;
    }
}

int64_t VirtualController::slotTime(int64_t slot) const
{
    return scheduleStart + slot * 1000 / rate;
}

int64_t VirtualController::nextDueMs() const
{
    int64_t due = std::numeric_limits<int64_t>::max();
    if (!pending.empty())
        due = pending.front().timeMs;
    if (reporting && !isPaused)
        due = std::min(due, slotTime(nextSlot));
    return due;
}

std::vector<VirtualController::Notification> VirtualController::advanceTo(int64_t nowMs)
{
    std::vector<Notification> out;
    using namespace Protocol;
    auto produce = [&](ReportType type, int64_t t) {
        const auto bytes = encodeReport(type, t);
        out.push_back(Notification{t, std::vector<uint8_t>(bytes.begin(), bytes.end())});
    };
    for (;;) {
        const bool slotDue = reporting && !isPaused && slotTime(nextSlot) <= nowMs;
        const bool ackDue = !pending.empty() && pending.front().timeMs <= nowMs;
        if (ackDue && (!slotDue || pending.front().timeMs <= slotTime(nextSlot))) {
            out.push_back(std::move(pending.front()));
            pending.pop_front();
            continue;
        }
        if (!slotDue)
            break;
        const int64_t t = slotTime(nextSlot);
        produce(OrientationReport, t);
        // One sensor report per orientation report, cycling through the three sensors, so
        // each sensor comes at a quarter of the orientation rate.
        switch (nextSlot % 4) {
        case 1: produce(AccelReport, t); break;
        case 2: produce(GyroReport, t); break;
        case 3:
            produce(MagReport, t);
            if (spikeReports > 0) {
                encodeSignMagnitude(spikeValue, &out.back().bytes[3 + 2 * size_t(spikeAxis)]);
                --spikeReports;
            }
            break;
        default: break;
        }
        ++nextSlot;
    }
    return out;
}

bool VirtualController::writeParameter(const uint8_t *data, size_t length, int64_t nowMs)
{
    frames.emplace_back(data, data ? data + length : data);
    MAG_PARAM param;
    const bool valid = Protocol::parseParamFrame(data, length, &param);
    if (valid) {
        centre[0] = int16_t((param.max_x + param.min_x) / 2);
        centre[1] = int16_t((param.max_y + param.min_y) / 2);
        centre[2] = int16_t((param.max_z + param.min_z) / 2);
    }
    // The answer is a notification: it can only go out while notifications are on.
    if (reporting) {
        const Protocol::Report ack = Protocol::encodeAcknowledgement(valid);
        pending.push_back(Notification{nowMs, std::vector<uint8_t>(ack.begin(), ack.end())});
    }
    return valid;
}

bool VirtualController::turningAt(int64_t ms) const
{
    const int64_t r = ms - floorDiv(ms, CycleMs) * CycleMs;
    return r >= StillMs;
}

VirtualController::Pose VirtualController::stillPose(int64_t cycle) const
{
    Pose pose{};
    for (int i = 0; i < 3; ++i)
        pose.angle[i] = wrapDegrees(startPose[i] + double(cycle) * StillStep[i]);
    return pose;
}

VirtualController::Pose VirtualController::poseAt(int64_t ms) const
{
    const int64_t cycle = floorDiv(ms, CycleMs);
    const int64_t r = ms - cycle * CycleMs;
    if (r < StillMs)
        return stillPose(cycle);

    // The key poses of this turn (see TurnKeyMs).
    const Pose from = stillPose(cycle), to = stillPose(cycle + 1);
    double key[TurnKeys][3];
    std::copy(from.angle, from.angle + 3, key[0]);
    const double heading = nearestTurn(fieldHeading(), from.angle[0]);
    const double pitch = nearestTurn(fieldPitch(), from.angle[1]);
    const double roll = from.angle[2] + 90.0;
    const double rollAtY = 360.0 * std::ceil(roll / 360.0) + 360.0 * SpiralTurns;
    const double spiral[][2] = {
        {pitch, roll},                                  // field along +x
        {pitch + 90, rollAtY},                          // +y
        {pitch + 90, rollAtY},
        {pitch + 90, rollAtY + 90},                     // -z
        {pitch + 90, rollAtY + 90},
        {pitch + 90, rollAtY + 180},                    // -y
        {pitch + 90, rollAtY + 180},
        {pitch + 90, rollAtY + 270},                    // +z
        {pitch + 90, rollAtY + 270},
        {pitch + 180, rollAtY + 270 + 360.0 * SpiralTurns},   // -x
    };
    for (int k = 1; k < TurnKeys - 1; ++k) {
        key[k][0] = heading;
        key[k][1] = spiral[k - 1][0];
        key[k][2] = spiral[k - 1][1];
    }
    for (int i = 0; i < 3; ++i)
        key[TurnKeys - 1][i] = nearestTurn(to.angle[i], key[TurnKeys - 2][i]);

    const int64_t tau = r - StillMs;
    int k = 0;
    while (k < TurnKeys - 2 && tau >= TurnKeyMs[k + 1])
        ++k;
    const double e = ease(double(tau - TurnKeyMs[k]) / double(TurnKeyMs[k + 1] - TurnKeyMs[k]));
    Pose pose{};
    for (int i = 0; i < 3; ++i)
        pose.angle[i] = key[k][i] + e * (key[k + 1][i] - key[k][i]);
    return pose;
}

double VirtualController::noise(int64_t ms, uint32_t channel) const
{
    const uint64_t h = mix(mix(uint64_t(seed) << 32 | channel) ^ uint64_t(ms));
    return double(h >> 11) / double(1ull << 52) - 1.0;
}

VirtualController::Truth VirtualController::truthAt(int64_t ms) const
{
    Truth t;
    t.turning = turningAt(ms);
    const Pose pose = poseAt(ms);

    for (int i = 0; i < 3; ++i) {
        int tenths = wrapTenths(std::lround(pose.angle[i] * 10.0));
        // Sensor-fusion jitter: now and then the last digit flickers by one, toward the
        // middle of the range so it never wraps.
        if (noise(ms, 10 + i) > 0.9)
            tenths += tenths < 1799 ? 1 : -1;
        t.angleTenths[i] = int16_t(tenths);
    }

    const Mat3 m = orientation(pose.angle);

    const double up[3] = {0.0, GravityCounts, 0.0};
    double g[3];
    toBody(m, up, g);

    double field[3], b[3];
    const double norm = std::sqrt(FieldDir[0] * FieldDir[0] + FieldDir[1] * FieldDir[1]
                                  + FieldDir[2] * FieldDir[2]);
    const bool magnet = ms >= magnetFrom && ms < magnetUntil;
    const double strength = EarthField + (magnet ? magnetCounts : 0);
    for (int i = 0; i < 3; ++i)
        field[i] = strength * FieldDir[i] / norm;
    toBody(m, field, b);

    // Body turn rate from the change of orientation over +-1 ms: M^T dM/dt is the skew
    // matrix of the rate.
    double rate[3] = {0, 0, 0};
    if (t.turning) {
        const Pose before = poseAt(ms - 1), after = poseAt(ms + 1);
        const Mat3 m0 = orientation(before.angle), m1 = orientation(after.angle);
        Mat3 w{};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                for (int k = 0; k < 3; ++k)
                    w.m[i][j] += m.m[k][i] * (m1.m[k][j] - m0.m[k][j]) / 0.002;
        rate[0] = (w.m[2][1] - w.m[1][2]) / 2 * 180 / Pi;
        rate[1] = (w.m[0][2] - w.m[2][0]) / 2 * 180 / Pi;
        rate[2] = (w.m[1][0] - w.m[0][1]) / 2 * 180 / Pi;
    }

    for (int i = 0; i < 3; ++i) {
        t.accel[i] = clampCount(g[i] + 8.0 * noise(ms, 20 + i));
        t.gyro[i] = clampCount(rate[i] * GyroCountsPerDps + 3.0 * noise(ms, 30 + i));
        const double sensed = softIron[i][0] * b[0] + softIron[i][1] * b[1] + softIron[i][2] * b[2];
        t.mag[i] = clampCount(sensed + hardIron[i] + addedHardIron[i] + 2.0 * noise(ms, 40 + i)
                              - centre[i]);
    }

    if (t.turning) {
        // The user plays with the controls while turning it: buttons one at a time, the
        // trigger pulled in and out, the joystick circling.
        const int64_t tau = ms - floorDiv(ms, CycleMs) * CycleMs - StillMs;
        const int64_t window = tau / 800;
        t.btn = (tau % 800) < 500 ? int8_t(1 << (window % 5)) : 0;
        t.trig = clampByte(-128.0 + 255.0 * (1 - std::cos(2 * Pi * double(tau) / 4000.0)) / 2);
        t.rockX = clampByte(127.0 * std::sin(2 * Pi * double(tau) / 2500.0));
        t.rockY = clampByte(127.0 * std::sin(2 * Pi * double(tau) / 3100.0));
    }
    return t;
}

Protocol::Report VirtualController::encodeReport(Protocol::ReportType type, int64_t ms) const
{
    using namespace Protocol;
    const Truth t = truthAt(ms);
    switch (type) {
    case OrientationReport:
        return Protocol::encodeReport(type, t.angleTenths, Controls{t.btn, t.trig, t.rockX, t.rockY});
    case AccelReport: return Protocol::encodeReport(type, t.accel);
    case GyroReport: return Protocol::encodeReport(type, t.gyro);
    case MagReport: return Protocol::encodeReport(type, t.mag);
    case AckReport: break;
    }
    return encodeAcknowledgement(true);
}
