// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "virtualdongle.h"

#include "hostevents.h"
#include "protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

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

// Attribute handles of every controller's database.
constexpr uint16_t ReportHandle = 0x000D;
constexpr uint16_t ReportConfigHandle = 0x000E;
constexpr uint16_t ParamHandle = 0x0010;

// Delays, milliseconds.
constexpr int64_t ReadyDelayMs = 50;
constexpr int64_t PairingDelayMs = 20;
constexpr int64_t ConnectDelayMs = 40;
constexpr int64_t ConnUpdateDelayMs = 60;
constexpr int64_t ConnectTimeoutMs = 1000;
constexpr int64_t DiscoveryDelayMs = 30;
constexpr int64_t WriteConfirmDelayMs = 5;
constexpr int64_t WriteTimeoutMs = 1000;

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
        controller.uuid = Protocol::ServiceUuid;
        controller.startHandle = 0x000B;
        controller.endHandle = ParamHandle;
        controller.characteristics = {
            {0xFAE1, ReportHandle, 0x10, {{0x2902, ReportConfigHandle}}},
            {0xFAE2, ParamHandle, 0x08, {}},
        };
        return std::vector<HostServiceDef>{gap, info, controller};
    }();
    return services;
}

} // namespace

VirtualDongle::VirtualDongle(Clock clock)
    : scheduler(clock, EventScheduler::Stream{[this] { return nextReportDue(); },
                                              [this](int64_t at, Events &out) { sendReports(at, out); }})
{
    for (int i = 0; i < ControllerCount; ++i) {
        Controller controller;
        controller.advert.address = makeBleAddress(ControllerAddresses[i]);
        controller.advert.name = ControllerNames[i];
        controller.namelessFirst = (i == 2);
        controller.model = VirtualController(uint32_t(i + 1));
        controllers.push_back(std::move(controller));
    }
    scheduler.start();
}

VirtualDongle::~VirtualDongle()
{
    scheduler.stop();
}

int VirtualDongle::findController(const BleAddress &address) const
{
    for (size_t i = 0; i < controllers.size(); ++i) {
        if (sameAddress(controllers[i].advert.address, address))
            return int(i);
    }
    return -1;
}

bool VirtualDongle::knowsDevice(const BleAddress &address) const
{
    return findController(address) >= 0
            || std::any_of(advertisers.begin(), advertisers.end(),
                           [&](const Advertiser &a) { return sameAddress(a.address, address); });
}

VirtualDongle::Controller *VirtualDongle::controllerForConnection(uint32_t connId)
{
    if (connId == 0)
        return nullptr;
    for (Controller &controller : controllers) {
        if (controller.connId == connId)
            return &controller;
    }
    return nullptr;
}

const VirtualDongle::Controller *VirtualDongle::checkedController(int index) const
{
    if (index < 0 || index >= ControllerCount)
        return nullptr;
    return &controllers[size_t(index)];
}

void VirtualDongle::dropLink(Controller &controller)
{
    controller.model.stopReports();
    controller.reportsOn = false;
    controller.connId = 0;
}

// --- HostBackend -----------------------------------------------------------------------

bool VirtualDongle::init(const HostEventTarget &target)
{
    EventScheduler::Lock lock(scheduler);
    // A new initialisation starts from a dongle just plugged in.
    scheduler.restart(target);
    for (Controller &controller : controllers)
        dropLink(controller);
    initialised = true;
    started = false;
    ready = false;
    scanning = false;
    ++scanGeneration;
    connectPending = false;
    return true;
}

bool VirtualDongle::start()
{
    EventScheduler::Lock lock(scheduler);
    if (!initialised)
        return false;
    started = true;
    const bool present = !faultControl.settings.dongleAbsent && !adapterGone;
    scheduler.schedule(now() + ReadyDelayMs, false, [this, present](int64_t, Events &out) {
        ready = present;
        out.push_back(hostReadyEvent(present));
    });
    return true;
}

