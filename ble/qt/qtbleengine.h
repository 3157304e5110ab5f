// The adapter side of the Qt Bluetooth host layer: finds the local adapter, scans, and opens
// and tracks the links. Lives on the layer's thread; QtBleHost calls it only there.
#pragma once

#include "hostlayer.h"
#include "writeresult.h"

#include <QBluetoothAddress>
#include <QBluetoothDeviceInfo>
#include <QObject>

#include <cstdint>
#include <map>
#include <memory>

class QBluetoothDeviceDiscoveryAgent;
class QtBleLink;

class QtBleEngine : public QObject
{
    Q_OBJECT

public:
    explicit QtBleEngine(int connectTimeoutMs, QObject *parent = nullptr);
    ~QtBleEngine() override;

    bool init(const HostEventTarget &target);
    bool start();
    bool startScan();
    bool stopScan();
    bool cancel();
    bool connectTo(uint64_t key);
    bool disconnect(uint32_t connId);
    bool knowsDevice(uint64_t key) const;
    bool hasLink(uint32_t connId) const;
    bool isStarted() const { return started; }
    bool discoverDatabase(uint32_t connId);
    bool writeConfiguration(uint32_t connId, uint16_t descriptorHandle, uint16_t valueHandle,
                            uint16_t value);
    std::shared_ptr<WriteResult> write(uint32_t connId, uint16_t valueHandle,
                                       const QByteArray &data);

private:
    void onDeviceSeen(const QBluetoothDeviceInfo &info);
    void onLinkFinished(uint32_t connId);
    QtBleLink *link(uint32_t connId) const;
    void closeAll();

    const int connectTimeoutMs;
    HostEventTarget target;
    bool initialised = false;
    bool started = false;
    bool ready = false;
    QBluetoothAddress adapter;
    QBluetoothDeviceDiscoveryAgent *agent = nullptr;
    // Every device seen since start, by key: a connection is made from what the scan saw.
    std::map<uint64_t, QBluetoothDeviceInfo> devices;
    std::map<uint32_t, QtBleLink *> links;
    uint32_t nextConnId = 1;
};
