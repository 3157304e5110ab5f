// The stand-in BlueZ's controller: the virtual dongle's controller model, run in real time
// for a process that cannot link it. Reads commands on standard input, one per line:
//   on | off           notifications of the report characteristic on / off
//   rate <n>           type-0 reports per second
//   write <hex>        a write to the parameter characteristic (answered with the
//                      acknowledgement report while notifications are on)
// and prints every notification as it falls due: "n <hex>".
#include "virtualcontroller.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

int64_t nowMs()
{
    static const auto epoch = std::chrono::steady_clock::now();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - epoch)
            .count();
}

std::vector<uint8_t> fromHex(const std::string &hex)
{
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(uint8_t(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    return bytes;
}

void command(VirtualController &controller, const std::string &line)
{
    if (line == "on") {
        controller.startReports(nowMs());
    } else if (line == "off") {
        controller.stopReports();
    } else if (line.rfind("rate ", 0) == 0) {
        controller.setReportRate(std::atoi(line.c_str() + 5), nowMs());
    } else if (line.rfind("write ", 0) == 0) {
        const std::vector<uint8_t> frame = fromHex(line.substr(6));
        controller.writeParameter(frame.data(), frame.size(), nowMs());
    }
}

} // namespace

int main()
{
    VirtualController controller(1);
    std::string input;
    char chunk[4096];
    for (;;) {
        const int64_t due = controller.nextDueMs();
        const int64_t wait = due == INT64_MAX ? -1 : std::max<int64_t>(0, due - nowMs());
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&fd, 1, wait < 0 ? -1 : int(std::min<int64_t>(wait, INT_MAX)));
        if (ready > 0) {
            const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
            if (n <= 0)
                return 0;   // the stand-in is gone
            input.append(chunk, size_t(n));
            size_t end;
            while ((end = input.find('\n')) != std::string::npos) {
                command(controller, input.substr(0, end));
                input.erase(0, end + 1);
            }
        }
        for (const auto &notification : controller.advanceTo(nowMs())) {
            std::string line = "n ";
            char hex[3];
            for (uint8_t b : notification.bytes) {
                std::snprintf(hex, sizeof hex, "%02x", b);
                line += hex;
            }
            line += '\n';
            std::fputs(line.c_str(), stdout);
        }
        std::fflush(stdout);
    }
}
