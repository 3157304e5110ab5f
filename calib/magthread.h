// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The calibration ticker: asks the window once a second to fold the latest magnetometer
// sample into the recorded extremes.
#pragma once

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

class MagThread : public QThread
{
    Q_OBJECT

public:
    MagThread() = default;
    ~MagThread() override;

    // Ends the loop at once, also in the middle of its one-second pause. Callable from any
    // thread; wait() afterwards to join.
    void requestStop();

signals:
    void magSender();

protected:
    void run() override;

private:
    std::atomic<bool> stopRequested{false};
    // std primitives rather than Qt's, so that ThreadSanitizer sees the ordering they give.
    std::mutex pauseMutex;
    std::condition_variable pauseWake;
};
