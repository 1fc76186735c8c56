// Code-page cases, run both through our platform layer and through the
// Windows functions (kernel32 under Wine), so that any difference shows.
// Every difference is declared here, once. The texts are UTF-16 in char16_t
// literals (u"..."), the bytes those of the code page named.
//
// WHERE WINE DIFFERS. Wine 8.0 differs from Windows here; a case that shows
// it carries Wine's result in its `wine` fields, used only under Wine, and
// our layer follows Windows:
//   1. A UTF-8 sequence cut short by the end of the input swallows every
//      byte that is left in Wine, letters and the terminator among them
//      ("\xe2z" is one U+FFFD, "a\xe2" with -1 gives no terminator). The
//      layer ends the piece at the first byte that cannot continue it, as
//      for a sequence that is not cut, and keeps the terminator that -1
//      promises.
//   2. Wine writes the first half of a surrogate pair that does not fit and
//      reports success; Windows fails with ERROR_INSUFFICIENT_BUFFER.
//   3. With CP_UTF8, Wine takes MB_PRECOMPOSED, WC_NO_BEST_FIT_CHARS, a
//      default character and a used-default flag; Windows refuses them
//      (ERROR_INVALID_FLAGS, ERROR_INVALID_PARAMETER).
//
// WHERE OUR LAYER DIFFERS, ON PURPOSE. A case that shows it carries the
// layer's result in its `layer` fields, used only natively:
//   A. The layer never converts a character into a look-alike: without
//      WC_NO_BEST_FIT_CHARS, Windows turns U+0141 "Ł" into "L" and U+017A
//      "ź" into "z" for 1252 (and does not count that as the default
//      character); the layer gives the default character "?", and says it
//      did, as Windows does with the flag.
#pragma once

#include <windows.h>

// Passed as the capacity: no buffer at all (NULL) with the capacity 4.
const int NoBuffer = -2;

struct ToWideCase {
    unsigned codePage;
    unsigned flags;
    const char* bytes; // NULL: no input
    int length;        // -1: up to and with the terminator
    int capacity;      // units; 0: the size is asked for; NoBuffer
    int result;
    unsigned error;           // GetLastError where result is 0
    const char16_t* wide;     // the units written, result of them
    int wineResult;           // Wine's result where it differs (see above)
    const char16_t* wineWide; // and its units; NULL: Wine gives what Windows gives
};

// UTF-8: every length of sequence, surrogate pairs, the terminator.
static const ToWideCase ToWideUtf8[] = {
    {65001, 0, "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", -1, 20, 6, 0, u"a\u00e9\u20ac\xd83d\xde00",
     0, nullptr},
    {65001, 0, "\xf4\x8f\xbf\xbf", 4, 20, 2, 0, u"\xdbff\xdfff", 0, nullptr},
    {65001, 0, "\xef\xbf\xbf\xee\x80\x80", 6, 20, 2, 0, u"\xffff\xe000", 0, nullptr},
    {65001, 0, "a\xc3\xa9", 3, 20, 2, 0, u"a\u00e9", 0, nullptr},
    {65001, 0, "a\0b", 3, 20, 3, 0, u"a\0b", 0, nullptr},
    {65001, MB_ERR_INVALID_CHARS, "a\xc3\xa9", -1, 20, 3, 0, u"a\u00e9", 0, nullptr},
};

// Sizes: the size query, exact fit and one short, with and without the
// terminator.
static const ToWideCase ToWideSizes[] = {
    {65001, 0, "a\xc3\xa9\xf0\x9f\x98\x80", -1, 0, 5, 0, nullptr, 0, nullptr},
    {65001, 0, "a\xc3\xa9\xf0\x9f\x98\x80", -1, 5, 5, 0, u"a\u00e9\xd83d\xde00", 0, nullptr},
    {65001, 0, "a\xc3\xa9\xf0\x9f\x98\x80", -1, 4, 0, ERROR_INSUFFICIENT_BUFFER, nullptr, 0,
     nullptr},
    {65001, 0, "a\xc3\xa9\xf0\x9f\x98\x80", 7, 4, 4, 0, u"a\u00e9\xd83d\xde00", 0, nullptr},
    {65001, 0, "a\xc3\xa9\xf0\x9f\x98\x80", 7, 3, 0, ERROR_INSUFFICIENT_BUFFER, nullptr, 3,
     u"a\u00e9\xd83d"},
    {1252, 0, "caf\xe9", -1, 0, 5, 0, nullptr, 0, nullptr},
    {1252, 0, "caf\xe9", -1, 5, 5, 0, u"caf\u00e9", 0, nullptr},
    {1252, 0, "caf\xe9", -1, 4, 0, ERROR_INSUFFICIENT_BUFFER, nullptr, 0, nullptr},
    {1252, 0, "caf\xe9", 4, 4, 4, 0, u"caf\u00e9", 0, nullptr},
};

