// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// The live path end to end: reports from a source, through queued signals, into the window's
// slots and the 3-D view, measured on the running window.
//
//   bench_live [--source worker|direct] [--rate N] [--seconds S] [--load none|check|calib]
//   bench_live --capacity [--seconds S] [--max-rate N]
//                                      (direct source, rising rates, S seconds each)
//
// worker: the virtual dongle in real time streams N orientation reports a second (plus the
// three sensor reports at a quarter of that each) through the BLE worker, as the tool runs.
// direct: a thread of ours emits the worker's three data signals at N orientation reports a
// second (rawSender at a quarter of that), free of the worker's 1 ms pause.
//
// Measured over the run (after a 2 s warm-up): the GUI thread's and the worker's (or the
// emitter's) CPU time over wall time; latency from the send (the dongle posting the
// notification, or the emit) until DisplayPosData has run; the number of orientation reports
// emitted but not yet handled on the GUI thread, sampled every 10 ms, and its trend; buffer
// swaps of the 3-D view per second; resident memory at the start and at the end.
//
// Latency is taken by one extra queued receiver of posSender, connected after the window's
// slots, so each sample ends when DisplayPosData has returned. Motion to photon runs from the
// same send to the buffer swap of the first 3-D frame that shows the report's pose (or a newer
// report's), for every report that changes the pose; a frame's pose is read from the angles
// the view hands to glRotatef.
#include "boxcatcher.h"
#include "measuring.h"
#include "residentmemory.h"
#include "windowprobe.h"

#include "btthread.h"
#include "protocol.h"
#include "virtualcontroller.h"
#include "virtualdongle.h"

#include <GL/gl.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMap>
#include <QMessageBox>
#include <QPaintEvent>
#include <QTimer>

#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include <dlfcn.h>

// --- Frames drawn -------------------------------------------------------------------------
// The GL library's buffer swap, counted on its way through, and the pose each frame showed.
// Exported by this executable, so the windowing plugin's swap lands here first; the view's
// glRotatef calls bind here when it is linked.
namespace {

// A pose in whole tenths of a degree, the resolution of the controller's report.
struct PoseKey {
    int16_t a[3];
    bool operator==(const PoseKey &o) const
    {
        return a[0] == o.a[0] && a[1] == o.a[1] && a[2] == o.a[2];
    }
};

struct PoseKeyHash {
    size_t operator()(const PoseKey &k) const
    {
        return (size_t(uint16_t(k.a[0])) << 32) ^ (size_t(uint16_t(k.a[1])) << 16)
                ^ uint16_t(k.a[2]);
    }
};

PoseKey keyOf(float a1, float a2, float a3)
{
    return PoseKey{{int16_t(std::lround(a1 * 10.0f)), int16_t(std::lround(a2 * 10.0f)),
                    int16_t(std::lround(a3 * 10.0f))}};
}

struct TimedPose {
    int64_t ns;
    PoseKey pose;
};

std::atomic<int64_t> swapCount{0};
float frameAngles[3] = {0.0f, 0.0f, 0.0f};   // GUI thread only
bool anySwap = false;                        // GUI thread only
PoseKey lastSwapped{{0, 0, 0}};              // the pose on screen; GUI thread only
std::mutex framesMutex;
std::vector<TimedPose> frames;               // swaps while recording, under framesMutex;
size_t frameCount = 0;                       // the first frameCount used
std::atomic<bool> recordingFrames{false};

} // namespace

extern "C" void glXSwapBuffers(void *display, unsigned long drawable)
{
    using Swap = void (*)(void *, unsigned long);
    static const Swap real = reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glXSwapBuffers"));
    if (real)
        real(display, drawable);
    swapCount.fetch_add(1, std::memory_order_relaxed);
    anySwap = true;
    lastSwapped = keyOf(frameAngles[0], frameAngles[1], frameAngles[2]);
    if (recordingFrames.load(std::memory_order_relaxed)) {
        const TimedPose f{bench::monotonicNs(), lastSwapped};
        std::lock_guard<std::mutex> lock(framesMutex);
        if (frameCount < frames.size())
            frames[frameCount++] = f;
    }
}

