// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Live display of the connected controller: slots of MainWindow.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "calibrationquality.h"
#include "controlsdisplay.h"
#include "displaygl.h"
#include "labeltextcache.h"

#include <QLabel>
#include <QPicture>

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
// label that already shows its light's very picture is left alone, and so is one that is
// already out: setting the picture again, or clearing an empty label, would repaint the
// label for nothing.
void showLight(QLabel *label, const QPixmap &picture)
{
    if (picture.isNull()) {
        label->setPixmap(QPixmap());
        return;
    }
    const QPixmap shown = label->pixmap(Qt::ReturnByValue);
    if (!shown.isNull() && shown.cacheKey() == picture.cacheKey())
        return;
    label->setPixmap(picture);
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
    const bool triggerLit = ControlsDisplay::triggerLit(trig);
    const bool rockerLit = ControlsDisplay::rockerLit(rock_x, rock_y);

    const size_t pressed = size_t(ControlsDisplay::lightForButtons(btn));
    if (pressed < ButtonLights) {
        showLight(lights[pressed].label, lights[pressed].picture);
    } else {
        // Only a report with no button held puts the lights out. The trigger and joystick
        // lights come on again below if those are still out of rest, so they are put out only
        // when they stay out: a light that would end the report as it began is not touched.
        for (size_t i = 0; i < ButtonLights; ++i)
            clearLight(lights[i].label);
        if (!triggerLit)
            clearLight(lights[TriggerLight].label);
        if (!rockerLit)
            clearLight(lights[RockerLight].label);
    }

    // The frame rectangle reaches below the label; Qt keeps only its top edge (contents
    // margins cannot be negative), so the picture is pinned to that edge to let its top rows
    // slide up into view rather than its middle.
    ui->lab_trigger_progress->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->lab_trigger_progress->setFrameRect(ControlsDisplay::triggerFrameRect(trig));
    if (triggerLit)
        showLight(lights[TriggerLight].label, lights[TriggerLight].picture);

    ui->lab_rocker_cross->setGeometry(ControlsDisplay::rockerCrossRect(rock_x, rock_y));
    if (rockerLit)
        showLight(lights[RockerLight].label, lights[RockerLight].picture);
}

void MainWindow::DisplayRawData(IMU_RAW raw)
{
    session.takeRaw(raw);
    // The map follows every sample; it repaints only when a region is newly visited.
    if (quality && session.calibrating())
        quality->setCoverage(session.recording().coverageMap());
    ui->lab_magdata_x->setText(QString::number(raw.mag_x));
    ui->lab_magdata_y->setText(QString::number(raw.mag_y));
    ui->lab_magdata_z->setText(QString::number(raw.mag_z));
    ui->lab_status->setText(calibrationStatus());
}

void MainWindow::DisplayPosData(IMU_POS pos)
{
    session.takePose(pos);
    ui->lab_status->setText(normalStatus());
    ui->glwg_rotation->setRotation(pos);
}
