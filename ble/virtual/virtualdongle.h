// A simulated BLE dongle with three simulated controllers, behind the host layer: it takes
// the worker's calls and posts the events a real dongle would, so the whole tool runs and is
// tested without hardware.
//
// Time runs on one of two clocks. RealTime: a thread of the dongle's own posts each event
// when it falls due and sleeps in between. Manual: nothing happens until advance() is
// called, which posts everything due up to the new time on the calling thread, so tests and
// benchmarks are deterministic.
#pragma once

#include "hostlayer.h"
#include "virtualcontroller.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class VirtualDongle : public HostBackend
{
public:
    enum class Clock { RealTime, Manual };

    static constexpr int ControllerCount = 3;

    // Attribute handles of every controller's database.
    static constexpr uint16_t ControllerServiceUuid = 0xFAEA;
    static constexpr uint16_t ReportHandle = 0x000D;
    static constexpr uint16_t ReportConfigHandle = 0x000E;
    static constexpr uint16_t ParamHandle = 0x0010;

    // Delays, milliseconds.
    static constexpr int64_t ReadyDelayMs = 50;
    static constexpr int64_t AdvertisingPeriodMs = 300;
    static constexpr int64_t PairingDelayMs = 20;
    static constexpr int64_t ConnectDelayMs = 40;
    static constexpr int64_t ConnUpdateDelayMs = 60;
    static constexpr int64_t ConnectTimeoutMs = 1000;
    static constexpr int64_t DiscoveryDelayMs = 30;

    // Event 4 status when a connection cannot be made (connection failed to be established).
    static constexpr uint16_t ConnectFailedStatus = 0x003E;
    // Event 10 value of a dropped link (supervision timeout).
    static constexpr uint16_t LinkLostFailure = 0x0008;

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
    Clock clock() const { return clockKind; }
    int64_t now() const;            // milliseconds since the dongle was made
    void advance(int64_t ms);       // Manual clock only; posts everything due on this thread

    // --- The controllers ----------------------------------------------------------------
    // Fixed addresses; controller 2 is first seen without a name in every scan.
    static BleAddress controllerAddress(int index);
    static const char *controllerName(int index);

    // Type-0 reports per second for every controller (types 2, 3, 4 at a quarter of it).
    void setReportRate(int perSecond);
    int reportRate() const;
    // Controllers stop sending reports (the connection stays); resuming starts them again.
    // Once a pause returns, no further report is posted until the resume.
    void setReportsPaused(bool paused);

    // Connection id of a controller's open connection, 0 when it has none.
    uint32_t connectionId(int index) const;
    // Whether the controller has its reports switched on.
    bool reportsOn(int index) const;
    // Every frame written to a controller's parameter characteristic, as received.
    std::vector<std::vector<uint8_t>> receivedFrames(int index) const;
    // The model truth of a controller at a time on this dongle's clock.
    VirtualController::Truth controllerTruth(int index, int64_t ms) const;
    std::array<int16_t, 3> controllerMagCentre(int index) const;

    // Called for every notification, on the posting thread, right before it is posted.
    using NotificationObserver =
            std::function<void(uint32_t connId, const uint8_t *data, size_t length)>;
    void setNotificationObserver(NotificationObserver observer);

    // --- Fault injection ----------------------------------------------------------------
    void setDongleAbsent(bool absent);      // the next start() reports a failed dongle
    void setConnectRefused(bool refused);   // connect() returns 0
    void setConnectFails(bool fails);       // connect() starts, event 4 fails after a timeout
    void setWriteRefused(bool refused);     // writeCharByHandle() returns 0
    // Every open link drops: event 10 with a non-zero value, reports stop, the id is gone.
    void injectLinkFailure();
    // These bytes arrive as a notification on every connection with reports on, in order
    // with the controller's own reports (malformed, short or oversized data all go through).
    void injectNotification(const std::vector<uint8_t> &bytes);
    // `count` more devices advertise (each once per advertising period) while scanning.
    // They are no controllers: connecting to one fails like an unknown address.
    void addAdvertisers(int count);

private:
    struct Device {
        BleAddress address{};
        std::string name;
        bool namelessFirst = false;         // first sighting of each scan carries no name
        bool seenThisScan = false;
        std::unique_ptr<VirtualController> controller;   // null for extra advertisers
        uint32_t connId = 0;
        bool reportsOn = false;
    };

    using Events = std::vector<HostEvent>;
    struct Action {
        bool cancellable = false;           // dropped by cancel()
        std::function<void(int64_t, Events &)> run;
    };

    void schedule(int64_t due, bool cancellable, std::function<void(int64_t, Events &)> run);
    void scheduleAdvert(int device, int64_t due, uint64_t scanGen);
    int findDevice(const BleAddress &address) const;
    Device *deviceForConnection(uint32_t connId);
    const Device *checkedDevice(int index) const;
    int64_t nextDueLocked() const;
    void processDue(int64_t upTo);
    void threadMain();
    void wakeThread();

    const Clock clockKind;
    const std::chrono::steady_clock::time_point epoch;
    std::atomic<int64_t> manualNow{0};

    mutable std::mutex mutex;
    std::condition_variable wake;
    bool quitting = false;
    std::thread thread;

    // Only processDue's caller posts; this keeps events in order when posting happens outside
    // the lock.
    std::mutex postMutex;

    HostEventTarget target;
    NotificationObserver observer;
    bool initialised = false;
    bool started = false;
    bool ready = false;
    bool scanning = false;
    uint64_t scanGeneration = 0;
    bool connectPending = false;
    uint32_t nextConnId = 1;
    uint16_t nextUpdateId = 1;
    int rate = 100;
    bool paused = false;

    bool dongleAbsent = false;
    bool connectRefused = false;
    bool connectFails = false;
    bool writeRefused = false;

    std::vector<Device> devices;
    std::map<std::pair<int64_t, uint64_t>, Action> actions;
    uint64_t actionSeq = 0;
};
