#!/usr/bin/env python3
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

"""A station's figures: jobs of a built tool side by side, one a lane, measured from outside.

    bench_station.py cpu     --exe <tool> [--helper <bluez_controllerstream>] [--lanes 4]
                             [--seconds 30]
    bench_station.py station --exe <tool> [--helper <bluez_controllerstream>] [--lanes 4]
                             [--calibrate 40] [--cycles 1]

With --helper the tool is the real-adapter build against the tests' stand-in BlueZ on a
private bus, serving one controller per lane (lane n has 00:02:5B:0A:1C:0n). Without it the
tool is the demo: every job has a virtual dongle of its own, and every lane uses its first
controller.

cpu: CPU time over wall time of each lane's process, in percent of one core (from
/proc/<pid>/task/*/schedstat), over --seconds once every lane is under way. Streaming: all
lanes run `--calibrate` (the controller's own rate: 100 orientation and 75 sensor reports a
second). Idle: all lanes wait for a unit that is not there (`--check` on an address nobody
has), the adapter scanning. Idle beside streaming: lane 1 waits while the others stream. With
the stand-in, also the CPU of the stand-in service and of its bus daemon.

station: the jobs of the README's lanes script, --cycles times: each lane runs the check,
then (if it passed) a calibration of --calibrate seconds and its save. Prints each cycle's wall time, each
job's status and CPU time (from its rusage), and the units an hour that makes. With the
stand-in, it is started afresh for each cycle, so its controllers lie still for the check
(the controller model lies still for its first 20 s).
"""
import argparse
import os
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def unit_address(lane, demo):
    return "00:02:5B:0A:1C:01" if demo else "00:02:5B:0A:1C:%02X" % lane


class StandIn:
    """The tests' stand-in BlueZ with `controllers` controllers on a private bus."""

    def __init__(self, helper, controllers):
        self.address = "unix:abstract=/imucal/station/%d" % os.getpid()
        self.bus = subprocess.Popen(
            ["dbus-daemon", "--nofork", "--config-file=" + os.path.join(ROOT, "tests/bluez/bus.conf"),
             "--print-address", "--address=" + self.address],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.bus.stdout.readline()
        self.service = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(ROOT, "tests/bluez/standin_bluez.py"), helper,
             str(self.bus.pid), "--controllers", str(controllers)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
            env=dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.address))
        if self.service.stdout.readline().strip() != "ready":
            self.stop()
            sys.exit("the stand-in did not come up")

    def stop(self):
        for p in (self.service, self.bus):
            if p.poll() is None:
                p.kill()
                p.wait()


def cpu_ns(pid):
    """CPU time of the live threads of `pid`, in ns (0 once it has ended)."""
    total = 0
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                total += int(f.read().split()[0])
    except (OSError, ValueError):
        pass
    return total


class Job:
    """One job; its progress lines are read as they come, and its end reaped with its rusage."""

    def __init__(self, exe, args, env):
        self.process = subprocess.Popen([exe, *args], cwd=ROOT, env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE, text=True)
        self.marks = {}   # progress word: monotonic time it was first seen
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        for line in self.process.stderr:
            for word in ("looking for", "calibrating", "checking"):
                if word in line:
                    self.marks.setdefault(word, time.monotonic())

    def wait_mark(self, word):
        # Its standard error ends with it; the process itself is left for reap().
        while word not in self.marks and self.reader.is_alive():
            time.sleep(0.01)
        return word in self.marks

    def reap(self):
        """(exit status, CPU seconds)"""
        _, status, usage = os.wait4(self.process.pid, 0)
        self.process.returncode = os.waitstatus_to_exitcode(status)
        self.reader.join()
        return self.process.returncode, usage.ru_utime + usage.ru_stime


def environment(standin):
    env = dict(os.environ)
    if standin:
        env.update(DBUS_SYSTEM_BUS_ADDRESS=standin.address, BLUETOOTH_FORCE_DBUS_LE_VERSION="5.66")
    return env


