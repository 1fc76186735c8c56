// The environment a program gets with TextsInEnvironment: the host's own,
// and beside it the input file's path and the host's five texts, so that a
// program can take the password without it standing on its command line,
// where other users of the machine can read it.
#include "environment.h"
#include "run.h"

#include <string.h>

char Environment[ENVIRONMENT_CAPACITY];

static char Value[HOST_TEXT_SIZE + 1];

// The variables, in the order they are added.
static const char* const Names[] = {"PREPROCESSOR_FILE",     "PREPROCESSOR_USER",
                                    "PREPROCESSOR_PASSWORD", "PREPROCESSOR_DATABASE",
                                    "PREPROCESSOR_OUTPUT",   "PREPROCESSOR_NAME"};

static char Upper(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Whether an entry "NAME=value" sets one of the variables added here. Names
// are compared without regard to case, as Windows compares them.
static BOOL IsReplaced(const char* entry) {
    for (const char* name : Names) {
        size_t i = 0;
        while (name[i] != '\0' && Upper(entry[i]) == name[i])
            i++;
        if (name[i] == '\0' && entry[i] == '=')
            return TRUE;
    }
    return FALSE;
}

// Appends "name=value" and its terminator at *used; FALSE when it does not
// fit with the block's closing terminator.
static BOOL Add(size_t* used, const char* name, const char* value) {
    size_t nameLength = strlen(name);
    size_t valueLength = strlen(value);
    size_t length = nameLength + 1 + valueLength + 1;
    if (*used + length + 1 > sizeof Environment)
        return FALSE;
    char* at = Environment + *used;
    memcpy(at, name, nameLength);
    at[nameLength] = '=';
    memcpy(at + nameLength + 1, value, valueLength + 1);
    *used += length;
    return TRUE;
}

// Copies the host's entries, but those of the names added here, from its
// block (entries ended by a terminator each, the block by an empty entry).
static BOOL CopyHostEntries(const char* block, size_t* used) {
    for (const char* entry = block; *entry != '\0'; entry += strlen(entry) + 1) {
        size_t length = strlen(entry) + 1;
        if (IsReplaced(entry))
            continue;
        if (*used + length + 1 > sizeof Environment)
            return FALSE;
        memcpy(Environment + *used, entry, length);
        *used += length;
    }
    return TRUE;
}

BOOL MakeEnvironment(void) {
    LPCH block = GetEnvironmentStringsA();
    if (block == NULL)
        return FALSE;
    size_t used = 0;
    BOOL fits = CopyHostEntries(block, &used);
    FreeEnvironmentStringsA(block);
    const char* texts[] = {Host->TextU, Host->TextP, Host->TextD, Host->TextO, Host->TextN};
    fits = fits && Add(&used, Names[0], InputFile);
    for (size_t i = 0; fits && i < sizeof texts / sizeof texts[0]; i++) {
        CopyHostText(Value, texts[i]);
        fits = Add(&used, Names[i + 1], Value);
    }
    Environment[used] = '\0';
    return fits;
}
