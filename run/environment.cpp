// The environment a program gets with TextsInEnvironment: the host's own,
// and beside it the input file's path and the host's five texts, so that a
// program can take the password without it standing on its command line,
// where other users of the machine can read it.
#include "environment.h"
#include "run.h"
#include "wide.h"

#include <string.h>

// The block is wide, so that every variable of the host reaches the program
// as it was, whatever characters it holds: an ANSI block would be converted
// with best fit, "Łukasz" into "Lukasz".
WCHAR Environment[ENVIRONMENT_CAPACITY];

static char Value[HOST_TEXT_SIZE + 1];

// The variables, in the order they are added.
static const char* const Names[] = {"PREPROCESSOR_FILE",     "PREPROCESSOR_USER",
                                    "PREPROCESSOR_PASSWORD", "PREPROCESSOR_DATABASE",
                                    "PREPROCESSOR_OUTPUT",   "PREPROCESSOR_NAME"};

static WCHAR Upper(WCHAR c) {
    return c >= 'a' && c <= 'z' ? (WCHAR)(c - 'a' + 'A') : c;
}

// Whether an entry "NAME=value" sets one of the variables added here. Names
// are compared without regard to case, as Windows compares them.
static BOOL IsReplaced(const WCHAR* entry) {
    for (const char* name : Names) {
        size_t i = 0;
        while (name[i] != '\0' && Upper(entry[i]) == (WCHAR)name[i])
            i++;
        if (name[i] == '\0' && entry[i] == '=')
            return TRUE;
    }
    return FALSE;
}

// Appends "name=value" and its terminator at *used, the value converted from
// ANSI; FALSE when it does not fit with the block's closing terminator.
static BOOL Add(size_t* used, const char* name, const char* value) {
    size_t nameLength = strlen(name);
    size_t valueLength = strlen(value);
    // At most one character for each byte of the value.
    if (*used + nameLength + 1 + valueLength + 2 > ENVIRONMENT_CAPACITY)
        return FALSE;
    WCHAR* at = Environment + *used;
    WidenAscii(name, at);
    at[nameLength] = '=';
    size_t written = AnsiToWideText(value, valueLength, at + nameLength + 1, valueLength + 1);
    *used += nameLength + 1 + written + 1;
    return TRUE;
}

// Copies the host's entries, but those of the names added here, from its
// block (entries ended by a terminator each, the block by an empty entry).
static BOOL CopyHostEntries(const WCHAR* block, size_t* used) {
    for (const WCHAR* entry = block; *entry != 0; entry += WideLength(entry) + 1) {
        size_t length = WideLength(entry) + 1;
        if (IsReplaced(entry))
            continue;
        if (*used + length + 1 > ENVIRONMENT_CAPACITY)
            return FALSE;
        memcpy(Environment + *used, entry, length * sizeof(WCHAR));
        *used += length;
    }
    return TRUE;
}

BOOL MakeEnvironment(void) {
    LPWCH block = GetEnvironmentStringsW();
    if (block == NULL)
        return FALSE;
    size_t used = 0;
    BOOL fits = CopyHostEntries(block, &used);
    FreeEnvironmentStringsW(block);
    const char* texts[] = {Host->TextU, Host->TextP, Host->TextD, Host->TextO, Host->TextN};
    fits = fits && Add(&used, Names[0], InputFile);
    for (size_t i = 0; fits && i < sizeof texts / sizeof texts[0]; i++) {
        CopyHostText(Value, texts[i]);
        fits = Add(&used, Names[i + 1], Value);
    }
    Environment[used] = 0;
    return fits;
}
