// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The controller's wire format, in one place: its service, its report notifications, the
// acknowledgement of a parameter write, the parameter frame, and the address texts that name
// controllers. Every encoder here has its decoder beside it; both sides of the host layer
// (the worker, and the virtual controller that answers it) use the same pair.
#pragma once

#include "hostlayer.h"
#include "imutypes.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace Protocol {

// The controller's own GATT service (16-bit UUID). Its first characteristic notifies the
// reports, its second takes the parameter frame.
constexpr uint16_t ServiceUuid = 0xFAEA;

// ---------------------------------------------------------------------------------------
// Values: sign-magnitude 16, high byte first; bit 7 of the high byte is the sign, the other
// 15 bits the magnitude. -32767..32767; 0x80 0x00 is 0.
// ---------------------------------------------------------------------------------------

constexpr int16_t decodeSignMagnitude(uint8_t high, uint8_t low)
{
    const int magnitude = ((high & 0x7F) << 8) | low;
    return int16_t((high & 0x80) ? -magnitude : magnitude);
}

// Values outside -32767..32767 are clamped to it.
void encodeSignMagnitude(int value, uint8_t out[2]);

// ---------------------------------------------------------------------------------------
// Reports: the controller's notifications. Byte 0 is the marker, bytes 3..8 carry three
// values, bytes 11..14 the controls of an orientation report, byte 16 the type.
// ---------------------------------------------------------------------------------------

constexpr uint8_t ReportMarker = 0x55;
constexpr size_t ReportLength = 20;          // what the controller sends
constexpr size_t ReportMinimumLength = 17;   // bytes 0..16, the type in the last one

enum ReportType : uint8_t {
    OrientationReport = 0,  // angles in tenths of a degree, and the controls
    AckReport = 1,          // no data type, so an acknowledgement decodes as nothing else
    AccelReport = 2,
    GyroReport = 3,
    MagReport = 4,
};

using Report = std::array<uint8_t, ReportLength>;

// The controls of an orientation report, each a signed byte.
struct Controls {
    int8_t btn = 0;
    int8_t trig = 0;
    int8_t rock_x = 0;
    int8_t rock_y = 0;
};

// `values` go to bytes 3..8, `controls` to bytes 11..14 (btn, trig, rock_y, rock_x).
Report encodeReport(ReportType type, const std::array<int16_t, 3> &values,
                    const Controls &controls = Controls{});

// The controller's answer to a parameter frame: 55 01 01 00, then eight zeros for success or
// 01 00 01 00 01 for failure.
Report encodeAcknowledgement(bool success);

// What the latest reports said. Raw values are assembled from report types 2, 3 and 4;
// orientation and controls come from type 0.
struct ReportState {
    IMU_RAW rawSample;
    IMU_POS posSample;
    int16_t btn = 0;
    int16_t rock_x = 0;
    int16_t rock_y = 0;
    int16_t trig = 0;
};

enum class ReportAck { None, Success, Fail };

// What one notification asks the worker to emit, in this order: the acknowledgement, then
// orientation followed by controls, or the raw record.
struct ReportResult {
    ReportAck ack = ReportAck::None;
    bool pos = false;   // posSender, then btnSender
    bool raw = false;   // rawSender
};

// Decodes one notification into `state`: angles become degrees folded into -359.9..359.9
// with their sign kept. No allocation; it runs once per notification on the worker's hot
// path. Bytes past `length` are never read: a notification too short for a field is not
// decoded from whatever an earlier one left behind.
ReportResult decodeReport(const uint8_t *bytes, size_t length, ReportState &state);

// ---------------------------------------------------------------------------------------
// The parameter frame that carries the magnetometer calibration to the controller.
// ---------------------------------------------------------------------------------------

constexpr size_t ParamFrameLength = 20;
using ParamFrame = std::array<uint8_t, ParamFrameLength>;

// 5A 04 01, then max/min per axis (x, y, z) as big-endian two's complement, three zero
// bytes, the low byte of the sum of bytes 1..17, and A5.
ParamFrame buildParamFrame(const MAG_PARAM &param);

// The controller's side: true when `bytes` is exactly one frame with a valid start, end and
// checksum; `param`, if given, is then filled from it.
bool parseParamFrame(const uint8_t *bytes, size_t length, MAG_PARAM *param);

// ---------------------------------------------------------------------------------------
// Address texts: a controller's 48-bit address as the text that keys the device lists.
// ---------------------------------------------------------------------------------------

constexpr size_t AddressTextLength = 12;

// Twelve capital hex digits, most significant byte first (nap high, nap low, uap, then the
// three low bytes of lap), and a terminating NUL. `kind` is not part of the text.
void formatAddressText(const BleAddress &address, char text[AddressTextLength + 1]);

// The reverse: `text` must be exactly twelve hex digits followed by its NUL (either case is
// accepted). Anything else returns false and leaves `address` untouched. Reads no further
// than the text's NUL.
bool parseAddressText(const char *text, BleAddress *address);

// --- Device names ------------------------------------------------------------------------
// The longest name an advertisement can carry, in bytes.
constexpr size_t LongestName = 248;
// How many bytes of the UTF-8 `name` (`length` of them, or up to its NUL when length is
// SIZE_MAX) are kept: at most LongestName, and never ending inside a character.
size_t keptNameLength(const char *name, size_t length = SIZE_MAX);

} // namespace Protocol
