// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// One stationary check as its owner runs it: the latest and previous orientation sample, and
// the check's progress and sums. The window feeds it from its slots; the headless runner
// from the worker's signals. The arithmetic is StationaryCheck's.
#pragma once

#include "imutypes.h"
#include "stationarycheck.h"

class CheckSession
{
public:
    enum class Tick { Nothing, Sample, Ended };

    // A new link to a controller begins: its first orientation sample has no predecessor and
    // counts as no change.
    void newLink() { firstOfLink = true; }

    // A new orientation sample from the controller.
    void takePose(const IMU_POS &pos);

    // Starts a check from sample 0 with all sums at 0; a check under way starts over.
    void start();
    // Ends a check under way without a verdict: it takes no more samples.
    void abandon() { checkActive = false; }

    // Takes the newest sample into the check if one came since the last sample taken and a
    // check is collecting. Ended: that was the last sample, and the verdict is ready.
    Tick tick();

    const IMU_POS &pose() const { return posData; }
    bool active() const { return checkActive; }
    // Index of the next sample to take; 1001 once a check has ended.
    int count() const { return checkCount; }
    const double *sums() const { return checkSum; }
    // Each sum divided by the 1000 changes the limits are set for.
    double mean(int angle) const;
    // The limits passed() judges by: the defaults until a station sets its own.
    void setLimits(const StationaryCheck::Limits &limits) { checkLimits = limits; }
    const StationaryCheck::Limits &limits() const { return checkLimits; }
    bool passed() const;

private:
    friend struct MainWindowProbe;   // lets the window's tests set up a check's state

    IMU_POS posData;
    IMU_POS lastPosData;
    bool posUpdated = false;
    bool firstOfLink = true;
    bool checkActive = true;
    int checkCount = 0;
    double checkSum[3] = {0.0, 0.0, 0.0};
    StationaryCheck::Limits checkLimits;
};
