#include "virtualdongle.h"

#include "hostevents.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace {

constexpr int64_t Never = std::numeric_limits<int64_t>::max();

constexpr uint64_t ControllerAddresses[VirtualDongle::ControllerCount] = {
    0x00025B0A1C01ull,
    0x00025B0A1C02ull,
    0x00025B0A1C03ull,
};
const char *const ControllerNames[VirtualDongle::ControllerCount] = {
    "IMU Controller A",
    "IMU Controller B",
    "IMU Controller C",
};
// Extra advertisers take addresses from here upward.
constexpr uint64_t AdvertiserBase = 0x00025BF00000ull;

bool sameAddress(const BleAddress &a, const BleAddress &b)
{
    return bleAddressValue(a) == bleAddressValue(b);
}

// The attribute database every controller serves: generic access, device information, and
// the controller's own service with its report and parameter characteristics.
const std::vector<HostServiceDef> &controllerDatabase()
{
    static const std::vector<HostServiceDef> services = [] {
        HostServiceDef gap;
        gap.uuid = 0x1800;
        gap.startHandle = 0x0001;
        gap.endHandle = 0x0005;
        gap.characteristics = {{0x2A00, 0x0003, 0x02, {}}, {0x2A01, 0x0005, 0x02, {}}};

        HostServiceDef info;
        info.uuid = 0x180A;
        info.startHandle = 0x0006;
        info.endHandle = 0x000A;
        info.characteristics = {{0x2A29, 0x0008, 0x02, {}}, {0x2A24, 0x000A, 0x02, {}}};

        HostServiceDef controller;
        controller.uuid = VirtualDongle::ControllerServiceUuid;
        controller.startHandle = 0x000B;
        controller.endHandle = VirtualDongle::ParamHandle;
        controller.characteristics = {
            {0xFAE1, VirtualDongle::ReportHandle, 0x10,
             {{0x2902, VirtualDongle::ReportConfigHandle}}},
            {0xFAE2, VirtualDongle::ParamHandle, 0x08, {}},
        };
        return std::vector<HostServiceDef>{gap, info, controller};
    }();
    return services;
}

} // namespace

VirtualDongle::VirtualDongle(Clock clock)
    : clockKind(clock),
      epoch(std::chrono::steady_clock::now())
{
    for (int i = 0; i < ControllerCount; ++i) {
        Device device;
        device.address = makeBleAddress(ControllerAddresses[i]);
        device.name = ControllerNames[i];
        device.namelessFirst = (i == 2);
        device.controller = std::make_unique<VirtualController>(uint32_t(i + 1));
        devices.push_back(std::move(device));
    }
    if (clockKind == Clock::RealTime)
        thread = std::thread(&VirtualDongle::threadMain, this);
}

VirtualDongle::~VirtualDongle()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quitting = true;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

int64_t VirtualDongle::now() const
{
    if (clockKind == Clock::Manual)
        return manualNow.load();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - epoch)
            .count();
}

void VirtualDongle::advance(int64_t ms)
{
    if (clockKind != Clock::Manual || ms < 0)
        return;
    processDue(manualNow += ms);
}

void VirtualDongle::wakeThread()
{
    wake.notify_all();
}

void VirtualDongle::schedule(int64_t due, bool cancellable,
                             std::function<void(int64_t, Events &)> run)
{
    actions.emplace(std::make_pair(due, actionSeq++), Action{cancellable, std::move(run)});
}

int VirtualDongle::findDevice(const BleAddress &address) const
{
    for (size_t i = 0; i < devices.size(); ++i) {
        if (sameAddress(devices[i].address, address))
            return int(i);
    }
    return -1;
}

VirtualDongle::Device *VirtualDongle::deviceForConnection(uint32_t connId)
{
    if (connId == 0)
        return nullptr;
    for (Device &device : devices) {
        if (device.connId == connId)
            return &device;
    }
    return nullptr;
}

const VirtualDongle::Device *VirtualDongle::checkedDevice(int index) const
{
    if (index < 0 || index >= ControllerCount)
        return nullptr;
    return &devices[size_t(index)];
}

// --- HostBackend -----------------------------------------------------------------------

bool VirtualDongle::init(const HostEventTarget &newTarget)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        // A new initialisation starts from a dongle just plugged in.
        target = newTarget;
        actions.clear();
        for (Device &device : devices) {
            if (device.controller)
                device.controller->stopReports();
            device.connId = 0;
            device.reportsOn = false;
        }
        initialised = true;
        started = false;
        ready = false;
        scanning = false;
        ++scanGeneration;
        connectPending = false;
    }
    wakeThread();
    return true;
}

