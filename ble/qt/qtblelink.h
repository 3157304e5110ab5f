// One connection to a peripheral through Qt Bluetooth: connects with a time limit, walks the
// attribute database into numbered handles, switches notifications on, writes by handle, and
// posts the host events of all of it (connection result, database, notifications, link loss).
// Lives on the layer's thread, like the controller it owns.
#pragma once

#include "hostevents.h"
#include "writeresult.h"

#include <QLowEnergyCharacteristic>
#include <QLowEnergyController>
#include <QLowEnergyDescriptor>
#include <QLowEnergyService>
#include <QObject>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>
#include <vector>

class QtBleLink : public QObject
{
    Q_OBJECT

public:
    // How long a closing link waits for the controller to report the disconnection before it
    // goes anyway.
    static constexpr int CloseGraceMs = 3000;

    // Takes ownership of `controller`.
    QtBleLink(uint32_t connId, const BleAddress &address, QLowEnergyController *controller,
              const HostEventTarget &target, int connectTimeoutMs, QObject *parent = nullptr);
    ~QtBleLink() override;

    uint32_t connId() const { return id; }
    bool isConnecting() const { return state == State::Connecting; }
    bool isConnected() const { return state == State::Connected; }

    void open();
    // Our own disconnection: no event follows. The link deletes itself once the peer is
    // disconnected.
    void close();

    bool discoverDatabase();
    bool writeConfiguration(uint16_t descriptorHandle, uint16_t valueHandle, uint16_t value);
    // Null when there is nothing to write to; otherwise the result to wait for.
    std::shared_ptr<WriteResult> write(uint16_t valueHandle, const QByteArray &data);

signals:
    // The link failed, timed out or was lost; its events are posted already, and it deletes
    // itself once the peer is disconnected.
    void finished(uint32_t connId);

private:
    enum class State { Idle, Connecting, Connected, Gone };

    struct CharacteristicEntry {
        QLowEnergyService *service = nullptr;
        QLowEnergyCharacteristic characteristic;
        uint16_t valueHandle = 0;
    };
    struct DescriptorEntry {
        QLowEnergyService *service = nullptr;
        QLowEnergyDescriptor descriptor;
        uint16_t handle = 0;
        uint16_t valueHandle = 0;   // of the characteristic it belongs to
    };

    void onConnected();
    void onDisconnected();
    void onControllerError(QLowEnergyController::Error error);
    void onConnectTimeout();
    void onServicesFound();
    void onServiceState(QLowEnergyService *service, QLowEnergyService::ServiceState serviceState);
    void onServiceError(QLowEnergyService *service, QLowEnergyService::ServiceError error);
    void onCharacteristicChanged(const QLowEnergyCharacteristic &characteristic,
                                 const QByteArray &value);
    void onCharacteristicWritten(QLowEnergyService *service,
                                 const QLowEnergyCharacteristic &characteristic);

    void failConnection(uint16_t status);
    void retire();
    void databaseDone(bool ok);
    void buildDatabase();
    void failPendingWrites();
    const CharacteristicEntry *characteristicByHandle(uint16_t valueHandle) const;

    const uint32_t id;
    const BleAddress address;
    QLowEnergyController *controller;
    HostEventTarget target;
    QTimer connectTimer;
    QTimer closeTimer;
    State state = State::Idle;

    bool discovering = false;
    bool databaseKnown = false;
    int detailsPending = 0;
    std::vector<QLowEnergyService *> services;
    std::vector<HostServiceDef> database;
    std::vector<CharacteristicEntry> characteristics;
    std::vector<DescriptorEntry> descriptors;
    // Writes waiting for their confirmation, per service, in the order they were made.
    struct PendingWrite {
        QLowEnergyCharacteristic characteristic;
        std::shared_ptr<WriteResult> result;
    };
    std::map<QLowEnergyService *, std::deque<PendingWrite>> pendingWrites;
};
