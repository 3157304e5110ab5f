// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Magnetometer calibration: the per-axis extremes, their limits, and how the range bars
// and labels of the calibration page show them.
#pragma once

#include <QRect>
#include <QString>

#include <cstdint>

namespace MagCalibration {

constexpr int16_t Limit = 200;

// Folds one sample (x, y, z) into the recorded extremes. Returns true when at least one
// extreme moved; only then are the extremes clamped to -Limit..Limit and the page redrawn.
bool updateExtremes(int16_t max[3], int16_t min[3], const int16_t sample[3]);

// The bar of one axis (0 x, 1 y, 2 z): 130 pixels per Limit units, zero line at y 210.
QRect barRect(int axis, int16_t max, int16_t min);

// Style sheets the page gives its extreme labels and its live-value labels after a change.
QString extremeStyleSheet();
QString valueStyleSheet();

} // namespace MagCalibration
