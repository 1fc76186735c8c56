// Handles of the platform layer: a fixed table of slots, each a file
// descriptor or a started process. A HANDLE is the slot's index plus one,
// times four, so no valid handle is NULL or INVALID_HANDLE_VALUE.
#pragma once

#include <windows.h>
#include <sys/types.h>

enum HandleKind { HANDLE_FREE = 0, HANDLE_FILE, HANDLE_PROCESS, HANDLE_THREAD, HANDLE_JOB };

struct HandleSlot {
    int kind;
    int fd;          // HANDLE_FILE: the descriptor, always close-on-exec
    pid_t pid;       // HANDLE_PROCESS, HANDLE_THREAD: the child, until it has been
                     // reaped; HANDLE_JOB: the process group it holds, 0 for none
    int reaped;      // HANDLE_PROCESS: the child has been waited for
    int status;      // HANDLE_PROCESS: its wait status once reaped
    int group;       // HANDLE_PROCESS: the child leads a process group of its own
    int terminated;  // HANDLE_PROCESS: ended by TerminateProcess or TerminateJobObject,
    DWORD exitCode;  //   with the exit code it is to report
    DWORD suspended; // HANDLE_THREAD: the suspend count ResumeThread reports
};

enum { HANDLE_SLOTS = 64 };

// The Windows code for an errno value (errors.cpp), and SetLastError with it.
DWORD ErrorFromErrno(int number);
void SetLastErrorFromErrno(int number);

// The exit code GetExitCodeProcess gives for a child ended by signal N:
// EXIT_CODE_SIGNAL_BASE + N, an error status with the customer bit that no
// Windows program ends with in practice; FormatMessageA describes it.
enum : DWORD { EXIT_CODE_SIGNAL_BASE = 0xE0000100u };

// Takes a free slot of the given kind; NULL (and EMFILE) when none is left.
HANDLE NewHandle(int kind, HandleSlot** slot);
// The slot behind a handle of the given kind, or NULL (and EBADF).
HandleSlot* LookupHandle(HANDLE handle, int kind);

// Writes all count bytes to fd, going on after short writes and EINTR.
// false with errno (ENOSPC for a write that made no progress) on failure;
// *written, when given, says how many bytes did reach the file.
bool WriteAllBytes(int fd, const void* bytes, size_t count, size_t* written);

// Moves a descriptor above the standard ones (0-2) and marks it close-on-exec,
// so that a child's standard handles can be set without clobbering it.
int KeepAboveStandard(int fd);

// The slot of the started process with the given pid, or NULL.
HandleSlot* FindProcessSlot(pid_t pid);

// Reaps a started process without waiting if it has ended (process.cpp).
void ReapIfEnded(HandleSlot* slot);
