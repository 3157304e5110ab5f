// The faults a test can put into the virtual dongle, in one place. A setting holds until it
// is changed and acts on the calls it names; an injection happens at once on the dongle's
// clock, in order with the dongle's own events. Callable from any thread.
#pragma once

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

    // --- Injections -------------------------------------------------------------------
    // Every open link drops: event 10 with a non-zero value, reports stop, the id is gone.
    void injectLinkFailure();
    // These bytes arrive as a notification on every connection with reports on, in order
    // with the controller's own reports (malformed, short or oversized data all go through).
    void injectNotification(const std::vector<uint8_t> &bytes);
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
