#!/usr/bin/env python3
"""The settings dialog end to end in a real terminal: plugin-host runs in a
tmux pane on a private server, with standard input from /dev/null and standard
output to a file, so the dialog can only have used the controlling terminal.
Keys go in with send-keys and the screen comes back with capture-pane.

Usage: dialog_tmux_test.py PLUGIN_HOST MODULE
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_support import Pane, check, failures, wait_for  # noqa: E402

HOST, MODULE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
CAPTION = "Run external preprocessor plug-in Settings"
SETTINGS = b"[Path]\nWorkingDirectory=/tmp/work\nCommandLine=pre -i %f\n"


class DialogPane(Pane):
    def settings(self, module, shown=CAPTION):
        """Starts plugin-host settings and waits until `shown` is on the
        screen."""
        for name in ("result", "status", "stty-before", "stty-after"):
            path = os.path.join(self.directory, name)
            if os.path.exists(path):
                os.unlink(path)
        self.keys("clear; stty -g > stty-before; '%s' settings --module '%s' < /dev/null > result;"
                  " echo $? > status; stty -g > stty-after" % (HOST, module), "Enter")
        check(wait_for(lambda: shown in self.screen()), "%r did not appear" % shown)

    def finish(self):
        """Waits for plugin-host to end; returns what it printed."""
        status = os.path.join(self.directory, "stty-after")
        check(wait_for(lambda: os.path.exists(status) and os.path.getsize(status) > 0),
              "plugin-host did not end")
        time.sleep(0.2)
        read = lambda name: open(os.path.join(self.directory, name)).read()
        check(read("stty-before") == read("stty-after"), "the terminal modes changed")
        check(CAPTION not in self.screen(), "the dialog stayed on the screen")
        return read("result").strip()


def main():
    if shutil.which("tmux") is None:
        print("FAILED: tmux is not installed")
        return 1
    directory = tempfile.mkdtemp(prefix="ep-dialog-")
    module = os.path.join(directory, os.path.basename(MODULE))
    shutil.copy(MODULE, module)
    settings = os.path.splitext(module)[0] + ".ini"
    with open(settings, "wb") as file:
        file.write(SETTINGS)
    pane = DialogPane(directory, "dialog")
    try:
        # 1. The dialog shows the file's values; typing and Enter saves.
        pane.settings(module)
        lines = pane.screen().splitlines()
        check(any("Working directory" in l and "/tmp/work" in l for l in lines),
              "the working directory is not shown beside its label")
        check(any("Command line" in l and "pre -i %f" in l for l in lines),
              "the command line is not shown beside its label")
        pane.keys("/x", "Tab", "End", " -o")
        pane.keys("Enter")
        check(pane.finish() == "1", "OK did not end the dialog with 1")
        saved = open(settings, "rb").read()
        check(b"WorkingDirectory=/tmp/work/x\n" in saved and b"CommandLine=pre -i %f -o\n" in saved,
              "the edited values were not saved: %r" % saved)

        # 2. Escape ends with 2 and leaves the file as it was, byte for byte.
        with open(settings, "wb") as file:
            file.write(SETTINGS)
        pane.settings(module)
        pane.keys("changed")
        pane.keys("Escape")
        check(pane.finish() == "2", "Escape did not end the dialog with 2")
        check(open(settings, "rb").read() == SETTINGS, "Escape changed the settings file")

        # 3. Tab into a field selects its text: typing replaces it.
        pane.settings(module)
        pane.keys("Tab", "new -x %f")
        pane.keys("Enter")
        check(pane.finish() == "1", "OK did not end the dialog with 1")
        saved = open(settings, "rb").read()
        check(b"CommandLine=new -x %f\n" in saved and b"WorkingDirectory=/tmp/work\n" in saved,
              "typing after Tab did not replace the text: %r" % saved)

        # 4. Key sequences the terminal description does not know (Ctrl-Right
        #    as tmux sends it, a made-up one) leave the field as it was.
        with open(settings, "wb") as file:
            file.write(SETTINGS)
        pane.settings(module)
        pane.keys("C-Right", "M-C-Left")
        pane.tmux("send-keys", "-H", *["%02x" % b for b in b"\x1b[99;9~\x1bOz"])
        pane.keys("Enter")
        check(pane.finish() == "1", "OK did not end the dialog with 1")
        check(open(settings, "rb").read() == SETTINGS,
              "an unknown key sequence changed a field: %r" % open(settings, "rb").read())

        # 5. A window too small for the dialog shows a notice; made large
        #    enough, it shows the dialog.
        pane.resize(50, 12)
        pane.settings(module, shown="Terminal too small")
        check(CAPTION not in pane.screen(), "a cut dialog was drawn")
        pane.resize(100, 30)
        check(wait_for(lambda: CAPTION in pane.screen()), "the dialog did not come back")
        pane.keys("Escape")
        check(pane.finish() == "2", "Escape did not end the dialog with 2")
    finally:
        pane.close()

    # 6. Without a controlling terminal the dialog cannot be shown.
    alone = subprocess.run(["setsid", "-w", HOST, "settings", "--module", module],
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)
    check(alone.stdout.strip() == "-1", "without a terminal: %r" % alone.stdout)
    check(open(settings, "rb").read() == SETTINGS, "the settings file changed without a terminal")
    shutil.rmtree(directory, ignore_errors=True)
    print("failed checks: %d" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
