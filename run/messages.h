// The run's boxes: their texts are built in one module-wide array, line by
// line, and shown with the error icon and an OK button.
#pragma once

#include "plugin.h"

extern const char TextKept[];

// The box text being built.
extern char Message[3072];

// Appends text to Message, as far as it has room.
void Append(const char* text);

// Appends a line break and then the system's description of an error code,
// when it has one.
void AppendReason(DWORD code);

// Appends, after an empty line, the start of what the program wrote to its
// standard error (at most 1000 characters, then "[...]" when there is more),
// NUL bytes left out so that UTF-16 text reads as its characters, and the
// host's password, where it stands there in full and has at least 4
// characters, as "****"; nothing when it wrote nothing or errors is NULL.
void AppendErrorText(HANDLE errors);

// The host's window, or NULL when it gave none or it is no window any more:
// a box with a destroyed owner would not show at all.
HWND HostWindow(void);

// Shows Message in an "Error" box owned by the host's window, or by none
// when that window is gone.
void ShowError(void);

// An "Error" box with a path and an error code, and the code's description:
// format holds "%s" for the path, which is shown as the system names it, and
// then "%d" for the code.
void ShowFileError(const char* format, const WCHAR* path, DWORD error);

// Shows Message in an "Error" box owned by the host's window, with the path
// put in at its byte at, as the system names the path.
void ShowErrorNaming(size_t at, const WCHAR* path);

// An "Error" box owned by the host's window: before, the path as the system
// names it, and after.
void ShowPathError(const char* before, const WCHAR* path, const char* after);

// ExpandedCommandLine as boxes and the progress window show it: the place
// where "%p" put the host's password in, when it put in any, as "****";
// nothing else changed.
const char* ShownCommandLine(void);

// The "Execute Error!" box, without an owner: the command line, the
// system's reason, the program that was looked for and, where the line
// looks mistyped, a hint. Where no command line is set, which file to set it
// in and why that file gave none.
void ShowNotStarted(DWORD error);
