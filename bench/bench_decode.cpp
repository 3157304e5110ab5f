// The worker's decode step for one notification (copy into the reused report buffer, then
// decode), per report type, against the copy alone. Each benchmark cycles through 64
// notifications with different values, so no branch or value stays constant.
#include "reportdecoder.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

constexpr size_t NotificationLength = 20;
using Notification = std::array<uint8_t, NotificationLength>;

void putSignMagnitude(uint8_t *out, int value)
{
    const int magnitude = value < 0 ? -value : value;
    out[0] = uint8_t(((magnitude >> 8) & 0x7F) | (value < 0 ? 0x80 : 0));
    out[1] = uint8_t(magnitude & 0xFF);
}

enum Kind { Orientation = 0, Accel = 2, Gyro = 3, Mag = 4, Ack = 100, Foreign = 101, Mixed = 102 };

Notification make(int kind, int i)
{
    Notification n{};
    n[0] = 0x55;
    if (kind == Ack) {
        n[1] = 0x01;
        n[2] = 0x01;
        n[16] = 1;
        return n;
    }
    if (kind == Foreign)
        n[0] = uint8_t(0x20 + i);
    putSignMagnitude(&n[3], (i * 977) % 3600 - 1800);
    putSignMagnitude(&n[5], (i * 313) % 1800 - 900);
    putSignMagnitude(&n[7], -(i * 131) % 3599);
    n[11] = uint8_t(i & 0x1F);
    n[12] = uint8_t(i * 7 - 128);
    n[13] = uint8_t(i * 3);
    n[14] = uint8_t(-i * 5);
    n[16] = uint8_t(kind == Foreign ? 0 : kind);
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
    ReportState report;
    size_t i = 0;
    for (auto _ : state) {
        const Notification &n = input[i++ & 63];
        size_t length = n.size();
        benchmark::DoNotOptimize(length);
        std::memcpy(buffer, n.data(), length);
        benchmark::DoNotOptimize(buffer);
        const ReportResult result = decodeReport(buffer, length, report);
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
