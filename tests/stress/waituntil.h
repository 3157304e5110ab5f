// Runs the event loop until a condition holds or a time is up, checking every few
// milliseconds; the GUI thread never sleeps meanwhile.
#pragma once

#include <QEventLoop>
#include <QTimer>

template <typename Condition>
bool waitUntil(Condition condition, int timeoutMs)
{
    if (condition())
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    deadline.start(timeoutMs);
    loop.exec();
    return condition();
}
