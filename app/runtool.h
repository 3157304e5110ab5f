// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// What both executables do once they know their host-layer backend.
#pragma once

#include <functional>
#include <memory>

class HostBackend;

struct ToolOptions;

// Makes the host-layer backend; it may take the answer deadline the user gave
// (ToolOptions::answerTimeoutMs) as its own limit for a write the stack does not confirm.
using BackendFactory = std::function<std::unique_ptr<HostBackend>(const ToolOptions &options)>;

// Reads the options. Without any (or with only --record, identity and --limits) it shows the
// window; with --list or operations it runs the job without a window; --help, --version and
// bad usage print and return. The backend is made by `makeBackend` once the application object exists, installed
// before the worker can start, and removed after everything that used it is gone. `backendName`
// ("adapter" or "virtual") goes into the record. Returns the process's exit status.
int runTool(int &argc, char **argv, const char *backendName, const BackendFactory &makeBackend);
