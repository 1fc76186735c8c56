#!/usr/bin/env python3
"""The settings dialog end to end in a real terminal: plugin-host runs in a
tmux pane on a private server, with standard input from /dev/null and standard
output to a file, so the dialog can only have used the controlling terminal.
Keys go in with send-keys and the screen comes back with capture-pane.
plugin-host then says what became of the dialog: "saved to FILE" or
"cancelled" on standard output. OK that cannot save says why in a box (a line
on standard error, which is a file here; a framed box over the dialog where
standard error is the terminal) and keeps the dialog open with what was
typed.

Usage: dialog_tmux_test.py PLUGIN_HOST MODULE
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from tmux_support import Pane, check, in_pane, wait_for  # noqa: E402

HOST, MODULE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
CAPTION = "Run external preprocessor plug-in Settings"
SETTINGS = b"[Path]\nWorkingDirectory=/tmp/work\nCommandLine=pre -i %f\n"


class DialogPane(Pane):
    def settings(self, module, shown=CAPTION, errors_to_terminal=False):
        """Starts plugin-host settings and waits until `shown` is on the
        screen."""
        for name in ("result", "errors", "status", "stty-before", "stty-after"):
            path = os.path.join(self.directory, name)
            if os.path.exists(path):
                os.unlink(path)
        errors = "" if errors_to_terminal else " 2> errors"
        self.keys("clear; : > errors; stty -g > stty-before; '%s' settings --module '%s' < /dev/null"
                  " > result%s; echo $? > status; stty -g > stty-after" % (HOST, module, errors),
                  "Enter")
        check(wait_for(lambda: shown in self.screen()), "%r did not appear" % shown)

    def said(self):
        """What plugin-host wrote to standard error, and its exit status."""
        read = lambda name: open(os.path.join(self.directory, name)).read()
        return read("errors"), int(read("status"))

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

    def ok_saves(self, module):
        """Presses OK, which must say it saved; returns the saved file."""
        self.keys("Enter")
        check(self.finish() == saved_to(module), "OK did not say it saved")
        return read(settings_of(module))


# A settings file with more than the two keys: a comment, a blank line, the
# run options and another section, each of which a save must keep as it is.
WITH_RUN = (b"; my settings\n[Path]\nWorkingDirectory=/tmp/work\nCommandLine=pre -i %f\n\n"
            b"[Run]\nTimeLimit=30\nIgnoreExitCode=1\n[Other]\nKey = \"quoted\"\n")
EDITED = WITH_RUN.replace(b"CommandLine=pre -i %f\n", b"CommandLine=pre -i %f -o\n")


def put(path, data, mode=0o600):
    with open(path, "wb") as file:
        file.write(data)
    os.chmod(path, mode)


def read(path):
    with open(path, "rb") as file:
        return file.read()


def left_over(directory):
    """The copies and locks a save left beside the settings file."""
    return sorted(n for n in os.listdir(directory) if n.endswith((".new", ".lock")))


def settings_of(module):
    """The settings file beside the module."""
    return os.path.splitext(module)[0] + ".ini"


def saved_to(module):
    """What plugin-host says after OK saved the module's settings file."""
    return "saved to " + settings_of(module)


def not_saved(pane, module, why, typed):
    """After OK that could not save: the box said so and why (a line on
    standard error), the dialog is still there with what was typed, and
    Escape then cancels it."""
    errors = os.path.join(pane.directory, "errors")
    box = "Error: The settings could not be saved to\n'%s'\n" % settings_of(module)
    check(wait_for(lambda: box in open(errors).read()), "OK that did not save showed no box")
    said = open(errors).read()
    check(why in said and "What you typed is still in the dialog" in said,
          "OK that did not save does not say %r: %r" % (why, said))
    check(CAPTION in pane.screen() and typed in pane.screen(),
          "the dialog did not stay with what was typed:\n" + pane.screen())
    pane.keys("Escape")
    check(pane.finish() == "cancelled", "Escape after the box did not cancel")


def save(pane, module, why=None):
    """Appends " -o" to the command line and presses OK: the file is saved,
    or, when why is given, the box says it was not and why, and the dialog
    stays until it is cancelled."""
    pane.settings(module)
    pane.keys("Tab", "End", " -o")
    pane.keys("Enter")
    if why is not None:
        not_saved(pane, module, why, "pre -i %f -o")
        return
    result = pane.finish()
    errors, status = pane.said()
    check(result == saved_to(module) and status == 0,
          "OK: %r, exit %d, not %r" % (result, status, saved_to(module)))


