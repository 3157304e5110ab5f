// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The BLE host layer: the calls the worker makes to the dongle, and the event records it
// gets back through a blocking per-thread message queue.
//
// The calls keep the names and arguments of the dongle's host library. What actually talks
// to a controller is a HostBackend chosen by the executable (the virtual dongle, or a layer
// over a real adapter); the worker only ever sees these functions and records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// ---------------------------------------------------------------------------------------
// Records. Field order and widths are part of the contract. On a 32-bit build the byte
// offsets are those noted beside each field; on 64-bit the same fields are naturally
// aligned, so only the pointers (and what follows them) move.
// ---------------------------------------------------------------------------------------

struct BleAddress {
    uint16_t kind;          // 0: 0 in connection requests
    uint16_t nap;           // 2
    uint8_t uap;            // 4
    uint8_t filler[3];      // 5
    uint32_t lap;           // 8: low 24 bits
};

enum HostEventCode : uint32_t {
    HostEventReady = 0,          // lParam: non-zero ready, 0 failed
    HostEventDeviceFound = 2,
    HostEventConnectResult = 4,
    HostEventJustWorks = 9,
    HostEventFailure = 10,
    HostEventConnUpdate = 12,
    HostEventDatabase = 262,
    HostEventStatus = 265,
    HostEventNotification = 266,
    HostEventWriteResult = 267,   // the outcome of a write by handle that was accepted
};

// Status values of events 4 and 262 and failure values of event 10 that the backends
// report (Bluetooth HCI error codes for the link). The worker reads only zero against
// non-zero.
enum HostLinkStatus : uint16_t {
    HostStatusConnectionTimeout = 0x0008,    // event 4: the attempt ran out of time; event 10: the link was lost
    HostStatusConnectFailed = 0x003E,        // event 4: the connection failed to be established
    HostStatusDiscoveryFailed = 0x0001,      // event 262: the database could not be read
    HostStatusWriteFailed = 0x0080,          // event 267: refused by the peer or the stack, or the link went
    HostStatusWriteTimeout = 0x0081,         // event 267: not confirmed in time; it is never sent later
};

struct HostDeviceFoundEvent {
    BleAddress address;     // 0
    int16_t rssi;           // 12
    uint16_t flags;         // 14
    const char *name;       // 16: NUL-terminated, or null when the device sent none
};

struct HostConnectResultEvent {
    uint16_t type;          // 0
    uint16_t status;        // 2: 0 = connected
    uint32_t connId;        // 4
    BleAddress address;     // 8
};

struct HostJustWorksEvent {
    BleAddress address;     // 0
    uint32_t connId;        // 12
};

struct HostFailureEvent {
    uint16_t type;          // 0
    uint16_t reserved;      // 2
    uint32_t connId;        // 4
    uint16_t operation;     // 8
    uint16_t reason;        // 10
    uint16_t reserved2;     // 12
    uint16_t failure;       // 14: non-zero = the link failed
};

struct HostConnUpdateEvent {
    uint16_t type;          // 0
    uint16_t reserved;      // 2
    uint32_t connId;        // 4
    uint16_t intervalMin;   // 8
    uint16_t intervalMax;   // 10
    uint16_t identifier;    // 12: echoed in the answer
    uint16_t latency;       // 14
    uint16_t timeout;       // 16
    uint16_t reserved2;     // 18
};

struct HostDescriptor {
    uint16_t uuidType;      // 0: 16 or 128
    uint16_t uuid;          // 2
    uint8_t uuid128[16];    // 4
    uint16_t handle;        // 20
    uint16_t reserved;      // 22
};

struct HostCharacteristic {
    uint16_t uuidType;              // 0
    uint16_t uuid;                  // 2
    uint8_t uuid128[16];            // 4
    uint8_t properties;             // 20
    uint8_t reserved;               // 21
    uint16_t valueHandle;           // 22
    uint16_t declarationHandle;     // 24
    uint16_t descriptorCount;       // 26: entries behind `descriptors`
    HostDescriptor *descriptors;    // 28
};

struct HostService {
    uint16_t uuidType;                      // 0
    uint16_t uuid;                          // 2
    uint16_t startHandle;                   // 4
    uint16_t endHandle;                     // 6
    uint16_t characteristicCount;           // 8: entries behind `characteristics`
    uint16_t reserved;                      // 10
    uint8_t uuid128[16];                    // 12
    HostCharacteristic *characteristics;    // 28
};

