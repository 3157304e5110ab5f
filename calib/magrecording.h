// A magnetometer calibration being recorded without a window: the extremes, folded in from
// the latest sample at each tick as the window does once a second, and the coverage that
// every sample adds to.
#pragma once

#include "imutypes.h"
#include "magcoverage.h"

#include <cstdint>

class MagRecording
{
public:
    // A new recording: all six extremes 0, no coverage.
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

private:
    int16_t magMax[3] = {0, 0, 0};
    int16_t magMin[3] = {0, 0, 0};
    MagCoverage cover;
};
