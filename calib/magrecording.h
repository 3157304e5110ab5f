// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// A magnetometer calibration being recorded without a window: the extremes, folded in from
// the latest sample at each tick as the window does once a second, the coverage that every
// sample adds to, and the quality figures over every sample.
#pragma once

#include "imutypes.h"
#include "magcoverage.h"
#include "magquality.h"

#include <cstdint>

class MagRecording
{
public:
    // A new recording: all six extremes 0, no coverage, no samples.
    void start();

    // Every magnetometer sample while recording.
    void addSample(const int16_t sample[3]);

    // Folds `latest` into the extremes (within the limits) and centres the coverage on their
    // midpoint. True when an extreme moved.
    bool tick(const int16_t latest[3]);

    const int16_t *max() const { return magMax; }
    const int16_t *min() const { return magMin; }
    MAG_PARAM values() const;
    // Percentage of the sphere's regions the samples point into.
    double coverage() const { return cover.percent(); }
    // The regions themselves, for a map of them.
    const MagCoverage &coverageMap() const { return cover; }
    int64_t sampleCount() const { return quality.sampleCount(); }

    // Whether extreme `which` (0..5: max x, y, z, then min x, y, z) is a measured value rather
    // than the 0 the recording starts from: it is not 0, or a tick folded a sample whose value
    // on that axis was exactly 0. A tick before the recording's first sample folds what the
    // caller last had, which may be its initial zeros: a 0 from such a tick counts for nothing.
    bool measured(int which) const;

    // The extremes as the quality figures judge them, with the sample that last moved each.
    MagExtremes extremes() const;

    // Every quality figure of the recording so far against its present extremes, outliers by
    // `outlierMads` (see MagQuality). A pass or two over the samples: at most once a second
    // and at a save.
    MagQualityFigures figures(double outlierMads = MagQuality::DefaultOutlierMads) const;

private:
    int16_t magMax[3] = {0, 0, 0};
    int16_t magMin[3] = {0, 0, 0};
    bool zeroFolded[MagExtremes::Count] = {};
    bool moved[MagExtremes::Count] = {};
    int16_t setBy[MagExtremes::Count][3] = {};
    MagCoverage cover;
    MagQuality quality;
};
