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

BOOL ExpandCommandLine(const char* inputFilePath) {
    // The host's texts are NUL-terminated within their 64 bytes; copy each
    // through a bounded buffer all the same, so a host that fills one
    // completely cannot make the search run past it.
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
        size_t n = strnlen(p.text, HOST_TEXT_SIZE);
        memcpy(Value, p.text, n);
        Value[n] = '\0';
        if (!ReplacePlaceholder(p.name, Value))
            return FALSE;
    }
    return TRUE;
}
