// Code pages: MultiByteToWideChar, WideCharToMultiByte, GetACP, GetOEMCP,
// IsValidCodePage.
//
// ANSI and OEM are both the character set of the user's locale (charset.cpp
// says how it is found; the plain C locale counts as UTF-8). A numbered code
// page is the Windows set of that number: CP_UTF8 by hand, the others
// through iconv ("CP1252", "CP437", "ISO-8859-1" for 28591, ...). Each set is
// opened once and kept: a conversion writes straight into the caller's
// buffer and allocates nothing once its set is open.
//
// Differs from Windows, everywhere in this file: the layer never converts a
// character into a look-alike ("best fit": Windows turns U+0141 into "L" for
// 1252 unless told WC_NO_BEST_FIT_CHARS). A character a set cannot hold is
// always the default character, as Windows gives it with that flag.
#include "charset.h"

#include <limits.h>
#include <string.h>

namespace {

// Where a conversion's units go: the caller's buffer up to its capacity, or
// nowhere when only the size is asked for (capacity 0).
template <typename Unit> struct Output {
    Unit* buffer;
    size_t capacity;
    size_t count;

    // False when the units do not fit; then none of them is written.
    bool Put(const Unit* units, size_t n) {
        if (capacity != 0) {
            if (count + n > capacity)
                return false;
            memcpy(buffer + count, units, n * sizeof(Unit));
        }
        count += n;
        return true;
    }
};

// The flags a set takes, beside the one that makes invalid input fail: none
// for UTF-8 and GB18030 (54936), which hold every character, none at all
// for the stateful ISO-2022-JP (50220), MB_PRECOMPOSED or
// WC_NO_BEST_FIT_CHARS for the others.
DWORD OtherFlags(const Charset* set, DWORD other) {
    if (set->kind == CharsetUtf8 || set->codePage == 54936 || set->codePage == 50220)
        return 0;
    return other;
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

size_t WideLength(const WCHAR* text) {
    size_t n = 0;
    while (text[n] != 0)
        n++;
    return n;
}

// The count as the calls return it; 0 with ERROR_INSUFFICIENT_BUFFER past
// what an int holds.
int Result(size_t count) {
    return count > INT_MAX ? Fail(ERROR_INSUFFICIENT_BUFFER) : (int)count;
}

} // namespace

// MultiByteToWideChar: converts bytes in the code page to UTF-16.
// length -1 converts up to and with the terminator; another length
// converts that many bytes, NULs among them, and adds no terminator.
// capacity 0 asks for the units needed and writes nothing. Returns the
// units written (or needed); characters past U+FFFF take two (a surrogate
// pair). Bytes that are no character of the set become U+FFFD, a piece of
// invalid UTF-8 one U+FFFD as Windows cuts them (charset.cpp,
// DecodeUtf8); with MB_ERR_INVALID_CHARS they fail the call instead.
// Fails, returning 0, with GetLastError:
//   ERROR_INVALID_PARAMETER: no input, length 0, capacity below 0, no
//     buffer with a capacity, input and buffer the same, or a code page the
//     layer does not have;
//   ERROR_INVALID_FLAGS: flags other than MB_ERR_INVALID_CHARS for CP_UTF8
//     and 54936, any for 50220, other than those two and MB_PRECOMPOSED for
//     another set;
//   ERROR_NO_UNICODE_TRANSLATION: invalid input with MB_ERR_INVALID_CHARS;
//   ERROR_INSUFFICIENT_BUFFER: the units do not fit the capacity (those that
//     fit may have been written).
// Differs from Windows: MB_COMPOSITE and MB_USEGLYPHCHARS are not offered
// (ERROR_INVALID_FLAGS). A byte that the iconv set leaves undefined is no
// character (U+FFFD, or the failure with MB_ERR_INVALID_CHARS), except
// bytes 80-9F, which are their C1 controls as in Windows' 125x tables;
// Windows' tables give a few such bytes of other sets private-use
// characters.
extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH multiByte, int length,
                                   LPWSTR wide, int capacity) {
    if (multiByte == nullptr || length == 0 || capacity < 0 || (wide == nullptr && capacity != 0) ||
        (const void*)multiByte == (const void*)wide)
        return Fail(ERROR_INVALID_PARAMETER);
    Charset* set = CharsetOfCodePage(codePage);
    if (set == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD allowed = OtherFlags(set, MB_PRECOMPOSED);
    if (set->codePage != 50220)
        allowed |= MB_ERR_INVALID_CHARS;
    if ((flags & ~allowed) != 0)
        return Fail(ERROR_INVALID_FLAGS);
    const char* p = multiByte;
    const char* end = p + (length < 0 ? strlen(multiByte) + 1 : (size_t)length);
    Output<WCHAR> out = {wide, (size_t)capacity, 0};
    ResetCharset(set);
    while (p < end) {
        if ((unsigned char)*p < 0x80 && set->ascii) {
            WCHAR unit = (unsigned char)*p++;
            if (!out.Put(&unit, 1))
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            continue;
        }
        Decoded d = set->kind == CharsetUtf8 ? DecodeUtf8(p, (size_t)(end - p))
                                             : DecodeOne(set, p, (size_t)(end - p));
        p += d.taken;
        if (d.code == NoCharacter)
            continue;
        if (d.code == InvalidBytes) {
            if ((flags & MB_ERR_INVALID_CHARS) != 0)
                return Fail(ERROR_NO_UNICODE_TRANSLATION);
            d.code = 0xFFFD;
        }
        WCHAR units[2] = {0, 0};
        size_t n = 1;
        units[0] = (WCHAR)d.code;
        if (d.code >= 0x10000) {
            units[0] = (WCHAR)(0xD800 + ((d.code - 0x10000) >> 10));
            units[1] = (WCHAR)(0xDC00 + (d.code & 0x3FF));
            n = 2;
        }
        if (!out.Put(units, n))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return Result(out.count);
}

// WideCharToMultiByte: converts UTF-16 to bytes in the code page.
// length -1 converts up to and with the terminator; another length converts
// that many units and adds no terminator. capacity 0 asks for the bytes
// needed and writes nothing. Returns the bytes written (or needed).
//   CP_UTF8: a surrogate pair is one character; a lone surrogate becomes
//     U+FFFD (EF BF BD), or fails the call with WC_ERR_INVALID_CHARS.
//     defaultChar and usedDefaultChar must be NULL. (54936, GB18030, which
//     holds every character, takes WC_ERR_INVALID_CHARS too, and only it.)
//   Another set: each unit the set cannot hold, a lone surrogate and each
//     half of a pair the set cannot hold becomes the default character
//     (the byte at defaultChar, else the set's own "?") and sets
//     *usedDefaultChar to TRUE; it is set to FALSE otherwise.
// Fails, returning 0, with GetLastError:
//   ERROR_INVALID_PARAMETER: no input, length 0, capacity below 0, no
//     buffer with a capacity, input and buffer the same, a code page the
//     layer does not have, or defaultChar or usedDefaultChar with CP_UTF8;
//   ERROR_INVALID_FLAGS: flags other than WC_ERR_INVALID_CHARS for CP_UTF8
//     and 54936, any for 50220, other than WC_NO_BEST_FIT_CHARS for another
//     set;
//   ERROR_NO_UNICODE_TRANSLATION: a lone surrogate with WC_ERR_INVALID_CHARS;
//   ERROR_INSUFFICIENT_BUFFER: the bytes do not fit the capacity (those that
//     fit may have been written).
// Differs from Windows: no best fit, with or without WC_NO_BEST_FIT_CHARS
// (see the top of this file); WC_COMPOSITECHECK and its companions are not
// offered (ERROR_INVALID_FLAGS); the default character is one byte.
extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wideChar, int length,
                                   LPSTR multiByte, int capacity, LPCCH defaultChar,
                                   LPBOOL usedDefaultChar) {
    if (wideChar == nullptr || length == 0 || capacity < 0 ||
        (multiByte == nullptr && capacity != 0) || (const void*)wideChar == (const void*)multiByte)
        return Fail(ERROR_INVALID_PARAMETER);
    Charset* set = CharsetOfCodePage(codePage);
    if (set == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    bool utf8 = set->kind == CharsetUtf8;
    if (utf8 && (defaultChar != nullptr || usedDefaultChar != nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD allowed = OtherFlags(set, WC_NO_BEST_FIT_CHARS);
    if (utf8 || set->codePage == 54936)
        allowed |= WC_ERR_INVALID_CHARS;
    if ((flags & ~allowed) != 0)
        return Fail(ERROR_INVALID_FLAGS);
    size_t units = length < 0 ? WideLength(wideChar) + 1 : (size_t)length;
    char fallback[2];
    fallback[0] = fallback[1] = defaultChar != nullptr ? defaultChar[0] : set->fallback;
    BOOL used = FALSE;
    Output<char> out = {multiByte, (size_t)capacity, 0};
    ResetCharset(set);
    for (size_t i = 0; i < units;) {
        uint32_t code = wideChar[i];
        if (code < 0x80 && set->ascii) {
            char byte = (char)code;
            if (!out.Put(&byte, 1))
                return Fail(ERROR_INSUFFICIENT_BUFFER);
            i++;
            continue;
        }
        size_t take = 1;
        bool lone = false;
        if (IsHighSurrogate(code) && i + 1 < units && IsLowSurrogate(wideChar[i + 1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (wideChar[i + 1] - 0xDC00u);
            take = 2;
        } else {
            lone = IsHighSurrogate(code) || IsLowSurrogate(code);
        }
        i += take;
        char piece[8];
        size_t n;
        if (lone && (flags & WC_ERR_INVALID_CHARS) != 0)
            return Fail(ERROR_NO_UNICODE_TRANSLATION);
        if (utf8) {
            n = EncodeUtf8(lone ? 0xFFFD : code, piece);
        } else {
            n = lone ? 0 : EncodeOne(set, code, piece);
            if (n == 0) {
                memcpy(piece, fallback, take);
                n = take;
                used = TRUE;
            }
        }
        if (!out.Put(piece, n))
            return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    char end[8];
    size_t ending = FinishEncoding(set, end);
    if (!out.Put(end, ending))
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (usedDefaultChar != nullptr)
        *usedDefaultChar = used;
    return Result(out.count);
}

// GetACP: the Windows number of the ANSI set, the locale's (see the top of
// this file): 65001 for UTF-8 (and for the plain C locale), 28591 for
// ISO-8859-1, 28605 for ISO-8859-15, 20127 for ASCII, 1251 for CP1251,
// 20866 for KOI8-R, 936 for GB2312 and GBK, and so on.
// Differs from Windows: a locale's set that Windows has no number for
// (ARMSCII-8, GEORGIAN-PS, ...) gives 0, CP_ACP: the conversion calls take
// that number as the ANSI set, so it still converts as ANSI does, but
// IsValidCodePage says FALSE for it.
extern "C" UINT GetACP(void) {
    return AnsiCharset()->codePage;
}

// GetOEMCP: the Windows number of the OEM set, which on Linux is the ANSI
// one (see GetACP).
// Differs from Windows: Windows has a set of its own for the console (437
// where ANSI is 1252).
extern "C" UINT GetOEMCP(void) {
    return AnsiCharset()->codePage;
}

// IsValidCodePage: whether the conversion calls take this code page number:
// CP_UTF8 and the numbered sets the layer has and iconv opens. CP_ACP,
// CP_OEMCP and the other stand-ins for a set (2, 3) are no numbers: FALSE.
// Differs from Windows: UTF-7 (65000) and the few sets that iconv lacks are
// not offered.
extern "C" BOOL IsValidCodePage(UINT codePage) {
    if (codePage <= 3)
        return FALSE;
    return CharsetOfCodePage(codePage) != nullptr ? TRUE : FALSE;
}