// Invalid UTF-8: a byte that starts nothing is one U+FFFD; a sequence up to
// the byte that cannot continue it is one; an overlong form, a surrogate or
// a code point past U+10FFFF is one with its first continuation byte (then
// each byte left is one); MB_ERR_INVALID_CHARS fails the call instead.
static const ToWideCase ToWideInvalid[] = {
    {65001, 0, "a\x80z", -1, 20, 4, 0, u"a\xfffdz", 0, nullptr},
    {65001, MB_ERR_INVALID_CHARS, "a\x80z", -1, 20, 0, ERROR_NO_UNICODE_TRANSLATION, nullptr, 0,
     nullptr},
    {65001, MB_ERR_INVALID_CHARS, "a\x80z", -1, 0, 0, ERROR_NO_UNICODE_TRANSLATION, nullptr, 0,
     nullptr},
    {65001, 0, "\xc0\xaf\xff", 3, 20, 3, 0, u"\xfffd\xfffd\xfffd", 0, nullptr},
    {65001, 0, "a\xe2\x82z", 4, 20, 3, 0, u"a\xfffdz", 0, nullptr},
    {65001, 0, "\xf0\x9f\x98z", 4, 20, 2, 0, u"\xfffdz", 0, nullptr},
    {65001, 0, "\xe0\x80\x80", 3, 20, 2, 0, u"\xfffd\xfffd", 0, nullptr},
    {65001, 0, "\xed\xa0\x80", 3, 20, 2, 0, u"\xfffd\xfffd", 0, nullptr},
    {65001, 0, "\xf0\x8f\xbf\xbf", 4, 20, 3, 0, u"\xfffd\xfffd\xfffd", 0, nullptr},
    {65001, 0, "\xf4\x90\x80\x80", 4, 20, 3, 0, u"\xfffd\xfffd\xfffd", 0, nullptr},
    {65001, 0, "\xed\x9f\xbf\xef\xbf\xbe", 6, 20, 2, 0, u"\xd7ff\xfffe", 0, nullptr},
    {65001, MB_ERR_INVALID_CHARS, "\xed\xa0\x80", 3, 20, 0, ERROR_NO_UNICODE_TRANSLATION, nullptr,
     0, nullptr},
    // Cut short by the end of the input (Wine: see 1).
    {65001, 0, "a\xe2\x82", 3, 20, 2, 0, u"a\xfffd", 0, nullptr},
    {65001, 0, "\xf4\x90\x80", 3, 20, 1, 0, u"\xfffd", 0, nullptr},
    {65001, 0, "\xe2z", 2, 20, 2, 0, u"\xfffdz", 1, u"\xfffd"},
    {65001, 0, "a\xe2", -1, 20, 3, 0, u"a\xfffd", 2, u"a\xfffd"},
};

// Single-byte code pages: 1252, 437, 28591.
static const ToWideCase ToWideSingleByte[] = {
    {1252, 0, "caf\xe9 \x80\x9f\xff", -1, 20, 9, 0, u"caf\u00e9 \u20ac\u0178\u00ff", 0, nullptr},
    {1252, MB_ERR_INVALID_CHARS, "\x81\x8d\x8f\x90\x9d", 5, 20, 5, 0,
     u"\u0081\u008d\u008f\u0090\u009d", 0, nullptr},
    {1252, MB_PRECOMPOSED, "\xe9", 1, 20, 1, 0, u"\u00e9", 0, nullptr},
    {437, 0, "\x80\x9b\xe1\xb0\xdb", 5, 20, 5, 0, u"\u00c7\u00a2\u00df\u2591\u2588", 0, nullptr},
    {28591, 0, "\xe9\x80\xff", 3, 20, 3, 0, u"\u00e9\u0080\u00ff", 0, nullptr},
};

