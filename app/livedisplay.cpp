// Live display of the connected controller: slots of MainWindow.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "controlsdisplay.h"
#include "displaygl.h"
#include "labeltextcache.h"

#include <QLabel>
#include <QPicture>
#include <QVariant>

namespace {

QString statusText(const char *status)
{
    return QStringLiteral("<html><head/><body><p><span style=\"color:#d4d4d4;\">")
           + QLatin1String(status) + QStringLiteral("</span></p></body></html>");
}

// Built once: the slots set them for every report.
const QString &normalStatus()
{
    static const QString text = statusText("Status:Normal!");
    return text;
}

const QString &calibrationStatus()
{
    static const QString text = statusText("Status:Calibration!");
    return text;
}

// Reports come up to a thousand times a second and mostly leave the lights as they are. A
// light's picture is converted from its image once and kept on its label, and a label that
// already shows that very picture is left alone: setting it again, or clearing a label that
// is already empty, would repaint the label for nothing.
const char LightPixmapProperty[] = "imucal_lightPixmap";
const char LightImageKeyProperty[] = "imucal_lightImageKey";

void showImage(QLabel *label, const QImage *image)
{
    if (!image || image->isNull()) {
        label->setPixmap(QPixmap());
        return;
    }
    QPixmap pixmap;
    const qint64 imageKey = image->cacheKey();
    if (label->property(LightImageKeyProperty).toLongLong() == imageKey) {
        pixmap = label->property(LightPixmapProperty).value<QPixmap>();
    } else {
        pixmap = QPixmap::fromImage(*image);
        label->setProperty(LightPixmapProperty, QVariant::fromValue(pixmap));
        label->setProperty(LightImageKeyProperty, imageKey);
    }
    const QPixmap shown = label->pixmap(Qt::ReturnByValue);
    if (!shown.isNull() && shown.cacheKey() == pixmap.cacheKey())
        return;
    label->setPixmap(pixmap);
}

void clearLight(QLabel *label)
{
    if (label->pixmap(Qt::ReturnByValue).isNull() && label->text().isEmpty()
            && label->picture(Qt::ReturnByValue).isNull() && !label->movie())
        return;
    label->clear();
}

} // namespace

void MainWindow::initLiveDisplay()
{
    // The status label flips between these two texts with the reports.
    new LabelTextCache(ui->lab_status, {normalStatus(), calibrationStatus()});
}

void MainWindow::DisplayBtnData(short btn, short trig, short rock_x, short rock_y)
{
    using ControlsDisplay::ButtonLight;
    const bool triggerLit = ControlsDisplay::triggerLit(trig);
    const bool rockerLit = ControlsDisplay::rockerLit(rock_x, rock_y);

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
        // Only a report with no button held puts the lights out. The trigger and joystick
        // lights come on again below if those are still out of rest, so they are put out only
        // when they stay out: a light that would end the report as it began is not touched.
        clearLight(ui->lab_light_left);
        clearLight(ui->lab_light_middle);
        clearLight(ui->lab_light_right);
        clearLight(ui->lab_light_power);
        clearLight(ui->lab_light_back);
        if (!triggerLit)
            clearLight(ui->lab_trigger_stick);
        if (!rockerLit)
            clearLight(ui->lab_rocker_light);
        break;
    }

    // The frame rectangle reaches below the label; Qt keeps only its top edge (contents
    // margins cannot be negative), so the picture is pinned to that edge to let its top rows
    // slide up into view rather than its middle.
    ui->lab_trigger_progress->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->lab_trigger_progress->setFrameRect(ControlsDisplay::triggerFrameRect(trig));
    if (triggerLit)
        showImage(ui->lab_trigger_stick, imgTriggerStick);

    ui->lab_rocker_cross->setGeometry(ControlsDisplay::rockerCrossRect(rock_x, rock_y));
    if (rockerLit)
        showImage(ui->lab_rocker_light, imgRockerLight);
}

void MainWindow::DisplayRawData(IMU_RAW raw)
{
    rawData = raw;
    ui->lab_magdata_x->setText(QString::number(raw.mag_x));
    ui->lab_magdata_y->setText(QString::number(raw.mag_y));
    ui->lab_magdata_z->setText(QString::number(raw.mag_z));
    ui->lab_status->setText(calibrationStatus());
}

void MainWindow::DisplayPosData(IMU_POS pos)
{
    check.takePose(pos);
    ui->lab_status->setText(normalStatus());
    ui->glwg_rotation->setRotation(pos);
}
