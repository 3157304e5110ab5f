// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// What a misbehaving Bluetooth stack does to the real-adapter build, measured against the
// stand-in BlueZ: the worker on the Qt layer in this process as the window drives it, the
// layer alone, and the tool's own executable. Prints one line of figures per case.
//
//   bench_bluez [--seconds N] [case...]
//
// Cases (all by default): writes, second-save, flood, layer, close-flood, restart, hang,
// exit-held, crowd, tool. Floods and crowds last N seconds (60). Needs DBUS_SYSTEM_BUS_ADDRESS (the
// private bus it starts) and BLUETOOTH_FORCE_DBUS_LE_VERSION; the tool case needs an X
// display and xdotool. tools/bluez-faults.sh sets all of that up.
#include "btthread.h"
#include "hostevents.h"
#include "hostqueue.h"
#include "qtblehost.h"
#include "standin.h"
#include "stdoutcapture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

constexpr uint64_t Controller = 0x00025B0A1C01ull;
constexpr char ControllerText[] = "00025B0A1C01";
const MAG_PARAM Param{120, 35, 200, -75, -200, -3};
int seconds = 60;
// The figures; standard output itself takes the worker's console texts, and goes nowhere.
FILE *figures = stdout;

template <typename... Args>
void say(const char *format, Args... args)
{
    if constexpr (sizeof...(Args) == 0)
        std::fputs(format, figures);
    else
        std::fprintf(figures, format, args...);
    std::fputc('\n', figures);
    std::fflush(figures);
}

// Seconds on the monotonic clock, as the stand-in's time.monotonic() counts them.
double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Runs this thread's events until `done` holds or `ms` have passed.
template <typename F>
void waitUntil(F done, int ms)
{
    static_cast<void>(QTest::qWaitFor(done, ms));
}

