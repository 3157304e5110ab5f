// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The GUI thread's share of one report: the window's live-display slots, one stationary-check
// tick, and one frame of the 3-D view, on the shown window with the tool's own pictures.
// Needs an X display (run under xvfb-run).
#include "measuring.h"
#include "windowprobe.h"

#include <QApplication>
#include <QDir>
#include <QGLWidget>

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <memory>

namespace {

MainWindow *window = nullptr;

MainWindowProbe probe()
{
    return MainWindowProbe{*window};
}

IMU_POS poseAt(int64_t i)
{
    IMU_POS pos;
    pos.angle1 = float((i * 7) % 3600) * 0.1f;
    pos.angle2 = float((i * 3) % 1800) * 0.1f - 90.0f;
    pos.angle3 = float((i * 11) % 3600) * 0.1f - 180.0f;
    return pos;
}

void BM_DisplayPosData(benchmark::State &state)
{
    MainWindowProbe p = probe();
    int64_t i = 0;
    for (auto _ : state)
        p.posSample(poseAt(i++));
    QApplication::processEvents();
}

// Controls as the controller sends them: at rest (every light put out), one button held
// with trigger and joystick out of rest (three lights shown), and a stream that moves
// through the buttons, the trigger and the joystick.
void BM_DisplayBtnData(benchmark::State &state)
{
    MainWindowProbe p = probe();
    const int pattern = int(state.range(0));
    int64_t i = 0;
    for (auto _ : state) {
        switch (pattern) {
        case 0:
            p.btnData(0, -128, 0, 0);
            break;
        case 1:
            p.btnData(0x04, 20, 60, -40);
            break;
        default: {
            const int64_t tau = i++;
            const short btn = (tau % 800) < 500 ? short(1 << ((tau / 800) % 5)) : 0;
            const short trig = short(-128 + (tau * 3) % 256);
            const short x = short(std::lround(127 * std::sin(double(tau) / 400.0)));
            const short y = short(std::lround(127 * std::sin(double(tau) / 490.0)));
            p.btnData(btn, trig, x, y);
        }
        }
    }
    QApplication::processEvents();
}

void BM_DisplayRawData(benchmark::State &state)
{
    MainWindowProbe p = probe();
    int64_t i = 0;
    for (auto _ : state) {
        IMU_RAW raw;
        raw.mag_x = int16_t(i % 200 - 100);
        raw.mag_y = int16_t((i * 3) % 200 - 100);
        raw.mag_z = int16_t((i * 7) % 200 - 100);
        ++i;
        p.rawSample(raw);
    }
    QApplication::processEvents();
}

// A check tick that takes a new sample (progress bar and percentage redone), kept away
// from the last sample so no verdict box comes up.
void BM_CheckTickWithSample(benchmark::State &state)
{
    MainWindowProbe p = probe();
    p.checkActive() = true;
    int count = 0;
    for (auto _ : state) {
        p.checkCount() = count;
        count = (count + 1) % 999;
        p.posUpdated() = true;
        p.validTick();
    }
    p.checkActive() = false;
    QApplication::processEvents();
}

void BM_CheckTickIdle(benchmark::State &state)
{
    MainWindowProbe p = probe();
    p.checkActive() = true;
    p.validTick();   // takes any pending sample
    for (auto _ : state)
        p.validTick();
    p.checkActive() = false;
}

// One whole orientation report as the window takes it (posSender, btnSender, and every
// fourth a raw record), with the repaint it causes done at once.
void BM_ReportAndRepaint(benchmark::State &state)
{
    MainWindowProbe p = probe();
    int64_t i = 0;
    for (auto _ : state) {
        p.posSample(poseAt(i));
        const int64_t tau = i;
        const short btn = (tau % 800) < 500 ? short(1 << ((tau / 800) % 5)) : 0;
        p.btnData(btn, short(-128 + (tau * 3) % 256), short((tau * 5) % 256 - 128),
                  short((tau * 9) % 256 - 128));
        if (i % 4 == 0) {
            IMU_RAW raw;
            raw.mag_x = int16_t(i % 200 - 100);
            p.rawSample(raw);
        }
        ++i;
        QApplication::processEvents();
    }
}

void BM_Frame(benchmark::State &state)
{
    auto *view = window->findChild<QGLWidget *>(QStringLiteral("glwg_rotation"));
    MainWindowProbe p = probe();
    int64_t i = 0;
    for (auto _ : state) {
        p.posSample(poseAt(i++));
        view->updateGL();
    }
}

} // namespace

BENCHMARK(BM_DisplayPosData);
BENCHMARK(BM_DisplayBtnData)->ArgName("pattern")->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(BM_DisplayRawData);
BENCHMARK(BM_CheckTickWithSample);
BENCHMARK(BM_CheckTickIdle);
BENCHMARK(BM_ReportAndRepaint);
BENCHMARK(BM_Frame);

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QDir::setCurrent(QStringLiteral(IMU_SOURCE_DIR));
    window = new MainWindow;
    window->setWindowOpacity(0.95);
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->show();
    bench::runFor(300);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete window;
    return 0;
}
