// The terminal dialog manager, driven through a pseudo-terminal: a child
// process takes the terminal's slave side as its controlling terminal (its
// standard input is /dev/null), runs template 101 with a recording
// procedure and reports back through a pipe; the parent types on the master
// side once the dialog is drawn.
#include <dialog_template.h>

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct Report {
    long result;
    DWORD error;
    int calls;          // messages the procedure was sent
    WPARAM commands[8]; // WM_COMMAND words, in order
    int commandCount;
    char working[300], command[300];
    bool modesKept, signalsKept;
};

Report Seen;
bool ItemChecks; // the procedure checks the item calls and ends the dialog at once

void CheckItemCalls(HWND dialog) {
    char text[300];
    memset(text, '#', sizeof text);
    EXPECT_EQ(GetDlgItemTextA(dialog, 1003, text, 0), 0u);
    EXPECT_EQ(text[0], '#');
    EXPECT_EQ(GetDlgItemTextA(dialog, 1003, text, 1), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(GetDlgItemTextA(dialog, 1003, text, 3), 2u);
    EXPECT_STREQ(text, "st");
    EXPECT_EQ(GetDlgItemTextA(dialog, 1003, text, 6), 5u);
    EXPECT_STREQ(text, "start");
    EXPECT_TRUE(SetDlgItemTextA(dialog, 1004, std::string(300, 'x').c_str()));
    EXPECT_EQ(GetDlgItemTextA(dialog, 1004, text, sizeof text), 259u);
    EXPECT_FALSE(SetDlgItemTextA(dialog, 1005, "no such control"));
    EXPECT_EQ(GetDlgItemTextA(dialog, 1005, text, sizeof text), 0u);
    EXPECT_STREQ(text, "");
    EXPECT_FALSE(SetDlgItemTextA((HWND)&Seen, 1003, "not a dialog"));
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(101), nullptr, nullptr, 0), -1);
    EXPECT_TRUE(EndDialog(dialog, 7));
}

INT_PTR CALLBACK Record(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    Seen.calls++;
    if (message == WM_INITDIALOG) {
        EXPECT_EQ(lParam, 42);
        SetDlgItemTextA(dialog, 1003, "start");
        SetDlgItemTextA(dialog, 1004, "cmd");
        if (ItemChecks)
            CheckItemCalls(dialog);
    } else if (message == WM_COMMAND && Seen.commandCount < 8) {
        Seen.commands[Seen.commandCount++] = wParam;
        GetDlgItemTextA(dialog, 1003, Seen.working, 260);
        GetDlgItemTextA(dialog, 1004, Seen.command, 260);
        if (wParam == IDOK || wParam == IDCANCEL)
            EndDialog(dialog, (INT_PTR)wParam);
    }
    return 0;
}

bool SameSignals(const struct sigaction* before) {
    const int signals[] = {SIGINT, SIGTERM, SIGTSTP, SIGWINCH};
    for (int i = 0; i < 4; i++) {
        struct sigaction now;
        sigaction(signals[i], nullptr, &now);
        if (now.sa_handler != before[i].sa_handler)
            return false;
    }
    return true;
}

