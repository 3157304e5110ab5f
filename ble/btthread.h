// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The BLE worker: owns the host layer, finds and connects controllers, decodes their
// reports into signals, and writes calibration parameters.
#pragma once

#include "devicelist.h"
#include "hostlayer.h"
#include "imutypes.h"
#include "protocol.h"

#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>

class HostThreadQueue;

class BtThread : public QThread
{
    Q_OBJECT

public:
    BtThread();
    ~BtThread() override;

    // Called on the GUI thread; each calls the host layer directly and returns as soon as it
    // does. The end of a link that one of them causes is announced by the worker, in order
    // with its other signals.
    void connectDevice(const char *addressText);
    int disconnectDevice();
    int restartScan();
    // Starts the host layer anew, as for a dongle just plugged in: the worker initialises and
    // starts it again and announces the outcome as at its own start (DongleReady, then it
    // scans; or DongleFailed). A link, or a connection under way, ends first. For a dongle
    // that failed to come up or was lost; posted to the worker, so it returns at once.
    void restartDongle();
    // Writes the parameter frame. False when it cannot go out: the worker is not running, no
    // controller is connected or its parameter characteristic is not known, or the host layer
    // refuses the write. Once a frame went out the caller is held for one second; whether it
    // arrived is announced later (code 4, and writeAnswered).
    bool saveParam(MAG_PARAM param);

    // What became of a frame handed to sendParam.
    enum class SendResult { NotRunning, NotSent, Sent };
    // The same write without the pause: returns as soon as the host layer has taken the frame
    // or refused it.
    SendResult sendParam(MAG_PARAM param);
    // Whether a parameter frame could go out now: the worker runs, a controller is connected
    // and its parameter characteristic is known. Any thread.
    bool canWrite() const { return isRunning() && link == Linked && paramHandle != 0; }
    // The caller has stopped waiting for the answer to the last frame: one that comes now is no
    // answer any more, and gets a console line only.
    void abandonWrite();

    // Ends the event loop (the quit message, which comes before any event still waiting) and
    // waits for the thread. Safe before start.
    void stop();

    // What BtSender announces, by its code.
    enum Announcement : int {
        Started = -2,        // the worker runs
        DongleFailed = -1,   // the dongle did not come up
        DongleReady = 2,     // the dongle is up and scanning
        DeviceFound = 3,     // a controller to list: its name and address text
        WriteAnswer = 4,     // the outcome of a parameter write
        LinkEnded = 5,       // a link, or a connection under way, has ended: why
    };
    // The outcome of a parameter write, as writeAnswered carries it beside the WriteAnswer
    // announcement: the controller acknowledged the frame or rejected it; the stack could not
    // deliver it (refused after taking it, or lost with the link); or the stack never confirmed
    // it, so whether it arrived is unknown. Only the first outcome after a frame went out is
    // announced: an acknowledgement nobody waits for gets a console line and nothing else.
    enum class WriteOutcome { Acknowledged, Rejected, NotDelivered, Unconfirmed };
    Q_ENUM(WriteOutcome)

    // Notifications dropped unread because more than a second of them waited. Any thread.
    uint64_t droppedReports() const;
    // Bytes held for device names, those announced and still on their way included. Any thread.
    size_t deviceNameBytes() const { return deviceList.nameBytes(); }

signals:
    // `code` is an Announcement; the address text is null but for DeviceFound. Receivers live
    // in the thread that owns this object
    // and take their copies of the texts when the delivery runs: names replaced since are
    // freed by a queued call to this object that follows the deliveries. The worker registers
    // the types of its signals for queued delivery; receivers need not.
    void BtSender(int code, char *text, char *addressText);
    void posSender(IMU_POS pos);
    void rawSender(IMU_RAW raw);
    void btnSender(short btn, short trig, short rock_x, short rock_y);
    // Emitted right before each WriteAnswer announcement, with its outcome as a value.
    void writeAnswered(BtThread::WriteOutcome outcome);
    // Each advertisement seen while scanning: the address text, the name it carried (null when
    // it carried none; at most 248 bytes, the longest a device may send) and the signal
    // strength in dBm (0 or 127 when unknown). Built only while something is connected to it.
    void sightingSender(QByteArray addressText, QString name, short rssi);

protected:
    void run() override;

private:
    friend struct BtThreadFuzzAccess;  // lets the fuzz target drive the event handlers without the thread

    // Whether a link exists, or one is being made, as far as the worker has heard.
    enum Link { NoLink, Connecting, Linked };
    // Messages the window's calls post to the worker's own queue, so that what they change is
    // announced in order with the events around them.
    enum CallNote : uint32_t {
        NoteConnecting, NoteConnectRefused, NoteDisconnected, NoteScanRestarted, NoteDongleRestarted,
        NoteWriteSent, NoteWriteAbandoned,
    };

    // Initialises and starts the host layer. False when either refused: no event 0 follows.
    bool startHost();
    void note(CallNote what);
    void handleNote(uint32_t what);
    void endLink(char *why);
    void announceWrite(WriteOutcome outcome);
    void handleEvent(uint32_t code, uintptr_t param);
    void handleDeviceFound(const HostDeviceFoundEvent *event);
    void handleDatabase(const HostDatabaseEvent *event);
    void handleNotification(const HostNotificationEvent *event);
    void releaseRetiredNames();
    static bool isDroppableReport(const HostMessage &message);

    Protocol::ReportState report;   // rawSample, posSample, btn, rock_x, rock_y, trig
    uint32_t hostMsgId = 0;
    DeviceList deviceList;
    std::atomic<uint32_t> connId{0};
    uint16_t reportHandle = 0;
    std::atomic<uint16_t> paramHandle{0};
    std::atomic<int> link{NoLink};   // written by the worker only
    // Set when a link ends: notifications still on their way from it are not shown. A new
    // link clears it.
    bool linkGone = false;
    // A frame went out and its outcome has not been announced yet.
    bool writeWaiting = false;
    BleAddress connectAddr{};

    std::shared_ptr<HostThreadQueue> queue;   // this worker's message queue
    uint8_t reportBuffer[1024] = {};   // reused for every notification
};