void VirtualDongle::scheduleAdvert(int device, int64_t due, uint64_t scanGen)
{
    scheduler.schedule(due, false, [this, device, scanGen](int64_t t, Events &out) {
        if (!scanning || scanGen != scanGeneration)
            return;
        const int16_t rssi = int16_t(-50 - device % 40);
        if (device < ControllerCount) {
            Controller &controller = controllers[size_t(device)];
            // A connected controller stops advertising until the link is gone.
            if (controller.connId == 0) {
                const bool nameless = controller.namelessFirst && !controller.seenThisScan;
                controller.seenThisScan = true;
                out.push_back(hostDeviceFoundEvent(controller.advert.address,
                                                   nameless ? nullptr : controller.advert.name.c_str(),
                                                   rssi));
            }
        } else {
            Advertiser &advertiser = advertisers[size_t(device - ControllerCount)];
            if (advertiser.renameLength > 0) {
                char head[48];
                std::snprintf(head, sizeof head, "Beacon %d/%llu ", device - ControllerCount + 1,
                              static_cast<unsigned long long>(++advertiser.renames));
                advertiser.name.assign(size_t(advertiser.renameLength), char('a' + advertiser.renames % 26));
                const size_t n = std::min(std::strlen(head), advertiser.name.size());
                advertiser.name.replace(0, n, head, n);
            }
            out.push_back(hostDeviceFoundEvent(advertiser.address, advertiser.name.c_str(), rssi));
        }
        scheduleAdvert(device, t + AdvertisingPeriodMs, scanGen);
    });
}

bool VirtualDongle::startLeScan()
{
    EventScheduler::Lock lock(scheduler);
    if (started && adapterGone) {
        scheduler.schedule(now(), false, [](int64_t, Events &out) { out.push_back(hostReadyEvent(false)); });
        return false;
    }
    if (!ready)
        return false;
    scanning = true;
    const uint64_t gen = ++scanGeneration;
    const int64_t t = now();
    const int extra = int(advertisers.size());
    for (Controller &controller : controllers)
        controller.seenThisScan = false;
    // Spread the devices over the period, the controllers first.
    for (int i = 0; i < ControllerCount; ++i)
        scheduleAdvert(i, t + 100 * (i + 1), gen);
    for (int i = 0; i < extra; ++i)
        scheduleAdvert(ControllerCount + i, t + 1 + (AdvertisingPeriodMs - 1) * i / std::max(1, extra), gen);
    return true;
}

bool VirtualDongle::stopLeSearch()
{
    EventScheduler::Lock lock(scheduler);
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
    EventScheduler::Lock lock(scheduler);
    if (!started)
        return false;
    scheduler.dropCancellable();
    connectPending = false;
    return true;
}

bool VirtualDongle::setConnectionParams(uint16_t, uint16_t, uint16_t intervalMin,
                                        uint16_t intervalMax, uint16_t, uint16_t)
{
    EventScheduler::Lock lock(scheduler);
    return started && !adapterGone && intervalMin <= intervalMax;
}

bool VirtualDongle::connect(const BleAddress &address)
{
    EventScheduler::Lock lock(scheduler);
    if (!ready || adapterGone || faultControl.settings.connectRefused || connectPending)
        return false;
    connectPending = true;
    pendingPeer = address;
    const int64_t t = now();
    const int index = findController(address);
    const bool reachable = index >= 0 && controllers[size_t(index)].connId == 0
            && !faultControl.settings.connectFails;
    if (!reachable) {
        // Nobody answers: the attempt times out.
        scheduler.schedule(t + ConnectTimeoutMs, true, [this, address](int64_t, Events &out) {
            connectPending = false;
            out.push_back(hostConnectResultEvent(HostStatusConnectionTimeout, 0, address));
        });
        return true;
    }
    const uint32_t id = nextConnId++;
    if (nextConnId == 0)
        nextConnId = 1;
    const uint16_t updateId = nextUpdateId++;
    const BleAddress peer = controllers[size_t(index)].advert.address;
    scheduler.schedule(t + PairingDelayMs, true, [peer, id](int64_t, Events &out) {
        out.push_back(hostJustWorksEvent(peer, id));
    });
    scheduler.schedule(t + ConnectDelayMs, true, [this, index, peer, id](int64_t, Events &out) {
        connectPending = false;
        controllers[size_t(index)].connId = id;
        out.push_back(hostConnectResultEvent(0, id, peer));
    });
    scheduler.schedule(t + ConnUpdateDelayMs, true, [this, id, updateId](int64_t, Events &out) {
        if (controllerForConnection(id))
            out.push_back(hostConnUpdateEvent(updateId, id));
    });
    return true;
}

bool VirtualDongle::disconnect(uint32_t connId)
{
    EventScheduler::Lock lock(scheduler);
    Controller *controller = controllerForConnection(connId);
    if (!controller)
        return false;
    dropLink(*controller);
    return true;
}

bool VirtualDongle::justWorksResult(const BleAddress &address, uint8_t, uint8_t)
{
    EventScheduler::Lock lock(scheduler);
    return knowsDevice(address);
}

