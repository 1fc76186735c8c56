#!/usr/bin/env python3
"""plugin-host interrupted by real signals, on Linux.

Each run starts plugin-host as the leader of a session of its own (setsid),
over a program that records its process id and that of a child it started,
then waits for a "go" file that never comes. The signal goes either to the
whole process group, as a terminal's Ctrl-C does, or to plugin-host alone,
as timeout(1) or an editor ending its job does. Afterwards: the exit status
is 128 + the signal number (an exit, not a death by the signal), the file
and standard output hold no new text, no temporary file is left in the
run's directory nor beside the file, and neither program is still running
(a zombie counts as ended: the first process of this machine may not reap).

Callers that ignore a signal (trap '' HUP, trap '' INT, nohup) keep it
ignored: the signal changes nothing and the run finishes normally.

In a pseudo-terminal: a message box that waits for Enter does not hold up
an interruption, and where standard error is the same file as standard
output the box goes to the terminal and the file gets the text alone.

Without /proc (an empty tmpfs over it, in a mount namespace of its own),
SIGTERM still ends the program at once. A long --in-place batch whose
program leaves a short-lived background child behind each time leaves no
zombie under plugin-host, which adopts those children as a subreaper.

Usage: host_interrupt_test.py PLUGIN_HOST MODULE
"""
import fcntl
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_support import check, running, summary, wait_for  # noqa: E402

HOST, MODULE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
TEXT = b"select a from b;\n-- done\n"
PROGRAM = """#!/bin/sh
# usage: program.sh DIR MODE INPUT
dir=$1
if [ "$2" = stubborn ]; then
    (trap '' TERM; exec sleep 600) &
else
    sleep 600 &
fi
child=$!
echo "$$ $child" >"$dir/pids.new" && mv "$dir/pids.new" "$dir/pids"
while [ ! -e "$dir/go" ]; do sleep 0.05; done
kill -KILL "$child"
tr a-z A-Z <"$3"
"""


def default_signals():
    """In the child before exec: the interrupting signals at their default,
    whatever the test's own caller ignores."""
    for number in (signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM):
        signal.signal(number, signal.SIG_DFL)


class Scene:
    """A private copy of host and module, with the settings beside them, a
    directory for the run's temporary files and one for the edited file."""

    def __init__(self, root, mode="plain", run_section=""):
        self.root = root
        for name in ("bin", "work", "files", "program"):
            os.makedirs(os.path.join(root, name), exist_ok=True)
        shutil.copy(HOST, os.path.join(root, "bin", "plugin-host"))
        shutil.copy(MODULE, os.path.join(root, "bin", os.path.basename(MODULE)))
        self.host = os.path.join(root, "bin", "plugin-host")
        self.state = os.path.join(root, "program")
        program = os.path.join(root, "program.sh")
        with open(program, "w") as out:
            out.write(PROGRAM)
        self.settings("/bin/sh %s %s %s %%f" % (program, self.state, mode), run_section)
        self.file = os.path.join(root, "files", "text.sql")
        self.reset()

    def settings(self, command, run_section=""):
        """The settings file beside the module: the command line, the run's
        directory, and the [Run] section given."""
        with open(os.path.join(self.root, "bin", "external_preprocessor.ini"), "w") as out:
            out.write("[Path]\nWorkingDirectory=%s\nCommandLine=%s\n%s"
                      % (os.path.join(self.root, "work"), command, run_section))

    def reset(self):
        for name in ("pids", "go"):
            path = os.path.join(self.state, name)
            if os.path.exists(path):
                os.unlink(path)
        with open(self.file, "wb") as out:
            out.write(TEXT)

    def pids(self):
        path = os.path.join(self.state, "pids")
        if not wait_for(lambda: os.path.exists(path), 20):
            return []
        with open(path) as pids:
            return [int(word) for word in pids.read().split()]

    def release(self):
        open(os.path.join(self.state, "go"), "w").close()

    def left_over(self):
        """Files left in the run's directory and beside the edited file."""
        return sorted(os.listdir(os.path.join(self.root, "work"))) + sorted(
            name for name in os.listdir(os.path.join(self.root, "files")) if name != "text.sql")

    def file_text(self):
        with open(self.file, "rb") as text:
            return text.read()


def start(args, stdin=subprocess.DEVNULL, preexec=default_signals, **kwargs):
    return subprocess.Popen(args, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            start_new_session=True, preexec_fn=preexec, **kwargs)


def end(process, seconds=30):
    """Waits for the process; kills it when it takes longer. Returns its
    standard output and error (None where not piped) and whether it ended
    in time."""
    try:
        out, err = process.communicate(timeout=seconds)
        return out, err, True
    except subprocess.TimeoutExpired:
        process.kill()
        out, err = process.communicate()
        return out, err, False


