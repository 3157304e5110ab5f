// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "magcalibration.h"

namespace MagCalibration {

namespace {
constexpr int ZeroLine = 210;
constexpr int HalfBar = 130;   // pixels from the zero line to either limit
constexpr int BarWidth = 80;
constexpr int BarLeft[3] = {80, 330, 580};

QString labelStyleSheet(const char *colour, int tabs)
{
    return QStringLiteral("QLabel{color:") + QLatin1String(colour)
           + QStringLiteral(";background-color:rgba(255, 255, 255, 0);border-style: solid;"
                            "border-width: 0px;")
           + QString(tabs, QLatin1Char('\t'))
           + QStringLiteral(" border-color: rgba(255, 255, 255, 0);/*border-radius: 1px;"
                            "font: bold 4px;min-width: 10em;padding: 2px;*/}");
}
} // namespace

bool updateExtremes(int16_t max[3], int16_t min[3], const int16_t sample[3])
{
    bool changed = false;
    for (int axis = 0; axis < 3; ++axis) {
        if (sample[axis] > max[axis]) {
            max[axis] = sample[axis];
            changed = true;
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (sample[axis] < min[axis]) {
            min[axis] = sample[axis];
            changed = true;
        }
    }
    if (!changed)
        return false;

    for (int axis = 0; axis < 3; ++axis) {
        if (max[axis] > Limit)
            max[axis] = Limit;
        if (min[axis] < -Limit)
            min[axis] = -Limit;
    }
    return true;
}

QRect barRect(int axis, int16_t max, int16_t min)
{
    const int top = ZeroLine - (int32_t(max) * HalfBar) / Limit;
    const int height = ((int32_t(max) - int32_t(min)) * HalfBar) / Limit;
    return QRect(BarLeft[axis], top, BarWidth, height);
}

QString extremeStyleSheet()
{
    return labelStyleSheet("#d4d4d4", 9);
}

QString valueStyleSheet()
{
    return labelStyleSheet("#7d7d7d", 10);
}

} // namespace MagCalibration
