#include "qtblelink.h"

#include <QLoggingCategory>

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
                     const HostEventTarget &eventTarget, int connectTimeoutMs, QObject *parent)
    : QObject(parent),
      id(connId),
      address(peer),
      controller(lowEnergy),
      target(eventTarget)
{
    controller->setParent(this);
    connectTimer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the limit is a promise to the caller.
    connectTimer.setTimerType(Qt::PreciseTimer);
    connectTimer.setInterval(connectTimeoutMs);
    connect(&connectTimer, &QTimer::timeout, this, &QtBleLink::onConnectTimeout);
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

QtBleLink::~QtBleLink()
{
    failPendingWrites();
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

// Ends the link for good. The controller is let go only once it is disconnected: deleting it
// while connected would leave the peer to Qt's destructor.
void QtBleLink::retire()
{
    state = State::Gone;
    connectTimer.stop();
    failPendingWrites();
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
    state = State::Connected;
    connectTimer.stop();
    target.post(hostConnectResultEvent(0, id, address));
}

void QtBleLink::onDisconnected()
{
    switch (state) {
    case State::Connecting:
        failConnection(HostStatusConnectFailed);
        break;
    case State::Connected:
        qCInfo(lcLink) << "link" << id << "lost";
        discovering = false;
        target.post(hostFailureEvent(HostStatusConnectionTimeout, id));
        retire();
        emit finished(id);
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
    target.post(hostConnectResultEvent(status, 0, address));
    retire();
    emit finished(id);
}

// --- Database ----------------------------------------------------------------------------

bool QtBleLink::discoverDatabase()
{
    if (state != State::Connected)
        return false;
    if (databaseKnown) {
        target.post(hostDatabaseEvent(0, database));
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
                [this, service](const QLowEnergyCharacteristic &c) {
                    onCharacteristicWritten(service, c);
                });
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
    Q_UNUSED(service);
    if (s == QLowEnergyService::ServiceDiscovered && discovering && --detailsPending == 0)
        databaseDone(true);
}

void QtBleLink::onServiceError(QLowEnergyService *service, QLowEnergyService::ServiceError error)
{
    qCInfo(lcLink) << "link" << id << "service" << service->serviceUuid() << "error" << error;
    switch (error) {
    case QLowEnergyService::CharacteristicWriteError: {
        auto &queue = pendingWrites[service];
        // The error names no characteristic: it belongs to the oldest write still open.
        if (!queue.empty()) {
            queue.front().result->set(false);
            queue.pop_front();
        }
        break;
    }
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
            target.post(hostDatabaseEvent(HostStatusDiscoveryFailed, {}));
        return;
    }
    buildDatabase();
    databaseKnown = true;
    target.post(hostDatabaseEvent(0, database));
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
        entry.service->writeDescriptor(entry.descriptor, bytes);
        return true;
    }
    return false;
}

std::shared_ptr<WriteResult> QtBleLink::write(uint16_t valueHandle, const QByteArray &data)
{
    if (state != State::Connected)
        return nullptr;
    const CharacteristicEntry *entry = characteristicByHandle(valueHandle);
    if (!entry)
        return nullptr;
    const auto properties = entry->characteristic.properties();
    auto result = std::make_shared<WriteResult>();
    if (properties & QLowEnergyCharacteristic::Write) {
        pendingWrites[entry->service].push_back({entry->characteristic, result});
        entry->service->writeCharacteristic(entry->characteristic, data,
                                            QLowEnergyService::WriteWithResponse);
    } else if (properties & QLowEnergyCharacteristic::WriteNoResponse) {
        // Nothing will confirm it: handing it over is all there is.
        entry->service->writeCharacteristic(entry->characteristic, data,
                                            QLowEnergyService::WriteWithoutResponse);
        result->set(true);
    } else {
        return nullptr;
    }
    return result;
}

void QtBleLink::onCharacteristicWritten(QLowEnergyService *service,
                                        const QLowEnergyCharacteristic &characteristic)
{
    auto &queue = pendingWrites[service];
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (it->characteristic == characteristic) {
            it->result->set(true);
            queue.erase(it);
            return;
        }
    }
}

void QtBleLink::failPendingWrites()
{
    for (auto &entry : pendingWrites) {
        for (auto &pending : entry.second)
            pending.result->set(false);
        entry.second.clear();
    }
}

void QtBleLink::onCharacteristicChanged(const QLowEnergyCharacteristic &characteristic,
                                        const QByteArray &value)
{
    if (state != State::Connected)
        return;
    auto *service = qobject_cast<QLowEnergyService *>(sender());
    for (const CharacteristicEntry &entry : characteristics) {
        if (entry.service == service && entry.characteristic == characteristic) {
            target.post(hostNotificationEvent(id, entry.valueHandle,
                                              reinterpret_cast<const uint8_t *>(value.constData()),
                                              size_t(value.size())));
            return;
        }
    }
}
