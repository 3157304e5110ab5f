// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "btthread.h"
#include "console.h"
#include "hostqueue.h"
#include "protocol.h"

#include <QMetaMethod>

#include <algorithm>
#include <cstring>
#include <mutex>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace {

// The texts travel by pointer through queued signals, so they live as long as the program.
char textStarted[] = "Close All the button!\n";
char textDongleFailed[] = "Dongle failed to initialize!Please insert the dongle to computer!\n";
char textDongleReady[] = "uEnergy Host library is intialized\n";
char textWriteSuccess[] = "Write data success!";
char textWriteFail[] = "Write data fail!";
char textConnectRefused[] = "Connection refused";
char textConnectFailed[] = "Connection failed";
char textLinkLost[] = "Link lost";
char textDisconnected[] = "Disconnected";

// The identifier of the notes the window's calls post to the worker's queue; the host layer
// never hands it out.
constexpr uint32_t NoteMessage = 0;
// The worker takes at most one notification a millisecond, so this many waiting are about a
// second's worth; older ones are dropped.
constexpr size_t NotificationBacklog = 1000;

// The service search reports its position in eight bits, with 255 meaning "none".
constexpr size_t ServiceNotFound = 255;

// Taken while a queued call to a worker is made, and by the call before it runs.
std::mutex &queuedCallLock()
{
    static std::mutex lock;
    return lock;
}

// What the signals carry, for queued delivery to receivers in other threads. Done once, by the
// first worker: nothing emits these before a worker exists.
void registerSignalTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<char *>("char*");
        qRegisterMetaType<IMU_POS>("IMU_POS");
        qRegisterMetaType<IMU_RAW>("IMU_RAW");
        qRegisterMetaType<BtThread::WriteOutcome>();
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace

BtThread::BtThread()
    : QThread(nullptr),
      queue(std::make_shared<HostThreadQueue>())
{
    queue->setBacklogLimit(&BtThread::isDroppableReport, NotificationBacklog);
    registerSignalTypes();
}

BtThread::~BtThread()
{
    stop();
    // Orders the making of the last queued call before its deletion with this object, should
    // it not have run.
    std::lock_guard<std::mutex> lock(queuedCallLock());
}

void BtThread::stop()
{
    if (!isRunning())
        return;
    HostPostQuitMessage(queue);
    wait();
}

void BtThread::run()
{
    // Bound here rather than on first use, so a quit posted by stop() while the thread is
    // still starting is already waiting in the queue the loop reads.
    HostAttachThreadQueue(queue);
#ifdef Q_OS_LINUX
    // The pause after each notification is meant to last a millisecond. Linux lets a
    // sleeping thread oversleep by its timer slack (50 us by default), which would hold the
    // worker well below a thousand notifications a second; the least slack keeps the pause
    // close to its millisecond.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif

    const bool starting = startHost();
    emit BtSender(Started, textStarted, nullptr);
    if (!starting)
        emit BtSender(DongleFailed, textDongleFailed, nullptr);

    HostMessage message;
    while (HostGetMessage(&message)) {
        if (message.message == NoteMessage) {
            handleNote(message.code);
            continue;
        }
        // Without a successful initialisation no message is a library event.
        if (hostMsgId == 0 || message.message != hostMsgId)
            continue;
        handleEvent(message.code, message.param);
    }

    HostAttachThreadQueue(nullptr);
}

bool BtThread::startHost()
{
    CsrBleHostConfig config{};
    config.flags = 0;
    // A new initialisation also has a new message identifier: events still on their way from
    // an earlier one are not taken for this one's.
    hostMsgId = CsrBleHostInit(0, 0, &config);
    if (hostMsgId == 0)
        consoleWrite("Unable to initialise uEnergy Host.\n");
    const bool started = CsrBleHostStart(0) != 0;
    if (!started)
        consoleWrite("Unable to start uEnergy Host.\n");
    return hostMsgId != 0 && started;
}

uint64_t BtThread::droppedReports() const
{
    return queue->dropped();
}

// Runs on the posting thread for every message. Reports may be dropped when too many wait;
// an acknowledgement, and every event that is not a notification, never.
bool BtThread::isDroppableReport(const HostMessage &message)
{
    if (message.message == NoteMessage || message.code != HostEventNotification || message.param == 0)
        return false;
    const auto *event = reinterpret_cast<const HostNotificationEvent *>(message.param);
    if (!event->data)
        return true;
    Protocol::ReportState scratch;
    const size_t length = std::min<size_t>(event->length, sizeof reportBuffer);
    return Protocol::decodeReport(event->data, length, scratch).ack == Protocol::ReportAck::None;
}

void BtThread::note(CallNote what)
{
    HostPostThreadMessage(queue, NoteMessage, what, 0);
}