void pause(int ms)
{
    QElapsedTimer timer;
    timer.start();
    waitUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

// Resident and peak memory of a process, in MiB; resetPeak() starts a new peak.
struct Memory {
    double rss = 0, peak = 0;
};
Memory memoryOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    Memory m;
    if (!status.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == "VmRSS:")
            m.rss = parts[1].toDouble() / 1024;
        if (parts.size() >= 2 && parts[0] == "VmHWM:")
            m.peak = parts[1].toDouble() / 1024;
    }
    return m;
}
void resetPeak(qint64 pid)
{
    QFile refs(QStringLiteral("/proc/%1/clear_refs").arg(pid));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

// The worker on the Qt layer, with the window's side of its signals on this thread.
class Rig : public QObject
{
public:
    explicit Rig(const QtBleHost::Options &options = QtBleHost::Options())
        : host(std::make_unique<QtBleHost>(options))
    {
        setHostBackend(host.get());
        worker = std::make_unique<BtThread>();
        connect(worker.get(), &BtThread::BtSender, this, [this](int code, char *text, char *address) {
            // A device's name is not kept: crowds of long names would fill this log, and the
            // memory figures are of this process.
            said.push_back({clock.elapsed(), code, code == 3 ? QByteArray() : QByteArray(text)});
            if (code == 3 && address && QByteArray(address) == ControllerText)
                ++announced;
        });
        connect(worker.get(), &BtThread::posSender, this, [this](IMU_POS p) {
            ++positions;
            // The stand-in's floods turn the first angle only.
            const bool flooded = p.angle2 == 0 && p.angle3 == 0;
            (flooded ? lastFlooded : lastCurrent) = now();
        });
        clock.start();
        worker->start();
    }
    ~Rig() override { close(); }

    // What the window's close does: the worker stops, then the layer goes. Milliseconds in
    // all; `layerMs`, if given, gets the layer's part.
    qint64 close(qint64 *layerMs = nullptr)
    {
        QElapsedTimer timer;
        timer.start();
        if (worker)
            worker->stop();
        worker.reset();
        const qint64 workerMs = timer.elapsed();
        setHostBackend(nullptr);
        host.reset();
        if (layerMs)
            *layerMs = timer.elapsed() - workerMs;
        return timer.elapsed();
    }
    bool connected()
    {
        if (!QTest::qWaitFor([this] { return announced > 0; }, 10000))
            return false;
        worker->disconnectDevice();
        worker->connectDevice(ControllerText);
        const int before = positions;
        return QTest::qWaitFor([&] { return positions > before + 100; }, 10000);
    }
    // What the worker told the window from `since` on, as "code text" items.
    QByteArray toldSince(qint64 since) const
    {
        QByteArray out;
        for (const Said &s : said) {
            if (s.atMs >= since && s.code != 3)
                out += QByteArray::number(s.code) + " \"" + s.text.trimmed() + "\" after "
                        + QByteArray::number(s.atMs - since) + " ms; ";
        }
        return out.isEmpty() ? QByteArray("nothing") : out;
    }

    struct Said {
        qint64 atMs;
        int code;
        QByteArray text;
    };
    std::unique_ptr<QtBleHost> host;
    std::unique_ptr<BtThread> worker;
    QElapsedTimer clock;
    std::vector<Said> said;
    int announced = 0;
    int positions = 0;
    double lastFlooded = 0, lastCurrent = 0;
};

template <typename F>
qint64 timed(F f)
{
    QElapsedTimer timer;
    timer.start();
    f();
    return timer.elapsed();
}

void writes(BluezStandIn &standIn)
{
    for (const char *mode : {"Failed", "NotPermitted", "InProgress", "drop", "hang"}) {
        standIn.reset();
        Rig rig;
        if (!rig.connected()) {
            say("write %s: no connection", mode);
            continue;
        }
        standIn.setWriteMode(QString::fromLatin1(mode));
        const qint64 at = rig.clock.elapsed();
        bool saved = false;
        StdoutCapture console;
        const qint64 blocked = timed([&] { saved = rig.worker->saveParam(Param); });
        const QByteArray said = console.text();
        pause(7000);
        say("write %s: saveParam %s (console \"%s\"), blocked %lld ms; the window was told: %s", mode,
            saved ? "true" : "false", said.constData(), blocked, rig.toldSince(at).constData());
    }
}

// A save that gets no answer, then a second save; bluetoothd finally gives up on the first.
void secondSave(BluezStandIn &standIn)
{
    standIn.reset();
    Rig rig;
    if (!rig.connected())
        return say("second save: no connection");
    standIn.setWriteMode(QStringLiteral("hang"));
    const qint64 at = rig.clock.elapsed();
    QByteArray first, second;
    const qint64 blocked1 = timed([&] {
        StdoutCapture console;
        rig.worker->saveParam(Param);
        first = console.text();
    });
    pause(6000);
    const qint64 blocked2 = timed([&] {
        StdoutCapture console;
        rig.worker->saveParam(MAG_PARAM{1, 2, 3, -1, -2, -3});
        second = console.text();
    });
    standIn.setWriteMode(QStringLiteral("Failed"));
    pause(5000);
    say("second save: the first (console \"%s\") blocked %lld ms, the second 6 s later (console "
        "\"%s\") %lld ms; frames at the controller: %d; the window was told: %s", first.constData(),
        blocked1, second.constData(), blocked2, int(standIn.writes().size()),
        rig.toldSince(at).constData());
}

// Reports sent by the stand-in's flood, its rate, and when it ended.
struct Flooded {
    unsigned sent = 0;
    double rate = 0, end = 0;
};
Flooded floodFor(BluezStandIn &standIn, int perSecond, int ms, const std::function<void()> &everySecond = {})
{
    standIn.flood(unsigned(perSecond), unsigned(ms));
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms + 200) {
        pause(1000);
        if (everySecond)
            everySecond();
    }
    const QVariantList stats = standIn.floodStats();
    Flooded f;
    f.sent = stats.value(0).toUInt();
    f.end = stats.value(2).toDouble();
    f.rate = f.sent / std::max(1e-3, f.end - stats.value(1).toDouble());
    return f;
}

void flood(BluezStandIn &standIn, int perSecond)
{
    standIn.reset();
    Rig rig;
    if (!rig.connected())
        return say("flood: no connection");
    const qint64 pid = QCoreApplication::applicationPid();
    resetPeak(pid);
    const Memory before = memoryOf(pid);
    const int decoded0 = rig.positions;
    const Flooded f = floodFor(standIn, perSecond, seconds * 1000);
    const Memory atEnd = memoryOf(pid);
    waitUntil([&] { return rig.lastCurrent > f.end; }, 120000);
    say("flood %d/s for %d s (sent %u, %.0f/s): worker decoded %d orientation reports; memory "
        "+%.1f MiB at the flood's end (peak +%.1f MiB); last flood report shown %.2f s and the first "
        "current one %.2f s after the flood's end", perSecond, seconds, f.sent, f.rate,
        rig.positions - decoded0, atEnd.rss - before.rss, atEnd.peak - before.rss,
        rig.lastFlooded - f.end, rig.lastCurrent - f.end);
}

