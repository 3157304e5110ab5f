// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The signals that ask the tool to stop (SIGINT, SIGTERM, SIGHUP), turned into a Qt signal on
// the thread that made this object, so that a job can end in order: its operation recorded,
// its link dropped. While this object lives the default action (the process ends at once,
// leaving the controller connected) is replaced; afterwards it is restored.
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;

class StopSignals : public QObject
{
    Q_OBJECT

public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // "SIGTERM" for 15, and so on.
    static QString name(int signal);

signals:
    // Once for each signal that arrives.
    void stopRequested(int signal);

private:
    void readPipe();

    int pipeFds[2] = {-1, -1};
    QSocketNotifier *notifier = nullptr;
};