void BtThread::handleNote(uint32_t what)
{
    switch (what) {
    case NoteConnecting:
        link = Connecting;
        break;
    case NoteConnectRefused:
        if (link == Connecting)
            endLink(textConnectRefused);
        break;
    case NoteDisconnected:
        if (link == Linked)
            endLink(textDisconnected);
        break;
    case NoteScanRestarted:
        if (link != NoLink)
            endLink(textDisconnected);
        break;
    case NoteWriteSent:
        writeWaiting = true;
        break;
    case NoteWriteAbandoned:
        writeWaiting = false;
        break;
    case NoteDongleRestarted:
        // A new initialisation drops every link without a word: the worker says it.
        if (link != NoLink)
            endLink(textDisconnected);
        // Refused, the start posts no event 0: nothing else would say that it failed.
        if (!startHost())
            emit BtSender(DongleFailed, textDongleFailed, nullptr);
        break;
    default:
        break;
    }
}

void BtThread::endLink(char *why)
{
    link = NoLink;
    linkGone = true;
    emit BtSender(LinkEnded, why, nullptr);
}

void BtThread::announceWrite(WriteOutcome outcome)
{
    if (!writeWaiting) {
        consoleWrite("Write answer without a write\n");
        return;
    }
    writeWaiting = false;
    emit writeAnswered(outcome);
    emit BtSender(WriteAnswer, outcome == WriteOutcome::Acknowledged ? textWriteSuccess : textWriteFail,
                  nullptr);
}

void BtThread::handleEvent(uint32_t code, uintptr_t param)
{
    switch (code) {
    case HostEventReady:
        if (param != 0) {
            emit BtSender(DongleReady, textDongleReady, nullptr);
            if (CsrBleHostStartLEScan() == 0)
                consoleWrite("Unable to scan device.\n");
        } else {
            emit BtSender(DongleFailed, textDongleFailed, nullptr);
        }
        break;
    case HostEventDeviceFound:
        handleDeviceFound(reinterpret_cast<const HostDeviceFoundEvent *>(param));
        break;
    case HostEventConnectResult: {
        const auto *event = reinterpret_cast<const HostConnectResultEvent *>(param);
        if (event && event->status == 0) {
            connId = event->connId;
            link = Linked;
            linkGone = false;
            // Until its database is read, the new link has no parameter characteristic.
            paramHandle = 0;
            if (event->connId != 0)
                CsrBleClientDiscoverDatabase(event->connId);
        } else if (event && link == Connecting) {
            endLink(textConnectFailed);
        }
        break;
    }
    case HostEventJustWorks: {
        const auto *event = reinterpret_cast<const HostJustWorksEvent *>(param);
        if (event)
            CsrBleHostJustWorksResult(event->address, 1, 1);
        break;
    }
    case HostEventFailure: {
        const auto *event = reinterpret_cast<const HostFailureEvent *>(param);
        if (event && event->failure != 0) {
            CsrBleHostCancel();
            CsrBleHostDisconnect(connId);
            if (link != NoLink)
                endLink(textLinkLost);
        }
        break;
    }
    case HostEventConnUpdate: {
        const auto *event = reinterpret_cast<const HostConnUpdateEvent *>(param);
        if (event)
            CsrBleHostAcceptConnUpdate(connId, event->identifier, 1);
        break;
    }
    case HostEventDatabase:
        handleDatabase(reinterpret_cast<const HostDatabaseEvent *>(param));
        break;
    case HostEventStatus: {
        const auto *event = reinterpret_cast<const HostStatusEvent *>(param);
        if (event && event->status == 0)
            consoleWrite("test");
        break;
    }
    case HostEventWriteResult: {
        // A write that was accepted and then refused, lost with its link, or never confirmed.
        const auto *event = reinterpret_cast<const HostWriteResultEvent *>(param);
        if (event && event->status != 0)
            announceWrite(event->status == HostStatusWriteTimeout ? WriteOutcome::Unconfirmed
                                                                 : WriteOutcome::NotDelivered);
        break;
    }
    case HostEventNotification:
        // What an ended link still had on its way is not shown.
        if (linkGone)
            break;
        handleNotification(reinterpret_cast<const HostNotificationEvent *>(param));
        // Holds the worker to at most one notification per millisecond.
        QThread::msleep(1);
        break;
    default:
        break;
    }
}

void BtThread::handleDeviceFound(const HostDeviceFoundEvent *event)
{
    if (!event)
        return;
    if (isSignalConnected(QMetaMethod::fromSignal(&BtThread::sightingSender))) {
        char text[Protocol::AddressTextLength + 1];
        Protocol::formatAddressText(event->address, text);
        const QString name = event->name
                ? QString::fromUtf8(event->name, int(Protocol::keptNameLength(event->name)))
                : QString();
        emit sightingSender(QByteArray(text), name, event->rssi);
    }
    if (const DeviceEntry *entry = deviceList.update(event->address, event->name)) {
        emit BtSender(DeviceFound, const_cast<char *>(entry->name), const_cast<char *>(entry->addressText));
    }
    releaseRetiredNames();
}

