#!/usr/bin/env python3
"""Error boxes from jobs of an interactive shell: bash with job control in a
tmux pane runs plugin-host over a file with a settings file whose program
cannot start, standard error on the terminal. A background job must end on
its own with the message on standard error, never stop for reading the
terminal; a job that is stopped while its box waits and sent to the
background must end too.

Usage: message_job_test.py PLUGIN_HOST MODULE
"""
import os
import re
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_support import check, in_pane, wait_for  # noqa: E402

HOST, MODULE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
PROGRAM = "/nonexistent/ep-no-such-program"
SETTINGS = b"[Path]\nWorkingDirectory=\nCommandLine=" + PROGRAM.encode() + b" %f\n"
# The exit status of a run that kept the text; bash reports a stopped job
# as 128 + the signal, 149 for SIGTTIN.
KEPT = "1"


def status_of(pane, marker):
    """Waits for the line "<marker>=N" that the shell prints; returns N."""
    found = []

    def printed():
        found[:] = re.findall(r"^%s=(\d+)\s*$" % marker, pane.screen(), re.MULTILINE)
        return bool(found)

    check(wait_for(printed, 20), "the shell never printed %s=" % marker)
    return found[0] if found else None


def jobs(pane, module):
    with open(os.path.splitext(module)[0] + ".ini", "wb") as file:
        file.write(SETTINGS)
    with open(os.path.join(pane.directory, "text"), "wb") as file:
        file.write(b"keep me\n")
    command = "'%s' run --module '%s' text > out" % (HOST, module)

    # 1. A background job: the one-line message on the terminal, and the job
    #    ends with the status of a kept text; `wait` would return 149 for a
    #    job stopped by SIGTTIN.
    pane.keys("clear; %s & wait $!; echo background=$?" % command, "Enter")
    status = status_of(pane, "background")
    check(status == KEPT, "the background job ended with %s, not %s" % (status, KEPT))
    screen = pane.screen()
    check(("Execute Error!: %s " % PROGRAM) in screen,
          "the message did not reach standard error:\n" + screen)
    check("press Enter" not in screen, "a background job drew a framed box")
    pane.keys("clear; jobs; echo jobs-listed", "Enter")
    check(wait_for(lambda: "jobs-listed" in pane.screen()), "jobs did not answer")
    check("Stopped" not in pane.screen(), "a job is left stopped:\n" + pane.screen())

    # 2. In the foreground the box waits for Enter; stopped with Ctrl-Z and
    #    sent to the background with bg, it ends without stopping again on
    #    its read.
    pane.keys("clear; %s; echo foreground=$?" % command, "Enter")
    check(wait_for(lambda: "press Enter" in pane.screen()), "no framed box in the foreground")
    check("Execute Error!" in pane.screen(), "the box has no caption")
    pane.keys("C-z")
    check(wait_for(lambda: "Stopped" in pane.screen()), "Ctrl-Z did not stop the job")
    pane.keys("clear; bg; wait %1; echo resumed=$?", "Enter")
    status = status_of(pane, "resumed")
    check(status == KEPT, "the job sent to the background ended with %s, not %s"
          % (status, KEPT))


if __name__ == "__main__":
    sys.exit(in_pane(jobs, MODULE, "job"))