bool VirtualDongle::acceptConnUpdate(uint32_t connId, uint16_t, uint8_t)
{
    EventScheduler::Lock lock(scheduler);
    return controllerForConnection(connId) != nullptr;
}

bool VirtualDongle::discoverDatabase(uint32_t connId)
{
    EventScheduler::Lock lock(scheduler);
    if (!controllerForConnection(connId))
        return false;
    scheduler.schedule(now() + DiscoveryDelayMs, true, [this, connId](int64_t, Events &out) {
        if (controllerForConnection(connId))
            out.push_back(hostDatabaseEvent(0, controllerDatabase()));
    });
    return true;
}

bool VirtualDongle::writeConfiguration(uint32_t connId, uint16_t descriptorHandle,
                                       uint16_t valueHandle, uint16_t value)
{
    EventScheduler::Lock lock(scheduler);
    Controller *controller = controllerForConnection(connId);
    if (!controller || descriptorHandle != ReportConfigHandle || valueHandle != ReportHandle)
        return false;
    if (value == 1) {
        if (!controller->reportsOn) {
            controller->model.setReportRate(rate, now());
            controller->model.startReports(now());
            controller->model.setPaused(paused, now());
            controller->reportsOn = true;
        }
    } else if (value == 0) {
        controller->model.stopReports();
        controller->reportsOn = false;
    } else {
        // Indications (2) are not supported by the report characteristic.
        return false;
    }
    return true;
}

bool VirtualDongle::writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset,
                                      uint16_t length, const uint8_t *data)
{
    EventScheduler::Lock lock(scheduler);
    Controller *controller = controllerForConnection(connId);
    const DongleFaults::Settings &faults = faultControl.settings;
    if (faults.writeRefused || !controller || handle != ParamHandle || offset != 0
        || (length > 0 && !data))
        return false;
    const int64_t t = now();
    if (faults.writeUnanswered) {
        scheduleWriteResult(t + WriteTimeoutMs, HostStatusWriteTimeout, connId, handle);
    } else if (faults.writeFailsLater) {
        scheduleWriteResult(t + WriteConfirmDelayMs, HostStatusWriteFailed, connId, handle);
    } else {
        controller->model.writeParameter(data, length, t);
        scheduleWriteResult(t + WriteConfirmDelayMs, 0, connId, handle);
    }
    return true;
}

void VirtualDongle::scheduleWriteResult(int64_t due, uint16_t status, uint32_t connId, uint16_t handle)
{
    // Not cancellable: every accepted write gets its outcome.
    scheduler.schedule(due, false, [this, status, connId, handle](int64_t, Events &out) {
        const bool linkGone = controllerForConnection(connId) == nullptr;
        out.push_back(hostWriteResultEvent(status == 0 && linkGone ? uint16_t(HostStatusWriteFailed) : status,
                                           connId, handle));
    });
}

// --- Reports ---------------------------------------------------------------------------

int64_t VirtualDongle::nextReportDue() const
{
    int64_t due = EventScheduler::Never;
    for (const Controller &controller : controllers) {
        if (controller.connId != 0 && controller.reportsOn)
            due = std::min(due, controller.model.nextDueMs());
    }
    return due;
}

// The first controller whose reports fall due at `at` sends them.
void VirtualDongle::sendReports(int64_t at, Events &out)
{
    for (Controller &controller : controllers) {
        if (controller.connId == 0 || !controller.reportsOn || controller.model.nextDueMs() != at)
            continue;
        for (const auto &n : controller.model.advanceTo(at))
            out.push_back(hostNotificationEvent(controller.connId, ReportHandle, n.bytes.data(),
                                                n.bytes.size()));
        return;
    }
}

// --- Faults ----------------------------------------------------------------------------

void VirtualDongle::failLinks(Events &out)
{
    for (Controller &controller : controllers) {
        if (controller.connId == 0)
            continue;
        out.push_back(hostFailureEvent(HostStatusConnectionTimeout, controller.connId));
        dropLink(controller);
    }
}

void VirtualDongle::notifyAll(const std::vector<uint8_t> &bytes, Events &out)
{
    for (const Controller &controller : controllers) {
        if (controller.connId != 0 && controller.reportsOn)
            out.push_back(hostNotificationEvent(controller.connId, ReportHandle, bytes.data(),
                                                bytes.size()));
    }
}

