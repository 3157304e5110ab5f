#!/usr/bin/python3
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

"""The tests' stand-in BlueZ, run for the benchmarks: the same adapter, controller and D-Bus
objects, plus a record of when each orientation report went out and a way to change the
controller's rate while it streams.

    /usr/bin/python3 standin_timed.py <tests/bluez folder> <controller-stream helper> <bus pid>

Prints "ready" once it owns org.bluez and "notifying" when the tool has switched the reports
on. Commands on standard input, one a line:
    rate <n>        orientation reports a second (the sensor reports come at a quarter each)
    dump <path>     writes "<CLOCK_MONOTONIC ns> <tenths1> <tenths2> <tenths3>" for every
                    orientation report sent since the last dump, then prints "dumped"
    count           prints "sent <notifications sent so far>"
Closing standard input ends it and the bus daemon.
"""
import os
import signal
import sys
import time

sys.path.insert(0, sys.argv[1])
import standin_bluez as sb  # noqa: E402
from dbus.mainloop.glib import DBusGMainLoop  # noqa: E402
from gi.repository import GLib  # noqa: E402
import dbus  # noqa: E402
import dbus.service  # noqa: E402


def sign_magnitude(high, low):
    magnitude = ((high & 0x7F) << 8) | low
    return -magnitude if high & 0x80 else magnitude


def folded(tenths):
    # As the tool folds an angle: the remainder truncates toward zero.
    return int(tenths - 3600 * int(tenths / 3600))


class TimedStandIn(sb.StandIn):
    def __init__(self, bus, helper):
        self.orientation = []
        self.count = 0
        sb.StandIn.__init__(self, bus, helper)

    def notify(self, characteristic, on):
        sb.StandIn.notify(self, characteristic, on)
        if on:
            print("notifying", flush=True)

    def notify_value(self, value, unit):
        # The stand-in's own sending, with the time each report leaves for the bus.
        sent_ns = time.monotonic_ns()
        if not sb.StandIn.notify_value(self, value, unit):
            return False
        data = bytes(value)
        self.count += 1
        if len(data) >= 17 and data[0] == 0x55 and data[16] == 0:
            self.orientation.append(
                (sent_ns,
                 folded(sign_magnitude(data[3], data[4])),
                 folded(sign_magnitude(data[5], data[6])),
                 folded(sign_magnitude(data[7], data[8]))))
        return True


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    standin = TimedStandIn(bus, sys.argv[2])
    name = dbus.service.BusName(sb.BLUEZ, bus)
    loop = GLib.MainLoop()
    bus_pid = int(sys.argv[3])
    pending = [b""]

    def on_stdin(fd, condition):
        data = os.read(fd, 4096) if condition & GLib.IO_IN else b""
        if not data:
            os.kill(bus_pid, signal.SIGTERM)
            loop.quit()
            return False
        pending[0] += data
        *lines, pending[0] = pending[0].split(b"\n")
        for line in lines:
            words = line.decode().split()
            if words[:1] == ["rate"]:
                standin.helper_command("rate %d" % int(words[1]))
            elif words[:1] == ["dump"]:
                with open(words[1], "w") as out:
                    for t, a, b, c in standin.orientation:
                        out.write("%d %d %d %d\n" % (t, a, b, c))
                standin.orientation = []
                print("dumped", flush=True)
            elif words[:1] == ["count"]:
                print("sent %d" % standin.count, flush=True)
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, on_stdin)
    print("ready", flush=True)
    try:
        loop.run()
    finally:
        del name
        standin.close()


if __name__ == "__main__":
    main()
