// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "magcoverage.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;

// Rings of nearly square regions: two polar caps of one region each, and between them
// collars of about the regions' own width, each given the whole number of regions nearest to
// its share of the area, with the rounding error carried to the next collar so the total
// stays exact.
std::vector<int> makeRings(int count)
{
    if (count <= 2)
        return std::vector<int>(size_t(std::max(count, 1)), 1);
    const double area = 4 * Pi / count;
    const double cap = std::acos(1.0 - 2.0 / count);
    const int collars = std::max(1, int(std::lround((Pi - 2 * cap) / std::sqrt(area))));
    const double step = (Pi - 2 * cap) / collars;

    std::vector<int> rings{1};
    double carried = 0.0;
    for (int i = 0; i < collars; ++i) {
        const double top = cap + i * step;
        const double share = 2 * Pi * (std::cos(top) - std::cos(top + step)) / area;
        const int regions = int(std::lround(share + carried));
        carried += share - regions;
        rings.push_back(regions);
    }
    rings.push_back(1);
    return rings;
}

} // namespace

const std::vector<int> &MagCoverage::ringSizes()
{
    static const std::vector<int> rings = makeRings(RegionCount);
    return rings;
}

const std::vector<MagCoverage::Region> &MagCoverage::regions()
{
    static const std::vector<Region> all = [] {
        std::vector<Region> out;
        int first = 0;
        for (int ring = 0; ring < int(ringSizes().size()); ++ring) {
            const int size = ringSizes()[size_t(ring)];
            const double top = 1.0 - 2.0 * first / RegionCount;
            const double bottom = 1.0 - 2.0 * (first + size) / RegionCount;
            for (int sector = 0; sector < size; ++sector)
                out.push_back({ring, top, bottom, -Pi + 2 * Pi * sector / size,
                               -Pi + 2 * Pi * (sector + 1) / size});
            first += size;
        }
        return out;
    }();
    return all;
}

bool MagCoverage::visited(int region) const
{
    if (region < 0 || region >= RegionCount)
        return false;
    return visitedRegions.test(size_t(region)) || placedOnce.test(size_t(region));
}

int MagCoverage::regionOf(double x, double y, double z)
{
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0) || !std::isfinite(length))
        return -1;
    // How many regions' worth of area lie above this height: 0 at +z, RegionCount at -z.
    const double above = (1.0 - z / length) * RegionCount / 2.0;
    int first = 0;
    for (int size : ringSizes()) {
        if (above < first + size || first + size == RegionCount) {
            if (size == 1)
                return first;
            const double turn = (std::atan2(y, x) + Pi) / (2 * Pi);   // 0..1
            return first + std::clamp(int(turn * size), 0, size - 1);
        }
        first += size;
    }
    return RegionCount - 1;
}

void MagCoverage::reset()
{
    centre = {};
    kept.clear();
    visitedRegions.reset();
    placedOnce.reset();
}

void MagCoverage::place(const std::array<int16_t, 3> &sample, std::bitset<RegionCount> &into) const
{
    const int region = regionOf(sample[0] - centre[0], sample[1] - centre[1], sample[2] - centre[2]);
    if (region >= 0)
        into.set(size_t(region));
}

void MagCoverage::addSample(const int16_t sample[3])
{
    const std::array<int16_t, 3> s{sample[0], sample[1], sample[2]};
    if (kept.size() < KeptSamples) {
        kept.push_back(s);
        place(s, visitedRegions);
    } else {
        place(s, placedOnce);
    }
}

void MagCoverage::setCentre(const int16_t max[3], const int16_t min[3])
{
    const std::array<double, 3> next{(max[0] + min[0]) / 2.0, (max[1] + min[1]) / 2.0,
                                     (max[2] + min[2]) / 2.0};
    if (next == centre)
        return;
    centre = next;
    visitedRegions.reset();
    for (const auto &s : kept)
        place(s, visitedRegions);
}

double MagCoverage::percent() const
{
    return 100.0 * double((visitedRegions | placedOnce).count()) / RegionCount;
}
