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
    void setConnectFails(bool fails);       // connect() starts, event 4 fails after a timeout
    void setWriteRefused(bool refused);     // writeCharByHandle() returns 0

    // --- Injections -------------------------------------------------------------------
    // Every open link drops: event 10 with a non-zero value, reports stop, the id is gone.
    void injectLinkFailure();
    // These bytes arrive as a notification on every connection with reports on, in order
    // with the controller's own reports (malformed, short or oversized data all go through).
    void injectNotification(const std::vector<uint8_t> &bytes);
    // `count` more devices advertise (each once per advertising period) while scanning.
    // They are no controllers: connecting to one fails like an unknown address.
    void addAdvertisers(int count);

private:
    friend class VirtualDongle;

    // What the dongle's calls consult, read and written under its scheduler's lock.
    struct Settings {
        bool dongleAbsent = false;
        bool connectRefused = false;
        bool connectFails = false;
        bool writeRefused = false;
    };

    explicit DongleFaults(VirtualDongle &dongle) : dongle(dongle) {}
    void set(bool Settings::*setting, bool on);

    VirtualDongle &dongle;
    Settings settings;
};
