// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The orientation view's model as plain data: three axis bars and the cube over their common
// corner, each a box of six flat-coloured quads. Nothing here knows about GL or widgets.
#pragma once

#include <array>
#include <cstdint>

class AxisModel
{
public:
    enum : int { BoxCount = 4, QuadsPerBox = 6, CornersPerQuad = 4 };

    struct Vertex {
        float x, y, z;
    };

    // A corner of a box: bit 0 takes x, bit 1 y, bit 2 z from the upper bound (set) or the
    // lower bound (clear).
    using Corner = uint8_t;
    using Quad = std::array<Corner, CornersPerQuad>;

    struct Box {
        std::array<float, 3> colour;   // r, g, b
        std::array<float, 3> lower;    // x, y, z
        std::array<float, 3> upper;
        std::array<Quad, QuadsPerBox> quads;

        Vertex vertex(int quad, int corner) const;
    };

    // In drawing order. Nothing tests depth, so a later box covers an earlier one on screen.
    static const std::array<Box, BoxCount> &boxes();
};
