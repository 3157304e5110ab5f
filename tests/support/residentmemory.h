// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Resident memory of this process, in bytes (0 when it cannot be read).
#pragma once

#include <QtGlobal>

qint64 residentBytes();
