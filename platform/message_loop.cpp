// The message loop around the progress window: PeekMessageA,
// TranslateMessage, DispatchMessageA, IsDialogMessageA, PostQuitMessage and
// MsgWaitForMultipleObjects. There is no message queue: no message ever
// arrives, and a wait for messages is a wait for the one process.
#include <windows.h>

// PeekMessageA: FALSE: no message ever arrives (the message is not
// touched). Differs from Windows: there is no message queue.
extern "C" BOOL PeekMessageA(LPMSG message, HWND window, UINT first, UINT last, UINT remove) {
    (void)message;
    (void)window;
    (void)first;
    (void)last;
    (void)remove;
    return FALSE;
}

// TranslateMessage, DispatchMessageA, IsDialogMessageA: there are no
// messages to hand on; FALSE, 0 and FALSE ("not the dialog's").
// Differs from Windows: there is no message queue (see PeekMessageA).
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

// PostQuitMessage: does nothing. Differs from Windows: there is no message
// loop of the host's that a WM_QUIT could end, and one kept for a later
// PeekMessageA would end the next run instead.
extern "C" void PostQuitMessage(int exitCode) {
    (void)exitCode;
}

// MsgWaitForMultipleObjects: waits, as WaitForSingleObject does, up to the
// given milliseconds for the one process handle given to end: WAIT_OBJECT_0
// when it has ended, WAIT_TIMEOUT when the time ran out first. No message
// ever ends the wait (the wake mask is not used). WAIT_FAILED with
// ERROR_INVALID_PARAMETER for a count other than 1 or no handles, or as
// WaitForSingleObject fails (ERROR_INVALID_HANDLE for a handle that is not
// a process).
// Differs from Windows: exactly one handle, a process.
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