struct HostDatabaseEvent {
    uint16_t type;              // 0
    uint16_t reserved;          // 2
    uint16_t reserved2;         // 4
    uint16_t status;            // 6: 0 = done
    uint16_t serviceCount;      // 8: entries behind `services`
    uint16_t reserved3;         // 10
    HostService *services;      // 12
};

struct HostWriteResultEvent {
    uint16_t type;              // 0
    uint16_t status;            // 2: 0 = the peer confirmed the write
    uint32_t connId;            // 4
    uint16_t handle;            // 8
    uint16_t reserved;          // 10
};

struct HostStatusEvent {
    uint16_t type;              // 0
    uint16_t status;            // 2
};

struct HostNotificationEvent {
    uint16_t type;              // 0
    uint16_t reserved;          // 2
    uint32_t connId;            // 4
    uint16_t handle;            // 8
    uint16_t reserved2;         // 10
    uint32_t reserved3;         // 12
    uint16_t reserved4;         // 16
    uint16_t length;            // 18
    const uint8_t *data;        // 20
};

// The record handed to CsrBleHostInit; only its first field is set by the worker.
struct CsrBleHostConfig {
    uint16_t flags;
    uint16_t reserved;
    uint32_t reserved2;
};

// ---------------------------------------------------------------------------------------
// Per-thread message queue: the worker blocks on it, backends post events into it.
// ---------------------------------------------------------------------------------------

struct HostMessage {
    uint32_t message;   // identifier returned by CsrBleHostInit for host events
    uint32_t code;      // event code
    uintptr_t param;    // event record pointer, or the plain value of event 0
};

// One consumer's queue. Its consumer owns it (BtThread keeps it for its whole life) and every
// poster holds it weakly, so a post that comes after the consumer has let go is dropped.
class HostThreadQueue;

// Binds `queue` as the calling thread's queue until unbound (null); the binding shares
// ownership. A thread that never binds one gets its own on first use.
void HostAttachThreadQueue(std::shared_ptr<HostThreadQueue> queue);

// Consumer side, the bound thread only. Blocks until a message is there and returns false
// for the quit message, true otherwise. The record behind `param` stays valid until the next
// call; messages come in the order they were posted, except that the quit message comes
// before all others and that a queue with a backlog limit drops the oldest of the messages
// it may drop (see HostThreadQueue::setBacklogLimit).
bool HostGetMessage(HostMessage *msg);

// Any thread. Queues the message and wakes the consumer; never runs the consumer's code and
// never waits for it. `storage` keeps the record (and what it points into) alive until the
// consumer has fetched the next message. A queue that is gone drops the message.
void HostPostThreadMessage(const std::weak_ptr<HostThreadQueue> &queue, uint32_t message,
                           uint32_t code, uintptr_t param, std::shared_ptr<const void> storage = {});
void HostPostQuitMessage(const std::weak_ptr<HostThreadQueue> &queue);

// One event ready to post: code, parameter, and the storage that owns the record.
struct HostEvent {
    uint32_t code = 0;
    uintptr_t param = 0;
    std::shared_ptr<const void> storage;
};

// Where a backend posts its events: the initialising thread's queue, held weakly, and the
// message identifier of that initialisation. post() is HostPostThreadMessage: any thread,
// never blocks on the consumer, dropped once the consumer is gone.
struct HostEventTarget {
    std::weak_ptr<HostThreadQueue> queue;
    uint32_t messageId = 0;
    void post(HostEvent event) const;
};

