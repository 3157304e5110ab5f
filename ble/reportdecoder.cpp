#include "reportdecoder.h"

// The library is built position-independent, where the compiler may not inline one exported
// function into another. The decode step runs for every notification, so the field helpers
// live here as internal functions that inline into it, and the exported ones forward.
namespace {

inline int16_t signMagnitude(uint8_t high, uint8_t low)
{
    const int magnitude = ((high & 0x7F) << 8) | low;
    return int16_t((high & 0x80) ? -magnitude : magnitude);
}

inline float angle(int16_t tenths)
{
    // C++ remainder truncates towards zero, so -3601 gives -1 (-0.1 degrees).
    return float(tenths % 3600) * 0.1f;
}

// `bytes` holds at least AckMinimumLength bytes and starts with the marker.
inline ReportAck acknowledgement(const uint8_t *bytes)
{
    if (bytes[1] != 0x01 || bytes[2] != 0x01 || bytes[3] != 0x00)
        return ReportAck::None;

    bool allZero = true;
    for (size_t i = 4; i <= 11; ++i)
        allZero = allZero && bytes[i] == 0x00;
    if (allZero)
        return ReportAck::Success;
    if (bytes[4] == 0x01 && bytes[5] == 0x00 && bytes[6] == 0x01 && bytes[7] == 0x00
            && bytes[8] == 0x01)
        return ReportAck::Fail;
    return ReportAck::None;
}

} // namespace

int16_t signMagnitude16(uint8_t high, uint8_t low)
{
    return signMagnitude(high, low);
}

float reportAngle(int16_t tenths)
{
    return angle(tenths);
}

ReportAck reportAcknowledgement(const uint8_t *bytes, size_t length)
{
    if (!bytes || length < AckMinimumLength || bytes[0] != ReportMarker)
        return ReportAck::None;
    return acknowledgement(bytes);
}

ReportResult decodeReport(const uint8_t *bytes, size_t length, ReportState &state)
{
    ReportResult result;
    if (!bytes || length == 0 || bytes[0] != ReportMarker)
        return result;

    if (length >= AckMinimumLength)
        result.ack = acknowledgement(bytes);
    if (length < ReportMinimumLength)
        return result;

    const int16_t a = signMagnitude(bytes[3], bytes[4]);
    const int16_t b = signMagnitude(bytes[5], bytes[6]);
    const int16_t c = signMagnitude(bytes[7], bytes[8]);

    switch (bytes[16]) {
    case 0:
        state.posSample.angle1 = angle(a);
        state.posSample.angle2 = angle(b);
        state.posSample.angle3 = angle(c);
        state.btn = int8_t(bytes[11]);
        state.trig = int8_t(bytes[12]);
        state.rock_y = int8_t(bytes[13]);
        state.rock_x = int8_t(bytes[14]);
        result.pos = true;
        break;
    case 2:
        state.rawSample.first_x = a;
        state.rawSample.first_y = b;
        state.rawSample.first_z = c;
        break;
    case 3:
        state.rawSample.second_x = a;
        state.rawSample.second_y = b;
        state.rawSample.second_z = c;
        break;
    case 4:
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
