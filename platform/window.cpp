// The progress window and the message loop around it: CreateDialogParamA,
// DestroyWindow, ShowWindow, EnableWindow, GetWindowRect, SetWindowPos,
// GetDesktopWindow, PeekMessageA, TranslateMessage, DispatchMessageA,
// IsDialogMessageA, PostQuitMessage and MsgWaitForMultipleObjects.
//
// There are no windows and no message queue here: a modeless dialog cannot
// be created, no message ever arrives, and waiting for a process and a
// message is waiting for the process.
#include <windows.h>

// CreateDialogParamA: a modeless dialog from the module's template. Differs
// from Windows: none can be shown; NULL with ERROR_INVALID_WINDOW_HANDLE.
extern "C" HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                                   DLGPROC dialogProc, LPARAM initParam) {
    (void)instance;
    (void)templateName;
    (void)owner;
    (void)dialogProc;
    (void)initParam;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return NULL;
}

// DestroyWindow, ShowWindow, GetWindowRect, SetWindowPos: no window exists,
// so each fails with ERROR_INVALID_WINDOW_HANDLE.
extern "C" BOOL DestroyWindow(HWND window) {
    (void)window;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

extern "C" BOOL ShowWindow(HWND window, int command) {
    (void)window;
    (void)command;
    return FALSE;
}

extern "C" BOOL GetWindowRect(HWND window, LPRECT rect) {
    (void)window;
    (void)rect;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

extern "C" BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy,
                             UINT flags) {
    (void)window;
    (void)insertAfter;
    (void)x;
    (void)y;
    (void)cx;
    (void)cy;
    (void)flags;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
}

// EnableWindow: FALSE, "it was enabled": no window is ever disabled here.
extern "C" BOOL EnableWindow(HWND window, BOOL enable) {
    (void)window;
    (void)enable;
    return FALSE;
}

// GetDesktopWindow: NULL; there is no desktop.
extern "C" HWND GetDesktopWindow(void) {
    return NULL;
}

// PeekMessageA: FALSE; no message ever arrives.
extern "C" BOOL PeekMessageA(LPMSG message, HWND window, UINT first, UINT last, UINT remove) {
    (void)message;
    (void)window;
    (void)first;
    (void)last;
    (void)remove;
    return FALSE;
}

extern "C" BOOL TranslateMessage(const MSG* message) {
    (void)message;
    return FALSE;
}

extern "C" LRESULT DispatchMessageA(const MSG* message) {
    (void)message;
    return 0;
}

extern "C" BOOL IsDialogMessageA(HWND dialog, LPMSG message) {
    (void)dialog;
    (void)message;
    return FALSE;
}

extern "C" void PostQuitMessage(int exitCode) {
    (void)exitCode;
}

// MsgWaitForMultipleObjects: waits for the one process handle given, as
// WaitForSingleObject does; no message ever ends the wait. Differs from
// Windows: exactly one handle, a process; WAIT_FAILED with
// ERROR_INVALID_PARAMETER otherwise.
extern "C" DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                           DWORD milliseconds, DWORD wakeMask) {
    (void)waitAll;
    (void)wakeMask;
    if (count != 1 || handles == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    return WaitForSingleObject(handles[0], milliseconds);
}
