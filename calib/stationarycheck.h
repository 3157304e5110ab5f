// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The stationary check: how far the three orientation angles move over 1001 samples, how
// the progress is shown, and the limits the mean movement must stay under.
#pragma once

#include "imutypes.h"

#include <QString>

namespace StationaryCheck {

// Index of the last sample; a check takes samples 0..LastSample.
constexpr int LastSample = 1000;

// How far one angle turned between two samples, in degrees, 0..180. Angles are headings on
// a circle, so a step across the seam (359.9 -> 0.0) counts as the short way round (0.1).
float angleChange(float previous, float current);

// Adds the change of angle1, angle2 and angle3 between two samples to the matching sums.
void accumulate(double sum[3], const IMU_POS &previous, const IMU_POS &current);

// Width of the progress bar (0..655) and the percentage (0..100) at a sample index.
int progressWidth(int checkCount);
int percent(int checkCount);

// The rich text of the percentage label.
QString percentRichText(int checkCount);

// The mean change per sample, in degrees, that each angle must stay under for the check to
// pass. A station may set its own (a limits file); these are the defaults.
struct Limits {
    double angle1 = 1.0;
    double angle2 = 0.1;
    double angle3 = 0.6;
};

// True when the mean change per sample of each angle stays under its limit; a sum that is
// not a number fails.
bool passed(const double sum[3], const Limits &limits);

} // namespace StationaryCheck
