#!/usr/bin/env python3
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT

"""Plants known faults in the tool's code, one at a time, and counts how many the suite catches.

    tools/plant-faults.py [--commit REV] [--only ID[,ID...]] [--list]

Works in a scratch worktree of REV (default HEAD) under /tmp, so the tree it is started from is
never touched. For each fault: the exact text is replaced in one source file, the tool and the
tests are rebuilt, and the suite runs until its first failure (fast tests first, then the rest);
then the file is restored. A fault is caught when a test fails, and the first failing test is
named. A fault whose text is not in that commit is reported as "not planted".

Each fault is a plain mistake a developer could make: a wrong constant, a swapped field, a
missing branch. The list favours the controller's wire format, the worker's reactions, the
check and calibration arithmetic, the calibration's quality gate and what the window shows,
where a mistake reaches the user.
Needs an X display or xvfb-run (GUI tests). Takes a few minutes per fault.
"""
import argparse
import os
import re
import subprocess
import sys

# (id, file, original text, planted text, what goes wrong)
FAULTS = [
    ("sign-bit", "ble/protocol.cpp",
     "(v < 0 ? 0x80 : 0x00)", "(v < 0 ? 0x40 : 0x00)",
     "negative values are encoded with the wrong sign bit"),
    ("angle-wrap", "ble/protocol.cpp",
     "return float(tenths % 3600) * 0.1f;", "return float(tenths) * 0.1f;",
     "angles beyond a full turn are not brought back into one turn"),
    ("ack-success", "ble/protocol.cpp",
     "for (size_t i = 4; i <= 11; ++i)", "for (size_t i = 4; i <= 10; ++i)",
     "a success acknowledgement is recognised from one byte too few"),
    ("frame-order", "ble/protocol.cpp",
     "putBigEndian(&frame[5], param.min_x);", "putBigEndian(&frame[5], param.max_x);",
     "the frame carries the X maximum where the X minimum belongs"),
    ("checksum", "ble/protocol.cpp",
     "for (size_t i = 1; i <= 17; ++i)", "for (size_t i = 0; i <= 17; ++i)",
     "the frame's checksum includes its header byte"),
    ("address-parse", "ble/protocol.cpp",
     "value = (value << 4) | uint64_t(digit);", "value = (value << 3) | uint64_t(digit);",
     "address texts are read into the wrong address"),
    ("conn-params", "ble/btthread.cpp",
     "CsrBleHostSetConnectionParams(0xFFFF, 0xFFFF, 6, 6, 0, 500)",
     "CsrBleHostSetConnectionParams(0xFFFF, 0xFFFF, 6, 6, 0, 400)",
     "a connection asks for the wrong supervision timeout"),
    ("cccd-value", "ble/btthread.cpp",
     "first->descriptors[0].handle, reportHandle, 1);",
     "first->descriptors[0].handle, reportHandle, 2);",
     "indications are asked for instead of notifications"),
    ("link-loss", "ble/btthread.cpp",
     "            if (link != NoLink)\n                endLink(textLinkLost);",
     "            if (link == NoLink)\n                endLink(textLinkLost);",
     "a failed link is not announced, and the window keeps showing the controller"),
    ("save-unlinked", "ble/btthread.cpp",
     "if (link == Linked && handle != 0) {", "if (handle != 0) {",
     "a save goes out on a link that has ended"),
    ("ack-dropped", "ble/btthread.cpp",
     "return Protocol::decodeReport(event->data, length, scratch).ack == Protocol::ReportAck::None;",
     "return true;",
     "under a flood the controller's answer to a save may be dropped"),
    ("late-reports", "ble/btthread.cpp",
     "        if (linkGone)\n            break;\n", "",
     "reports of an ended link still reach the window"),
    ("check-limits", "calib/stationarycheck.cpp",
     "{limits.angle1, limits.angle2, limits.angle3}", "{limits.angle1, limits.angle3, limits.angle2}",
     "the check's limits are applied to the wrong angles"),
    ("check-wrap", "calib/stationarycheck.cpp",
     "if (change > 180.0f)", "if (change > 360.0f)",
     "a step across 0/360 degrees counts as almost a full turn"),
    ("first-pose", "calib/checksession.cpp",
     "lastPosData = firstOfLink ? pos : posData;", "lastPosData = posData;",
     "the first pose of a link is compared with the zero record"),
    ("bar-top", "calib/magcalibration.cpp",
     "const int top = ZeroLine - (int32_t(max) * HalfBar) / Limit;",
     "const int top = ZeroLine + (int32_t(max) * HalfBar) / Limit;",
     "the calibration bars grow from the wrong end"),
    ("button-lights", "view/model/controlsdisplay.cpp",
     "ButtonLight::Right, ButtonLight::Back,", "ButtonLight::Back, ButtonLight::Right,",
     "two buttons light each other's lights"),
    ("trigger-bar", "view/model/controlsdisplay.cpp",
     "return 158 - ((trig + 128) * 157) / 256;", "return 158 - ((trig + 127) * 157) / 256;",
     "the trigger bar is off by one step"),
    ("rocker-deadband", "view/model/controlsdisplay.cpp",
     "return std::abs(int(rockX)) > RockerDeadBand ||", "return std::abs(int(rockX)) >= RockerDeadBand ||",
     "the joystick light comes on at the edge of its rest band"),
    ("view-redraw", "view/displaygl.cpp",
     "if (!poseOnScreen() && isVisible())", "if (!poseOnScreen() && isVisible() && angle1 == 0.0f)",
     "the 3-D view stops following the controller once it has turned"),
    ("view-rotation", "view/displaygl.cpp",
     "glRotatef(-angle2, 0.0f, 0.0f, axisLength);", "glRotatef(angle2, 0.0f, 0.0f, axisLength);",
     "the model turns the wrong way about one axis"),
    ("save-box", "app/calibrationpage.cpp",
     "QStringLiteral(\"Save Parameter Failed!\")", "QStringLiteral(\"Save Parameter Failed\")",
     "a failed save shows the wrong text"),
    ("check-count-label", "app/calibrationpage.cpp",
     "ui->lab_count->setGeometry(552, 95, 150, 61);", "ui->lab_count->setGeometry(562, 95, 150, 61);",
     "the check's percentage moves away from where the window puts it"),
    ("runner-fail-status", "session/outcome.cpp",
     ": answer == WriteAnswer::Fail    ? StatusFailed", ": answer == WriteAnswer::Fail    ? StatusError",
     "a controller's 'fail' answer gives exit status 2 instead of 1"),
    ("listed-once", "session/controllersession.cpp",
     "        if (addresses.contains(address))\n            break;\n", "",
     "a controller seen again is listed again"),
    ("write-not-delivered", "session/controllersession.cpp",
     "case BtThread::WriteOutcome::NotDelivered: endWrite(WriteAnswer::NotSent); break;",
     "case BtThread::WriteOutcome::NotDelivered: endWrite(WriteAnswer::Fail); break;",
     "a frame the stack could not deliver is recorded as the controller's 'fail'"),
    ("gate-ignored", "headless/headlessrunner.cpp",
     "else if (options.save && !session.verdict().passed && !options.force)",
     "else if (options.save && !session.verdict().passed && options.force)",
     "--save writes a calibration that fails its gate"),
    ("unasked-answer", "ble/btthread.cpp",
     "    if (!writeWaiting) {", "    if (false) {",
     "an acknowledgement nobody asked for is announced and recorded as a write"),
    ("coverage-bins", "calib/magcoverage.cpp",
     "return first + std::clamp(int(turn * size), 0, size - 1);", "return first;",
     "coverage counts a whole ring as one region"),
    ("fit-midpoint", "calib/magquality.cpp",
     "midpoint[axis] = (extremes.max(axis) + extremes.min(axis)) / 2.0;",
     "midpoint[axis] = (extremes.max(axis) - extremes.min(axis)) / 2.0;",
     "fit error and field are measured from the wrong midpoint"),
    ("zero-placeholder", "calib/magrecording.cpp",
     "if (latest[axis] == 0 && quality.sampleCount() > 0)", "if (latest[axis] == 0)",
     "the zeros folded before any sample make every extreme look measured"),
    ("gate-outlier", "calib/calibrationgate.cpp",
     "if (f.setByOutlier[size_t(e)])\n            reasons <<",
     "if (f.setByOutlier[size_t(e)] && e >= 3)\n            reasons <<",
     "a maximum set by a spike passes the gate"),
]

