// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Collects the events a host backend posts, on a consumer thread of its own, as plain copies
// of the fields the tests read.
#pragma once

#include "hostevents.h"
#include "hostqueue.h"

#include <QByteArray>

#include <mutex>
#include <thread>
#include <vector>

struct LoggedEvent {
    uint32_t code = 0;
    uint16_t status = 0;        // events 4, 267, 10 (its failure value), 0 (its value)
    uint32_t connId = 0;        // events 4, 10, 266, 267
    uint64_t address = 0;       // events 2, 4
    bool named = false;         // event 2
    QByteArray data;            // the name (event 2), the notification (event 266)
    // The 0xFAEA service's first characteristic and its first descriptor, and the second
    // characteristic (event 262).
    uint16_t cccd = 0, valueHandle = 0, paramHandle = 0;
};

class HostEventLog
{
public:
    HostEventLog() : thread([this] { run(); }) {}
    ~HostEventLog()
    {
        HostPostQuitMessage(queue);
        thread.join();
    }
    HostEventTarget target() { return HostEventTarget{queue, MessageId}; }
    std::vector<LoggedEvent> events(uint32_t code) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<LoggedEvent> out;
        for (const LoggedEvent &e : logged)
            if (e.code == code)
                out.push_back(e);
        return out;
    }
    int count(uint32_t code) const { return int(events(code).size()); }

private:
    static constexpr uint32_t MessageId = 0x4242;
    void run()
    {
        HostAttachThreadQueue(queue);
        HostMessage m;
        while (HostGetMessage(&m)) {
            LoggedEvent e;
            e.code = m.code;
            copy(e, m.param);
            std::lock_guard<std::mutex> lock(mutex);
            logged.push_back(e);
        }
        HostAttachThreadQueue(nullptr);
    }
    static void copy(LoggedEvent &e, uintptr_t param)
    {
        if (e.code == HostEventReady) {
            e.status = uint16_t(param);
        } else if (e.code == HostEventDeviceFound) {
            const auto *r = reinterpret_cast<const HostDeviceFoundEvent *>(param);
            e.address = bleAddressValue(r->address);
            e.named = r->name != nullptr;
            e.data = r->name;
        } else if (e.code == HostEventConnectResult) {
            const auto *r = reinterpret_cast<const HostConnectResultEvent *>(param);
            e.status = r->status;
            e.connId = r->connId;
            e.address = bleAddressValue(r->address);
        } else if (e.code == HostEventFailure) {
            const auto *r = reinterpret_cast<const HostFailureEvent *>(param);
            e.status = r->failure;
            e.connId = r->connId;
        } else if (e.code == HostEventDatabase) {
            const auto *r = reinterpret_cast<const HostDatabaseEvent *>(param);
            for (size_t i = 0; r->services && i < r->serviceCount; ++i) {
                const HostService &s = r->services[i];
                if (s.uuid == 0xFAEA && s.characteristicCount > 1 && s.characteristics[0].descriptorCount) {
                    e.valueHandle = s.characteristics[0].valueHandle;
                    e.cccd = s.characteristics[0].descriptors[0].handle;
                    e.paramHandle = s.characteristics[1].valueHandle;
                }
            }
        } else if (e.code == HostEventWriteResult) {
            const auto *r = reinterpret_cast<const HostWriteResultEvent *>(param);
            e.status = r->status;
            e.connId = r->connId;
        } else if (e.code == HostEventNotification) {
            const auto *r = reinterpret_cast<const HostNotificationEvent *>(param);
            e.connId = r->connId;
            e.data = QByteArray(reinterpret_cast<const char *>(r->data), int(r->length));
        }
    }

    const std::shared_ptr<HostThreadQueue> queue = std::make_shared<HostThreadQueue>();
    mutable std::mutex mutex;
    std::vector<LoggedEvent> logged;
    std::thread thread;
};