def interrupted(scene, name, number, to_group, in_place):
    """One run ended by a signal; checks everything an interruption
    promises."""
    scene.reset()
    what = "%s to the %s, %s" % (signal.Signals(number).name, "group" if to_group else "host",
                                 "in place" if in_place else "to standard output")
    args = [scene.host, "run"] + (["--in-place", scene.file] if in_place else [scene.file])
    process = start(args)
    pids = scene.pids()
    check(len(pids) == 2, what + ": the program started and recorded its child")
    if to_group:
        os.killpg(process.pid, number)
    else:
        process.send_signal(number)
    out, err, ended = end(process)
    check(ended, what + ": plugin-host ended")
    check(process.returncode == 128 + number,
          "%s: exit status %d, not %d" % (what, process.returncode, 128 + number))
    check(out == b"", what + ": no text on standard output (got %r)" % out[:80])
    check(scene.file_text() == TEXT, what + ": the file keeps its text")
    check(scene.left_over() == [], what + ": no temporary file left: %s" % scene.left_over())
    check(all(wait_for(lambda: not running(pid), 5) for pid in pids),
          what + ": no program left running: %s" % [pid for pid in pids if running(pid)])
    check(b"ended by" in err, what + ": says it was ended (%r)" % err)


def ignored(scene, caller, number, what):
    """A signal the caller ignores changes nothing: the run finishes."""
    scene.reset()
    process = start(caller + [scene.host, "run", "--in-place", scene.file])
    pids = scene.pids()
    check(len(pids) == 2, what + ": the program started")
    os.killpg(process.pid, number)
    # Give a wrongly taken-over signal the time to end the program.
    time.sleep(0.5)
    check(all(running(pid) for pid in pids), what + ": the programs still run")
    scene.release()
    out, err = process.communicate(timeout=30)
    check(process.returncode == 0, "%s: exit status %d (%r)" % (what, process.returncode, err))
    check(scene.file_text() == TEXT.upper(), what + ": the file holds the new text")
    check(scene.left_over() == [], what + ": no temporary file left")


def read_terminal(master, until, seconds=20.0):
    """Reads the terminal's output until a byte string appears in it."""
    seen = b""
    deadline = time.time() + seconds
    while until not in seen and time.time() < deadline:
        ready, _, _ = select.select([master], [], [], 0.1)
        if ready:
            try:
                seen += os.read(master, 4096)
            except OSError:
                break
    return seen


def in_terminal(scene, stdout, stderr_is_stdout):
    """Starts plugin-host run over the file in a new pseudo-terminal, which
    is its controlling terminal and its standard input (and its standard
    error unless that is standard output)."""
    master, slave = pty.openpty()

    def controlling():
        default_signals()
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)

    process = subprocess.Popen([scene.host, "run", scene.file], stdin=slave, stdout=stdout,
                               stderr=stdout if stderr_is_stdout else slave,
                               start_new_session=True, preexec_fn=controlling)
    os.close(slave)
    return process, master


def box_on_terminal(root, stderr_is_stdout):
    """Runs plugin-host over a program that cannot start, in a new
    pseudo-terminal, until its box is on the terminal. Returns the scene,
    the process, the terminal's side to read and write, the file standard
    output goes to, and what the terminal showed."""
    scene = Scene(root)
    scene.settings("%s/missing-program %%f" % root)
    output = os.path.join(root, "out")
    with open(output, "wb") as out:
        process, master = in_terminal(scene, out, stderr_is_stdout)
    return scene, process, master, output, read_terminal(master, b"Execute Error!")


def box_does_not_hold_up(root):
    """A box waiting for Enter on the terminal: SIGTERM still ends the run."""
    scene, process, master, output, screen = box_on_terminal(root, False)
    check(b"Execute Error!" in screen, "the box is on the terminal: %r" % screen[-200:])
    process.send_signal(signal.SIGTERM)
    end(process)
    os.close(master)
    check(process.returncode == 128 + signal.SIGTERM,
          "a waiting box: SIGTERM ends the run (status %s)" % process.returncode)
    check(os.path.getsize(output) == 0, "a waiting box: no text written")
    check(scene.left_over() == [], "a waiting box: no temporary file left")


def message_to_terminal(root):
    """Standard error is standard output (2>&1): the box goes to the
    terminal, the file gets exactly the text the run kept."""
    _, process, master, output, screen = box_on_terminal(root, True)
    check(b"Execute Error!" in screen, "2>&1: the box is on the terminal: %r" % screen[-200:])
    os.write(master, b"\r")
    end(process)
    os.close(master)
    check(process.returncode == 1, "2>&1: exit status 1 (%s)" % process.returncode)
    with open(output, "rb") as out:
        written = out.read()
    check(written == TEXT, "2>&1: the file holds the kept text alone: %r" % written)


def while_reading(root):
    """A signal while plugin-host still reads standard input ends it at
    once, without output."""
    scene = Scene(root)
    reader, writer = os.pipe()
    process = start([scene.host, "run"], stdin=reader)
    os.close(reader)
    os.write(writer, b"part of a text")
    time.sleep(0.2)
    process.send_signal(signal.SIGTERM)
    out, _ = process.communicate(timeout=30)
    os.close(writer)
    check(process.returncode == 128 + signal.SIGTERM,
          "while reading: exit status %s" % process.returncode)
    check(out == b"", "while reading: no output")


