// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// What the host's calls share with the layer's thread: where events go, and the effects of
// calls that hold from the moment the call returns, even while the layer's thread is still
// busy elsewhere (a Bluetooth stack that stops answering can hold it for long).
#pragma once

#include "hostlayer.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>

class LayerState
{
public:
    // A new initialisation: events go to `target` from now on, and what is still posted for
    // an earlier one is dropped. Returns the new initialisation's number.
    uint32_t beginInit(const HostEventTarget &target);
    uint32_t currentInit() const;
    // Any thread. Posts `event` unless initialisation `generation` has been superseded. Posts
    // go out one at a time, so they reach the worker in the order they were made.
    void post(uint32_t generation, HostEvent event);

    // Links the worker asked to disconnect, from its call until the layer's thread has closed
    // them: nothing more is posted for them.
    void beginDisconnect(uint32_t connId);
    void endDisconnect(uint32_t connId);
    bool disconnecting(uint32_t connId) const;

    // The adapter's D-Bus object path, for probes made on the callers' threads; empty while
    // no adapter is known.
    void setAdapterPath(const QString &path);
    QString adapterPath() const;

    std::atomic<uint32_t> cancels{0};      // cancel() calls so far
    std::atomic<bool> scanWanted{false};   // a scan was asked for and not stopped since
    std::atomic<bool> started{false};      // start() since the last init
    std::atomic<bool> settling{false};     // the layer is asking where the adapter is
    std::atomic<int> overdue{0};           // calls still on their way whose callers gave up waiting

private:
    std::mutex postMutex;   // held only while posting
    mutable std::mutex mutex;
    HostEventTarget target;
    uint32_t generation = 0;
    std::set<uint32_t> closing;
    QString adapter;
};
