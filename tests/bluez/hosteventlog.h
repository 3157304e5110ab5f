// Collects the events a host backend posts, on a consumer thread of its own, as plain copies.
#pragma once

#include "hostevents.h"

#include <QByteArray>

#include <mutex>
#include <thread>
#include <vector>

struct LoggedEvent {
    uint32_t code = 0;
    uintptr_t value = 0;            // event 0
    uint16_t status = 0;            // events 4, 10 (its failure value), 262
    uint32_t connId = 0;            // events 4, 10, 266
    uint64_t address = 0;           // events 2, 4
    bool named = false;             // event 2
    QByteArray name;
    uint16_t handle = 0;            // event 266
    QByteArray data;
    std::vector<HostServiceSpec> services;  // event 262
};

class HostEventLog
{
public:
    static constexpr uint32_t MessageId = 0x4242;

    HostEventLog();
    ~HostEventLog();
    HostEventLog(const HostEventLog &) = delete;
    HostEventLog &operator=(const HostEventLog &) = delete;

    HostEventTarget target();
    std::vector<LoggedEvent> events(uint32_t code) const;
    int count(uint32_t code) const;

private:
    void run();

    HostThreadQueue *queue;
    mutable std::mutex mutex;
    std::vector<LoggedEvent> logged;
    std::thread thread;
};