FAST_TESTS = ("tst_protocol|tst_btthread|tst_stationarycheck|tst_magquality|tst_calibrationgate|"
              "tst_tickers|tst_virtualcontroller|"
              "tst_workeronvirtualdongle|tst_displaygl|tst_repaintpacer|tst_mainwindowform|tst_window$")


def run(cmd, cwd, env=None, timeout=None):
    return subprocess.run(cmd, cwd=cwd, env=env, timeout=timeout, text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


def failures(output):
    """The tests that failed, in the order they ended (ctest lists them by number instead)."""
    failed = []
    for m in re.finditer(r"Test\s+#\d+: (\S+) \.+\s*(\*+\w+|Subprocess|Exception)", output):
        if m.group(1) not in failed:
            failed.append(m.group(1))
    return failed or ["?"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--commit", default="HEAD")
    parser.add_argument("--only", default="")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    if args.list:
        for fid, path, _, _, what in FAULTS:
            print(f"{fid:20} {path:32} {what}")
        return 0

    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    sha = run(["git", "rev-parse", "--short", args.commit], root).stdout.strip()
    work = f"/tmp/imucal-plant-{sha}"
    if not os.path.isdir(work):
        subprocess.run(["git", "worktree", "add", "--detach", work, args.commit], cwd=root, check=True,
                       stdout=subprocess.DEVNULL)
    build = os.path.join(work, "build")
    subprocess.run(["cmake", "-S", work, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"], check=True,
                   stdout=subprocess.DEVNULL)
    jobs = str(os.cpu_count() or 2)
    print(f"== building {sha} in {build}", flush=True)
    subprocess.run(["cmake", "--build", build, "-j", jobs], check=True, stdout=subprocess.DEVNULL)

    ctest = ["ctest", "--test-dir", build, "--stop-on-failure", "-j", jobs, "--timeout", "600"]
    if not os.environ.get("DISPLAY"):
        ctest = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24"] + ctest

    only = set(filter(None, args.only.split(",")))
    planted = caught = 0
    for fid, path, original, fault, what in FAULTS:
        if only and fid not in only:
            continue
        source = os.path.join(work, path)
        text = open(source).read() if os.path.exists(source) else ""
        if text.count(original) != 1:
            print(f"{fid:20} not planted: the text is not in {path} exactly once", flush=True)
            continue
        with open(source, "w") as f:
            f.write(text.replace(original, fault))
        try:
            built = run(["cmake", "--build", build, "-j", jobs], work)
            if built.returncode != 0:
                print(f"{fid:20} not planted: does not build", flush=True)
                continue
            planted += 1
            result = run(ctest + ["-R", FAST_TESTS], work)
            if result.returncode == 0:
                result = run(ctest + ["-E", FAST_TESTS], work)
            if result.returncode != 0:
                caught += 1
                failed = failures(result.stdout)
                also = f" (also {', '.join(failed[1:])})" if len(failed) > 1 else ""
                print(f"{fid:20} caught by {failed[0]}{also}", flush=True)
            else:
                print(f"{fid:20} MISSED: {what}", flush=True)
        finally:
            with open(source, "w") as f:
                f.write(text)
    subprocess.run(["cmake", "--build", build, "-j", jobs], stdout=subprocess.DEVNULL)
    print(f"== {sha}: {caught} of {planted} planted faults caught")
    return 0


if __name__ == "__main__":
    sys.exit(main())
