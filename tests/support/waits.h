// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Waits that end when what they wait for has happened. The deadline only keeps a broken build
// from hanging: it is far beyond what the slowest run needs (a sanitizer build beside other
// tests on a busy machine), so no test fails because its machine is slow.
#pragma once

class QWidget;

// Milliseconds; for QTRY_*_WITH_TIMEOUT, QSignalSpy::wait and QTest::qWaitFor.
constexpr int WaitDeadline = 60000;

// Shows `window` and waits until it is exposed, which is when it has first been painted.
bool showAndWait(QWidget *window);

// Asks `widget` to repaint and waits until it has. A window repaints everything it has waiting
// in one pass, so by then every change made to the window before the call is painted too.
bool repaintAndWait(QWidget *widget);
