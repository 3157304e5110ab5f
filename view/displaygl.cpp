// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "displaygl.h"

#include "axismodel.h"

#include <QTimerEvent>

#include <GL/gl.h>

namespace {

// The boxes are drawn in order with no depth test, so the view needs neither a depth nor a
// stencil buffer.
QGLFormat viewFormat()
{
    QGLFormat format;
    format.setDepth(false);
    format.setStencil(false);
    return format;
}

} // namespace

DisplayGL::DisplayGL(QWidget *parent)
    : QGLWidget(viewFormat(), parent)
{
}

void DisplayGL::setRotation(IMU_POS pos)
{
    angle1 = pos.angle1;
    angle2 = pos.angle2;
    angle3 = pos.angle3;
    showNormal();
    // A view that is not shown draws the pose when it is exposed again.
    if (!poseOnScreen() && isVisible())
        scheduleFrame();
}

bool DisplayGL::poseOnScreen() const
{
    return drawnOnce && angle1 == drawn[0] && angle2 == drawn[1] && angle3 == drawn[2];
}

void DisplayGL::scheduleFrame()
{
    if (frameTimer.isActive())
        return;   // the frame already due draws the newest angles
    int delayMs = 0;
    if (sinceFrame.isValid()) {
        const qint64 leftNs = qint64(FrameIntervalMs) * 1000000 - sinceFrame.nsecsElapsed();
        if (leftNs > 0)
            delayMs = int((leftNs + 999999) / 1000000);
    }
    frameTimer.start(delayMs, Qt::PreciseTimer, this);
}

void DisplayGL::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != frameTimer.timerId()) {
        QGLWidget::timerEvent(event);
        return;
    }
    frameTimer.stop();
    // The angles may have gone back to what is on screen; then there is nothing to draw.
    if (!poseOnScreen())
        updateGL();
}

void DisplayGL::initializeGL()
{
    glShadeModel(GL_SMOOTH);
    glClearColor(0.1445f, 0.2343f, 0.289f, 1.0f);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}

void DisplayGL::resizeGL(int w, int h)
{
    if (h == 0)
        h = 1;
    // The shift puts the model's corner 20 pixels left of and below the centre.
    glViewport(-20, -20, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void DisplayGL::paintGL()
{
    sinceFrame.start();
    drawn[0] = angle1;
    drawn[1] = angle2;
    drawn[2] = angle3;
    drawnOnce = true;

    glClear(GL_COLOR_BUFFER_BIT);
    glLoadIdentity();
    glPushMatrix();
    glRotatef(angle1, 0.0f, axisLength, 0.0f);
    glRotatef(-angle2, 0.0f, 0.0f, axisLength);
    glRotatef(angle3, axisLength, 0.0f, 0.0f);

    for (const AxisModel::Box &box : AxisModel::boxes()) {
        glBegin(GL_QUADS);
        glColor3f(box.colour[0], box.colour[1], box.colour[2]);
        for (int q = 0; q < AxisModel::QuadsPerBox; ++q) {
            for (int c = 0; c < AxisModel::CornersPerQuad; ++c) {
                const AxisModel::Vertex v = box.vertex(q, c);
                glVertex3f(v.x, v.y, v.z);
            }
        }
        glEnd();
    }

    glPopMatrix();
}
