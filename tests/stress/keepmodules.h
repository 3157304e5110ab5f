// Keeps every shared library that is loaded now in memory until the process ends.
//
// At exit Qt unloads its plugins and Mesa its driver. What those had allocated and still held
// is then pointed at from nowhere, and LeakSanitizer reports it as leaked from an unknown
// module, which no suppression can name. Pinned, the libraries keep their data, their memory
// stays reachable, and a leak report can only point at code that is really ours (the tool is
// linked statically into the executable, so none of its own code is among the pinned).
#pragma once

#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

inline void keepLoadedModules()
{
    std::vector<std::string> names;
    dl_iterate_phdr(
            [](dl_phdr_info *info, size_t, void *data) -> int {
                if (info->dlpi_name && info->dlpi_name[0] != '\0')
                    static_cast<std::vector<std::string> *>(data)->emplace_back(info->dlpi_name);
                return 0;
            },
            &names);
    // Outside the iteration, which holds the loader's lock.
    for (const std::string &name : names)
        dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}
