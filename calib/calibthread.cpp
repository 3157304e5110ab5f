// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "calibthread.h"

CalibThread::~CalibThread()
{
    // The loop leaves under the mutex: taking it once more orders the loop's last pass
    // before this memory is reused (Qt's wait() is invisible to ThreadSanitizer).
    std::lock_guard<std::mutex> lock(stateMutex);
}

void CalibThread::startTicks()
{
    std::lock_guard<std::mutex> lock(stateMutex);
    stopRequested = false;
    if (looping)
        return;
    // The loop has left (or never ran): the thread is at most returning from run().
    wait();
    looping = true;
    start(QThread::InheritPriority);
}

void CalibThread::stop()
{
    stopRequested = true;
}

void CalibThread::run()
{
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(stateMutex);
            if (stopRequested) {
                stopRequested = false;
                looping = false;
                return;
            }
        }
        emit calibSender();
        msleep(1);
    }
}
