// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "magrecording.h"

#include "magcalibration.h"

#include <algorithm>

void MagRecording::start()
{
    for (int axis = 0; axis < 3; ++axis)
        magMax[axis] = magMin[axis] = 0;
    std::fill(std::begin(zeroFolded), std::end(zeroFolded), false);
    std::fill(std::begin(moved), std::end(moved), false);
    cover.reset();
    quality.reset();
}

void MagRecording::addSample(const int16_t sample[3])
{
    cover.addSample(sample);
    quality.addSample(sample);
}

bool MagRecording::tick(const int16_t latest[3])
{
    // The extremes this sample goes beyond: the same comparisons as the fold below.
    bool beyond[MagExtremes::Count];
    for (int axis = 0; axis < 3; ++axis) {
        beyond[axis] = latest[axis] > magMax[axis];
        beyond[axis + 3] = latest[axis] < magMin[axis];
        if (latest[axis] == 0 && quality.sampleCount() > 0)
            zeroFolded[axis] = zeroFolded[axis + 3] = true;
    }
    if (!MagCalibration::updateExtremes(magMax, magMin, latest))
        return false;
    for (int e = 0; e < MagExtremes::Count; ++e) {
        if (!beyond[e])
            continue;
        moved[e] = true;
        std::copy(latest, latest + 3, setBy[e]);
    }
    cover.setCentre(magMax, magMin);
    return true;
}

MAG_PARAM MagRecording::values() const
{
    return MAG_PARAM{magMax[0], magMax[1], magMax[2], magMin[0], magMin[1], magMin[2]};
}

bool MagRecording::measured(int which) const
{
    if (which < 0 || which >= MagExtremes::Count)
        return false;
    const int16_t value = which < 3 ? magMax[which] : magMin[which - 3];
    return value != 0 || zeroFolded[which];
}

MagExtremes MagRecording::extremes() const
{
    MagExtremes e;
    for (int i = 0; i < MagExtremes::Count; ++i) {
        e.value[size_t(i)] = i < 3 ? magMax[i] : magMin[i - 3];
        e.measured[size_t(i)] = measured(i);
        e.moved[size_t(i)] = moved[i];
        std::copy(setBy[i], setBy[i] + 3, e.setBy[size_t(i)].begin());
    }
    return e;
}

MagQualityFigures MagRecording::figures(double outlierMads) const
{
    MagQualityFigures f = quality.figures(extremes(), outlierMads);
    f.coverage = coverage();
    return f;
}
