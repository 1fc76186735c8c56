// Waiting for the program. A short run costs a wait and two measurements of
// the output files; a long one shows the progress window after a second:
// owned by the host's window, which it disables as a modal dialog does,
// with the command line, the seconds passed and Cancel. While it shows, the
// wait handles the thread's messages, so the host's windows repaint and the
// host never looks hung; Cancel, Escape and the close box end the run.
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

// Puts the window in the middle of its owner, or of the screen.
static void CentreOnOwner(HWND window) {
    HWND owner = Host->OwnerWindow != NULL ? Host->OwnerWindow : GetDesktopWindow();
    RECT outer, inner;
    if (!GetWindowRect(owner, &outer) || !GetWindowRect(window, &inner))
        return;
    int x = (outer.left + outer.right - (inner.right - inner.left)) / 2;
    int y = (outer.top + outer.bottom - (inner.bottom - inner.top)) / 2;
    SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemTextA(dialog, IDC_PROGRESS_COMMAND, ShownCommandLine());
        SetDlgItemTextA(dialog, IDC_PROGRESS_TIME, TimeText);
        CentreOnOwner(dialog);
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
    Progress = CreateDialogParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_PROGRESS), Host->OwnerWindow,
                                  ProgressDialogProc, 0);
    if (Progress == NULL)
        return;
    // As a modal dialog does: the owner takes no input meanwhile.
    OwnerDisabled = Host->OwnerWindow != NULL && !EnableWindow(Host->OwnerWindow, FALSE);
    ShowWindow(Progress, SW_SHOW);
}

// The owner is enabled before the window goes, so that the focus returns to
// it and not to some other program's window.
static void CloseProgress(void) {
    if (OwnerDisabled)
        EnableWindow(Host->OwnerWindow, TRUE);
    if (Progress != NULL)
        DestroyWindow(Progress);
    Progress = NULL;
    OwnerDisabled = FALSE;
}

// Hands every waiting message to the progress window or its own window. A
// WM_QUIT (the host is closing) ends the run as Cancel does and is posted
// again once the run is over.
static void HandleMessages(void) {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            QuitSeen = TRUE;
            QuitCode = (int)message.wParam;
            Cancelled = TRUE;
        } else if (!IsDialogMessageA(Progress, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

// One wait of at most a step: for the program alone until the window
// shows, then for the program or a message.
static DWORD WaitStep(HANDLE process, DWORD passed, DWORD limit) {
    DWORD step = WATCH_STEP;
    if (limit != INFINITE && limit - passed < step)
        step = limit - passed;
    if (Progress == NULL)
        return WaitForSingleObject(process, step);
    DWORD result = MsgWaitForMultipleObjects(1, &process, FALSE, step, QS_ALLINPUT);
    HandleMessages();
    return result;
}

WaitOutcome WaitForProgram(HANDLE process, HANDLE capture, HANDLE errors) {
    DWORD limit = WaitLimit();
    DWORD start = GetTickCount();
    Cancelled = FALSE;
    QuitSeen = FALSE;
    ProgressTried = FALSE;
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
        if (Cancelled) {
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
