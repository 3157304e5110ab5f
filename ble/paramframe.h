// The 20-byte frame that carries the magnetometer calibration to the controller.
#pragma once

#include "imutypes.h"

#include <array>
#include <cstddef>
#include <cstdint>

constexpr size_t ParamFrameSize = 20;
using ParamFrame = std::array<uint8_t, ParamFrameSize>;

// 5A 04 01, then max/min per axis (x, y, z) as big-endian two's complement, three zero
// bytes, the low byte of the sum of bytes 1..17, and A5.
ParamFrame buildParamFrame(const MAG_PARAM &param);

// The controller's side: true when `bytes` is exactly one frame with a valid start, end and
// checksum; `param` is then filled from it.
bool parseParamFrame(const uint8_t *bytes, size_t length, MAG_PARAM *param);
