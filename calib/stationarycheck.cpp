// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "stationarycheck.h"

#include <cmath>

namespace StationaryCheck {

namespace {
constexpr int ProgressFullWidth = 655;
} // namespace

float angleChange(float previous, float current)
{
    float change = std::fmod(std::fabs(current - previous), 360.0f);
    if (change > 180.0f)
        change = 360.0f - change;
    return change;   // NaN stays NaN, so a broken sample fails the check
}

void accumulate(double sum[3], const IMU_POS &previous, const IMU_POS &current)
{
    sum[0] += angleChange(previous.angle1, current.angle1);
    sum[1] += angleChange(previous.angle2, current.angle2);
    sum[2] += angleChange(previous.angle3, current.angle3);
}

int progressWidth(int checkCount)
{
    return (checkCount * ProgressFullWidth) / LastSample;
}

int percent(int checkCount)
{
    return (checkCount * 100) / LastSample;
}

QString percentRichText(int checkCount)
{
    return QStringLiteral("<html><head/><body><p><span style=\" color:#d4d4d4;\">")
           + QString::number(percent(checkCount))
           + QStringLiteral("%</span></p></body></html>");
}

bool passed(const double sum[3], const Limits &limits)
{
    const double limit[3] = {limits.angle1, limits.angle2, limits.angle3};
    for (int i = 0; i < 3; ++i) {
        // Written as "not below" so that NaN fails as well.
        if (!(std::fabs(sum[i]) / LastSample < limit[i]))
            return false;
    }
    return true;
}

} // namespace StationaryCheck
