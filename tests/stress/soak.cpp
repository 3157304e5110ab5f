// Soak of the report path: one controller on the real-time virtual dongle streams into the
// window for a long time (worker, queued signals, display slots, 3-D view), with the
// calibration ticker running and stationary checks following one another.
//
// Every few seconds it prints how many reports the dongle has sent, how many of the signals
// they give have reached the window, the difference still in flight (the backlog) and the
// resident memory. It fails when the backlog keeps growing, memory keeps growing, the
// window does not show the last report once the stream stops, or the stream never starts.
// Run it on an otherwise idle machine: other work slows the path and shows as backlog.
// Leaks are left to LeakSanitizer, which checks at exit when the program is built with it.
//
// usage: imu_soak [--reports N] [--rate R] [--sample S]
//   N: reports (notifications of every type) to send, 1000000 by default
//   R: orientation reports per second (the sensor reports come at a quarter of it each);
//      480 by default, which keeps the worker, paused 1 ms per notification, below its limit
//   S: seconds between two printed samples, 10 by default
#include "windowfixture.h"
#include "keepmodules.h"
#include "waituntil.h"

#include "btthread.h"
#include "reportdecoder.h"
#include "virtualdongle.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct Options {
    quint64 reports = 1000000;
    int rate = 480;
    int sampleSeconds = 10;
};

