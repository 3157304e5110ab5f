// Shared by the window tests: pictures in a scratch directory, a hook into the window's private
// state, and a catcher for modal message boxes.
#pragma once

#include "mainwindow.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

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
    const IMU_POS &posData() { return w.check.posData; }
    bool &checkActive() { return w.check.checkActive; }
    int16_t *magMax() { return w.magMax; }
    int16_t *magMin() { return w.magMin; }
    MAG_PARAM &magParam() { return w.magParam; }
    int &checkCount() { return w.check.checkCount; }
    double *checkSum() { return w.check.checkSum; }

    void btDevice(int code, const char *text, const char *address)
    {
        w.DisplayBtDevice(code, const_cast<char *>(text), const_cast<char *>(address));
    }
    void btnData(short btn, short trig, short x, short y) { w.DisplayBtnData(btn, trig, x, y); }
    void rawSample(const IMU_RAW &raw) { w.DisplayRawData(raw); }
    void posSample(IMU_POS pos) { w.DisplayPosData(pos); }
    void magTick() { w.DisplayMagData(); }
    void validTick() { w.DisplayValidData(); }
    void startCalibPressed() { w.on_btn_start_calib_clicked(); }
    void savePressed() { w.on_btn_save_param_clicked(); }
    void connectPressed() { w.on_btn_connect_clicked(); }
    void checkPressed() { w.on_btn_stationary_check_clicked(); }
    void stopWorkers() { w.stopWorkers(); }
};

struct BoxSeen
{
    QString title;
    QString text;
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
