// Devices seen while scanning, keyed by address text, with the rules for when a sighting is
// announced to the window.
#pragma once

#include "hostlayer.h"
#include "protocol.h"

#include <cstddef>
#include <memory>
#include <vector>

// One device seen while scanning. Its texts are handed to the window as plain pointers, so
// they never move or change while the list exists.
struct DeviceEntry {
    const char *name = nullptr;     // as reported, or "Unknown Device"
    BleAddress address{};           // as the latest sighting delivered it
    char addressText[Protocol::AddressTextLength + 1] = {};   // the key
};

class DeviceList
{
public:
    DeviceList();
    ~DeviceList();
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;

    // Records one sighting (`name` null when the device sent none) and returns the entry to
    // announce, or null when this sighting is not announced.
    //
    // A new address is appended and announced. A known one takes the new name if the
    // sighting has one and is announced again, unless its stored name was "Unknown Device"
    // before this sighting: a device first stored nameless is announced only once.
    const DeviceEntry *update(const BleAddress &address, const char *name);

    size_t size() const { return entries.size(); }
    const DeviceEntry &at(size_t index) const { return *entries.at(index); }
    const DeviceEntry *find(const char *addressText) const;

private:
    const char *keepText(const char *text);

    std::vector<std::unique_ptr<DeviceEntry>> entries;   // in order of first sighting
    // Every name ever stored. A replaced name may still be on its way to the window in a
    // queued signal, so it is freed only with the list.
    std::vector<std::unique_ptr<char[]>> texts;
};