// The view turns the model by angle1 about Y, by -angle2 about Z and by angle3 about X.
extern "C" void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z)
{
    using Rotate = void (*)(GLfloat, GLfloat, GLfloat, GLfloat);
    static const Rotate real = reinterpret_cast<Rotate>(dlsym(RTLD_NEXT, "glRotatef"));
    if (y != 0.0f)
        frameAngles[0] = angle;
    else if (z != 0.0f)
        frameAngles[1] = -angle;
    else if (x != 0.0f)
        frameAngles[2] = angle;
    if (real)
        real(angle, x, y, z);
}

namespace {

using bench::monotonicNs;

// Send times of orientation reports, from the sending thread to the GUI thread, in order.
class TimeRing
{
public:
    explicit TimeRing(size_t capacityPow2) : cells(capacityPow2), mask(capacityPow2 - 1)
    {
        std::memset(cells.data(), 0, cells.size() * sizeof(int64_t));   // resident from now on
    }
    void push(int64_t t)
    {
        const uint64_t h = head.load(std::memory_order_relaxed);
        if (h - tail.load(std::memory_order_acquire) >= cells.size()) {
            overflow.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        cells[h & mask] = t;
        head.store(h + 1, std::memory_order_release);
    }
    bool pop(int64_t *t)
    {
        const uint64_t tl = tail.load(std::memory_order_relaxed);
        if (tl == head.load(std::memory_order_acquire))
            return false;
        *t = cells[tl & mask];
        tail.store(tl + 1, std::memory_order_release);
        return true;
    }
    std::atomic<uint64_t> overflow{0};

private:
    std::vector<int64_t> cells;
    const uint64_t mask;
    std::atomic<uint64_t> head{0};
    std::atomic<uint64_t> tail{0};
};

struct Options {
    QString source = QStringLiteral("worker");
    int rate = 1000;
    double seconds = 60.0;
    QString load = QStringLiteral("none");
    bool capacity = false;
    int maxRate = 1000000;   // capacity search: highest rate tried
    double warmup = 2.0;
    bool paints = false;     // count paint events per widget over the stretch
};

// What one measured stretch gave.
struct Figures {
    double wallS = 0;
    double guiCpu = 0;           // share of one core
    double senderCpu = 0;        // worker, or emitter
    double dongleCpu = 0;        // the virtual dongle's posting thread (worker source)
    int64_t reportsSent = 0;     // orientation reports
    int64_t reportsHandled = 0;
    double p50Us = 0, p99Us = 0, maxUs = 0;
    int64_t backlogMax = 0;
    int64_t backlogEnd = 0;
    double backlogSlope = 0;     // reports per second, least squares over the stretch
    double backlogFirstMean = 0, backlogLastMean = 0;   // first and last tenth
    double fps = 0;
    int64_t rssStart = 0, rssEnd = 0;
    uint64_t ringOverflow = 0;
    double photonP50Ms = 0, photonP99Ms = 0, photonMaxMs = 0;   // motion to photon
    int64_t poseChanges = 0, unshown = 0;
};

// Everything the sending side and the GUI side share while a stretch runs.
struct Meter {
    TimeRing ring{1u << 17};
    std::atomic<int64_t> emittedPos{0};   // posSender emitted (worker or emitter thread)
    std::atomic<int64_t> handledPos{0};   // posSender handled, after DisplayPosData
    std::atomic<int64_t> sentPos{0};      // orientation reports sent by the dongle
    std::atomic<long> senderTid{0};
    std::atomic<long> dongleTid{0};
    std::atomic<bool> recording{false};
    std::vector<int64_t> latencies;       // ns, GUI thread only; the first latencyCount used
    size_t latencyCount = 0;
    std::mutex backlogMutex;              // the sampler writes under it, measure() reads
    std::vector<std::pair<int64_t, int64_t>> backlog;   // (ns, reports); backlogCount used
    size_t backlogCount = 0;
    std::mutex postsMutex;
    std::vector<TimedPose> posts;         // orientation reports sent while recording;
    size_t postCount = 0;                 // the first postCount used

