// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Builders for host-layer event records. Each returns a HostEvent whose storage owns the
// record and everything its pointers point into, so backends and test scripts can post
// events without managing memory.
#pragma once

#include "hostlayer.h"

#include <string>
#include <vector>

// Plain description of an attribute database, turned into HostService records.
struct HostDescriptorDef {
    uint16_t uuid = 0;
    uint16_t handle = 0;
};

struct HostCharacteristicDef {
    uint16_t uuid = 0;
    uint16_t valueHandle = 0;
    uint8_t properties = 0;
    std::vector<HostDescriptorDef> descriptors;
};

struct HostServiceDef {
    uint16_t uuid = 0;
    uint16_t startHandle = 0;
    uint16_t endHandle = 0;
    std::vector<HostCharacteristicDef> characteristics;
};

BleAddress makeBleAddress(uint64_t address48);   // most significant byte = high byte of nap
uint64_t bleAddressValue(const BleAddress &address);

HostEvent hostReadyEvent(bool ready);
HostEvent hostDeviceFoundEvent(const BleAddress &address, const char *nameOrNull, int16_t rssi = -60);
HostEvent hostConnectResultEvent(uint16_t status, uint32_t connId, const BleAddress &address = {});
HostEvent hostJustWorksEvent(const BleAddress &address, uint32_t connId = 0);
HostEvent hostFailureEvent(uint16_t failure, uint32_t connId = 0);
HostEvent hostConnUpdateEvent(uint16_t identifier, uint32_t connId = 0);
HostEvent hostDatabaseEvent(uint16_t status, const std::vector<HostServiceDef> &services);
HostEvent hostStatusEvent(uint16_t status);
HostEvent hostWriteResultEvent(uint16_t status, uint32_t connId, uint16_t handle);
HostEvent hostNotificationEvent(uint32_t connId, uint16_t handle, const uint8_t *data, size_t length);
