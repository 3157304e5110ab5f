// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "devicelist.h"
#include "protocol.h"

#include <cstring>
#include <utility>

RetiredNames::~RetiredNames()
{
    if (counter)
        counter->fetch_sub(bytes, std::memory_order_relaxed);
}

RetiredNames::RetiredNames(RetiredNames &&other) noexcept
    : names(std::move(other.names)),
      bytes(other.bytes),
      counter(std::move(other.counter))
{
    other.names.clear();
    other.bytes = 0;
}

DeviceList::DeviceList()
    : heldBytes(std::make_shared<std::atomic<size_t>>(0))
{
    retired.counter = heldBytes;
}

DeviceList::~DeviceList()
{
    for (const auto &slot : entries) {
        if (slot->name)
            heldBytes->fetch_sub(std::strlen(slot->name.get()) + 1, std::memory_order_relaxed);
    }
}

std::unique_ptr<char[]> DeviceList::copyText(const char *text)
{
    const size_t length = std::strlen(text);
    std::unique_ptr<char[]> copy(new char[length + 1]);
    std::memcpy(copy.get(), text, length + 1);
    heldBytes->fetch_add(length + 1, std::memory_order_relaxed);
    return copy;
}

RetiredNames DeviceList::takeRetired()
{
    RetiredNames taken;
    taken.names.swap(retired.names);
    taken.bytes = std::exchange(retired.bytes, 0);
    taken.counter = heldBytes;
    return taken;
}

const DeviceEntry *DeviceList::find(const char *addressText) const
{
    if (!addressText)
        return nullptr;
    for (const auto &slot : entries) {
        if (std::strncmp(slot->entry.addressText, addressText, sizeof slot->entry.addressText) == 0)
            return &slot->entry;
    }
    return nullptr;
}

const DeviceEntry *DeviceList::update(const BleAddress &address, const char *name)
{
    char text[Protocol::AddressTextLength + 1];
    Protocol::formatAddressText(address, text);

    for (auto &slot : entries) {
        DeviceEntry &entry = slot->entry;
        if (std::memcmp(entry.addressText, text, sizeof text) != 0)
            continue;
        const bool wasUnknown = std::strcmp(entry.name, UnknownName) == 0;
        if (name && std::strcmp(entry.name, name) != 0) {
            // The old name may still be on its way to the window.
            if (slot->name) {
                retired.bytes += std::strlen(slot->name.get()) + 1;
                retired.names.push_back(std::move(slot->name));
            }
            slot->name = copyText(name);
            entry.name = slot->name.get();
        }
        entry.address = address;
        return wasUnknown ? nullptr : &entry;
    }

    auto slot = std::make_unique<Slot>();
    if (name) {
        slot->name = copyText(name);
        slot->entry.name = slot->name.get();
    } else {
        slot->entry.name = UnknownName;
    }
    slot->entry.address = address;
    std::memcpy(slot->entry.addressText, text, sizeof text);
    entries.push_back(std::move(slot));
    return &entries.back()->entry;
}
