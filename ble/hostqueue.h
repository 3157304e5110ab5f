// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The blocking message queue behind HostGetMessage: one per consuming thread, owned by its
// consumer through a shared_ptr and held weakly by everyone who posts to it.
#pragma once

#include "hostlayer.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

class HostThreadQueue
{
public:
    // Tells, on the posting thread, whether a message may be dropped when too many of its
    // kind wait. The record behind `param` is valid during the call.
    using Droppable = bool (*)(const HostMessage &message);

    HostThreadQueue() = default;
    HostThreadQueue(const HostThreadQueue &) = delete;
    HostThreadQueue &operator=(const HostThreadQueue &) = delete;

    // Droppable messages beyond `limit` waiting at once: the oldest of them is dropped for each
    // new one. Set before anything is posted.
    void setBacklogLimit(Droppable droppable, size_t limit);

    void post(const HostMessage &message, std::shared_ptr<const void> storage);
    // Comes before everything that waits: the next take() returns false.
    void postQuit();

    // Blocks until a message is there; false for the quit message. Drops the record kept for
    // the previously fetched message first, and keeps the new one until the next call.
    bool take(HostMessage *message);

    // Droppable messages dropped so far. Any thread.
    uint64_t dropped() const { return droppedCount.load(std::memory_order_relaxed); }

private:
    struct Entry {
        uint64_t order;
        HostMessage message;
        std::shared_ptr<const void> storage;
    };

    Droppable droppable = nullptr;
    size_t limit = 0;

    std::mutex mutex;
    std::condition_variable ready;
    // Two lines, merged by order of posting when taken, so that the oldest droppable
    // message is always at the front of its own line.
    std::deque<Entry> kept;
    std::deque<Entry> backlog;
    uint64_t posted = 0;
    bool quit = false;
    std::shared_ptr<const void> held;   // the record of the last fetched message
    std::atomic<uint64_t> droppedCount{0};
};
