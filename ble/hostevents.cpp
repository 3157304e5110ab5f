// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "hostevents.h"

#include <algorithm>
#include <cstring>

namespace {

// Shares ownership of `holder` while exposing the address of the record inside it.
template <typename Holder, typename Record>
HostEvent makeEvent(uint32_t code, std::shared_ptr<Holder> holder, const Record *record)
{
    HostEvent event;
    event.code = code;
    event.param = reinterpret_cast<uintptr_t>(record);
    event.storage = std::move(holder);
    return event;
}

struct DeviceFoundHolder {
    HostDeviceFoundEvent record{};
    std::string name;
};

struct DatabaseHolder {
    HostDatabaseEvent record{};
    std::vector<HostService> services;
    std::vector<std::vector<HostCharacteristic>> characteristics;
    std::vector<std::vector<std::vector<HostDescriptor>>> descriptors;
};

struct NotificationHolder {
    HostNotificationEvent record{};
    std::vector<uint8_t> bytes;
};

} // namespace

BleAddress makeBleAddress(uint64_t address48)
{
    BleAddress address{};
    address.nap = uint16_t(address48 >> 32);
    address.uap = uint8_t(address48 >> 24);
    address.lap = uint32_t(address48 & 0xFFFFFFu);
    return address;
}

uint64_t bleAddressValue(const BleAddress &address)
{
    return (uint64_t(address.nap) << 32) | (uint64_t(address.uap) << 24)
            | uint64_t(address.lap & 0xFFFFFFu);
}

HostEvent hostReadyEvent(bool ready)
{
    HostEvent event;
    event.code = HostEventReady;
    event.param = ready ? 1 : 0;
    return event;
}

HostEvent hostDeviceFoundEvent(const BleAddress &address, const char *nameOrNull, int16_t rssi)
{
    auto holder = std::make_shared<DeviceFoundHolder>();
    holder->record.address = address;
    holder->record.rssi = rssi;
    if (nameOrNull) {
        holder->name = nameOrNull;
        holder->record.name = holder->name.c_str();
    }
    const HostDeviceFoundEvent *record = &holder->record;
    return makeEvent(HostEventDeviceFound, std::move(holder), record);
}

HostEvent hostConnectResultEvent(uint16_t status, uint32_t connId, const BleAddress &address)
{
    auto holder = std::make_shared<HostConnectResultEvent>();
    *holder = HostConnectResultEvent{};
    holder->type = HostEventConnectResult;
    holder->status = status;
    holder->connId = connId;
    holder->address = address;
    const HostConnectResultEvent *record = holder.get();
    return makeEvent(HostEventConnectResult, std::move(holder), record);
}

HostEvent hostJustWorksEvent(const BleAddress &address, uint32_t connId)
{
    auto holder = std::make_shared<HostJustWorksEvent>();
    *holder = HostJustWorksEvent{};
    holder->address = address;
    holder->connId = connId;
    const HostJustWorksEvent *record = holder.get();
    return makeEvent(HostEventJustWorks, std::move(holder), record);
}

HostEvent hostFailureEvent(uint16_t failure, uint32_t connId)
{
    auto holder = std::make_shared<HostFailureEvent>();
    *holder = HostFailureEvent{};
    holder->type = HostEventFailure;
    holder->connId = connId;
    holder->failure = failure;
    const HostFailureEvent *record = holder.get();
    return makeEvent(HostEventFailure, std::move(holder), record);
}

HostEvent hostConnUpdateEvent(uint16_t identifier, uint32_t connId)
{
    auto holder = std::make_shared<HostConnUpdateEvent>();
    *holder = HostConnUpdateEvent{};
    holder->type = HostEventConnUpdate;
    holder->connId = connId;
    holder->intervalMin = 6;
    holder->intervalMax = 6;
    holder->identifier = identifier;
    holder->latency = 0;
    holder->timeout = 500;
    const HostConnUpdateEvent *record = holder.get();
    return makeEvent(HostEventConnUpdate, std::move(holder), record);
}

