#include "countingbackend.h"

#include <QMutexLocker>

int CountingBackend::count(const char *call) const
{
    QMutexLocker lock(&mutex);
    return counts.value(QByteArray(call));
}

bool CountingBackend::counted(const char *call, bool result)
{
    QMutexLocker lock(&mutex);
    ++counts[QByteArray(call)];
    return result;
}

bool CountingBackend::init(const HostEventTarget &target)
{
    return counted("init", inner.init(target));
}

bool CountingBackend::start()
{
    return counted("start", inner.start());
}

bool CountingBackend::startLeScan()
{
    return counted("startLeScan", inner.startLeScan());
}

bool CountingBackend::stopLeSearch()
{
    return counted("stopLeSearch", inner.stopLeSearch());
}

bool CountingBackend::stopDeviceSearch()
{
    return counted("stopDeviceSearch", inner.stopDeviceSearch());
}

bool CountingBackend::cancel()
{
    return counted("cancel", inner.cancel());
}

bool CountingBackend::setConnectionParams(uint16_t scanInterval, uint16_t scanWindow,
                                          uint16_t intervalMin, uint16_t intervalMax,
                                          uint16_t latency, uint16_t supervisionTimeout)
{
    return counted("setConnectionParams",
                   inner.setConnectionParams(scanInterval, scanWindow, intervalMin, intervalMax,
                                             latency, supervisionTimeout));
}

bool CountingBackend::connect(const BleAddress &address)
{
    return counted("connect", inner.connect(address));
}

bool CountingBackend::disconnect(uint32_t connId)
{
    return counted("disconnect", inner.disconnect(connId));
}

bool CountingBackend::justWorksResult(const BleAddress &address, uint8_t accept, uint8_t bond)
{
    return counted("justWorksResult", inner.justWorksResult(address, accept, bond));
}

bool CountingBackend::acceptConnUpdate(uint32_t connId, uint16_t identifier, uint8_t accept)
{
    return counted("acceptConnUpdate", inner.acceptConnUpdate(connId, identifier, accept));
}

bool CountingBackend::discoverDatabase(uint32_t connId)
{
    return counted("discoverDatabase", inner.discoverDatabase(connId));
}

bool CountingBackend::writeConfiguration(uint32_t connId, uint16_t descriptorHandle,
                                         uint16_t valueHandle, uint16_t value)
{
    return counted("writeConfiguration",
                   inner.writeConfiguration(connId, descriptorHandle, valueHandle, value));
}

bool CountingBackend::writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset,
                                        uint16_t length, const uint8_t *data)
{
    return counted("writeCharByHandle",
                   inner.writeCharByHandle(connId, handle, offset, length, data));
}
