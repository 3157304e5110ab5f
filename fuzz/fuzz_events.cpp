// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Sequences of host-layer events, with any field values, through the worker's event
// handlers. Each input gets a fresh BtThread on a scripted host layer, and each event is
// handed to the handler the worker's loop would call, on this thread and without the loop's
// pause after a notification: starting and joining a worker costs about a thousand times
// more than handling the events, and the loop itself (its message filter, a failed
// initialisation) is covered by the worker's tests.
//
// Records keep the host layer's contract (a record holds as many services, characteristics
// and descriptors as its counts say, each array allocated to exactly that size, so ASan sees
// any read past one) while their content is arbitrary: services without characteristics,
// too few characteristics, characteristics without descriptors, odd UUIDs and handles.
// Codes the worker does not handle carry pointers that must never be followed.
#include "btthread.h"
#include "fuzzcheck.h"
#include "hostlayer.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr int MaxEvents = 48;
constexpr size_t MaxNotificationLength = 2048;
constexpr size_t MaxNameLength = 300;

// A pointer that faults if anything follows it.
uintptr_t poisonPointer(uint16_t low)
{
    return uintptr_t(0xDEAD000000000000ull) | low;
}

uint64_t addressKey(const BleAddress &a)
{
    return (uint64_t(a.kind) << 48) | (uint64_t(a.nap) << 32) | (uint64_t(a.uap) << 24)
            | (a.lap & 0xFFFFFFu);
}

class ScriptBackend : public HostBackend
{
public:
    bool scanOk = true;

    std::vector<std::tuple<uint32_t, uint16_t, uint16_t, uint16_t>> configured;
    std::vector<uint32_t> discovered;
    std::vector<uint64_t> paired;

    bool init(const HostEventTarget &) override { return true; }
    bool start() override { return true; }
    bool startLeScan() override { return scanOk; }
    bool stopLeSearch() override { return true; }
    bool stopDeviceSearch() override { return true; }
    bool cancel() override { return true; }
    bool setConnectionParams(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) override
    {
        return true;
    }
    bool connect(const BleAddress &) override { return true; }
    bool disconnect(uint32_t) override { return true; }
    bool justWorksResult(const BleAddress &address, uint8_t, uint8_t) override
    {
        paired.push_back(addressKey(address));
        return true;
    }
    bool acceptConnUpdate(uint32_t, uint16_t, uint8_t) override { return true; }
    bool discoverDatabase(uint32_t connId) override
    {
        discovered.push_back(connId);
        return true;
    }
    bool writeConfiguration(uint32_t connId, uint16_t descriptor, uint16_t valueHandle,
                            uint16_t value) override
    {
        configured.emplace_back(connId, descriptor, valueHandle, value);
        return true;
    }
    bool writeCharByHandle(uint32_t, uint16_t, uint16_t, uint16_t, const uint8_t *) override
    {
        return true;
    }
};

BleAddress takeAddress(FuzzedDataProvider &in)
{
    BleAddress a{};
    a.kind = in.ConsumeIntegral<uint16_t>();
    a.nap = in.ConsumeIntegral<uint16_t>();
    a.uap = in.ConsumeIntegral<uint8_t>();
    a.filler[0] = in.ConsumeIntegral<uint8_t>();
    a.lap = in.ConsumeIntegral<uint32_t>();   // the high byte is not part of the address
    return a;
}

// Status fields: mostly 0 (the interesting path), otherwise any value.
uint16_t takeStatus(FuzzedDataProvider &in)
{
    return in.ConsumeBool() ? 0 : in.ConsumeIntegral<uint16_t>();
}

// Exactly `count` elements on the heap, or null for none.
template <typename T>
T *exactArray(std::vector<std::unique_ptr<T[]>> &keep, size_t count)
{
    if (count == 0)
        return nullptr;
    keep.emplace_back(new T[count]());
    return keep.back().get();
}

struct DatabaseHolder {
    HostDatabaseEvent record{};
    std::vector<std::unique_ptr<HostService[]>> services;
    std::vector<std::unique_ptr<HostCharacteristic[]>> characteristics;
    std::vector<std::unique_ptr<HostDescriptor[]>> descriptors;
};

struct DeviceHolder {
    HostDeviceFoundEvent record{};
    std::unique_ptr<char[]> name;
};

struct NotificationHolder {
    HostNotificationEvent record{};
    std::unique_ptr<uint8_t[]> bytes;
};

struct Expected {
    // (descriptor handle, value handle) of the report characteristic of each database with
    // status 0: the first characteristic of the first 0xFAEA service among the first 255.
    std::set<std::pair<uint16_t, uint16_t>> configurations;
    std::set<uint32_t> connIds;     // from connection results with status 0
    std::set<uint64_t> peers;       // from pairing requests
};

