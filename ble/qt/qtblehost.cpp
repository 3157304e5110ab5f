#include "qtblehost.h"

#include "hostevents.h"
#include "qtbleengine.h"
#include "threadorder.h"

#include <functional>

QtBleHost::QtBleHost()
    : QtBleHost(Options())
{
}

QtBleHost::QtBleHost(const Options &opts)
    : options(opts)
{
    thread.setObjectName(QStringLiteral("QtBleHost"));
    engine = new QtBleEngine(options.connectTimeoutMs);
    engine->moveToThread(&thread);
    // Connected by name: the last call deletes the engine and with it this connection, and
    // a connection by name leaves no slot object behind in this thread for Qt to free.
    QObject::connect(engine, SIGNAL(callRequested(void *)), engine, SLOT(runCall(void *)),
                     Qt::BlockingQueuedConnection);
    thread.start();
    running = true;
}

QtBleHost::~QtBleHost()
{
    // The engine and everything it made belong to the layer's thread and go with it there.
    onLayerThread([this] {
        delete engine;
        return true;
    });
    running = false;
    engine = nullptr;
    thread.quit();
    thread.wait();
}

template <typename F>
auto QtBleHost::onLayerThread(F f) -> decltype(f())
{
    using Result = decltype(f());
    if (!running)
        return Result{};
    if (QThread::currentThread() == &thread)
        return f();
    Result result{};
    std::function<void()> call = [&result, &f] {
        result = f();
        ThreadOrder::release(&result);
    };
    // The call goes over Qt's event queue as a blocking queued signal, and the result comes
    // back when Qt's semaphore lets this thread go on.
    emit engine->callRequested(&call);
    ThreadOrder::acquire(&result);
    return result;
}

bool QtBleHost::init(const HostEventTarget &target)
{
    return onLayerThread([&] { return engine->init(target); });
}

bool QtBleHost::start()
{
    return onLayerThread([&] { return engine->start(); });
}

bool QtBleHost::startLeScan()
{
    return onLayerThread([&] { return engine->startScan(); });
}

bool QtBleHost::stopLeSearch()
{
    return onLayerThread([&] { return engine->stopScan(); });
}

bool QtBleHost::stopDeviceSearch()
{
    // Classic inquiry is never started; LE scanning is the only search there is.
    return onLayerThread([&] { return engine->stopScan(); });
}

bool QtBleHost::cancel()
{
    return onLayerThread([&] { return engine->cancel(); });
}

bool QtBleHost::setConnectionParams(uint16_t, uint16_t, uint16_t intervalMin,
                                    uint16_t intervalMax, uint16_t, uint16_t)
{
    // The operating system picks the connection parameters; ours are only checked.
    return onLayerThread([&] { return engine->isStarted() && intervalMin <= intervalMax; });
}

bool QtBleHost::connect(const BleAddress &address)
{
    const uint64_t key = bleAddressValue(address);
    return onLayerThread([&] { return engine->connectTo(key); });
}

bool QtBleHost::disconnect(uint32_t connId)
{
    return onLayerThread([&] { return engine->disconnect(connId); });
}

bool QtBleHost::justWorksResult(const BleAddress &address, uint8_t, uint8_t)
{
    // The operating system pairs on its own; the answer is always yes for a device we know.
    const uint64_t key = bleAddressValue(address);
    return onLayerThread([&] { return engine->knowsDevice(key); });
}

bool QtBleHost::acceptConnUpdate(uint32_t connId, uint16_t, uint8_t)
{
    // Parameter updates are settled between the operating system and the peer.
    return onLayerThread([&] { return engine->hasLink(connId); });
}

bool QtBleHost::discoverDatabase(uint32_t connId)
{
    return onLayerThread([&] { return engine->discoverDatabase(connId); });
}

bool QtBleHost::writeConfiguration(uint32_t connId, uint16_t descriptorHandle,
                                   uint16_t valueHandle, uint16_t value)
{
    return onLayerThread([&] {
        return engine->writeConfiguration(connId, descriptorHandle, valueHandle, value);
    });
}

bool QtBleHost::writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset,
                                  uint16_t length, const uint8_t *data)
{
    // Qt writes whole values only.
    if (offset != 0 || (length > 0 && !data))
        return false;
    const QByteArray bytes(reinterpret_cast<const char *>(data), length);
    const std::shared_ptr<WriteResult> result =
            onLayerThread([&] { return engine->write(connId, handle, bytes); });
    if (!result)
        return false;
    // On the layer's own thread the confirmation could never arrive while we wait for it.
    if (QThread::currentThread() == &thread)
        return true;
    return result->wait(options.writeTimeoutMs);
}
