#include "devicelist.h"
#include "protocol.h"

#include <cstring>

namespace {
const char unknownName[] = "Unknown Device";
}

DeviceList::DeviceList() = default;
DeviceList::~DeviceList() = default;

const char *DeviceList::keepText(const char *text)
{
    const size_t length = std::strlen(text);
    std::unique_ptr<char[]> copy(new char[length + 1]);
    std::memcpy(copy.get(), text, length + 1);
    texts.push_back(std::move(copy));
    return texts.back().get();
}

const DeviceEntry *DeviceList::find(const char *addressText) const
{
    if (!addressText)
        return nullptr;
    for (const auto &entry : entries) {
        if (std::strncmp(entry->addressText, addressText, sizeof entry->addressText) == 0)
            return entry.get();
    }
    return nullptr;
}

const DeviceEntry *DeviceList::update(const BleAddress &address, const char *name)
{
    char text[Protocol::AddressTextLength + 1];
    Protocol::formatAddressText(address, text);

    for (auto &entry : entries) {
        if (std::memcmp(entry->addressText, text, sizeof text) != 0)
            continue;
        const bool wasUnknown = std::strcmp(entry->name, unknownName) == 0;
        if (name && std::strcmp(entry->name, name) != 0)
            entry->name = keepText(name);
        entry->address = address;
        return wasUnknown ? nullptr : entry.get();
    }

    auto entry = std::make_unique<DeviceEntry>();
    entry->name = keepText(name ? name : unknownName);
    entry->address = address;
    std::memcpy(entry->addressText, text, sizeof text);
    entries.push_back(std::move(entry));
    return entries.back().get();
}
