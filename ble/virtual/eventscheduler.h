// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The virtual dongle's clock and the work it runs on it: actions scheduled for a time, and a
// stream of its owner's (the controllers' reports) that falls due on a schedule the owner
// keeps. The events they make go to the host layer's consumer.
//
// Time runs on one of two clocks. RealTime: a thread of the scheduler's own runs each piece
// of work when it falls due and sleeps in between. Manual: nothing happens until advance()
// is called, which runs everything due up to the new time on the calling thread, so tests and
// benchmarks are deterministic.
//
// Work runs one piece at a time, in time order, under the scheduler's lock, which guards the
// owner's state as well. The events of a batch are posted after that lock is released, in
// the order they were made, by one thread at a time: the consumer may call straight back into
// the owner while a batch is being posted.
#pragma once

#include "hostlayer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

class EventScheduler
{
public:
    enum class Clock { RealTime, Manual };
    using Events = std::vector<HostEvent>;
    // Runs at its due time (the first argument) and appends the events it makes.
    using Work = std::function<void(int64_t, Events &)>;
    // Sees every event on the posting thread right before it is posted.
    using Watch = std::function<void(const HostEvent &)>;

    static constexpr int64_t Never = std::numeric_limits<int64_t>::max();

    // The owner's stream: when its next piece falls due (Never for none), and that piece,
    // run at its time.
    struct Stream {
        std::function<int64_t()> nextDue;
        Work run;
    };

    EventScheduler(Clock clock, Stream stream);
    ~EventScheduler();
    EventScheduler(const EventScheduler &) = delete;
    EventScheduler &operator=(const EventScheduler &) = delete;

    // The real-time thread runs from start() until stop(); the owner starts it once its state
    // is ready and stops it before its state goes.
    void start();
    void stop();

    int64_t now() const;            // milliseconds since the scheduler was made
    void advance(int64_t ms);       // Manual clock only

    // Holds the lock on the owner's state. Releasing it wakes the real-time thread, which
    // then looks at the schedule again.
    class Lock
    {
    public:
        explicit Lock(const EventScheduler &scheduler);
        // Also waits until every event made so far has been posted: once this lock is
        // released, nothing made before it is posted any more.
        enum Drained { AfterDelivery };
        Lock(const EventScheduler &scheduler, Drained);
        ~Lock();

    private:
        const EventScheduler &scheduler;
        std::unique_lock<std::mutex> delivery;
        std::unique_lock<std::mutex> state;
    };

    // With the lock held (a Lock, or inside running work).
    void schedule(int64_t due, bool cancellable, Work work);
    void dropCancellable();
    // Drops every action; events from now on go to `target`.
    void restart(const HostEventTarget &target);
    void setWatch(Watch watch);

private:
    struct Action {
        bool cancellable = false;
        Work run;
    };

    int64_t nextDue() const;
    void runDue(int64_t upTo);
    void threadMain();

    const Clock clock;
    const std::chrono::steady_clock::time_point epoch;
    std::atomic<int64_t> manualNow{0};
    const Stream stream;

    mutable std::mutex mutex;       // the owner's state, the actions, target and watch
    mutable std::condition_variable wake;
    bool quitting = false;
    std::thread thread;
    // Held while a batch is made and posted, so that batches go out one after the other.
    mutable std::mutex delivery;

    std::map<std::pair<int64_t, uint64_t>, Action> actions;   // by due time, then order made
    uint64_t actionSeq = 0;
    HostEventTarget target;
    Watch watch;
};
