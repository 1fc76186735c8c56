// How text shows on a terminal, shared by the message boxes (message.cpp)
// and the progress window's status line (window.cpp): each byte as what it
// is, without acting on the terminal.
#pragma once

#include <stddef.h>

// What one piece of text shows as on a terminal.
struct Glyph {
    char bytes[8];
    size_t length; // of bytes
    int width;     // columns
    size_t taken;  // bytes of the text it stands for
};

// Whether the terminal takes UTF-8, as the locale settings of the
// environment say (the host need not have called setlocale).
bool TerminalTakesUtf8();

// The glyph for the text at p, which is not the terminator, at the given
// column of its line: a tab as blanks up to the next tab stop, other control
// characters (line ends too) as ^X, what the terminal's encoding cannot
// show as one character as "?", the rest as it is.
void ReadGlyph(const char* p, bool utf8, int column, Glyph* glyph);

// The columns of the terminal, 80 when it does not say.
int TerminalColumns(int tty);
