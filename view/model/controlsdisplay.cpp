// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "controlsdisplay.h"

#include <cstdlib>

namespace ControlsDisplay {

namespace {
constexpr int TriggerWidth = 92;
constexpr int TriggerHeight = 161;
constexpr int CrossX = 287;
constexpr int CrossY = 87;
constexpr int CrossWidth = 17;
constexpr int CrossHeight = 18;
constexpr int RockerDeadBand = 10;
constexpr int TriggerRest = -125;
} // namespace

ButtonLight lightForButtons(short btn)
{
    static const ButtonLight lights[] = {ButtonLight::Right, ButtonLight::Back,
                                         ButtonLight::Middle, ButtonLight::Left,
                                         ButtonLight::Power};
    for (int bit = 0; bit < 5; ++bit) {
        if (btn & (1 << bit))
            return lights[bit];
    }
    return ButtonLight::None;
}

int triggerTop(short trig)
{
    return 158 - ((trig + 128) * 157) / 256;
}

QRect triggerFrameRect(short trig)
{
    return QRect(0, triggerTop(trig), TriggerWidth, TriggerHeight);
}

bool triggerLit(short trig)
{
    return trig > TriggerRest;
}

QPoint rockerCrossPos(short rockX, short rockY)
{
    // C++ integer division truncates toward zero, which keeps small deflections at rest.
    return QPoint(CrossX + (rockX * 70) / 256, CrossY + (rockY * 70) / 256);
}

QRect rockerCrossRect(short rockX, short rockY)
{
    return QRect(rockerCrossPos(rockX, rockY), QSize(CrossWidth, CrossHeight));
}

bool rockerLit(short rockX, short rockY)
{
    return std::abs(int(rockX)) > RockerDeadBand || std::abs(int(rockY)) > RockerDeadBand;
}

} // namespace ControlsDisplay
