// Converting between the plug-in's ANSI texts and the system's wide names,
// without best fit.
#include "wide.h"

#include <string.h>

// A path's short form, for ProgramPath.
static WCHAR ShortPath[PATH_ARRAY];
// A box's text and caption: ANSI text of at most 3071 bytes converted, one
// character for each byte at most, and a path put in up to four times.
static WCHAR BoxText[3072 + 4 * PATH_ARRAY];
static WCHAR BoxCaption[32];

size_t WideLength(const WCHAR* text) {
    size_t length = 0;
    while (text[length] != 0)
        length++;
    return length;
}

void WidenAscii(const char* ascii, WCHAR* wide) {
    size_t i = 0;
    for (; ascii[i] != '\0'; i++)
        wide[i] = (WCHAR)(unsigned char)ascii[i];
    wide[i] = 0;
}

void WideWithAscii(WCHAR* wide, const WCHAR* text, const char* ascii) {
    size_t length = WideLength(text);
    memmove(wide, text, length * sizeof(WCHAR));
    WidenAscii(ascii, wide + length);
}

BOOL AnsiToWide(const char* ansi, WCHAR* wide, size_t capacity) {
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi, -1, wide, (int)capacity) > 0)
        return TRUE;
    wide[0] = 0;
    size_t length = strlen(ansi);
    if (GetLastError() == ERROR_NO_UNICODE_TRANSLATION && length < capacity)
        AnsiToWideText(ansi, length, wide, capacity);
    return FALSE;
}

size_t AnsiToWideText(const char* ansi, size_t length, WCHAR* wide, size_t capacity) {
    int written = length == 0
                      ? 0
                      : MultiByteToWideChar(CP_ACP, 0, ansi, (int)length, wide, (int)capacity - 1);
    wide[written] = 0;
    return (size_t)written;
}

// The conversion's flags and where it tells that a character was missing:
// Windows refuses both WC_NO_BEST_FIT_CHARS and the used-default flag for
// UTF-8, which has every character and so never falls back to the default
// character; there WC_ERR_INVALID_CHARS makes a lone surrogate fail instead
// of becoming U+FFFD.
static DWORD ExactFlags(BOOL** usedDefault, BOOL* flag) {
    *flag = FALSE;
    if (GetACP() == CP_UTF8) {
        *usedDefault = NULL;
        return WC_ERR_INVALID_CHARS;
    }
    *usedDefault = flag;
    return WC_NO_BEST_FIT_CHARS;
}

BOOL WideToAnsi(const WCHAR* wide, char* ansi, size_t capacity) {
    BOOL used;
    BOOL* usedDefault;
    DWORD flags = ExactFlags(&usedDefault, &used);
    int written =
        WideCharToMultiByte(CP_ACP, flags, wide, -1, ansi, (int)capacity, NULL, usedDefault);
    if (written > 0 && !used)
        return TRUE;
    ansi[0] = '\0';
    return FALSE;
}

void WideToAnsiText(const WCHAR* wide, char* ansi, size_t capacity) {
    DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    size_t units = WideLength(wide);
    int written = 0;
    // Only a text too long for capacity fails; it loses a character at a
    // time, never half of a surrogate pair.
    while (units > 0 && (written = WideCharToMultiByte(CP_ACP, flags, wide, (int)units, ansi,
                                                       (int)capacity - 1, NULL, NULL)) == 0) {
        units--;
        if (units > 0 && wide[units - 1] >= 0xD800 && wide[units - 1] < 0xDC00)
            units--;
    }
    ansi[written] = '\0';
}

BOOL ProgramPath(const WCHAR* path, char* ansi, size_t capacity) {
    if (WideToAnsi(path, ansi, capacity))
        return TRUE;
    DWORD length = GetShortPathNameW(path, ShortPath, PATH_ARRAY);
    return length > 0 && length < PATH_ARRAY && WideToAnsi(ShortPath, ansi, capacity);
}

int MessageBoxNaming(HWND owner, const char* text, const WCHAR* path, const size_t* at,
                     size_t count, const char* caption, UINT type) {
    const size_t capacity = sizeof BoxText / sizeof BoxText[0];
    size_t pathLength = WideLength(path);
    size_t length = strlen(text);
    size_t used = 0;
    size_t from = 0;
    BoxText[0] = 0;
    for (size_t i = 0; i <= count; i++) {
        size_t to = i < count && at[i] <= length ? at[i] : length;
        if (to > from && to - from < capacity - used)
            used += AnsiToWideText(text + from, to - from, BoxText + used, capacity - used);
        if (i < count && used + pathLength < capacity) {
            memcpy(BoxText + used, path, pathLength * sizeof(WCHAR));
            used += pathLength;
            BoxText[used] = 0;
        }
        from = to > from ? to : from;
    }
    WidenAscii(caption, BoxCaption);
    return MessageBoxW(owner, BoxText, BoxCaption, type);
}
