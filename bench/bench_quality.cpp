// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// What a calibration's quality figures cost the GUI thread. BM_Recording is one whole
// recording as the front ends run it: 75 magnetometer samples a second fed to MagRecording,
// and once a second a tick, a refresh of the figures and the gate's verdict, then at the save
// the record line's JSON. Its `core_pct` is that work as a share of one core over the
// recording's own duration. BM_Refresh is one refresh with a given number of samples kept.
#include "calibrationgate.h"
#include "magrecording.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <vector>

namespace {

constexpr int Rate = 75;
constexpr double Pi = 3.14159265358979323846;

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// A unit turned through every direction: a 100-count field round an offset, slightly
// flattened, with a little noise from a fixed pattern.
std::vector<std::array<int16_t, 3>> turning(int count)
{
    std::vector<std::array<int16_t, 3>> out;
    const double golden = Pi * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < count; ++i) {
        const double z = 1.0 - 2.0 * (i + 0.5) / count, r = std::sqrt(1.0 - z * z);
        const int noise = (i * 7919) % 5 - 2;
        out.push_back({int16_t(std::lround(30 + 110 * r * std::cos(i * golden)) + noise),
                       int16_t(std::lround(-20 + 100 * r * std::sin(i * golden)) - noise),
                       int16_t(std::lround(10 + 90 * z) + noise)});
    }
    return out;
}

void BM_Recording(benchmark::State &state)
{
    const int seconds = int(state.range(0));
    const std::vector<std::array<int16_t, 3>> samples = turning(seconds * Rate);
    const GateLimits limits;
    MagRecording rec;
    const double cpuStart = threadCpuSeconds();
    for (auto _ : state) {
        rec.start();
        for (int s = 0; s < seconds; ++s) {
            for (int i = 0; i < Rate; ++i)
                rec.addSample(samples[size_t(s * Rate + i)].data());
            rec.tick(samples[size_t(s * Rate + Rate - 1)].data());
            const MagQualityFigures f = rec.figures(limits.outlierMads);
            benchmark::DoNotOptimize(judgeCalibration(f, limits));
        }
        const MagQualityFigures f = rec.figures(limits.outlierMads);
        benchmark::DoNotOptimize(gateJson(f, limits, judgeCalibration(f, limits)));
    }
    // CPU seconds of this thread per second recorded, as a percentage of one core.
    state.counters["core_pct"] = 100.0 * (threadCpuSeconds() - cpuStart) / (double(state.iterations()) * seconds);
}
BENCHMARK(BM_Recording)->Arg(60)->Arg(300)->Unit(benchmark::kMillisecond);

void BM_Refresh(benchmark::State &state)
{
    const int count = int(state.range(0));
    const std::vector<std::array<int16_t, 3>> samples = turning(count);
    MagRecording rec;
    rec.start();
    for (int i = 0; i < count; ++i) {
        rec.addSample(samples[size_t(i)].data());
        if (i % Rate == Rate - 1)
            rec.tick(samples[size_t(i)].data());
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(rec.figures());
}
BENCHMARK(BM_Refresh)->Arg(60 * Rate)->Arg(int(MagQuality::Kept))->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
