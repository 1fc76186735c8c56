// The line ends of the program's text: the LineEndings option, and the
// changes it makes to the text going out and the result coming back.
#pragma once

#include "plugin.h"

enum LineEndsChoice {
    LINE_ENDS_ASIS, // nothing changes
    LINE_ENDS_KEEP, // the result's line ends are made the text's own
    LINE_ENDS_UNIX  // keep, and the program gets the text with LF line ends
};

extern LineEndsChoice LineEndsChosen;

// Makes sense of the LineEndings setting for this run; FALSE (after the
// box) for a value the plug-in does not know.
BOOL ChooseLineEnds(void);

// Notes the line end the host's text uses, which the result's are made.
void NoteTextLineEnds(const char* text, DWORD length);

// Makes every line end of the text an LF, in place; the new length.
DWORD MakeUnixLineEnds(char* text, DWORD length);

// Copies a result into to, with its line ends made the text's (as noted
// before), or as it is when nothing changes them; *length is the result's
// length. to may be from itself only where the result cannot grow (the
// text's line ends are LF). FALSE when the result would be longer than
// capacity.
BOOL MatchLineEnds(const char* from, DWORD size, char* to, DWORD capacity, DWORD* length);
