// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "repaintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

RepaintPacer::RepaintPacer(QWidget *window, int intervalMs)
    : QObject(window)
    , window(window)
    , interval(intervalMs)
{
    release.setSingleShot(true);
    release.setTimerType(Qt::PreciseTimer);
    connect(&release, &QTimer::timeout, this, &RepaintPacer::repaintNow);
    window->installEventFilter(this);
}

bool RepaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != window || event->type() != QEvent::UpdateRequest || repainting)
        return false;
    if (holding)
        return true;  // the held-back repaint will show this change too
    if (sinceRepaint.isValid() && sinceRepaint.elapsed() < interval) {
        // Qt posts no further request for this window until it has handled one, so the
        // timer must deliver it.
        holding = true;
        release.start(int(interval - sinceRepaint.elapsed()));
        return true;
    }
    sinceRepaint.start();
    return false;
}

void RepaintPacer::repaintNow()
{
    holding = false;
    sinceRepaint.start();
    repainting = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window, &request);
    repainting = false;
}