std::shared_ptr<DatabaseHolder> makeDatabase(FuzzedDataProvider &in, Expected &expected)
{
    auto holder = std::make_shared<DatabaseHolder>();
    HostDatabaseEvent &db = holder->record;
    db.type = HostEventDatabase;
    db.status = takeStatus(in);
    // Now and then more services than the search looks at (255).
    db.serviceCount = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint16_t>(0, 6)
                                       : in.ConsumeIntegralInRange<uint16_t>(0, 300);
    db.services = exactArray(holder->services, db.serviceCount);
    for (size_t s = 0; s < db.serviceCount; ++s) {
        HostService &service = db.services[s];
        service.uuid = in.ConsumeBool() ? 0xFAEA : in.ConsumeIntegral<uint16_t>();
        service.uuidType = in.ConsumeIntegral<uint16_t>();
        service.startHandle = in.ConsumeIntegral<uint16_t>();
        service.endHandle = in.ConsumeIntegral<uint16_t>();
        service.characteristicCount = in.ConsumeIntegralInRange<uint16_t>(0, 3);
        service.characteristics =
                exactArray(holder->characteristics, service.characteristicCount);
        for (size_t c = 0; c < service.characteristicCount; ++c) {
            HostCharacteristic &ch = service.characteristics[c];
            ch.uuid = in.ConsumeIntegral<uint16_t>();
            ch.properties = in.ConsumeIntegral<uint8_t>();
            ch.valueHandle = in.ConsumeIntegral<uint16_t>();
            ch.declarationHandle = in.ConsumeIntegral<uint16_t>();
            ch.descriptorCount = in.ConsumeIntegralInRange<uint16_t>(0, 2);
            ch.descriptors = exactArray(holder->descriptors, ch.descriptorCount);
            for (size_t d = 0; d < ch.descriptorCount; ++d) {
                ch.descriptors[d].uuid = in.ConsumeIntegral<uint16_t>();
                ch.descriptors[d].handle = in.ConsumeIntegral<uint16_t>();
            }
        }
    }

    if (db.status == 0) {
        for (size_t s = 0; s < db.serviceCount && s < 255; ++s) {
            const HostService &service = db.services[s];
            if (service.uuid != 0xFAEA)
                continue;
            if (service.characteristicCount > 0 && service.characteristics[0].descriptorCount > 0) {
                const HostCharacteristic &first = service.characteristics[0];
                expected.configurations.emplace(first.descriptors[0].handle, first.valueHandle);
            }
            break;
        }
    }
    return holder;
}

bool handledCode(uint32_t code)
{
    switch (code) {
    case HostEventReady: case HostEventDeviceFound: case HostEventConnectResult:
    case HostEventJustWorks: case HostEventFailure: case HostEventConnUpdate:
    case HostEventDatabase: case HostEventStatus: case HostEventNotification:
    case HostEventWriteResult:
        return true;
    default:
        return false;
    }
}

} // namespace

