// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Soak of the report path: one controller on the real-time virtual dongle streams into the
// window (worker, queued signals, display slots, 3-D view) with the calibration ticker running
// and stationary checks following one another. Fails when the backlog between dongle and
// window or the resident memory keeps growing, the stream stalls, or the window does not show
// the last report once the stream stops. Leaks are left to LeakSanitizer. Run it on an idle
// machine: other work shows as backlog.
//
// usage: imu_soak [--reports N] [--rate R] [--sample S]
//   N notifications to send (1000000); R orientation reports per second (480, below the
//   worker's limit); S seconds between printed samples (10)
#include "boxcatcher.h"
#include "windowprobe.h"
#include "keepmodules.h"
#include "residentmemory.h"
#include "waits.h"

#include "btthread.h"
#include "protocol.h"
#include "virtualdongle.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// What the dongle sent, counted on its thread.
struct Sent {
    std::atomic<quint64> all{0}, pos{0}, raw{0};
    std::mutex mutex;
    std::vector<uint8_t> lastPos, lastRaw;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    quint64 reports = 1000000;
    int rate = 480, sampleSeconds = 10;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); i += 2) {
        bool ok = i + 1 < args.size();
        const QString value = args.value(i + 1);
        if (args[i] == "--reports")
            reports = value.toULongLong(&ok);
        else if (args[i] == "--rate")
            rate = value.toInt(&ok);
        else if (args[i] == "--sample")
            sampleSeconds = value.toInt(&ok);
        else
            ok = false;
        if (!ok || rate < 1 || sampleSeconds < 1) {
            std::fprintf(stderr, "usage: imu_soak [--reports N] [--rate R] [--sample S]\n");
            return 2;
        }
    }

    VirtualDongle dongle(VirtualDongle::Clock::RealTime);
    dongle.setReportRate(rate);
    Sent sent;
    dongle.setNotificationObserver([&sent](uint32_t, const uint8_t *data, size_t length) {
        ++sent.all;
        if (length < Protocol::ReportMinimumLength || data[0] != Protocol::ReportMarker || (data[16] != 0 && data[16] != 4))
            return;
        std::lock_guard<std::mutex> lock(sent.mutex);
        (data[16] == 0 ? sent.lastPos : sent.lastRaw).assign(data, data + length);
        ++(data[16] == 0 ? sent.pos : sent.raw);
    });
    setHostBackend(&dongle);

    auto *window = new MainWindow;
    MainWindowProbe probe{*window};
    window->show();

    // Counted by a receiver connected after the window's slots: a delivery counted has been shown.
    QObject counter;
    quint64 deliveredPos = 0, deliveredRaw = 0;
    auto backlog = [&] { return qint64(sent.pos + sent.raw - deliveredPos - deliveredRaw); };
    bool ok = true;
    auto fail = [&ok](const char *what) {
        std::printf("FAIL: %s\n", what);
        ok = false;
    };

    window->findChild<QPushButton *>("btn_search")->click();
    QObject::connect(probe.btThread(), &BtThread::posSender, &counter, [&](IMU_POS) { ++deliveredPos; });
    QObject::connect(probe.btThread(), &BtThread::rawSender, &counter, [&](IMU_RAW) { ++deliveredRaw; });
    auto *combo = window->findChild<QComboBox *>("comboBox");
    if (!QTest::qWaitFor([&] { return combo->findText("00025B0A1C01") >= 0; }, WaitDeadline)) {
        fail("the controller was never listed");
    } else {
        combo->setCurrentIndex(combo->findText("00025B0A1C01"));
        window->findChild<QPushButton *>("btn_connect")->click();
        if (!QTest::qWaitFor([&] { return deliveredPos > 0 && deliveredRaw > 0; }, WaitDeadline))
            fail("no report reached the window");
    }

    struct Sample { qint64 ms, backlog, rssKiB; };
    std::vector<Sample> samples;
    int checks = 0;
    if (ok) {
        BoxCatcher boxes;   // closes each check's verdict box
        probe.startCalibPressed();
        QTimer checker;
        QObject::connect(&checker, &QTimer::timeout, [&] {
            if (!QApplication::activeModalWidget() && (!probe.checkActive() || checks == 0)) {
                probe.checkPressed();
                ++checks;
            }
        });
        checker.start(100);
        QElapsedTimer clock;
        clock.start();
        auto takeSample = [&] {
            samples.push_back({clock.elapsed(), backlog(), residentBytes() / 1024});
            std::printf("t %6lld s  sent %8llu  backlog %5lld  rss %7lld KiB  checks %d\n",
                        (long long)(samples.back().ms / 1000), (unsigned long long)sent.all,
                        (long long)samples.back().backlog, (long long)samples.back().rssKiB,
                        checks);
            std::fflush(stdout);
        };
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, takeSample);
        sampler.start(sampleSeconds * 1000);
        takeSample();

        const int expectedMs = int(std::min<quint64>(reports * 1000 / quint64(rate) * 2 + 60000,
                                                     24 * 3600 * 1000));
        if (!QTest::qWaitFor([&] { return sent.all >= reports; }, expectedMs))
            fail("the stream stalled");
        checker.stop();
        dongle.setReportsPaused(true);
        if (!QTest::qWaitFor([&] { return backlog() == 0; }, WaitDeadline))
            fail("reports sent were not all delivered");
        sampler.stop();
        takeSample();

        Protocol::ReportState expected;
        {
            std::lock_guard<std::mutex> lock(sent.mutex);
            Protocol::decodeReport(sent.lastPos.data(), sent.lastPos.size(), expected);
            Protocol::decodeReport(sent.lastRaw.data(), sent.lastRaw.size(), expected);
        }
        const IMU_POS shown = probe.posData();
        if (shown.angle1 != expected.posSample.angle1 || shown.angle2 != expected.posSample.angle2
            || shown.angle3 != expected.posSample.angle3)
            fail("the window does not show the last orientation sent");
        if (window->findChild<QLabel *>("lab_magdata_x")->text() != QString::number(expected.rawSample.mag_x))
            fail("the window does not show the last magnetometer values sent");
    }

    // A busy machine may hold the path up for a while, so the median and the last backlog in
    // the stream count, not the peak: about a second of traffic at most. Memory stays flat
    // after the first minute (pictures, fonts, GL and the device list are in by then).
    std::vector<qint64> inStream;
    for (size_t i = 0; i + 1 < samples.size(); ++i)   // the last sample is after the drain
        inStream.push_back(samples[i].backlog);
    const qint64 endBacklog = inStream.empty() ? 0 : inStream.back();
    std::sort(inStream.begin(), inStream.end());
    const qint64 medianBacklog = inStream.empty() ? 0 : inStream[inStream.size() / 2];
    if (ok && std::max(medianBacklog, endBacklog) > 2 * rate)
        fail("the backlog kept growing");
    const auto afterMinute = std::find_if(samples.begin(), samples.end(),
                                          [](const Sample &s) { return s.ms >= 60000; });
    const qint64 baseRss = afterMinute == samples.end() ? -1 : afterMinute->rssKiB;
    if (ok && baseRss > 0 && samples.back().rssKiB - baseRss > 16 * 1024)
        fail("resident memory kept growing");
    std::printf("summary: sent %llu; backlog median %lld, end %lld; rss after 1 min %lld KiB; "
                "checks %d; %s\n", (unsigned long long)sent.all, (long long)medianBacklog,
                (long long)endBacklog, (long long)baseRss, checks,
                ok ? "PASS" : "FAIL");
    std::fflush(stdout);

    keepLoadedModules();
    window->close();
    delete window;
    setHostBackend(nullptr);
    return ok ? 0 : 1;
}
