// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "magquality.h"

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;
// Radii closer than this share of the larger are taken as equal (see describe).
constexpr double EqualRadii = 0.02;

using Sample = std::array<int16_t, 3>;

Eigen::Vector3d vec(const Sample &s)
{
    return Eigen::Vector3d(s[0], s[1], s[2]);
}

// An ellipsoid in counts: (x - centre)^T m (x - centre) = 1, m positive definite.
struct Quadric {
    Eigen::Vector3d centre;
    Eigen::Matrix3d m;

    double length(const Eigen::Vector3d &x) const
    {
        const Eigen::Vector3d d = x - centre;
        return std::sqrt(std::max(0.0, d.dot(m * d)));
    }
};

// Least squares over the quadric  u^T A u + 2 b^T u = 1  in coordinates u centred on the
// samples' mean and scaled by their spread, so that the normal equations stay well
// conditioned whatever the offset and the field. The form has no constant term, which is
// sound because the origin of u, the mean, lies inside any ellipsoid the samples go round.
std::optional<Quadric> fitQuadric(const std::vector<Sample> &samples)
{
    constexpr int Unknowns = 9;
    if (samples.size() <= size_t(Unknowns))
        return std::nullopt;

    Eigen::Vector3d mean = Eigen::Vector3d::Zero();
    for (const Sample &s : samples)
        mean += vec(s);
    mean /= double(samples.size());
    double spread = 0.0;
    for (const Sample &s : samples)
        spread += (vec(s) - mean).squaredNorm();
    spread = std::sqrt(spread / double(samples.size()));
    if (!(spread > 0.0))
        return std::nullopt;

    using Row = Eigen::Matrix<double, Unknowns, 1>;
    Eigen::Matrix<double, Unknowns, Unknowns> normal = Eigen::Matrix<double, Unknowns, Unknowns>::Zero();
    Row rhs = Row::Zero();
    for (const Sample &s : samples) {
        const Eigen::Vector3d u = (vec(s) - mean) / spread;
        Row d;
        d << u.x() * u.x(), u.y() * u.y(), u.z() * u.z(), 2 * u.x() * u.y(), 2 * u.x() * u.z(),
                2 * u.y() * u.z(), 2 * u.x(), 2 * u.y(), 2 * u.z();
        normal.noalias() += d * d.transpose();
        rhs += d;
    }
    // Samples on a plane or a curve leave the quadric undetermined: the normal equations are
    // then (nearly) singular.
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix<double, Unknowns, Unknowns>> conditioning(
            normal, Eigen::EigenvaluesOnly);
    const auto &eigenvalues = conditioning.eigenvalues();
    if (conditioning.info() != Eigen::Success || !(eigenvalues.minCoeff() > 1e-12 * eigenvalues.maxCoeff()))
        return std::nullopt;
    const Eigen::LLT<Eigen::Matrix<double, Unknowns, Unknowns>> solver(normal);
    if (solver.info() != Eigen::Success)
        return std::nullopt;
    const Row v = solver.solve(rhs);

    Eigen::Matrix3d a;
    a << v[0], v[3], v[4],
         v[3], v[1], v[5],
         v[4], v[5], v[2];
    const Eigen::Vector3d b(v[6], v[7], v[8]);
    const Eigen::FullPivLU<Eigen::Matrix3d> lu(a);
    if (!lu.isInvertible())
        return std::nullopt;
    const Eigen::Vector3d c = -lu.solve(b);
    // (u - c)^T A (u - c) = 1 + c^T A c: an ellipsoid only when A/k is positive definite.
    const double k = 1.0 + c.dot(a * c);
    if (!(k > 0.0) || !std::isfinite(k))
        return std::nullopt;
    const Eigen::Matrix3d m = a / k;
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(m, Eigen::EigenvaluesOnly);
    if (eigen.info() != Eigen::Success || !(eigen.eigenvalues().minCoeff() > 0.0))
        return std::nullopt;

    return Quadric{mean + spread * c, m / (spread * spread)};
}

