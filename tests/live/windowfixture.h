// Shared by the window tests: pictures in a scratch directory, a hook into the window's private
// state, a catcher for modal message boxes, and a host backend that records what it is asked.
#pragma once

#include "mainwindow.h"
#include "hostlayer.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <mutex>

class BtThread;

// Reads and drives the window's private state; declared a friend by MainWindow.
struct MainWindowProbe
{
    MainWindow &w;

    QList<QString> &deviceNames() { return w.deviceNames; }
    QList<QByteArray> &deviceAddresses() { return w.deviceAddresses; }
    BtThread *&btThread() { return w.btThread; }
    MagThread *&magThread() { return w.magThread; }
    CalibThread *&calibThread() { return w.calibThread; }
    IMU_RAW &rawData() { return w.rawData; }
    IMU_POS &posData() { return w.posData; }
    IMU_POS &lastPosData() { return w.lastPosData; }
    bool &posUpdated() { return w.posUpdated; }
    bool &checkActive() { return w.checkActive; }
    bool &calibIdle() { return w.calibIdle; }
    int16_t *magMax() { return w.magMax; }
    int16_t *magMin() { return w.magMin; }
    MAG_PARAM &magParam() { return w.magParam; }
    int32_t &checkCount() { return w.checkCount; }
    double *checkSum() { return w.checkSum; }
    const QImage *image(const char *name) const;

    void btDevice(int code, const char *text, const char *address)
    {
        w.DisplayBtDevice(code, const_cast<char *>(text), const_cast<char *>(address));
    }
    void btnData(short btn, short trig, short x, short y) { w.DisplayBtnData(btn, trig, x, y); }
    void rawSample(const IMU_RAW &raw) { w.DisplayRawData(raw); }
    void posSample(IMU_POS pos) { w.DisplayPosData(pos); }
    void magTick() { w.DisplayMagData(); }
    void validTick() { w.DisplayValidData(); }
    void searchPressed() { w.on_btn_search_clicked(); }
    void connectPressed() { w.on_btn_connect_clicked(); }
    void startCalibPressed() { w.on_btn_start_calib_clicked(); }
    void savePressed() { w.on_btn_save_param_clicked(); }
    void checkPressed() { w.on_btn_stationary_check_clicked(); }

    void stopWorkers() { w.stopWorkers(); }
};

struct BoxSeen
{
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    bool modal = false;
    QWidget *parent = nullptr;
};

// Watches for modal message boxes while alive, records each one and presses its OK button.
class BoxCatcher : public QObject
{
    Q_OBJECT
public:
    explicit BoxCatcher(std::function<void()> onBox = {});
    QList<BoxSeen> seen;

private:
    void poll();
    QTimer timer;
    std::function<void()> onBox;
};

// A host backend that answers every call with success and posts nothing.
class RecordingBackend : public HostBackend
{
public:
    QStringList calls() const;
    void clear();

    bool init(const HostEventTarget &) override { return note(QStringLiteral("init")); }
    bool start() override { return note(QStringLiteral("start")); }
    bool startLeScan() override { return note(QStringLiteral("startLeScan")); }
    bool stopLeSearch() override { return note(QStringLiteral("stopLeSearch")); }
    bool stopDeviceSearch() override { return note(QStringLiteral("stopDeviceSearch")); }
    bool cancel() override { return note(QStringLiteral("cancel")); }
    bool setConnectionParams(uint16_t, uint16_t, uint16_t, uint16_t, uint16_t, uint16_t) override
    { return note(QStringLiteral("setConnectionParams")); }
    bool connect(const BleAddress &address) override;
    bool disconnect(uint32_t) override { return note(QStringLiteral("disconnect")); }
    bool justWorksResult(const BleAddress &, uint8_t, uint8_t) override { return true; }
    bool acceptConnUpdate(uint32_t, uint16_t, uint8_t) override { return true; }
    bool discoverDatabase(uint32_t) override { return true; }
    bool writeConfiguration(uint32_t, uint16_t, uint16_t, uint16_t) override { return true; }
    bool writeCharByHandle(uint32_t, uint16_t, uint16_t, uint16_t, const uint8_t *) override
    { return note(QStringLiteral("write")); }

private:
    bool note(const QString &call);
    mutable std::mutex mutex;   // std, so ThreadSanitizer sees it
    QStringList log;
};

// A working directory holding ./image with one distinct picture per light, while alive.
class PictureDir
{
public:
    PictureDir();
    ~PictureDir();
    bool isValid() const { return dir.isValid(); }

private:
    QTemporaryDir dir;
    QString previous;
};