// A name replaced by a later sighting may still be on its way to a receiver in an earlier
// announcement. Receivers live in this object's thread, so a queued call to this object runs
// after every delivery posted before it, and frees the names then.
void BtThread::releaseRetiredNames()
{
    RetiredNames retired = deviceList.takeRetired();
    if (retired.empty())
        return;
    auto names = std::make_shared<RetiredNames>(std::move(retired));
    // Qt's queue orders the making of the call before its running, but ThreadSanitizer cannot
    // see that: the call is made under a lock that it takes again before it reads anything.
    std::lock_guard<std::mutex> making(queuedCallLock());
    QMetaObject::invokeMethod(this, [names]() mutable {
        { std::lock_guard<std::mutex> made(queuedCallLock()); }
        names.reset();
    }, Qt::QueuedConnection);
}

void BtThread::handleDatabase(const HostDatabaseEvent *event)
{
    if (!event || event->status != 0 || !event->services)
        return;

    const size_t searched = std::min<size_t>(event->serviceCount, ServiceNotFound);
    size_t position = ServiceNotFound;
    for (size_t i = 0; i < searched; ++i) {
        if (event->services[i].uuid == Protocol::ServiceUuid) {
            position = i;
            break;
        }
    }
    if (position == ServiceNotFound)
        return;

    // A service with fewer characteristics than expected gets handle 0 for the missing ones,
    // so nothing is later written to a handle left over from another controller.
    const HostService &service = event->services[position];
    const size_t count = service.characteristics ? service.characteristicCount : 0;
    const HostCharacteristic *first = count >= 1 ? &service.characteristics[0] : nullptr;
    const HostCharacteristic *second = count >= 2 ? &service.characteristics[1] : nullptr;

    reportHandle = first ? first->valueHandle : 0;
    paramHandle = second ? second->valueHandle : 0;

    if (first && first->descriptors && first->descriptorCount >= 1)
        CsrBleClientWriteConfiguration(connId, first->descriptors[0].handle, reportHandle, 1);
}

void BtThread::handleNotification(const HostNotificationEvent *event)
{
    if (!event)
        return;
    size_t length = event->data ? std::min<size_t>(event->length, sizeof reportBuffer) : 0;
    if (length)
        std::memcpy(reportBuffer, event->data, length);

    const Protocol::ReportResult result = Protocol::decodeReport(reportBuffer, length, report);
    if (result.ack == Protocol::ReportAck::Success)
        announceWrite(WriteOutcome::Acknowledged);
    else if (result.ack == Protocol::ReportAck::Fail)
        announceWrite(WriteOutcome::Rejected);
    if (result.pos) {
        emit posSender(report.posSample);
        emit btnSender(report.btn, report.trig, report.rock_x, report.rock_y);
    }
    if (result.raw)
        emit rawSender(report.rawSample);
}

void BtThread::connectDevice(const char *addressText)
{
    // A text that is no address changes nothing: the scan goes on and no connection is tried.
    BleAddress address{};
    if (!Protocol::parseAddressText(addressText, &address))
        return;

    CsrBleHostStopLESearch();
    CsrBleHostStopDeviceSearch();
    connectAddr = address;
    if (CsrBleHostSetConnectionParams(0xFFFF, 0xFFFF, 6, 6, 0, 500) == 0)
        return;
    // Noted before the call: the attempt's events may reach the worker before it returns.
    note(NoteConnecting);
    const int accepted = CsrBleHostConnect(connectAddr);
    if (!accepted)
        note(NoteConnectRefused);
    consoleWrite(accepted ? "OK\n" : "Fail\n");
}

void BtThread::abandonWrite()
{
    note(NoteWriteAbandoned);
}

int BtThread::disconnectDevice()
{
    const int result = CsrBleHostDisconnect(connId);
    note(NoteDisconnected);
    return result;
}

int BtThread::restartScan()
{
    CsrBleHostCancel();
    CsrBleHostDisconnect(connId);
    note(NoteScanRestarted);
    return CsrBleHostStartLEScan();
}

void BtThread::restartDongle()
{
    note(NoteDongleRestarted);
}

bool BtThread::saveParam(MAG_PARAM param)
{
    if (sendParam(param) != SendResult::Sent)
        return false;
    QThread::msleep(1000);
    return true;
}

BtThread::SendResult BtThread::sendParam(MAG_PARAM param)
{
    if (!isRunning())
        return SendResult::NotRunning;
    const uint32_t id = connId;
    const uint16_t handle = paramHandle;
    int written = 0;
    if (link == Linked && handle != 0) {
        const Protocol::ParamFrame frame = Protocol::buildParamFrame(param);
        // Noted before the call: the frame's answer may reach the worker before it returns.
        note(NoteWriteSent);
        written = CsrBleClientWriteCfmCharByHandle(id, handle, 0, uint16_t(frame.size()), frame.data());
        if (!written)
            note(NoteWriteAbandoned);
    }
    consoleWrite(written ? "success!" : "fail!");
    return written ? SendResult::Sent : SendResult::NotSent;
}
