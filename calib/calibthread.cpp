#include "calibthread.h"

#include <QMutexLocker>

void CalibThread::startTicks()
{
    QMutexLocker lock(&stateMutex);
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
            QMutexLocker lock(&stateMutex);
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
