// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The stand-in BlueZ's controller: the virtual dongle's controller model, run in real time
// for a process that cannot link it. `bluez_controllerstream [seed]`: the seed (1 unless
// given) tells controllers apart. Reads commands on standard input, one per line:
//   on | off           notifications of the report characteristic on / off
//   rate <n>           type-0 reports per second
//   write <hex>        a write to the parameter characteristic (answered with the
//                      acknowledgement report while notifications are on)
// and prints every notification as it falls due: "n <hex>".
#include "virtualcontroller.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    VirtualController controller(argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1u);
    QElapsedTimer clock;
    clock.start();
    QByteArray input;
    char chunk[4096];
    for (;;) {
        const int64_t due = controller.nextDueMs();
        const int wait = due == INT64_MAX ? -1 : int(std::clamp<int64_t>(due - clock.elapsed(), 0, INT_MAX));
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        if (poll(&fd, 1, wait) > 0) {
            const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0)
                return 0;   // the stand-in is gone
            input.append(chunk, int(n));
            for (int end; (end = input.indexOf('\n')) >= 0; input.remove(0, end + 1)) {
                const QByteArray line = input.left(end);
                if (line == "on") {
                    controller.startReports(clock.elapsed());
                } else if (line == "off") {
                    controller.stopReports();
                } else if (line.startsWith("rate ")) {
                    controller.setReportRate(line.mid(5).toInt(), clock.elapsed());
                } else if (line.startsWith("write ")) {
                    const QByteArray frame = QByteArray::fromHex(line.mid(6));
                    controller.writeParameter(reinterpret_cast<const uint8_t *>(frame.constData()),
                                              size_t(frame.size()), clock.elapsed());
                }
            }
        }
        for (const auto &notification : controller.advanceTo(clock.elapsed())) {
            const QByteArray bytes(reinterpret_cast<const char *>(notification.bytes.data()),
                                   int(notification.bytes.size()));
            std::printf("n %s\n", bytes.toHex().constData());
        }
        std::fflush(stdout);
    }
}
