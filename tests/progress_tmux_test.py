#!/usr/bin/env python3
"""The progress window's status line end to end in a real terminal:
plugin-host runs in a tmux pane on a private server, over a program that
sleeps three seconds, with its output to a file. The pane shows the status
line counting the seconds while the program runs and none after it. Ctrl-C
in the pane ends the run: plugin-host exits with 130, writes nothing, leaves
no temporary file, and the program and the process it started are gone.

Usage: progress_tmux_test.py PLUGIN_HOST MODULE TEST_PROGRAM
(TEST_PROGRAM is a test binary, which runs as the program in a child mode.)
"""
import os
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_support import check, in_pane, running, wait_for  # noqa: E402

HOST, MODULE, PROGRAM = (os.path.abspath(p) for p in sys.argv[1:4])
ADVICE = "Ctrl-C stops it"


def settings(module, work, command):
    """Writes the settings file; a command line in double quotes from end to
    end gets one more pair, which reading the value strips."""
    if command.startswith('"') and command.endswith('"'):
        command = '"%s"' % command
    path = os.path.splitext(module)[0] + ".ini"
    with open(path, "w") as file:
        file.write("[Path]\nWorkingDirectory=%s\nCommandLine=%s\n" % (work, command))


def start(pane, module):
    for name in ("out", "status"):
        path = os.path.join(pane.directory, name)
        if os.path.exists(path):
            os.unlink(path)
    pane.keys("clear; '%s' run --module '%s' input.sql > out; echo $? > status" % (HOST, module),
              "Enter")


def finish(pane):
    """Waits for plugin-host to end; returns its exit status and output."""
    status = os.path.join(pane.directory, "status")
    check(wait_for(lambda: os.path.exists(status) and os.path.getsize(status) > 0),
          "plugin-host did not end")
    time.sleep(0.2)
    with open(status) as file:
        code = file.read().strip()
    with open(os.path.join(pane.directory, "out"), "rb") as file:
        return code, file.read()


def status_line(pane):
    return [line for line in pane.screen().splitlines() if ADVICE in line]


def progress(pane, module):
    directory = pane.directory
    work = os.path.join(directory, "work")
    os.mkdir(work)
    with open(os.path.join(directory, "input.sql"), "w") as file:
        file.write("select 1;\n")

    # 1. The status line counts the seconds and goes with the run.
    settings(module, work, "\"%s\" --child pause 3000 -i \"%%f\"" % PROGRAM)
    start(pane, module)
    check(wait_for(lambda: any("(1 s)" in l for l in status_line(pane)), 5),
          "no status line with (1 s): %r" % pane.screen())
    lines = status_line(pane)
    check(any(l.startswith("Running: \"%s\" --child pause 3000 -i \"" % PROGRAM)
              for l in lines), "the status line does not show the command: %r" % lines)
    check(wait_for(lambda: any("(2 s)" in l for l in status_line(pane)), 5),
          "no status line with (2 s): %r" % pane.screen())
    code, out = finish(pane)
    check(code == "0" and out == b"slept", "the run did not replace the text: %s %r"
          % (code, out))
    check(status_line(pane) == [], "a status line stayed: %r" % pane.screen())
    check(os.listdir(work) == [], "left behind: %r" % os.listdir(work))

    # 2. Ctrl-C ends the run and the program with the process it started.
    ids = os.path.join(directory, "tree.txt")
    settings(module, work, "\"%s\" --child tree 20000 \"%s\"" % (PROGRAM, ids))
    start(pane, module)
    check(wait_for(lambda: any("(1 s)" in l for l in status_line(pane)), 5),
          "no status line before Ctrl-C: %r" % pane.screen())
    pane.keys("C-c")
    code, out = finish(pane)
    check(code == "130", "plugin-host exited with %s, not 130" % code)
    check(out == b"", "text written after Ctrl-C: %r" % out)
    check(status_line(pane) == [], "a status line stayed after Ctrl-C: %r" % pane.screen())
    check(os.listdir(work) == [], "left behind after Ctrl-C: %r" % os.listdir(work))
    with open(ids) as file:
        pids = [int(p) for p in file.read().split()]
    check(len(pids) == 2 and wait_for(lambda: not any(running(p) for p in pids), 3),
          "the program or its child still runs: %r" % pids)


if __name__ == "__main__":
    sys.exit(in_pane(progress, MODULE, "progress", columns=250))
