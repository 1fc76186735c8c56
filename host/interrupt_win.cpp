// Interruptions on Windows: Ctrl-C, Ctrl-Break and the closing of the
// console reach plugin-host's console control handler, which the system runs
// on a thread of its own. A process whose Ctrl-C is ignored (started with
// CREATE_NEW_PROCESS_GROUP, or after SetConsoleCtrlHandler(NULL, TRUE)) is not
// given the event, so an ignored Ctrl-C stays ignored.
//
// plugin-host starts no process itself: the programs are the plug-in's, in
// the job its run makes, which the run ends when it is cancelled. An
// interruption therefore ends the run as Cancel does: a WM_QUIT posted to
// the main thread, which the run's wait takes for Cancel; the run ends its
// job, removes its files and returns. Nothing else is ended: the processes
// whose parent is plugin-host include the console host that Windows may
// have started for it, and ending that would end the console. Message boxes
// of the main thread are closed.
#include "interrupt.h"
#include "system.h"

#include <windows.h>

namespace {

DWORD MainThreadId = 0;
// Whether the main thread has been sent its WM_QUIT: once is enough, as the
// run's wait keeps it until the run ends.
LONG QuitPosted = 0;

// The exit statuses: 128 + the C runtime's signal numbers (SIGINT 2,
// SIGBREAK 21; closing the console counts as a hangup, 1).
const int StatusCtrlC = 128 + 2;
const int StatusCtrlBreak = 128 + 21;
const int StatusClose = 128 + 1;

// The status of the event being handled. Each event is handled on a thread
// of its own; two at once may both report the later one, which changes
// nothing: the first status recorded stays.
LONG EventStatus = 0;

int TakeEvent() {
    return (int)InterlockedExchange(&EventStatus, 0);
}

BOOL WINAPI OnControl(DWORD type) {
    int status = type == CTRL_C_EVENT       ? StatusCtrlC
                 : type == CTRL_BREAK_EVENT ? StatusCtrlBreak
                 : type == CTRL_CLOSE_EVENT ? StatusClose
                                            : 0;
    if (status == 0)
        return FALSE;
    InterlockedExchange(&EventStatus, status);
    OnInterrupt(TakeEvent);
    return TRUE;
}

BOOL CALLBACK CloseBox(HWND window, LPARAM unused) {
    (void)unused;
    char name[16];
    if (GetClassNameA(window, name, sizeof name) > 0 && lstrcmpA(name, "#32770") == 0)
        PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

} // namespace

void TakeOverInterrupts() {
    MainThreadId = GetCurrentThreadId();
    // A thread gets its message queue with its first message call; a
    // WM_QUIT posted before that would be lost.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetConsoleCtrlHandler(OnControl, TRUE);
}

int PendingInterrupt() {
    // The system hands an event straight to a handler thread.
    return 0;
}

// The programs end with the plug-in's run (see the top of this file): none
// is left for plugin-host to end.
bool SignalDescendants(bool forcefully) {
    (void)forcefully;
    return false;
}

void ReapOrphans() {
    // Windows keeps no ended process for its parent to collect.
}

// Ends the run as Cancel does, and closes a box the main thread waits on.
void WakeMainThread() {
    if (InterlockedExchange(&QuitPosted, 1) == 0)
        PostThreadMessageA(MainThreadId, WM_QUIT, 0, 0);
    EnumThreadWindows(MainThreadId, CloseBox, 0);
}

void MuteMessages() {
    // The plug-in's boxes are lines (see boxes_win.cpp), or, with
    // --show-boxes, windows that WakeMainThread closes.
    MuteBoxLines();
}

void ExitAtOnce(int status) {
    TerminateProcess(GetCurrentProcess(), (UINT)status);
    ExitProcess((UINT)status); // not reached
}

void PauseBriefly() {
    Sleep(20);
}

const char* InterruptName(int status) {
    switch (status) {
    case StatusCtrlC:
        return "Ctrl-C";
    case StatusCtrlBreak:
        return "Ctrl-Break";
    case StatusClose:
        return "the closing of the console";
    default:
        return "an interruption";
    }
}
