// The progress window of a long run, end to end: the real module, loaded by
// a fake host, runs this test program in a child mode as its external
// program. Under Windows (Wine in Xvfb) the window is watched and used as a
// user would (support/progress_watch.h); on Linux the same run shows one
// status line where a message box would be drawn on the terminal, and
// nothing elsewhere.
#include "support/plugin_fixture.h"
#include "child.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "support/progress_watch.h"

#include <functional>
#include <thread>
#else
#include "support/terminal_session.h"
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

class Progress : public PluginRuns {
  protected:
    void SetUp() override {
        PluginRuns::SetUp();
        host.SetText("u", "scott");
        host.SetText("p", "secret");
        host.text = "select 1;\n";
    }

    // Installs with the command line and the lines of [Run].
    void Install(const std::string& commandLine, const std::string& run = "") {
        std::string settings = SettingsText(work, commandLine);
        if (!run.empty())
            settings += "[Run]\r\n" + run;
        ASSERT_TRUE(WriteBytes(plugin.SettingsPath(), settings));
        plugin.InstallOnly(host);
    }
    std::string Settings() const {
        std::string text;
        ReadBytes(plugin.SettingsPath(), text);
        return text;
    }
};

// A realistic command line: options, the password and the quoted input file.
const char Options[] = " -u %u -p %p -d sales \"%f\"";

const std::vector<std::string> Replaced = {"GetTargetHandle", "GetTargetText", "SetTargetText"};
const std::vector<std::string> Kept = {"GetTargetHandle", "GetTargetText"};

#ifdef _WIN32

