// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Devices seen while scanning, keyed by address text, with the rules for when a sighting is
// announced to the window.
#pragma once

#include "hostlayer.h"
#include "protocol.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

// One device seen while scanning. Its texts are handed to the window as plain pointers: the
// address text never moves or changes while the list exists, and a name that a later sighting
// replaces is kept until its owner takes it back (DeviceList::takeRetired).
struct DeviceEntry {
    const char *name = nullptr;     // as reported, or DeviceList::UnknownName
    BleAddress address{};           // as the latest sighting delivered it
    char addressText[Protocol::AddressTextLength + 1] = {};   // the key
};

// Names a list no longer uses, freed when this goes. Each holds the list's count of name bytes
// until then.
class RetiredNames
{
public:
    RetiredNames() = default;
    ~RetiredNames();
    RetiredNames(RetiredNames &&other) noexcept;
    RetiredNames &operator=(RetiredNames &&other) = delete;
    RetiredNames(const RetiredNames &) = delete;
    RetiredNames &operator=(const RetiredNames &) = delete;
    bool empty() const { return names.empty(); }

private:
    friend class DeviceList;
    std::vector<std::unique_ptr<char[]>> names;
    size_t bytes = 0;
    std::shared_ptr<std::atomic<size_t>> counter;
};

class DeviceList
{
public:
    // The name a device that sent none goes by.
    static constexpr char UnknownName[] = "Unknown Device";

    DeviceList();
    ~DeviceList();
    DeviceList(const DeviceList &) = delete;
    DeviceList &operator=(const DeviceList &) = delete;

    // Records one sighting (`name` null when the device sent none) and returns the entry to
    // announce, or null when this sighting is not announced.
    //
    // A new address is appended and announced. A known one takes the new name if the
    // sighting has one and is announced again, unless its stored name was UnknownName
    // before this sighting: a device first stored nameless is announced only once. The name it
    // had before is retired, not freed.
    const DeviceEntry *update(const BleAddress &address, const char *name);

    // The names retired since the last call. The caller frees them (by letting the result go)
    // once nothing can still read them.
    RetiredNames takeRetired();

    size_t size() const { return entries.size(); }
    const DeviceEntry &at(size_t index) const { return entries.at(index)->entry; }
    const DeviceEntry *find(const char *addressText) const;

    // Bytes of every name not yet freed: those in use, and the retired ones until they go.
    // Any thread.
    size_t nameBytes() const { return heldBytes->load(std::memory_order_relaxed); }

private:
    struct Slot {
        DeviceEntry entry;
        std::unique_ptr<char[]> name;   // null while the entry shows UnknownName as first stored
    };

    std::unique_ptr<char[]> copyText(const char *text);

    std::vector<std::unique_ptr<Slot>> entries;   // in order of first sighting
    RetiredNames retired;
    const std::shared_ptr<std::atomic<size_t>> heldBytes;
};
