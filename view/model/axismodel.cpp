// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "axismodel.h"

namespace {

// "LHL" -> x lower, y upper, z lower.
constexpr AxisModel::Corner corner(const char (&c)[4])
{
    return AxisModel::Corner((c[0] == 'H' ? 1 : 0) | (c[1] == 'H' ? 2 : 0) | (c[2] == 'H' ? 4 : 0));
}

constexpr AxisModel::Quad quad(const char (&a)[4], const char (&b)[4], const char (&c)[4],
                               const char (&d)[4])
{
    return {corner(a), corner(b), corner(c), corner(d)};
}

// Each face of a box keeps the same vertex order whichever box it belongs to.
constexpr AxisModel::Quad xLow = quad("LLL", "LLH", "LHH", "LHL");
constexpr AxisModel::Quad xHigh = quad("HLL", "HLH", "HHH", "HHL");
constexpr AxisModel::Quad yLow = quad("LLL", "LLH", "HLH", "HLL");
constexpr AxisModel::Quad yHigh = quad("LHL", "LHH", "HHH", "HHL");
constexpr AxisModel::Quad zLow = quad("LLL", "LHL", "HHL", "HLL");
constexpr AxisModel::Quad zHigh = quad("LLH", "LHH", "HHH", "HLH");

const std::array<AxisModel::Box, AxisModel::BoxCount> modelBoxes = {{
    // Z bar, red, towards the viewer at rest.
    {{1.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.1f, 0.1f, 0.5f},
     {zLow, zHigh, yLow, yHigh, xLow, xHigh}},
    // X bar, blue, to the right at rest.
    {{0.0f, 0.0f, 0.9f}, {0.0f, 0.0f, 0.0f}, {0.5f, 0.1f, 0.1f},
     {xLow, xHigh, yLow, yHigh, zHigh, zLow}},
    // Y bar, green, upwards at rest.
    {{0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.1f, 0.5f, 0.1f},
     {yLow, yHigh, xLow, xHigh, zLow, zHigh}},
    // Grey cube over the corner where the bars meet; drawn last so it is always seen.
    {{0.8f, 0.8f, 0.8f}, {-0.01f, -0.01f, -0.01f}, {0.11f, 0.11f, 0.11f},
     {yLow, yHigh, zHigh, xLow, zLow, xHigh}},
}};

} // namespace

AxisModel::Vertex AxisModel::Box::vertex(int quad, int corner) const
{
    const Corner c = quads.at(quad).at(corner);
    return {(c & 1) ? upper[0] : lower[0], (c & 2) ? upper[1] : lower[1],
            (c & 4) ? upper[2] : lower[2]};
}

const std::array<AxisModel::Box, AxisModel::BoxCount> &AxisModel::boxes()
{
    return modelBoxes;
}
