// Devices seen while scanning, keyed by address text, with the rules for when a sighting is
// announced to the window.
#pragma once

#include "hostlayer.h"

#include <memory>
#include <vector>

class DeviceList
{
public:
    DeviceList();
    ~DeviceList();
};
