// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// One simulated motion controller: a physical model (orientation, earth field, gravity,
// turn rate, controls) sampled on a report schedule and encoded as the controller's
// notifications, plus the parameter characteristic that takes calibration frames.
//
// Plain and deterministic: no threads, no event loop, no wall clock. The owner passes the
// time in milliseconds and collects what is due.
#pragma once

#include "protocol.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

class VirtualController
{
public:
    // The scripted path: still for StillMs, then turning for TurnMs, over and over.
    static constexpr int64_t StillMs = 20000;
    static constexpr int64_t TurnMs = 20000;
    static constexpr int64_t CycleMs = StillMs + TurnMs;

    static constexpr double EarthField = 150.0;     // magnetometer counts
    static constexpr double GravityCounts = 4096.0; // accelerometer counts per g
    static constexpr double GyroCountsPerDps = 16.4;

    struct Notification {
        int64_t timeMs = 0;
        std::vector<uint8_t> bytes;
    };

    // What the model says at one instant; reports taken at that instant encode exactly this.
    struct Truth {
        std::array<int16_t, 3> angleTenths{};   // angle1..3 in tenths of a degree, -1800..1799
        std::array<int16_t, 3> accel{};
        std::array<int16_t, 3> gyro{};
        // As reported, but for a spike, which only the reports carry: the field through the
        // soft iron, plus the hard-iron offsets and noise, less the centre.
        std::array<int16_t, 3> mag{};
        int8_t btn = 0;
        int8_t trig = -128;
        int8_t rockX = 0;
        int8_t rockY = 0;
        bool turning = false;
    };

    // `seed` varies the noise, the path's start pose, the hard-iron offset and the soft iron
    // between controllers; the same seed always gives the same controller.
    explicit VirtualController(uint32_t seed = 1);

    // Type-0 reports per second; types 2, 3 and 4 each come at a quarter of it. Takes effect
    // from `nowMs`. Rates below 1 are raised to 1, above 1000 capped to 1000.
    void setReportRate(int perSecond, int64_t nowMs);
    int reportRate() const { return rate; }

    // Reports on/off (the client configuration of the report characteristic).
    void startReports(int64_t nowMs);
    void stopReports();
    bool reportsOn() const { return reporting; }

    // Paused: the controller keeps its notifications on but sends nothing (a stalled link or a
    // controller busy elsewhere). Resuming restarts the schedule from `nowMs`, without a burst.
    void setPaused(bool paused, int64_t nowMs);
    bool paused() const { return isPaused; }

    // Earliest time at which something is due, or INT64_MAX when nothing will come.
    int64_t nextDueMs() const;
    // Everything due up to and including `nowMs`, in time order.
    std::vector<Notification> advanceTo(int64_t nowMs);

    // A write to the parameter characteristic. Answers with an acknowledgement notification,
    // due at `nowMs`; returns whether the frame was valid. A valid frame sets the centre that
    // is subtracted from the magnetometer output from then on.
    bool writeParameter(const uint8_t *data, size_t length, int64_t nowMs);
    const std::vector<std::vector<uint8_t>> &receivedFrames() const { return frames; }
    std::array<int16_t, 3> magCentre() const { return centre; }
    std::array<int16_t, 3> hardIronOffset() const { return hardIron; }

    // --- Magnetometer faults (none at first) -------------------------------------------
    // Added to the controller's own hard-iron offset, at every instant, until changed.
    void setAddedHardIron(const std::array<int16_t, 3> &offset) { addedHardIron = offset; }
    // A magnet near the bench: from `fromMs` until (not including) `untilMs` the field the
    // controller senses is `counts` stronger (weaker when negative), along the earth field.
    // An empty window takes it away.
    void setMagnet(int64_t fromMs, int64_t untilMs, int counts);
    // The next `reports` magnetometer reports carry `value` on `axis` (0 x, 1 y, 2 z) in place
    // of the measured one; the other axes stay as measured. An axis outside 0..2 or a count
    // below 1 does nothing; a new spike replaces one still under way. Dropped when reports
    // stop.
    void spikeMag(int axis, int16_t value, int reports);

    Truth truthAt(int64_t ms) const;
    // Same as the report sent at `ms` would carry.
    Protocol::Report encodeReport(Protocol::ReportType type, int64_t ms) const;

private:
    struct Pose {
        double angle[3];    // degrees, unwrapped
    };
    Pose stillPose(int64_t cycle) const;
    Pose poseAt(int64_t ms) const;
    bool turningAt(int64_t ms) const;
    double noise(int64_t ms, uint32_t channel) const;   // uniform in [-1, 1)
    int64_t slotTime(int64_t slot) const;

    uint32_t seed;
    int rate = 100;
    bool reporting = false;
    bool isPaused = false;
    int64_t scheduleStart = 0;  // slot k is due at scheduleStart + k * 1000 / rate
    int64_t nextSlot = 1;

    double startPose[3];
    std::array<int16_t, 3> hardIron{};
    double softIron[3][3];      // sensed field = softIron * true field
    std::array<int16_t, 3> centre{};

    std::array<int16_t, 3> addedHardIron{};
    int64_t magnetFrom = 0;
    int64_t magnetUntil = 0;
    int magnetCounts = 0;
    int spikeAxis = 0;
    int16_t spikeValue = 0;
    int spikeReports = 0;       // still to carry the spike

    std::deque<Notification> pending;   // acknowledgements waiting to go out
    std::vector<std::vector<uint8_t>> frames;
};
