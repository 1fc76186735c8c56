// Windows error codes for the system's error numbers, and FormatMessageA.
//
// GetLastError gives Windows codes on Linux too, so that a box reads the
// same on every target and callers can compare with the Windows constants.
// Each errno with a Windows counterpart maps to the code that the Windows
// call returns in the same situation; the few calls where the situation
// decides (a missing directory for GetTempFileNameA is ERROR_DIRECTORY, for
// CreateFileA ERROR_PATH_NOT_FOUND) choose their code themselves. An errno
// without a counterpart becomes a customer code: bit 29 set, the errno in
// the low bits, as Windows reserves bit 29 for codes that it does not define.
#include "errors.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h> // snprintf: no stdio streams here
#include <string.h>

namespace {

struct ErrorPair {
    int number;
    DWORD code;
};

// The first pair of a code gives the errno whose text describes it.
const ErrorPair Pairs[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOENT, ERROR_PATH_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {ENOTDIR, ERROR_DIRECTORY},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EROFS, ERROR_WRITE_PROTECT},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {EEXIST, ERROR_FILE_EXISTS},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {ECHILD, ERROR_WAIT_NO_CHILDREN},
    {EBUSY, ERROR_BUSY},
    {ENOEXEC, ERROR_BAD_EXE_FORMAT},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {E2BIG, ERROR_FILENAME_EXCED_RANGE},
    {EFBIG, ERROR_FILE_TOO_LARGE},
    {EIO, ERROR_IO_DEVICE},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
    {EILSEQ, ERROR_NO_UNICODE_TRANSLATION},
};

// Codes that only this layer's own situations give, described in the words
// Windows uses, which say more there than strerror's.
struct CodeText {
    DWORD code;
    const char* text;
};

const CodeText Texts[] = {
    {ERROR_WAIT_NO_CHILDREN, "There are no child processes to wait for."},
};

const DWORD CustomerBit = 0x20000000u;

} // namespace

DWORD ErrorFromErrno(int number) {
    for (const ErrorPair& pair : Pairs) {
        if (pair.number == number)
            return pair.code;
    }
    return CustomerBit | (DWORD)(number & 0xFFFF);
}

void SetLastErrorFromErrno(int number) {
    SetLastError(ErrorFromErrno(number));
}

// The errno whose text describes a code, or 0 for a code this layer never
// gives.
static int ErrnoOf(DWORD code) {
    if ((code & 0xFFFF0000u) == CustomerBit)
        return (int)(code & 0xFFFF);
    for (const ErrorPair& pair : Pairs) {
        if (pair.code == code)
            return pair.number;
    }
    return 0;
}

// Copies text into buffer; 0 with ERROR_INSUFFICIENT_BUFFER when it does not
// fit with its terminator.
static DWORD CopyText(const char* text, LPSTR buffer, DWORD size) {
    size_t length = strlen(text);
    if (length > size - 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return (DWORD)length;
}

// FormatMessageA: with FORMAT_MESSAGE_FROM_SYSTEM, the system's description
// of a code that GetLastError gives (strerror's text of the matching errno,
// or the Windows text of a code that has one of its own here),
// or of an exit status that GetExitCodeProcess gives for a program ended by
// a signal ("Killed by signal 9 (Killed)"). Copies the text and a
// terminator and returns its length; returns 0 with ERROR_INSUFFICIENT_BUFFER
// when they do not fit in size characters, or with ERROR_MR_MID_NOT_FOUND
// for a code it does not know, as Windows does.
// Differs from Windows: only FORMAT_MESSAGE_FROM_SYSTEM with the caller's
// buffer is served (other sources, FORMAT_MESSAGE_ALLOCATE_BUFFER and
// inserts give ERROR_INVALID_PARAMETER); the language is ignored; the text
// has no line end of its own.
extern "C" DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                                LPSTR buffer, DWORD size, va_list* arguments) {
    (void)source;
    (void)languageId;
    (void)arguments;
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) ||
        (flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 || buffer == NULL || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((messageId & ~0xFFu) == EXIT_CODE_SIGNAL_BASE) {
        int number = (int)(messageId & 0xFF);
        const char* name = strsignal(number);
        char text[128];
        (void)snprintf(text, sizeof text, "Killed by signal %d (%s)", number,
                       name != NULL ? name : "unknown");
        return CopyText(text, buffer, size);
    }
    for (const CodeText& known : Texts) {
        if (known.code == messageId)
            return CopyText(known.text, buffer, size);
    }
    int number = ErrnoOf(messageId);
    if (number == 0) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    return CopyText(strerror(number), buffer, size);
}
