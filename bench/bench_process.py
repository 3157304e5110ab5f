#!/usr/bin/env python3
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

"""Whole-process figures of a built tool, measured from outside through /proc.

    bench_process.py idle   --exe <demo or tool> [--seconds S] [--warmup S]
    bench_process.py live   --exe <demo> [--calibrating] [--seconds S] [--warmup S]
    bench_process.py standin --exe <tool> --helper <bluez_controllerstream>
                            [--rate N | --sweep N,N,...] [--seconds S] [--warmup S]

The program under test is any build of the tool (this tree's or an older one's): it is started
with the repository as its working directory, found by its window title and driven with
xdotool, as a user would. Needs an X display (run under xvfb-run).

idle: the window open, nothing connected. live: the demo connected to its first virtual
controller, which streams at its own rate. standin: the real-adapter build against the tests'
stand-in BlueZ on a private bus, streaming at --rate (default the controller's own, 100
orientation reports a second), or at each rate of --sweep in turn.

Per run one line of figures: CPU time over wall time of the whole process and of each thread
(percent of one core, from /proc/<pid>/task/*/schedstat; threads by name, the GUI thread as
"main"), resident memory, and the 3-D view's buffer swaps a second (with --frame-probe, the
library from bench/frameprobe.cpp preloaded). In standin mode, with the frame probe, also the
lag from the stand-in sending an orientation report to the first buffer swap that shows it or
a later pose, and whether that lag grows (a backlog) over the run.
"""
import argparse
import collections
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TITLE = "^IMU Calibration Tool$"

# Window coordinates of what a user clicks (the form is fixed).
SEARCH_BUTTON = (288, 527)
CALIBRATE_BUTTON = (288, 527)   # the same place, on the calibration page
MAGNET_TAB = (155, 98)
CONNECT_BUTTON = (488, 527)
STATUS_LABEL = "200x25+55+470"


def xdotool(*args, timeout=15):
    out = subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=timeout)
    return out.stdout.strip() if out.returncode == 0 else None


def click(window, at):
    xdotool("mousemove", "--window", window, str(at[0]), str(at[1]), "click", "1")


def grab_status(window):
    """The status label's pixels (ImageMagick's import)."""
    return subprocess.run(["import", "-window", window, "-crop", STATUS_LABEL, "png:-"],
                          capture_output=True, timeout=15).stdout


# --- /proc ---------------------------------------------------------------------------------

def threads(pid):
    """{tid: (name, cpu ns)} of the live threads of `pid`."""
    out = {}
    base = "/proc/%d/task" % pid
    for tid in os.listdir(base):
        try:
            with open("%s/%s/comm" % (base, tid)) as f:
                name = f.read().strip()
            with open("%s/%s/schedstat" % (base, tid)) as f:
                ns = int(f.read().split()[0])
        except (OSError, ValueError):
            continue
        out[int(tid)] = ("main" if int(tid) == pid else name, ns)
    return out


