#include "magthread.h"

#include <QMutexLocker>

namespace {
constexpr unsigned long TickMs = 1000;
}

void MagThread::requestStop()
{
    // Taken under the pause mutex so the loop cannot test the flag and then miss the wake.
    QMutexLocker lock(&pauseMutex);
    stopRequested = true;
    pauseWake.wakeAll();
}

void MagThread::run()
{
    while (!stopRequested) {
        emit magSender();
        QMutexLocker lock(&pauseMutex);
        if (!stopRequested)
            pauseWake.wait(&pauseMutex, TickMs);
    }
    stopRequested = false;
}
