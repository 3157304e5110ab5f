// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "qtblehost.h"
#include "runtool.h"

// The tool on the computer's own Bluetooth adapter. (imu-calibration-tool-demo is the same
// tool on the virtual dongle.)
int main(int argc, char *argv[])
{
    return runTool(argc, argv, "adapter", [] { return std::unique_ptr<HostBackend>(new QtBleHost); });
}
