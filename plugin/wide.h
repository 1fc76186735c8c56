// Names outside the code page. The plug-in keeps its texts (the settings,
// the host's texts, the command line) as ANSI text, while the system names
// files in UTF-16 and a folder's name may hold any character. The plug-in
// therefore takes and uses every path through the wide (W) calls, and
// converts between the two forms here, never putting one character in place
// of another (no "best fit"): a name is given exactly, or not at all.
//
// WCHAR is wchar_t on Windows and char16_t in the Linux layer, so no string
// literal serves both: the plug-in's fixed names (sections, keys, the
// extensions and the prefix of its files, captions) are made from ASCII at
// run time.
#pragma once

#include "plugin.h"

// The length of a wide text, without its terminator.
size_t WideLength(const WCHAR* text);

// Copies an ASCII text into wide, with its terminator.
void WidenAscii(const char* ascii, WCHAR* wide);

// Copies a wide text with its terminator into wide and appends an ASCII text.
void WideWithAscii(WCHAR* wide, const WCHAR* text, const char* ascii);

// The wide form of an ANSI text, with its terminator. FALSE when it holds a
// byte sequence that is no character of the ANSI code page (wide then holds
// the text with each such sequence replaced, only for showing it), or when
// it does not fit in capacity characters with the terminator (wide empty).
BOOL AnsiToWide(const char* ansi, WCHAR* wide, size_t capacity);

// The wide form of length bytes of ANSI text, with a terminator, for the
// system to show or store: a byte sequence that is no character becomes the
// replacement character. Returns the characters written without the
// terminator. capacity must hold them: one character for each byte and the
// terminator always does.
size_t AnsiToWideText(const char* ansi, size_t length, WCHAR* wide, size_t capacity);

// The exact ANSI form of a wide text, with its terminator. FALSE when the
// code page lacks one of its characters or it does not fit in capacity bytes
// with the terminator.
BOOL WideToAnsi(const WCHAR* wide, char* ansi, size_t capacity);

// A wide text as the ANSI text of a setting: a character the code page
// lacks becomes its default character ("?"), never a look-alike, and a text
// longer than capacity - 1 bytes is cut after the last whole character that
// fits.
void WideToAnsiText(const WCHAR* wide, char* ansi, size_t capacity);

// The name by which a program finds the existing file at path on its ANSI
// command line: the path itself where the code page holds it, else its
// short (8.3) name where it has one that the code page holds. FALSE when it
// has neither.
BOOL ProgramPath(const WCHAR* path, char* ansi, size_t capacity);

// Shows a message box whose ANSI text has a path, as the system names it,
// put in at each of count byte offsets of the text (in increasing order): a
// box that names a folder outside the code page names that folder, never a
// look-alike. The caption is ASCII. Returns what MessageBoxW returns.
int MessageBoxNaming(HWND owner, const char* text, const WCHAR* path, const size_t* at,
                     size_t count, const char* caption, UINT type);
