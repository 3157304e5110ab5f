// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Shared by the fuzz targets: a check that stops the run with a message, so libFuzzer keeps
// the input that broke a property, not only the ones that crash.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,        \
                         #condition);                                                    \
            std::abort();                                                                \
        }                                                                                \
    } while (false)
