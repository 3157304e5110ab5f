// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "hostlayer.h"
#include "hostqueue.h"

#include <atomic>
#include <cstddef>

// The record layouts are shared with code that reads them by byte offset. On a 32-bit build
// they must match those offsets exactly; on 64-bit every field stays naturally aligned and
// only pointers (and what follows them) move.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(void *) == 4, "32-bit layout check on a 32-bit build only");
static_assert(sizeof(BleAddress) == 12 && offsetof(BleAddress, lap) == 8, "BleAddress");
static_assert(offsetof(HostDeviceFoundEvent, name) == 16, "event 2");
static_assert(offsetof(HostConnectResultEvent, status) == 2, "event 4");
static_assert(offsetof(HostConnectResultEvent, connId) == 4, "event 4");
static_assert(offsetof(HostJustWorksEvent, address) == 0, "event 9");
static_assert(offsetof(HostFailureEvent, failure) == 14, "event 10");
static_assert(offsetof(HostConnUpdateEvent, identifier) == 12, "event 12");
static_assert(offsetof(HostDatabaseEvent, status) == 6, "event 262");
static_assert(offsetof(HostDatabaseEvent, serviceCount) == 8, "event 262");
static_assert(offsetof(HostDatabaseEvent, services) == 12, "event 262");
static_assert(sizeof(HostService) == 32, "service record");
static_assert(offsetof(HostService, uuid) == 2, "service record");
static_assert(offsetof(HostService, characteristics) == 28, "service record");
static_assert(sizeof(HostCharacteristic) == 32, "characteristic record");
static_assert(offsetof(HostCharacteristic, valueHandle) == 22, "characteristic record");
static_assert(sizeof(HostCharacteristic) + offsetof(HostCharacteristic, valueHandle) == 54,
              "second characteristic's value handle");
static_assert(offsetof(HostCharacteristic, descriptors) == 28, "characteristic record");
static_assert(offsetof(HostDescriptor, handle) == 20, "descriptor record");
static_assert(offsetof(HostStatusEvent, status) == 2, "event 265");
static_assert(offsetof(HostNotificationEvent, length) == 18, "event 266");
static_assert(offsetof(HostNotificationEvent, data) == 20, "event 266");
#else
static_assert(sizeof(void *) == 8, "pointers are 4 or 8 bytes");
// Fields before the first pointer keep their 32-bit offsets; pointers sit on 8-byte bounds.
static_assert(sizeof(BleAddress) == 12 && offsetof(BleAddress, lap) == 8, "BleAddress");
static_assert(offsetof(HostDeviceFoundEvent, name) == 16, "event 2");
static_assert(offsetof(HostConnectResultEvent, status) == 2, "event 4");
static_assert(offsetof(HostConnectResultEvent, connId) == 4, "event 4");
static_assert(offsetof(HostFailureEvent, failure) == 14, "event 10");
static_assert(offsetof(HostConnUpdateEvent, identifier) == 12, "event 12");
static_assert(offsetof(HostDatabaseEvent, status) == 6, "event 262");
static_assert(offsetof(HostDatabaseEvent, serviceCount) == 8, "event 262");
static_assert(offsetof(HostDatabaseEvent, services) == 16, "event 262");
static_assert(offsetof(HostService, uuid) == 2, "service record");
static_assert(offsetof(HostService, characteristics) == 32 && sizeof(HostService) == 40,
              "service record");
static_assert(offsetof(HostCharacteristic, valueHandle) == 22, "characteristic record");
static_assert(offsetof(HostCharacteristic, descriptors) == 32 && sizeof(HostCharacteristic) == 40,
              "characteristic record");
static_assert(offsetof(HostDescriptor, handle) == 20 && sizeof(HostDescriptor) == 24,
              "descriptor record");
static_assert(offsetof(HostStatusEvent, status) == 2, "event 265");
static_assert(offsetof(HostNotificationEvent, length) == 18, "event 266");
static_assert(offsetof(HostNotificationEvent, data) == 24, "event 266");
#endif

namespace {

thread_local std::shared_ptr<HostThreadQueue> boundQueue;

std::atomic<HostBackend *> currentBackend{nullptr};

// Message identifiers handed out by CsrBleHostInit: non-zero and new on every call, so that
// events still in flight from an earlier initialisation are told apart.
std::atomic<uint32_t> nextMessageId{0x8001};

uint32_t freshMessageId()
{
    uint32_t id;
    do {
        id = nextMessageId.fetch_add(1);
    } while (id == 0);
    return id;
}

} // namespace

void HostThreadQueue::setBacklogLimit(Droppable isDroppable, size_t maxWaiting)
{
    std::lock_guard<std::mutex> lock(mutex);
    droppable = isDroppable;
    limit = maxWaiting;
}

void HostThreadQueue::post(const HostMessage &message, std::shared_ptr<const void> storage)
{
    // Decided before the lock: the predicate reads the record, which the caller keeps alive.
    const Droppable isDroppable = droppable;
    const bool mayDrop = isDroppable && isDroppable(message);
    Entry dropped{0, HostMessage{}, nullptr};
    {
        std::lock_guard<std::mutex> lock(mutex);
        Entry entry{posted++, message, std::move(storage)};
        if (!mayDrop) {
            kept.push_back(std::move(entry));
        } else {
            if (backlog.size() >= limit && !backlog.empty()) {
                dropped = std::move(backlog.front());
                backlog.pop_front();
                droppedCount.fetch_add(1, std::memory_order_relaxed);
            }
            backlog.push_back(std::move(entry));
        }
    }
    ready.notify_one();
    // `dropped` releases its record here, outside the lock.
}

