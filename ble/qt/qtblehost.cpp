// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "qtblehost.h"

#include "adapterwatch.h"
#include "hostevents.h"
#include "layerstate.h"
#include "qtbleengine.h"
#include "threadorder.h"

#include <QLoggingCategory>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>

Q_LOGGING_CATEGORY(lcHost, "imucal.qtble.host", QtWarningMsg)

namespace {

// One call carried to the layer's thread. Its caller waits for it a bounded time; the
// layer's thread runs it unless the caller dropped it first.
struct LayerCall {
    enum class Phase { Queued, Running, Done, Dropped };

    std::function<bool()> body;
    std::function<void()> lateRefusal;
    std::shared_ptr<LayerState> state;
    std::mutex mutex;
    std::condition_variable finished;
    Phase phase = Phase::Queued;
    bool result = false;
    bool callerGone = false;   // the caller stopped waiting and answered yes

    void run()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (phase == Phase::Dropped) {
                --state->overdue;
                return;
            }
            phase = Phase::Running;
        }
        const bool answer = body();
        bool late = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            phase = Phase::Done;
            result = answer;
            late = callerGone;
        }
        finished.notify_all();
        if (late) {
            --state->overdue;
            if (!answer && lateRefusal)
                lateRefusal();
        }
    }
};

// What Qt's event queue carries to the layer's thread. The move into Qt's slot object is
// the last thing the calling thread does with it, so the release there orders everything
// before it, the slot object included, before the layer's thread runs it. Qt frees the slot
// object on whichever thread lets go of it last, after a reference count of its own: the
// release after the run and the acquire before the free say so (threadorder.h).
class Carried
{
public:
    explicit Carried(std::shared_ptr<LayerCall> c) : call(std::move(c)) {}
    Carried(Carried &&other) noexcept : call(std::move(other.call))
    {
        ThreadOrder::release(ThreadOrder::queuedCallToken());
    }
    Carried(const Carried &) = delete;
    Carried &operator=(const Carried &) = delete;
    Carried &operator=(Carried &&) = delete;
    ~Carried() { ThreadOrder::acquire(this); }

    void operator()()
    {
        call->run();
        ThreadOrder::release(this);
    }

private:
    std::shared_ptr<LayerCall> call;
};

// Layer threads left held in a call to the stack that have not ended yet.
std::atomic<int> heldThreads{0};

#ifdef __GLIBC__
// Qt's D-Bus teardown at exit destroys the pending call that a held thread waits on, and
// waits for it for good. A process ending while a layer thread is still held ends here
// instead, after the exit handlers registered later than this one (the program's own).
void endIfHeld(int status, void *)
{
    if (heldThreads.load() > 0) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
}
#endif

} // namespace

QtBleHost::QtBleHost()
    : QtBleHost(Options())
{
}

QtBleHost::QtBleHost(const Options &opts)
    : options(opts),
      state(std::make_shared<LayerState>()),
      thread(new QThread),
      engine(new QtBleEngine(state, opts.connectTimeoutMs, opts.writeTimeoutMs))
{
    thread->setObjectName(QStringLiteral("QtBleHost"));
    engine->moveToThread(thread);
    // The engine and everything it made belong to the layer's thread, and end there when the
    // thread finishes: no call is needed to destroy them.
    QObject::connect(thread, &QThread::finished, engine, &QObject::deleteLater);
    thread->start();
}

QtBleHost::~QtBleHost()
{
    thread->quit();
    if (thread->wait(unsigned(std::max(options.shutdownWaitMs, 0)))) {
        delete thread;
        return;
    }
    // Held in a call to a stack that does not answer. Nothing of this object is left for it
    // to touch: it ends, with the engine, once the stack lets it go, or with the process.
    qCWarning(lcHost) << "the Bluetooth stack holds the layer's thread; leaving it to end on its own";
#ifdef __GLIBC__
    // Registered now, after Qt's D-Bus set itself up, so that it runs before Qt's teardown.
    static const bool endsHeld = on_exit(endIfHeld, nullptr) == 0;
    Q_UNUSED(endsHeld);
#endif
    ++heldThreads;
    auto held = std::make_shared<std::atomic<bool>>(true);
    const auto ended = [held] {
        if (held->exchange(false))
            --heldThreads;
    };
    QObject::connect(thread, &QThread::finished, ended);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    if (thread->isFinished()) {
        ended();
        delete thread;
    }
}

