// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Whether a magnetometer calibration is good enough to write: its quality figures against
// limits a station may change, with a reason a production engineer can act on for each rule
// it fails; and the JSON form of all of it for the record lines.
#pragma once

#include "magquality.h"

#include <QJsonObject>
#include <QStringList>

struct GateLimits {
    double minCoverage = 85.0;   // % of the sphere's regions
    double maxFitError = 5.0;    // % (MagQualityFigures::fitError)
    int minAxisRange = 40;       // counts, max - min on every axis
    double outlierMads = MagQuality::DefaultOutlierMads;   // the outlier rule's threshold
};

struct GateVerdict {
    bool passed = false;
    QStringList reasons;   // one per failed rule, in the order of the rules; empty when passed
};

// A recording passes when it has a sample, its coverage is at least minCoverage, its fit error
// at most maxFitError, no extreme was set by an outlying sample, every axis's range is at
// least minAxisRange, and every extreme was measured (each axis read zero or beyond it both
// ways). Without samples the one reason says so. `figures` are those worked out with
// limits.outlierMads; limits that are not numbers, or a threshold not above 0, fail.
GateVerdict judgeCalibration(const MagQualityFigures &figures, const GateLimits &limits);

// "max_x" .. "min_z": the six values' names, in their order.
QString extremeName(int which);

// The JSON forms: every figure; the limits; and for a record line the three together as
// {"quality": figures, "limits": limits, "passed": bool, "reasons": [text, ...]}. A figure
// that does not exist (a fit error while an axis has no range, a fit the samples do not make)
// is null.
QJsonObject figuresJson(const MagQualityFigures &figures);
QJsonObject limitsJson(const GateLimits &limits);
QJsonObject gateJson(const MagQualityFigures &figures, const GateLimits &limits, const GateVerdict &verdict);