// The layer alone under a flood, with a consumer that takes every event at once: what the
// layer and Qt Bluetooth themselves keep.
class Counter
{
public:
    Counter() : thread([this] { run(); }) {}
    ~Counter()
    {
        HostPostQuitMessage(queue);
        thread.join();
    }
    HostEventTarget target() { return HostEventTarget{queue, 7}; }
    std::atomic<int> notifications{0}, found{0};
    std::atomic<uint32_t> connId{0};
    std::atomic<uint16_t> cccd{0}, reportHandle{0};

private:
    void run()
    {
        HostAttachThreadQueue(queue);
        HostMessage m;
        while (HostGetMessage(&m)) {
            if (m.code == HostEventNotification)
                ++notifications;
            else if (m.code == HostEventDeviceFound)
                ++found;
            else if (m.code == HostEventConnectResult)
                connId = reinterpret_cast<const HostConnectResultEvent *>(m.param)->connId;
            else if (m.code == HostEventDatabase) {
                const auto *db = reinterpret_cast<const HostDatabaseEvent *>(m.param);
                for (size_t i = 0; db->services && i < db->serviceCount; ++i) {
                    const HostService &s = db->services[i];
                    if (s.uuid == 0xFAEA && s.characteristicCount && s.characteristics[0].descriptorCount) {
                        reportHandle = s.characteristics[0].valueHandle;
                        cccd = s.characteristics[0].descriptors[0].handle;
                    }
                }
            }
        }
        HostAttachThreadQueue(nullptr);
    }
    const std::shared_ptr<HostThreadQueue> queue = std::make_shared<HostThreadQueue>();
    std::thread thread;
};

// Scans until the controller is seen, then connects to it with reports on.
bool connectLayer(QtBleHost &host, Counter &counter)
{
    host.init(counter.target());
    host.start();
    return QTest::qWaitFor([&] { return host.startLeScan(); }, 10000)
            && QTest::qWaitFor([&] { return counter.found > 0; }, 10000)
            && host.stopLeSearch() && host.connect(makeBleAddress(Controller))
            && QTest::qWaitFor([&] { return counter.connId != 0; }, 10000)
            && host.discoverDatabase(counter.connId)
            && QTest::qWaitFor([&] { return counter.cccd != 0; }, 10000)
            && host.writeConfiguration(counter.connId, counter.cccd, counter.reportHandle, 1);
}

void layer(BluezStandIn &standIn, int perSecond, bool crowd)
{
    standIn.reset();
    Counter counter;
    QtBleHost host;
    if (crowd) {
        host.init(counter.target());
        host.start();
        waitUntil([&] { return host.startLeScan(); }, 10000);
        standIn.setCrowd(50, 10000);
    } else if (!connectLayer(host, counter)) {
        return say("layer: no connection");
    }
    pause(2000);
    const qint64 pid = QCoreApplication::applicationPid();
    resetPeak(pid);
    const Memory before = memoryOf(pid);
    const int count0 = crowd ? counter.found.load() : counter.notifications.load();
    if (crowd) {
        pause(seconds * 1000);
        const Memory after = memoryOf(pid);
        say("layer alone, 50 devices renamed to 10,000 characters at every advertisement for %d s: "
            "%d sightings posted; memory +%.1f MiB (peak +%.1f MiB)", seconds,
            counter.found - count0, after.rss - before.rss, after.peak - before.rss);
        return;
    }
    const Flooded f = floodFor(standIn, perSecond, seconds * 1000);
    const Memory after = memoryOf(pid);
    say("layer alone, flood %d/s for %d s (sent %u, %.0f/s): %d notifications posted; memory "
        "+%.1f MiB (peak +%.1f MiB)", perSecond, seconds, f.sent, f.rate,
        counter.notifications - count0, after.rss - before.rss, after.peak - before.rss);
}

void closeDuringFlood(BluezStandIn &standIn)
{
    standIn.reset();
    Rig rig;
    if (!rig.connected())
        return say("close during a flood: no connection");
    standIn.flood(25000, 20000);
    pause(10000);
    qint64 layerMs = 0;
    const qint64 all = rig.close(&layerMs);
    say("close during a flood of 25,000/s after 10 s: worker and layer gone in %lld ms, the layer's "
        "part %lld ms", all, layerMs);
    standIn.reset();
}

