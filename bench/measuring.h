// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Shared by the measuring programs: clocks, per-thread CPU time, and runs of the GUI event loop
// as the tool's own runs it.
#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include <sys/syscall.h>
#include <unistd.h>

namespace bench {

inline int64_t monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline int64_t threadCpuNs()
{
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline long currentTid()
{
    return long(syscall(SYS_gettid));
}

// CPU time of any thread of this process, from the scheduler's own nanosecond count.
inline int64_t taskCpuNs(long tid)
{
    if (tid <= 0)
        return 0;
    const std::string path = "/proc/self/task/" + std::to_string(tid) + "/schedstat";
    FILE *file = std::fopen(path.c_str(), "r");
    if (!file)
        return 0;
    long long ns = 0;
    if (std::fscanf(file, "%lld", &ns) != 1)
        ns = 0;
    std::fclose(file);
    return ns;
}

// Runs the GUI event loop, as the tool's own does, until `done` holds (tested every 5 ms)
// or `timeoutMs` passes.
inline bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer poll;
    bool met = false;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        met = done();
        if (met || elapsed.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    return met;
}

// Runs the GUI event loop for `ms` milliseconds with nothing else of ours in it.
inline void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// `sorted` in ascending order.
inline double percentile(const std::vector<int64_t> &sorted, double p)
{
    if (sorted.empty())
        return 0.0;
    const size_t index = std::min(sorted.size() - 1, size_t(p * double(sorted.size() - 1) + 0.5));
    return double(sorted[index]);
}

} // namespace bench
