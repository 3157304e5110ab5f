// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Protocol {

namespace {

// An acknowledgement's fail pattern ends at byte 8, its success pattern at byte 11.
constexpr size_t FailAckLength = 9;
constexpr size_t SuccessAckLength = 12;

// Tenths of a degree to degrees. C++ remainder truncates towards zero, so -3601 gives -1
// (-0.1 degrees).
inline float angle(int16_t tenths)
{
    return float(tenths % 3600) * 0.1f;
}

// `bytes` holds at least FailAckLength bytes and starts with the marker.
inline ReportAck acknowledgement(const uint8_t *bytes, size_t length)
{
    if (bytes[1] != 0x01 || bytes[2] != 0x01 || bytes[3] != 0x00)
        return ReportAck::None;

    if (length >= SuccessAckLength) {
        bool allZero = true;
        for (size_t i = 4; i <= 11; ++i)
            allZero = allZero && bytes[i] == 0x00;
        if (allZero)
            return ReportAck::Success;
    }
    if (bytes[4] == 0x01 && bytes[5] == 0x00 && bytes[6] == 0x01 && bytes[7] == 0x00
            && bytes[8] == 0x01)
        return ReportAck::Fail;
    return ReportAck::None;
}

void putBigEndian(uint8_t *out, int16_t value)
{
    const uint16_t bits = uint16_t(value);
    out[0] = uint8_t(bits >> 8);
    out[1] = uint8_t(bits & 0xFF);
}

int16_t getBigEndian(const uint8_t *in)
{
    return int16_t(uint16_t((in[0] << 8) | in[1]));
}

uint8_t checksum(const uint8_t *frame)
{
    unsigned sum = 0;
    for (size_t i = 1; i <= 17; ++i)
        sum += frame[i];
    return uint8_t(sum & 0xFF);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

void encodeSignMagnitude(int value, uint8_t out[2])
{
    const int v = std::clamp(value, -32767, 32767);
    const unsigned magnitude = unsigned(v < 0 ? -v : v);
    out[0] = uint8_t(((magnitude >> 8) & 0x7F) | (v < 0 ? 0x80 : 0x00));
    out[1] = uint8_t(magnitude & 0xFF);
}

Report encodeReport(ReportType type, const std::array<int16_t, 3> &values,
                    const Controls &controls)
{
    Report r{};
    r[0] = ReportMarker;
    for (size_t i = 0; i < 3; ++i)
        encodeSignMagnitude(values[i], &r[3 + 2 * i]);
    r[11] = uint8_t(controls.btn);
    r[12] = uint8_t(controls.trig);
    r[13] = uint8_t(controls.rock_y);
    r[14] = uint8_t(controls.rock_x);
    r[16] = type;
    return r;
}

Report encodeAcknowledgement(bool success)
{
    Report r{};
    r[0] = ReportMarker;
    r[1] = 0x01;
    r[2] = 0x01;
    if (!success) {
        r[4] = 0x01;
        r[6] = 0x01;
        r[8] = 0x01;
    }
    r[16] = AckReport;
    return r;
}

ReportResult decodeReport(const uint8_t *bytes, size_t length, ReportState &state)
{
    ReportResult result;
    if (!bytes || length == 0 || bytes[0] != ReportMarker)
        return result;

    if (length >= FailAckLength)
        result.ack = acknowledgement(bytes, length);
    if (length < ReportMinimumLength)
        return result;

    const int16_t a = decodeSignMagnitude(bytes[3], bytes[4]);
    const int16_t b = decodeSignMagnitude(bytes[5], bytes[6]);
    const int16_t c = decodeSignMagnitude(bytes[7], bytes[8]);

    switch (bytes[16]) {
    case OrientationReport:
        state.posSample.angle1 = angle(a);
        state.posSample.angle2 = angle(b);
        state.posSample.angle3 = angle(c);
        state.btn = int8_t(bytes[11]);
        state.trig = int8_t(bytes[12]);
        state.rock_y = int8_t(bytes[13]);
        state.rock_x = int8_t(bytes[14]);
        result.pos = true;
        break;
    case AccelReport:
        state.rawSample.first_x = a;
        state.rawSample.first_y = b;
        state.rawSample.first_z = c;
        break;
    case GyroReport:
        state.rawSample.second_x = a;
        state.rawSample.second_y = b;
        state.rawSample.second_z = c;
        break;
    case MagReport:
        state.rawSample.mag_x = a;
        state.rawSample.mag_y = b;
        state.rawSample.mag_z = c;
        result.raw = true;
        break;
    default:
        break;
    }
    return result;
}

ParamFrame buildParamFrame(const MAG_PARAM &param)
{
    ParamFrame frame{};
    frame[0] = 0x5A;
    frame[1] = 0x04;
    frame[2] = 0x01;
    // Per axis, maximum then minimum: not the field order of MAG_PARAM.
    putBigEndian(&frame[3], param.max_x);
    putBigEndian(&frame[5], param.min_x);
    putBigEndian(&frame[7], param.max_y);
    putBigEndian(&frame[9], param.min_y);
    putBigEndian(&frame[11], param.max_z);
    putBigEndian(&frame[13], param.min_z);
    frame[18] = checksum(frame.data());
    frame[19] = 0xA5;
    return frame;
}

bool parseParamFrame(const uint8_t *bytes, size_t length, MAG_PARAM *param)
{
    if (!bytes || length != ParamFrameLength)
        return false;
    if (bytes[0] != 0x5A || bytes[1] != 0x04 || bytes[2] != 0x01 || bytes[19] != 0xA5
        || bytes[18] != checksum(bytes))
        return false;
    if (param) {
        param->max_x = getBigEndian(&bytes[3]);
        param->min_x = getBigEndian(&bytes[5]);
        param->max_y = getBigEndian(&bytes[7]);
        param->min_y = getBigEndian(&bytes[9]);
        param->max_z = getBigEndian(&bytes[11]);
        param->min_z = getBigEndian(&bytes[13]);
    }
    return true;
}

void formatAddressText(const BleAddress &address, char text[AddressTextLength + 1])
{
    std::snprintf(text, AddressTextLength + 1, "%02X%02X%02X%02X%02X%02X",
                  unsigned(address.nap >> 8) & 0xFFu, unsigned(address.nap) & 0xFFu,
                  unsigned(address.uap),
                  unsigned(address.lap >> 16) & 0xFFu, unsigned(address.lap >> 8) & 0xFFu,
                  unsigned(address.lap) & 0xFFu);
}

bool parseAddressText(const char *text, BleAddress *address)
{
    if (!text || !address)
        return false;
    uint64_t value = 0;
    for (size_t i = 0; i < AddressTextLength; ++i) {
        // A NUL before the twelfth digit is not a hex digit, so the loop stops on it.
        const int digit = hexDigit(text[i]);
        if (digit < 0)
            return false;
        value = (value << 4) | uint64_t(digit);
    }
    if (text[AddressTextLength] != '\0')
        return false;

    BleAddress parsed{};
    parsed.nap = uint16_t(value >> 32);
    parsed.uap = uint8_t(value >> 24);
    parsed.lap = uint32_t(value & 0xFFFFFFu);
    *address = parsed;
    return true;
}

} // namespace Protocol

size_t Protocol::keptNameLength(const char *name, size_t length)
{
    if (!name)
        return 0;
    size_t kept = length == SIZE_MAX ? strnlen(name, LongestName + 1) : length;
    if (kept <= LongestName)
        return kept;
    kept = LongestName;
    // A continuation byte (10xxxxxx) just past the cut means the cut splits a character.
    while (kept > 0 && (uint8_t(name[kept]) & 0xC0) == 0x80)
        --kept;
    return kept;
}
