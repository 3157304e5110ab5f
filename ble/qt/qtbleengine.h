// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The adapter side of the Qt Bluetooth host layer: watches the local adapter, scans, and
// opens and tracks the links. Lives on the layer's thread; QtBleHost calls it only there.
#pragma once

#include "layerstate.h"

#include <QBluetoothDeviceInfo>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>

class AdapterWatch;
class QBluetoothDeviceDiscoveryAgent;
class QtBleLink;

class QtBleEngine : public QObject
{
    Q_OBJECT

public:
    // How many devices seen in scans are remembered for connecting to them by what the scan
    // saw; the oldest seen are forgotten first (and reached by address alone).
    static constexpr size_t KeptDevices = 256;

    QtBleEngine(std::shared_ptr<LayerState> state, int connectTimeoutMs, int writeTimeoutMs,
                QObject *parent = nullptr);
    ~QtBleEngine() override;

    bool init(uint32_t generation);
    bool start();
    bool startScan();
    bool stopScan();
    bool cancel();
    // `cancelMark`: LayerState::cancels when the caller asked.
    bool connectTo(uint64_t key, uint32_t cancelMark);
    bool disconnect(uint32_t connId);
    bool knowsDevice(uint64_t key) const;
    bool hasLink(uint32_t connId) const;
    bool discoverDatabase(uint32_t connId);
    bool writeConfiguration(uint32_t connId, uint16_t descriptorHandle, uint16_t valueHandle,
                            uint16_t value);
    bool write(uint32_t connId, uint16_t valueHandle, const QByteArray &data,
               std::chrono::steady_clock::time_point deadline);

private:
    void post(HostEvent event);
    void onAdapterKnown();
    void onAdapterLost();
    void onDeviceSeen(const QBluetoothDeviceInfo &info);
    void onLinkFinished(uint32_t connId);
    QBluetoothDeviceDiscoveryAgent *makeAgent();
    void dropAgent();
    QtBleLink *link(uint32_t connId) const;
    void closeAll();

    const std::shared_ptr<LayerState> state;
    const int connectTimeoutMs;
    const int writeTimeoutMs;
    uint32_t generation = 0;
    bool initialised = false;
    bool started = false;
    bool awaitingStart = false;   // event 0 follows the next refresh
    bool scanOnceKnown = false;   // a scan asked for while the adapter was being looked for
    AdapterWatch *watch = nullptr;
    QBluetoothDeviceDiscoveryAgent *agent = nullptr;
    // Devices seen in scans, by key, with the order they were first seen in.
    std::map<uint64_t, QBluetoothDeviceInfo> devices;
    std::deque<uint64_t> deviceOrder;
    std::map<uint32_t, QtBleLink *> links;
    uint32_t nextConnId = 1;
};
