// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Results as a terminal shows them, one line each: what the command line prints.
#pragma once

#include "calibrationgate.h"
#include "imutypes.h"

#include <QString>

class CheckSession;
class JsonLine;
class MagRecording;

// How much of a text from outside a message shows: a name, an address or an argument, and a
// file's path.
constexpr int ShownTextChars = 64;
constexpr int ShownPathChars = 256;

// Text from outside (device names, arguments, paths) made safe for a line of text: no
// character of it may break the line or steer the terminal. Control and other unprintable
// characters are shown as escapes (\n, \r, \t, \x1b, \u202e, \U000e0001), a backslash as
// "\\"; beyond `maxChars` characters the text is cut and ends in "…". An escape is never cut
// in two.
QString printableText(const QString &text, int maxChars = ShownTextChars);
// Whether printableText shows the character `code` as it is: a printable one that ends no
// line (U+2028 and U+2029 would, for some readers).
bool printableCharacter(uint code);
// "1.5 s"
QString secondsText(int ms);
// "max_x,max_y,max_z,min_x,min_y,min_z"
QString valueText(const MAG_PARAM &values);
// "max 1 2 3  min -4 -5 -6  coverage 42%"
QString calibrationText(const MagRecording &recording);
// The same with the figures and the gate's verdict: "...  fit error 2.1%  field 150  passed".
QString qualityText(const MagRecording &recording, const MagQualityFigures &figures, const GateVerdict &verdict);
// "sums ...  means ...  samples 1001  passed"
QString checkText(const CheckSession &check, bool passed);
// "00025B0A1C01   -52 dBm  IMU Controller A", and the same as JSON: a controller a list shows.
QString sightingText(const QByteArray &address, const QString &name, short rssi);
JsonLine sightingLine(const QByteArray &address, const QString &name, short rssi);
