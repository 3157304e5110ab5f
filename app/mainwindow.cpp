// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "accessibility.h"
#include "calibthread.h"
#include "magthread.h"
#include "repaintpacer.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QMouseEvent>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    // The form's labels ask for Arial. Liberation Sans has the same metrics, so wherever Arial
    // itself is missing the texts still fit the rectangles they were laid out for.
    QFont::insertSubstitution(QStringLiteral("Arial"), QStringLiteral("Liberation Sans"));

    // The 3-D view is a native window of its own. Qt would otherwise make every sibling of it
    // and of its parents native as well, so that each label moved or repainted by the live
    // display went to the display server as a window of its own.
    QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    ui->setupUi(this);
    initSkin();
    initLiveDisplay();
    connectSession();
    // The worker's records travel by queued signals to this window's slots.
    qRegisterMetaType<IMU_RAW>("IMU_RAW");
    qRegisterMetaType<IMU_POS>("IMU_POS");
    // The live display changes labels for every report; the screen needs the result far
    // less often than that. The pacer is a child of the window and goes with it.
    new RepaintPacer(this);
    installKeyboardAccess(this);
}

MainWindow::~MainWindow()
{
    // Workers emit into this window's slots, so they must be gone before the widgets are.
    stopWorkers();

    delete ui;
}

// Closing the window ends the workers in order, so the process exits at once and cleanly:
// the check's ticker, the calibration ticker (woken from its one-second pause), then the BLE
// worker, whose loop ends on a quit message. Each stop returns within milliseconds.
void MainWindow::stopWorkers()
{
    if (calibThread) {
        calibThread->stop();
        calibThread->wait();
        delete calibThread;
        calibThread = nullptr;
    }
    if (magThread) {
        magThread->requestStop();
        magThread->wait();
        delete magThread;
        magThread = nullptr;
    }
    // The controller is left free for whatever comes next.
    session.close();
}

// The window has no frame, so it is moved by a left drag anywhere on its background. Presses
// that buttons and the combo box take never get here; those on labels, frames and the 3-D view
// come up from the child.

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        dragging = true;
        dragOffset = event->globalPos() - pos();
        event->accept();
    }
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (dragging && event->buttons() != Qt::NoButton) {
        move(event->globalPos() - dragOffset);
        event->accept();
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent *)
{
    dragging = false;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    windowClosed = true;
    QMainWindow::closeEvent(event);
}

void MainWindow::on_btn_close_clicked()
{
    close();
}

void MainWindow::on_btn_smallest_clicked()
{
    showMinimized();
}
