// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "qtblelink.h"

#include "protocol.h"

#include <QLoggingCategory>

#include <algorithm>

Q_LOGGING_CATEGORY(lcLink, "imucal.qtble.link", QtWarningMsg)

namespace {

// GATT's client characteristic configuration descriptor: notifications are switched there.
const QBluetoothUuid ClientConfiguration(QBluetoothUuid::ClientCharacteristicConfiguration);

uint16_t shortUuid(const QBluetoothUuid &uuid)
{
    bool ok = false;
    const quint16 value = uuid.toUInt16(&ok);
    return ok ? value : 0;
}

} // namespace

QtBleLink::QtBleLink(uint32_t connId, const BleAddress &peer, QLowEnergyController *lowEnergy,
                     const LinkContext &linkContext, QObject *parent)
    : QObject(parent),
      id(connId),
      address(peer),
      controller(lowEnergy),
      context(linkContext)
{
    controller->setParent(this);
    // Coarse timers may fire up to 5 % early; these limits are promises to the caller.
    connectTimer.setSingleShot(true);
    connectTimer.setTimerType(Qt::PreciseTimer);
    connectTimer.setInterval(context.connectTimeoutMs);
    connect(&connectTimer, &QTimer::timeout, this, &QtBleLink::onConnectTimeout);
    writeTimer.setSingleShot(true);
    writeTimer.setTimerType(Qt::PreciseTimer);
    connect(&writeTimer, &QTimer::timeout, this, &QtBleLink::onWriteTimer);
    closeTimer.setSingleShot(true);
    closeTimer.setInterval(CloseGraceMs);
    connect(&closeTimer, &QTimer::timeout, this, &QObject::deleteLater);
    connect(controller, &QLowEnergyController::connected, this, &QtBleLink::onConnected);
    connect(controller, &QLowEnergyController::disconnected, this, &QtBleLink::onDisconnected);
    connect(controller, QOverload<QLowEnergyController::Error>::of(&QLowEnergyController::error),
            this, &QtBleLink::onControllerError);
    connect(controller, &QLowEnergyController::discoveryFinished, this,
            &QtBleLink::onServicesFound);
}

QtBleLink::~QtBleLink() = default;

// Every event of the link goes through here: none once the worker has asked to disconnect it.
bool QtBleLink::post(HostEvent event)
{
    if (context.state->disconnecting(id))
        return false;
    context.state->post(context.generation, std::move(event));
    return true;
}

// A cancel since the connection was asked for drops it without its event 4.
bool QtBleLink::cancelled() const
{
    return context.state->cancels.load() != context.cancelMark;
}

void QtBleLink::open()
{
    if (state != State::Idle)
        return;
    state = State::Connecting;
    // BlueZ's D-Bus interface has no time limit of its own: a peer that never answers would
    // leave the attempt hanging.
    connectTimer.start();
    controller->connectToDevice();
}

void QtBleLink::close()
{
    if (state != State::Gone)
        retire();
}

void QtBleLink::lose()
{
    if (state == State::Connecting)
        failConnection(HostStatusConnectFailed);
    else if (state == State::Connected)
        linkLost();
}

// Ends the link for good. The controller is let go only once it is disconnected: deleting it
// while connected would leave the peer to Qt's destructor.
void QtBleLink::retire()
{
    state = State::Gone;
    connectTimer.stop();
    writeTimer.stop();
    writes.clear();
    requests.clear();
    writing = false;
    if (controller->state() == QLowEnergyController::UnconnectedState) {
        deleteLater();
        return;
    }
    closeTimer.start();
    controller->disconnectFromDevice();
}

void QtBleLink::onConnected()
{
    if (state != State::Connecting)
        return;
    if (cancelled()) {
        retire();
        emit finished(id);
        return;
    }
    state = State::Connected;
    connectTimer.stop();
    post(hostConnectResultEvent(0, id, address));
}