void HostThreadQueue::postQuit()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    ready.notify_one();
}

bool HostThreadQueue::take(HostMessage *message)
{
    std::shared_ptr<const void> previous;
    std::unique_lock<std::mutex> lock(mutex);
    previous = std::move(held);
    ready.wait(lock, [this] { return quit || !kept.empty() || !backlog.empty(); });
    if (quit) {
        quit = false;
        lock.unlock();
        return false;
    }
    std::deque<Entry> &line = backlog.empty() || (!kept.empty() && kept.front().order < backlog.front().order)
            ? kept : backlog;
    Entry entry = std::move(line.front());
    line.pop_front();
    if (message)
        *message = entry.message;
    held = std::move(entry.storage);
    lock.unlock();
    // `previous` is released here, outside the lock: its owner may do anything on release.
    return true;
}

void HostAttachThreadQueue(std::shared_ptr<HostThreadQueue> queue)
{
    boundQueue = std::move(queue);
}

namespace {

const std::shared_ptr<HostThreadQueue> &currentThreadQueue()
{
    if (!boundQueue)
        boundQueue = std::make_shared<HostThreadQueue>();
    return boundQueue;
}

} // namespace

bool HostGetMessage(HostMessage *msg)
{
    return currentThreadQueue()->take(msg);
}

void HostPostThreadMessage(const std::weak_ptr<HostThreadQueue> &queue, uint32_t message,
                           uint32_t code, uintptr_t param, std::shared_ptr<const void> storage)
{
    if (const std::shared_ptr<HostThreadQueue> alive = queue.lock())
        alive->post(HostMessage{message, code, param}, std::move(storage));
}

void HostPostQuitMessage(const std::weak_ptr<HostThreadQueue> &queue)
{
    if (const std::shared_ptr<HostThreadQueue> alive = queue.lock())
        alive->postQuit();
}

void HostEventTarget::post(HostEvent event) const
{
    HostPostThreadMessage(queue, messageId, event.code, event.param, std::move(event.storage));
}

void setHostBackend(HostBackend *backend)
{
    currentBackend.store(backend);
}

HostBackend *hostBackend()
{
    return currentBackend.load();
}

uint32_t CsrBleHostInit(uint32_t, uint32_t, const CsrBleHostConfig *)
{
    HostBackend *backend = hostBackend();
    if (!backend)
        return 0;
    HostEventTarget target;
    target.queue = currentThreadQueue();
    target.messageId = freshMessageId();
    return backend->init(target) ? target.messageId : 0;
}

int CsrBleHostStart(uint32_t)
{
    HostBackend *backend = hostBackend();
    return backend && backend->start() ? 1 : 0;
}

int CsrBleHostStartLEScan()
{
    HostBackend *backend = hostBackend();
    return backend && backend->startLeScan() ? 1 : 0;
}

int CsrBleHostStopLESearch()
{
    HostBackend *backend = hostBackend();
    return backend && backend->stopLeSearch() ? 1 : 0;
}

int CsrBleHostStopDeviceSearch()
{
    HostBackend *backend = hostBackend();
    return backend && backend->stopDeviceSearch() ? 1 : 0;
}

int CsrBleHostCancel()
{
    HostBackend *backend = hostBackend();
    return backend && backend->cancel() ? 1 : 0;
}

int CsrBleHostSetConnectionParams(uint16_t scanInterval, uint16_t scanWindow,
                                  uint16_t intervalMin, uint16_t intervalMax, uint16_t latency,
                                  uint16_t supervisionTimeout)
{
    HostBackend *backend = hostBackend();
    return backend && backend->setConnectionParams(scanInterval, scanWindow, intervalMin,
                                                   intervalMax, latency, supervisionTimeout)
            ? 1 : 0;
}

int CsrBleHostConnect(BleAddress address)
{
    HostBackend *backend = hostBackend();
    return backend && backend->connect(address) ? 1 : 0;
}

int CsrBleHostDisconnect(uint32_t connId)
{
    HostBackend *backend = hostBackend();
    return backend && backend->disconnect(connId) ? 1 : 0;
}

int CsrBleHostJustWorksResult(BleAddress address, uint8_t accept, uint8_t bond)
{
    HostBackend *backend = hostBackend();
    return backend && backend->justWorksResult(address, accept, bond) ? 1 : 0;
}

int CsrBleHostAcceptConnUpdate(uint32_t connId, uint16_t identifier, uint8_t accept)
{
    HostBackend *backend = hostBackend();
    return backend && backend->acceptConnUpdate(connId, identifier, accept) ? 1 : 0;
}

int CsrBleClientDiscoverDatabase(uint32_t connId)
{
    HostBackend *backend = hostBackend();
    return backend && backend->discoverDatabase(connId) ? 1 : 0;
}

int CsrBleClientWriteConfiguration(uint32_t connId, uint16_t descriptorHandle,
                                   uint16_t valueHandle, uint16_t value)
{
    HostBackend *backend = hostBackend();
    return backend && backend->writeConfiguration(connId, descriptorHandle, valueHandle, value)
            ? 1 : 0;
}

int CsrBleClientWriteCfmCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset,
                                     uint16_t length, const uint8_t *data)
{
    HostBackend *backend = hostBackend();
    return backend && backend->writeCharByHandle(connId, handle, offset, length, data) ? 1 : 0;
}
