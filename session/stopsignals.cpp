// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "stopsignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int Handled[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t writeEnd = -1;

// Only what is safe in a signal handler: one write to a non-blocking pipe.
void onSignal(int signal)
{
    const int saved = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    if (writeEnd >= 0)
        (void)!::write(writeEnd, &number, 1);
    errno = saved;
}

} // namespace

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = pipeFds[1];
    notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::readPipe);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : Handled)
        ::sigaction(signal, &action, nullptr);
}

StopSignals::~StopSignals()
{
    if (pipeFds[0] < 0)
        return;
    for (int signal : Handled)
        std::signal(signal, SIG_DFL);
    writeEnd = -1;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

void StopSignals::readPipe()
{
    unsigned char number;
    while (::read(pipeFds[0], &number, 1) == 1)
        emit stopRequested(number);
}

#else

StopSignals::StopSignals(QObject *parent) : QObject(parent) {}
StopSignals::~StopSignals() = default;
void StopSignals::readPipe() {}

#endif

QString StopSignals::name(int signal)
{
#ifdef Q_OS_UNIX
    switch (signal) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: break;
    }
#endif
    return QStringLiteral("signal %1").arg(signal);
}