def process_cpu_ticks(pid):
    """utime + stime of the whole process, dead threads included, in clock ticks."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Stretch:
    """CPU of a process and of its threads over one measured stretch."""

    def __init__(self, pid):
        self.pid = pid
        self.t0 = time.monotonic_ns()
        self.before = threads(pid)
        self.ticks0 = process_cpu_ticks(pid)
        self.rss0 = resident_kib(pid)

    def finish(self):
        after = threads(self.pid)
        ticks1 = process_cpu_ticks(self.pid)
        wall = time.monotonic_ns() - self.t0
        per_name = {}
        total = 0
        for tid, (name, ns) in after.items():
            delta = ns - self.before.get(tid, (name, 0))[1]
            total += delta
            per_name[name] = per_name.get(name, 0) + delta
        hz = os.sysconf("SC_CLK_TCK")
        return {
            "wall_s": wall / 1e9,
            "cpu_pct": 100.0 * total / wall,
            "cpu_ticks_pct": 100.0 * (ticks1 - self.ticks0) / hz / (wall / 1e9),
            "threads": sorted(((n, 100.0 * v / wall) for n, v in per_name.items()),
                              key=lambda p: -p[1]),
            "rss_start_kib": self.rss0,
            "rss_end_kib": resident_kib(self.pid),
        }


def format_figures(label, fig, extra=""):
    threads_text = " ".join("%s=%.2f" % (n.replace(" ", "_"), v) for n, v in fig["threads"]
                            if v >= 0.005)
    return ("%s wall_s=%.1f process_cpu_pct=%.2f (ticks %.1f) rss_start_kib=%d rss_end_kib=%d%s"
            " | threads_cpu_pct: %s" % (label, fig["wall_s"], fig["cpu_pct"], fig["cpu_ticks_pct"],
                                        fig["rss_start_kib"], fig["rss_end_kib"], extra,
                                        threads_text))


# --- frames --------------------------------------------------------------------------------

def read_frames(path, since_ns=0):
    """[(swap ns, (tenths1, tenths2, tenths3))] from a frame probe log."""
    frames = []
    try:
        with open(path) as f:
            for line in f:
                parts = line.split()
                if len(parts) != 4:
                    continue
                t = int(parts[0])
                if t >= since_ns:
                    frames.append((t, tuple(int(round(float(a) * 10)) for a in parts[1:])))
    except OSError:
        pass
    return frames


def percentile(sorted_values, p):
    if not sorted_values:
        return float("nan")
    return sorted_values[min(len(sorted_values) - 1, int(p * (len(sorted_values) - 1) + 0.5))]


def pose_lag(sends, frames, on_screen=None):
    """Lag of each pose change: from its send until the screen shows its pose or a later one.

    `sends`, `frames`: [(ns, pose)] in time order; `on_screen`: the pose on screen before
    them. The screen shows the pose of its last swap. A report is shown by the first swap with its pose or a later report's, or by a later
    report that brings back the pose already on screen. Reports that repeat the previous pose
    are no motion and are not counted. Returns ([(send ns, lag ns)], how many pose changes
    were still waiting at the end).
    """
    events = sorted([(t, 0, i, pose) for i, (t, pose) in enumerate(sends)]
                    + [(t, 1, 0, pose) for t, pose in frames], key=lambda e: (e[0], e[1]))
    lags, waiting, latest = [], collections.deque(), {}
    screen = on_screen

    def shown_up_to(report, now):
        while waiting and waiting[0][0] <= report:
            index, sent = waiting.popleft()
            lags.append((sent, now - sent))

    for t, kind, index, pose in events:
        if kind == 0:
            if index == 0 or sends[index - 1][1] != pose:
                waiting.append((index, t))
            latest[pose] = index
            if screen == pose:
                shown_up_to(index, t)
        else:
            screen = pose
            if pose in latest:
                shown_up_to(latest[pose], t)
    return lags, len(waiting)


def trend(points):
    """Least-squares slope of (x, y) points."""
    n = len(points)
    if n < 2:
        return 0.0
    sx = sum(x for x, _ in points)
    sy = sum(y for _, y in points)
    sxx = sum(x * x for x, _ in points)
    sxy = sum(x * y for x, y in points)
    den = n * sxx - sx * sx
    return (n * sxy - sx * sy) / den if den else 0.0


# --- runs ----------------------------------------------------------------------------------

class Tool:
    def __init__(self, exe, env, frame_probe):
        self.frame_log = None
        env = dict(env)
        if frame_probe:
            self.frame_log = tempfile.NamedTemporaryFile(prefix="imucal-frames-", suffix=".log",
                                                         delete=False).name
            env["LD_PRELOAD"] = frame_probe
            env["IMUCAL_FRAME_LOG"] = self.frame_log
        self.window = None
        # A shared X server now and then refuses a new client for a moment; a tool that could
        # not connect is started again rather than ending the whole run.
        for attempt in range(3):
            self.stderr = tempfile.TemporaryFile()
            self.process = subprocess.Popen([exe], cwd=ROOT, env=env, stdout=subprocess.DEVNULL,
                                            stderr=self.stderr)
            deadline = time.monotonic() + 20
            while time.monotonic() < deadline and not self.window and self.process.poll() is None:
                found = xdotool("search", "--onlyvisible", "--name", TITLE)
                if found:
                    self.window = found.split()[0]
                else:
                    time.sleep(0.1)
            if self.window or self.process.poll() is None:
                break
            print(f"the tool ended at start (status {self.process.returncode}); starting it again",
                  file=sys.stderr)
            time.sleep(1)
        if not self.window:
            self.stop()
            self.stderr.seek(0)
            said = self.stderr.read().decode(errors="replace").strip()
            sys.exit("the tool's window did not show" + (f"; the tool said: {said}" if said else ""))
        time.sleep(0.5)

    @property
    def pid(self):
        return self.process.pid

    def connect(self, connected, timeout=20):
        """Search, then Connect until `connected()` holds."""
        click(self.window, SEARCH_BUTTON)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            time.sleep(0.5)
            click(self.window, CONNECT_BUTTON)
            end = time.monotonic() + 1.5
            while time.monotonic() < end:
                if connected():
                    return True
                time.sleep(0.1)
        return False

    def streaming_detector(self):
        """A test for "the controller's reports reach the window": with the frame probe, a
        frame that shows a turned model; without it, a change of the status label."""
        if self.frame_log:
            start = time.monotonic_ns()
            return lambda: any(pose != (0, 0, 0) for _, pose in read_frames(self.frame_log, start))
        unconnected = grab_status(self.window)
        return lambda: grab_status(self.window) != unconnected

    def frames_per_s(self, since_ns, wall_s):
        if not self.frame_log:
            return None
        return len(read_frames(self.frame_log, since_ns)) / wall_s

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.frame_log and os.path.exists(self.frame_log):
            os.unlink(self.frame_log)


def measure(tool, seconds, label, extra=""):
    start = time.monotonic_ns()
    stretch = Stretch(tool.pid)
    time.sleep(seconds)
    fig = stretch.finish()
    fps = tool.frames_per_s(start, fig["wall_s"])
    if fps is not None:
        extra += " fps=%.1f" % fps
    print(format_figures(label, fig, extra), flush=True)
    return fig, start


def median(values):
    values = sorted(values)
    n = len(values)
    return values[n // 2] if n % 2 else (values[n // 2 - 1] + values[n // 2]) / 2


def print_median(label, figures):
    """The median run's whole-process share, and each thread's median share."""
    if len(figures) < 2:
        return
    names = []
    for fig in figures:
        names += [n for n, _ in fig["threads"] if n not in names]
    threads = sorted(((n, median([dict(f["threads"]).get(n, 0.0) for f in figures]))
                      for n in names), key=lambda p: -p[1])
    print("%s median of %d: process_cpu_pct=%.2f (runs %s) | threads_cpu_pct: %s"
          % (label, len(figures), median([f["cpu_pct"] for f in figures]),
             " ".join("%.2f" % f["cpu_pct"] for f in figures),
             " ".join("%s=%.2f" % (n.replace(" ", "_"), v) for n, v in threads if v >= 0.005)),
          flush=True)


def run_idle(args):
    runs = []
    for _ in range(args.runs):
        tool = Tool(args.exe, os.environ, args.frame_probe)
        try:
            time.sleep(args.warmup)
            runs.append(measure(tool, args.seconds, "idle")[0])
        finally:
            tool.stop()
    print_median("idle", runs)


def run_live(args):
    runs = []
    for _ in range(args.runs):
        tool = Tool(args.exe, os.environ, args.frame_probe)
        try:
            if not tool.connect(tool.streaming_detector()):
                sys.exit("the demo did not connect")
            if args.calibrating:
                # The calibration page, recording: its bars, labels and live figures follow.
                click(tool.window, MAGNET_TAB)
                click(tool.window, CALIBRATE_BUTTON)
            time.sleep(args.warmup)
            runs.append(measure(tool, args.seconds, "live")[0])
        finally:
            tool.stop()
    print_median("live", runs)


class StandIn:
    """The tests' stand-in BlueZ on a private bus, with report send times."""

    def __init__(self, helper):
        self.address = "unix:abstract=/imucal/bench/%d" % os.getpid()
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--nofork", "--config-file=" + os.path.join(ROOT, "tests/bluez/bus.conf"),
             "--print-address", "--address=" + self.address],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.bus.stdout.readline()
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address)
        self.service = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(HERE, "standin_timed.py"),
             os.path.join(ROOT, "tests/bluez"), helper, str(self.bus.pid)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env)
        if self.service.stdout.readline().strip() != "ready":
            self.stop()
            sys.exit("the stand-in did not come up")
        self.notifying = False

    def command(self, line, answer=None):
        self.service.stdin.write(line + "\n")
        self.service.stdin.flush()
        while answer:
            got = self.service.stdout.readline()
            if not got:
                sys.exit("the stand-in has gone")
            got = got.strip()
            if got == "notifying":
                self.notifying = True
            elif got.startswith(answer):
                return got
        return None

    def sent(self):
        return int(self.command("count", "sent").split()[1])

    def sends(self):
        """Orientation reports sent since the last call: [(ns, pose)]."""
        with tempfile.NamedTemporaryFile(prefix="imucal-sends-", suffix=".log") as f:
            self.command("dump " + f.name, "dumped")
            out = []
            for line in open(f.name):
                t, a, b, c = (int(v) for v in line.split())
                out.append((t, (a, b, c)))
            return out

    def stop(self):
        for p in (self.service, self.bus):
            if p.poll() is None:
                p.kill()
                p.wait()


