// The calibration ticker: asks the window once a second to fold the latest magnetometer
// sample into the recorded extremes.
#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class MagThread : public QThread
{
    Q_OBJECT

public:
    MagThread() = default;

    // Ends the loop at once, also in the middle of its one-second pause. Callable from any
    // thread; wait() afterwards to join.
    void requestStop();

signals:
    void magSender();

protected:
    void run() override;

private:
    std::atomic<bool> stopRequested{false};
    QMutex pauseMutex;
    QWaitCondition pauseWake;
};
