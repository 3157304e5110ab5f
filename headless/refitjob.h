// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// --refit: a capture replayed with no controller. Prints the calibration it held, its
// figures, the gate's verdict (each failed rule on standard error) and the full ellipsoid
// fit; returns 0 when the calibration passes the gate, 1 when not, 2 when the file cannot be
// read as a capture.
#pragma once

struct ToolOptions;
class JobOutput;

int runRefit(const ToolOptions &options, const JobOutput &output);