    void posted(int64_t ns, const PoseKey &pose)
    {
        if (!recording.load(std::memory_order_relaxed))
            return;
        std::lock_guard<std::mutex> lock(postsMutex);
        if (postCount < posts.size())
            posts[postCount++] = TimedPose{ns, pose};
    }
};

// Motion to photon: for every report that changes the pose, from its send until the screen
// shows its pose or the pose of a later report. That is the buffer swap of such a frame; or a
// later report that brings back the pose already on screen (the view then has nothing to
// draw). Reports still waiting at the end are counted, not timed.
// `onScreen`: the pose on screen when the first report was sent, if any frame was.
void motionToPhoton(const std::vector<TimedPose> &posts, const std::vector<TimedPose> &swaps,
                    const PoseKey *onScreen, Figures &f)
{
    std::vector<int64_t> lags;
    std::deque<std::pair<size_t, int64_t>> waiting;   // (report, send time), in order
    std::unordered_map<PoseKey, size_t, PoseKeyHash> latest;   // newest report with a pose
    auto shownUpTo = [&](size_t report, int64_t now) {
        while (!waiting.empty() && waiting.front().first <= report) {
            lags.push_back(now - waiting.front().second);
            waiting.pop_front();
        }
    };
    PoseKey screen = onScreen ? *onScreen : PoseKey{{0, 0, 0}};
    bool anyFrame = onScreen != nullptr;
    size_t i = 0, j = 0;
    while (i < posts.size() || j < swaps.size()) {
        if (j == swaps.size() || (i < posts.size() && posts[i].ns <= swaps[j].ns)) {
            const TimedPose &post = posts[i];
            if (i == 0 || !(post.pose == posts[i - 1].pose)) {
                waiting.emplace_back(i, post.ns);
                ++f.poseChanges;
            }
            latest[post.pose] = i;
            if (anyFrame && screen == post.pose)
                shownUpTo(i, post.ns);
            ++i;
        } else {
            screen = swaps[j].pose;
            anyFrame = true;
            const auto found = latest.find(screen);
            if (found != latest.end())
                shownUpTo(found->second, swaps[j].ns);
            ++j;
        }
    }
    f.unshown = int64_t(waiting.size());
    std::sort(lags.begin(), lags.end());
    f.photonP50Ms = bench::percentile(lags, 0.50) / 1e6;
    f.photonP99Ms = bench::percentile(lags, 0.99) / 1e6;
    f.photonMaxMs = lags.empty() ? 0.0 : double(lags.back()) / 1e6;
}

// Runs on the GUI thread after DisplayPosData for every orientation report.
class LatencyProbe : public QObject
{
    Q_OBJECT
public:
    explicit LatencyProbe(Meter &meter) : meter(meter) {}
public slots:
    void posHandled(IMU_POS)
    {
        int64_t sent = 0;
        const bool have = meter.ring.pop(&sent);
        const int64_t now = monotonicNs();
        meter.handledPos.fetch_add(1, std::memory_order_relaxed);
        if (have && meter.recording.load(std::memory_order_relaxed)
                && meter.latencyCount < meter.latencies.size())
            meter.latencies[meter.latencyCount++] = now - sent;
    }
private:
    Meter &meter;
};

// The stream the direct emitter sends: one controller's reports, 1 ms of model time apart,
// taken from the virtual controller so that lights, trigger and joystick move as they do in
// the tool.
struct Sample {
    IMU_POS pos;
    IMU_RAW raw;
    short btn, trig, rockX, rockY;
};

std::vector<Sample> modelStream()
{
    VirtualController controller(7);
    std::vector<Sample> out;
    out.reserve(size_t(VirtualController::CycleMs));
    for (int64_t ms = 0; ms < VirtualController::CycleMs; ++ms) {
        const VirtualController::Truth t = controller.truthAt(ms);
        Sample s;
        s.pos.angle1 = float(t.angleTenths[0] % 3600) * 0.1f;
        s.pos.angle2 = float(t.angleTenths[1] % 3600) * 0.1f;
        s.pos.angle3 = float(t.angleTenths[2] % 3600) * 0.1f;
        s.raw.first_x = t.accel[0]; s.raw.first_y = t.accel[1]; s.raw.first_z = t.accel[2];
        s.raw.second_x = t.gyro[0]; s.raw.second_y = t.gyro[1]; s.raw.second_z = t.gyro[2];
        s.raw.mag_x = t.mag[0]; s.raw.mag_y = t.mag[1]; s.raw.mag_z = t.mag[2];
        s.btn = t.btn; s.trig = t.trig; s.rockX = t.rockX; s.rockY = t.rockY;
        out.push_back(s);
    }
    return out;
}

// Emits the worker's data signals from its own thread at a given rate, in 1 ms batches.
class DirectEmitter
{
public:
    DirectEmitter(BtThread *target, Meter &meter, const std::vector<Sample> &stream)
        : target(target), meter(meter), stream(stream) {}
    ~DirectEmitter() { stop(); }