def saving(pane, directory, module, settings):
    """OK saves through a copy beside the file, which replaces the file in one
    step: every other byte stays, links stay, owner, group and mode stay, a
    read-only file and a full disk leave the file as it was."""
    # Only the command line's line changes.
    put(settings, WITH_RUN)
    save(pane, module)
    check(read(settings) == EDITED, "the save changed more than the command line: %r"
          % read(settings))
    check(left_over(directory) == [], "left behind: %r" % left_over(directory))

    # A link: its target gets the new values and the link stays.
    shared = os.path.join(directory, "shared")
    os.mkdir(shared)
    target = os.path.join(shared, "settings.ini")
    put(target, WITH_RUN)
    os.unlink(settings)
    os.symlink("shared/settings.ini", settings)
    save(pane, module)
    check(os.path.islink(settings) and os.readlink(settings) == "shared/settings.ini",
          "the link was replaced")
    check(read(target) == EDITED, "the link's target was not saved: %r" % read(target))
    check(left_over(directory) + left_over(shared) == [], "left behind beside the link")
    os.unlink(settings)
    shutil.rmtree(shared)

    # Someone else's file keeps its owner, group and mode.
    put(settings, WITH_RUN, 0o640)
    os.chown(settings, 65534, 65534)
    save(pane, module)
    info = os.stat(settings)
    check((info.st_uid, info.st_gid, info.st_mode & 0o7777) == (65534, 65534, 0o640),
          "owner, group or mode changed: %r" % ((info.st_uid, info.st_gid, oct(info.st_mode)),))
    check(read(settings) == EDITED, "the file of another owner was not saved")

    # A read-only file (no write permission at all) is left alone.
    put(settings, WITH_RUN, 0o444)
    save(pane, module, why="\nThe file is read-only.")
    check(read(settings) == WITH_RUN, "the read-only file was written")
    check(left_over(directory) == [], "left behind by the refused save")
    os.chmod(settings, 0o600)

    # A copy left by another save: a young one is that save's, and this
    # one gives way; one more than a minute old is taken over.
    sibling = settings + ".new"
    put(settings, WITH_RUN)
    put(sibling, b"[Path]\nCommandLine=another save\n")
    now = time.time()
    os.utime(sibling, (now - 30, now - 30))
    save(pane, module, why="\nThe copy of another save is there:\n'%s'\n" % sibling)
    check(read(settings) == WITH_RUN and read(sibling) == b"[Path]\nCommandLine=another save\n",
          "a young copy was taken over")
    os.utime(sibling, (now - 120, now - 120))
    save(pane, module)
    check(read(settings) == EDITED, "a copy left over stopped the save")
    check(left_over(directory) == [], "left behind: %r" % left_over(directory))


def full_disk(pane):
    """On a full disk OK leaves the file byte for byte; with room again, it saves."""
    disk = tempfile.mkdtemp(prefix="ep-full-disk-")
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", disk]).returncode != 0:
        check(False, "cannot mount a tmpfs (this test needs root)")
        os.rmdir(disk)
        return
    try:
        module = os.path.join(disk, os.path.basename(MODULE))
        shutil.copy(MODULE, module)
        settings = settings_of(module)
        # About 3700 bytes, one page; the longer file needs a second one.
        old = WITH_RUN + b"[Big]\nValue=" + b"v" * 3600 + b"\n"
        put(settings, old)
        # Fill the disk to the last byte but for one page, free again just
        # before the save: room for a copy, not for the longer file.
        with open(os.path.join(disk, "room"), "wb") as room:
            room.write(b"r" * 4096)
        with open(os.path.join(disk, "filler"), "wb", buffering=0) as filler:
            size = 4096
            while size > 0:
                try:
                    filler.write(b"f" * size)
                except OSError:
                    size //= 2
        os.unlink(os.path.join(disk, "room"))
        pane.settings(module)
        pane.keys("Tab", "End", " " + "x" * 200)
        pane.keys("Enter")
        not_saved(pane, module, "\nThe save's copy beside it could not be written whole:\n'%s.new'"
                  % settings, "x" * 20)
        check(read(settings) == old, "the full disk changed the settings file")
        check(left_over(disk) == [], "left behind on the full disk: %r" % left_over(disk))
        os.unlink(os.path.join(disk, "filler"))
        save(pane, module)
        check(read(settings) == old.replace(b"pre -i %f", b"pre -i %f -o"),
              "with room again the save did not happen")
    finally:
        subprocess.run(["umount", "-l", disk])
        os.rmdir(disk)


def read_only_folder(pane):
    """A folder that may not be written (a read-only mount, which binds root
    too): OK leaves the file and plugin-host says why."""
    folder = tempfile.mkdtemp(prefix="ep-read-only-")
    view = tempfile.mkdtemp(prefix="ep-read-only-view-")
    module = os.path.join(folder, os.path.basename(MODULE))
    shutil.copy(MODULE, module)
    settings = settings_of(module)
    put(settings, SETTINGS)
    mounted = subprocess.run(["mount", "--bind", folder, view]).returncode == 0
    try:
        check(mounted and subprocess.run(["mount", "-o", "remount,ro,bind", view]).returncode == 0,
              "cannot mount a read-only view (this test needs root)")
        if mounted:
            seen = os.path.join(view, os.path.basename(module))
            save(pane, seen, why="that copy could not be created:\n'%s.new'\nError code=19\n"
                 % settings_of(seen))
            check(read(settings) == SETTINGS, "the read-only folder's file changed")
    finally:
        if mounted:
            subprocess.run(["umount", "-l", view])
        os.rmdir(view)
        shutil.rmtree(folder)


