#!/usr/bin/env python3
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

"""Writes the seed corpora under corpus/<target>/.

The targets read their input through libFuzzer's FuzzedDataProvider: numbers are taken from
the end of the input (first byte taken = most significant), strings and byte runs from the
front. Seed encodes in that order, so each seed is a meaningful scenario the fuzzer mutates
from: a whole connection for the event target, real reports for the decoder, and so on.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class Seed:
    def __init__(self):
        self.front = bytearray()
        self.tail = []          # bytes in the order the target takes them

    def _value(self, value, lo, hi):
        span = hi - lo
        r = value - lo
        assert 0 <= r <= span
        nbytes = 0
        while nbytes < 8 and (span >> (8 * nbytes)) > 0:
            nbytes += 1
        for i in range(nbytes):
            self.tail.append((r >> (8 * (nbytes - 1 - i))) & 0xFF)
        return self

    def u8(self, v): return self._value(v, 0, 0xFF)
    def u16(self, v): return self._value(v, 0, 0xFFFF)
    def i16(self, v): return self._value(v, -0x8000, 0x7FFF)
    def u32(self, v): return self._value(v, 0, 0xFFFFFFFF)
    def u64(self, v): return self._value(v, 0, 0xFFFFFFFFFFFFFFFF)
    def boolean(self, v): return self.u8(1 if v else 0)
    def rng(self, v, lo, hi): return self._value(v, lo, hi)

    def string(self, text):
        data = text if isinstance(text, bytes) else text.encode()
        self.front += data.replace(b"\\", b"\\\\") + b"\\e"
        return self

    def raw(self, data):
        self.front += bytes(data)
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.tail))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def sign_magnitude(v):
    m = abs(v) & 0x7FFF
    return bytes([(0x80 if v < 0 else 0) | (m >> 8), m & 0xFF])


def report(kind, a=0, b=0, c=0, controls=(0, 0, 0, 0), length=20):
    r = bytearray(max(length, 17))
    r[0] = 0x55
    r[3:5], r[5:7], r[7:9] = sign_magnitude(a), sign_magnitude(b), sign_magnitude(c)
    r[11:15] = bytes(x & 0xFF for x in controls)
    r[16] = kind
    return bytes(r[:length])


def ack(success):
    r = bytearray(20)
    r[0:3] = b"\x55\x01\x01"
    if not success:
        r[4], r[6], r[8] = 1, 1, 1
    r[16] = 1
    return bytes(r)


def address(seed, nap, uap, lap):
    seed.u16(0).u16(nap).u8(uap).u8(0).u32(lap)


# --- notification: one report per input ---------------------------------------------------
write("fuzz_notification", "orientation", report(0, 3600, -3601, 32767, (5, 0x80, 0x10, 0xF0)))
write("fuzz_notification", "accel", report(2, 100, -200, 4096))
write("fuzz_notification", "gyro", report(3, -1, 0, 1))
write("fuzz_notification", "mag", report(4, 150, -150, 0))
write("fuzz_notification", "ack_success", ack(True))
write("fuzz_notification", "ack_fail", ack(False))
write("fuzz_notification", "ack_fail_short", ack(False)[:9])
write("fuzz_notification", "short", report(0, 10, 20, 30, length=12))
write("fuzz_notification", "not_a_report", b"\xAA" + report(0)[1:])
write("fuzz_notification", "oversized", report(4, 1, 2, 3) + bytes(range(256)) * 5)

# --- events: a connection from start to stream ------------------------------------------------
def event(seed, kind):
    seed.rng(kind, 0, 9)


def database(seed, services):
    seed.boolean(True)                          # status 0
    seed.boolean(True).rng(len(services), 0, 6)
    for uuid, characteristics in services:
        if uuid == 0xFAEA:
            seed.boolean(True)
        else:
            seed.boolean(False).u16(uuid)
        seed.u16(16).u16(1).u16(0x20).rng(len(characteristics), 0, 3)
        for value_handle, descriptors in characteristics:
            seed.u16(0xFAEB).u8(0x12).u16(value_handle).u16(value_handle - 1)
            seed.rng(len(descriptors), 0, 2)
            for handle in descriptors:
                seed.u16(0x2902).u16(handle)


def connection(broken_database=False):
    s = Seed()
    s.u8(0x00)                                  # the scan is accepted
    event(s, 0); s.boolean(False).u64(1)        # dongle ready
    event(s, 1); address(s, 0x1234, 0x56, 0x789ABC); s.i16(-60).boolean(True)
    s.string("IMU Controller A")
    event(s, 1); address(s, 0x00AB, 0x0C, 0x00000D); s.i16(-70).boolean(False)
    event(s, 2); s.boolean(True).u32(1); address(s, 0x1234, 0x56, 0x789ABC)
    event(s, 3); address(s, 0x1234, 0x56, 0x789ABC); s.u32(1)
    event(s, 5); s.u32(1).u16(7).u16(6).u16(6)
    if broken_database:
        database(s, [(0x1800, [(3, [])]), (0xFAEA, [(0x0D, [])]), (0xFAEA, [])])
    else:
        database(s, [(0x1800, [(3, [])]), (0xFAEA, [(0x0D, [0x0E]), (0x10, [])])])
    event(s, 7); s.boolean(True)
    event(s, 8); s.rng(20, 0, 2048); s.raw(report(0, 900, -450, 10)); s.u32(1).u16(0x0D)
    event(s, 8); s.rng(20, 0, 2048); s.raw(report(4, 150, -20, 3)); s.u32(1).u16(0x0D)
    event(s, 8); s.rng(20, 0, 2048); s.raw(ack(True)); s.u32(1).u16(0x0D)
    event(s, 4); s.u32(1).u16(8).u16(8)         # link lost
    event(s, 9); s.u32(11).u16(0x1234)
    return s.bytes()


write("fuzz_events", "connection", connection())
write("fuzz_events", "broken_database", connection(broken_database=True))
s = Seed(); s.u8(0x00); event(s, 0); s.boolean(True)        # no dongle
write("fuzz_events", "no_dongle", s.bytes())
s = Seed(); s.u8(0x10); event(s, 0); s.boolean(False).u64(1)  # scan refused
write("fuzz_events", "scan_refused", s.bytes())

# --- connect: a flag byte (bit 0: connection parameters refused), then the text ------------
for name, text in [("valid", b"123456789ABC"), ("lower", b"00ab0c00000d"),
                   ("short", b"123456789AB"), ("long", b"123456789ABCD"),
                   ("space", b"12345678 9AB"), ("sign", b"-23456789ABC"),
                   ("prefix", b"0x3456789ABC"), ("empty", b""),
                   ("nul_inside", b"123456\x00789ABC")]:
    write("fuzz_connect", name, b"\x00" + text)
write("fuzz_connect", "params_refused", b"\x01FFFFFFFFFFFF")

# --- device list: the pool, then sightings -----------------------------------------------------
def sightings(names):
    s = Seed()
    for lap in (0x789ABC, 0x0D, 0xFFFFFF, 0):
        s.u32(lap)
    for pool, name in names:
        s.rng(pool, 0, 3).boolean(False).u16(0).u8(0)
        if name is None:
            s.boolean(False)
        elif name == 248:
            s.boolean(True).boolean(True).rng(0x41, 1, 255)
        else:
            s.boolean(True).boolean(False).string(name)
    return s.bytes()


write("fuzz_devicelist", "rules", sightings([
    (0, "IMU Controller A"), (0, None), (1, None), (1, "Named later"),
    (2, "Unknown Device"), (2, "Renamed"), (3, 248), (0, b"\xff\xfe\xc3\x28"),
    (1, b"tab\there\x01\x7f"), (0, "")]))

# --- device page: announcements with codes, names and address texts --------------------------
def announcements(items):
    s = Seed()
    codes = [-2, 0, 1, 2, 3, 3, 3, 3, 5, 1000]
    for code, name, addr in items:
        s.rng(codes.index(code), 0, len(codes) - 1)
        if name == 248:
            s.boolean(True).rng(0xE9, 1, 255)
        else:
            s.boolean(False).string(name)
        if isinstance(addr, int):
            s.boolean(True).u16(addr >> 32).u32(addr & 0xFFFFFFFF)
        else:
            s.boolean(False).string(addr)
        s.boolean(False)
    return s.bytes()


write("fuzz_devicepage", "announcements", announcements([
    (2, "uEnergy Host library is intialized\n", b""),
    (3, "IMU Controller A", 0x123456789ABC), (3, "IMU Controller A", 0x123456789ABC),
    (3, 248, 0x00AB0000000D), (3, b"\xc3\x28\xa0\xa1\x01\x1b[31m", b"not an address"),
    (3, "", b""), (-2, "Close All the button!\n", b""), (1000, "x", b"y")]))

# --- parameter frames: six values and a seed from the end, then bytes written ------------
def params(values, written, seed=1):
    s = Seed()
    for v in values:
        s.i16(v)
    s.u32(seed)
    s.raw(written)
    return s.bytes()


def frame(values):
    max_x, max_y, max_z, min_x, min_y, min_z = values
    body = bytearray(b"\x5A\x04\x01")
    for v in (max_x, min_x, max_y, min_y, max_z, min_z):
        body += struct.pack(">h", v)
    body += b"\x00\x00\x00"
    body.append(sum(body[1:18]) & 0xFF)
    body.append(0xA5)
    return bytes(body)


good = frame((120, 35, 200, -75, -200, -3))
write("fuzz_paramframe", "zeros", params((0,) * 6, frame((0,) * 6)))
write("fuzz_paramframe", "extremes", params((32767, 200, -1, -32768, -200, 256), good))
bad_sum = bytearray(good); bad_sum[18] ^= 1
write("fuzz_paramframe", "bad_checksum", params((1, 2, 3, 4, 5, 6), bad_sum))
bad_head = bytearray(good); bad_head[1] = 0x05; bad_head[18] = (bad_head[18] + 1) & 0xFF
write("fuzz_paramframe", "other_command", params((1, 2, 3, 4, 5, 6), bad_head))
write("fuzz_paramframe", "short", params((9, 9, 9, -9, -9, -9), good[:19]))
write("fuzz_paramframe", "long", params((9, 9, 9, -9, -9, -9), good + b"\x00"))