    void start(int perSecond)
    {
        stop();
        quit = false;
        thread = std::thread([this, perSecond] { run(perSecond); });
    }
    void stop()
    {
        quit = true;
        if (thread.joinable())
            thread.join();
    }

private:
    void run(int perSecond)
    {
        meter.senderTid = bench::currentTid();
        const int64_t start = monotonicNs();
        int64_t sent = 0;
        timespec next;
        clock_gettime(CLOCK_MONOTONIC, &next);
        while (!quit.load(std::memory_order_relaxed)) {
            const int64_t due = (monotonicNs() - start) * perSecond / 1000000000;
            while (sent < due) {
                const Sample &s = stream[size_t(index++ % stream.size())];
                const int64_t now = monotonicNs();
                meter.ring.push(now);
                meter.posted(now, keyOf(s.pos.angle1, s.pos.angle2, s.pos.angle3));
                emit target->posSender(s.pos);
                meter.emittedPos.fetch_add(1, std::memory_order_relaxed);
                emit target->btnSender(s.btn, s.trig, s.rockX, s.rockY);
                if (index % 4 == 0)
                    emit target->rawSender(s.raw);
                ++sent;
            }
            next.tv_nsec += 1000000;
            if (next.tv_nsec >= 1000000000) {
                next.tv_nsec -= 1000000000;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
    }

    BtThread *target;
    Meter &meter;
    const std::vector<Sample> &stream;
    std::atomic<bool> quit{false};
    std::thread thread;
    int64_t index = 0;
};

// Samples the GUI backlog every 10 ms from a thread of its own, so a busy GUI thread cannot
// hide its own backlog.
class BacklogSampler
{
public:
    explicit BacklogSampler(Meter &m) : meter(m)
    {
        thread = std::thread([this] {
            Meter &meter = this->meter;
            while (!quit.load()) {
                {
                    std::lock_guard<std::mutex> lock(meter.backlogMutex);
                    if (meter.recording.load() && meter.backlogCount < meter.backlog.size()) {
                        const int64_t handled = meter.handledPos.load();
                        const int64_t emitted = meter.emittedPos.load();
                        meter.backlog[meter.backlogCount++] = {
                                monotonicNs(), std::max<int64_t>(0, emitted - handled)};
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~BacklogSampler()
    {
        quit = true;
        thread.join();
    }

private:
    Meter &meter;
    std::atomic<bool> quit{false};
    std::thread thread;
};

// Keeps a stationary check collecting: it is wound back before its last sample, so it runs
// for the whole stretch without ending in a verdict box.
void keepCheckRunning(MainWindowProbe &probe)
{
    if (QMessageBox *box = shownMessageBox())
        answerMessageBox(box);
    if (probe.checkCount() > 900)
        probe.checkCount() = 0;
    if (!probe.checkActive())
        probe.checkPressed();
}

// Which widgets repaint, and how much of them: paint events and painted pixels per second
// for every widget that painted during the stretch.
class PaintCensus : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (counting && event->type() == QEvent::Paint && watched->isWidgetType()) {
            const QRect r = static_cast<QPaintEvent *>(event)->region().boundingRect();
            Count &c = counts[watched->objectName().isEmpty()
                                      ? QString::fromLatin1(watched->metaObject()->className())
                                      : watched->objectName()];
            ++c.events;
            c.pixels += int64_t(r.width()) * r.height();
        }
        return false;
    }
    void print(double wallS) const
    {
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            std::printf("paints widget=%s per_s=%.1f kpixels_per_s=%.1f\n", qPrintable(it.key()),
                        it->events / wallS, double(it->pixels) / 1000.0 / wallS);
        std::fflush(stdout);
    }
    bool counting = false;

private:
    struct Count {
        int64_t events = 0;
        int64_t pixels = 0;
    };
    QMap<QString, Count> counts;
};

Figures measure(Meter &meter, const Options &options, double seconds)
{
    Figures f;
    // Ready before the stretch starts, so that the bench's own buffers do not count as
    // growth of the tool's memory.
    meter.latencies.assign(size_t(std::max(1000.0, options.rate * seconds * 1.2)), 0);
    meter.latencyCount = 0;
    {
        std::lock_guard<std::mutex> lock(meter.backlogMutex);
        meter.backlog.assign(size_t(seconds * 100 + 1000), {0, 0});
        meter.backlogCount = 0;
    }
    {
        std::lock_guard<std::mutex> lock(meter.postsMutex);
        meter.posts.assign(meter.latencies.size(), TimedPose{0, PoseKey{{0, 0, 0}}});
        meter.postCount = 0;
    }
    {
        std::lock_guard<std::mutex> lock(framesMutex);
        frames.assign(size_t(seconds * 200 + 1000), TimedPose{0, PoseKey{{0, 0, 0}}});
        frameCount = 0;
    }

    const uint64_t overflowBefore = meter.ring.overflow.load();
    const int64_t sentBefore = meter.sentPos.load();
    const int64_t emittedBefore = meter.emittedPos.load();
    const int64_t handledBefore = meter.handledPos.load();
    const int64_t swapsBefore = swapCount.load();
    const long senderTid = meter.senderTid.load();
    const long dongleTid = meter.dongleTid.load();
    const int64_t senderBefore = bench::taskCpuNs(senderTid);
    const int64_t dongleBefore = bench::taskCpuNs(dongleTid);
    const int64_t guiBefore = bench::threadCpuNs();
    f.rssStart = residentBytes();
    const int64_t wallBefore = monotonicNs();
    const bool screenKnown = anySwap;
    const PoseKey screenAtStart = lastSwapped;
    recordingFrames = true;
    meter.recording = true;

    bench::runFor(int(seconds * 1000));

    {
        std::lock_guard<std::mutex> lock(meter.backlogMutex);
        meter.recording = false;
    }
    const int64_t wall = monotonicNs() - wallBefore;
    f.wallS = double(wall) / 1e9;
    f.guiCpu = double(bench::threadCpuNs() - guiBefore) / double(wall);
    f.senderCpu = double(bench::taskCpuNs(senderTid) - senderBefore) / double(wall);
    f.dongleCpu = double(bench::taskCpuNs(dongleTid) - dongleBefore) / double(wall);
    f.fps = double(swapCount.load() - swapsBefore) / f.wallS;
    f.rssEnd = residentBytes();
    f.reportsSent = options.source == QLatin1String("worker")
            ? meter.sentPos.load() - sentBefore : meter.emittedPos.load() - emittedBefore;
    f.reportsHandled = meter.handledPos.load() - handledBefore;
    f.ringOverflow = meter.ring.overflow.load() - overflowBefore;

    // The frames that show the stretch's last reports come a little after it.
    bench::runFor(100);
    recordingFrames = false;
    {
        std::lock_guard<std::mutex> postsLock(meter.postsMutex);
        std::lock_guard<std::mutex> framesLock(framesMutex);
        motionToPhoton(std::vector<TimedPose>(meter.posts.begin(),
                                              meter.posts.begin() + ptrdiff_t(meter.postCount)),
                       std::vector<TimedPose>(frames.begin(),
                                              frames.begin() + ptrdiff_t(frameCount)),
                       screenKnown ? &screenAtStart : nullptr, f);
    }

    std::vector<int64_t> latencies(meter.latencies.begin(),
                                   meter.latencies.begin() + ptrdiff_t(meter.latencyCount));
    std::sort(latencies.begin(), latencies.end());
    f.p50Us = bench::percentile(latencies, 0.50) / 1000.0;
    f.p99Us = bench::percentile(latencies, 0.99) / 1000.0;
    f.maxUs = latencies.empty() ? 0.0 : double(latencies.back()) / 1000.0;

    const std::vector<std::pair<int64_t, int64_t>> b(
            meter.backlog.begin(), meter.backlog.begin() + ptrdiff_t(meter.backlogCount));
    if (!b.empty()) {
        double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (const auto &s : b) {
            const double x = double(s.first - b.front().first) / 1e9, y = double(s.second);
            sx += x; sy += y; sxx += x * x; sxy += x * y;
            f.backlogMax = std::max(f.backlogMax, s.second);
        }
        const double n = double(b.size());
        const double den = n * sxx - sx * sx;
        f.backlogSlope = den > 0 ? (n * sxy - sx * sy) / den : 0.0;
        const size_t tenth = std::max<size_t>(1, b.size() / 10);
        double first = 0, last = 0;
        for (size_t i = 0; i < tenth; ++i) {
            first += double(b[i].second);
            last += double(b[b.size() - 1 - i].second);
        }
        f.backlogFirstMean = first / double(tenth);
        f.backlogLastMean = last / double(tenth);
        f.backlogEnd = b.back().second;
    }
    return f;
}

void print(const Options &o, int rate, const Figures &f)
{
    std::printf("source=%s rate=%d load=%s wall_s=%.1f gui_cpu_pct=%.2f sender_cpu_pct=%.2f "
                "dongle_cpu_pct=%.2f sent=%lld handled=%lld lat_p50_us=%.0f lat_p99_us=%.0f "
                "lat_max_us=%.0f backlog_max=%lld backlog_end=%lld backlog_slope_per_s=%.2f "
                "backlog_first=%.1f backlog_last=%.1f fps=%.1f rss_start_kib=%lld "
                "rss_end_kib=%lld rss_growth_kib=%lld ring_overflow=%llu photon_p50_ms=%.2f "
                "photon_p99_ms=%.2f photon_max_ms=%.2f pose_changes=%lld unshown=%lld\n",
                qPrintable(o.source), rate, qPrintable(o.load), f.wallS, f.guiCpu * 100,
                f.senderCpu * 100, f.dongleCpu * 100, (long long)f.reportsSent,
                (long long)f.reportsHandled, f.p50Us, f.p99Us, f.maxUs,
                (long long)f.backlogMax, (long long)f.backlogEnd, f.backlogSlope,
                f.backlogFirstMean, f.backlogLastMean, f.fps, (long long)(f.rssStart / 1024),
                (long long)(f.rssEnd / 1024), (long long)((f.rssEnd - f.rssStart) / 1024),
                (unsigned long long)f.ringOverflow, f.photonP50Ms, f.photonP99Ms, f.photonMaxMs,
                (long long)f.poseChanges, (long long)f.unshown);
    std::fflush(stdout);
}

Options parse(const QStringList &args)
{
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        const QString value = i + 1 < args.size() ? args.at(i + 1) : QString();
        if (a == QLatin1String("--source")) { o.source = value; ++i; }
        else if (a == QLatin1String("--rate")) { o.rate = value.toInt(); ++i; }
        else if (a == QLatin1String("--seconds")) { o.seconds = value.toDouble(); ++i; }
        else if (a == QLatin1String("--load")) { o.load = value; ++i; }
        else if (a == QLatin1String("--warmup")) { o.warmup = value.toDouble(); ++i; }
        else if (a == QLatin1String("--max-rate")) { o.maxRate = value.toInt(); ++i; }
        else if (a == QLatin1String("--paints")) { o.paints = true; }
        else if (a == QLatin1String("--capacity")) { o.capacity = true; o.source = QStringLiteral("direct"); }
        else { std::fprintf(stderr, "unknown argument %s\n", qPrintable(a)); std::exit(2); }
    }
    return o;
}

// A rate is kept up with when the backlog neither trends upward nor ends above a tenth of a
// second's worth of reports.
bool keptUp(const Figures &f, int rate)
{
    return f.backlogSlope < 0.01 * rate && f.backlogEnd <= std::max(10, rate / 10)
            && f.backlogLastMean <= f.backlogFirstMean + std::max(10, rate / 100);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const Options options = parse(app.arguments());
    // The tool reads its pictures from ./image, as it does when run from the repository.
    QDir::setCurrent(QStringLiteral(IMU_SOURCE_DIR));

    Meter meter;
    std::unique_ptr<VirtualDongle> dongle;
    const bool worker = options.source == QLatin1String("worker");
    if (worker) {
        dongle.reset(new VirtualDongle(VirtualDongle::Clock::RealTime));
        dongle->setReportRate(options.rate);
        dongle->setNotificationObserver([&meter](uint32_t, const uint8_t *data, size_t length) {
            if (meter.dongleTid.load(std::memory_order_relaxed) == 0)
                meter.dongleTid = bench::currentTid();
            if (length >= Protocol::ReportMinimumLength && data[0] == Protocol::ReportMarker
                && data[16] == Protocol::OrientationReport) {
                const int64_t now = monotonicNs();
                meter.ring.push(now);
                Protocol::ReportState decoded;
                Protocol::decodeReport(data, length, decoded);
                meter.posted(now, keyOf(decoded.posSample.angle1, decoded.posSample.angle2,
                                        decoded.posSample.angle3));
                meter.sentPos.fetch_add(1, std::memory_order_relaxed);
            }
        });
        setHostBackend(dongle.get());
    }

    MainWindow *window = new MainWindow;
    window->setWindowOpacity(0.95);
    window->setWindowFlags(Qt::FramelessWindowHint);
    window->show();
    MainWindowProbe probe{*window};
    bench::runFor(300);   // let the window map and draw

    // A direct source has no host layer: the worker's start fails, and the box that says so
    // is closed at once.
    std::unique_ptr<BoxCatcher> dongleBox(worker ? nullptr : new BoxCatcher);
    probe.searchPressed();
    BtThread *bt = probe.btThread();
    LatencyProbe latencyProbe(meter);
    // After the window's own connections, so each sample ends once DisplayPosData has run.
    QObject::connect(bt, SIGNAL(posSender(IMU_POS)), &latencyProbe, SLOT(posHandled(IMU_POS)));
    if (worker) {
        QObject::connect(bt, &BtThread::posSender, bt, [&meter](IMU_POS) {
            meter.emittedPos.fetch_add(1, std::memory_order_relaxed);
            if (meter.senderTid.load(std::memory_order_relaxed) == 0)
                meter.senderTid = bench::currentTid();
        }, Qt::DirectConnection);

        char address[Protocol::AddressTextLength + 1];
        Protocol::formatAddressText(VirtualDongle::controllerAddress(0), address);
        if (!bench::waitUntil([&] { return probe.deviceAddresses().contains(address); }, 10000)) {
            std::fprintf(stderr, "controller not found\n");
            return 1;
        }
        auto *combo = window->findChild<QComboBox *>(QStringLiteral("comboBox"));
        combo->setCurrentIndex(combo->findText(QLatin1String(address)));
        probe.connectPressed();
        if (!bench::waitUntil([&] { return meter.handledPos.load() > 0; }, 10000)) {
            std::fprintf(stderr, "no reports\n");
            return 1;
        }
    }

    if (options.load == QLatin1String("calib"))
        probe.startCalibPressed();
    // Kept running from the start: a check gathers its thousand samples in about a second,
    // well within the warm-up, and its verdict box would hold the bench in the box's loop.
    QTimer checkKeeper;
    if (options.load == QLatin1String("check")) {
        probe.checkPressed();
        QObject::connect(&checkKeeper, &QTimer::timeout, [&probe] { keepCheckRunning(probe); });
        checkKeeper.start(20);
    }

    BacklogSampler sampler(meter);
    if (!options.capacity) {
        std::unique_ptr<DirectEmitter> emitter;
        std::vector<Sample> stream;
        if (!worker) {
            stream = modelStream();
            emitter.reset(new DirectEmitter(bt, meter, stream));
            emitter->start(options.rate);
        }
        bench::runFor(int(options.warmup * 1000));
        PaintCensus census;
        if (options.paints) {
            app.installEventFilter(&census);
            census.counting = true;
        }
        const Figures f = measure(meter, options, options.seconds);
        census.counting = false;
        print(options, options.rate, f);
        if (options.paints)
            census.print(f.wallS);
        if (emitter)
            emitter->stop();
    } else {
        // Rising rates until the GUI thread falls behind; between rates the backlog drains.
        const std::vector<Sample> stream = modelStream();
        DirectEmitter emitter(bt, meter, stream);
        int best = 0;
        for (int rate : {1000, 2000, 5000, 10000, 15000, 20000, 25000, 30000, 40000, 50000,
                         60000, 80000}) {
            if (rate > options.maxRate)
                break;
            Options step = options;
            step.rate = rate;
            emitter.start(rate);
            bench::runFor(int(options.warmup * 1000));
            const Figures f = measure(meter, step, options.seconds);
            emitter.stop();
            print(step, rate, f);
            bench::waitUntil([&] { return meter.handledPos.load() >= meter.emittedPos.load(); },
                             120000);
            if (!keptUp(f, rate))
                break;
            best = rate;
        }
        std::printf("capacity_reports_per_s=%d\n", best);
    }

    probe.stopWorkers();
    delete window;
    setHostBackend(nullptr);
    return 0;
}

#include "bench_live.moc"