def measure_lanes(exe, env, jobs_args, seconds, others=()):
    """Starts the jobs [(args, progress word)] and, once each has printed its word, measures
    them all over the same `seconds`: CPU % of each job, then of each pid in `others`."""
    jobs = [(Job(exe, args, env), word) for args, word in jobs_args]
    try:
        for job, word in jobs:
            if not job.wait_mark(word):
                sys.exit("a job ended before '%s'" % word)
        pids = [job.process.pid for job, _ in jobs] + list(others)
        start = time.monotonic()
        before = [cpu_ns(pid) for pid in pids]
        time.sleep(seconds)
        wall = time.monotonic() - start
        return [100.0 * (cpu_ns(pid) - b) / 1e9 / wall for pid, b in zip(pids, before)]
    finally:
        for job, _ in jobs:
            job.process.kill()
            job.reap()


def run_cpu(args):
    demo = not args.helper
    seconds = str(int(args.seconds) + 10)

    def streaming(lane):
        return ["--address", unit_address(lane, demo), "--calibrate", seconds], "calibrating"

    def idle(lane):
        # Waiting for a unit that is not there yet: the adapter scans.
        return ["--address", "00:02:5B:0A:1C:%02X" % (0x40 + lane), "--check", "--timeout", seconds], \
            "looking for"

    lanes = range(1, args.lanes + 1)
    cases = (("streaming", [streaming(n) for n in lanes]),
             ("idle", [idle(n) for n in lanes]),
             ("idle_beside_streaming", [idle(1)] + [streaming(n) for n in lanes if n > 1]))
    for name, jobs in cases:
        # A stand-in of its own for each case: a job that is killed leaves its unit connected.
        standin = None if demo else StandIn(args.helper, args.lanes)
        try:
            others = [standin.service.pid, standin.bus.pid] if standin else []
            figures = measure_lanes(args.exe, environment(standin), jobs, args.seconds, others)
        finally:
            if standin:
                standin.stop()
        lane_figures = figures[:len(jobs)]
        print("%s lanes=%d seconds=%.0f lane_cpu_pct=%s mean=%.2f%s" % (
            name, len(jobs), args.seconds, ",".join("%.2f" % f for f in lane_figures),
            statistics.mean(lane_figures),
            " standin_pct=%.2f bus_pct=%.2f" % tuple(figures[len(jobs):]) if standin else ""), flush=True)


def run_station(args):
    demo = not args.helper
    walls = []
    for cycle in range(args.cycles):
        standin = None if demo else StandIn(args.helper, args.lanes)
        try:
            env = environment(standin)
            start = time.monotonic()
            lanes = [threading.Thread(target=lambda n=n: results.append(lane(args, env, n, demo)))
                     for n in range(1, args.lanes + 1)]
            results = []
            for t in lanes:
                t.start()
            for t in lanes:
                t.join()
            wall = time.monotonic() - start
        finally:
            if standin:
                standin.stop()
        walls.append(wall)
        print("cycle %d wall_s=%.1f units_per_hour=%.0f jobs=%s" % (
            cycle + 1, wall, args.lanes * 3600 / wall,
            " ".join("lane%d:%s" % r for r in sorted(results))), flush=True)
    print("station lanes=%d calibrate_s=%d median_wall_s=%.1f units_per_hour=%.0f" % (
        args.lanes, args.calibrate, statistics.median(walls),
        args.lanes * 3600 / statistics.median(walls)))


def lane(args, env, n, demo):
    """The lanes script's two jobs for lane `n`: (n, "status/cpu s,status/cpu s")."""
    address = unit_address(n, demo)
    done = []
    for job_args in (["--check"], ["--calibrate", str(args.calibrate), "--save"]):
        status, cpu = Job(args.exe, ["--address", address, *job_args], env).reap()
        done.append("%d/%.2fs" % (status, cpu))
        if status != 0:
            break
    return n, ",".join(done)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["cpu", "station"])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--helper", help="the stand-in's controller (bluez_controllerstream)")
    parser.add_argument("--lanes", type=int, default=4)
    parser.add_argument("--seconds", type=float, default=30.0)
    parser.add_argument("--calibrate", type=int, default=40)
    parser.add_argument("--cycles", type=int, default=1)
    args = parser.parse_args()
    for name in ("exe", "helper"):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))
    {"cpu": run_cpu, "station": run_station}[args.mode](args)


if __name__ == "__main__":
    main()