// ---------------------------------------------------------------------------------------
// Backends.
//
// Threads. The worker calls init() and start() from its own thread, then the calls its
// events ask for (startLeScan, cancel, disconnect, justWorksResult, acceptConnUpdate,
// discoverDatabase, writeConfiguration). At the same time the GUI thread makes the window's
// calls (startLeScan, cancel, disconnect, stopLeSearch, stopDeviceSearch,
// setConnectionParams, connect, writeCharByHandle). Any call may therefore run while another
// runs on a different thread, and tests also call from a backend's own threads. A backend
// guards its state itself.
//
// Posting. A post wakes the worker, which may call straight back into the backend before
// post() has returned. So a backend posts holding no lock that its calls take, and nothing
// it does while posting may wait for the worker. Events reach the worker in the order they
// were posted, so a backend posts the events of one target from one thread at a time, in
// the order they happened (a link's event 4 before its 262, 266 and 10).
//
// Blocking. A call may wait only for work that goes on without the calling thread: never for
// the worker to take an event, never for the GUI thread, and never for the thread it was
// called on (a call made on a backend's own thread runs there at once). Whatever the stack
// underneath does, a call returns within half a second; what it could not settle by then
// it settles later through events.
//
// Results. Non-zero: the request is accepted, either done (the stops, disconnect, the
// pairing and update answers, the connection parameters, cancel, which drops a connection
// under way without its event 4) or under way, with its outcome
// coming as events (start: event 0; startLeScan: events 2; connect: events 9, 4, 12;
// discoverDatabase: event 262; writeConfiguration: events 266; writeCharByHandle: event 267
// once the peer confirmed or refused the write, or the link went, or the backend's time limit
// passed; the controller's acknowledgement then comes as a notification). Zero: refused at
// once; nothing was started and no event follows for it. A write that was refused or timed
// out never goes out later. An accepted request's outcome may never come (a peer that does
// not answer), so nobody waits for it. A call's effect holds for the events the backend
// makes after it returns; events made before may still be on their way.
//
// Losing the adapter. When the adapter goes (switched off, removed, its stack stopped), a
// backend posts event 10 with a non-zero value for every open link and event 4 with a
// non-zero status for a connection under way; a later startLeScan that finds no adapter
// answers zero and posts event 0 with value 0, and one that finds it again scans.
//
// Records. An event's record, and everything its pointers reach, belongs to the event's
// storage and stays valid until the worker's next HostGetMessage; it never points into the
// backend's own state. A call's arguments (the address, a write's bytes) are valid only
// during the call; a backend copies what it keeps.
//
// Lifetime. The backend is installed before the worker starts and removed after every
// thread that calls it has stopped. Events it posts for a consumer that is gone are dropped.
// ---------------------------------------------------------------------------------------

class HostBackend {
public:
    virtual ~HostBackend() = default;
    // Events for this initialisation go to `target` until the next init, which starts from a
    // dongle just plugged in: no links, no scan, nothing pending.
    virtual bool init(const HostEventTarget &target) = 0;
    virtual bool start() = 0;
    virtual bool startLeScan() = 0;
    virtual bool stopLeSearch() = 0;
    virtual bool stopDeviceSearch() = 0;
    virtual bool cancel() = 0;
    virtual bool setConnectionParams(uint16_t scanInterval, uint16_t scanWindow,
                                     uint16_t intervalMin, uint16_t intervalMax,
                                     uint16_t latency, uint16_t supervisionTimeout) = 0;
    virtual bool connect(const BleAddress &address) = 0;
    virtual bool disconnect(uint32_t connId) = 0;
    virtual bool justWorksResult(const BleAddress &address, uint8_t accept, uint8_t bond) = 0;
    virtual bool acceptConnUpdate(uint32_t connId, uint16_t identifier, uint8_t accept) = 0;
    virtual bool discoverDatabase(uint32_t connId) = 0;
    virtual bool writeConfiguration(uint32_t connId, uint16_t descriptorHandle,
                                    uint16_t valueHandle, uint16_t value) = 0;
    virtual bool writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset,
                                   uint16_t length, const uint8_t *data) = 0;
};

// The backend the calls below go to. The executable installs one before the worker starts;
// with none installed every call fails (returns 0).
void setHostBackend(HostBackend *backend);
HostBackend *hostBackend();

// ---------------------------------------------------------------------------------------
// The calls. Each runs the installed backend's call on the calling thread, under the
// contract above; non-zero means success. CsrBleHostInit posts to the calling thread's queue
// and returns that initialisation's message identifier, new on every call.
// ---------------------------------------------------------------------------------------

uint32_t CsrBleHostInit(uint32_t reserved1, uint32_t reserved2, const CsrBleHostConfig *config);
int CsrBleHostStart(uint32_t reserved);
int CsrBleHostStartLEScan();
int CsrBleHostStopLESearch();
int CsrBleHostStopDeviceSearch();
int CsrBleHostCancel();
int CsrBleHostSetConnectionParams(uint16_t scanInterval, uint16_t scanWindow,
                                  uint16_t intervalMin, uint16_t intervalMax, uint16_t latency,
                                  uint16_t supervisionTimeout);
int CsrBleHostConnect(BleAddress address);
int CsrBleHostDisconnect(uint32_t connId);
int CsrBleHostJustWorksResult(BleAddress address, uint8_t accept, uint8_t bond);
int CsrBleHostAcceptConnUpdate(uint32_t connId, uint16_t identifier, uint8_t accept);
int CsrBleClientDiscoverDatabase(uint32_t connId);
int CsrBleClientWriteConfiguration(uint32_t connId, uint16_t descriptorHandle,
                                   uint16_t valueHandle, uint16_t value);
int CsrBleClientWriteCfmCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset,
                                     uint16_t length, const uint8_t *data);
