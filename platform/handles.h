// The handle table of the platform layer: a fixed table of slots, each a
// file, a started process, its thread or a job. A HANDLE is the slot's index
// plus one, times four, so no valid handle is NULL or INVALID_HANDLE_VALUE.
// The table knows no family: each family fills its slots and says, when it
// takes one, how CloseHandle lets go of what the slot holds.
#pragma once

#include <windows.h>
#include <sys/types.h>

enum HandleKind { HANDLE_FREE = 0, HANDLE_FILE, HANDLE_PROCESS, HANDLE_THREAD, HANDLE_JOB };

struct HandleSlot;

// Called by CloseHandle before the slot is freed; NULL: nothing to let go.
typedef void (*CloseSlot)(HandleSlot* slot);

struct HandleSlot {
    int kind;
    int fd; // HANDLE_FILE: the descriptor, always close-on-exec
    CloseSlot close;
    unsigned long long started; // HANDLE_PROCESS, HANDLE_JOB: when the child was
                                // started, in the clock ticks of /proc/PID/stat
    pid_t pid;                  // HANDLE_PROCESS, HANDLE_THREAD: the child, until it has been
                                // reaped; HANDLE_JOB: the process group it holds, 0 for none
    int reaped;                 // HANDLE_PROCESS: the child has been waited for
    int status;                 // HANDLE_PROCESS: its wait status once reaped
    int unknown;                //   reaped by someone else (ECHILD): no status to tell
    int group;                  // HANDLE_PROCESS: the child leads a process group of its own
    int lent;                   // HANDLE_PROCESS: its group holds the controlling terminal,
    pid_t foreground;           //   which goes back to this group once it has been reaped
    int terminated;             // HANDLE_PROCESS: ended by TerminateProcess or TerminateJobObject,
    DWORD exitCode;             //   with the exit code it is to report
    DWORD suspended;            // HANDLE_THREAD: the suspend count ResumeThread reports
};

enum { HANDLE_SLOTS = 64 };

// Takes a free slot of the given kind, zeroed with fd -1, closed by close;
// NULL (and ERROR_TOO_MANY_OPEN_FILES) when none is left. A family that
// cannot finish what it took the slot for frees it with FreeHandle.
HANDLE NewHandle(int kind, CloseSlot close, HandleSlot** slot);
void FreeHandle(HandleSlot* slot);

// The slot behind a handle of the given kind, or NULL (and
// ERROR_INVALID_HANDLE).
HandleSlot* LookupHandle(HANDLE handle, int kind);

// The slot of the started process with the given pid, or NULL.
HandleSlot* FindProcessSlot(pid_t pid);
