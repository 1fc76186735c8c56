// The progress window of the Linux layer: the window calls as the run makes
// them, where nothing shows (standard error a file) and on a real terminal.
// On a terminal (terminal_session.h) the host makes the calls in a process
// group of its own that a shell has given the terminal, and everything that
// reached the terminal is read back: the status line's writes are exact, so
// the whole transcript is compared.
#include "child.h"
#include "terminal_session.h"

#include <dialog_template.h>
#include <resource.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace {

// What the dialog's procedure is given and sets in WM_INITDIALOG.
struct Init {
    int messages = 0;
    LPARAM param = 0;
    std::string command = "pre -i \"/tmp/se1.TMP\"";
    std::string time = "1 s";
};
Init Seen;

INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    Seen.messages++;
    if (message == WM_INITDIALOG) {
        Seen.param = lParam;
        SetDlgItemTextA(dialog, IDC_PROGRESS_COMMAND, Seen.command.c_str());
        SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, Seen.time.c_str());
        return TRUE;
    }
    return FALSE;
}

HWND Create() {
    return CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, Procedure, 77);
}

std::string Text(HWND dialog, int id) {
    char text[300];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// A program started by the layer, in a process group of its own when asked.
PROCESS_INFORMATION StartSleeper(const char* milliseconds, bool ownGroup) {
    std::string line = std::string("\"") + SelfPath() + "\" --child sleep " + milliseconds;
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    DWORD flags = NORMAL_PRIORITY_CLASS | (ownGroup ? CREATE_NEW_PROCESS_GROUP : 0);
    EXPECT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                               &startup, &process));
    return process;
}

void EndProgram(PROCESS_INFORMATION& process) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// The standard error of the test, sent to a file for a scope.
struct ErrorsToFile {
    std::string path = std::string(P_tmpdir) + "/ep-window-test-" + std::to_string(getpid());
    int saved = dup(STDERR_FILENO);
    ErrorsToFile() {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    std::string Written() {
        dup2(saved, STDERR_FILENO);
        char buffer[4096];
        std::string text;
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
            text.append(buffer, (size_t)n);
        close(fd);
        return text;
    }
    ~ErrorsToFile() {
        dup2(saved, STDERR_FILENO);
        close(saved);
        unlink(path.c_str());
    }
    ErrorsToFile(const ErrorsToFile&) = delete;
    ErrorsToFile& operator=(const ErrorsToFile&) = delete;
};

// Without a terminal the calls work as on a window no one sees, and nothing
// is written anywhere.
TEST(Window, WithoutTerminalTheCallsWorkAndShowNothing) {
    ErrorsToFile errors;
    Seen = Init();
    HWND dialog = Create();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Seen.messages, 1);
    EXPECT_EQ(Seen.param, 77);
    EXPECT_EQ(Text(dialog, IDC_PROGRESS_COMMAND), Seen.command);
    EXPECT_EQ(Text(dialog, IDC_PROGRESS_TIME), "1 s");
    EXPECT_EQ(Text(dialog, IDCANCEL), "Cancel");

    // A second one at the same time is refused.
    SetLastError(0);
    EXPECT_EQ(Create(), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BUSY);
    EXPECT_EQ(Seen.messages, 1);

