// Reading a command line as Windows does: the program's name as the
// process-creation call takes it, and the split the way Windows programs
// split their own; the rules stand in cmdline.h. Checked case by case
// against CreateProcessA and the runtime of a Windows program in
// tests/cmdline_test.cpp.
#include "cmdline.h"

#include <string.h>

namespace {

// Where the split goes; full is set, and nothing more is written, once either
// array has run out.
struct Split {
    char* storage;
    size_t size;
    size_t used;
    char** argv;
    int maxArgs;
    int argc;
    bool full;
};

} // namespace

static bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

static void Put(Split* split, char c) {
    if (split->used < split->size)
        split->storage[split->used++] = c;
    else
        split->full = true;
}

static void PutBackslashes(Split* split, size_t count) {
    for (size_t i = 0; i < count; i++)
        Put(split, '\\');
}

// Opens the next argument at the current end of storage, keeping room for
// the NULL that closes argv.
static void StartArgument(Split* split) {
    if (split->argc + 1 < split->maxArgs)
        split->argv[split->argc++] = split->storage + split->used;
    else
        split->full = true;
}

// The program name from the start of the line; returns where it ended.
static const char* SplitProgramName(const char* p, Split* split) {
    StartArgument(split);
    bool quoted = false;
    for (; *p != '\0' && (quoted || !IsBlank(*p)); p++) {
        if (*p == '"')
            quoted = !quoted;
        else
            Put(split, *p);
    }
    Put(split, '\0');
    return p;
}

// One argument starting at p, which is not a blank; returns where it ended.
static const char* SplitArgument(const char* p, Split* split) {
    StartArgument(split);
    bool quoted = false;
    for (;;) {
        size_t backslashes = 0;
        while (*p == '\\') {
            backslashes++;
            p++;
        }
        if (*p == '"') {
            PutBackslashes(split, backslashes / 2);
            if (backslashes % 2 == 1) {
                Put(split, '"');
            } else if (quoted && p[1] == '"') {
                Put(split, '"');
                p++;
            } else {
                quoted = !quoted;
            }
            p++;
            continue;
        }
        PutBackslashes(split, backslashes);
        if (*p == '\0' || (!quoted && IsBlank(*p)))
            break;
        Put(split, *p++);
    }
    Put(split, '\0');
    return p;
}

int SplitCommandLine(const char* line, char* storage, size_t storageSize, char** argv,
                     int maxArgs) {
    Split split = {storage, storageSize, 0, argv, maxArgs, 0, false};
    const char* p = SplitProgramName(line, &split);
    for (;;) {
        while (IsBlank(*p))
            p++;
        if (*p == '\0')
            break;
        p = SplitArgument(p, &split);
    }
    if (split.full)
        return -1;
    argv[split.argc] = nullptr;
    return split.argc;
}

int ProgramNameOf(const char* line, char* name, size_t size) {
    const char* start = line;
    const char* end;
    if (*line == '"') {
        start = line + 1;
        end = strchr(start, '"');
        if (end == nullptr)
            return -1;
    } else {
        end = line;
        while (*end != '\0' && !IsBlank(*end))
            end++;
        if (memchr(start, '"', (size_t)(end - start)) != nullptr)
            return -1;
    }
    size_t length = (size_t)(end - start);
    if (length >= size)
        return -1;
    memcpy(name, start, length);
    name[length] = '\0';
    return (int)length;
}