bool VirtualDongle::start()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!initialised)
            return false;
        started = true;
        const bool present = !dongleAbsent;
        schedule(now() + ReadyDelayMs, false, [this, present](int64_t, Events &out) {
            ready = present;
            out.push_back(hostReadyEvent(present));
        });
    }
    wakeThread();
    return true;
}

void VirtualDongle::scheduleAdvert(int index, int64_t due, uint64_t scanGen)
{
    schedule(due, false, [this, index, scanGen](int64_t t, Events &out) {
        if (!scanning || scanGen != scanGeneration)
            return;
        Device &device = devices[size_t(index)];
        // A connected controller stops advertising until the link is gone.
        if (device.connId == 0) {
            const bool nameless = device.namelessFirst && !device.seenThisScan;
            device.seenThisScan = true;
            out.push_back(hostDeviceFoundEvent(device.address,
                                               nameless ? nullptr : device.name.c_str(),
                                               int16_t(-50 - index % 40)));
        }
        scheduleAdvert(index, t + AdvertisingPeriodMs, scanGen);
    });
}

bool VirtualDongle::startLeScan()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!ready)
            return false;
        scanning = true;
        const uint64_t gen = ++scanGeneration;
        const int64_t t = now();
        const int count = int(devices.size());
        for (int i = 0; i < count; ++i) {
            devices[size_t(i)].seenThisScan = false;
            // Spread the devices over the period, the controllers first.
            const int64_t offset = i < ControllerCount
                    ? 100 * (i + 1)
                    : 1 + (AdvertisingPeriodMs - 1) * (i - ControllerCount) / std::max(1, count - ControllerCount);
            scheduleAdvert(i, t + offset, gen);
        }
    }
    wakeThread();
    return true;
}

bool VirtualDongle::stopLeSearch()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!started)
        return false;
    scanning = false;
    ++scanGeneration;
    return true;
}

bool VirtualDongle::stopDeviceSearch()
{
    return stopLeSearch();
}

bool VirtualDongle::cancel()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!started)
        return false;
    for (auto it = actions.begin(); it != actions.end();) {
        if (it->second.cancellable)
            it = actions.erase(it);
        else
            ++it;
    }
    connectPending = false;
    return true;
}

bool VirtualDongle::setConnectionParams(uint16_t, uint16_t, uint16_t intervalMin,
                                        uint16_t intervalMax, uint16_t, uint16_t)
{
    std::lock_guard<std::mutex> lock(mutex);
    return started && intervalMin <= intervalMax;
}

bool VirtualDongle::connect(const BleAddress &address)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!ready || connectRefused || connectPending)
            return false;
        connectPending = true;
        const int64_t t = now();
        const int index = findDevice(address);
        const bool reachable = index >= 0 && devices[size_t(index)].controller
                && devices[size_t(index)].connId == 0 && !connectFails;
        if (!reachable) {
            // Nobody answers: the attempt times out.
            schedule(t + ConnectTimeoutMs, true, [this, address](int64_t, Events &out) {
                connectPending = false;
                out.push_back(hostConnectResultEvent(ConnectFailedStatus, 0, address));
            });
        } else {
            const uint32_t id = nextConnId++;
            if (nextConnId == 0)
                nextConnId = 1;
            const uint16_t updateId = nextUpdateId++;
            const BleAddress peer = devices[size_t(index)].address;
            schedule(t + PairingDelayMs, true, [peer, id](int64_t, Events &out) {
                out.push_back(hostJustWorksEvent(peer, id));
            });
            schedule(t + ConnectDelayMs, true, [this, index, peer, id](int64_t, Events &out) {
                connectPending = false;
                devices[size_t(index)].connId = id;
                out.push_back(hostConnectResultEvent(0, id, peer));
            });
            schedule(t + ConnUpdateDelayMs, true, [this, id, updateId](int64_t, Events &out) {
                if (deviceForConnection(id))
                    out.push_back(hostConnUpdateEvent(updateId, id));
            });
        }
    }
    wakeThread();
    return true;
}

bool VirtualDongle::disconnect(uint32_t connId)
{
    std::lock_guard<std::mutex> lock(mutex);
    Device *device = deviceForConnection(connId);
    if (!device)
        return false;
    device->controller->stopReports();
    device->reportsOn = false;
    device->connId = 0;
    return true;
}

