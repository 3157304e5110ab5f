// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The 3-D orientation view: the axis model turned by the latest orientation.
//
// A frame is drawn when the pose has changed, at most one every FrameIntervalMs: a new pose
// is drawn on the next pass of the event loop when the view has been still for an interval,
// otherwise when the interval since the last frame is over. Exposes and resizes redraw as any
// GL widget does. While nothing changes, or the view is not shown, it draws nothing and keeps
// no timer running.
#pragma once

#include "imutypes.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QGLWidget>

class DisplayGL : public QGLWidget
{
    Q_OBJECT

public:
    static constexpr int FrameIntervalMs = 10;

    explicit DisplayGL(QWidget *parent = nullptr);

    // Takes the angles for the next frame.
    void setRotation(IMU_POS pos);

protected:
    void timerEvent(QTimerEvent *event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    bool poseOnScreen() const;
    void scheduleFrame();

    float angle1 = 0.0f;
    float angle2 = 0.0f;
    float angle3 = 0.0f;
    float axisLength = 0.8f;

    // What the last frame showed, and when it was drawn.
    float drawn[3] = {0.0f, 0.0f, 0.0f};
    bool drawnOnce = false;
    QElapsedTimer sinceFrame;
    QBasicTimer frameTimer;   // runs only while a frame is due
};
