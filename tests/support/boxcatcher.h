// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Modal message boxes: which one is up, and a catcher that records and answers each one.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QMessageBox;
class QWidget;

// The modal message box that is up, if any.
QMessageBox *shownMessageBox();
// Presses its OK button, or rejects it when it has none.
void answerMessageBox(QMessageBox *box);

struct BoxSeen
{
    QString title;
    QString text;
    QWidget *parent = nullptr;
};

// Watches for modal message boxes while alive, records each one, calls `onBox` and answers it.
// With SaveAnyway, the box that asks before saving a calibration that fails its gate is
// answered "Save anyway" and not recorded: for tests of what a save does, not of the gate.
class BoxCatcher : public QObject
{
    Q_OBJECT
public:
    enum Gate { AskGate, SaveAnyway };
    explicit BoxCatcher(std::function<void()> onBox = {}, Gate gate = AskGate);
    explicit BoxCatcher(Gate gate) : BoxCatcher({}, gate) {}
    QList<BoxSeen> seen;

private:
    void poll();
    QTimer timer;
    std::function<void()> onBox;
    Gate gate;
};

// Clicks the button of the shown message box whose text is `text`; false when there is none.
bool clickMessageBoxButton(const QString &text);
