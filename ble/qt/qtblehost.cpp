#include "qtblehost.h"

#include "hostevents.h"
#include "qtbleengine.h"
#include "threadorder.h"

#include <type_traits>
#include <utility>

namespace {

// A call's answer. Qt stores it through the pointer handed to invokeMethod, on the layer's
// thread, once the call has returned; the caller reads it when invokeMethod lets it go on.
template <typename R>
struct Answer {
    R value{};

    Answer() = default;
    explicit Answer(R v) : value(std::move(v)) {}
    Answer &operator=(Answer &&other) noexcept(std::is_nothrow_move_assignable<R>::value)
    {
        value = std::move(other.value);
        // The layer's thread is done with the call and its answer.
        ThreadOrder::release(this);
        return *this;
    }
};

// A call carried to the layer's thread. invokeMethod moves it into a slot object of its
// own, runs it there and frees it on whichever thread lets go of it last. The hand-overs go
// through Qt's event queue and semaphore, which ThreadSanitizer cannot see, so they are
// marked where the call itself is touched (threadorder.h).
template <typename F>
class LayerCall
{
public:
    using Result = decltype(std::declval<F &>()());

    LayerCall(F call, Answer<Result> *answer) : f(std::move(call)), answer(answer) {}
    // The move into the slot object comes last on the calling thread: everything written
    // there so far, the slot object included, is ordered before the layer's thread runs it.
    LayerCall(LayerCall &&other) noexcept(std::is_nothrow_move_constructible<F>::value)
        : f(std::move(other.f)), answer(other.answer)
    {
        ThreadOrder::release(ThreadOrder::queuedCallToken());
    }
    LayerCall(const LayerCall &) = delete;
    LayerCall &operator=(const LayerCall &) = delete;
    LayerCall &operator=(LayerCall &&) = delete;
    // Runs before the slot object is freed, on either thread: the layer's thread has
    // finished with it by then.
    ~LayerCall() { ThreadOrder::acquire(answer); }

    Answer<Result> operator()() { return Answer<Result>(f()); }

private:
    F f;
    Answer<Result> *answer;
};

} // namespace

QtBleHost::QtBleHost()
    : QtBleHost(Options())
{
}

QtBleHost::QtBleHost(const Options &opts)
    : options(opts),
      engine(new QtBleEngine(opts.connectTimeoutMs))
{
    thread.setObjectName(QStringLiteral("QtBleHost"));
    engine->moveToThread(&thread);
    // The engine and everything it made belong to the layer's thread, and end there when the
    // thread finishes: no call is needed to destroy them.
    QObject::connect(&thread, &QThread::finished, engine, &QObject::deleteLater);
    thread.start();
}

QtBleHost::~QtBleHost()
{
    thread.quit();
    thread.wait();
}

template <typename F>
auto QtBleHost::onLayerThread(F f) -> decltype(f())
{
    // A call made on the layer's thread runs at once: waiting there would wait for itself.
    if (QThread::currentThread() == &thread)
        return f();
    Answer<decltype(f())> answer;
    QMetaObject::invokeMethod(engine, LayerCall<F>(std::move(f), &answer),
                              Qt::BlockingQueuedConnection, &answer);
    ThreadOrder::acquire(&answer);
    return answer.value;
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
    // The confirmation arrives on the layer's thread, so a call made there does not wait.
    if (QThread::currentThread() == &thread)
        return true;
    return result->wait(options.writeTimeoutMs);
}