// The process ending while the layer's thread is held in a call to a bluetoothd that does
// not answer: a child of this program gets there and ends as the tool does.
int heldChild()
{
    BluezStandIn standIn;   // the parent's, on the same bus
    Counter counter;
    auto host = std::make_unique<QtBleHost>();
    if (!connectLayer(*host, counter))
        return 1;
    standIn.freeze(20000);
    // Qt asks bluetoothd about the characteristic before it switches notifications.
    host->writeConfiguration(counter.connId, counter.cccd, counter.reportHandle, 0);
    say("closing");
    host.reset();
    return 0;
}

void exitHeld(BluezStandIn &standIn)
{
    standIn.reset();
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--held-child")});
    QElapsedTimer timer;
    const bool closing = QTest::qWaitFor([&] {
        if (!child.canReadLine())
            return false;
        timer.start();
        return child.readLine().startsWith("closing");
    }, 20000);
    child.waitForFinished(60000);
    say("end of the process while bluetoothd holds the layer's thread: %s %lld ms after the layer "
        "was let go (exit code %d)", !closing ? "never got there;"
        : child.exitStatus() == QProcess::NormalExit ? "ended" : "crashed", timer.elapsed(),
        child.exitCode());
    waitUntil([&] { return standIn.reset(); }, 60000);
}

// bluetoothd restarted, or the adapter power-cycled, while scanning: does a search scan again?
void restart(BluezStandIn &standIn)
{
    for (const bool powerCycle : {false, true}) {
        standIn.reset();
        Rig rig;
        waitUntil([&] { return rig.announced > 0; }, 10000);
        QString error;
        if (powerCycle)
            standIn.setPowered(false), standIn.setPowered(true);
        else
            standIn.restart(&error);
        const qint64 at = rig.clock.elapsed();
        int searches = 0;
        int announced = rig.announced;
        // One search a second, as a user would press it, until the controller shows again.
        while (searches < 10 && rig.announced == announced) {
            ++searches;
            announced = rig.announced;
            rig.worker->restartScan();
            waitUntil([&] { return rig.announced > announced; }, 1000);
        }
        say("%s while scanning: %s after %d search(es), %lld ms; the window was told: %s",
            powerCycle ? "adapter power-cycled" : "bluetoothd restarted",
            rig.announced > announced ? "scans again" : "no scan", searches,
            rig.clock.elapsed() - at, rig.toldSince(at).constData());
    }
}

// bluetoothd stops answering for 30 s: how long each of the window's calls holds it.
void hang(BluezStandIn &standIn)
{
    standIn.reset();
    Rig rig;
    if (!rig.connected())
        return say("hang: no connection");
    standIn.freeze(30000);
    const qint64 search = timed([&] { rig.worker->restartScan(); });
    const qint64 connect = timed([&] {
        rig.worker->disconnectDevice();
        rig.worker->connectDevice(ControllerText);
    });
    const qint64 save = timed([&] { rig.worker->saveParam(Param); });
    qint64 layerMs = 0;
    const qint64 close = rig.close(&layerMs);
    say("bluetoothd not answering: Search held the caller %lld ms, Connect %lld ms, Save %lld ms "
        "(its pause included), close %lld ms (the layer's part %lld ms)", search, connect, save,
        close, layerMs);
    waitUntil([&] { return standIn.reset(); }, 60000);
}

void crowd(BluezStandIn &standIn)
{
    standIn.reset();
    Rig rig;
    waitUntil([&] { return rig.announced > 0; }, 10000);
    standIn.setCrowd(50, 10000);
    pause(2000);
    const qint64 pid = QCoreApplication::applicationPid();
    resetPeak(pid);
    const Memory before = memoryOf(pid);
    const size_t said0 = rig.said.size();
    pause(seconds * 1000);
    const Memory after = memoryOf(pid);
    say("50 devices renamed to 10,000 characters at every advertisement for %d s, worker and layer: "
        "%zu announcements; memory +%.1f MiB (peak +%.1f MiB)", seconds, rig.said.size() - said0,
        after.rss - before.rss, after.peak - before.rss);
    standIn.reset();
}

// --- The tool's own process ----------------------------------------------------------------

bool xdotool(const QStringList &args, QString *output = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(15000) || p.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return true;
}

