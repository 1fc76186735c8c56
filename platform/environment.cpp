// The environment as blocks, with the meaning GetEnvironmentStringsA,
// GetEnvironmentStringsW and their Free calls have: each "NAME=value" string
// with its terminator, then an empty string. The wide block holds the
// strings converted as names are (names.h), so that every byte of every
// variable comes back when CreateProcessA, given such a block with
// CREATE_UNICODE_ENVIRONMENT, turns it into the bytes execve takes
// (NarrowEnvironmentBlock). Nothing here allocates memory: each block is a
// module-wide buffer.
#include "environment_block.h"

#include "names.h"

#include <errno.h>
#include <string.h>

// POSIX leaves this declaration to the program; glibc makes it only for
// _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

enum { BLOCK_UNITS = 65536 };

// The host's environment as GetEnvironmentStringsA and W give it.
static char EnvironmentBlock[BLOCK_UNITS];
static WCHAR WideBlock[BLOCK_UNITS];
// A wide block's strings as bytes: a unit takes at most three.
static char Narrowed[3 * BLOCK_UNITS];

// GetEnvironmentStringsA: the host's environment as an environment block:
// each "NAME=value" string with its terminator, then an empty string (two
// terminators in all for an empty environment), as CreateProcessA takes
// one. NULL with ERROR_NOT_ENOUGH_MEMORY when it does not fit in 65536
// bytes.
// Differs from Windows: the block is a module-wide buffer that the next
// call overwrites, not a copy of the caller's own; the strings are in the
// order of the environment, not sorted.
extern "C" LPCH GetEnvironmentStringsA(void) {
    size_t used = 0;
    for (char** entry = environ; entry != NULL && *entry != NULL; entry++) {
        size_t length = strlen(*entry) + 1;
        if (used + length + 2 > sizeof EnvironmentBlock) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return NULL;
        }
        memcpy(EnvironmentBlock + used, *entry, length);
        used += length;
    }
    EnvironmentBlock[used++] = '\0';
    if (used == 1)
        EnvironmentBlock[used] = '\0';
    return EnvironmentBlock;
}

// FreeEnvironmentStringsA: lets go of a block GetEnvironmentStringsA gave.
// TRUE; FALSE with ERROR_INVALID_PARAMETER for any other pointer.
// Differs from Windows: nothing is freed, the block being module-wide.
extern "C" BOOL FreeEnvironmentStringsA(LPCH block) {
    if (block != EnvironmentBlock) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

// GetEnvironmentStringsW: the host's environment as a wide environment
// block, each string in UTF-16 as names.h converts a name (the bytes that
// do not decode in the ANSI set as U+DC80 to U+DCFF), so that no variable is
// changed on its way through the block. NULL with ERROR_NOT_ENOUGH_MEMORY
// when it does not fit in 65536 characters.
// Differs from Windows: as GetEnvironmentStringsA.
extern "C" LPWCH GetEnvironmentStringsW(void) {
    size_t used = 0;
    for (char** entry = environ; entry != NULL && *entry != NULL; entry++) {
        // The string, its terminator, and the block's closing one.
        if (used + 2 > BLOCK_UNITS ||
            !NameToWide(*entry, WideBlock + used, BLOCK_UNITS - used - 1)) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return NULL;
        }
        while (WideBlock[used] != 0)
            used++;
        used++;
    }
    WideBlock[used++] = 0;
    if (used == 1)
        WideBlock[used] = 0;
    return WideBlock;
}

// FreeEnvironmentStringsW: lets go of a block GetEnvironmentStringsW gave.
// TRUE; FALSE with ERROR_INVALID_PARAMETER for any other pointer.
// Differs from Windows: nothing is freed, the block being module-wide.
extern "C" BOOL FreeEnvironmentStringsW(LPWCH block) {
    if (block != WideBlock) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

const char* NarrowEnvironmentBlock(const WCHAR* block, int* error) {
    size_t used = 0;
    for (const WCHAR* entry = block; *entry != 0;) {
        if (used + 2 > sizeof Narrowed ||
            !WideToName(entry, Narrowed + used, sizeof Narrowed - used - 1)) {
            *error = used + 2 > sizeof Narrowed || GetLastError() == ERROR_INSUFFICIENT_BUFFER
                         ? ENOMEM
                         : EILSEQ;
            return NULL;
        }
        used += strlen(Narrowed + used) + 1;
        while (*entry != 0)
            entry++;
        entry++;
    }
    Narrowed[used] = '\0';
    return Narrowed;
}
