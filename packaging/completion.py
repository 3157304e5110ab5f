#!/usr/bin/env python3
# SPDX-FileCopyrightText: IMU Calibration Tool developers
# SPDX-License-Identifier: MIT
"""Writes a program's shell completion from what the program itself prints for --help.

    completion.py bash|zsh NAME OUTPUT -- COMMAND [ARG...]

Runs COMMAND --help, reads the option list that Qt's command-line parser prints ("  -h, --help",
"  --record <FILE>", descriptions wrapped below), and writes the completion of NAME for bash
(a function for bash-completion's loader) or zsh (a #compdef file for _arguments). An option
whose value is named FILE completes file names; other values are left to the user. The build
runs this, so every option the program takes is completed.
"""
import re
import subprocess
import sys

OPTION = re.compile(r"^  (?:-(?P<short>[A-Za-z0-9]), )?--(?P<long>[A-Za-z0-9][A-Za-z0-9-]*)"
                    r"(?: <(?P<value>[^>]+)>)?(?:\s{2,}(?P<text>\S.*))?$")


class Option:
    def __init__(self, short, long, value, text):
        self.short, self.long, self.value = short, long, value
        self.text = text or ""


def parse_help(text):
    """The options of an --help text, in its order."""
    options, in_list = [], False
    for line in text.splitlines():
        if line.strip() == "":
            in_list = False
            continue
        if line.rstrip().endswith("Options:") or line.rstrip() == "Arguments:":
            in_list = line.rstrip().endswith("Options:")
            continue
        if not in_list:
            continue
        match = OPTION.match(line)
        if match:
            options.append(Option(match["short"], match["long"], match["value"], match["text"]))
        elif options and line.startswith("   "):
            options[-1].text = (options[-1].text + " " + line.strip()).strip()
    return options


def takes_files(option):
    return option.value == "FILE"


def bash(name, options):
    function = "_" + re.sub(r"[^A-Za-z0-9]", "_", name)
    words = []
    for o in options:
        words += ([f"-{o.short}"] if o.short else []) + [f"--{o.long}"]
    files = [f"--{o.long}" for o in options if o.value and takes_files(o)]
    others = [f"--{o.long}" for o in options if o.value and not takes_files(o)]
    cases = ""
    if files:
        cases += f"        {'|'.join(files)})\n            _filedir\n            return\n            ;;\n"
    if others:
        cases += f"        {'|'.join(others)})\n            return\n            ;;\n"
    return f"""# bash completion for {name}, made from its --help by packaging/completion.py
# shellcheck shell=bash

{function}()
{{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
{cases}    esac
    $split && return

    COMPREPLY=($(compgen -W '{" ".join(words)}' -- "$cur"))
}} &&
    complete -F {function} {name}
"""


def zsh_quote(text):
    text = text.replace("\\", "\\\\").replace("[", "\\[").replace("]", "\\]").replace(":", "\\:")
    return text.replace("'", "'\\''")


def zsh(name, options):
    entries = []
    for o in options:
        text = zsh_quote(o.text)
        # --help and --version end the command line: nothing else is offered with them.
        exclusive = "(- *)" if o.long in ("help", "help-all", "version") else ""
        if o.value:
            arg = f":{zsh_quote(o.value)}:{'_files' if takes_files(o) else ' '}"
            if o.short:
                entries.append(f"'{exclusive}-{o.short}[{text}]{arg}'")
            entries.append(f"'{exclusive}--{o.long}=[{text}]{arg}'")
        elif o.short:
            entries.append(f"'{exclusive}'{{-{o.short},--{o.long}}}'[{text}]'")
        else:
            entries.append(f"'{exclusive}--{o.long}[{text}]'")
    body = " \\\n    ".join(entries)
    return f"""#compdef {name}
# zsh completion for {name}, made from its --help by packaging/completion.py

_arguments -s -S \\
    {body}
"""


def main(argv):
    if len(argv) < 6 or argv[1] not in ("bash", "zsh") or argv[4] != "--":
        sys.exit(__doc__.strip().splitlines()[2].strip())
    shell, name, output, command = argv[1], argv[2], argv[3], argv[5:]
    help_text = subprocess.run(command + ["--help"], check=True, capture_output=True,
                               text=True).stdout
    options = parse_help(help_text)
    if not options:
        sys.exit(f"completion.py: no options found in the --help of {command[0]}")
    with open(output, "w", encoding="utf-8") as f:
        f.write(bash(name, options) if shell == "bash" else zsh(name, options))


if __name__ == "__main__":
    main(sys.argv)