bool VirtualDongle::justWorksResult(const BleAddress &address, uint8_t, uint8_t)
{
    std::lock_guard<std::mutex> lock(mutex);
    return findDevice(address) >= 0;
}

bool VirtualDongle::acceptConnUpdate(uint32_t connId, uint16_t, uint8_t)
{
    std::lock_guard<std::mutex> lock(mutex);
    return deviceForConnection(connId) != nullptr;
}

bool VirtualDongle::discoverDatabase(uint32_t connId)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!deviceForConnection(connId))
            return false;
        schedule(now() + DiscoveryDelayMs, true, [this, connId](int64_t, Events &out) {
            if (deviceForConnection(connId))
                out.push_back(hostDatabaseEvent(0, controllerDatabase()));
        });
    }
    wakeThread();
    return true;
}

bool VirtualDongle::writeConfiguration(uint32_t connId, uint16_t descriptorHandle,
                                       uint16_t valueHandle, uint16_t value)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        Device *device = deviceForConnection(connId);
        if (!device || descriptorHandle != ReportConfigHandle || valueHandle != ReportHandle)
            return false;
        if (value == 1) {
            if (!device->reportsOn) {
                device->controller->setReportRate(rate, now());
                device->controller->startReports(now());
                device->controller->setPaused(paused, now());
                device->reportsOn = true;
            }
        } else if (value == 0) {
            device->controller->stopReports();
            device->reportsOn = false;
        } else {
            // Indications (2) are not supported by the report characteristic.
            return false;
        }
    }
    wakeThread();
    return true;
}

bool VirtualDongle::writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset,
                                      uint16_t length, const uint8_t *data)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        Device *device = deviceForConnection(connId);
        if (writeRefused || !device || handle != ParamHandle || offset != 0
            || (length > 0 && !data))
            return false;
        device->controller->writeParameter(data, length, now());
    }
    wakeThread();
    return true;
}

// --- Event delivery --------------------------------------------------------------------

int64_t VirtualDongle::nextDueLocked() const
{
    int64_t due = actions.empty() ? Never : actions.begin()->first.first;
    for (const Device &device : devices) {
        if (device.connId != 0 && device.reportsOn)
            due = std::min(due, device.controller->nextDueMs());
    }
    return due;
}

void VirtualDongle::processDue(int64_t upTo)
{
    std::lock_guard<std::mutex> posting(postMutex);
    Events out;
    HostEventTarget to;
    NotificationObserver watch;
    {
        std::lock_guard<std::mutex> lock(mutex);
        // One thing at a time in time order: an action may schedule further actions or switch
        // reports on, and those must still come in order within this call.
        for (;;) {
            int64_t due = actions.empty() ? Never : actions.begin()->first.first;
            Device *reporter = nullptr;
            for (Device &device : devices) {
                if (device.connId == 0 || !device.reportsOn)
                    continue;
                const int64_t d = device.controller->nextDueMs();
                if (d < due) {
                    due = d;
                    reporter = &device;
                }
            }
            if (due > upTo)
                break;
            if (reporter) {
                for (const auto &n : reporter->controller->advanceTo(due))
                    out.push_back(hostNotificationEvent(reporter->connId, ReportHandle,
                                                        n.bytes.data(), n.bytes.size()));
            } else {
                auto node = actions.extract(actions.begin());
                node.mapped().run(node.key().first, out);
            }
        }
        to = target;
        watch = observer;
    }
    // Posted outside the lock: the consumer may call straight back into the dongle.
    for (HostEvent &event : out) {
        if (watch && event.code == HostEventNotification) {
            const auto *record = reinterpret_cast<const HostNotificationEvent *>(event.param);
            watch(record->connId, record->data, record->length);
        }
        to.post(std::move(event));
    }
}

void VirtualDongle::threadMain()
{
#if defined(__linux__)
    // Named so that per-thread figures (top -H, /proc/<pid>/task) tell it from the others.
    pthread_setname_np(pthread_self(), "VirtualDongle");
#endif
    std::unique_lock<std::mutex> lock(mutex);
    while (!quitting) {
        const int64_t due = nextDueLocked();
        const int64_t t = now();
        if (due <= t) {
            lock.unlock();
            processDue(t);
            lock.lock();
            continue;
        }
        if (due == Never)
            wake.wait(lock);
        else
            wake.wait_for(lock, std::chrono::milliseconds(due - t));
    }
}

