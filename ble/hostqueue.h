// The blocking message queue behind HostGetMessage: one per consuming thread, owned by its
// consumer through a shared_ptr and held weakly by everyone who posts to it.
#pragma once

#include "hostlayer.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

class HostThreadQueue
{
public:
    HostThreadQueue() = default;
    HostThreadQueue(const HostThreadQueue &) = delete;
    HostThreadQueue &operator=(const HostThreadQueue &) = delete;

    void post(const HostMessage &message, std::shared_ptr<const void> storage);
    void postQuit();

    // Blocks until a message is there; false for the quit message. Drops the record kept for
    // the previously fetched message first, and keeps the new one until the next call.
    bool take(HostMessage *message);

private:
    struct Entry {
        HostMessage message;
        std::shared_ptr<const void> storage;
        bool quit;
    };

    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Entry> entries;
    std::shared_ptr<const void> held;   // the record of the last fetched message
};