def run_standin(args):
    standin = StandIn(args.helper)
    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=standin.address,
               BLUETOOTH_FORCE_DBUS_LE_VERSION="5.66")
    tool = None
    try:
        tool = Tool(args.exe, env, args.frame_probe)
        count = [0]

        def streaming():
            # Notifications flow: the tool has switched them on and they keep coming.
            now = standin.sent()
            moved = now > count[0] + 10
            count[0] = now
            return moved

        if not tool.connect(streaming):
            sys.exit("the tool did not connect to the stand-in")
        rates = [int(r) for r in args.sweep.split(",")] if args.sweep else [args.rate]
        passed = None
        for rate in rates:
            standin.command("rate %d" % rate)
            time.sleep(args.warmup)
            standin.sends()          # forget the warm-up
            sent0 = standin.sent()
            fig, start = measure_quiet(tool, args.seconds)
            sent = standin.sent() - sent0
            extra = " rate=%d notifications_per_s=%.0f" % (rate, sent / fig["wall_s"])
            grows = None
            if tool.frame_log:
                time.sleep(0.5)      # frames of the last reports
                sends = [s for s in standin.sends() if s[0] >= start]
                every_frame = read_frames(tool.frame_log)
                frames = [fr for fr in every_frame if fr[0] >= start]
                before = [fr for fr in every_frame if fr[0] < start]
                lags, missed = pose_lag(sends, frames, before[-1][1] if before else None)
                values = sorted(l for _, l in lags)
                tenth = max(1, len(lags) // 10)
                first = sum(l for _, l in lags[:tenth]) / tenth / 1e6 if lags else 0
                last = sum(l for _, l in lags[-tenth:]) / tenth / 1e6 if lags else 0
                slope = trend([(t / 1e9, l / 1e6) for t, l in lags])   # ms of lag per s
                # A backlog makes the lag climb through the run; a kept-up stream leaves it
                # where it started, within a frame interval.
                grows = slope > 1.0 or last > first + 10.0 or missed > len(sends) // 10
                extra += (" fps=%.1f lag_p50_ms=%.1f lag_p99_ms=%.1f lag_first_ms=%.1f"
                          " lag_last_ms=%.1f lag_slope_ms_per_s=%.2f unshown=%d backlog=%s"
                          % (len(frames) / fig["wall_s"], percentile(values, 0.5) / 1e6,
                             percentile(values, 0.99) / 1e6, first, last, slope, missed,
                             "growing" if grows else "none"))
            print(format_figures("standin", fig, extra), flush=True)
            if grows is False:
                passed = sent / fig["wall_s"]
            elif grows:
                break
        if args.sweep and passed is not None:
            print("standin highest_notifications_per_s_without_backlog=%.0f" % passed)
    finally:
        if tool:
            tool.stop()
        standin.stop()


def measure_quiet(tool, seconds):
    start = time.monotonic_ns()
    stretch = Stretch(tool.pid)
    time.sleep(seconds)
    return stretch.finish(), start


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["idle", "live", "standin"])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--seconds", type=float, default=20.0)
    parser.add_argument("--warmup", type=float, default=3.0)
    parser.add_argument("--frame-probe", help="bench/frameprobe.cpp's library, preloaded")
    parser.add_argument("--helper", help="the stand-in's controller (bluez_controllerstream)")
    parser.add_argument("--rate", type=int, default=100)
    parser.add_argument("--calibrating", action="store_true",
                        help="live: with a calibration recording on the calibration page")
    parser.add_argument("--sweep", help="rates to try in turn, until a backlog grows")
    parser.add_argument("--runs", type=int, default=1,
                        help="idle, live: runs of a freshly started tool, and their medians")
    args = parser.parse_args()
    # The tool runs in the repository, so paths given relative to here are made absolute.
    for name in ("exe", "frame_probe", "helper"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    if not os.environ.get("DISPLAY"):
        sys.exit("needs an X display: run under xvfb-run")
    {"idle": run_idle, "live": run_live, "standin": run_standin}[args.mode](args)


if __name__ == "__main__":
    main()
