// Splitting a command line into a program name and arguments by the rules
// that Windows programs (the Microsoft C runtime) apply to their own command
// lines. Internal to the platform layer: CreateProcessA uses it to build the
// argument vector it passes to execve.
#pragma once

#include <stddef.h>

// Sizes that always hold the split of a command line of up to 259 characters:
// the argument characters with one terminator each (never more than the
// line's length plus one), and the argument pointers with the closing NULL
// (at most one per two characters, plus the program name and the NULL).
enum { SPLIT_STORAGE_SIZE = 260, SPLIT_MAX_ARGS = 132 };

// Splits line into argv[0] (the program name) and the arguments after it,
// copying their characters, each with a terminator, into storage, and sets
// argv[argc] to NULL. There is always a program name, possibly empty (an empty
// line, or one that starts with a blank).
//
// The program name ends at the first space or tab outside double quotes; each
// double quote toggles quoting and is dropped; backslashes are plain.
// Arguments are separated by runs of spaces and tabs. Within one, double
// quotes start and end a group in which blanks are kept, and are dropped.
// Backslashes are plain except in a run that ends at a double quote: 2n of
// them give n backslashes and the quote groups as above, 2n+1 give n
// backslashes and a plain double quote. Inside a group two double quotes in a
// row give one plain double quote and the group goes on. A group left open at
// the end of the line ends there.
//
// Returns argc, or -1 when the split does not fit in storageSize characters
// or maxArgs pointers (the NULL included); nothing is written beyond either.
int SplitCommandLine(const char* line, char* storage, size_t storageSize, char** argv, int maxArgs);
