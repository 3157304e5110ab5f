#include "hosteventlog.h"

#include "hostqueue.h"

namespace {

LoggedEvent copyEvent(uint32_t code, uintptr_t param)
{
    LoggedEvent e;
    e.code = code;
    switch (code) {
    case HostEventReady:
        e.value = param;
        break;
    case HostEventDeviceFound: {
        const auto *r = reinterpret_cast<const HostDeviceFoundEvent *>(param);
        e.address = bleAddressValue(r->address);
        e.named = r->name != nullptr;
        e.name = r->name;
        break;
    }
    case HostEventConnectResult: {
        const auto *r = reinterpret_cast<const HostConnectResultEvent *>(param);
        e.status = r->status;
        e.connId = r->connId;
        e.address = bleAddressValue(r->address);
        break;
    }
    case HostEventFailure: {
        const auto *r = reinterpret_cast<const HostFailureEvent *>(param);
        e.status = r->failure;
        e.connId = r->connId;
        break;
    }
    case HostEventDatabase: {
        const auto *r = reinterpret_cast<const HostDatabaseEvent *>(param);
        e.status = r->status;
        for (size_t i = 0; r->services && i < r->serviceCount; ++i) {
            const HostService &s = r->services[i];
            HostServiceSpec spec;
            spec.uuid = s.uuid;
            for (size_t j = 0; s.characteristics && j < s.characteristicCount; ++j) {
                const HostCharacteristic &c = s.characteristics[j];
                HostCharacteristicSpec cs;
                cs.uuid = c.uuid;
                cs.valueHandle = c.valueHandle;
                for (size_t k = 0; c.descriptors && k < c.descriptorCount; ++k)
                    cs.descriptors.push_back({c.descriptors[k].uuid, c.descriptors[k].handle});
                spec.characteristics.push_back(cs);
            }
            e.services.push_back(spec);
        }
        break;
    }
    case HostEventNotification: {
        const auto *r = reinterpret_cast<const HostNotificationEvent *>(param);
        e.connId = r->connId;
        e.handle = r->handle;
        e.data = QByteArray(reinterpret_cast<const char *>(r->data), r->length);
        break;
    }
    default:
        break;
    }
    return e;
}

} // namespace

HostEventLog::HostEventLog()
    : queue(new HostThreadQueue),
      thread(&HostEventLog::run, this)
{
}

HostEventLog::~HostEventLog()
{
    HostPostQuitMessage(queue);
    thread.join();
    delete queue;
}

HostEventTarget HostEventLog::target()
{
    HostEventTarget t;
    t.queue = queue;
    t.messageId = MessageId;
    return t;
}

void HostEventLog::run()
{
    HostAttachThreadQueue(queue);
    HostMessage message;
    while (HostGetMessage(&message)) {
        if (message.message != MessageId)
            continue;
        LoggedEvent e = copyEvent(message.code, message.param);
        std::lock_guard<std::mutex> lock(mutex);
        logged.push_back(std::move(e));
    }
    HostAttachThreadQueue(nullptr);
}

std::vector<LoggedEvent> HostEventLog::events(uint32_t code) const
{
    std::vector<LoggedEvent> out;
    std::lock_guard<std::mutex> lock(mutex);
    for (const LoggedEvent &e : logged) {
        if (e.code == code)
            out.push_back(e);
    }
    return out;
}

int HostEventLog::count(uint32_t code) const
{
    return int(events(code).size());
}
