// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The stationary-check ticker: nudges the window about every millisecond so that it can
// take the newest orientation sample.
#pragma once

#include <QThread>

#include <atomic>
#include <mutex>

class CalibThread : public QThread
{
    Q_OBJECT

public:
    CalibThread() = default;
    ~CalibThread() override;

    // Starts the ticks, or keeps them coming if the loop is still running. A stop that the
    // loop has not acted on yet is withdrawn, so every check that starts gets its ticks.
    void startTicks();

    // Asks the loop to end after its current pass.
    void stop();

signals:
    void calibSender();

protected:
    void run() override;

private:
    std::atomic<bool> stopRequested{false};
    // Makes "stop seen, loop leaving" one step against startTicks(). A std::mutex rather
    // than a QMutex so that ThreadSanitizer sees the ordering it gives.
    std::mutex stateMutex;
    bool looping = false; // guarded by stateMutex
};
