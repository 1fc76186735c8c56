// Expansion of the command-line template.
#include "run.h"
#include "settings/settings.h"

#include <string.h>

// Work area of one substitution.
static char Substitution[PATH_ARRAY];

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
    size_t length = strlen(CommandLine);
    if (length > PATH_CAPACITY - 1)
        return FALSE;
    memcpy(ExpandedCommandLine, CommandLine, length + 1);
    if (!ReplacePlaceholder("%f", inputFilePath))
        return FALSE;
    for (const Placeholder& p : placeholders) {
        CopyHostText(Value, p.text);
        if (!ReplacePlaceholder(p.name, Value))
            return FALSE;
    }
    return TRUE;
}
