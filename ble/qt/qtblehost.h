// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The host layer over Qt Bluetooth: the worker's calls go to the computer's own Bluetooth
// adapter (BlueZ, WinRT or CoreBluetooth underneath), and its events come back as the
// dongle's would.
//
// Qt Bluetooth objects need an event loop, and the worker's thread blocks in its message
// queue instead of running one. So the adapter, the scan and the links live on a thread of
// this layer's own, which alone touches them. A call from any other thread is carried over
// to it and waits there for its answer, but only for a bounded time: Qt's BlueZ backend makes
// synchronous D-Bus calls, and a bluetoothd that stops answering holds the layer's thread
// for up to 25 s each. A call whose answer does not come in time answers as the contract
// lets it: refused, if the layer's thread had not started on it (it then never runs), or
// accepted, with its outcome to come as events. A call made on the layer's thread runs at
// once.
#pragma once

#include "hostlayer.h"

#include <chrono>
#include <functional>
#include <memory>

class LayerState;
class QThread;
class QtBleEngine;

class QtBleHost : public HostBackend
{
public:
    struct Options {
        // A connection attempt that has not come up by then fails with event 4.
        int connectTimeoutMs = 10000;
        // A write by handle that the peer has not confirmed by then fails with event 267.
        int writeTimeoutMs = 5000;
        // The longest any call waits for the layer's thread, all included.
        int callBudgetMs = 400;
        // How long a call that must know whether bluetoothd answers asks it.
        int probeTimeoutMs = 200;
        // How long destruction waits for the layer's thread to end before it leaves it to
        // end on its own.
        int shutdownWaitMs = 300;
    };

    QtBleHost();
    explicit QtBleHost(const Options &options);
    // Returns within shutdownWaitMs: a layer's thread held in the stack is left to end (and
    // clean up) once the stack lets it go, or with the process.
    ~QtBleHost() override;
    QtBleHost(const QtBleHost &) = delete;
    QtBleHost &operator=(const QtBleHost &) = delete;

    // The layer's own thread (tests make calls on it).
    QThread *layerThread() { return thread; }

    bool init(const HostEventTarget &target) override;
    bool start() override;
    bool startLeScan() override;
    bool stopLeSearch() override;
    bool stopDeviceSearch() override;
    bool cancel() override;
    bool setConnectionParams(uint16_t scanInterval, uint16_t scanWindow, uint16_t intervalMin,
                             uint16_t intervalMax, uint16_t latency,
                             uint16_t supervisionTimeout) override;
    bool connect(const BleAddress &address) override;
    bool disconnect(uint32_t connId) override;
    bool justWorksResult(const BleAddress &address, uint8_t accept, uint8_t bond) override;
    bool acceptConnUpdate(uint32_t connId, uint16_t identifier, uint8_t accept) override;
    bool discoverDatabase(uint32_t connId) override;
    bool writeConfiguration(uint32_t connId, uint16_t descriptorHandle, uint16_t valueHandle,
                            uint16_t value) override;
    bool writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset, uint16_t length,
                           const uint8_t *data) override;

private:
    // How a call answers when the layer's thread does not finish it in time.
    enum class Late {
        Refuse,   // not started yet: it is dropped and the call answers zero; once started,
                  // it answers non-zero and its outcome comes as events
        Accept,   // always goes on and answers non-zero: its effect holds already
    };
    using Clock = std::chrono::steady_clock;

    // The moment by which a call that starts now must have returned.
    Clock::time_point callDeadline() const;
    // Runs `body` on the layer's thread and returns its result, waiting until `deadline` at
    // most. `lateRefusal` runs on the layer's thread when the caller had stopped waiting and
    // was told yes, but `body` then refused.
    bool carry(std::function<bool()> body, Late late, Clock::time_point deadline,
               std::function<void()> lateRefusal = {});
    // Whether the stack answers with its adapter switched on, asked from the calling thread
    // by `deadline`.
    bool stackReady(Clock::time_point deadline) const;
    bool onLayerThread() const;

    const Options options;
    const std::shared_ptr<LayerState> state;
    QThread *const thread;
    QtBleEngine *const engine;   // lives on `thread`, deleted there when it finishes
};