// Arguments and flags Windows refuses.
static const ToWideCase ToWideRefused[] = {
    {65001, 0, nullptr, -1, 20, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr},
    {65001, 0, "a", 0, 20, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr},
    {65001, 0, "a", -1, -1, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr},
    {65001, 0, "a", -1, NoBuffer, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr},
    {12345, 0, "a", -1, 20, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr},
    {1252, 0x100, "a", -1, 20, 0, ERROR_INVALID_FLAGS, nullptr, 0, nullptr},
    // CP_UTF8 (Wine: see 3).
    {65001, MB_PRECOMPOSED, "a", -1, 20, 0, ERROR_INVALID_FLAGS, nullptr, 2, u"a"},
};

struct ToBytesCase {
    unsigned codePage;
    unsigned flags;
    const char16_t* wide; // NULL: no input
    int length;           // -1: up to and with the terminator
    int capacity;         // bytes; 0: the size is asked for; NoBuffer
    const char* defaultChar;
    bool askUsed; // whether usedDefaultChar is given
    int result;
    unsigned error;         // GetLastError where result is 0
    const char* bytes;      // the bytes written, result of them
    int used;               // *usedDefaultChar afterwards, where asked
    const char* layerBytes; // the layer's bytes where it differs (A), else NULL
    int layerUsed;          // and its *usedDefaultChar then
    int wineResult;         // Wine's result where it differs (see above)
    const char* wineBytes;  // and its bytes; NULL: Wine gives what Windows gives
};

// UTF-8: every length of sequence, pairs, lone surrogates.
static const ToBytesCase ToBytesUtf8[] = {
    {65001, 0, u"a\u00e9\u20ac\xd83d\xde00", -1, 20, nullptr, false, 11, 0,
     "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", 0, nullptr, 0, 0, nullptr},
    {65001, 0, u"a\u00e9", 2, 20, nullptr, false, 3, 0, "a\xc3\xa9", 0, nullptr, 0, 0, nullptr},
    {65001, 0, u"a\0b", 3, 20, nullptr, false, 3, 0, "a\0b", 0, nullptr, 0, 0, nullptr},
    {65001, 0, u"a\xd800z", -1, 20, nullptr, false, 6, 0, "a\xef\xbf\xbdz", 0, nullptr, 0, 0,
     nullptr},
    {65001, 0, u"\xdc00", 1, 20, nullptr, false, 3, 0, "\xef\xbf\xbd", 0, nullptr, 0, 0, nullptr},
    {65001, 0, u"\xde00\xd83d", 2, 20, nullptr, false, 6, 0, "\xef\xbf\xbd\xef\xbf\xbd", 0, nullptr,
     0, 0, nullptr},
    {65001, WC_ERR_INVALID_CHARS, u"a\xd800z", -1, 20, nullptr, false, 0,
     ERROR_NO_UNICODE_TRANSLATION, nullptr, 0, nullptr, 0, 0, nullptr},
    {65001, WC_ERR_INVALID_CHARS, u"\xd83d\xde00", 2, 20, nullptr, false, 4, 0, "\xf0\x9f\x98\x80",
     0, nullptr, 0, 0, nullptr},
};

// Sizes: the size query, exact fit and one short.
static const ToBytesCase ToBytesSizes[] = {
    {65001, 0, u"a\u00e9\xd83d\xde00", -1, 0, nullptr, false, 8, 0, nullptr, 0, nullptr, 0, 0,
     nullptr},
    {65001, 0, u"a\u00e9\xd83d\xde00", -1, 8, nullptr, false, 8, 0, "a\xc3\xa9\xf0\x9f\x98\x80", 0,
     nullptr, 0, 0, nullptr},
    {65001, 0, u"a\u00e9\xd83d\xde00", -1, 7, nullptr, false, 0, ERROR_INSUFFICIENT_BUFFER, nullptr,
     0, nullptr, 0, 0, nullptr},
    {65001, 0, u"a\u00e9\xd83d\xde00", 4, 6, nullptr, false, 0, ERROR_INSUFFICIENT_BUFFER, nullptr,
     0, nullptr, 0, 0, nullptr},
    {1252, 0, u"caf\u00e9", -1, 0, nullptr, false, 5, 0, nullptr, 0, nullptr, 0, 0, nullptr},
    {1252, 0, u"caf\u00e9", -1, 5, nullptr, false, 5, 0, "caf\xe9", 0, nullptr, 0, 0, nullptr},
    {1252, 0, u"caf\u00e9", -1, 4, nullptr, false, 0, ERROR_INSUFFICIENT_BUFFER, nullptr, 0,
     nullptr, 0, 0, nullptr},
    {1252, 0, u"caf\u00e9", 4, 4, nullptr, false, 4, 0, "caf\xe9", 0, nullptr, 0, 0, nullptr},
};

