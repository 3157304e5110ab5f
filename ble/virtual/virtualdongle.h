// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// A simulated BLE dongle with three simulated controllers, behind the host layer: it takes
// the worker's calls and posts the events a real dongle would, so the whole tool runs and is
// tested without hardware.
//
// Its events fall due on an EventScheduler's clock, which posts them in order and holds no
// lock that the dongle's calls take while it posts. A call only changes the dongle's state
// under the scheduler's lock and schedules what follows; it never waits for anything else.
// Faults are put in through faults().
#pragma once

#include "donglefaults.h"
#include "eventscheduler.h"
#include "hostlayer.h"
#include "virtualcontroller.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class VirtualDongle : public HostBackend
{
public:
    using Clock = EventScheduler::Clock;

    static constexpr int ControllerCount = 3;
    // Every device advertises once per period while the dongle scans.
    static constexpr int64_t AdvertisingPeriodMs = 300;

    explicit VirtualDongle(Clock clock = Clock::RealTime);
    ~VirtualDongle() override;
    VirtualDongle(const VirtualDongle &) = delete;
    VirtualDongle &operator=(const VirtualDongle &) = delete;

    // HostBackend
    bool init(const HostEventTarget &target) override;
    bool start() override;
    bool startLeScan() override;
    bool stopLeSearch() override;
    bool stopDeviceSearch() override;
    bool cancel() override;
    bool setConnectionParams(uint16_t scanInterval, uint16_t scanWindow, uint16_t intervalMin,
                             uint16_t intervalMax, uint16_t latency,
                             uint16_t supervisionTimeout) override;
    bool connect(const BleAddress &address) override;
    bool disconnect(uint32_t connId) override;
    bool justWorksResult(const BleAddress &address, uint8_t accept, uint8_t bond) override;
    bool acceptConnUpdate(uint32_t connId, uint16_t identifier, uint8_t accept) override;
    bool discoverDatabase(uint32_t connId) override;
    bool writeConfiguration(uint32_t connId, uint16_t descriptorHandle, uint16_t valueHandle,
                            uint16_t value) override;
    bool writeCharByHandle(uint32_t connId, uint16_t handle, uint16_t offset, uint16_t length,
                           const uint8_t *data) override;

    // --- Clock --------------------------------------------------------------------------
    int64_t now() const { return scheduler.now(); }         // milliseconds since made
    void advance(int64_t ms) { scheduler.advance(ms); }     // Manual clock only

    // --- The controllers ----------------------------------------------------------------
    // Fixed addresses; controller 2 is first seen without a name in every scan.
    static BleAddress controllerAddress(int index);

    // Type-0 reports per second for every controller (types 2, 3, 4 at a quarter of it).
    void setReportRate(int perSecond);
    // Controllers stop sending reports (the connection stays); resuming starts them again.
    // Once a pause returns, no further report is posted until the resume.
    void setReportsPaused(bool paused);

    // Connection id of a controller's open connection, 0 when it has none.
    uint32_t connectionId(int index) const;
    // Every frame written to a controller's parameter characteristic, as received.
    std::vector<std::vector<uint8_t>> receivedFrames(int index) const;
    // The model truth of a controller at a time on this dongle's clock.
    VirtualController::Truth controllerTruth(int index, int64_t ms) const;
    std::array<int16_t, 3> controllerMagCentre(int index) const;

    // Called for every notification, on the posting thread, right before it is posted.
    using NotificationObserver =
            std::function<void(uint32_t connId, const uint8_t *data, size_t length)>;
    void setNotificationObserver(NotificationObserver observer);

    DongleFaults &faults() { return faultControl; }

private:
    friend class DongleFaults;
    using Events = EventScheduler::Events;

    // A device that advertises but is no controller.
    struct Advertiser {
        BleAddress address{};
        std::string name;
        int renameLength = 0;       // > 0: a new name of this length at every advertisement
        uint64_t renames = 0;
    };
    // One controller: what it advertises, its model, and its link.
    struct Controller {
        Advertiser advert;
        bool namelessFirst = false;         // first sighting of each scan carries no name
        bool seenThisScan = false;
        VirtualController model;
        uint32_t connId = 0;
        bool reportsOn = false;
    };

    // All with the scheduler's lock held.
    void scheduleAdvert(int device, int64_t due, uint64_t scanGen);
    int findController(const BleAddress &address) const;
    bool knowsDevice(const BleAddress &address) const;
    Controller *controllerForConnection(uint32_t connId);
    const Controller *checkedController(int index) const;
    void dropLink(Controller &controller);
    int64_t nextReportDue() const;
    void sendReports(int64_t at, Events &out);
    // What the faults inject, at the time they run.
    void failLinks(Events &out);
    void notifyAll(const std::vector<uint8_t> &bytes, Events &out);
    void addAdvertisers(int count, int renameLength);
    void setAdapterGone(bool gone);
    void setFlood(int perSecond);
    void scheduleFlood(int64_t due, uint64_t generation);
    void scheduleWriteResult(int64_t due, uint16_t status, uint32_t connId, uint16_t handle);

    std::vector<Controller> controllers;    // ControllerCount of them
    std::vector<Advertiser> advertisers;    // added by the faults
    DongleFaults faultControl{*this};

    bool initialised = false;
    bool started = false;
    bool ready = false;
    bool scanning = false;
    uint64_t scanGeneration = 0;
    bool connectPending = false;
    BleAddress pendingPeer{};
    bool adapterGone = false;
    int floodRate = 0;
    int64_t floodStart = 0;
    int64_t floodRounds = 0;
    uint64_t floodGeneration = 0;
    uint32_t nextConnId = 1;
    uint16_t nextUpdateId = 1;
    int rate = 100;   // as asked for; each model keeps it within its own range
    bool paused = false;

    // Last: its thread runs work on everything above.
    EventScheduler scheduler;
};