void QtBleLink::onDisconnected()
{
    switch (state) {
    case State::Connecting:
        failConnection(HostStatusConnectFailed);
        break;
    case State::Connected:
        linkLost();
        break;
    case State::Gone:
        deleteLater();
        break;
    case State::Idle:
        break;
    }
}

void QtBleLink::onControllerError(QLowEnergyController::Error error)
{
    qCInfo(lcLink) << "link" << id << "error" << error << controller->errorString();
    if (state == State::Connecting) {
        failConnection(HostStatusConnectFailed);
    } else if (state == State::Connected) {
        // The link itself going down arrives as disconnected(); other errors end a walk of
        // the database that is under way.
        if (discovering)
            databaseDone(false);
        if (controller->state() == QLowEnergyController::UnconnectedState)
            onDisconnected();
    }
}

void QtBleLink::onConnectTimeout()
{
    if (state == State::Connecting) {
        qCInfo(lcLink) << "link" << id << "timed out";
        failConnection(HostStatusConnectionTimeout);
    }
}

void QtBleLink::failConnection(uint16_t status)
{
    if (!cancelled())
        post(hostConnectResultEvent(status, 0, address));
    retire();
    emit finished(id);
}

// The link went while connected: its writes fail first, then the link itself.
void QtBleLink::linkLost()
{
    qCInfo(lcLink) << "link" << id << "lost";
    discovering = false;
    failWrites();
    post(hostFailureEvent(HostStatusConnectionTimeout, id));
    retire();
    emit finished(id);
}

// --- Database ----------------------------------------------------------------------------

bool QtBleLink::discoverDatabase()
{
    if (state != State::Connected)
        return false;
    if (databaseKnown) {
        post(hostDatabaseEvent(0, database));
        return true;
    }
    if (discovering)
        return true;
    discovering = true;
    if (controller->state() == QLowEnergyController::DiscoveredState)
        onServicesFound();
    else
        controller->discoverServices();
    return true;
}

void QtBleLink::onServicesFound()
{
    if (!discovering || !services.empty())
        return;
    const QList<QBluetoothUuid> uuids = controller->services();
    for (const QBluetoothUuid &uuid : uuids) {
        QLowEnergyService *service = controller->createServiceObject(uuid, this);
        if (!service)
            continue;
        services.push_back(service);
        connect(service, &QLowEnergyService::stateChanged, this,
                [this, service](QLowEnergyService::ServiceState s) { onServiceState(service, s); });
        connect(service, QOverload<QLowEnergyService::ServiceError>::of(&QLowEnergyService::error),
                this, [this, service](QLowEnergyService::ServiceError e) { onServiceError(service, e); });
        connect(service, &QLowEnergyService::characteristicChanged, this,
                &QtBleLink::onCharacteristicChanged);
        connect(service, &QLowEnergyService::characteristicWritten, this,
                [this] { requestDone(true, true); });
        connect(service, &QLowEnergyService::descriptorWritten, this,
                [this] { requestDone(false, true); });
    }
    detailsPending = int(services.size());
    if (detailsPending == 0) {
        databaseDone(true);
        return;
    }
    for (QLowEnergyService *service : services)
        service->discoverDetails();
}

void QtBleLink::onServiceState(QLowEnergyService *service, QLowEnergyService::ServiceState s)
{
    if (s == QLowEnergyService::ServiceDiscovered && discovering && --detailsPending == 0) {
        databaseDone(true);
    } else if (s == QLowEnergyService::InvalidService && state == State::Connected
               && shortUuid(service->serviceUuid()) == Protocol::ServiceUuid) {
        // The peer's database changed and the controller's service is no longer in it: what
        // the worker knows of this link is void.
        linkLost();
    }
}

