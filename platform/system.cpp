// The system the module runs on: GetCurrentProcess, IsWow64Process,
// GetSystemWindowsDirectoryA and GetEnvironmentVariableA. Linux runs no
// program through a 32-bit layer over a 64-bit system, and has no Windows
// folder.
#include <windows.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

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

// GetEnvironmentVariableA: copies the value of the process's variable into
// buffer and returns its length, without the terminator; where the buffer
// of size characters has no room for it and the terminator, returns that
// size needed (terminator included) and leaves the buffer alone. 0 with
// ERROR_ENVVAR_NOT_FOUND when there is no such variable.
// Differs from Windows: names are told apart by case, as Linux does.
extern "C" DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    const char* value = name != NULL ? getenv(name) : NULL;
    if (value == NULL) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    size_t length = strlen(value);
    if (buffer == NULL || length >= size)
        return (DWORD)length + 1;
    memcpy(buffer, value, length + 1);
    return (DWORD)length;
}
