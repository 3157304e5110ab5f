// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// One connection to a peripheral through Qt Bluetooth: connects with a time limit, walks the
// attribute database into numbered handles, switches notifications on, writes by handle, and
// posts the host events of all of it (connection result, database, notifications, write
// outcomes, link loss). Lives on the layer's thread, like the controller it owns.
#pragma once

#include "hostevents.h"
#include "layerstate.h"

#include <QLowEnergyCharacteristic>
#include <QLowEnergyController>
#include <QLowEnergyDescriptor>
#include <QLowEnergyService>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <deque>
#include <memory>
#include <vector>

// What a link needs to know of the layer it belongs to.
struct LinkContext {
    std::shared_ptr<LayerState> state;
    uint32_t generation = 0;   // the initialisation the link's events belong to
    uint32_t cancelMark = 0;   // LayerState::cancels when the connection was asked for
    int connectTimeoutMs = 10000;
    int writeTimeoutMs = 5000;
};

class QtBleLink : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    // How long a closing link waits for the controller to report the disconnection before it
    // goes anyway.
    static constexpr int CloseGraceMs = 3000;

    // Takes ownership of `controller`.
    QtBleLink(uint32_t connId, const BleAddress &address, QLowEnergyController *controller,
              const LinkContext &context, QObject *parent = nullptr);
    ~QtBleLink() override;

    uint32_t connId() const { return id; }
    bool isConnecting() const { return state == State::Connecting; }

    void open();
    // Our own disconnection: no event follows. The link deletes itself once the peer is
    // disconnected.
    void close();
    // The adapter or its stack went: the link ends as lost (event 4 or 10), and so do its
    // writes.
    void lose();

    bool discoverDatabase();
    bool writeConfiguration(uint16_t descriptorHandle, uint16_t valueHandle, uint16_t value);
    // Queues a write whose outcome comes as event 267, by `deadline` at the latest. False,
    // and nothing is ever sent, when there is nothing to write to, or while an earlier write
    // sits unanswered past its time in the stack (whatever is handed over now would go out
    // only after it).
    bool write(uint16_t valueHandle, const QByteArray &data, Clock::time_point deadline);

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
    // A write by handle, from the call until its outcome is posted.
    struct Write {
        uint16_t handle = 0;
        QByteArray bytes;
        Clock::time_point deadline;
        bool reported = false;   // its event 267 is out
    };
    // A request handed to Qt, which carries out one at a time, in order, per controller.
    struct Request {
        bool isWrite = false;    // else a descriptor write
        Clock::time_point deadline;
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

    bool post(HostEvent event);
    bool cancelled() const;
    void failConnection(uint16_t status);
    void linkLost();
    void retire();
    void databaseDone(bool ok);
    void buildDatabase();
    const CharacteristicEntry *characteristicByHandle(uint16_t valueHandle) const;

    // The write queue.
    void pumpWrites();
    void requestDone(bool isWrite, bool ok);
    void reportWrite(Write &write, uint16_t status);
    void onWriteTimer();
    void failWrites();

    const uint32_t id;
    const BleAddress address;
    QLowEnergyController *controller;
    const LinkContext context;
    QTimer connectTimer;
    QTimer closeTimer;
    QTimer writeTimer;
    State state = State::Idle;

    bool discovering = false;
    bool databaseKnown = false;
    int detailsPending = 0;
    std::vector<QLowEnergyService *> services;
    std::vector<HostServiceDef> database;
    std::vector<CharacteristicEntry> characteristics;
    std::vector<DescriptorEntry> descriptors;

    std::deque<Write> writes;       // the front one is at Qt while `writing`
    bool writing = false;
    std::deque<Request> requests;   // at Qt, oldest first
    bool handingOver = false;       // inside a call that hands Qt a request
    bool refusedAtOnce = false;     // Qt refused that request before the call returned
};
