"""What the Python tests share: checks that are counted, each failure printed
on a line of its own, and the count at the end; waiting for a condition;
whether a process still runs; and driving programs in a real terminal: an
interactive bash in a tmux pane on a private server, keys in with send-keys,
the screen back with capture-pane."""
import os
import shutil
import subprocess
import tempfile
import time

failures = []
passes = 0


def check(condition, message):
    global passes
    if condition:
        passes += 1
    else:
        failures.append(message)
        print("FAIL:", message)


def summary():
    """Prints the counts; returns the exit status, 1 when a check failed or
    none was made."""
    print("%d passed, %d failed" % (passes, len(failures)))
    return 1 if failures or passes == 0 else 0


def wait_for(predicate, seconds=10.0, interval=0.1):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(interval)
    return False


def running(pid):
    """Whether the process runs: neither gone nor a zombie (a zombie counts
    as ended: the first process of this machine may not reap)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            state = stat.read().rsplit(")", 1)[1].split()[0]
    except (OSError, IndexError):
        return False
    return state not in ("Z", "X")


class Pane:
    """A tmux session of its own, in `directory`, running bash with job
    control and without the user's start-up files."""

    def __init__(self, directory, name, columns=100, rows=30):
        self.socket = "ep-%s-%d" % (name, os.getpid())
        self.directory = directory
        self.tmux("new-session", "-d", "-x", str(columns), "-y", str(rows), "-c", directory,
                  "env -i PATH=/usr/bin:/bin TERM=screen LANG=C.UTF-8 bash --norc --noprofile")

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), check=True,
                              capture_output=True, text=True).stdout

    def screen(self):
        return self.tmux("capture-pane", "-p")

    def keys(self, *keys):
        self.tmux("send-keys", *keys)
        time.sleep(0.3)

    def resize(self, columns, rows):
        self.tmux("resize-window", "-x", str(columns), "-y", str(rows))
        time.sleep(0.3)

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)


def in_pane(test, module, name, pane_class=Pane, **size):
    """Runs test(pane, module_copy) in a pane of its own, whose directory is
    a private folder holding a copy of `module`; the folder goes afterwards.
    Returns the exit status: 1 without tmux or when a check failed."""
    if shutil.which("tmux") is None:
        print("FAIL: tmux is not installed")
        return 1
    directory = tempfile.mkdtemp(prefix="ep-%s-" % name)
    copy = os.path.join(directory, os.path.basename(module))
    shutil.copy(module, copy)
    pane = pane_class(directory, name, **size)
    try:
        test(pane, copy)
    finally:
        pane.close()
        shutil.rmtree(directory, ignore_errors=True)
    return summary()
