// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// How much of the sphere of directions a magnetometer calibration has seen: the operator turns
// the unit until the samples, seen from the middle of the recorded extremes, point into most of
// the sphere's regions.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

class MagCoverage
{
public:
    // The sphere is cut into this many regions of equal area (see regionOf).
    static constexpr int RegionCount = 100;
    // Samples kept to be placed again when the centre moves. Later ones are placed once, around
    // the centre of their time.
    static constexpr size_t KeptSamples = 1 << 16;

    // Forgets every sample; the centre goes back to 0, 0, 0.
    void reset();

    // One magnetometer sample (x, y, z, raw counts).
    void addSample(const int16_t sample[3]);

    // The centre becomes the midpoint of the recorded extremes; every kept sample is placed
    // again around it.
    void setCentre(const int16_t max[3], const int16_t min[3]);

    // Visited regions as a percentage of RegionCount, 0..100.
    double percent() const;

    // The region a direction falls in, 0..RegionCount-1, or -1 for the zero vector or one that
    // is not finite. Regions are counted from the +z pole: a cap around each pole and rings of
    // latitude between them, each ring cut into equal sectors of longitude. A zone of the sphere
    // between two heights z1 < z2 has the area 2 pi (z2 - z1), so a ring that holds k regions
    // spans k / RegionCount of the height -1..1, and every region has the same area.
    static int regionOf(double x, double y, double z);

    // Regions per ring, from the +z cap to the -z cap; they add up to RegionCount.
    static const std::vector<int> &ringSizes();

    // Where one region lies on the unit sphere, for a map to draw it: its ring (0 the +z cap),
    // the heights z of the ring's edges (zTop > zBottom, -1..1) and the longitudes of the
    // region's edges in radians, -pi..pi, measured like atan2(y, x). A cap spans every
    // longitude.
    struct Region {
        int ring;
        double zTop, zBottom;
        double longitudeFrom, longitudeTo;
    };
    // All regions, indexed like regionOf.
    static const std::vector<Region> &regions();

    // Whether any sample so far points into `region` (0..RegionCount-1).
    bool visited(int region) const;

private:
    void place(const std::array<int16_t, 3> &sample, std::bitset<RegionCount> &into) const;

    std::array<double, 3> centre{};
    std::vector<std::array<int16_t, 3>> kept;
    std::bitset<RegionCount> visitedRegions;   // kept samples, around the current centre
    std::bitset<RegionCount> placedOnce;       // samples beyond the kept ones
};