// Single-byte code pages: what they hold, and the default character for
// what they do not, never a look-alike.
static const ToBytesCase ToBytesSingleByte[] = {
    {1252, 0, u"caf\u00e9 \u20ac\u0178\u0081", -1, 20, nullptr, true, 9, 0, "caf\xe9 \x80\x9f\x81",
     0, nullptr, 0, 0, nullptr},
    {1252, WC_NO_BEST_FIT_CHARS, u"\u0141\u00f3d\u017a", -1, 20, nullptr, true, 5, 0,
     "?\xf3"
     "d?",
     1, nullptr, 0, 0, nullptr},
    {1252, 0, u"\u0141\u00f3d\u017a", -1, 20, nullptr, true, 5, 0,
     "L\xf3"
     "dz",
     0,
     "?\xf3"
     "d?",
     1, 0, nullptr},
    {1252, WC_NO_BEST_FIT_CHARS, u"\u0141", 1, 20, "*", true, 1, 0, "*", 1, nullptr, 0, 0, nullptr},
    {1252, WC_NO_BEST_FIT_CHARS, u"\u0141", 1, 20, nullptr, false, 1, 0, "?", 0, nullptr, 0, 0,
     nullptr},
    {1252, WC_NO_BEST_FIT_CHARS, u"\u65e5\u672c", 2, 20, nullptr, true, 2, 0, "??", 1, nullptr, 0,
     0, nullptr},
    {1252, WC_NO_BEST_FIT_CHARS, u"a\xd83d\xde00", 3, 20, nullptr, true, 3, 0, "a??", 1, nullptr, 0,
     0, nullptr},
    {1252, WC_NO_BEST_FIT_CHARS, u"a\xd800z", 3, 20, nullptr, true, 3, 0, "a?z", 1, nullptr, 0, 0,
     nullptr},
    {437, WC_NO_BEST_FIT_CHARS, u"\u00c7\u00a2\u00df\u2591\u00e9\u20ac", 6, 20, nullptr, true, 6, 0,
     "\x80\x9b\xe1\xb0\x82?", 1, nullptr, 0, 0, nullptr},
    {28591, WC_NO_BEST_FIT_CHARS, u"\u00e9\u0080\u00ff\u20ac", 4, 20, nullptr, true, 4, 0,
     "\xe9\x80\xff?", 1, nullptr, 0, 0, nullptr},
};

// Arguments and flags Windows refuses; with CP_UTF8, no flag but
// WC_ERR_INVALID_CHARS and no default character.
static const ToBytesCase ToBytesRefused[] = {
    {65001, 0, nullptr, -1, 20, nullptr, false, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr, 0,
     0, nullptr},
    {65001, 0, u"a", 0, 20, nullptr, false, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr, 0, 0,
     nullptr},
    {65001, 0, u"a", -1, -1, nullptr, false, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr, 0, 0,
     nullptr},
    {65001, 0, u"a", -1, NoBuffer, nullptr, false, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr,
     0, 0, nullptr},
    {12345, 0, u"a", -1, 20, nullptr, false, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr, 0, 0,
     nullptr},
    {1252, 0x8000, u"a", -1, 20, nullptr, false, 0, ERROR_INVALID_FLAGS, nullptr, 0, nullptr, 0, 0,
     nullptr},
    // CP_UTF8 (Wine: see 3).
    {65001, 0x1234, u"a", -1, 20, nullptr, false, 0, ERROR_INVALID_FLAGS, nullptr, 0, nullptr, 0, 0,
     nullptr},
    {65001, WC_NO_BEST_FIT_CHARS, u"a", -1, 20, nullptr, false, 0, ERROR_INVALID_FLAGS, nullptr, 0,
     nullptr, 0, 2, "a"},
    {65001, 0, u"a", -1, 20, "?", false, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr, 0, 2,
     "a"},
    {65001, 0, u"a", -1, 20, nullptr, true, 0, ERROR_INVALID_PARAMETER, nullptr, 0, nullptr, 0, 2,
     "a"},
};

// IsValidCodePage: numbers only, never the stand-ins for a set.
struct ValidCase {
    unsigned codePage;
    bool valid;
};
static const ValidCase ValidCodePages[] = {
    {0, false}, {1, false}, {65001, true}, {1252, true}, {437, true}, {28591, true}, {12345, false},
};