    // Centred on the desktop, as the run places it without an owner.
    RECT desktop = {}, window = {};
    ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &desktop));
    EXPECT_EQ(desktop.right - desktop.left, 80);
    EXPECT_EQ(desktop.bottom - desktop.top, 24);
    ASSERT_TRUE(GetWindowRect(dialog, &window));
    LONG width = window.right - window.left, height = window.bottom - window.top;
    EXPECT_GT(width, 0);
    EXPECT_GT(height, 0);
    EXPECT_TRUE(SetWindowPos(dialog, nullptr, (80 - width) / 2, (24 - height) / 2, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE));
    ASSERT_TRUE(GetWindowRect(dialog, &window));
    EXPECT_EQ(window.left, (80 - width) / 2);
    EXPECT_EQ(window.top, (24 - height) / 2);
    EXPECT_EQ(window.right - window.left, width);
    EXPECT_EQ(window.bottom - window.top, height);

    // The host's owner window counts as enabled; the dialog remembers.
    EXPECT_FALSE(EnableWindow(nullptr, FALSE));
    EXPECT_FALSE(EnableWindow(nullptr, TRUE));
    EXPECT_FALSE(EnableWindow(dialog, FALSE));
    EXPECT_TRUE(EnableWindow(dialog, TRUE));
    EXPECT_FALSE(EnableWindow(dialog, TRUE));

    EXPECT_FALSE(ShowWindow(dialog, SW_SHOW));
    EXPECT_TRUE(ShowWindow(dialog, SW_SHOW));
    EXPECT_TRUE(SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, "2 s"));
    EXPECT_EQ(Text(dialog, IDC_PROGRESS_TIME), "2 s");
    MSG message;
    memset(&message, 0x5A, sizeof message);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, 0x5A5A5A5Au);
    EXPECT_FALSE(IsDialogMessageA(dialog, &message));

    EXPECT_TRUE(DestroyWindow(dialog));
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(dialog));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(ShowWindow(dialog, SW_SHOW));
    EXPECT_FALSE(SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, "3 s"));
    EXPECT_FALSE(GetWindowRect(dialog, &window));
    EXPECT_EQ(errors.Written(), "");

    // Once destroyed, the next one can be made.
    HWND next = Create();
    EXPECT_NE(next, nullptr);
    EXPECT_TRUE(DestroyWindow(next));
}

// What the run asks before it places the window and while it waits: which
// handles are windows, whether they show, the one monitor (the desktop,
// all of it work area); and the system, which runs nothing under WOW64 and
// has no Windows folder, and its variables.
TEST(Window, WindowsMonitorAndSystemAnswerAsTheRunAsksThem) {
    ErrorsToFile errors;
    HWND dialog = Create();
    ASSERT_NE(dialog, nullptr);
    HWND host = (HWND)&Seen; // a host's window, unknown here
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(IsWindow(GetDesktopWindow()));
    EXPECT_FALSE(IsWindow(nullptr));
    EXPECT_FALSE(IsWindow(host));
    EXPECT_FALSE(IsWindowVisible(dialog));
    ShowWindow(dialog, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_FALSE(IsWindowVisible(host));
    EXPECT_FALSE(IsIconic(dialog));

    HMONITOR monitor = MonitorFromWindow(dialog, MONITOR_DEFAULTTONULL);
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(MonitorFromWindow(GetDesktopWindow(), MONITOR_DEFAULTTONULL), monitor);
    EXPECT_EQ(MonitorFromWindow(host, MONITOR_DEFAULTTONULL), nullptr);
    EXPECT_EQ(MonitorFromWindow(host, MONITOR_DEFAULTTOPRIMARY), monitor);
    MONITORINFO info;
    memset(&info, 0x5A, sizeof info);
    info.cbSize = sizeof info - 1;
    SetLastError(0);
    EXPECT_FALSE(GetMonitorInfoA(monitor, &info));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetMonitorInfoA((HMONITOR)host, &info));
    ASSERT_TRUE(GetMonitorInfoA(monitor, &info));
    RECT desktop;
    ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &desktop));
    EXPECT_EQ(memcmp(&info.rcMonitor, &desktop, sizeof desktop), 0);
    EXPECT_EQ(memcmp(&info.rcWork, &desktop, sizeof desktop), 0);
    EXPECT_EQ(info.dwFlags, (DWORD)MONITORINFOF_PRIMARY);

    EXPECT_TRUE(DestroyWindow(dialog));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(IsWindowVisible(dialog));

    BOOL wow64 = TRUE;
    EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64);
    char folder[MAX_PATH] = "x";
    SetLastError(0);
    EXPECT_EQ(GetSystemWindowsDirectoryA(folder, sizeof folder), 0u);
    EXPECT_STREQ(folder, "");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    setenv("EP_WINDOW_TEST", "abc", 1);
    char value[4] = "xyz";
    EXPECT_EQ(GetEnvironmentVariableA("EP_WINDOW_TEST", value, 3), 4u);
    EXPECT_STREQ(value, "xyz");
    EXPECT_EQ(GetEnvironmentVariableA("EP_WINDOW_TEST", value, 4), 3u);
    EXPECT_STREQ(value, "abc");
    unsetenv("EP_WINDOW_TEST");
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableA("EP_WINDOW_TEST", value, 4), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ENVVAR_NOT_FOUND);
    EXPECT_EQ(errors.Written(), "");
}

