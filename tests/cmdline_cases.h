// Command lines and the arguments a program must receive from them. The
// argument table is checked on every target: natively against our splitter,
// built for Windows against the C runtime's own parser.
#pragma once

#include <windows.h>

struct CommandLineCase {
    const char* line;
    const char* args[6]; // up to the first NULL
};

// What follows the program name and a blank, numbered from 1.
static const CommandLineCase ArgumentCases[] = {
    /* 1 blanks */ {"", {}},
    /* 2 */ {"a b c", {"a", "b", "c"}},
    /* 3 */ {"  a \t b\t ", {"a", "b"}},
    /* 4 */ {"a\nb", {"a\nb"}},
    /* 5 groups */ {"\"a b\" c", {"a b", "c"}},
    /* 6 */ {"a\"b c\"d \"e\tf\"", {"ab cd", "e\tf"}},
    /* 7 */ {"\"\"", {""}},
    /* 8 */ {"a \"\" b", {"a", "", "b"}},
    /* 9 */ {"\"a b", {"a b"}},
    /* 10 */ {"a \"", {"a", ""}},
    /* 11 backslashes */ {"a\\b c\\\\d e\\", {"a\\b", "c\\\\d", "e\\"}},
    /* 12 */ {"a\\\"b", {"a\"b"}},
    /* 13 */ {"a\\\\\"b c\"", {"a\\b c"}},
    /* 14 */ {"a\\\\\\\"b", {"a\\\"b"}},
    /* 15 */ {"a\\\\\\\\\"b c\"", {"a\\\\b c"}},
    /* 16 */ {"\"a\\\\\" b", {"a\\", "b"}},
    /* 17 */ {"\"a\\\" b\"", {"a\" b"}},
    /* 18 */ {"\\\"", {"\""}},
    /* 19 doubled quotes */ {"\"a\"\"b c\"", {"a\"b c"}},
    /* 20 */ {"\"a\"\"\"b c\"", {"a\"b", "c"}},
    /* 21 */ {"\"a\"\"\"\"b c\"", {"a\"\"b c"}},
    /* 22 */ {"\"\"\"\"", {"\""}},
    /* 23 */ {"\"\"\"\"\"", {"\"\""}},
    /* 24 */ {"\"\"\"a b\"\"\"", {"\"a b\""}},
    /* 25 */ {"x\"\"y", {"xy"}},
    /* 26 */ {"x\"\"\"y z", {"x\"y z"}},
    /* 27 */ {"x\"\"\"\"y z", {"x\"y", "z"}},
    /* 28 */ {"\"a\\\\\"\"b\"", {"a\\\"b"}},
    /* 29 plain bytes */ {"%f &|<>^ caf\xe9 'a b'", {"%f", "&|<>^", "caf\xe9", "'a", "b'"}},
};

// Whole command lines and the full argument vector, program name first.
// Checked natively only: Wine's runtime splits the program name by the
// argument rules, which Windows does not (there quotes only toggle and
// backslashes are plain), and a started program's name must name a file.
static const CommandLineCase ProgramNameCases[] = {
    /* 1 */ {"", {""}},
    /* 2 */ {" a", {"", "a"}},
    /* 3 */ {"prog\t a ", {"prog", "a"}},
    /* 4 */ {"\"C:\\dir name\\prog.exe\" a", {"C:\\dir name\\prog.exe", "a"}},
    /* 5 */ {"\"a b\"c d", {"a bc", "d"}},
    /* 6 */ {"dir\\\"x y\" z", {"dir\\x y", "z"}},
    /* 7 */ {"a\\\\\"b c\" d", {"a\\\\b c", "d"}},
    /* 8 */ {"a\"\"\"\"b c", {"ab", "c"}},
    /* 9 */ {"\"open a b", {"open a b"}},
};

// Whole command lines as CreateProcessA takes them, checked on every target:
// whether a program is found and, when it is, the arguments it receives
// after "--child echo-args". The test puts copies of itself in a directory
// of their own at the front of PATH, named "argdump", "arg dump" and
// "arg --child" (each with ".exe" on Windows) and "exeonly.exe".
struct StartCase {
    const char* line;
    DWORD error;         // what GetLastError gives when nothing starts; 0: it starts
    const char* args[4]; // up to the first NULL, when it starts
};

static const StartCase StartCases[] = {
    /* 1 the name ends at a blank */ {"argdump --child echo-args a", 0, {"a"}},
    /* 2 */ {"argdump\t--child echo-args a b", 0, {"a", "b"}},
    /* 3 or at the quote that closes */ {"\"argdump\" --child echo-args \"b c\"", 0, {"b c"}},
    /* 4 */ {"\"arg dump\" --child echo-args a", 0, {"a"}},
    /* 5 */ {"\"argdump\"x --child echo-args a", 0, {"a"}},
    /* 6 a quote in the name */ {"arg\"dump", ERROR_FILE_NOT_FOUND, {}},
    /* 7 */ {"arg\"dump\" --child echo-args a", ERROR_FILE_NOT_FOUND, {}},
    /* 8 */ {"argdump\" --child echo-args a", ERROR_FILE_NOT_FOUND, {}},
    /* 9 a quote never closed */ {"\"argdump", ERROR_FILE_NOT_FOUND, {}},
    /* 10 */ {"\"argdump --child echo-args a", ERROR_FILE_NOT_FOUND, {}},
    /* 11 no name */ {"", ERROR_FILE_NOT_FOUND, {}},
    /* 12 */ {" argdump --child echo-args a", ERROR_FILE_NOT_FOUND, {}},
    /* 13 */ {"\"\"argdump --child echo-args a", ERROR_INVALID_PARAMETER, {}},
};

// Where the targets part on purpose (see CreateProcessA in
// platform/process.cpp): only whether a program starts is compared.
struct DifferingStartCase {
    const char* line;
    bool startsNatively, startsOnWindows;
};

static const DifferingStartCase DifferingStartCases[] = {
    // Windows adds ".exe" to a name without an extension.
    /* 1 */ {"exeonly --child echo-args a", false, true},
    // Unquoted, Windows tries "arg", then "arg --child", and starts that.
    // (Windows hands on the line as it is, so the child then sees an unknown
    // mode; Wine quotes the name it found first, so the child echoes "a".)
    /* 2 */ {"arg --child --child echo-args a", false, true},
};