void QtBleLink::onServiceError(QLowEnergyService *service, QLowEnergyService::ServiceError error)
{
    qCInfo(lcLink) << "link" << id << "service" << service->serviceUuid() << "error" << error;
    if (handingOver) {
        // Qt refused what it was just handed, before taking it on.
        refusedAtOnce = true;
        return;
    }
    switch (error) {
    case QLowEnergyService::CharacteristicWriteError:
        requestDone(true, false);
        break;
    case QLowEnergyService::DescriptorWriteError:
        requestDone(false, false);
        break;
    case QLowEnergyService::UnknownError:
    case QLowEnergyService::OperationError:
        // A service whose details cannot be read is listed without them.
        if (discovering && service->state() != QLowEnergyService::ServiceDiscovered
            && --detailsPending == 0)
            databaseDone(true);
        break;
    default:
        break;
    }
}

void QtBleLink::databaseDone(bool ok)
{
    discovering = false;
    if (!ok || state != State::Connected) {
        if (state == State::Connected)
            post(hostDatabaseEvent(HostStatusDiscoveryFailed, {}));
        return;
    }
    buildDatabase();
    databaseKnown = true;
    post(hostDatabaseEvent(0, database));
}

// Handles are numbered as a GATT server lays them out: each service's declaration, then per
// characteristic its declaration, its value and its descriptors.
void QtBleLink::buildDatabase()
{
    database.clear();
    characteristics.clear();
    descriptors.clear();
    uint16_t next = 1;
    for (QLowEnergyService *service : services) {
        HostServiceDef def;
        def.uuid = shortUuid(service->serviceUuid());
        def.startHandle = next++;
        for (const QLowEnergyCharacteristic &c : service->characteristics()) {
            HostCharacteristicDef cs;
            cs.uuid = shortUuid(c.uuid());
            cs.properties = uint8_t(c.properties());
            ++next;     // declaration
            cs.valueHandle = next++;
            characteristics.push_back({service, c, cs.valueHandle});
            for (const QLowEnergyDescriptor &d : c.descriptors()) {
                HostDescriptorDef ds;
                ds.uuid = shortUuid(d.uuid());
                ds.handle = next++;
                cs.descriptors.push_back(ds);
                descriptors.push_back({service, d, ds.handle, cs.valueHandle});
            }
            def.characteristics.push_back(std::move(cs));
        }
        def.endHandle = uint16_t(next - 1);
        database.push_back(std::move(def));
    }
}

const QtBleLink::CharacteristicEntry *QtBleLink::characteristicByHandle(uint16_t valueHandle) const
{
    for (const CharacteristicEntry &entry : characteristics) {
        if (entry.valueHandle == valueHandle)
            return &entry;
    }
    return nullptr;
}

// --- Notifications and writes ------------------------------------------------------------

bool QtBleLink::writeConfiguration(uint16_t descriptorHandle, uint16_t valueHandle,
                                   uint16_t value)
{
    if (state != State::Connected || !databaseKnown || value > 2)
        return false;
    for (const DescriptorEntry &entry : descriptors) {
        if (entry.handle != descriptorHandle)
            continue;
        if (entry.valueHandle != valueHandle || entry.descriptor.uuid() != ClientConfiguration)
            return false;
        // The configuration value goes over the air little-endian.
        const QByteArray bytes(value == 1 ? "\x01\x00" : value == 2 ? "\x02\x00" : "\x00\x00", 2);
        requests.push_back({false, Clock::now() + std::chrono::milliseconds(context.writeTimeoutMs)});
        handingOver = true;
        refusedAtOnce = false;
        entry.service->writeDescriptor(entry.descriptor, bytes);
        handingOver = false;
        if (refusedAtOnce)
            requests.pop_back();
        return !refusedAtOnce;
    }
    return false;
}

bool QtBleLink::write(uint16_t valueHandle, const QByteArray &data, Clock::time_point deadline)
{
    if (state != State::Connected)
        return false;
    const CharacteristicEntry *entry = characteristicByHandle(valueHandle);
    if (!entry)
        return false;
    // Qt hands its requests to the stack one after the other: behind one that the stack
    // holds unanswered, a write would go out whenever that one ends, long after its time.
    if (!requests.empty() && Clock::now() >= requests.front().deadline)
        return false;
    const auto properties = entry->characteristic.properties();
    if (!(properties & QLowEnergyCharacteristic::Write)) {
        if (!(properties & QLowEnergyCharacteristic::WriteNoResponse))
            return false;
        // Nothing will confirm it: handing it over is all there is.
        entry->service->writeCharacteristic(entry->characteristic, data,
                                            QLowEnergyService::WriteWithoutResponse);
        post(hostWriteResultEvent(0, id, valueHandle));
        return true;
    }
    writes.push_back({valueHandle, data, deadline, false});
    pumpWrites();
    return true;
}