EllipsoidFit describe(const Quadric &q)
{
    const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(q.m);
    const Eigen::Matrix3d &vectors = eigen.eigenvectors();

    // Each eigenvector goes to the sensor axis it lies nearest, the closest pairs first.
    std::array<int, 3> columnOf{-1, -1, -1};
    std::array<bool, 3> taken{};
    for (int round = 0; round < 3; ++round) {
        int bestAxis = -1, bestColumn = -1;
        double best = -1.0;
        for (int axis = 0; axis < 3; ++axis) {
            for (int column = 0; column < 3; ++column) {
                if (columnOf[size_t(axis)] >= 0 || taken[size_t(column)])
                    continue;
                if (std::fabs(vectors(axis, column)) > best) {
                    best = std::fabs(vectors(axis, column));
                    bestAxis = axis;
                    bestColumn = column;
                }
            }
        }
        columnOf[size_t(bestAxis)] = bestColumn;
        taken[size_t(bestColumn)] = true;
    }
    Eigen::Matrix3d r;
    Eigen::Vector3d values;
    for (int axis = 0; axis < 3; ++axis) {
        const int column = columnOf[size_t(axis)];
        r.col(axis) = vectors.col(column);
        if (r(axis, axis) < 0)
            r.col(axis) = -r.col(axis);
        values[axis] = eigen.eigenvalues()[column];
    }
    // A reflection is no rotation: turn round the axis that is matched least well.
    if (r.determinant() < 0) {
        int worst = 0;
        for (int axis = 1; axis < 3; ++axis) {
            if (r(axis, axis) < r(worst, worst))
                worst = axis;
        }
        r.col(worst) = -r.col(worst);
    }
    // Radii that are nearly equal leave the axes between them free: any turn within their
    // plane fits as well. Of those turns the one nearest no rotation is taken, so that a
    // round field shows no tilt that noise made up.
    const auto nearlyEqual = [&](int i, int j) {
        return std::fabs(values[i] - values[j]) <= EqualRadii * 2.0 * std::max(values[i], values[j]);
    };
    if (nearlyEqual(0, 1) && nearlyEqual(1, 2) && nearlyEqual(0, 2)) {
        r.setIdentity();
    } else {
        for (int i = 0; i < 3; ++i) {
            for (int j = i + 1; j < 3; ++j) {
                if (!nearlyEqual(i, j))
                    continue;
                // Columns i and j turned by t: their diagonal entries add up to
                // cos t (r_ii + r_jj) + sin t (r_ij - r_ji), largest at this t.
                const double t = std::atan2(r(i, j) - r(j, i), r(i, i) + r(j, j));
                const Eigen::Vector3d a = r.col(i), b = r.col(j);
                r.col(i) = std::cos(t) * a + std::sin(t) * b;
                r.col(j) = -std::sin(t) * a + std::cos(t) * b;
            }
        }
    }

    EllipsoidFit fit;
    for (int i = 0; i < 3; ++i) {
        fit.centre[size_t(i)] = q.centre[i];
        fit.radii[size_t(i)] = 1.0 / std::sqrt(values[i]);
        for (int j = 0; j < 3; ++j)
            fit.axes[size_t(i)][size_t(j)] = r(i, j);
    }
    const double cosine = std::clamp((r.trace() - 1.0) / 2.0, -1.0, 1.0);
    fit.tiltDegrees = std::acos(cosine) * 180.0 / Pi;
    return fit;
}

// RMS deviation of `lengths` from their mean, in % of the mean.
std::optional<double> spreadPercent(const std::vector<double> &lengths)
{
    if (lengths.empty())
        return std::nullopt;
    double mean = 0.0;
    for (double l : lengths)
        mean += l;
    mean /= double(lengths.size());
    if (!(mean > 0.0))
        return std::nullopt;
    double squares = 0.0;
    for (double l : lengths)
        squares += (l - mean) * (l - mean);
    return 100.0 * std::sqrt(squares / double(lengths.size())) / mean;
}

