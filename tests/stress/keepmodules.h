// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Keeps every loaded shared library in memory until the process ends. Qt's plugins and Mesa's
// driver are unloaded at exit otherwise, and what they still held shows up in LeakSanitizer as
// leaked from an unknown module that no suppression can name.
#pragma once

#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

inline void keepLoadedModules()
{
    std::vector<std::string> names;
    dl_iterate_phdr([](dl_phdr_info *info, size_t, void *data) -> int {
        if (info->dlpi_name && info->dlpi_name[0] != '\0')
            static_cast<std::vector<std::string> *>(data)->emplace_back(info->dlpi_name);
        return 0;
    }, &names);
    // Outside the iteration, which holds the loader's lock.
    for (const std::string &name : names)
        dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}
