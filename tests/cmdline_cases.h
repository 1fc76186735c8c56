// Command lines and the arguments a program must receive from them. The
// argument table is checked on every target: natively against our splitter,
// built for Windows against the C runtime's own parser.
#pragma once

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
