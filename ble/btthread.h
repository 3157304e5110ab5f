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

    // Called on the GUI thread; each calls the host layer directly.
    void connectDevice(const char *addressText);
    int disconnectDevice();
    int restartScan();
    bool saveParam(MAG_PARAM param);

    // Ends the event loop (a quit message) and waits for the thread. Safe before start.
    void stop();

signals:
    void BtSender(int code, char *text, char *addressText);
    void posSender(IMU_POS pos);
    void rawSender(IMU_RAW raw);
    void btnSender(short btn, short trig, short rock_x, short rock_y);
    // Each advertisement seen while scanning: the address text, the name it carried (null when
    // it carried none; at most 248 bytes, the longest a device may send) and the signal
    // strength in dBm (0 or 127 when unknown). Built only while something is connected to it.
    void sightingSender(QByteArray addressText, QString name, short rssi);

protected:
    void run() override;

private:
    friend struct BtThreadFuzzAccess;  // lets the fuzz target drive the event handlers without the thread

    void handleEvent(uint32_t code, uintptr_t param);
    void handleDeviceFound(const HostDeviceFoundEvent *event);
    void handleDatabase(const HostDatabaseEvent *event);
    void handleNotification(const HostNotificationEvent *event);

    Protocol::ReportState report;   // rawSample, posSample, btn, rock_x, rock_y, trig
    uint32_t hostMsgId = 0;
    DeviceList deviceList;
    std::atomic<uint32_t> connId{0};
    uint16_t reportHandle = 0;
    std::atomic<uint16_t> paramHandle{0};
    BleAddress connectAddr{};

    std::shared_ptr<HostThreadQueue> queue;   // this worker's message queue
    uint8_t reportBuffer[1024]; // reused for every notification
};
