// A host backend that passes every call on to another one and counts the calls by name, so a
// test can tell when the worker has acted on an event that changes nothing on screen.
#pragma once

#include "hostlayer.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>

class CountingBackend : public HostBackend
{
public:
    explicit CountingBackend(HostBackend &inner) : inner(inner) {}

    // How often the call of this name (the method names below) has been made.
    int count(const char *call) const;

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
    // Counted after the call returns: a count that has moved means the call is done.
    bool counted(const char *call, bool result);

    HostBackend &inner;
    mutable QMutex mutex;
    QHash<QByteArray, int> counts;
};
