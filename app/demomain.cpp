// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "runtool.h"
#include "virtualdongle.h"

// The tool on the virtual dongle and its three simulated controllers: runs on any machine,
// with or without Bluetooth.
int main(int argc, char *argv[])
{
    return runTool(argc, argv, "virtual", [](const ToolOptions &) { return std::unique_ptr<HostBackend>(new VirtualDongle); });
}
