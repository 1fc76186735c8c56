// Expansion of the command-line template.
#include "run.h"
#include "settings/settings.h"

#include <string.h>

// Work area of one substitution.
static char Substitution[PATH_ARRAY];

size_t PasswordStart;
size_t PasswordEnd;

// The two characters at at became length characters: the password's place
// moves with the text after them, and takes in a value put inside it (a
// password that held a later placeholder).
static void MovePasswordPlace(size_t at, size_t length) {
    if (PasswordStart == PasswordEnd || at >= PasswordEnd)
        return;
    if (at + 2 <= PasswordStart) {
        PasswordStart = PasswordStart + length - 2;
        PasswordEnd = PasswordEnd + length - 2;
        return;
    }
    if (at < PasswordStart)
        PasswordStart = at;
    PasswordEnd = (PasswordEnd > at + 2 ? PasswordEnd : at + 2) + length - 2;
}

BOOL ReplacePlaceholder(const char* placeholder, const char* value) {
    char* at = strstr(ExpandedCommandLine, placeholder);
    if (at == NULL)
        return TRUE;
    size_t before = (size_t)(at - ExpandedCommandLine);
    size_t valueLength = strlen(value);
    const char* after = at + 2;
    size_t afterLength = strlen(after);
    // Never cut: a cut command line would run some other command.
    if (before + valueLength + afterLength > PATH_CAPACITY - 1)
        return FALSE;
    memcpy(Substitution, ExpandedCommandLine, before);
    memcpy(Substitution + before, value, valueLength);
    memcpy(Substitution + before + valueLength, after, afterLength + 1);
    memcpy(ExpandedCommandLine, Substitution, before + valueLength + afterLength + 1);
    MovePasswordPlace(before, valueLength);
    return TRUE;
}

void CopyHostText(char* copy, const char* text) {
    size_t n = strnlen(text, HOST_TEXT_SIZE);
    memcpy(copy, text, n);
    copy[n] = '\0';
}

BOOL ExpandCommandLine(const char* inputFilePath) {
    static char Value[HOST_TEXT_SIZE + 1];
    struct Placeholder {
        const char* name;
        const char* text;
    };
    const Placeholder placeholders[] = {
        {"%u", Host->TextU}, {"%p", Host->TextP}, {"%d", Host->TextD},
        {"%o", Host->TextO}, {"%N", Host->TextN},
    };
    PasswordStart = PasswordEnd = 0;
    size_t length = strlen(CommandLine);
    if (length > PATH_CAPACITY - 1)
        return FALSE;
    memcpy(ExpandedCommandLine, CommandLine, length + 1);
    if (!ReplacePlaceholder("%f", inputFilePath))
        return FALSE;
    for (const Placeholder& p : placeholders) {
        CopyHostText(Value, p.text);
        const char* at = strstr(ExpandedCommandLine, p.name);
        if (!ReplacePlaceholder(p.name, Value))
            return FALSE;
        if (at != NULL && strcmp(p.name, "%p") == 0) {
            PasswordStart = (size_t)(at - ExpandedCommandLine);
            PasswordEnd = PasswordStart + strlen(Value);
        }
    }
    return TRUE;
}
