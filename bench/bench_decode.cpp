// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The worker's decode step for one notification (copy into the reused report buffer, then
// decode), per report type, against the copy alone. Each benchmark cycles through 64
// notifications with different values, so no branch or value stays constant.
#include "protocol.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

using Notification = Protocol::Report;

enum Kind { Orientation = 0, Accel = 2, Gyro = 3, Mag = 4, Ack = 100, Foreign = 101, Mixed = 102 };

Notification make(int kind, int i)
{
    if (kind == Ack)
        return Protocol::encodeAcknowledgement(true);
    const std::array<int16_t, 3> values{int16_t((i * 977) % 3600 - 1800),
                                        int16_t((i * 313) % 1800 - 900), int16_t(-(i * 131) % 3599)};
    const Protocol::Controls controls{int8_t(i & 0x1F), int8_t(i * 7 - 128), int8_t(-i * 5),
                                      int8_t(i * 3)};
    Notification n = Protocol::encodeReport(
            Protocol::ReportType(kind == Foreign ? Protocol::OrientationReport : kind), values, controls);
    if (kind == Foreign)
        n[0] = uint8_t(0x20 + i);   // anything but the marker
    return n;
}

std::vector<Notification> stream(int kind)
{
    std::vector<Notification> out;
    for (int i = 0; i < 64; ++i) {
        // The controller's own order: orientation, then one of the three sensors in turn.
        static const int mixed[] = {Orientation, Accel, Orientation, Gyro, Orientation, Mag};
        out.push_back(make(kind == Mixed ? mixed[i % 6] : kind, i));
    }
    return out;
}

void BM_Copy(benchmark::State &state)
{
    const std::vector<Notification> input = stream(int(state.range(0)));
    static uint8_t buffer[1024];
    size_t i = 0;
    for (auto _ : state) {
        const Notification &n = input[i++ & 63];
        size_t length = n.size();
        benchmark::DoNotOptimize(length);
        std::memcpy(buffer, n.data(), length);
        benchmark::DoNotOptimize(buffer);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Decode(benchmark::State &state)
{
    const std::vector<Notification> input = stream(int(state.range(0)));
    static uint8_t buffer[1024];
    Protocol::ReportState report;
    size_t i = 0;
    for (auto _ : state) {
        const Notification &n = input[i++ & 63];
        size_t length = n.size();
        benchmark::DoNotOptimize(length);
        std::memcpy(buffer, n.data(), length);
        benchmark::DoNotOptimize(buffer);
        const Protocol::ReportResult result = Protocol::decodeReport(buffer, length, report);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(report);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void kinds(benchmark::internal::Benchmark *b)
{
    b->ArgName("type");
    for (int kind : {Orientation, Accel, Gyro, Mag, Ack, Foreign, Mixed})
        b->Arg(kind);
}

} // namespace

BENCHMARK(BM_Copy)->Apply(kinds);
BENCHMARK(BM_Decode)->Apply(kinds);

BENCHMARK_MAIN();
