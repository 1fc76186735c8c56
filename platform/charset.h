// The character sets behind the layer's code pages (charset.cpp), shared by
// the conversion calls (codepage.cpp) and the name mapping (names.cpp). The
// plug-in never includes it.
//
// A set is one of three kinds: UTF-8, converted by hand; a single-byte set,
// read once through iconv into a table of 256 entries; any other set (the
// multi-byte ones of East Asia), through a pair of iconv descriptors opened
// once and kept. Sets are opened on first use and kept for the life of the
// process, so that a conversion allocates nothing once its set is open.
//
// Every conversion is exact: no set ever gives a look-alike ("best fit") for
// a character it cannot hold.
#pragma once

#include "windows.h"

#include <iconv.h>
#include <stddef.h>
#include <stdint.h>

enum CharsetKind { CharsetUtf8, CharsetTable, CharsetIconv };

struct Charset {
    CharsetKind kind;
    UINT codePage; // the Windows number; 0 for a locale's set that has none
    char name[48]; // iconv's name for it
    char fallback; // the set's own '?', for characters it cannot hold
    // Whether bytes 00-7F are U+0000-U+007F both ways and in any state (UTF-8
    // and the single-byte sets built on ASCII): the conversions' short cut.
    bool ascii;
    // CharsetTable: each byte's character (0xFFFF: the byte means nothing),
    // and the characters sorted, with their bytes, for the way back.
    WCHAR units[256];
    WCHAR sortedUnits[256];
    BYTE sortedBytes[256];
    int sortedCount;
    // CharsetIconv: bytes to UCS-4 and back, one character at a time.
    iconv_t decoder;
    iconv_t encoder;
};

// The set of a code page: CP_ACP, CP_OEMCP and CP_THREAD_ACP (3) are the
// ANSI set, CP_MACCP (2) is 10000. NULL when the layer has no such set.
Charset* CharsetOfCodePage(UINT codePage);

// The ANSI set: the character set of the locale (see charset.cpp). Never
// NULL: UTF-8 when the locale's own set cannot be opened.
Charset* AnsiCharset();

// The Windows code page number of a character set's name, as
// nl_langinfo(CODESET) or iconv gives it (in any case, with or without its
// dashes); 0 when Windows has no number for it.
UINT CodePageOfCharsetName(const char* name);

// What DecodeOne found.
const uint32_t InvalidBytes = 0xFFFFFFFFu; // bytes that are no character
const uint32_t NoCharacter = 0xFFFFFFFEu;  // bytes that only shift a state
struct Decoded {
    uint32_t code; // the character, or one of the two above
    size_t taken;  // bytes it took, at least 1
};

// The character that starts at bytes (length > 0) in the set. For invalid
// UTF-8, taken is the bytes that Windows replaces with one U+FFFD there
// (DecodeUtf8 says which).
Decoded DecodeOne(Charset* set, const char* bytes, size_t length);

// Writes the character's bytes in the set to out (room for 8) and returns
// their count; 0 when the set cannot hold it.
size_t EncodeOne(Charset* set, uint32_t code, char* out);

// Starts a conversion afresh (a stateful set's shift state), and writes to
// out (room for 8) the bytes that end one in its initial state, returning
// their count. Only the iconv sets have a state.
void ResetCharset(Charset* set);
size_t FinishEncoding(Charset* set, char* out);

// UTF-8 by hand, for the conversion loops.
inline size_t EncodeUtf8(uint32_t code, char* out) {
    if (code < 0x80) {
        out[0] = (char)code;
        return 1;
    }
    if (code < 0x800) {
        out[0] = (char)(0xC0 | (code >> 6));
        out[1] = (char)(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        out[0] = (char)(0xE0 | (code >> 12));
        out[1] = (char)(0x80 | ((code >> 6) & 0x3F));
        out[2] = (char)(0x80 | (code & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (code >> 18));
    out[1] = (char)(0x80 | ((code >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((code >> 6) & 0x3F));
    out[3] = (char)(0x80 | (code & 0x3F));
    return 4;
}

Decoded DecodeUtf8(const char* bytes, size_t length);

inline bool IsHighSurrogate(uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool IsLowSurrogate(uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