bool QtBleHost::onLayerThread() const
{
    return QThread::currentThread() == thread;
}

QtBleHost::Clock::time_point QtBleHost::callDeadline() const
{
    return Clock::now() + std::chrono::milliseconds(options.callBudgetMs);
}

bool QtBleHost::carry(std::function<bool()> body, Late late, Clock::time_point deadline,
                      std::function<void()> lateRefusal)
{
    // A call made on the layer's thread runs at once: waiting there would wait for itself.
    if (onLayerThread())
        return body();
    auto call = std::make_shared<LayerCall>();
    call->body = std::move(body);
    call->lateRefusal = std::move(lateRefusal);
    call->state = state;
    QMetaObject::invokeMethod(engine, Carried(call), Qt::QueuedConnection);

    std::unique_lock<std::mutex> lock(call->mutex);
    // Behind a call that is overdue already, nothing gets done in time: answer at once.
    if (state->overdue.load() == 0)
        call->finished.wait_until(lock, deadline, [&] { return call->phase == LayerCall::Phase::Done; });
    if (call->phase == LayerCall::Phase::Done)
        return call->result;
    ++state->overdue;
    if (late == Late::Refuse && call->phase == LayerCall::Phase::Queued) {
        call->phase = LayerCall::Phase::Dropped;
        return false;
    }
    call->callerGone = true;
    return true;
}

bool QtBleHost::stackReady(Clock::time_point deadline) const
{
    if (onLayerThread())
        return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const int wait = int(std::min<long long>(options.probeTimeoutMs, left.count() / 2));
    return wait > 0
            && AdapterWatch::probe(state->adapterPath(), wait) == AdapterWatch::Stack::Ready;
}

bool QtBleHost::init(const HostEventTarget &target)
{
    const uint32_t generation = state->beginInit(target);
    QtBleEngine *e = engine;
    return carry([e, generation] { return e->init(generation); }, Late::Accept, callDeadline());
}

bool QtBleHost::start()
{
    state->started = true;
    state->settling = true;
    QtBleEngine *e = engine;
    return carry([e] { return e->start(); }, Late::Accept, callDeadline());
}

bool QtBleHost::startLeScan()
{
    if (!state->started)
        return false;
    const auto deadline = callDeadline();
    // A stack that does not answer, or has no adapter switched on, cannot scan: said at once,
    // without handing the layer's thread to it. (While the layer is still asking where the
    // adapter is, after start() or bluetoothd's return, it scans once it knows.)
    if (!state->settling && !stackReady(deadline)) {
        state->post(state->currentInit(), hostReadyEvent(false));
        return false;
    }
    state->scanWanted = true;
    QtBleEngine *e = engine;
    return carry([e] { return e->startScan(); }, Late::Accept, deadline);
}

bool QtBleHost::stopLeSearch()
{
    state->scanWanted = false;
    QtBleEngine *e = engine;
    return carry([e] { return e->stopScan(); }, Late::Accept, callDeadline());
}

bool QtBleHost::stopDeviceSearch()
{
    // Classic inquiry is never started; LE scanning is the only search there is.
    return stopLeSearch();
}

bool QtBleHost::cancel()
{
    ++state->cancels;
    QtBleEngine *e = engine;
    return carry([e] { return e->cancel(); }, Late::Accept, callDeadline());
}

bool QtBleHost::setConnectionParams(uint16_t, uint16_t, uint16_t intervalMin,
                                    uint16_t intervalMax, uint16_t, uint16_t)
{
    // The operating system picks the connection parameters; ours are only checked.
    return state->started && intervalMin <= intervalMax;
}

