// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// A hook into the window's private state for tests and benchmarks: reads and sets what the
// slots share, and calls the slots and buttons directly. MainWindow, ControllerSession and
// CheckSession declare it a friend.
#pragma once

#include "mainwindow.h"

class BtThread;

struct MainWindowProbe
{
    MainWindow &w;

    QList<QString> &deviceNames() { return w.session.names; }
    QList<QByteArray> &deviceAddresses() { return w.session.addresses; }
    BtThread *&btThread() { return w.session.bt; }
    MagThread *&magThread() { return w.magThread; }
    CalibThread *&calibThread() { return w.calibThread; }
    IMU_RAW &rawData() { return w.session.raw; }
    const int16_t *magMax() { return w.session.recording().max(); }
    const int16_t *magMin() { return w.session.recording().min(); }
    MAG_PARAM &magParam() { return w.magParam; }

    // The stationary check's state.
    CheckSession &check() { return w.session.stationary; }
    const IMU_POS &posData() { return check().posData; }
    bool &posUpdated() { return check().posUpdated; }
    bool &checkActive() { return check().checkActive; }
    int &checkCount() { return check().checkCount; }
    double *checkSum() { return check().checkSum; }

    // The worker's signals, delivered.
    void btDevice(int code, const char *text, const char *address)
    {
        w.DisplayBtDevice(code, const_cast<char *>(text), const_cast<char *>(address));
    }
    void btnData(short btn, short trig, short x, short y) { w.DisplayBtnData(btn, trig, x, y); }
    void rawSample(const IMU_RAW &raw) { w.DisplayRawData(raw); }
    void posSample(IMU_POS pos) { w.DisplayPosData(pos); }
    // The tickers' signals.
    void magTick() { w.DisplayMagData(); }
    void validTick() { w.DisplayValidData(); }
    // The buttons.
    void searchPressed() { w.on_btn_search_clicked(); }
    void connectPressed() { w.on_btn_connect_clicked(); }
    void startCalibPressed() { w.on_btn_start_calib_clicked(); }
    void savePressed() { w.on_btn_save_param_clicked(); }
    void checkPressed() { w.on_btn_stationary_check_clicked(); }
    void stopWorkers() { w.stopWorkers(); }
};
