// Finding the first place in a text where a conversion fails, for the
// boxes that name it: its line and column, and the character or byte there.
#include "places.h"
#include "convert.h"
#include "messages.h"

static UINT SearchCodePage;
static UINT SearchFlagsOf;
static const char* SearchBytes;
static const WCHAR* SearchWide;

static BOOL BytesConvert(DWORD count) {
    return count == 0 || MultiByteToWideChar(SearchCodePage, MB_ERR_INVALID_CHARS, SearchBytes,
                                             (int)count, NULL, 0) > 0;
}

static BOOL UnitsConvert(DWORD count) {
    BOOL lost = FALSE;
    return count == 0 ||
           (FromWide(SearchCodePage, SearchFlagsOf, SearchWide, (int)count, NULL, 0, &lost) > 0 &&
            !lost);
}

// Whether one of the starts of count - longest + 1 to count units converts.
static BOOL NearStartConverts(BOOL (*converts)(DWORD), DWORD count, DWORD longest) {
    for (DWORD back = 0; back < longest && back <= count; back++) {
        if (converts(count - back))
            return TRUE;
    }
    return FALSE;
}

// Where the first character that does not convert starts, in a sequence
// of size units whose whole does not convert, made of characters of at most
// longest units. A start that cuts a character does not convert either, so
// whether some start at most longest - 1 units shorter converts is what
// turns from yes to no as the start grows, a few units after the place:
// found by halving, in a few dozen conversions whatever the size.
static DWORD FirstFailure(BOOL (*converts)(DWORD), DWORD size, DWORD longest) {
    DWORD low = 0, high = size;
    while (low < high) {
        DWORD middle = low + (high - low + 1) / 2;
        if (NearStartConverts(converts, middle, longest))
            low = middle;
        else
            high = middle - 1;
    }
    while (low > 0 && !converts(low))
        low--;
    return low;
}

static BOOL IsHighSurrogate(WCHAR unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

static BOOL IsLowSurrogate(WCHAR unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void CountPlace(const WCHAR* wide, DWORD units, Place* place) {
    for (DWORD i = 0; i < units; i++) {
        if (wide[i] == '\n') {
            place->line++;
            place->column = 1;
        } else if (!(IsLowSurrogate(wide[i]) && i > 0 && IsHighSurrogate(wide[i - 1]))) {
            place->column++;
        }
    }
}

void PlaceOfUnit(const WCHAR* wide, DWORD at, DWORD units, Place* place) {
    place->line = 1;
    place->column = 1;
    CountPlace(wide, at, place);
    place->isByte = FALSE;
    place->code = wide[at];
    if (IsHighSurrogate(wide[at]) && at + 1 < units && IsLowSurrogate(wide[at + 1]))
        place->code = 0x10000 + ((UINT)(wide[at] - 0xD800) << 10) + (UINT)(wide[at + 1] - 0xDC00);
}

void FindUnheld(UINT codePage, UINT flagsOf, const WCHAR* wide, DWORD units, Place* place) {
    SearchCodePage = codePage;
    SearchFlagsOf = flagsOf;
    SearchWide = wide;
    PlaceOfUnit(wide, FirstFailure(UnitsConvert, units, 2), units, place);
}

void FindInvalid(UINT codePage, const char* bytes, DWORD size, WCHAR* scratch, DWORD capacity,
                 Place* place) {
    SearchCodePage = codePage;
    SearchBytes = bytes;
    DWORD at = FirstFailure(BytesConvert, size, 4);
    DWORD lineStart = 0;
    place->line = 1;
    for (DWORD i = 0; i < at; i++) {
        if (bytes[i] == '\n') {
            place->line++;
            lineStart = i + 1;
        }
    }
    place->column = 1;
    int units = at == lineStart ? 0
                                : MultiByteToWideChar(codePage, 0, bytes + lineStart,
                                                      (int)(at - lineStart), NULL, 0);
    if (units > 0 && (DWORD)units <= capacity) {
        MultiByteToWideChar(codePage, 0, bytes + lineStart, (int)(at - lineStart), scratch, units);
        CountPlace(scratch, (DWORD)units, place);
    } else if (units > 0) {
        place->column += (UINT)units;
    }
    place->isByte = TRUE;
    place->code = (BYTE)bytes[at];
}

void AppendPlace(const Place* place) {
    char text[96];
    if (place->isByte)
        wsprintfA(text, " (line %u, column %u: the byte 0x%02X)", place->line, place->column,
                  place->code);
    else
        wsprintfA(text, " (line %u, column %u: U+%04X)", place->line, place->column, place->code);
    Append(text);
}
