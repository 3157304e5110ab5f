// Live display of the connected controller: slots of MainWindow.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "controlsdisplay.h"
#include "displaygl.h"

#include <QLabel>

namespace {

QString statusText(const char *status)
{
    return QStringLiteral("<html><head/><body><p><span style=\"color:#d4d4d4;\">")
           + QLatin1String(status) + QStringLiteral("</span></p></body></html>");
}

void showImage(QLabel *label, const QImage *image)
{
    label->setPixmap(image ? QPixmap::fromImage(*image) : QPixmap());
}

} // namespace

void MainWindow::DisplayBtnData(short btn, short trig, short rock_x, short rock_y)
{
    using ControlsDisplay::ButtonLight;

    switch (ControlsDisplay::lightForButtons(btn)) {
    case ButtonLight::Right:
        showImage(ui->lab_light_right, imgRightLight);
        break;
    case ButtonLight::Back:
        showImage(ui->lab_light_back, imgBackLight);
        break;
    case ButtonLight::Middle:
        showImage(ui->lab_light_middle, imgMiddleLight);
        break;
    case ButtonLight::Left:
        showImage(ui->lab_light_left, imgLeftLight);
        break;
    case ButtonLight::Power:
        showImage(ui->lab_light_power, imgPowerLight);
        break;
    case ButtonLight::None:
        // Only a report with no button held puts the lights out; the trigger and joystick
        // lights below come on again at once if those are still out of rest.
        ui->lab_light_left->clear();
        ui->lab_light_middle->clear();
        ui->lab_light_right->clear();
        ui->lab_light_power->clear();
        ui->lab_light_back->clear();
        ui->lab_trigger_stick->clear();
        ui->lab_rocker_light->clear();
        break;
    }

    // The frame rectangle reaches below the label; Qt keeps only its top edge (contents
    // margins cannot be negative), so the picture is pinned to that edge to let its top rows
    // slide up into view rather than its middle.
    ui->lab_trigger_progress->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->lab_trigger_progress->setFrameRect(ControlsDisplay::triggerFrameRect(trig));
    if (ControlsDisplay::triggerLit(trig))
        showImage(ui->lab_trigger_stick, imgTriggerStick);

    ui->lab_rocker_cross->setGeometry(ControlsDisplay::rockerCrossRect(rock_x, rock_y));
    if (ControlsDisplay::rockerLit(rock_x, rock_y))
        showImage(ui->lab_rocker_light, imgRockerLight);
}

void MainWindow::DisplayRawData(IMU_RAW raw)
{
    rawData = raw;
    ui->lab_magdata_x->setText(QString::number(raw.mag_x));
    ui->lab_magdata_y->setText(QString::number(raw.mag_y));
    ui->lab_magdata_z->setText(QString::number(raw.mag_z));
    ui->lab_status->setText(statusText("Status:Calibration!"));
}

void MainWindow::DisplayPosData(IMU_POS pos)
{
    lastPosData = posData;
    posData = pos;
    posUpdated = true;
    ui->lab_status->setText(statusText("Status:Normal!"));
    ui->glwg_rotation->setRotation(pos);
}
