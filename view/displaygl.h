// The 3-D orientation view: the axis model turned by the latest orientation, redrawn from
// its own 10 ms timer.
#pragma once

#include "imutypes.h"

#include <QGLWidget>

class DisplayGL : public QGLWidget
{
    Q_OBJECT

public:
    explicit DisplayGL(QWidget *parent = nullptr);

    // Takes the angles for the next frame; the timer draws them.
    void setRotation(IMU_POS pos);

protected:
    void timerEvent(QTimerEvent *event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    float angle1;
    float angle2;
    float angle3;
    float axisLength;
};