// A procedure that destroys its dialog in WM_INITDIALOG: no dialog results.
INT_PTR CALLBACK DestroyAtOnce(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG)
        DestroyWindow(dialog);
    return TRUE;
}

TEST(Window, CreationFailsWithoutTemplateOrProcedureOrWhenDestroyedAtOnce) {
    SetLastError(0);
    EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(999), nullptr, Procedure, 0), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, nullptr, 0),
              nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, DestroyAtOnce, 0),
        nullptr);
    HWND dialog = Create();
    EXPECT_NE(dialog, nullptr) << "the destroyed dialog still holds its place";
    DestroyWindow(dialog);
}

// The wait of the run's loop: a running program times out, an ended one is
// signalled, anything but one process handle fails.
TEST(Window, MessageWaitWaitsForTheOneProcess) {
    PROCESS_INFORMATION process = StartSleeper("300", false);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 10, QS_ALLINPUT),
              (DWORD)WAIT_TIMEOUT);
    DWORD result = WAIT_TIMEOUT;
    for (int i = 0; i < 500 && result == WAIT_TIMEOUT; i++)
        result = MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 10, QS_ALLINPUT);
    EXPECT_EQ(result, (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 0, QS_ALLINPUT),
              (DWORD)WAIT_OBJECT_0);
    HANDLE two[2] = {process.hProcess, process.hProcess};
    EXPECT_EQ(MsgWaitForMultipleObjects(2, two, FALSE, 10, QS_ALLINPUT), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &process.hThread, FALSE, 10, QS_ALLINPUT), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

// --- On a terminal ------------------------------------------------------------

// The failures the running test has reported so far (a forked process
// starts with its parent's).
int FailuresSoFar() {
    return testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

// Runs steps as the host on a new terminal of the given width; 0 when no
// check failed there.
TerminalSession OnTerminal(int columns, void (*steps)(int tty)) {
    return RunOnTerminal(columns, 24, [steps](int tty) {
        int before = FailuresSoFar();
        steps(tty);
        return FailuresSoFar() > before ? 1 : 0;
    });
}

std::string Status(const std::string& command, const std::string& time) {
    return "Running: " + command + "  (" + time + ")  Ctrl-C stops it";
}

// One redraw: from the row's start, the line, blanks over the rest of the
// previous one, and back to the row's start.
std::string Drawn(const std::string& line, size_t previous) {
    return "\r" + line + std::string(previous > line.size() ? previous - line.size() : 0, ' ') +
           "\r";
}

void ShowUpdateAndErase(int) {
    Seen = Init();
    HWND dialog = Create();
    ShowWindow(dialog, SW_SHOW);
    SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, "2 s");
    SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, "12 s, 48 s left");
    SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, "13 s");
    ShowWindow(dialog, SW_HIDE);
    SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, "14 s");
    ShowWindow(dialog, SW_SHOW);
    // A host that mutes its messages (standard error to /dev/null) ends the
    // updates; the line still goes when the window does.
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, "15 s");
    DestroyWindow(dialog);
}