bool QtBleHost::connect(const BleAddress &address)
{
    const auto deadline = callDeadline();
    if (!state->started || !stackReady(deadline))
        return false;
    const uint64_t key = bleAddressValue(address);
    const uint32_t mark = state->cancels.load();
    const uint32_t generation = state->currentInit();
    QtBleEngine *e = engine;
    std::shared_ptr<LayerState> s = state;
    return carry([e, key, mark] { return e->connectTo(key, mark); }, Late::Refuse, deadline,
                 [s, key, mark, generation] {
                     if (s->cancels.load() == mark)
                         s->post(generation, hostConnectResultEvent(HostStatusConnectFailed, 0,
                                                                    makeBleAddress(key)));
                 });
}

bool QtBleHost::disconnect(uint32_t connId)
{
    // Nothing more is posted for the link from here on, whenever the layer's thread gets to it.
    state->beginDisconnect(connId);
    QtBleEngine *e = engine;
    std::shared_ptr<LayerState> s = state;
    return carry([e, s, connId] {
        const bool had = e->disconnect(connId);
        s->endDisconnect(connId);
        return had;
    }, Late::Accept, callDeadline());
}

bool QtBleHost::justWorksResult(const BleAddress &address, uint8_t, uint8_t)
{
    // The operating system pairs on its own; the answer is always yes for a device we know.
    const uint64_t key = bleAddressValue(address);
    QtBleEngine *e = engine;
    return carry([e, key] { return e->knowsDevice(key); }, Late::Refuse, callDeadline());
}

bool QtBleHost::acceptConnUpdate(uint32_t connId, uint16_t, uint8_t)
{
    // Parameter updates are settled between the operating system and the peer.
    QtBleEngine *e = engine;
    return carry([e, connId] { return e->hasLink(connId); }, Late::Refuse, callDeadline());
}

bool QtBleHost::discoverDatabase(uint32_t connId)
{
    const uint32_t generation = state->currentInit();
    QtBleEngine *e = engine;
    std::shared_ptr<LayerState> s = state;
    return carry([e, connId] { return e->discoverDatabase(connId); }, Late::Refuse, callDeadline(),
                 [s, connId, generation] {
                     if (!s->disconnecting(connId))
                         s->post(generation, hostDatabaseEvent(HostStatusDiscoveryFailed, {}));
                 });
}

bool QtBleHost::writeConfiguration(uint32_t connId, uint16_t descriptorHandle,
                                   uint16_t valueHandle, uint16_t value)
{
    QtBleEngine *e = engine;
    return carry([e, connId, descriptorHandle, valueHandle, value] {
        return e->writeConfiguration(connId, descriptorHandle, valueHandle, value);
    }, Late::Refuse, callDeadline());
}

bool QtBleHost::writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset,
                                  uint16_t length, const uint8_t *data)
{
    // Qt writes whole values only.
    if (offset != 0 || (length > 0 && !data))
        return false;
    const auto deadline = callDeadline();
    // Handed to a bluetoothd that does not answer, a write would go out whenever it wakes up,
    // long after it was reported as not confirmed: such a write is refused at once.
    if (!stackReady(deadline))
        return false;
    const QByteArray bytes(reinterpret_cast<const char *>(data), length);
    const auto due = Clock::now() + std::chrono::milliseconds(options.writeTimeoutMs);
    const uint32_t generation = state->currentInit();
    QtBleEngine *e = engine;
    std::shared_ptr<LayerState> s = state;
    return carry([e, connId, handle, bytes, due] { return e->write(connId, handle, bytes, due); },
                 Late::Refuse, deadline,
                 [s, connId, handle, generation] {
                     if (!s->disconnecting(connId))
                         s->post(generation, hostWriteResultEvent(HostStatusWriteFailed, connId, handle));
                 });
}