// Hands Qt the oldest waiting write once it has nothing else of ours: one at a time, so that
// a write whose time has passed while it waited is dropped here and never sent.
void QtBleLink::pumpWrites()
{
    while (state == State::Connected && !writing && requests.empty() && !writes.empty()) {
        Write &next = writes.front();
        const CharacteristicEntry *entry = characteristicByHandle(next.handle);
        if (!entry || Clock::now() >= next.deadline) {
            reportWrite(next, entry ? HostStatusWriteTimeout : HostStatusWriteFailed);
            writes.pop_front();
            continue;
        }
        requests.push_back({true, next.deadline});
        writing = true;
        handingOver = true;
        refusedAtOnce = false;
        entry->service->writeCharacteristic(entry->characteristic, next.bytes,
                                            QLowEnergyService::WriteWithResponse);
        handingOver = false;
        if (refusedAtOnce) {
            requests.pop_back();
            writing = false;
            reportWrite(next, HostStatusWriteFailed);
            writes.pop_front();
        }
    }
    onWriteTimer();
}

// Qt is done with our oldest request of that kind: confirmed (`ok`) or refused.
void QtBleLink::requestDone(bool isWrite, bool ok)
{
    const auto done = std::find_if(requests.begin(), requests.end(),
                                   [isWrite](const Request &r) { return r.isWrite == isWrite; });
    if (done == requests.end())
        return;   // not ours: Qt's own reads and writes while walking the database
    requests.erase(done);
    if (isWrite && writing) {
        writing = false;
        if (!writes.front().reported)
            reportWrite(writes.front(), ok ? 0 : HostStatusWriteFailed);
        writes.pop_front();
    }
    pumpWrites();
}

void QtBleLink::reportWrite(Write &write, uint16_t status)
{
    write.reported = true;
    post(hostWriteResultEvent(status, id, write.handle));
}

// Reports every write whose time is up, and sets the timer for the next one. A write at Qt
// stays in the queue, reported, until Qt is done with it.
void QtBleLink::onWriteTimer()
{
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    for (auto it = writes.begin(); it != writes.end();) {
        if (!it->reported && now >= it->deadline)
            reportWrite(*it, HostStatusWriteTimeout);
        if (it->reported && !(writing && it == writes.begin())) {
            it = writes.erase(it);
            continue;
        }
        if (!it->reported)
            next = std::min(next, it->deadline);
        ++it;
    }
    if (next == Clock::time_point::max()) {
        writeTimer.stop();
    } else {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
        writeTimer.start(int(std::max<decltype(wait)>(wait, 0)));
    }
}

// The link went: every write not yet answered failed.
void QtBleLink::failWrites()
{
    for (Write &w : writes) {
        if (!w.reported)
            reportWrite(w, HostStatusWriteFailed);
    }
    writes.clear();
    requests.clear();
    writing = false;
    writeTimer.stop();
}

void QtBleLink::onCharacteristicChanged(const QLowEnergyCharacteristic &characteristic,
                                        const QByteArray &value)
{
    if (state != State::Connected)
        return;
    auto *service = qobject_cast<QLowEnergyService *>(sender());
    for (const CharacteristicEntry &entry : characteristics) {
        if (entry.service == service && entry.characteristic == characteristic) {
            post(hostNotificationEvent(id, entry.valueHandle,
                                       reinterpret_cast<const uint8_t *>(value.constData()),
                                       size_t(value.size())));
            return;
        }
    }
}