class Tool
{
public:
    explicit Tool(BluezStandIn &s) : standIn(s)
    {
        process.setWorkingDirectory(QStringLiteral(IMU_SOURCE_DIR));
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral(IMU_TOOL_PATH), QStringList());
        QString id;
        if (process.waitForStarted()
            && xdotool({"search", "--sync", "--onlyvisible", "--name", "^IMU Calibration Tool$"}, &id))
            window = id.split('\n').first();
    }
    ~Tool()
    {
        process.kill();
        process.waitForFinished();
    }
    bool click(int x, int y)
    {
        return xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"});
    }
    bool searchAndConnect()
    {
        if (window.isEmpty() || !click(288, 527)
            || !QTest::qWaitFor([&] { return standIn.log().contains("StartDiscovery"); }, 10000))
            return false;
        return QTest::qWaitFor([&] {
            click(488, 527);
            return QTest::qWaitFor([&] { return standIn.log().contains("StartNotify"); }, 1000);
        }, 15000);
    }
    // Clicks the window's close button; how long until the process has ended, as text.
    QByteArray close()
    {
        QElapsedTimer timer;
        timer.start();
        click(767, 25);
        if (!process.waitForFinished(120000))
            return "did not end within 120 s";
        return "ended in " + QByteArray::number(timer.elapsed()) + " ms, exit code "
                + QByteArray::number(process.exitCode());
    }
    qint64 pid() const { return process.processId(); }

    BluezStandIn &standIn;
    QProcess process;
    QString window;
};

void tool(BluezStandIn &standIn)
{
    {
        standIn.reset();
        Tool t(standIn);
        if (!t.searchAndConnect())
            return say("tool: no connection");
        pause(2000);
        resetPeak(t.pid());
        const Memory before = memoryOf(t.pid());
        const Flooded f = floodFor(standIn, 5000, seconds * 1000);
        const Memory after = memoryOf(t.pid());
        say("tool, flood 5,000/s for %d s (sent %u, %.0f/s): memory +%.1f MiB at the flood's end "
            "(peak +%.1f MiB)", seconds, f.sent, f.rate, after.rss - before.rss, after.peak - before.rss);
        standIn.flood(25000, 20000);
        pause(10000);
        say("tool, close during a flood of 25,000/s after 10 s: the process %s", t.close().constData());
    }
    {
        standIn.reset();
        Tool t(standIn);
        if (!t.searchAndConnect())
            return say("tool: no connection");
        standIn.freeze(30000);
        say("tool, close while bluetoothd does not answer: the process %s", t.close().constData());
        waitUntil([&] { return standIn.reset(); }, 60000);
    }
    {
        standIn.reset();
        standIn.setCrowd(50, 10000);
        Tool t(standIn);
        if (t.window.isEmpty() || !t.click(288, 527))
            return say("tool: no window");
        pause(5000);
        resetPeak(t.pid());
        const Memory before = memoryOf(t.pid());
        pause(seconds * 1000);
        const Memory after = memoryOf(t.pid());
        say("tool, 50 devices renamed to 10,000 characters at every advertisement for %d s: memory "
            "+%.1f MiB (peak +%.1f MiB)", seconds, after.rss - before.rss, after.peak - before.rss);
    }
    standIn.reset();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("qt.bluetooth*=false\nimucal.*=false"));
    QStringList cases = app.arguments().mid(1);
    const int at = int(cases.indexOf(QStringLiteral("--seconds")));
    if (at >= 0 && at + 1 < cases.size()) {
        seconds = cases.at(at + 1).toInt();
        cases.erase(cases.begin() + at, cases.begin() + at + 2);
    }
    if (cases.isEmpty())
        cases = QStringList{"writes", "second-save", "flood", "layer", "close-flood", "restart",
                            "hang", "exit-held", "crowd", "tool"};
    if (cases == QStringList{QStringLiteral("--held-child")})
        return heldChild();
    BluezStandIn standIn;
    QString error;
    if (!standIn.start(&error)) {
        say("the stand-in BlueZ did not start: %s", qPrintable(error));
        return 1;
    }
    figures = fdopen(dup(STDOUT_FILENO), "w");
    if (!figures || !std::freopen("/dev/null", "w", stdout))
        return 1;
    for (const QString &c : cases) {
        if (c == "writes")
            writes(standIn);
        else if (c == "second-save")
            secondSave(standIn);
        else if (c == "flood")
            flood(standIn, 5000), flood(standIn, 25000);
        else if (c == "layer")
            layer(standIn, 5000, false), layer(standIn, 25000, false), layer(standIn, 0, true);
        else if (c == "close-flood")
            closeDuringFlood(standIn);
        else if (c == "restart")
            restart(standIn);
        else if (c == "hang")
            hang(standIn);
        else if (c == "exit-held")
            exitHeld(standIn);
        else if (c == "crowd")
            crowd(standIn);
        else if (c == "tool")
            tool(standIn);
        else
            say("unknown case %s", qPrintable(c));
    }
    return 0;
}