// --- Test and benchmark interface ------------------------------------------------------

BleAddress VirtualDongle::controllerAddress(int index)
{
    if (index < 0 || index >= ControllerCount)
        return BleAddress{};
    return makeBleAddress(ControllerAddresses[index]);
}

const char *VirtualDongle::controllerName(int index)
{
    if (index < 0 || index >= ControllerCount)
        return nullptr;
    return ControllerNames[index];
}

void VirtualDongle::setReportRate(int perSecond)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        rate = std::clamp(perSecond, 1, 1000);
        for (Device &device : devices) {
            if (device.controller)
                device.controller->setReportRate(rate, now());
        }
    }
    wakeThread();
}

int VirtualDongle::reportRate() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return rate;
}

void VirtualDongle::setReportsPaused(bool pause)
{
    {
        // Reports are made under the state mutex but posted after it is released. Holding the
        // posting mutex as well lets a batch that was made before the pause finish posting
        // first, so nothing at all is posted once this returns.
        std::lock_guard<std::mutex> posting(postMutex);
        std::lock_guard<std::mutex> lock(mutex);
        paused = pause;
        for (Device &device : devices) {
            if (device.controller)
                device.controller->setPaused(pause, now());
        }
    }
    wakeThread();
}

uint32_t VirtualDongle::connectionId(int index) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const Device *device = checkedDevice(index);
    return device ? device->connId : 0;
}

bool VirtualDongle::reportsOn(int index) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const Device *device = checkedDevice(index);
    return device && device->connId != 0 && device->reportsOn;
}

std::vector<std::vector<uint8_t>> VirtualDongle::receivedFrames(int index) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const Device *device = checkedDevice(index);
    return device ? device->controller->receivedFrames() : std::vector<std::vector<uint8_t>>{};
}

VirtualController::Truth VirtualDongle::controllerTruth(int index, int64_t ms) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const Device *device = checkedDevice(index);
    return device ? device->controller->truthAt(ms) : VirtualController::Truth{};
}

std::array<int16_t, 3> VirtualDongle::controllerMagCentre(int index) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const Device *device = checkedDevice(index);
    return device ? device->controller->magCentre() : std::array<int16_t, 3>{};
}

void VirtualDongle::setNotificationObserver(NotificationObserver newObserver)
{
    std::lock_guard<std::mutex> lock(mutex);
    observer = std::move(newObserver);
}

void VirtualDongle::setDongleAbsent(bool absent)
{
    std::lock_guard<std::mutex> lock(mutex);
    dongleAbsent = absent;
}

void VirtualDongle::setConnectRefused(bool refused)
{
    std::lock_guard<std::mutex> lock(mutex);
    connectRefused = refused;
}

void VirtualDongle::setConnectFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex);
    connectFails = fails;
}

void VirtualDongle::setWriteRefused(bool refused)
{
    std::lock_guard<std::mutex> lock(mutex);
    writeRefused = refused;
}

void VirtualDongle::injectLinkFailure()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        schedule(now(), false, [this](int64_t, Events &out) {
            for (Device &device : devices) {
                if (device.connId == 0)
                    continue;
                out.push_back(hostFailureEvent(LinkLostFailure, device.connId));
                device.controller->stopReports();
                device.reportsOn = false;
                device.connId = 0;
            }
        });
    }
    wakeThread();
}

void VirtualDongle::injectNotification(const std::vector<uint8_t> &bytes)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        schedule(now(), false, [this, bytes](int64_t, Events &out) {
            for (const Device &device : devices) {
                if (device.connId != 0 && device.reportsOn)
                    out.push_back(hostNotificationEvent(device.connId, ReportHandle,
                                                        bytes.data(), bytes.size()));
            }
        });
    }
    wakeThread();
}

void VirtualDongle::addAdvertisers(int count)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        const int64_t t = now();
        for (int i = 0; i < count; ++i) {
            Device device;
            const int number = int(devices.size()) - ControllerCount;
            device.address = makeBleAddress(AdvertiserBase + uint64_t(number));
            char name[32];
            std::snprintf(name, sizeof name, "Beacon %d", number + 1);
            device.name = name;
            devices.push_back(std::move(device));
            if (scanning)
                scheduleAdvert(int(devices.size()) - 1,
                               t + 1 + (AdvertisingPeriodMs - 1) * i / std::max(1, count),
                               scanGeneration);
        }
    }
    wakeThread();
}
