// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The faults a test can put into the virtual dongle, in one place. A setting holds until it
// is changed and acts on the calls it names; an injection happens at once on the dongle's
// clock, in order with the dongle's own events. Callable from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class VirtualDongle;

class DongleFaults
{
public:
    DongleFaults(const DongleFaults &) = delete;
    DongleFaults &operator=(const DongleFaults &) = delete;

    // --- Settings ---------------------------------------------------------------------
    void setDongleAbsent(bool absent);      // the next start() reports a failed dongle
    void setConnectRefused(bool refused);   // connect() returns 0
    // connect() is accepted and nobody answers: the dongle's own time limit then posts event 4
    // with a non-zero status.
    void setConnectFails(bool fails);
    void setWriteRefused(bool refused);     // writeCharByHandle() returns 0
    // writeCharByHandle() is accepted, the frame never reaches the controller, and event 267
    // says so: at once (failed), or after the dongle's own time limit (timed out).
    void setWriteFailsLater(bool fails);
    void setWriteUnanswered(bool unanswered);

    // The adapter switched off or removed, and back. Going: event 10 for every open link,
    // event 4 with a non-zero status for a connection under way, and scanning stops. While
    // gone, startLeScan() answers 0 and posts event 0 with value 0, and nothing connects.
    // Back: the next startLeScan() scans again.
    void setAdapterGone(bool gone);

    // Every controller whose reports are on also sends this many orientation reports a
    // second (0: none), beyond the model's own rate and its cap of 1000.
    void setFlood(int perSecond);

    // The magnetometer settings act on all three controllers, connected or not, as a magnet on
    // the bench would; a controller connected later has them too.
    // Added to every controller's own hard-iron offset, in counts per axis (zeros: none). An
    // offset beyond the field's 150 counts keeps that axis on one side of zero through a whole
    // turn: {0, 170, 0} keeps y above it.
    void setAddedHardIron(const std::array<int16_t, 3> &offset);
    // A magnet near the bench from `fromMs` until (not including) `untilMs` on the dongle's
    // clock: the field every controller senses is `counts` stronger (weaker when negative)
    // along the earth field, so readings taken then lie off the sphere the others lie on.
    // Replaces an earlier magnet; an empty window takes it away.
    void setMagnet(int64_t fromMs, int64_t untilMs, int counts);

    // --- Injections -------------------------------------------------------------------
    // Every open link drops: event 10 with a non-zero value, reports stop, the id is gone.
    void injectLinkFailure();
    // These bytes arrive as a notification on every connection with reports on, in order
    // with the controller's own reports (malformed, short or oversized data all go through).
    void injectNotification(const std::vector<uint8_t> &bytes);
    // The next `reports` magnetometer reports (default one) of every controller whose reports
    // are on carry `value` on `axis` (0 x, 1 y, 2 z) in place of the measured one; the other
    // axes stay as measured. A recording's extremes take only the latest sample at each of its
    // once-a-second ticks, so a spike reaches them only if one of its reports is the latest
    // when a tick comes: a single report stays the latest for one magnetometer interval (40 ms
    // at the default rate), a spike of a quarter of the report rate (one second's worth of
    // magnetometer reports) always meets a tick. An axis outside 0..2 or a count below 1 does
    // nothing; a new spike replaces one still under way; a controller's spike ends with its
    // reports.
    void injectMagSpike(int axis, int16_t value, int reports = 1);
    // `count` more devices advertise (each once per advertising period) while scanning.
    // They are no controllers: connecting to one fails like an unknown address.
    void addAdvertisers(int count);
    // `count` more devices whose names, `nameLength` characters long, change at every
    // advertisement.
    void addRenamingAdvertisers(int count, int nameLength);

private:
    friend class VirtualDongle;

    // What the dongle's calls consult, read and written under its scheduler's lock.
    struct Settings {
        bool dongleAbsent = false;
        bool connectRefused = false;
        bool connectFails = false;
        bool writeRefused = false;
        bool writeFailsLater = false;
        bool writeUnanswered = false;
    };

    explicit DongleFaults(VirtualDongle &dongle) : dongle(dongle) {}
    void set(bool Settings::*setting, bool on);

    VirtualDongle &dongle;
    Settings settings;
};