bool SameModes(const struct termios& a, const struct termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// In the child: runs the dialog on the controlling terminal `tty` (-1 for
// none) and writes the report to `out`.
[[noreturn]] void RunDialog(int tty, int out) {
    setsid();
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    struct termios before, after;
    struct sigaction handlers[4];
    const int signals[] = {SIGINT, SIGTERM, SIGTSTP, SIGWINCH};
    for (int i = 0; i < 4; i++)
        sigaction(signals[i], nullptr, &handlers[i]);
    if (tty >= 0) {
        ioctl(tty, TIOCSCTTY, 0);
        tcgetattr(tty, &before);
    }
    setenv("TERM", "xterm", 1);
    Seen.result = (long)DialogBoxParamA(nullptr, MAKEINTRESOURCEA(101), nullptr, Record, 42);
    Seen.error = GetLastError();
    if (tty >= 0)
        tcgetattr(tty, &after);
    Seen.modesKept = tty < 0 || SameModes(before, after);
    Seen.signalsKept = SameSignals(handlers);
    if (::testing::Test::HasFailure())
        Seen.calls = -1000;
    ssize_t written = write(out, &Seen, sizeof Seen);
    _exit(written == (ssize_t)sizeof Seen ? 0 : 1);
}

// One step of typing: the keys, sent once `after` has appeared on the
// screen since the step before (the first step waits for the caption when
// it names nothing), and then a new size for the terminal, if it has one.
struct Step {
    std::string keys;
    std::string after;
    unsigned short rows = 0, columns = 0;

    // From plain keys, so that a list of steps can be a list of strings.
    // cppcheck-suppress noExplicitConstructor
    Step(const std::string& typed) : keys(typed) {} // NOLINT(google-explicit-constructor)
    // cppcheck-suppress noExplicitConstructor
    Step(const char* typed) : keys(typed) {} // NOLINT(google-explicit-constructor)
    Step(const std::string& typed, const std::string& awaited, unsigned short newRows = 0,
         unsigned short newColumns = 0)
        : keys(typed), after(awaited), rows(newRows), columns(newColumns) {}
};

// Types each step once the dialog has been drawn, 150 ms apart, so that an
// Escape alone at the end of a step stands by itself. The terminal starts
// with the given size; what reached it goes to *screenOut when asked for.
Report Drive(const std::vector<Step>& steps, bool withTerminal = true,
             std::string* screenOut = nullptr, unsigned short rows = 24,
             unsigned short columns = 80) {
    int master = -1, slave = -1, report[2];
    struct winsize size = {rows, columns, 0, 0};
    if (withTerminal) {
        EXPECT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    }
    EXPECT_EQ(pipe(report), 0);
    pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        if (master >= 0)
            close(master);
        RunDialog(slave, report[1]);
    }
    close(report[1]);
    if (slave >= 0)
        close(slave);
    std::string screen;
    size_t next = 0, since = 0;
    char buffer[4096];
    for (int idle = 0; master >= 0 && idle < 100;) {
        struct pollfd watch = {master, POLLIN, 0};
        if (poll(&watch, 1, 150) == 1) {
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            screen.append(buffer, (size_t)n);
            continue;
        }
        const Step* step = next < steps.size() ? &steps[next] : nullptr;
        std::string awaited;
        if (step != nullptr)
            awaited = step->after.empty() && next == 0 ? "Settings" : step->after;
        if (step != nullptr && screen.find(awaited, since) != std::string::npos) {
            EXPECT_EQ(write(master, step->keys.data(), step->keys.size()),
                      (ssize_t)step->keys.size());
            since = screen.size();
            if (step->rows > 0) {
                struct winsize resized = {step->rows, step->columns, 0, 0};
                EXPECT_EQ(0, ioctl(master, TIOCSWINSZ, &resized));
            }
            next++;
        } else {
            idle++;
        }
    }
    if (screenOut != nullptr)
        *screenOut = screen;
    EXPECT_EQ(next, steps.size()) << "the screen never showed what a step waited for";
    // A dialog still open sees its terminal hang up, and ends.
    if (master >= 0)
        close(master);
    Report got = {};
    EXPECT_EQ(read(report[0], &got, sizeof got), (ssize_t)sizeof got);
    int status = 0;
    waitpid(child, &status, 0);
    close(report[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(got.modesKept);
    EXPECT_TRUE(got.signalsKept);
    return got;
}

// Keys as xterm sends them with the keypad in application mode.
const std::string Home = "\x1bOH", End = "\x1bOF", Left = "\x1bOD", Right = "\x1bOC",
                  Delete = "\x1b[3~", Backspace = "\x7f", ShiftTab = "\x1b[Z", Escape = "\x1b";

struct Case {
    std::vector<Step> steps;
    long result;
    std::string working, command;
};

TEST(TerminalDialog, KeysEditFocusAndPressButtonsAsInWindows) {
    std::string typed;
    for (int i = 0; i < 300; i++)
        typed += (char)('a' + i % 26);
    const Case cases[] = {
        // 1. Editing keys, Alt+C, Shift-Tab, then Enter in a field presses OK.
        //    Alt+C and Shift-Tab select the field they reach: typing replaces.
        {{Home + "0" + End + Left + Backspace + Delete + Right + "!", Escape + "cZ", ShiftTab + "?",
          "\r"},
         IDOK,
         "?",
         "Z"},
        // 2. A field takes 259 characters; Tab order wraps both ways; Space
        //    presses the focused button.
        {{typed, "\t\t\t\t", ShiftTab, " "}, IDCANCEL, "start" + typed.substr(0, 254), "cmd"},
        // 3. Escape alone is Cancel.
        {{"q", Escape}, IDCANCEL, "startq", "cmd"},
        // 4. Alt+W; outside a field a plain access key works too; Enter on
        //    the focused Cancel button presses Cancel.
        {{"\t" + Escape + "wW", "\t\tcC", "\t\t\r"}, IDCANCEL, "W", "C"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        SCOPED_TRACE("case " + std::to_string(i + 1));
        Report got = Drive(cases[i].steps);
        EXPECT_EQ(got.result, cases[i].result);
        ASSERT_EQ(got.commandCount, 1);
        EXPECT_EQ(got.commands[0], (WPARAM)cases[i].result);
        EXPECT_EQ(got.working, cases[i].working);
        EXPECT_EQ(got.command, cases[i].command);
    }
}

TEST(TerminalDialog, EnteringAFieldSelectsItsTextAsInWindows) {
    const Case cases[] = {
        // 1. Tab selects: typing replaces; Shift-Tab selects: Backspace
        //    removes it all.
        {{"\tnew", ShiftTab + Backspace + "w", "\r"}, IDOK, "w", "new"},
        // 2. Left and Home drop the selection at the start, Right and End at
        //    the end; Delete removes a selection.
        {{Escape + "c" + Left + "X", Escape + "w" + Right + "!", "\t" + Home + "0",
          "\t\t\t" + End + "?", "\t" + Delete + "\r"},
         IDOK,
         "start!?",
         ""},
        // 3. From a button, a plain access key selects the field it reaches;
        //    the field left keeps no selection.
        {{"\t\t", "c", "Q", "\t\t\t" + End + "x", "\r"}, IDOK, "startx", "Q"},
        // 4. The dialog opens with nothing selected: typing adds.
        {{"s", "\r"}, IDOK, "starts", "cmd"},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        SCOPED_TRACE("case " + std::to_string(i + 1));
        Report got = Drive(cases[i].steps);
        EXPECT_EQ(got.result, cases[i].result);
        EXPECT_EQ(got.working, cases[i].working);
        EXPECT_EQ(got.command, cases[i].command);
    }
}

// Sequences of keys with modifiers, F-keys and the like that the terminal
// description (xterm here) does not list arrive as Escape and the rest; not
// a character of them lands in the field, and a selection stays.
TEST(TerminalDialog, UnknownKeySequencesNeverLandInAField) {
    const std::string unknown = std::string("\x1b[1;5C") + "\x1b[99;9~" + "\x1b[25~" + "\x1bOz" +
                                "\x1b[200~" + "\x1b\x1b[3;3~" + "\x1bO5R";
    Report got = Drive({unknown + "!", "\t", unknown, "n", "\r"});
    EXPECT_EQ(got.result, IDOK);
    EXPECT_STREQ(got.working, "start!");
    EXPECT_STREQ(got.command, "n");
}

// On a terminal too small for the dialog a notice stands in for it, where
// only Escape acts; made large enough, the terminal shows the dialog.
TEST(TerminalDialog, SmallTerminalShowsANoticeUntilItIsLargeEnough) {
    const std::string notice = "Terminal too small";
    std::string screen;
    Report got = Drive({{"typed\r\t", notice}, Escape}, true, &screen, 16, 71);
    EXPECT_EQ(got.result, IDCANCEL);
    ASSERT_EQ(got.commandCount, 1);
    EXPECT_STREQ(got.working, "start");
    EXPECT_NE(screen.find(notice), std::string::npos);
    EXPECT_NE(screen.find("72 x 17"), std::string::npos);
    EXPECT_EQ(screen.find("Settings"), std::string::npos) << "a cut dialog was drawn";

    got = Drive({{"", notice, 17, 72}, {"x", "Settings"}, "\r"}, true, &screen, 10, 40);
    EXPECT_EQ(got.result, IDOK);
    EXPECT_STREQ(got.working, "startx");
}

TEST(TerminalDialog, ItemTextsAreCutToCapacityAndEndDialogInInitIsTheResult) {
    ItemChecks = true;
    Report got = Drive({});
    ItemChecks = false;
    EXPECT_EQ(got.calls, 1);
    EXPECT_EQ(got.result, 7);
}

TEST(TerminalDialog, WithoutTerminalReturnsMinusOneAndNeverCallsTheProcedure) {
    Report got = Drive({}, false);
    EXPECT_EQ(got.result, -1);
    EXPECT_EQ(got.calls, 0);
    // No terminal has no Windows code: the customer code of ENXIO.
    EXPECT_EQ(got.error, 0x20000000u | ENXIO);
}

} // namespace
