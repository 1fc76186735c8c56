// The first place in a text where a conversion fails, for the boxes that
// name it. Found in a few dozen conversions whatever the text's size.
#pragma once

#include "plugin.h"

// A place in a text: line and column (from 1, the column counted in
// characters), and the character there or, where the bytes are no
// character, the first byte.
struct Place {
    UINT line;
    UINT column;
    UINT code;
    BOOL isByte;
};

// Counts lines and columns over units of UTF-16, on from where the place
// stands.
void CountPlace(const WCHAR* wide, DWORD units, Place* place);

// The place of the character at unit at of wide, which holds units units.
void PlaceOfUnit(const WCHAR* wide, DWORD at, DWORD units, Place* place);

// The place of the first character of wide (units long, a whole that does
// not convert) that the code page cannot hold; flagsOf as for FromWide.
void FindUnheld(UINT codePage, UINT flagsOf, const WCHAR* wide, DWORD units, Place* place);

// The place of the first bytes that are not valid in the code page, in
// bytes whose whole is not. Lines are counted by their LF bytes, which
// every code page the plug-in reads has where ASCII has it; the column is
// counted in the line's characters, with scratch (capacity units) to
// convert it into.
void FindInvalid(UINT codePage, const char* bytes, DWORD size, WCHAR* scratch, DWORD capacity,
                 Place* place);

// Appends " (line L, column C: U+XXXX)", or with "the byte 0xNN", to the
// box's text.
void AppendPlace(const Place* place);