double median(std::vector<double> values)
{
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1)
        return *middle;
    return (*middle + *std::max_element(values.begin(), middle)) / 2.0;
}

} // namespace

void MagQuality::reset()
{
    kept.clear();
    count = 0;
    stride = 1;
}

void MagQuality::addSample(const int16_t sample[3])
{
    if (count % stride == 0) {
        if (kept.size() == Kept) {
            // Every second kept one goes; those left are the multiples of the doubled stride.
            size_t to = 0;
            for (size_t from = 0; from < kept.size(); from += 2)
                kept[to++] = kept[from];
            kept.resize(to);
            stride *= 2;
        }
        if (count % stride == 0)
            kept.push_back({sample[0], sample[1], sample[2]});
    }
    ++count;
}

std::optional<EllipsoidFit> MagQuality::fitEllipsoid(const std::vector<Sample> &samples)
{
    const std::optional<Quadric> q = fitQuadric(samples);
    if (!q)
        return std::nullopt;
    return describe(*q);
}

MagQualityFigures MagQuality::figures(const MagExtremes &extremes, double outlierMads) const
{
    MagQualityFigures f;
    f.samples = count;
    f.samplesUsed = int(kept.size());
    f.outlierMads = outlierMads;
    f.measured = extremes.measured;

    Eigen::Vector3d midpoint, half;
    int largest = 0, smallest = 0;
    for (int axis = 0; axis < 3; ++axis) {
        f.ranges[size_t(axis)] = int(extremes.max(axis)) - int(extremes.min(axis));
        midpoint[axis] = (extremes.max(axis) + extremes.min(axis)) / 2.0;
        half[axis] = f.ranges[size_t(axis)] / 2.0;
    }
    largest = *std::max_element(f.ranges.begin(), f.ranges.end());
    smallest = *std::min_element(f.ranges.begin(), f.ranges.end());
    if (largest > 0)
        f.balance = double(smallest) / largest;
    if (kept.empty())
        return f;

    std::vector<double> lengths;
    lengths.reserve(kept.size());
    for (const Sample &s : kept)
        lengths.push_back((vec(s) - midpoint).norm());
    double sum = 0.0;
    for (double l : lengths)
        sum += l;
    f.field = sum / double(lengths.size());

    if (smallest > 0) {
        std::vector<double> corrected;
        corrected.reserve(kept.size());
        for (const Sample &s : kept)
            corrected.push_back((vec(s) - midpoint).cwiseQuotient(half).norm());
        f.fitError = spreadPercent(corrected);
    }

    const std::optional<Quadric> quadric = fitQuadric(kept);
    // Radii for the outlier rule, in counts: without a fit the distances from the midpoint.
    std::vector<double> &radii = lengths;
    double meanRadius = 1.0;
    if (quadric) {
        f.fit = describe(*quadric);
        meanRadius = std::cbrt(f.fit->radii[0] * f.fit->radii[1] * f.fit->radii[2]);
        for (size_t i = 0; i < kept.size(); ++i)
            radii[i] = quadric->length(vec(kept[i]));
        f.fullFitError = spreadPercent(radii);
        for (double &r : radii)
            r *= meanRadius;
    }
    const auto radiusOf = [&](const Sample &s) {
        return quadric ? quadric->length(vec(s)) * meanRadius : (vec(s) - midpoint).norm();
    };

    const double middle = median(radii);
    std::vector<double> deviations(radii.size());
    for (size_t i = 0; i < radii.size(); ++i)
        deviations[i] = std::fabs(radii[i] - middle);
    const double limit = outlierMads * std::max(1.0, median(deviations));
    const auto outlying = [&](double radius) { return !(std::fabs(radius - middle) <= limit); };
    for (double r : radii)
        f.outliers += outlying(r) ? 1 : 0;
    for (int e = 0; e < MagExtremes::Count; ++e)
        f.setByOutlier[size_t(e)] = extremes.moved[size_t(e)] && outlying(radiusOf(extremes.setBy[size_t(e)]));
    return f;
}
