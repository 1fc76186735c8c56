"""Driving programs in a real terminal for the tests: an interactive bash in
a tmux pane on a private server, keys in with send-keys, the screen back with
capture-pane. Each check that fails is printed and counted."""
import os
import subprocess
import time

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAILED:", message)


def wait_for(predicate, seconds=10.0):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return False


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