def dialog(pane, module):
    settings = settings_of(module)
    put(settings, SETTINGS)

    # 1. The dialog shows the file's values; typing and Enter saves.
    pane.settings(module)
    lines = pane.screen().splitlines()
    check(any("Working directory" in l and "/tmp/work" in l for l in lines),
          "the working directory is not shown beside its label")
    check(any("Command line" in l and "pre -i %f" in l for l in lines),
          "the command line is not shown beside its label")
    pane.keys("/x", "Tab", "End", " -o")
    saved = pane.ok_saves(module)
    check(b"WorkingDirectory=/tmp/work/x\n" in saved and b"CommandLine=pre -i %f -o\n" in saved,
          "the edited values were not saved: %r" % saved)

    # 2. Escape ends with 2 and leaves the file as it was, byte for byte.
    put(settings, SETTINGS)
    pane.settings(module)
    pane.keys("changed")
    pane.keys("Escape")
    check(pane.finish() == "cancelled", "Escape did not say cancelled")
    check(pane.said()[1] == 0, "Cancel did not exit with 0")
    check(read(settings) == SETTINGS, "Escape changed the settings file")

    # 3. Tab into a field selects its text: typing replaces it.
    pane.settings(module)
    pane.keys("Tab", "new -x %f")
    saved = pane.ok_saves(module)
    check(b"CommandLine=new -x %f\n" in saved and b"WorkingDirectory=/tmp/work\n" in saved,
          "typing after Tab did not replace the text: %r" % saved)

    # 4. Key sequences the terminal description does not know (Ctrl-Right as
    #    tmux sends it, a made-up one) leave the field as it was.
    put(settings, SETTINGS)
    pane.settings(module)
    pane.keys("C-Right", "M-C-Left")
    pane.tmux("send-keys", "-H", *["%02x" % b for b in b"\x1b[99;9~\x1bOz"])
    # The same values saved again: the file's time of last write tells.
    saved = pane.ok_saves(module)
    check(saved == SETTINGS, "an unknown key sequence changed a field: %r" % saved)

    # 5. A window too small for the dialog shows a notice; made large enough,
    #    it shows the dialog.
    pane.resize(50, 12)
    pane.settings(module, shown="Terminal too small")
    check(CAPTION not in pane.screen(), "a cut dialog was drawn")
    pane.resize(100, 30)
    check(wait_for(lambda: CAPTION in pane.screen()), "the dialog did not come back")
    pane.keys("Escape")
    check(pane.finish() == "cancelled", "Escape did not say cancelled")

    # 6. With standard error on the terminal, the box that says why OK did
    #    not save is drawn there in the dialog's place and waits for Enter;
    #    then the dialog is back, with what was typed.
    put(settings, SETTINGS, 0o444)
    pane.settings(module, errors_to_terminal=True)
    pane.keys("Tab", "End", " -o")
    pane.keys("Enter")
    check(wait_for(lambda: "The settings could not be saved to" in pane.screen()
                   and "The file is read-only." in pane.screen()),
          "no box on the terminal:\n" + pane.screen())
    check(CAPTION not in pane.screen(), "the box was drawn over the dialog's frame")
    pane.keys("Enter")
    check(wait_for(lambda: CAPTION in pane.screen() and "pre -i %f -o" in pane.screen()),
          "the dialog did not come back with what was typed:\n" + pane.screen())
    pane.keys("Escape")
    check(pane.finish() == "cancelled", "Escape after the box did not cancel")
    check(read(settings) == SETTINGS, "the read-only file was written")
    os.chmod(settings, 0o600)

    # 7. What a save keeps, also on a full disk and in a folder that may not
    #    be written.
    saving(pane, pane.directory, module, settings)
    full_disk(pane)
    read_only_folder(pane)
    put(settings, SETTINGS)

    # 8. Without a controlling terminal the dialog cannot be shown.
    alone = subprocess.run(["setsid", "-w", HOST, "settings", "--module", module],
                           stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=30)
    check(alone.stdout == "" and alone.returncode == 1,
          "without a terminal: %r, exit %d" % (alone.stdout, alone.returncode))
    check(read(settings) == SETTINGS, "the settings file changed without a terminal")


if __name__ == "__main__":
    sys.exit(in_pane(dialog, MODULE, "dialog", pane_class=DialogPane))