def without_proc(root):
    """/proc hidden from plugin-host: SIGTERM ends the program's group at
    once, and plugin-host exits with 143."""
    scene = Scene(root)
    module = os.path.join(root, "bin", os.path.basename(MODULE))
    with open(scene.host, "rb") as host:
        if b"__asan_init" in host.read():
            # Its runtime reads its options and checks leaks through /proc.
            print("SKIP: without /proc: a build with AddressSanitizer cannot end cleanly")
            return
    hide = "mount -t tmpfs none /proc && exec \"$0\" \"$@\""
    process = start(["unshare", "-m", "--propagation", "private", "sh", "-c", hide, scene.host,
                     "run", "--module", module, "--in-place", scene.file])
    pids = scene.pids()
    if not pids:
        process.kill()
        _, err = process.communicate()
        if b"unshare" in err or b"mount" in err:
            print("SKIP: no mount namespace of its own can be made here (needs root): %r" % err)
            return
    check(len(pids) == 2, "without /proc: the program started and recorded its child")
    process.send_signal(signal.SIGTERM)
    _, err, _ = end(process)
    check(process.returncode == 128 + signal.SIGTERM,
          "without /proc: exit status %s (%r)" % (process.returncode, err))
    check(all(wait_for(lambda: not running(pid), 5) for pid in pids),
          "without /proc: the program and its child ended: %s" % [p for p in pids if running(p)])
    check(scene.file_text() == TEXT, "without /proc: the file keeps its text")
    for pid in pids:
        if running(pid):
            os.kill(pid, signal.SIGKILL)


ZOMBIE_PROGRAM = """#!/bin/sh
# Leaves a short-lived child behind, which plugin-host adopts; the text
# "WAIT" waits until every such child before has ended, and "LAST" writes
# how many children of plugin-host are zombies instead of the text.
sleep 0.1 &
case $(head -c 4 "$1") in
WAIT) sleep 0.4 ;;
LAST)
    cat /proc/[0-9]*/stat 2>/dev/null | awk -v host="$PPID" '
        { rest = $0; sub(/.*\) /, "", rest); split(rest, field, " ")
          if (field[1] == "Z" && field[2] == host) zombies++ }
        END { print "zombies " zombies + 0 }'
    exit 0 ;;
esac
cat "$1"
"""


def no_zombies(root):
    """150 files in place, each program leaving a background child: after
    the batch's last but one run, plugin-host has no zombie child."""
    scene = Scene(root)
    program = os.path.join(root, "zombies.sh")
    with open(program, "w") as out:
        out.write(ZOMBIE_PROGRAM)
    scene.settings("/bin/sh %s %%f" % program)
    files = []
    for number in range(150):
        path = os.path.join(root, "files", "batch%03d.sql" % number)
        with open(path, "w") as out:
            out.write("WAIT\n" if number == 148 else "LAST\n" if number == 149 else
                      "text %d\n" % number)
        files.append(path)
    process = start([scene.host, "run", "--in-place"] + files)
    _, err, _ = end(process, 120)
    check(process.returncode == 0, "batch: exit status %s (%r)" % (process.returncode, err[-300:]))
    with open(files[0]) as first, open(files[-1]) as last:
        check(first.read() == "text 0\n", "batch: the first file keeps its text")
        report = last.read()
    check(report == "zombies 0\n", "batch: no zombie under plugin-host (%r)" % report)


def main():
    root = tempfile.mkdtemp(prefix="ep-interrupt-")
    try:
        scene = Scene(os.path.join(root, "plain"))
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT):
            for to_group in (True, False):
                interrupted(scene, "plain", number, to_group, in_place=True)
        interrupted(scene, "plain", signal.SIGINT, True, in_place=False)
        interrupted(scene, "plain", signal.SIGTERM, False, in_place=False)

        # A child that ignores SIGTERM is ended forcefully after the grace.
        stubborn = Scene(os.path.join(root, "stubborn"), mode="stubborn")
        interrupted(stubborn, "stubborn", signal.SIGTERM, False, in_place=True)
        interrupted(stubborn, "stubborn", signal.SIGINT, True, in_place=True)

        # A program with a time limit leads a process group of its own, which
        # the terminal's Ctrl-C does not reach: plugin-host ends it.
        limited = Scene(os.path.join(root, "limited"), run_section="[Run]\nTimeLimit=600\n")
        interrupted(limited, "plain", signal.SIGINT, True, in_place=True)
        interrupted(limited, "plain", signal.SIGHUP, False, in_place=True)

        ignored(scene, ["bash", "-c", "trap '' HUP; exec \"$0\" \"$@\""], signal.SIGHUP,
                "trap '' HUP caller")
        ignored(scene, ["bash", "-c", "trap '' INT; exec \"$0\" \"$@\""], signal.SIGINT,
                "trap '' INT caller")
        ignored(scene, ["nohup"], signal.SIGHUP, "nohup")

        while_reading(os.path.join(root, "reading"))
        without_proc(os.path.join(root, "no-proc"))
        no_zombies(os.path.join(root, "zombies"))
        box_does_not_hold_up(os.path.join(root, "box"))
        message_to_terminal(os.path.join(root, "terminal"))
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
