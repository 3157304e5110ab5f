// Device search and connection page: slots of MainWindow.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "btthread.h"
#include "controlsdisplay.h"
#include "recordfile.h"

#include <QMessageBox>
#include <QThread>

namespace {

const char Unconnected[] = "Status:Unconnected!";

// The status the form starts with, and what a procedure waiting for a controller adds to it.
QString unconnectedStatus(const char *waiting)
{
    return QStringLiteral("<html><head/><body><p><span style=\" font-size:6pt; color:#d4d4d4;\">"
                          "%1%2</span></p></body></html>")
            .arg(QLatin1String(Unconnected), QLatin1String(waiting));
}

} // namespace

void MainWindow::on_btn_search_clicked()
{
    if (!btThread) {
        // Both buttons stay off until the worker reports the dongle ready.
        ui->btn_connect->setDisabled(true);
        ui->btn_search->setDisabled(true);
        QThread::msleep(1);

        btThread = new BtThread;
        connect(btThread, SIGNAL(BtSender(int,char*,char*)),
                this, SLOT(DisplayBtDevice(int,char*,char*)));
        connect(btThread, SIGNAL(posSender(IMU_POS)), this, SLOT(DisplayPosData(IMU_POS)));
        connect(btThread, SIGNAL(rawSender(IMU_RAW)), this, SLOT(DisplayRawData(IMU_RAW)));
        connect(btThread, SIGNAL(btnSender(short,short,short,short)),
                this, SLOT(DisplayBtnData(short,short,short,short)));
        btThread->start();
        return;
    }

    // A new search: forget what was found; the worker announces the controllers again.
    QThread::msleep(1);
    deviceAddresses.clear();
    deviceNames.clear();
    ui->comboBox->clear();
    btThread->restartScan();
}

void MainWindow::DisplayBtDevice(int code, char *text, char *addressText)
{
    const QString message = text ? QString::fromUtf8(text) : QString();
    const QByteArray address = addressText ? QByteArray(addressText) : QByteArray();

    switch (code) {
    case BtThread::DongleFailed:
    case BtThread::WriteAnswer:
        if (code == BtThread::WriteAnswer) {
            recordWrite(BtThread::writeSucceeded(text) ? WriteAnswer::Success : WriteAnswer::Fail);
        }
        if (windowClosed)
            break;
        QMessageBox::information(this, QString(), message, QMessageBox::Ok,
                                 QMessageBox::NoButton);
        break;
    case BtThread::DongleReady:
        ui->btn_connect->setDisabled(false);
        ui->btn_search->setDisabled(false);
        break;
    case BtThread::LinkEnded:
        // The link has ended; the next one starts afresh.
        check.newLink();
        showUnconnected();
        break;
    case BtThread::DeviceFound:
        // A controller keeps its first entry; later sightings change nothing.
        if (deviceAddresses.contains(address))
            break;
        deviceNames.append(message);
        deviceAddresses.append(address);
        ui->comboBox->insertItem(ui->comboBox->count(), QString::fromUtf8(address));
        break;
    default:
        break;
    }
}

void MainWindow::on_btn_connect_clicked()
{
    if (!btThread)
        return;
    const QString selected = ui->comboBox->currentText();
    const int count = qMin(deviceNames.size(), deviceAddresses.size());
    for (int i = 0; i < count; ++i) {
        if (QString::fromUtf8(deviceAddresses.at(i)) == selected) {
            // Connecting again, to the same or another controller, drops the old link first.
            btThread->disconnectDevice();
            check.newLink();
            linkAddress = deviceAddresses.at(i);
            linkName = deviceNames.at(i);
            btThread->connectDevice(deviceAddresses.at(i).constData());
            return;
        }
    }
}

bool MainWindow::statusUnconnected() const
{
    return ui->lab_status->text().contains(QLatin1String(Unconnected));
}

// The look the window has before any connection: the form's status, the lights out, the
// trigger bar and the joystick cross as the form shows them; the 3-D model keeps its pose. A
// check or calibration under way goes on and waits for reports, and the status says so.
void MainWindow::showUnconnected()
{
    const bool checkWaits = calibThread && check.active();
    const bool calibrationWaits = !calibIdle;
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
