// The system the module runs on: GetCurrentProcess, IsWow64Process and
// GetSystemWindowsDirectoryA. Linux runs no program through a 32-bit
// layer over a 64-bit system, and has no Windows folder.
#include <windows.h>

#include <stdint.h>

// GetCurrentProcess: the pseudo-handle that stands for the calling process,
// (HANDLE)-1, as on Windows. It needs no closing.
extern "C" HANDLE GetCurrentProcess(void) {
    return (HANDLE)(intptr_t)-1;
}

// IsWow64Process: FALSE into *wow64 (no process here runs under WOW64) and
// TRUE; FALSE with ERROR_INVALID_PARAMETER when wow64 is NULL.
// Differs from Windows: the process handle is not looked at.
extern "C" BOOL IsWow64Process(HANDLE process, PBOOL wow64) {
    (void)process;
    if (wow64 == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *wow64 = FALSE;
    return TRUE;
}

// GetSystemWindowsDirectoryA: 0 with ERROR_PATH_NOT_FOUND, and an empty
// buffer where it has room.
// Differs from Windows: there is no Windows folder.
extern "C" UINT GetSystemWindowsDirectoryA(LPSTR buffer, UINT size) {
    if (buffer != NULL && size > 0)
        buffer[0] = '\0';
    SetLastError(ERROR_PATH_NOT_FOUND);
    return 0;
}
