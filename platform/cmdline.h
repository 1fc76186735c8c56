// Reading a command line as Windows does: the name under which the
// process-creation call looks for the program, and the split into arguments
// that Windows programs (the Microsoft C runtime) apply to their own command
// lines. The two rules differ, as they do on Windows. Internal to the
// platform layer: CreateProcessA finds the program by the first and passes
// the second to execve as its argument vector.
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

// Copies into name (size characters, the terminator included) the name under
// which CreateProcessA, given no separate program name, looks for the
// program: when the line starts with a double quote, the characters up to
// the next double quote; otherwise those up to the first space or tab, taken
// as they are. Returns the name's length, possibly 0 (an empty line, one that
// starts with a blank, or ""), or -1 when the line names no file: a double
// quote in the name (the line has one before its first blank without
// starting with it, or opens a quote it never closes), as on Windows, where
// no file name can hold one; or a name that does not fit in size. The
// program then receives as its argv[0] what SplitCommandLine gives, which
// may differ ("\"a b\"c" looks for "a b" and hands it "a bc").
int ProgramNameOf(const char* line, char* name, size_t size);
