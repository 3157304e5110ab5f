// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Linked into every program of a ThreadSanitizer build (IMU_SANITIZE=thread), and into
// nothing else.
//
// Qt is not built with ThreadSanitizer. A queued call (a signal to an object on another
// thread, or QMetaObject::invokeMethod with a queued connection) reaches the receiving thread
// through Qt's event queue, which Qt guards with its own futex-based mutex; TSan cannot see
// that ordering, and would report every slot's reads of what the emitting thread wrote
// before emitting (the arguments' contents, shared strings) as races.
//
// These hooks describe it instead. Every signal emission releases a token on the emitting
// thread, and every queued call acquires that token on the receiving thread before its slot
// runs. This is no stronger than Qt itself: the event queue's mutex orders each posting
// before every later delivery. Accesses outside that path stay checked as before, and
// queued calls that do not start with a signal release explicitly (see threadorder.h).
//
// Qt copies a queued signal's arguments after the emission's begin hook. Copies made inside
// Qt are invisible to the sanitizer, but the records the worker sends by value, and the
// outcome of a write, are copied by constructors instantiated in our own, instrumented code. Those types are registered here
// before anyone else registers them, with a copy that releases the token once it is written,
// so the receiving thread's acquire covers the copy it reads.
#include "btthread.h"
#include "imutypes.h"
#include "threadorder.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaType>
#include <QObject>

#include <new>
#include <type_traits>

// Qt's signal-spy hook (QtCore exports it for test tools; the declaration is in its private
// qobject_p.h, repeated here with the same layout).
struct QSignalSpyCallbackSet
{
    typedef void (*BeginCallback)(QObject *caller, int signal_or_method_index, void **argv);
    typedef void (*EndCallback)(QObject *caller, int signal_or_method_index);
    BeginCallback signal_begin_callback, slot_begin_callback;
    EndCallback signal_end_callback, slot_end_callback;
};
void qt_register_signal_spy_callbacks(QSignalSpyCallbackSet *callback_set);

namespace {

void signalEmitted(QObject *, int, void **)
{
    ThreadOrder::release(ThreadOrder::queuedCallToken());
}

bool eventDelivered(void **data)
{
    const auto *event = static_cast<const QEvent *>(data[1]);
    if (event && event->type() == QEvent::MetaCall)
        ThreadOrder::acquire(ThreadOrder::queuedCallToken());
    return false;  // deliver it as usual
}

QSignalSpyCallbackSet callbacks = {signalEmitted, nullptr, nullptr, nullptr};

template <typename T>
void *copyThenRelease(void *where, const void *copy)
{
    T *made = copy ? new (where) T(*static_cast<const T *>(copy)) : new (where) T;
    ThreadOrder::release(ThreadOrder::queuedCallToken());
    return made;
}

template <typename T>
void destruct(void *record)
{
    static_cast<T *>(record)->~T();
}

// A later registration under the same name keeps these functions (Qt checks the size and the
// flags, so an enumeration is registered with the flags Qt gives one).
template <typename T>
void registerCopyThenRelease(const char *name)
{
    const QMetaType::TypeFlags flags = std::is_enum<T>::value
            ? QMetaType::MovableType | QMetaType::IsEnumeration | QMetaType::WasDeclaredAsMetaType
            : QMetaType::NeedsConstruction | QMetaType::NeedsDestruction | QMetaType::MovableType;
    QMetaType::registerNormalizedType(name, destruct<T>, copyThenRelease<T>, int(sizeof(T)), flags, nullptr);
}

struct Install
{
    Install()
    {
        registerCopyThenRelease<IMU_POS>("IMU_POS");
        registerCopyThenRelease<IMU_RAW>("IMU_RAW");
        registerCopyThenRelease<BtThread::WriteOutcome>("BtThread::WriteOutcome");
        qt_register_signal_spy_callbacks(&callbacks);
        QInternal::registerCallback(QInternal::EventNotifyCallback, eventDelivered);
    }
} install;

} // namespace
