// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "magthread.h"

#include <chrono>

namespace {
constexpr std::chrono::milliseconds Tick{1000};
}

MagThread::~MagThread()
{
    // The loop's last step is taken under the mutex: taking it once more orders that step
    // before this memory is reused (Qt's wait() is invisible to ThreadSanitizer).
    std::lock_guard<std::mutex> lock(pauseMutex);
}

void MagThread::requestStop()
{
    // Taken under the pause mutex so the loop cannot test the flag and then miss the wake.
    {
        std::lock_guard<std::mutex> lock(pauseMutex);
        stopRequested = true;
    }
    pauseWake.notify_all();
}

void MagThread::run()
{
    while (!stopRequested) {
        emit magSender();
        std::unique_lock<std::mutex> lock(pauseMutex);
        if (!stopRequested)
            pauseWake.wait_for(lock, Tick);
    }
    std::lock_guard<std::mutex> lock(pauseMutex);
    stopRequested = false;
}
