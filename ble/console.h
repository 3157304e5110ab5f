// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The worker's diagnostic texts ("OK\n", "success!", "Unable to scan device.\n", ...) all leave
// through consoleWrite. By default they go to standard output exactly as written; a front end
// that keeps standard output for its results installs a sink of its own.
#pragma once

using ConsoleSink = void (*)(const char *text);

// Installs `sink` for every later text; null restores standard output. Set it before a
// worker starts and clear it after the last one has stopped: texts come from the worker's
// thread and from the threads that call the worker.
void setConsoleSink(ConsoleSink sink);

// A sink for front ends whose standard output holds results: each text becomes one line on
// standard error, after `prefix` (copied; the program's name and ": ", say).
void setConsoleToStandardError(const char *prefix);

// Hands one text to the sink, or writes it to standard output and flushes.
void consoleWrite(const char *text);
