// Waiting for the program. A short run costs a wait and two measurements of
// the output files; a long one shows the progress window after a second:
// owned by the host's window, which it disables as a modal dialog does,
// with the command line, the seconds passed and Cancel. While it shows, the
// wait handles the thread's messages, so the host's windows repaint and the
// host never looks hung; Cancel, Escape and the close box end the run. So
// do a WM_QUIT (the host is closing, or plugin-host was interrupted), also
// before the window shows, and the end of the host's window: a document
// window closed meanwhile takes the progress window with it, and the run
// must not go on with nothing to stop it.
#include "wait.h"
#include "convert.h"
#include "messages.h"
#include "resource.h"
#include "settings/settings.h"

#include <string.h>

enum {
    // Milliseconds between two measurements of the output files.
    WATCH_STEP = 10,
    // Milliseconds a program runs before the progress window shows.
    PROGRESS_DELAY = 1000
};

static HWND Progress;
// The host's window as the run found it: NULL for none, or one that was no
// window any more.
static HWND Owner;
static BOOL ProgressTried;
static BOOL OwnerDisabled;
static BOOL Cancelled;
static BOOL QuitSeen;
static int QuitCode;
static DWORD SecondsShown;
static char TimeText[64];

BOOL FileLargerThan(HANDLE file, unsigned long long limit) {
    LARGE_INTEGER size;
    return file != NULL && GetFileSizeEx(file, &size) && (unsigned long long)size.QuadPart > limit;
}

// The time limit in milliseconds, INFINITE for none.
static DWORD WaitLimit(void) {
    if (TimeLimit == 0 || TimeLimit > (INFINITE - 1) / 1000)
        return INFINITE;
    return TimeLimit * 1000;
}

// "N s", or with a time limit "N s, M s left".
static void SetTimeText(DWORD passed, DWORD limit) {
    SecondsShown = passed / 1000;
    if (limit == INFINITE)
        wsprintfA(TimeText, "%u s", (UINT)SecondsShown);
    else
        wsprintfA(TimeText, "%u s, %u s left", (UINT)SecondsShown,
                  (UINT)((limit - passed + 999) / 1000));
    if (Progress != NULL)
        SetDlgItemTextA(Progress, IDC_PROGRESS_TIME, TimeText);
}

static LONG Within(LONG value, LONG low, LONG high) {
    if (value > high)
        value = high;
    return value < low ? low : value;
}

// Puts the window in the middle of its owner, whole on the work area of the
// owner's monitor (the screen without the task bar): a small owner near the
// screen's edge must not push it off. Where the owner is minimised (Windows
// keeps it far off the screen), hidden or missing, in the middle of that
// work area.
static void PlaceProgress(HWND window) {
    MONITORINFO monitor;
    memset(&monitor, 0, sizeof monitor);
    monitor.cbSize = sizeof monitor;
    RECT box, centre;
    if (!GetWindowRect(window, &box) ||
        !GetMonitorInfoA(
            MonitorFromWindow(Owner != NULL ? Owner : window, MONITOR_DEFAULTTOPRIMARY), &monitor))
        return;
    const RECT* area = &monitor.rcWork;
    if (Owner == NULL || !IsWindowVisible(Owner) || IsIconic(Owner) ||
        !GetWindowRect(Owner, &centre))
        centre = *area;
    LONG width = box.right - box.left, height = box.bottom - box.top;
    // A window larger than the work area keeps its top left corner on it.
    LONG x = Within((centre.left + centre.right - width) / 2, area->left, area->right - width);
    LONG y = Within((centre.top + centre.bottom - height) / 2, area->top, area->bottom - height);
    SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_PROGRESS_COMMAND, ShownCommandLine());
        SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, TimeText);
        PlaceProgress(dialog);
        return 1; // the focus goes to Cancel
    case WM_COMMAND:
        // Cancel, Escape and the close box all come as IDCANCEL.
        if ((DWORD)wParam == IDCANCEL) {
            Cancelled = TRUE;
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}