TEST_F(Progress, ShortRunShowsNoWindow) {
    Install(Child("sleep 500"));
    ProgressSeen seen;
    std::vector<Box> boxes = CallWatchingProgress(plugin, host, ProgressPlan(), seen);
    EXPECT_EQ(seen.shown, 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(host.calls, Replaced);
    EXPECT_EQ(host.replacement, "slept");
}

// The window comes after about a second, says what runs (the password
// masked) and for how long, is owned by the host's window and centred on
// it, keeps that window disabled while it shows, and is gone when the run
// returns. With EP_PROGRESS_SCREENSHOT naming a file, a PNG of it is saved
// there (docs/progress-window.png).
TEST_F(Progress, LongRunShowsTheWindowAfterASecondOverADisabledOwner) {
    ProgressPlan plan;
    plan.screenshot = getenv("EP_PROGRESS_SCREENSHOT");
    // For the screenshot the program is this one as a real program looks:
    // a copy named C:\Tools\pp.exe, its mode given apart.
    std::string program = Child("pause 2600");
    if (plan.screenshot != nullptr) {
        CreateDirectoryA("C:\\Tools", nullptr);
        ASSERT_TRUE(CopyFileA(SelfPath(), "C:\\Tools\\pp.exe", FALSE));
        SetEnvironmentVariableA("EP_CHILD_MODE", "pause 2600");
        program = "\"C:\\Tools\\pp.exe\"";
    }
    Install(program + Options);
    ProgressSeen seen;
    std::vector<Box> boxes = CallWatchingProgress(plugin, host, plan, seen);
    if (plan.screenshot != nullptr) {
        SetEnvironmentVariableA("EP_CHILD_MODE", nullptr);
        DeleteFileA("C:\\Tools\\pp.exe");
        RemoveDirectoryA("C:\\Tools");
    }
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(host.calls, Replaced);
    EXPECT_EQ(host.replacement, "slept");
    ASSERT_EQ(seen.shown, 1);
    // Not before a second, and (by the run's own count from the program's
    // start, which may be slow to come) in the second second.
    EXPECT_GE(seen.appearedAt, 900u);
    EXPECT_EQ(seen.caption, ProgressCaption);
    EXPECT_EQ(seen.label, "Running:");
    std::string start = program + " -u scott -p **** -d sales \"" + work;
    EXPECT_EQ(seen.command.substr(0, start.size()), start) << seen.command;
    EXPECT_EQ(seen.command.find("secret"), std::string::npos);
    std::string end = seen.command.substr(seen.command.size() - 5);
    EXPECT_TRUE(end == ".TMP\"" || end == ".tmp\"") << seen.command; // Wine's names are lower case
    ASSERT_GE(seen.times.size(), 2u);
    EXPECT_EQ(seen.times[0], "1 s");
    EXPECT_EQ(seen.times[1], "2 s");
    EXPECT_TRUE(seen.cancelButton);
    EXPECT_EQ(seen.defaultId, IDCANCEL);
    EXPECT_TRUE(seen.cancelStyledDefault);
    EXPECT_TRUE(seen.ownedByHost);
    EXPECT_GE(seen.centreOffset, 0);
    EXPECT_LE(seen.centreOffset, 2);
    EXPECT_FALSE(seen.ownerEnabledWhileShown);
    EXPECT_TRUE(seen.ownerEnabledAfter);
    EXPECT_TRUE(seen.windowGoneAtReturn);
    EXPECT_EQ(seen.boxesWhileShown, 0);
    if (plan.screenshot != nullptr) {
        EXPECT_TRUE(seen.screenshotSaved);
    }
}

// The run pumps the host's messages: another thread's message to the host's
// window is answered at once, never after a timeout.
TEST_F(Progress, HostWindowAnswersWhileTheProgramRuns) {
    Install(Child("sleep 5000"));
    ProgressPlan plan;
    plan.pingOwner = true;
    ProgressSeen seen;
    std::vector<Box> boxes = CallWatchingProgress(plugin, host, plan, seen);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(host.replacement, "slept");
    EXPECT_EQ(seen.shown, 1);
    EXPECT_GE(seen.pings, 5);
    EXPECT_EQ(seen.pingsAnswered, seen.pings);
    EXPECT_LT(seen.slowestPing, 500u);
}

// Whether the window lay whole on the work area of its owner's monitor.
testing::AssertionResult WholeOnWorkArea(const ProgressSeen& seen) {
    const RECT &r = seen.rect, &a = seen.workArea;
    if (r.right > r.left && r.bottom > r.top && a.right > a.left && r.left >= a.left &&
        r.top >= a.top && r.right <= a.right && r.bottom <= a.bottom)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "window (" << r.left << ", " << r.top << ") - (" << r.right << ", " << r.bottom
           << "), work area (" << a.left << ", " << a.top << ") - (" << a.right << ", " << a.bottom
           << ")";
}

// The window stays in reach wherever the host's window is: with the owner
// minimised (far off the screen) or hidden, in the middle of the owner's
// monitor's work area; with a small owner at the screen's corner, whole on
// that work area.
TEST_F(Progress, WindowIsWholeOnTheScreenWhereverTheOwnerIs) {
    struct Case {
        const char* name;
        std::function<void(HWND)> arrange;
        bool centredOnWorkArea;
    };
    const Case cases[] = {
        {"minimised",
         [](HWND owner) {
             SetWindowPos(owner, nullptr, 160, 120, 640, 480, SWP_NOZORDER | SWP_SHOWWINDOW);
             ShowWindow(owner, SW_MINIMIZE);
         },
         true},
        {"hidden", [](HWND owner) { ShowWindow(owner, SW_HIDE); }, true},
        {"small at the corner",
         [](HWND owner) {
             MONITORINFO monitor;
             monitor.cbSize = sizeof monitor;
             GetMonitorInfoA(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor);
             SetWindowPos(owner, nullptr, monitor.rcWork.right - 60, monitor.rcWork.bottom - 40,
                          120, 80, SWP_NOZORDER | SWP_SHOWWINDOW);
         },
         false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        host = FakeHost();
        host.text = "select 1;\n";
        Install(Child("sleep 1500"));
        ProgressPlan plan;
        plan.arrangeOwner = test.arrange;
        ProgressSeen seen;
        std::vector<Box> boxes = CallWatchingProgress(plugin, host, plan, seen);
        ShowWindow(host.context.OwnerWindow, SW_RESTORE);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(host.replacement, "slept");
        ASSERT_EQ(seen.shown, 1);
        EXPECT_TRUE(seen.ownedByHost);
        EXPECT_TRUE(WholeOnWorkArea(seen));
        if (test.centredOnWorkArea) {
            LONG dx =
                (seen.rect.left + seen.rect.right) - (seen.workArea.left + seen.workArea.right);
            LONG dy =
                (seen.rect.top + seen.rect.bottom) - (seen.workArea.top + seen.workArea.bottom);
            EXPECT_LE(labs(dx) + labs(dy), 4);
        }
    }
}

// Cancel, Escape and the close box each end the program and the process it
// started within two seconds, keep the text, show no box and leave no file.
// So does the end of the host's window two seconds into the run (a document
// window closed), which takes the progress window with it; a box after that
// shows without an owner rather than not at all. (OnCall returns a little
// later under Wine in Xvfb: see progress_watch.h.)
TEST_F(Progress, CancelEscapeTheCloseBoxAndTheOwnersEndEndTheWholeRun) {
    const ProgressAction actions[] = {ProgressAction::ClickCancel, ProgressAction::Escape,
                                      ProgressAction::CloseBox, ProgressAction::DestroyOwner};
    for (ProgressAction action : actions) {
        SCOPED_TRACE(static_cast<int>(action));
        TempDir elsewhere;
        std::string ids = elsewhere.Join("tree.txt");
        host = FakeHost();
        host.text = "select 1;\n";
        Install(Child("tree 30000 \"" + ids + "\""));
        ProgressPlan plan;
        plan.action = action;
        plan.tree = ids;
        if (action == ProgressAction::DestroyOwner)
            plan.actAfter = 1000;
        ProgressSeen seen;
        std::vector<Box> boxes = CallWatchingProgress(plugin, host, plan, seen);
        EXPECT_EQ(seen.shown, 1);
        ASSERT_NE(seen.actedAt, 0u);
        EXPECT_GE(seen.programEndedAfter, 0);
        EXPECT_LT(seen.programEndedAfter, 2000);
        EXPECT_GE(seen.childEndedAfter, 0);
        EXPECT_LT(seen.childEndedAfter, 2000);
        EXPECT_LT(seen.returnedAt - seen.actedAt, 5000u);
        EXPECT_TRUE(boxes.empty()) << boxes[0].caption << ": " << boxes[0].text;
        EXPECT_EQ(host.calls, Kept);
        EXPECT_FALSE(host.replaced);
        EXPECT_TRUE(seen.windowGoneAtReturn);
        EXPECT_TRUE(ListDir(work).empty());
        if (action != ProgressAction::DestroyOwner) {
            EXPECT_TRUE(seen.ownerEnabledAfter);
            continue;
        }
        HWND gone = host.context.OwnerWindow;
        ASSERT_FALSE(IsWindow(gone));
        FakeHost later;
        later.text = "select 1;\n";
        Install(Child("stderr-exit 7 failed"));
        boxes = plugin.Call(later, [&] { later.context.OwnerWindow = gone; });
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_FALSE(boxes[0].hasOwner);
        EXPECT_FALSE(later.replaced);
    }
}

// A WM_QUIT (a host closing, plugin-host interrupted) ends the run as Cancel
// does also before the window shows, and is posted again when the run is
// over, for the host's own message loop.
TEST_F(Progress, QuitBeforeTheWindowShowsEndsTheRunAndIsPostedAgain) {
    Install(Child("sleep 30000"));
    DWORD thread = GetCurrentThreadId();
    MSG queue;
    PeekMessageA(&queue, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    std::thread poster([thread] {
        Sleep(300);
        PostThreadMessageA(thread, WM_QUIT, 42, 0);
    });
    DWORD start = GetTickCount();
    ProgressSeen seen;
    std::vector<Box> boxes = CallWatchingProgress(plugin, host, ProgressPlan(), seen);
    DWORD took = GetTickCount() - start;
    poster.join();
    MSG quit;
    BOOL again = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    EXPECT_EQ(seen.shown, 0);
    EXPECT_LT(took, 5000u);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(host.calls, Kept);
    EXPECT_FALSE(host.replaced);
    EXPECT_TRUE(ListDir(work).empty());
    ASSERT_TRUE(again);
    EXPECT_EQ(quit.wParam, 42u);
}

TEST_F(Progress, ShowProgressZeroShowsNothing) {
    Install(Child("sleep 1800"), "ShowProgress=0\r\n");
    ProgressSeen seen;
    std::vector<Box> boxes = CallWatchingProgress(plugin, host, ProgressPlan(), seen);
    EXPECT_EQ(seen.shown, 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(host.replacement, "slept");
}

// The time limit acts from the same loop: the window counts down, goes, and
// only then the box says why the run ended.
TEST_F(Progress, TimeLimitEndsTheRunWithTheWindowUp) {
    Install(Child("sleep 30000"), "TimeLimit=3\r\n");
    ProgressSeen seen;
    std::vector<Box> boxes = CallWatchingProgress(plugin, host, ProgressPlan(), seen);
    EXPECT_EQ(seen.shown, 1);
    ASSERT_GE(seen.times.size(), 1u);
    EXPECT_EQ(seen.times[0], "1 s, 2 s left");
    EXPECT_EQ(seen.times.back(), "2 s, 1 s left");
    // The window came in the program's second second (by the run's count):
    // the limit ends the run about two seconds later, long before the
    // program's 30 seconds.
    EXPECT_GE(seen.returnedAt - seen.appearedAt, 1000u);
    EXPECT_LT(seen.returnedAt - seen.appearedAt, 10000u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_NE(boxes[0].text.find("still running after 3 seconds"), std::string::npos)
        << boxes[0].text;
    EXPECT_EQ(seen.boxesWhileShown, 0) << "the box came before the window went";
    EXPECT_EQ(host.calls, Kept);
}

// OnCall and OnSettings that arrive while the window shows (here from a
// timer inside the run's message loop) return at once and touch nothing:
// no callback of the host, no dialog, the settings file as it was, and the
// run goes on to its end.
TEST_F(Progress, CallsWhileTheWindowShowsReturnAtOnceAndTouchNothing) {
    Install(Child("sleep 2500"));
    std::string before = Settings();
    ProgressPlan plan;
    size_t callsBefore = 0, callsAfter = 0;
    DWORD onCallTook = 0, onSettingsTook = 0;
    plan.whileShown = [&] {
        callsBefore = host.calls.size();
        DWORD start = GetTickCount();
        plugin.Module().onCall();
        onCallTook = GetTickCount() - start;
        start = GetTickCount();
        plugin.Module().onSettings();
        onSettingsTook = GetTickCount() - start;
        callsAfter = host.calls.size();
    };
    ProgressSeen seen;
    std::vector<Box> boxes = CallWatchingProgress(plugin, host, plan, seen);
    EXPECT_EQ(seen.shown, 1);
    EXPECT_EQ(callsAfter, callsBefore);
    EXPECT_LT(onCallTook, 200u);
    EXPECT_LT(onSettingsTook, 200u);
    EXPECT_EQ(seen.boxesWhileShown, 0) << "a dialog or a box appeared";
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(Settings(), before);
    EXPECT_EQ(host.calls, Replaced);
    EXPECT_EQ(host.replacement, "slept");
}

#else

// Standard error a file, for a scope.
struct ErrorsToFile {
    std::string path;
    int saved;
    explicit ErrorsToFile(const std::string& file) : path(file), saved(dup(STDERR_FILENO)) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~ErrorsToFile() {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
    ErrorsToFile(const ErrorsToFile&) = delete;
    ErrorsToFile& operator=(const ErrorsToFile&) = delete;
};

// With standard error in a file (an editor's filter, a log) the window
// shows nothing and the run goes to its end as it would without it.
TEST_F(Progress, WithErrorsInAFileNothingShowsAndTheRunEnds) {
    Install(Child("pause 1600") + Options);
    TempDir elsewhere;
    std::string errors = elsewhere.Join("errors.txt");
    {
        ErrorsToFile redirect(errors);
        plugin.CallUncaptured(host);
    }
    std::string written;
    ReadBytes(errors, written);
    EXPECT_EQ(written, "");
    EXPECT_EQ(host.calls, Replaced);
    EXPECT_EQ(host.replacement, "slept");
}

// The failures the running test has reported so far (a forked process
// starts with its parent's).
int FailuresSoFar() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// Runs once on a new terminal of the given width; the run's checks are made
// there and their failure is the session's status.
TerminalSession RunOnTerminalOnce(FakeHost& host, LoadedPlugin& plugin, int columns) {
    return RunOnTerminal(columns, 24, [&](int) {
        int before = FailuresSoFar();
        plugin.CallUncaptured(host);
        EXPECT_EQ(host.calls, Replaced);
        EXPECT_EQ(host.replacement, "slept");
        return FailuresSoFar() > before ? 1 : 0;
    });
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The drawn status lines: what stands between carriage returns, without
// the blanks that cover a longer line before it (blanks alone erase).
std::vector<std::string> DrawnLines(const std::string& screen) {
    std::vector<std::string> lines;
    std::istringstream parts(screen);
    std::string part;
    while (std::getline(parts, part, '\r')) {
        size_t end = part.find_last_not_of(' ');
        if (end != std::string::npos)
            lines.push_back(part.substr(0, end + 1));
    }
    return lines;
}

// Whether the screen ends with the last line erased: blanks over it, and
// the cursor at the start of the row.
bool EndsErased(const std::string& screen, const std::string& last) {
    return EndsWith(screen, "\r" + std::string(last.size(), ' ') + "\r");
}

// On a terminal the status line shows the command line (the password
// masked), counts the seconds, fits the terminal's width and is erased at
// the end, leaving the cursor at the start of an empty line.
TEST_F(Progress, OnATerminalTheStatusLineCountsFitsAndIsErased) {
    Install(Child("pause 2600") + Options);
    TerminalSession wide = RunOnTerminalOnce(host, plugin, 300);
    EXPECT_EQ(wide.status, 0);
    EXPECT_EQ(wide.screen.find("secret"), std::string::npos);
    std::vector<std::string> lines = DrawnLines(wide.screen);
    ASSERT_EQ(lines.size(), 2u) << wide.screen;
    std::string start = "Running: " + Child("pause 2600") + " -u scott -p **** -d sales \"" + work;
    EXPECT_EQ(lines[0].substr(0, start.size()), start);
    EXPECT_TRUE(EndsWith(lines[0], ".TMP\"  (1 s)  Ctrl-C stops it")) << lines[0];
    EXPECT_TRUE(EndsWith(lines[1], ".TMP\"  (2 s)  Ctrl-C stops it")) << lines[1];
    EXPECT_TRUE(EndsErased(wide.screen, lines[1])) << wide.screen;

    host = FakeHost();
    host.SetText("p", "secret");
    Install(Child("pause 1600") + Options);
    TerminalSession narrow = RunOnTerminalOnce(host, plugin, 50);
    EXPECT_EQ(narrow.status, 0);
    lines = DrawnLines(narrow.screen);
    ASSERT_EQ(lines.size(), 1u) << narrow.screen;
    EXPECT_EQ(lines[0].size(), 49u) << lines[0];
    EXPECT_EQ(lines[0].substr(0, 9), "Running: ");
    EXPECT_TRUE(EndsWith(lines[0], "...  (1 s)  Ctrl-C stops it")) << lines[0];
    EXPECT_TRUE(EndsErased(narrow.screen, lines[0])) << narrow.screen;
}

// A run of half a second, and one with ShowProgress=0, draw nothing.
TEST_F(Progress, OnATerminalShortRunsAndShowProgressZeroDrawNothing) {
    Install(Child("sleep 500"));
    TerminalSession quick = RunOnTerminalOnce(host, plugin, 80);
    EXPECT_EQ(quick.status, 0);
    EXPECT_EQ(quick.screen, "");

    host = FakeHost();
    Install(Child("pause 1600"), "ShowProgress=0\r\n");
    TerminalSession hidden = RunOnTerminalOnce(host, plugin, 80);
    EXPECT_EQ(hidden.status, 0);
    EXPECT_EQ(hidden.screen, "");
}

#endif

} // namespace
