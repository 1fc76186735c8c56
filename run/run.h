// The preprocessor run: the command-line template's expansion and the run of
// the external program over the host's text.
#pragma once

#include "plugin.h"

extern char ExpandedCommandLine[PATH_ARRAY];
extern char TextBuffer[TEXT_CAPACITY + 1];
extern char InputFile[PATH_ARRAY];

// Replaces the first occurrence of the two-character placeholder in
// ExpandedCommandLine with the value. FALSE, with ExpandedCommandLine left as
// it was, when the result would be longer than 259 characters.
BOOL ReplacePlaceholder(const char* placeholder, const char* value);

// Where "%p" put the password into ExpandedCommandLine: from PasswordStart
// up to, not including, PasswordEnd (the same when it put in none), moved
// with the substitutions after it; a value a later substitution put inside
// it is part of it. Boxes mask the command line there, and only there.
extern size_t PasswordStart;
extern size_t PasswordEnd;

// Copies CommandLine into ExpandedCommandLine and substitutes "%f" (the input
// file's path), "%u", "%p", "%d", "%o" and "%N" (the host's texts), in that
// order. FALSE when the expansion would be longer than 259 characters: then
// ExpandedCommandLine holds the substitutions made before the one that did
// not fit, never a cut one (or is left as it was when CommandLine itself is
// longer than 259 characters), and is not to be run.
BOOL ExpandCommandLine(const char* inputFilePath);

// Copies one of the host's 64-byte texts with its terminator into copy
// (HOST_TEXT_SIZE + 1 bytes). The host's texts are NUL-terminated within
// their 64 bytes; a host that fills one completely still gives a text that
// ends.
void CopyHostText(char* copy, const char* text);

void RunPreprocessor(void);
