#!/usr/bin/env python3
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT
"""Gives every source file a two-line SPDX header: who holds the copyright, and the licence.

    tools/spdx.py [--check] [FILE...]

Without FILE, every file git tracks; with FILE, only those. A file already has its header when
both lines appear among its first ten lines. Without --check the header goes into each file that
lacks it, in the file's own comment syntax: after a "#!" line or an XML declaration, otherwise at
the very top, followed by a blank line. With --check nothing is written: the files without a
header are listed and the exit status is 1.

Pictures, fuzz corpora, Markdown, the licence and the Debian changelog carry none: they are no
source, or their format has no comments.
"""
import argparse
import os
import subprocess
import sys

HOLDER = "IMU Calibration Tool developers"
LICENSE = "MIT"
TAGS = ("SPDX-FileCopyrightText:", "SPDX-License-Identifier:")
HEADER_LINES = 10

LINE_COMMENT = {".cpp": "//", ".cc": "//", ".c": "//", ".h": "//", ".hpp": "//",
                ".py": "#", ".sh": "#", ".bash": "#", ".zsh": "#", ".cmake": "#", ".supp": "#",
                ".desktop": "#", ".h2m": "#", ".yml": "#", ".yaml": "#"}
XML_SUFFIXES = {".ui", ".xml", ".svg"}
HASH_NAMES = {"CMakeLists.txt", ".gitignore", ".clang-tidy", ".gitattributes"}
SKIPPED_DIRS = ("fuzz/corpus/",)


def repo_root():
    here = os.path.dirname(os.path.abspath(__file__))
    return subprocess.run(["git", "rev-parse", "--show-toplevel"], cwd=here, check=True,
                          capture_output=True, text=True).stdout.strip()


def tracked_files(root):
    out = subprocess.run(["git", "ls-files", "-z"], cwd=root, check=True,
                         capture_output=True).stdout
    return [p for p in out.decode().split("\0") if p]


def comment_style(path, text):
    """'//', '#' or 'xml' for a file that takes a header; None for one that takes none."""
    if any(path.startswith(d) for d in SKIPPED_DIRS):
        return None
    name = os.path.basename(path)
    stem, suffix = os.path.splitext(name)
    if suffix == ".in":   # a template takes the syntax of what it makes
        suffix = os.path.splitext(stem)[1]
    if name in HASH_NAMES:
        return "#"
    if suffix in XML_SUFFIXES:
        return "xml"
    if suffix == ".conf":
        return "xml" if text.lstrip().startswith("<") else "#"
    if suffix in LINE_COMMENT:
        return LINE_COMMENT[suffix]
    if text.startswith("#!"):
        return "#"
    return None


def header(style):
    lines = [f"{TAGS[0]} {HOLDER}", f"{TAGS[1]} {LICENSE}"]
    if style == "xml":
        return [f"<!-- {line} -->\n" for line in lines]
    return [f"{style} {line}\n" for line in lines]


def has_header(text):
    head = "".join(text.splitlines(keepends=True)[:HEADER_LINES])
    return all(tag in head for tag in TAGS)


def with_header(text, style):
    lines = text.splitlines(keepends=True)
    at = 0
    if lines and (lines[0].startswith("#!") or (style == "xml" and lines[0].startswith("<?xml"))):
        at = 1
        if not lines[0].endswith("\n"):
            lines[0] += "\n"
    rest = lines[at:]
    blank = [] if not rest or rest[0].strip() == "" else ["\n"]
    return "".join(lines[:at] + header(style) + blank + rest)


def read_text(path):
    """The file's text, or None for a binary or non-UTF-8 file."""
    with open(path, "rb") as f:
        data = f.read()
    if b"\0" in data:
        return None
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return None


def main():
    parser = argparse.ArgumentParser(description="Adds or checks the SPDX header of source files.")
    parser.add_argument("--check", action="store_true",
                        help="write nothing; list the files without a header and exit 1 if any")
    parser.add_argument("files", nargs="*", help="only these files (default: every tracked file)")
    args = parser.parse_args()

    root = repo_root()
    if args.files:
        paths = list(dict.fromkeys(os.path.relpath(os.path.abspath(p), root) for p in args.files))
    else:
        paths = tracked_files(root)

    checked, missing, partial = 0, [], []
    for path in paths:
        full = os.path.join(root, path)
        if not os.path.isfile(full):
            continue
        text = read_text(full)
        if text is None:
            continue
        style = comment_style(path, text)
        if style is None:
            continue
        checked += 1
        if has_header(text):
            continue
        missing.append(path)
        if any(tag in text for tag in TAGS):
            partial.append(path)   # one line without the other: a person decides
        elif not args.check:
            with open(full, "w", encoding="utf-8") as f:
                f.write(with_header(text, style))

    if args.check:
        for path in missing:
            print(f"no SPDX header: {path}")
        print(f"spdx.py: {len(missing)} of {checked} source files have no SPDX header")
        return 1 if missing else 0
    for path in missing:
        if path in partial:
            print(f"only one of the two SPDX lines, left alone: {path}")
        else:
            print(f"header added: {path}")
    print(f"spdx.py: added a header to {len(missing) - len(partial)} of {checked} source files")
    return 1 if partial else 0


if __name__ == "__main__":
    sys.exit(main())
