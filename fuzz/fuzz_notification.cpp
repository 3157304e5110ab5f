// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// One notification of any length and content through the decoder the worker runs on every
// event 266. libFuzzer hands over a buffer of exactly `size` bytes, so any read past the
// notification is an ASan report. Beyond not crashing, the decoded record must follow the
// report layout: what is not a report changes nothing, and a report changes only the fields
// its type owns.
#include "fuzzcheck.h"
#include "protocol.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

using namespace Protocol;

namespace {

// Values no report can leave behind in this combination, so an untouched field is visible.
ReportState sentinelState()
{
    ReportState s;
    s.rawSample = IMU_RAW{11, 12, 13, 21, 22, 23, 31, 32, 33};
    s.posSample = IMU_POS{1000.0f, -1000.0f, 500.0f};
    s.btn = 300;
    s.trig = -300;
    s.rock_x = 400;
    s.rock_y = -400;
    return s;
}

bool sameRaw(const IMU_RAW &a, const IMU_RAW &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool samePos(const IMU_POS &a, const IMU_POS &b)
{
    // Bit for bit on purpose: a NaN angle must equal itself. IMU_POS is three floats with no
    // padding.
    return std::memcmp(&a, &b, sizeof a) == 0; // NOLINT(bugprone-suspicious-memory-comparison)
}

bool sameControls(const ReportState &a, const ReportState &b)
{
    return a.btn == b.btn && a.trig == b.trig && a.rock_x == b.rock_x && a.rock_y == b.rock_y;
}

// Field by field: the record has padding, which a copy need not keep.
bool sameState(const ReportState &a, const ReportState &b)
{
    return sameRaw(a.rawSample, b.rawSample) && samePos(a.posSample, b.posSample)
            && sameControls(a, b);
}

int signMagnitude(const uint8_t *p)
{
    const int magnitude = ((p[0] & 0x7F) << 8) | p[1];
    return (p[0] & 0x80) ? -magnitude : magnitude;
}

void checkAngle(float angle, const uint8_t *pair)
{
    FUZZ_CHECK(std::isfinite(angle));
    FUZZ_CHECK(angle > -360.0f && angle < 360.0f);
    const int tenths = signMagnitude(pair) % 3600;   // truncating, sign of the value kept
    FUZZ_CHECK(std::fabs(angle - float(tenths) * 0.1f) < 1e-3f);
}

void checkTriple(int16_t x, int16_t y, int16_t z, const uint8_t *d)
{
    FUZZ_CHECK(x == signMagnitude(d + 3));
    FUZZ_CHECK(y == signMagnitude(d + 5));
    FUZZ_CHECK(z == signMagnitude(d + 7));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ReportState before = sentinelState();
    ReportState state = before;
    const ReportResult result = decodeReport(data, size, state);

    if (size == 0 || data[0] != ReportMarker) {
        FUZZ_CHECK(result.ack == ReportAck::None && !result.pos && !result.raw);
        FUZZ_CHECK(sameState(state, before));
        return 0;
    }

    // Acknowledgement: 55 01 01 00, then eight zeros (success) or 01 00 01 00 01 (fail).
    // The fail pattern ends at byte 8, the success pattern at byte 11.
    if (size < 9) {
        FUZZ_CHECK(result.ack == ReportAck::None);
    } else {
        const bool head = data[1] == 0x01 && data[2] == 0x01 && data[3] == 0x00;
        bool zeros = size >= 12;
        for (size_t i = 4; zeros && i <= 11; ++i)
            zeros = zeros && data[i] == 0;
        const bool failPattern = data[4] == 1 && data[5] == 0 && data[6] == 1 && data[7] == 0
                && data[8] == 1;
        const ReportAck expected = !head ? ReportAck::None
                : zeros ? ReportAck::Success : failPattern ? ReportAck::Fail : ReportAck::None;
        FUZZ_CHECK(result.ack == expected);
    }

    // The worker keeps 1024 bytes of a notification; bytes past the type never matter.
    if (size > 17) {
        ReportState cut = before;
        const ReportResult shorter = decodeReport(data, 17, cut);
        FUZZ_CHECK(shorter.pos == result.pos && shorter.raw == result.raw);
        FUZZ_CHECK(sameState(cut, state));
    }

    if (size < ReportMinimumLength) {
        // Too short to carry a type: nothing is decoded from it.
        FUZZ_CHECK(!result.pos && !result.raw);
        FUZZ_CHECK(sameState(state, before));
        return 0;
    }

    const uint8_t type = data[16];
    FUZZ_CHECK(result.pos == (type == 0));
    FUZZ_CHECK(result.raw == (type == 4));
    switch (type) {
    case 0:
        checkAngle(state.posSample.angle1, data + 3);
        checkAngle(state.posSample.angle2, data + 5);
        checkAngle(state.posSample.angle3, data + 7);
        FUZZ_CHECK(state.btn == int8_t(data[11]) && state.trig == int8_t(data[12]));
        FUZZ_CHECK(state.rock_y == int8_t(data[13]) && state.rock_x == int8_t(data[14]));
        FUZZ_CHECK(sameRaw(state.rawSample, before.rawSample));
        break;
    case 2:
    case 3:
    case 4: {
        IMU_RAW expected = before.rawSample;
        const IMU_RAW &got = state.rawSample;
        if (type == 2) {
            checkTriple(got.first_x, got.first_y, got.first_z, data);
            expected.first_x = got.first_x; expected.first_y = got.first_y; expected.first_z = got.first_z;
        } else if (type == 3) {
            checkTriple(got.second_x, got.second_y, got.second_z, data);
            expected.second_x = got.second_x; expected.second_y = got.second_y; expected.second_z = got.second_z;
        } else {
            checkTriple(got.mag_x, got.mag_y, got.mag_z, data);
            expected.mag_x = got.mag_x; expected.mag_y = got.mag_y; expected.mag_z = got.mag_z;
        }
        FUZZ_CHECK(sameRaw(got, expected));
        FUZZ_CHECK(samePos(state.posSample, before.posSample) && sameControls(state, before));
        break;
    }
    default:
        FUZZ_CHECK(sameState(state, before));
        break;
    }
    return 0;
}
