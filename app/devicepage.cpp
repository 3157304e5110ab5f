// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Device search and connection page: slots of MainWindow, and what the session tells it.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "btthread.h"
#include "calibthread.h"
#include "controlsdisplay.h"
#include "recordfile.h"
#include "resulttext.h"

#include <QMessageBox>
#include <QThread>

namespace {

// The status the form starts with, and what a procedure waiting for a controller adds to it.
QString unconnectedStatus(const char *waiting)
{
    return QStringLiteral("<html><head/><body><p><span style=\" font-size:6pt; color:#d4d4d4;\">"
                          "Status:Unconnected!%1</span></p></body></html>")
            .arg(QLatin1String(waiting));
}

} // namespace

void MainWindow::connectSession()
{
    // The buttons come back once the adapter has answered, whatever it said: after "Dongle
    // failed…" a later Search starts it again.
    const auto adapterAnswered = [this] {
        ui->btn_connect->setDisabled(false);
        ui->btn_search->setDisabled(false);
    };
    connect(&session, &ControllerSession::dongleReady, this, adapterAnswered);
    connect(&session, &ControllerSession::dongleFailed, this, adapterAnswered);
    connect(&session, &ControllerSession::dongleFailed, this, &MainWindow::showMessage);
    connect(&session, &ControllerSession::writeAnswerAnnounced, this, &MainWindow::showMessage);
    connect(&session, &ControllerSession::deviceListed, this, [this](const QByteArray &address) {
        ui->comboBox->insertItem(ui->comboBox->count(), QString::fromUtf8(address));
        showSighting(address);
    });
    connect(&session, &ControllerSession::sighted, this, &MainWindow::showSighting);
    connect(&session, &ControllerSession::deviceListCleared, ui->comboBox, &QComboBox::clear);
    connect(&session, &ControllerSession::linkEnded, this, &MainWindow::showLinkEnded);
    connect(&session, &ControllerSession::writeFinished, this, &MainWindow::showWriteFinished);
}

void MainWindow::on_btn_search_clicked()
{
    if (!session.worker()) {
        // Both buttons stay off until the worker reports the dongle ready.
        ui->btn_connect->setDisabled(true);
        ui->btn_search->setDisabled(true);
        QThread::msleep(1);

        BtThread *const btThread = session.createWorker();
        connect(btThread, SIGNAL(BtSender(int,char*,char*)),
                this, SLOT(DisplayBtDevice(int,char*,char*)));
        connect(btThread, SIGNAL(posSender(IMU_POS)), this, SLOT(DisplayPosData(IMU_POS)));
        connect(btThread, SIGNAL(rawSender(IMU_RAW)), this, SLOT(DisplayRawData(IMU_RAW)));
        connect(btThread, SIGNAL(btnSender(short,short,short,short)),
                this, SLOT(DisplayBtnData(short,short,short,short)));
        session.startWorker();
        return;
    }

    // A new search: forget what was found; the worker announces the controllers again. An
    // adapter started again keeps both buttons off until it answers, as at the first search.
    QThread::msleep(1);
    if (session.searchAgain()) {
        ui->btn_connect->setDisabled(true);
        ui->btn_search->setDisabled(true);
    }
}

void MainWindow::DisplayBtDevice(int code, char *text, char *addressText)
{
    session.takeAnnouncement(code, text, addressText);
}

void MainWindow::on_btn_connect_clicked()
{
    session.connectListed(ui->comboBox->currentText());
}

// Each entry of the list keeps its address as its text; its tool tip tells the units apart by
// the name each advertised and the signal strength last seen.
void MainWindow::showSighting(const QByteArray &address)
{
    const int index = session.deviceAddresses().indexOf(address);
    if (index < 0 || index >= ui->comboBox->count())
        return;
    const ControllerSession::Sighting seen = session.sighting(address);
    const QString name = seen.name.isEmpty() ? session.deviceNames().at(index) : seen.name;
    const QString strength = ControllerSession::rssiKnown(seen.rssi)
            ? QStringLiteral("%1 dBm").arg(seen.rssi) : QStringLiteral("signal strength unknown");
    // Rich text, so that nothing in a name is taken for markup.
    const QString tip = QStringLiteral("<p>%1<br>%2</p>").arg(printableText(name).toHtmlEscaped(), strength);
    if (ui->comboBox->itemData(index, Qt::ToolTipRole).toString() != tip)
        ui->comboBox->setItemData(index, tip, Qt::ToolTipRole);
}

void MainWindow::showMessage(const QString &text)
{
    if (!windowClosed)
        QMessageBox::information(this, QString(), text, QMessageBox::Ok, QMessageBox::NoButton);
}

// A check cannot span two links: one under way ends without a verdict. A recording goes on
// when reports come again.
void MainWindow::showLinkEnded()
{
    const bool checkEnds = calibThread && session.check().active();
    if (checkEnds) {
        calibThread->stop();
        session.abandonCheck();
    }
    showUnconnected();
    if (checkEnds)
        showCheckEnded();
}

// The look the window has before any connection: the form's status, the lights out, the
// trigger bar and the joystick cross as the form shows them; the 3-D model keeps its pose. A
// check or calibration under way goes on and waits for reports, and the status says so.
void MainWindow::showUnconnected()
{
    const bool checkWaits = calibThread && session.check().active();
    const bool calibrationWaits = session.calibrating();
    ui->lab_status->setText(unconnectedStatus(checkWaits && calibrationWaits ? " Check and calibration wait"
                                              : checkWaits                   ? " The check waits"
                                              : calibrationWaits             ? " Calibration waits"
                                                                             : ""));
    for (const Light &light : lights)
        light.label->clear();
    ui->lab_trigger_progress->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    ui->lab_trigger_progress->setFrameRect(QRect());
    ui->lab_rocker_cross->setGeometry(ControlsDisplay::rockerCrossRect(0, 0));
}
