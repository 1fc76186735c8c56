// Windows error codes for errno values (errors.cpp), for the families of the
// layer to set GetLastError with.
#pragma once

#include <windows.h>

// The Windows code for an errno value, and SetLastError with it.
DWORD ErrorFromErrno(int number);
void SetLastErrorFromErrno(int number);

// The exit code GetExitCodeProcess gives for a child ended by signal N:
// EXIT_CODE_SIGNAL_BASE + N, an error status with the customer bit that no
// Windows program ends with in practice; FormatMessageA describes it.
enum : DWORD { EXIT_CODE_SIGNAL_BASE = 0xE0000100u };
