// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The tool's one window: frameless, skinned with pictures, three pages, and the receiver of
// every worker signal.
#pragma once

#include "controllersession.h"
#include "controlsdisplay.h"
#include "imutypes.h"

#include <QList>
#include <QMainWindow>
#include <QPixmap>
#include <QPoint>
#include <QString>

#include <array>
#include <cstddef>

namespace Ui {
class MainWindow;
}

class MagThread;
class CalibThread;
class QCloseEvent;
class QLabel;
class QMouseEvent;
class JsonLine;
class RecordFile;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Each save's answer and each check's verdict are appended to `record` (null: none).
    // The caller keeps it alive while the window exists.
    void setRecordFile(const RecordFile *record) { recordFile = record; }
    // How long a save waits for the controller's answer before it shows "Write data fail!".
    void setAnswerTimeout(int ms) { session.setAnswerTimeout(ms); }
    // The limits the check's verdict is judged by (the defaults until this is called).
    void setCheckLimits(const StationaryCheck::Limits &limits) { session.setCheckLimits(limits); }
    // The limits a calibration must meet before Save writes it without asking.
    void setGateLimits(const GateLimits &limits) { session.setGateLimits(limits); }

private slots:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void on_btn_close_clicked();
    void on_btn_smallest_clicked();
    void on_btn_setup_clicked();
    void on_btn_magnet_clicked();
    void on_btn_valid_clicked();
    void on_btn_search_clicked();
    void on_btn_connect_clicked();
    void on_btn_start_calib_clicked();
    void on_btn_save_param_clicked();
    void on_btn_stationary_check_clicked();
    void DisplayRawData(IMU_RAW raw);
    void DisplayPosData(IMU_POS pos);
    void DisplayMagData();
    void DisplayBtnData(short btn, short trig, short rock_x, short rock_y);
    void DisplayBtDevice(int code, char *text, char *addressText);
    void DisplayValidData();

private:
    friend struct MainWindowProbe;   // lets tests read the state the slots share

    // The three pages, in the order of their tabs.
    enum Page { SetupPage, MagnetPage, ValidPage, PageCount };

    void initSkin();
    // Shows `page` and the down face of its tab, the others and their up faces.
    void showPage(Page page);
    // What the session says, shown.
    void connectSession();
    void showMessage(const QString &text);
    void showSighting(const QByteArray &address);
    void showUnconnected();
    void showLinkEnded();
    void showWriteFinished();
    // The check has taken its last sample, or cannot go on: its record line and its box.
    void showCheckEnded();
    void stopWorkers();
    void initLiveDisplay();
    void closeEvent(QCloseEvent *event) override;
    void appendRecord(const JsonLine &line);
    // The live figures of the recording, refreshed once a second.
    void showQuality();
    // Asks whether to save a calibration that fails the gate; true: save anyway.
    bool saveAnyway(const GateVerdict &verdict);

    Ui::MainWindow *ui;
    bool dragging = false;
    QPoint dragOffset;
    // Set when the user closes the window. Answers that arrive after that (the controller's
    // reply to a save, a check that ends) show no box: nobody would see it, and while it is up
    // the closed tool could not quit.
    bool windowClosed = false;

    // The controllers, the link, the recording, the write and the check: what the pages show.
    ControllerSession session;
    MagThread *magThread = nullptr;
    CalibThread *calibThread = nullptr;
    const RecordFile *recordFile = nullptr;
    // The six values last read back from the page for saving.
    MAG_PARAM magParam;
    // The recording's live figures on the calibration page, shown from the first recording on.
    class CalibrationQuality *quality = nullptr;

    // Each tab's faces, in the order of the pages.
    QPixmap tabUp[PageCount];
    QPixmap tabDown[PageCount];

    // The lights of the controller picture that the live display turns on and off: each one's
    // label, and the picture it shows when lit, converted for the screen once. The five button
    // lights come in the order of ControlsDisplay::ButtonLight, then the trigger's and the
    // joystick's.
    struct Light {
        QLabel *label = nullptr;
        QPixmap picture;
    };
    enum : size_t {
        ButtonLights = size_t(ControlsDisplay::ButtonLight::None),
        TriggerLight = ButtonLights,
        RockerLight,
        LightCount
    };
    std::array<Light, LightCount> lights;
};
