// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Arithmetic of the controller picture on the setup page: which button light a report
// lights, where the trigger bar and the joystick cross stand, and when the trigger and
// joystick lights come on. Plain functions of a report's values; the window applies them.
#pragma once

#include <QPoint>
#include <QRect>

namespace ControlsDisplay {

// The five button lights, in the order of the button bits that select them.
enum class ButtonLight { Right, Back, Middle, Left, Power, None };

// The light of the lowest of the five button bits (0x01..0x10) that is set, or None when
// none of them is; higher bits play no part.
ButtonLight lightForButtons(short btn);

// Top of the trigger picture inside its 92 x 161 label: 158 at rest (-128) up to 2 when
// fully pulled (127).
int triggerTop(short trig);

// The frame rectangle that slides the trigger picture into view.
QRect triggerFrameRect(short trig);

// The trigger light comes on once the trigger leaves its rest band.
bool triggerLit(short trig);

// Top-left corner of the joystick cross: its resting place (287, 87) moved by the
// deflection scaled 70/256, truncated toward zero.
QPoint rockerCrossPos(short rockX, short rockY);

// The whole cross geometry, 17 x 18 at rockerCrossPos().
QRect rockerCrossRect(short rockX, short rockY);

// The joystick light comes on when either deflection leaves the dead band of +-10.
bool rockerLit(short rockX, short rockY);

} // namespace ControlsDisplay
