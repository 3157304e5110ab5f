// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

#include "qtblehost.h"
#include "runtool.h"
#include "tooloptions.h"

// The tool on the computer's own Bluetooth adapter. (imu-calibration-tool-demo is the same
// tool on the virtual dongle.)
int main(int argc, char *argv[])
{
    return runTool(argc, argv, "adapter", [](const ToolOptions &options) {
        // A write the stack has not confirmed waits as long as the answer may take.
        QtBleHost::Options host;
        host.writeTimeoutMs = options.answerTimeoutMs;
        return std::unique_ptr<HostBackend>(new QtBleHost(host));
    });
}
