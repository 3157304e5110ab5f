// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Magnetometer calibration and stationary check: slots of MainWindow.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "btthread.h"
#include "calibrationquality.h"
#include "calibthread.h"
#include "magcalibration.h"
#include "magthread.h"
#include "recordfile.h"
#include "stationarycheck.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

void MainWindow::on_btn_start_calib_clicked()
{
    // A new recording starts from zero; bars and labels follow at the next new extreme.
    session.startCalibration();
    if (!quality) {
        // In the page's free corner right of Save, below the z bar.
        quality = new CalibrationQuality(ui->frame_Magnet);
        quality->setGeometry(QRect(QPoint(532, 362), quality->sizeHint()));
    }
    showQuality();
    quality->show();
    if (magThread)
        return;

    magThread = new MagThread;
    connect(magThread, SIGNAL(magSender()), this, SLOT(DisplayMagData()));
    magThread->start(QThread::InheritPriority);
    // Without a controller the new recording waits; the status says so.
    if (session.link() != ControllerSession::Link::Up)
        showUnconnected();
}

void MainWindow::DisplayMagData()
{
    const bool moved = session.calibrationTick();
    if (quality) {
        session.refreshQuality();
        showQuality();
    }
    if (!moved)
        return;
    const int16_t *const magMax = session.recording().max();
    const int16_t *const magMin = session.recording().min();

    QLabel *const bars[3] = {ui->lab_block_x, ui->lab_block_y, ui->lab_block_z};
    for (int axis = 0; axis < 3; ++axis)
        bars[axis]->setGeometry(MagCalibration::barRect(axis, magMax[axis], magMin[axis]));

    QLabel *const maxLabels[3] = {ui->lab_max_x, ui->lab_max_y, ui->lab_max_z};
    QLabel *const minLabels[3] = {ui->lab_min_x, ui->lab_min_y, ui->lab_min_z};
    for (int axis = 0; axis < 3; ++axis)
        maxLabels[axis]->setText(QString::number(magMax[axis]));
    for (int axis = 0; axis < 3; ++axis)
        minLabels[axis]->setText(QString::number(magMin[axis]));

    const QString extremeSheet = MagCalibration::extremeStyleSheet();
    for (QLabel *label : maxLabels)
        label->setStyleSheet(extremeSheet);
    for (QLabel *label : minLabels)
        label->setStyleSheet(extremeSheet);
    const QString valueSheet = MagCalibration::valueStyleSheet();
    ui->lab_magdata_x->setStyleSheet(valueSheet);
    ui->lab_magdata_y->setStyleSheet(valueSheet);
    ui->lab_magdata_z->setStyleSheet(valueSheet);
}

void MainWindow::on_btn_save_param_clicked()
{
    if (!session.worker())
        return;

    // What is saved is what the user sees on the page.
    magParam.max_x = ui->lab_max_x->text().toShort(nullptr, 10);
    magParam.max_y = ui->lab_max_y->text().toShort(nullptr, 10);
    magParam.max_z = ui->lab_max_z->text().toShort(nullptr, 10);
    magParam.min_x = ui->lab_min_x->text().toShort(nullptr, 10);
    magParam.min_y = ui->lab_min_y->text().toShort(nullptr, 10);
    magParam.min_z = ui->lab_min_z->text().toShort(nullptr, 10);

    // Judged first, when a frame could go out at all: one that fails the gate is written only
    // when the user says so.
    const bool judged = session.frameCanGoOut();
    GateVerdict verdict;
    if (judged) {
        session.refreshQuality();
        showQuality();
        verdict = session.verdictFor(magParam);
        if (!verdict.passed && !saveAnyway(verdict))
            return;
    }

    // The window waits the second after the frame as the controller expects; its answer comes
    // later (writeFinished, and the worker's text of it).
    const ControllerSession::WriteStart started = session.write(magParam, true);
    if (judged)
        session.markWriteJudged(verdict, !verdict.passed);
    if (started == ControllerSession::WriteStart::NotSent) {
        if (recordFile)
            appendRecord(session.writeLine(*recordFile));
        QMessageBox::information(this, QString(), QStringLiteral("Save Parameter Failed!"),
                                 QMessageBox::Ok, QMessageBox::NoButton);
    }
}

bool MainWindow::saveAnyway(const GateVerdict &verdict)
{
    QMessageBox box(QMessageBox::Warning, QString(),
                    QStringLiteral("This calibration does not pass:\n\n• %1\n\nSave it anyway?")
                            .arg(verdict.reasons.join(QStringLiteral("\n• "))),
                    QMessageBox::Cancel, this);
    QPushButton *anyway = box.addButton(QStringLiteral("Save anyway"), QMessageBox::AcceptRole);
    // For the keyboard: Return and Escape cancel, Alt+S saves anyway.
    anyway->setShortcut(QKeySequence(QStringLiteral("Alt+S"), QKeySequence::PortableText));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    box.exec();
    return box.clickedButton() == anyway;
}

void MainWindow::showQuality()
{
    if (!quality)
        return;
    const MagQualityFigures &figures = session.quality();
    quality->setCoverage(session.recording().coverageMap());
    quality->setFigures(figures.fitError, session.gateLimits().minCoverage, session.gateLimits().maxFitError);
}

void MainWindow::showWriteFinished()
{
    if (recordFile)
        appendRecord(session.writeLine(*recordFile));
}

void MainWindow::on_btn_stationary_check_clicked()
{
    if (!calibThread) {
        calibThread = new CalibThread;
        connect(calibThread, SIGNAL(calibSender()), this, SLOT(DisplayValidData()));
    }
    calibThread->startTicks();
    session.startCheck();
    if (session.link() != ControllerSession::Link::Up)
        showUnconnected();
}

void MainWindow::DisplayValidData()
{
    const int sample = session.check().count();
    const CheckSession::Tick taken = session.checkTick();
    if (taken == CheckSession::Tick::Nothing)
        return;

    ui->lab_check_progress->setGeometry(50, 100, StationaryCheck::progressWidth(sample), 61);
    ui->lab_count->setAlignment(Qt::AlignRight);
    const QByteArray percentText = StationaryCheck::percentRichText(sample).toUtf8();
    ui->lab_count->setText(QCoreApplication::translate("MainWindow", percentText.constData()));
    ui->lab_count->setGeometry(552, 95, 150, 61);

    if (taken == CheckSession::Tick::Ended) {
        if (calibThread)
            calibThread->stop();
        showCheckEnded();
    }
}

void MainWindow::showCheckEnded()
{
    const bool passed = session.check().passed();
    // Reports dropped, or a link that ended, while the check ran leave it without a verdict.
    const QString notJudged = session.checkNotJudged();
    if (recordFile)
        appendRecord(session.checkLine(*recordFile, {notJudged.isEmpty() ? (passed ? StatusSuccess : StatusFailed)
                                                                         : StatusError, notJudged}));
    const QString verdict = !notJudged.isEmpty() ? QStringLiteral("Station check not judged: %1.").arg(notJudged)
                          : passed               ? QStringLiteral("Station check success!")
                                                 : QStringLiteral("Station check failed!");
    if (!windowClosed)
        QMessageBox::information(this, QStringLiteral("Stationary"), verdict, QMessageBox::Ok,
                                 QMessageBox::NoButton);
}

void MainWindow::appendRecord(const JsonLine &line)
{
    // The window goes on without its record; the console says why.
    QString error;
    if (!recordFile->append(line, &error))
        qWarning("cannot write the record file %s", qPrintable(error));
}