void VirtualDongle::addAdvertisers(int count, int renameLength)
{
    const int64_t t = now();
    for (int i = 0; i < count; ++i) {
        const int number = int(advertisers.size());
        char name[32];
        std::snprintf(name, sizeof name, "Beacon %d", number + 1);
        advertisers.push_back(Advertiser{makeBleAddress(AdvertiserBase + uint64_t(number)), name,
                                         std::max(0, renameLength), 0});
        if (scanning)
            scheduleAdvert(ControllerCount + number,
                           t + 1 + (AdvertisingPeriodMs - 1) * i / std::max(1, count),
                           scanGeneration);
    }
}

void VirtualDongle::setAdapterGone(bool gone)
{
    if (gone == adapterGone)
        return;
    adapterGone = gone;
    if (!gone)
        return;
    scanning = false;
    ++scanGeneration;
    scheduler.schedule(now(), false, [this](int64_t, Events &out) {
        failLinks(out);
        if (connectPending) {
            // The attempt's own events go with the adapter.
            scheduler.dropCancellable();
            connectPending = false;
            out.push_back(hostConnectResultEvent(HostStatusConnectFailed, 0, pendingPeer));
        }
    });
}

void VirtualDongle::setFlood(int perSecond)
{
    floodRate = std::max(0, perSecond);
    const uint64_t generation = ++floodGeneration;
    if (floodRate == 0)
        return;
    floodStart = now();
    floodRounds = 0;
    scheduleFlood(floodStart + 1, generation);
}

void VirtualDongle::scheduleFlood(int64_t due, uint64_t generation)
{
    scheduler.schedule(due, false, [this, generation](int64_t t, Events &out) {
        if (generation != floodGeneration)
            return;
        for (const int64_t rounds = floodRate * (t - floodStart) / 1000; floodRounds < rounds; ++floodRounds) {
            for (const Controller &controller : controllers) {
                if (controller.connId == 0 || !controller.reportsOn)
                    continue;
                // The first angle turns a tenth of a degree a report, so that no two look alike.
                Protocol::Report report = controller.model.encodeReport(Protocol::OrientationReport, t);
                Protocol::encodeSignMagnitude(int(floodRounds % 3600), &report[3]);
                out.push_back(hostNotificationEvent(controller.connId, ReportHandle, report.data(), report.size()));
            }
        }
        scheduleFlood(t + 1, generation);
    });
}

// --- Test and benchmark interface ------------------------------------------------------

BleAddress VirtualDongle::controllerAddress(int index)
{
    if (index < 0 || index >= ControllerCount)
        return BleAddress{};
    return makeBleAddress(ControllerAddresses[index]);
}

void VirtualDongle::setReportRate(int perSecond)
{
    EventScheduler::Lock lock(scheduler);
    rate = perSecond;
    for (Controller &controller : controllers)
        controller.model.setReportRate(rate, now());
}

void VirtualDongle::setReportsPaused(bool pause)
{
    // Reports are made under the lock but posted after it is released: a batch made before
    // the pause finishes posting first, so nothing at all is posted once this returns.
    EventScheduler::Lock lock(scheduler, EventScheduler::Lock::AfterDelivery);
    paused = pause;
    for (Controller &controller : controllers)
        controller.model.setPaused(pause, now());
}

uint32_t VirtualDongle::connectionId(int index) const
{
    EventScheduler::Lock lock(scheduler);
    const Controller *controller = checkedController(index);
    return controller ? controller->connId : 0;
}

std::vector<std::vector<uint8_t>> VirtualDongle::receivedFrames(int index) const
{
    EventScheduler::Lock lock(scheduler);
    const Controller *controller = checkedController(index);
    return controller ? controller->model.receivedFrames() : std::vector<std::vector<uint8_t>>{};
}

VirtualController::Truth VirtualDongle::controllerTruth(int index, int64_t ms) const
{
    EventScheduler::Lock lock(scheduler);
    const Controller *controller = checkedController(index);
    return controller ? controller->model.truthAt(ms) : VirtualController::Truth{};
}

std::array<int16_t, 3> VirtualDongle::controllerMagCentre(int index) const
{
    EventScheduler::Lock lock(scheduler);
    const Controller *controller = checkedController(index);
    return controller ? controller->model.magCentre() : std::array<int16_t, 3>{};
}

void VirtualDongle::setNotificationObserver(NotificationObserver observer)
{
    EventScheduler::Watch watch;
    if (observer) {
        watch = [observer = std::move(observer)](const HostEvent &event) {
            if (event.code != HostEventNotification)
                return;
            const auto *record = reinterpret_cast<const HostNotificationEvent *>(event.param);
            observer(record->connId, record->data, record->length);
        };
    }
    EventScheduler::Lock lock(scheduler);
    scheduler.setWatch(std::move(watch));
}
