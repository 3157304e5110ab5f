// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The window for the keyboard and for screen readers.
#pragma once

class QWidget;

// Gives each picture button of `window`, found by its object name, an accessible name and a
// tool tip in the window's own words ("Setup", "Search", "Close", ...), so that a screen reader
// announces what the picture says. Adds the keys that switch pages: Ctrl+1, Ctrl+2 and Ctrl+3
// for the Setup, Magnetometer and Validation tabs, Ctrl+Tab and Ctrl+Shift+Tab for the next and
// the previous page. A key presses its tab, so it does exactly what a click on the tab does.
// Nothing changes in how the window looks or in what the mouse does.
void installKeyboardAccess(QWidget *window);
