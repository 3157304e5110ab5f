// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Sightings with any address and any name (none, empty, 248 bytes and longer, invalid UTF-8,
// control characters) through the worker's device list, checked against a plain model of the
// announcement rules. Every text the list hands out may still sit in a queued signal, so each
// one must keep its content for as long as the list lives.
#include "devicelist.h"
#include "fuzzcheck.h"
#include "protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int MaxSightings = 200;
constexpr size_t MaxNameLength = 300;
const char Unknown[] = "Unknown Device";

struct ModelEntry {
    std::string name;
    size_t position;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    DeviceList list;
    std::map<std::string, ModelEntry> model;
    // Every text handed out, with the content it had then.
    std::vector<std::pair<const char *, std::string>> handedOut;

    // A few addresses come back again and again; the rest are anything.
    BleAddress pool[4] = {};
    for (BleAddress &a : pool)
        a.lap = in.ConsumeIntegral<uint32_t>();

    for (int n = 0; n < MaxSightings && in.remaining_bytes() > 0; ++n) {
        BleAddress address = pool[in.ConsumeIntegralInRange<int>(0, 3)];
        if (in.ConsumeBool()) {
            address.nap = in.ConsumeIntegral<uint16_t>();
            address.uap = in.ConsumeIntegral<uint8_t>();
            address.lap = in.ConsumeIntegral<uint32_t>();
        }
        address.kind = in.ConsumeIntegral<uint16_t>();      // not part of the key
        address.filler[1] = in.ConsumeIntegral<uint8_t>();

        std::unique_ptr<char[]> name;
        if (in.ConsumeBool()) {
            const std::string text = in.ConsumeBool()
                    ? std::string(248, char(in.ConsumeIntegralInRange<int>(1, 255)))
                    : in.ConsumeRandomLengthString(MaxNameLength);
            name.reset(new char[text.size() + 1]);
            std::memcpy(name.get(), text.c_str(), text.size() + 1);
        }

        char key[Protocol::AddressTextLength + 1];
        Protocol::formatAddressText(address, key);
        const DeviceEntry *announced = list.update(address, name.get());

        // The model: new addresses are appended and announced; a known one takes a new name
        // and is announced unless it was stored as "Unknown Device" before this sighting.
        auto it = model.find(key);
        bool expectAnnounce = true;
        if (it == model.end()) {
            it = model.emplace(key, ModelEntry{name ? name.get() : Unknown, model.size()}).first;
        } else {
            expectAnnounce = it->second.name != Unknown;
            if (name)
                it->second.name = name.get();
        }
        FUZZ_CHECK(list.size() == model.size());
        FUZZ_CHECK((announced != nullptr) == expectAnnounce);

        const DeviceEntry *entry = list.find(key);
        FUZZ_CHECK(entry != nullptr);
        FUZZ_CHECK(entry == &list.at(it->second.position));
        FUZZ_CHECK(std::strcmp(entry->addressText, key) == 0);
        FUZZ_CHECK(entry->name != nullptr && it->second.name == entry->name);
        FUZZ_CHECK(std::memcmp(&entry->address, &address, sizeof address) == 0);
        if (announced) {
            FUZZ_CHECK(announced == entry);
            handedOut.emplace_back(announced->name, announced->name);
            handedOut.emplace_back(announced->addressText, announced->addressText);
        }
    }

    for (const auto &text : handedOut)
        FUZZ_CHECK(text.second == text.first);
    return 0;
}
