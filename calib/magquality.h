// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// How good a magnetometer calibration is: figures over every sample of a recording, judged
// against the six values that will be written (the recorded extremes).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The six extremes of a recording as the figures need them, in the order of the six values:
// max x, y, z, then min x, y, z.
struct MagExtremes {
    static constexpr int Count = 6;
    // The extreme's value (what is written), -200..200.
    std::array<int16_t, Count> value{};
    // The extreme was measured: some folded sample reached it, rather than it being the 0 the
    // recording starts from (see MagRecording::measured).
    std::array<bool, Count> measured{};
    // Whether a fold moved the extreme, and the sample folded when one last did.
    std::array<bool, Count> moved{};
    std::array<std::array<int16_t, 3>, Count> setBy{};

    int16_t max(int axis) const { return value[size_t(axis)]; }
    int16_t min(int axis) const { return value[size_t(axis) + 3]; }
};

// A general ellipsoid through the samples, (x - centre)^T M (x - centre) = 1.
struct EllipsoidFit {
    std::array<double, 3> centre{};   // counts
    // Half-axes in counts, each belonging to the column of `axes` with the same index. The
    // columns are matched to the sensor axes they lie nearest (column 0 nearest x, and so on)
    // and point the same way, so `axes` is the rotation closest to no rotation at all.
    std::array<double, 3> radii{};
    std::array<std::array<double, 3>, 3> axes{};   // axes[row][column]
    // The angle of that rotation, degrees: 0 when the ellipsoid's axes are the sensor's. Radii
    // within 2 % of each other count as equal, and any turn between their axes as none: a
    // round field has no tilt.
    double tiltDegrees = 0.0;
};

struct MagQualityFigures {
    int64_t samples = 0;   // every sample fed
    int samplesUsed = 0;   // the ones the figures below are worked out from (MagQuality::Kept)
    double coverage = 0.0; // percentage of the sphere's regions visited (from MagRecording)

    // RMS deviation of the sample lengths from their mean, in % of it, after the six values'
    // correction (per axis: minus the midpoint, divided by half the range). None while an
    // axis has no range.
    std::optional<double> fitError;
    // The same after the best general ellipsoid's correction (centre, radii, tilt). None when
    // the samples fit no ellipsoid (too few, or too flat).
    std::optional<double> fullFitError;
    std::optional<EllipsoidFit> fit;     // that ellipsoid, there exactly when fullFitError is

    double field = 0.0;                  // mean distance of the samples from the midpoint, counts
    std::array<int, 3> ranges{};         // max - min per axis, counts
    std::optional<double> balance;       // smallest range / largest; none while all are 0

    double outlierMads = 0.0;            // the outlier rule's threshold these figures used
    int outliers = 0;                    // used samples that are outlying
    std::array<bool, MagExtremes::Count> setByOutlier{};   // extreme moved last by an outlier
    std::array<bool, MagExtremes::Count> measured{};       // see MagExtremes::measured
};

// Collects the samples of one recording and works out the figures on demand.
//
// Outliers: a sample's radius is its length after the fitted ellipsoid's correction times the
// ellipsoid's mean radius, so in counts; without a fit, its distance from the midpoint of the
// extremes. A sample is outlying when its radius differs from the median radius of the used
// samples by more than `outlierMads` median absolute deviations, the deviation taken as at
// least one count so that the rounding of the counts alone never makes an outlier. The fit is
// preferred because an outlier that set an extreme has moved the midpoint towards itself, and
// measured from there it can lie among the others.
class MagQuality
{
public:
    // Samples kept for the figures. When that many are kept, every second one is dropped and
    // from then on only every second sample is kept (then every fourth, and so on), so the
    // kept ones always spread evenly over the whole recording.
    static constexpr size_t Kept = 1 << 16;
    // The outlier rule's threshold unless the caller asks for another, in median absolute
    // deviations.
    static constexpr double DefaultOutlierMads = 5.0;

    void reset();
    void addSample(const int16_t sample[3]);

    int64_t sampleCount() const { return count; }

    // Every figure but the coverage, which the caller's MagCoverage holds. Costs a pass or
    // two over the kept samples: meant for once a second and at a save.
    MagQualityFigures figures(const MagExtremes &extremes, double outlierMads) const;

    // The best general ellipsoid through `samples`, none when they fit no ellipsoid.
    static std::optional<EllipsoidFit> fitEllipsoid(const std::vector<std::array<int16_t, 3>> &samples);

private:
    std::vector<std::array<int16_t, 3>> kept;
    int64_t count = 0;
    int64_t stride = 1;   // every stride-th sample is kept
};
