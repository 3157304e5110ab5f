// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// A calibration recorded again from a capture file, with no controller. The capture holds
// every magnetometer sample and each calibration start and tick in the order they came, so
// the same recording code makes the same six values and the same figures as the live run.
#pragma once

#include "calibrationgate.h"
#include "magrecording.h"

#include <QString>

class QIODevice;

struct Refit {
    MagRecording recording;     // the last calibration of the capture
    MagQualityFigures figures;
    GateVerdict verdict;
    int ticks = 0;
};

// Replays `capture`. False, with the line that could not be read in `error`, for a capture
// that is not one (a line that is no JSON object of a known type, or has no calibration).
bool refitCapture(QIODevice &capture, const GateLimits &limits, Refit *result, QString *error);
