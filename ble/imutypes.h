// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Records that travel from the BLE worker to the window and from the window to the worker.
#pragma once

#include <QMetaType>
#include <cstdint>

// Raw sensor counts, filled piecewise by report types 2, 3 and 4.
struct IMU_RAW {
    int16_t first_x = 0;
    int16_t first_y = 0;
    int16_t first_z = 0;
    int16_t second_x = 0;
    int16_t second_y = 0;
    int16_t second_z = 0;
    int16_t mag_x = 0;
    int16_t mag_y = 0;
    int16_t mag_z = 0;
};

// Orientation in degrees, from a type-0 report.
struct IMU_POS {
    float angle1 = 0.0f;
    float angle2 = 0.0f;
    float angle3 = 0.0f;
};

// Magnetometer calibration: per-axis extremes, written to the controller as one frame.
struct MAG_PARAM {
    int16_t max_x = 0;
    int16_t max_y = 0;
    int16_t max_z = 0;
    int16_t min_x = 0;
    int16_t min_y = 0;
    int16_t min_z = 0;
};

// Known to Qt's meta-type system; BtThread registers them for its queued signals.
Q_DECLARE_METATYPE(IMU_RAW)
Q_DECLARE_METATYPE(IMU_POS)
