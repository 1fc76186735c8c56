// The form of the text the program gets and gives back: its character set
// (Encoding) and line ends (LineEndings). The run's input step writes the
// program's form of the host's text; its result step reads the program's
// output back as the host's text.
#pragma once

#include "plugin.h"

// Makes sense of the Encoding and LineEndings settings for this run; FALSE
// (after the box that names the value) when one is not known.
BOOL ChooseTextForm(void);

// Makes the program's form of the host's text, the first length bytes of
// TextBuffer (which it may change); FALSE (after the box) when the text
// cannot be given to the program in its set.
BOOL MakeProgramInput(DWORD length);

// The program's form of the text, as written to its input file.
extern const char* InputBytes;
extern DWORD InputSize;

// Reads a result (the capture file, or the input file a program edited)
// into TextBuffer as the host's text. FALSE (after the box) when it could
// not be read, is longer than the plug-in takes (found by reading one byte
// past the most it reads, never by taking more), holds a NUL, or cannot be
// made the host's text. source says where the program put it, for the box.
BOOL ReadResult(HANDLE file, const WCHAR* path, const char* source);

// The box for a program whose output is longer than the plug-in takes;
// ended: it was ended for it while still writing.
void ShowOutputOver(const char* source, BOOL ended);

// The box for a value of an option in section [Run] that the plug-in does
// not know; known lists the values it does. Nothing is run.
void ShowUnknownOption(const char* key, const char* value, const char* known);

// Whether an option's value is the word, in any case.
BOOL IsOptionWord(const char* value, const char* word);
