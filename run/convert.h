// The program's character set: the Encoding option, and the conversions
// between the host's ANSI code page and that set, which never put one
// character in the place of another.
#pragma once

#include "plugin.h"

enum {
    // The most bytes the program's form of a text may take: four bytes for
    // each byte of the text (no character set the plug-in converts takes
    // more for a character, nor does CR CR LF in UTF-16 for CR LF), behind a
    // byte order mark.
    RAW_CAPACITY = 4 * TEXT_CAPACITY + 4,
    // The most UTF-16 units a result may have: each gives at least one byte
    // of the host's text, which may then lose a third of its bytes as its
    // CR CR LF line ends become CR LF.
    WIDE_CAPACITY = TEXT_CAPACITY / 2 * 3 + 2
};

// The program's form of the text: the input written to its file, later the
// output read back. One byte more for a terminator.
extern char RawText[RAW_CAPACITY + 1];

// The program's code page, or 0 when it is the host's ANSI code page and
// the text passes as it is.
extern UINT ProgramCodePage;

// Makes sense of the Encoding setting for this run; FALSE (after the box)
// for a value that names no character set the plug-in can use.
BOOL ChooseEncoding(void);

// The ANSI code page, as GetACP gives it, for this run (asked for the first
// time it is needed).
UINT AnsiCodePage(void);

// Converts UTF-16 units into a code page, never into a look-alike; flagsOf
// is the number of the code page whose rules apply (CP_ACP is none). The
// length, 0 on failure; *lost tells that a character had no place there.
int FromWide(UINT codePage, UINT flagsOf, const WCHAR* wide, int units, char* to, int capacity,
             BOOL* lost);

// Whether text in a code page is the same bytes in the ANSI code page: ASCII
// alone (most SQL), where both have ASCII where ASCII has it. Such text
// needs no converting.
BOOL SameInBothSets(UINT codePage, const char* bytes, DWORD size);

// Converts the host's text into the program's code page, into RawText;
// *size is its length there. FALSE (after the box, nothing run) when the text
// is not valid in the ANSI code page or holds a character the program's
// code page cannot hold.
BOOL ToProgramCodePage(const char* text, DWORD length, DWORD* size);

// How the program's output is read: in a code page, or as UTF-16 (whose
// byte order mark said so).
enum OutputCode { OUTPUT_CODE_PAGE, OUTPUT_UTF16LE, OUTPUT_UTF16BE };

// Converts the program's output (without its byte order mark) from its
// code page (codePage when code is OUTPUT_CODE_PAGE) into the ANSI code
// page, into to; *length is the host's text's length. source says where the
// program put it, for the boxes. FALSE (after the box) when it is not valid
// in its set, holds a character the ANSI code page cannot hold, a NUL
// (UTF-16 only: in other sets the caller finds a NUL byte), or does not fit.
// to may be RawText, which holds the output.
BOOL FromProgramCode(OutputCode code, UINT codePage, const char* bytes, DWORD size, char* to,
                     DWORD capacity, DWORD* length, const char* source);

// The box for a result that does not fit once converted.
void ShowConvertedTooLong(const char* source);
