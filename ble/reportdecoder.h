// Decoding of the controller's report notifications. Plain functions, no allocation: they
// run once per notification on the worker's hot path.
#pragma once

#include "imutypes.h"

#include <cstddef>
#include <cstdint>

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

constexpr uint8_t ReportMarker = 0x55;
constexpr size_t ReportMinimumLength = 17;   // bytes 0..16, the type in the last one
constexpr size_t AckMinimumLength = 12;      // bytes 0..11

// High byte first; bit 7 of the high byte is the sign, the other 15 bits the magnitude.
int16_t signMagnitude16(uint8_t high, uint8_t low);

// Tenths of a degree to degrees, folded into -359.9..359.9 with the sign kept.
float reportAngle(int16_t tenths);

// The acknowledgement a parameter write gets back, if these bytes are one.
ReportAck reportAcknowledgement(const uint8_t *bytes, size_t length);

// Decodes one notification into `state`. Bytes past `length` are never read: a notification
// too short for a field is not decoded from whatever an earlier one left behind.
ReportResult decodeReport(const uint8_t *bytes, size_t length, ReportState &state);
