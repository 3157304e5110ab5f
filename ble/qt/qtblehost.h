// The host layer over Qt Bluetooth: the worker's calls go to the computer's own Bluetooth
// adapter (BlueZ, WinRT or CoreBluetooth underneath), and its events come back as the
// dongle's would.
//
// Qt Bluetooth objects need an event loop, and the worker's thread blocks in its message
// queue instead of running one. So the adapter, the scan and the links live on a thread of
// this layer's own, which alone touches them and posts every event, holding no lock. A call
// from any other thread is carried over to it and waits there for its answer; that thread
// never waits for the caller's, so the wait always ends. A call made on the layer's thread
// runs at once.
#pragma once

#include "hostlayer.h"

#include <QThread>

class QtBleEngine;

class QtBleHost : public HostBackend
{
public:
    struct Options {
        // A connection attempt that has not come up by then fails with event 4.
        int connectTimeoutMs = 10000;
        // A write by handle that the peer has not confirmed by then counts as failed.
        int writeTimeoutMs = 5000;
    };

    QtBleHost();
    explicit QtBleHost(const Options &options);
    ~QtBleHost() override;
    QtBleHost(const QtBleHost &) = delete;
    QtBleHost &operator=(const QtBleHost &) = delete;

    // The layer's own thread (tests make calls on it).
    QThread *layerThread() { return &thread; }

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
    // Runs `f` on the layer's thread and returns its result: directly when already there,
    // otherwise queued to that thread while the caller blocks.
    template <typename F>
    auto onLayerThread(F f) -> decltype(f());

    const Options options;
    QThread thread;
    QtBleEngine *const engine;   // lives on `thread`, deleted there when it finishes
};