// Declared a friend by BtThread.
struct BtThreadFuzzAccess
{
    // What the worker's loop does with one of its events, minus the pause after a
    // notification.
    static void handle(BtThread &worker, uint32_t code, uintptr_t param)
    {
        if (code == HostEventNotification)
            worker.handleNotification(reinterpret_cast<const HostNotificationEvent *>(param));
        else
            worker.handleEvent(code, param);
    }
};

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The worker's console lines would drown the fuzzer's own output (which is on stderr).
    if (!std::freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    ScriptBackend backend;
    // Bit 4 refuses the scan; the other bits are not used.
    const uint8_t outcomes = in.ConsumeIntegral<uint8_t>();
    backend.scanOk = (outcomes & 0x10) == 0;
    setHostBackend(&backend);

    Expected expected;
    {
        BtThread worker;
        for (int n = 0; n < MaxEvents && in.remaining_bytes() > 0; ++n) {
            uint32_t code = 0;
            uintptr_t param = 0;
            std::shared_ptr<const void> storage;

            switch (in.ConsumeIntegralInRange<int>(0, 10)) {
            case 0:
                code = HostEventReady;
                param = in.ConsumeBool() ? 0 : in.ConsumeIntegral<uintptr_t>();
                break;
            case 1: {
                auto holder = std::make_shared<DeviceHolder>();
                holder->record.address = takeAddress(in);
                holder->record.rssi = in.ConsumeIntegral<int16_t>();
                if (in.ConsumeBool()) {
                    const std::string name = in.ConsumeRandomLengthString(MaxNameLength);
                    holder->name.reset(new char[name.size() + 1]);
                    std::memcpy(holder->name.get(), name.c_str(), name.size() + 1);
                    holder->record.name = holder->name.get();
                }
                code = HostEventDeviceFound;
                param = reinterpret_cast<uintptr_t>(&holder->record);
                storage = holder;
                break;
            }
            case 2: {
                auto record = std::make_shared<HostConnectResultEvent>();
                record->type = HostEventConnectResult;
                record->status = takeStatus(in);
                record->connId = in.ConsumeIntegral<uint32_t>();
                record->address = takeAddress(in);
                if (record->status == 0 && record->connId != 0)
                    expected.connIds.insert(record->connId);
                code = HostEventConnectResult;
                param = reinterpret_cast<uintptr_t>(record.get());
                storage = record;
                break;
            }
            case 3: {
                auto record = std::make_shared<HostJustWorksEvent>();
                record->address = takeAddress(in);
                record->connId = in.ConsumeIntegral<uint32_t>();
                expected.peers.insert(addressKey(record->address));
                code = HostEventJustWorks;
                param = reinterpret_cast<uintptr_t>(record.get());
                storage = record;
                break;
            }
            case 4: {
                auto record = std::make_shared<HostFailureEvent>();
                record->connId = in.ConsumeIntegral<uint32_t>();
                record->reason = in.ConsumeIntegral<uint16_t>();
                record->failure = in.ConsumeIntegral<uint16_t>();
                code = HostEventFailure;
                param = reinterpret_cast<uintptr_t>(record.get());
                storage = record;
                break;
            }
            case 5: {
                auto record = std::make_shared<HostConnUpdateEvent>();
                record->connId = in.ConsumeIntegral<uint32_t>();
                record->identifier = in.ConsumeIntegral<uint16_t>();
                record->intervalMin = in.ConsumeIntegral<uint16_t>();
                record->intervalMax = in.ConsumeIntegral<uint16_t>();
                code = HostEventConnUpdate;
                param = reinterpret_cast<uintptr_t>(record.get());
                storage = record;
                break;
            }
            case 6: {
                auto holder = makeDatabase(in, expected);
                code = HostEventDatabase;
                param = reinterpret_cast<uintptr_t>(&holder->record);
                storage = holder;
                break;
            }
            case 7: {
                auto record = std::make_shared<HostStatusEvent>();
                record->type = HostEventStatus;
                record->status = takeStatus(in);
                code = HostEventStatus;
                param = reinterpret_cast<uintptr_t>(record.get());
                storage = record;
                break;
            }
            case 8: {
                auto holder = std::make_shared<NotificationHolder>();
                const size_t length = in.ConsumeIntegralInRange<size_t>(0, MaxNotificationLength);
                const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(length);
                // The record says how many bytes there are; the buffer holds exactly those.
                holder->bytes.reset(new uint8_t[bytes.size() ? bytes.size() : 1]);
                if (!bytes.empty())
                    std::memcpy(holder->bytes.get(), bytes.data(), bytes.size());
                holder->record.type = HostEventNotification;
                holder->record.connId = in.ConsumeIntegral<uint32_t>();
                holder->record.handle = in.ConsumeIntegral<uint16_t>();
                holder->record.length = uint16_t(bytes.size());
                holder->record.data = holder->bytes.get();
                code = HostEventNotification;
                param = reinterpret_cast<uintptr_t>(&holder->record);
                storage = holder;
                break;
            }
            case 10: {
                auto record = std::make_shared<HostWriteResultEvent>();
                record->type = HostEventWriteResult;
                record->status = takeStatus(in);
                record->connId = in.ConsumeIntegral<uint32_t>();
                record->handle = in.ConsumeIntegral<uint16_t>();
                code = HostEventWriteResult;
                param = reinterpret_cast<uintptr_t>(record.get());
                storage = record;
                break;
            }
            case 9:
                // A code the worker does not handle: its parameter must not be touched.
                code = in.ConsumeIntegral<uint32_t>();
                if (handledCode(code))
                    continue;
                param = poisonPointer(in.ConsumeIntegral<uint16_t>());
                break;
            }
            // `storage` keeps the record alive while it is handled.
            BtThreadFuzzAccess::handle(worker, code, param);
        }
    }
    setHostBackend(nullptr);

    // Whatever the worker handed back to the host layer came out of the records it was given.
    for (const auto &call : backend.configured) {
        FUZZ_CHECK(std::get<0>(call) == 0 || expected.connIds.count(std::get<0>(call)));
        FUZZ_CHECK(expected.configurations.count({std::get<1>(call), std::get<2>(call)}));
        FUZZ_CHECK(std::get<3>(call) == 1);
    }
    for (uint32_t connId : backend.discovered)
        FUZZ_CHECK(expected.connIds.count(connId));
    for (uint64_t peer : backend.paired)
        FUZZ_CHECK(expected.peers.count(peer));
    return 0;
}