bool parseOptions(const QStringList &args, Options *options)
{
    for (int i = 1; i < args.size(); ++i) {
        bool ok = i + 1 < args.size();
        const QString value = ok ? args.at(i + 1) : QString();
        if (args.at(i) == "--reports")
            options->reports = value.toULongLong(&ok);
        else if (args.at(i) == "--rate")
            options->rate = value.toInt(&ok);
        else if (args.at(i) == "--sample")
            options->sampleSeconds = value.toInt(&ok);
        else
            ok = false;
        if (!ok || options->rate < 1 || options->sampleSeconds < 1)
            return false;
        ++i;
    }
    return true;
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct Sample {
    qint64 ms;
    quint64 sent;
    qint64 backlog;
    qint64 rssKiB;
};

// What the dongle sent, counted on its thread as each notification goes out.
struct SentCount {
    std::atomic<quint64> all{0};
    std::atomic<quint64> pos{0};    // orientation reports: one posSender each
    std::atomic<quint64> raw{0};    // magnetometer reports: one rawSender each
    std::mutex lastMutex;
    std::vector<uint8_t> lastPos;
    std::vector<uint8_t> lastRaw;

    void note(const uint8_t *data, size_t length)
    {
        ++all;
        if (length < ReportMinimumLength || data[0] != ReportMarker)
            return;
        if (data[16] == 0) {
            std::lock_guard<std::mutex> lock(lastMutex);
            lastPos.assign(data, data + length);
            ++pos;
        } else if (data[16] == 4) {
            std::lock_guard<std::mutex> lock(lastMutex);
            lastRaw.assign(data, data + length);
            ++raw;
        }
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Options options;
    if (!parseOptions(app.arguments(), &options)) {
        std::fprintf(stderr, "usage: imu_soak [--reports N] [--rate R] [--sample S]\n");
        return 2;
    }

    VirtualDongle dongle(VirtualDongle::Clock::RealTime);
    dongle.setReportRate(options.rate);
    SentCount sent;
    dongle.setNotificationObserver(
            [&sent](uint32_t, const uint8_t *data, size_t length) { sent.note(data, length); });
    setHostBackend(&dongle);

    auto *window = new MainWindow;
    MainWindowProbe probe{*window};
    window->show();

    // Deliveries to the window, counted by a receiver connected after the window's own slots:
    // when it has seen a signal, the window's slot for that signal has run.
    QObject counter;
    quint64 deliveredPos = 0;
    quint64 deliveredRaw = 0;
    auto backlog = [&] {
        return qint64(sent.pos.load() - deliveredPos) + qint64(sent.raw.load() - deliveredRaw);
    };

    bool ok = true;
    auto fail = [&ok](const char *what) {
        std::printf("FAIL: %s\n", what);
        std::fflush(stdout);
        ok = false;
    };

    window->findChild<QPushButton *>("btn_search")->click();
    BtThread *worker = probe.btThread();
    QObject::connect(worker, &BtThread::posSender, &counter, [&](IMU_POS) { ++deliveredPos; });
    QObject::connect(worker, &BtThread::rawSender, &counter, [&](IMU_RAW) { ++deliveredRaw; });

    auto *combo = window->findChild<QComboBox *>("comboBox");
    const char controller[] = "00025B0A1C01";
    if (!waitUntil([&] { return combo->findText(controller) >= 0; }, 10000)) {
        fail("the controller was never listed");
    } else {
        combo->setCurrentIndex(combo->findText(controller));
        window->findChild<QPushButton *>("btn_connect")->click();
        if (!waitUntil([&] { return deliveredPos > 0 && deliveredRaw > 0; }, 10000))
            fail("no report reached the window");
    }

    std::vector<Sample> samples;
    int checks = 0;
    if (ok) {
        // Checks end in a message box, which is closed at once; then the next check starts.
        BoxCatcher boxes;
        probe.startCalibPressed();
        QTimer checker;
        QObject::connect(&checker, &QTimer::timeout, [&] {
            // Not while a verdict box is up: the user could not press the button then either.
            if (QApplication::activeModalWidget())
                return;
            if (!probe.checkActive() || checks == 0) {
                probe.checkPressed();
                ++checks;
            }
        });
        checker.start(100);

        QElapsedTimer clock;
        clock.start();
        auto takeSample = [&] {
            samples.push_back({clock.elapsed(), sent.all.load(), backlog(), residentKiB()});
            const Sample &s = samples.back();
            std::printf("t %6lld s  sent %8llu  pos %8llu/%-8llu  raw %7llu/%-7llu  backlog %5lld"
                        "  rss %7lld KiB  checks %d\n",
                        s.ms / 1000, static_cast<unsigned long long>(s.sent),
                        static_cast<unsigned long long>(deliveredPos),
                        static_cast<unsigned long long>(sent.pos.load()),
                        static_cast<unsigned long long>(deliveredRaw),
                        static_cast<unsigned long long>(sent.raw.load()), s.backlog, s.rssKiB,
                        checks);
            std::fflush(stdout);
        };
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, takeSample);
        sampler.start(options.sampleSeconds * 1000);
        takeSample();

        const int expectedMs = int(std::min<quint64>(
                options.reports * 1000 / quint64(options.rate) * 2 + 60000, 24 * 3600 * 1000));
        if (!waitUntil([&] { return sent.all.load() >= options.reports; }, expectedMs))
            fail("the stream stalled");
        checker.stop();

        // Stop the stream and let everything in flight arrive.
        dongle.setReportsPaused(true);
        if (!waitUntil([&] { return backlog() == 0; }, 60000))
            fail("reports sent were not all delivered");
        sampler.stop();
        takeSample();

        // The window shows the last report sent, nothing older and nothing made up.
        std::vector<uint8_t> lastPos, lastRaw;
        {
            std::lock_guard<std::mutex> lock(sent.lastMutex);
            lastPos = sent.lastPos;
            lastRaw = sent.lastRaw;
        }
        ReportState expected;
        decodeReport(lastPos.data(), lastPos.size(), expected);
        decodeReport(lastRaw.data(), lastRaw.size(), expected);
        const IMU_POS shown = probe.posData();
        if (std::memcmp(&shown, &expected.posSample, sizeof shown) != 0)
            fail("the window does not show the last orientation sent");
        if (window->findChild<QLabel *>("lab_magdata_x")->text()
                    != QString::number(expected.rawSample.mag_x)
            || probe.rawData().mag_z != expected.rawSample.mag_z)
            fail("the window does not show the last magnetometer values sent");
    }

    // No growing backlog: typically, and still at the end of the stream, less than about a
    // second of traffic is in flight between the dongle and the window. (A busy machine can
    // hold the path up for a while; the backlog then peaks and drains again, and the peak is
    // only reported. A path slower than the stream grows it without end.) Memory: after the
    // first minute (pictures, fonts, GL and the device list are in by then) it stays flat.
    qint64 maxBacklog = 0;
    std::vector<qint64> inStream;
    for (size_t i = 0; i + 1 < samples.size(); ++i) {   // the last sample is after the drain
        maxBacklog = std::max(maxBacklog, samples[i].backlog);
        inStream.push_back(samples[i].backlog);
    }
    std::vector<qint64> sorted = inStream;
    std::sort(sorted.begin(), sorted.end());
    const qint64 medianBacklog = sorted.empty() ? 0 : sorted[sorted.size() / 2];
    const qint64 endBacklog = inStream.empty() ? 0 : inStream.back();
    const qint64 backlogLimit = 2 * options.rate;   // about a second of traffic
    if (ok && (medianBacklog > backlogLimit || endBacklog > backlogLimit))
        fail("the backlog kept growing");
    qint64 baseRss = -1;
    for (const Sample &s : samples) {
        if (s.ms >= 60000) {
            baseRss = s.rssKiB;
            break;
        }
    }
    const qint64 lastRss = samples.empty() ? -1 : samples.back().rssKiB;
    const qint64 rssLimitKiB = 16 * 1024;
    if (ok && baseRss > 0 && lastRss - baseRss > rssLimitKiB)
        fail("resident memory kept growing");

    std::printf("summary: sent %llu reports (%llu orientation, %llu magnetometer) in %lld s;"
                " delivered %llu + %llu; backlog median %lld, at the end %lld, peak %lld"
                " (limit %lld); rss after 1 min %lld"
                " KiB, at end %lld KiB; checks %d; %s\n",
                static_cast<unsigned long long>(sent.all.load()),
                static_cast<unsigned long long>(sent.pos.load()),
                static_cast<unsigned long long>(sent.raw.load()),
                samples.empty() ? 0 : samples.back().ms / 1000,
                static_cast<unsigned long long>(deliveredPos),
                static_cast<unsigned long long>(deliveredRaw), medianBacklog, endBacklog,
                maxBacklog, backlogLimit, baseRss,
                lastRss, checks, ok ? "PASS" : "FAIL");
    std::fflush(stdout);

    keepLoadedModules();
    window->close();
    delete window;
    setHostBackend(nullptr);
    return ok ? 0 : 1;
}
