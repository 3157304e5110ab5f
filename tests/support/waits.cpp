// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "waits.h"

#include <QEvent>
#include <QTest>
#include <QWidget>

namespace {

class PaintSeen : public QObject
{
public:
    explicit PaintSeen(QWidget *widget) : widget(widget) { widget->installEventFilter(this); }
    bool seen = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == widget && event->type() == QEvent::Paint)
            seen = true;
        return false;
    }

private:
    QWidget *widget;
};

} // namespace

bool showAndWait(QWidget *window)
{
    window->show();
    return QTest::qWaitForWindowExposed(window, WaitDeadline);
}

bool repaintAndWait(QWidget *widget)
{
    PaintSeen paint(widget);
    widget->update();
    return QTest::qWaitFor([&] { return paint.seen; }, WaitDeadline);
}