static void OpenProgress(DWORD passed, DWORD limit) {
    ProgressTried = TRUE;
    SetTimeText(passed, limit);
    Progress = CreateDialogParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_PROGRESS), Owner,
                                  ProgressDialogProc, 0);
    if (Progress == NULL)
        return;
    // As a modal dialog does: the owner takes no input meanwhile.
    OwnerDisabled = Owner != NULL && !EnableWindow(Owner, FALSE);
    ShowWindow(Progress, SW_SHOW);
}

// The owner is enabled before the window goes, so that the focus returns to
// it and not to some other program's window. Either may be gone already: a
// destroyed owner takes the window with it.
static void CloseProgress(void) {
    if (OwnerDisabled && IsWindow(Owner))
        EnableWindow(Owner, TRUE);
    if (Progress != NULL && IsWindow(Progress))
        DestroyWindow(Progress);
    Progress = NULL;
    OwnerDisabled = FALSE;
}

// A WM_QUIT (the host is closing) ends the run as Cancel does and is posted
// again once the run is over.
static void TakeQuit(const MSG* message) {
    QuitSeen = TRUE;
    QuitCode = (int)message->wParam;
    Cancelled = TRUE;
}

// Hands every waiting message to the progress window or its own window.
static void HandleMessages(void) {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT)
            TakeQuit(&message);
        else if (!IsDialogMessageA(Progress, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

// One wait of at most a step: for the program alone until the window
// shows, taking a WM_QUIT only and leaving the host's other messages to it;
// then for the program or a message.
static DWORD WaitStep(HANDLE process, DWORD passed, DWORD limit) {
    DWORD step = WATCH_STEP;
    if (limit != INFINITE && limit - passed < step)
        step = limit - passed;
    if (Progress == NULL) {
        DWORD result = WaitForSingleObject(process, step);
        MSG message;
        if (result == WAIT_TIMEOUT && PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
            TakeQuit(&message);
        return result;
    }
    DWORD result = MsgWaitForMultipleObjects(1, &process, FALSE, step, QS_ALLINPUT);
    HandleMessages();
    return result;
}

// Whether the user has lost the means to stop the run: the host's window
// that the run began with has been destroyed (and the progress window with
// it), or the progress window alone.
static BOOL ControlLost(void) {
    return (Owner != NULL && !IsWindow(Owner)) || (Progress != NULL && !IsWindow(Progress));
}

WaitOutcome WaitForProgram(HANDLE process, HANDLE capture, HANDLE errors) {
    DWORD limit = WaitLimit();
    DWORD start = GetTickCount();
    Cancelled = FALSE;
    QuitSeen = FALSE;
    ProgressTried = FALSE;
    Owner = HostWindow();
    WaitOutcome outcome = WAIT_ENDED;
    for (;;) {
        DWORD passed = GetTickCount() - start;
        if (limit != INFINITE && passed >= limit) {
            outcome = WAIT_TIMED_OUT;
            break;
        }
        DWORD result = WaitStep(process, passed, limit);
        if (result == WAIT_OBJECT_0)
            break;
        if (result == WAIT_FAILED) {
            outcome = WAIT_BROKEN;
            break;
        }
        if (Cancelled || ControlLost()) {
            outcome = WAIT_CANCELLED;
            break;
        }
        // The program's form of a text may take more bytes than the text.
        if (FileLargerThan(capture, RAW_CAPACITY)) {
            outcome = WAIT_OUTPUT_OVER;
            break;
        }
        if (FileLargerThan(errors, ErrorLimit)) {
            outcome = WAIT_ERRORS_OVER;
            break;
        }
        passed = GetTickCount() - start;
        if (!ProgressTried && ShowProgress && passed >= PROGRESS_DELAY)
            OpenProgress(passed, limit);
        else if (Progress != NULL && passed / 1000 != SecondsShown)
            SetTimeText(passed, limit);
    }
    CloseProgress();
    if (QuitSeen)
        PostQuitMessage(QuitCode);
    return outcome;
}
