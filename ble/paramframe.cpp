#include "paramframe.h"

namespace {

void putValue(ParamFrame &frame, size_t offset, int16_t value)
{
    const uint16_t bits = uint16_t(value);
    frame[offset] = uint8_t(bits >> 8);
    frame[offset + 1] = uint8_t(bits & 0xFF);
}

int16_t getValue(const uint8_t *bytes, size_t offset)
{
    return int16_t(uint16_t((bytes[offset] << 8) | bytes[offset + 1]));
}

uint8_t checksum(const uint8_t *bytes)
{
    unsigned sum = 0;
    for (size_t i = 1; i <= 17; ++i)
        sum += bytes[i];
    return uint8_t(sum & 0xFF);
}

} // namespace

ParamFrame buildParamFrame(const MAG_PARAM &param)
{
    ParamFrame frame{};
    frame[0] = 0x5A;
    frame[1] = 0x04;
    frame[2] = 0x01;
    // Per axis, maximum then minimum: not the field order of MAG_PARAM.
    putValue(frame, 3, param.max_x);
    putValue(frame, 5, param.min_x);
    putValue(frame, 7, param.max_y);
    putValue(frame, 9, param.min_y);
    putValue(frame, 11, param.max_z);
    putValue(frame, 13, param.min_z);
    frame[18] = checksum(frame.data());
    frame[19] = 0xA5;
    return frame;
}

bool parseParamFrame(const uint8_t *bytes, size_t length, MAG_PARAM *param)
{
    if (!bytes || length != ParamFrameSize)
        return false;
    if (bytes[0] != 0x5A || bytes[1] != 0x04 || bytes[2] != 0x01 || bytes[19] != 0xA5
        || bytes[18] != checksum(bytes))
        return false;
    if (param) {
        param->max_x = getValue(bytes, 3);
        param->min_x = getValue(bytes, 5);
        param->max_y = getValue(bytes, 7);
        param->min_y = getValue(bytes, 9);
        param->max_z = getValue(bytes, 11);
        param->min_z = getValue(bytes, 13);
    }
    return true;
}
