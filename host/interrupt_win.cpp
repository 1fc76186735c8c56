// Interruptions on Windows: Ctrl-C, Ctrl-Break and the closing of the
// console reach plugin-host's console control handler, which the system runs
// on a thread of its own. A process whose Ctrl-C is ignored (started with
// CREATE_NEW_PROCESS_GROUP, or after SetConsoleCtrlHandler(NULL, TRUE)) is not
// given the event, so an ignored Ctrl-C stays ignored. The programs are found
// by a snapshot of the processes, by parent process id, and ended with
// TerminateProcess; message boxes of the main thread are closed.
#include "interrupt.h"
#include "system.h"

#include <windows.h>
#include <tlhelp32.h>

#include <vector>

namespace {

DWORD MainThreadId = 0;

// The exit code the ended programs report: the one of a process ended by
// Ctrl-C.
const UINT EndedByInterrupt = 0xC000013Au;

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

struct ProcessEntry {
    DWORD pid;
    DWORD parent;
};

ULONGLONG CreationTime(HANDLE process) {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return ((ULONGLONG)created.dwHighDateTime << 32) | created.dwLowDateTime;
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
    SetConsoleCtrlHandler(OnControl, TRUE);
}

int PendingInterrupt() {
    // The system hands an event straight to a handler thread.
    return 0;
}

// A process counts as started beneath plugin-host when its parent is
// plugin-host or one found before it, and it was created after that parent:
// a parent process id is not cleared when the parent ends, and may have been
// given to a new process since. The deepest are ended first, each waited for
// a moment: the program the plug-in waits for ends last, once those it
// started no longer hold the run's temporary files open.
bool SignalDescendants(bool forcefully) {
    (void)forcefully; // TerminateProcess is the only way
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    std::vector<ProcessEntry> all;
    PROCESSENTRY32 item;
    item.dwSize = sizeof item;
    for (BOOL more = Process32First(snapshot, &item); more; more = Process32Next(snapshot, &item))
        all.push_back({item.th32ProcessID, item.th32ParentProcessID});
    CloseHandle(snapshot);

    std::vector<DWORD> parents(1, GetCurrentProcessId());
    std::vector<ULONGLONG> created(1, CreationTime(GetCurrentProcess()));
    std::vector<HANDLE> found;
    for (size_t next = 0; next < parents.size(); next++) {
        for (const ProcessEntry& entry : all) {
            if (entry.parent != parents[next] || entry.pid == parents[next])
                continue;
            HANDLE process =
                OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                            FALSE, entry.pid);
            if (process == nullptr)
                continue;
            ULONGLONG time = CreationTime(process);
            if (time >= created[next] && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
                found.push_back(process);
                parents.push_back(entry.pid);
                created.push_back(time);
            } else {
                CloseHandle(process);
            }
        }
    }
    for (size_t i = found.size(); i-- > 0;) {
        TerminateProcess(found[i], EndedByInterrupt);
        WaitForSingleObject(found[i], 1000);
        CloseHandle(found[i]);
    }
    return !found.empty();
}

void WakeMainThread() {
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
