// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "checksession.h"

#include "stationarycheck.h"

void CheckSession::takePose(const IMU_POS &pos)
{
    // The zero record, or the last pose of a link that has ended, is no real predecessor:
    // comparing with it would charge a still controller with a turn it never made.
    lastPosData = firstOfLink ? pos : posData;
    firstOfLink = false;
    posData = pos;
    posUpdated = true;
}

void CheckSession::start()
{
    checkCount = 0;
    for (double &sum : checkSum)
        sum = 0.0;
    checkActive = true;
}

CheckSession::Tick CheckSession::tick()
{
    if (!posUpdated || !checkActive)
        return Tick::Nothing;

    StationaryCheck::accumulate(checkSum, lastPosData, posData);
    const bool last = checkCount == StationaryCheck::LastSample;
    if (last)
        checkActive = false;
    ++checkCount;
    posUpdated = false;
    return last ? Tick::Ended : Tick::Sample;
}

double CheckSession::mean(int angle) const
{
    return checkSum[angle] / StationaryCheck::LastSample;
}

bool CheckSession::passed() const
{
    return StationaryCheck::passed(checkSum, checkLimits);
}
