// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Paces the flushes of one top-level window's backing store.
//
// Qt repaints a window once for every pass of the event loop in which one of its widgets
// changed. The live display changes a label for every report, and reports arrive up to a
// couple of thousand times a second, so without pacing the window would repaint and send its
// changed pixels to the display server that often, far more often than any screen can show.
// The pacer lets a repaint through at once when the window has not repainted for an
// interval, and otherwise holds it back until that interval is over, when one repaint shows
// everything that changed in between. The widgets themselves change at once; only the
// pixels wait, by less than one interval.
#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

class RepaintPacer : public QObject
{
    Q_OBJECT
public:
    // 10 ms: the 3-D view's own frame interval, and shorter than a 60 Hz screen's.
    static constexpr int DefaultIntervalMs = 10;

    explicit RepaintPacer(QWidget *window, int intervalMs = DefaultIntervalMs);

    int intervalMs() const { return interval; }
    // Whether a held-back repaint is waiting for the interval to end.
    bool isHolding() const { return holding; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void repaintNow();

    QWidget *window;
    int interval;
    QElapsedTimer sinceRepaint;
    QTimer release;
    bool holding = false;
    bool repainting = false;
};