TEST(Window, StatusLineAppearsUpdatesAndIsErased) {
    TerminalSession shown = OnTerminal(100, ShowUpdateAndErase);
    EXPECT_EQ(shown.status, 0);
    const std::string command = Init().command;
    std::string first = Status(command, "1 s"), longer = Status(command, "12 s, 48 s left");
    std::string expected = Drawn(first, 0) + Drawn(Status(command, "2 s"), first.size()) +
                           Drawn(longer, first.size()) +
                           Drawn(Status(command, "13 s"), longer.size()) +
                           Drawn("", first.size() + 1) + Drawn(Status(command, "14 s"), 0) +
                           Drawn("", first.size() + 1);
    EXPECT_EQ(shown.screen, expected);
}

void ShowLongCommand(int) {
    Seen = Init();
    Seen.command = "\x1b[2Jpre\t-i \"/tmp/se1.TMP\" " + std::string(100, 'x');
    HWND dialog = Create();
    ShowWindow(dialog, SW_SHOW);
    DestroyWindow(dialog);
}

// The command line is shortened with "..." to the terminal's width (less
// the last column, which would wrap), and its control characters show as
// ^X; on a terminal too narrow for the rest the line itself is cut.
TEST(Window, StatusLineShortensTheCommandLineToTheTerminal) {
    TerminalSession wide = OnTerminal(40, ShowLongCommand);
    EXPECT_EQ(wide.status, 0);
    std::string line = "Running: ^[[...  (1 s)  Ctrl-C stops it";
    ASSERT_EQ(line.size(), 39u);
    EXPECT_EQ(wide.screen, Drawn(line, 0) + Drawn("", 39));

    TerminalSession narrow = OnTerminal(20, ShowLongCommand);
    EXPECT_EQ(narrow.status, 0);
    EXPECT_EQ(narrow.screen, Drawn("Running: ^[[2Jpr...", 0) + Drawn("", 19));

    TerminalSession roomy = OnTerminal(200, ShowLongCommand);
    EXPECT_EQ(roomy.status, 0);
    std::string whole = Status("^[[2Jpre -i \"/tmp/se1.TMP\" " + std::string(100, 'x'), "1 s");
    EXPECT_EQ(roomy.screen, Drawn(whole, 0) + Drawn("", whole.size()));
}

// While a program the layer started holds the terminal (its group in the
// foreground) the host still draws, also with TOSTOP set, and is never
// stopped for it; while another process group has the terminal (the host
// is a background job) nothing is drawn.
void DrawWhileOthersHoldTheTerminal(int tty) {
    Seen = Init();
    struct termios modes;
    tcgetattr(tty, &modes);
    modes.c_lflag |= TOSTOP;
    tcsetattr(tty, TCSANOW, &modes);
    HWND dialog = Create();
    ShowWindow(dialog, SW_SHOW);
    PROCESS_INFORMATION program = StartSleeper("20000", true);
    // Lent as a shell lends it; the host is then a background group, which
    // must not be stopped by taking the terminal back.
    signal(SIGTTOU, SIG_IGN);
    EXPECT_EQ(0, tcsetpgrp(tty, (pid_t)program.dwProcessId));
    signal(SIGTTOU, SIG_DFL);
    SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, "2 s");
    EndProgram(program);

    pid_t other = fork();
    if (other == 0) {
        setpgid(0, 0);
        pause();
        _exit(0);
    }
    setpgid(other, other);
    signal(SIGTTOU, SIG_IGN);
    EXPECT_EQ(0, tcsetpgrp(tty, other));
    signal(SIGTTOU, SIG_DFL);
    SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, "3 s");
    DestroyWindow(dialog); // nothing to erase from the background either
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
}

TEST(Window, StatusLineGoesOnWhileTheProgramHoldsTheTerminalOnly) {
    TerminalSession shown = OnTerminal(100, DrawWhileOthersHoldTheTerminal);
    EXPECT_EQ(shown.status, 0) << "the host was stopped, or a check failed";
    const std::string command = Init().command;
    std::string first = Status(command, "1 s");
    EXPECT_EQ(shown.screen, Drawn(first, 0) + Drawn(Status(command, "2 s"), first.size()));
}

} // namespace
