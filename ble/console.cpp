// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "console.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<ConsoleSink> installedSink{nullptr};
char linePrefix[256];

void toStandardError(const char *text)
{
    size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == '\n')
        --length;
    std::fprintf(stderr, "%s%.*s\n", linePrefix, int(length), text);
}

} // namespace

void setConsoleSink(ConsoleSink sink)
{
    installedSink.store(sink);
}

void consoleWrite(const char *text)
{
    if (const ConsoleSink sink = installedSink.load()) {
        sink(text);
        return;
    }
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void setConsoleToStandardError(const char *prefix)
{
    std::snprintf(linePrefix, sizeof linePrefix, "%s", prefix);
    setConsoleSink(toStandardError);
}