HostEvent hostDatabaseEvent(uint16_t status, const std::vector<HostServiceDef> &services)
{
    auto holder = std::make_shared<DatabaseHolder>();
    const size_t serviceCount = std::min<size_t>(services.size(), 0xFFFF);

    // Size every array first: the records point into them, so nothing may move afterwards.
    holder->services.resize(serviceCount);
    holder->characteristics.resize(serviceCount);
    holder->descriptors.resize(serviceCount);
    for (size_t s = 0; s < serviceCount; ++s) {
        const auto &chars = services[s].characteristics;
        const size_t charCount = std::min<size_t>(chars.size(), 0xFFFF);
        holder->characteristics[s].resize(charCount);
        holder->descriptors[s].resize(charCount);
        for (size_t c = 0; c < charCount; ++c)
            holder->descriptors[s][c].resize(std::min<size_t>(chars[c].descriptors.size(), 0xFFFF));
    }

    for (size_t s = 0; s < serviceCount; ++s) {
        const HostServiceDef &def = services[s];
        HostService &service = holder->services[s];
        service = HostService{};
        service.uuidType = 16;
        service.uuid = def.uuid;
        service.startHandle = def.startHandle;
        service.endHandle = def.endHandle;
        auto &chars = holder->characteristics[s];
        service.characteristicCount = uint16_t(chars.size());
        service.characteristics = chars.empty() ? nullptr : chars.data();
        for (size_t c = 0; c < chars.size(); ++c) {
            const HostCharacteristicDef &charDef = def.characteristics[c];
            HostCharacteristic &characteristic = chars[c];
            characteristic = HostCharacteristic{};
            characteristic.uuidType = 16;
            characteristic.uuid = charDef.uuid;
            characteristic.properties = charDef.properties;
            characteristic.valueHandle = charDef.valueHandle;
            characteristic.declarationHandle = charDef.valueHandle ? uint16_t(charDef.valueHandle - 1) : 0;
            auto &descs = holder->descriptors[s][c];
            characteristic.descriptorCount = uint16_t(descs.size());
            characteristic.descriptors = descs.empty() ? nullptr : descs.data();
            for (size_t d = 0; d < descs.size(); ++d) {
                descs[d] = HostDescriptor{};
                descs[d].uuidType = 16;
                descs[d].uuid = charDef.descriptors[d].uuid;
                descs[d].handle = charDef.descriptors[d].handle;
            }
        }
    }

    holder->record.type = 262;
    holder->record.status = status;
    holder->record.serviceCount = uint16_t(serviceCount);
    holder->record.services = holder->services.empty() ? nullptr : holder->services.data();
    const HostDatabaseEvent *record = &holder->record;
    return makeEvent(HostEventDatabase, std::move(holder), record);
}

HostEvent hostStatusEvent(uint16_t status)
{
    auto holder = std::make_shared<HostStatusEvent>();
    *holder = HostStatusEvent{};
    holder->type = HostEventStatus;
    holder->status = status;
    const HostStatusEvent *record = holder.get();
    return makeEvent(HostEventStatus, std::move(holder), record);
}

HostEvent hostWriteResultEvent(uint16_t status, uint32_t connId, uint16_t handle)
{
    auto holder = std::make_shared<HostWriteResultEvent>();
    *holder = HostWriteResultEvent{};
    holder->type = uint16_t(HostEventWriteResult);
    holder->status = status;
    holder->connId = connId;
    holder->handle = handle;
    const HostWriteResultEvent *record = holder.get();
    return makeEvent(HostEventWriteResult, std::move(holder), record);
}

HostEvent hostNotificationEvent(uint32_t connId, uint16_t handle, const uint8_t *data, size_t length)
{
    auto holder = std::make_shared<NotificationHolder>();
    // The record's length field is 16 bits wide; longer data is cut to what it can state.
    const size_t kept = data ? std::min<size_t>(length, 0xFFFF) : 0;
    holder->bytes.assign(data, data + kept);
    holder->record.type = HostEventNotification;
    holder->record.connId = connId;
    holder->record.handle = handle;
    holder->record.length = uint16_t(kept);
    holder->record.data = holder->bytes.empty() ? nullptr : holder->bytes.data();
    const HostNotificationEvent *record = &holder->record;
    return makeEvent(HostEventNotification, std::move(holder), record);
}
