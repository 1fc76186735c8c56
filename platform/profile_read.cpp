// Reading profile (INI) files, with the meaning the Windows profile
// functions give them: GetPrivateProfileStringA and GetPrivateProfileIntA,
// and the line walker and search that the editor (profile_write.cpp) shares.
// The file is read whole into one module-wide buffer (profile.h gives the
// format and the bound), so a line of any length is matched like a short one;
// the text of a UTF-16LE file is converted into a second one.
#include "profile.h"

#include "errors.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// One byte more than the bound, to tell a file at the bound from a longer one.
static char FileBytes[PROFILE_LIMIT + 1];

// The text of a UTF-16LE file in UTF-8: at most 3 bytes for each unit of
// 2 bytes (a pair of surrogates, 2 units, takes 4).
static char Text[PROFILE_LIMIT / 2 * 3 + 3];

int OpenProfile(const char* name, struct stat* info) {
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENXIO) // a socket, or a device without its driver
            errno = EACCES;
        return -1;
    }
    bool known = fstat(fd, info) == 0;
    if (known && S_ISREG(info->st_mode))
        return fd;
    int error = known ? EACCES : errno;
    close(fd);
    errno = error;
    return -1;
}

// Writes code point c as UTF-8 at out; returns the bytes written.
static size_t PutUtf8(char* out, uint32_t c) {
    if (c < 0x80) {
        out[0] = (char)c;
        return 1;
    }
    size_t count = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    static const unsigned char Lead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (size_t i = count - 1; i > 0; i--, c >>= 6)
        out[i] = (char)(0x80 | (c & 0x3F));
    out[0] = (char)(Lead[count] | c);
    return count;
}

// Converts size bytes of UTF-16LE to UTF-8 at out: a high surrogate
// followed by a low one is one character; a lone surrogate keeps UTF-8's
// three-byte form of its value (ED A0..BF xx), which no valid UTF-8 holds,
// so that a write gives it back as it was and a read as U+FFFD (CopyValue).
// An odd last byte is a unit of its own, with a high byte of 0. Returns the
// bytes written.
static size_t FromUtf16(const unsigned char* in, size_t size, char* out) {
    size_t length = 0;
    for (size_t i = 0; i < size; i += 2) {
        uint32_t c = in[i] | (i + 1 < size ? (uint32_t)in[i + 1] << 8 : 0);
        uint32_t next = i + 3 < size ? in[i + 2] | (uint32_t)in[i + 3] << 8 : 0;
        if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            i += 2;
        }
        length += PutUtf8(out + length, c);
    }
    return length;
}

bool LoadProfile(int fd, ProfileView* view) {
    view->bytes = FileBytes;
    view->size = 0;
    view->wide = false;
    size_t done = 0;
    for (ssize_t n = 1; fd >= 0 && n != 0 && done < sizeof FileBytes;) {
        n = pread(fd, FileBytes + done, sizeof FileBytes - done, (off_t)done);
        if (n < 0 && errno != EINTR)
            return false;
        done += n > 0 ? (size_t)n : 0;
    }
    if (done > PROFILE_LIMIT) {
        errno = EFBIG;
        return false;
    }
    view->size = done;
    if (done >= 2 && (unsigned char)FileBytes[0] == 0xFF && (unsigned char)FileBytes[1] == 0xFE) {
        view->bytes = Text;
        view->size = FromUtf16((const unsigned char*)FileBytes + 2, done - 2, Text);
        view->wide = true;
    }
    return true;
}

static bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == 0x1A;
}

static unsigned char Fold(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? (unsigned char)(c - 'A' + 'a') : c;
}

const char* SkipBlanks(const char* text) {
    while (IsBlank((unsigned char)*text))
        text++;
    return text;
}

// The first non-blank byte of bytes[from, to), or to.
static size_t SkipFrom(const char* bytes, size_t from, size_t to) {
    while (from < to && IsBlank((unsigned char)bytes[from]))
        from++;
    return from;
}

// The end of bytes[from, to) without its trailing blanks.
static size_t TrimBack(const char* bytes, size_t from, size_t to) {
    while (to > from && IsBlank((unsigned char)bytes[to - 1]))
        to--;
    return to;
}

bool NextLine(const ProfileView* view, size_t* at, ProfileLine* line) {
    const char* b = view->bytes;
    size_t start = *at, stop = start;
    if (start >= view->size)
        return false;
    while (stop < view->size && b[stop] != '\r' && b[stop] != '\n')
        stop++;
    size_t end = stop;
    if (end < view->size)
        end += b[end] == '\r' && end + 1 < view->size && b[end + 1] == '\n' ? 2 : 1;
    memset(line, 0, sizeof *line);
    line->start = start;
    line->contentEnd = stop;
    line->end = *at = end;
    size_t first = SkipFrom(b, start, stop);
    line->nameStart = line->nameEnd = first;
    if (first == stop || b[first] == ';') {
        line->kind = first == stop ? LINE_BLANK : LINE_COMMENT;
        return true;
    }
    // A header's name ends at the last "]" of the line.
    size_t close = stop;
    while (b[first] == '[' && close > first + 1 && b[close - 1] != ']')
        close--;
    if (b[first] == '[' && close > first + 1) {
        line->kind = LINE_HEADER;
        line->nameStart = SkipFrom(b, first + 1, close - 1);
        line->nameEnd = TrimBack(b, line->nameStart, close - 1);
        return true;
    }
    line->kind = LINE_KEY;
    const char* equals = (const char*)memchr(b + first, '=', stop - first);
    size_t nameStop = equals != NULL ? (size_t)(equals - b) : stop;
    line->nameEnd = TrimBack(b, first, nameStop);
    line->valueStart = line->valueEnd = stop;
    if (equals != NULL) {
        line->hasEquals = true;
        line->valueStart = SkipFrom(b, nameStop + 1, stop);
        line->valueEnd = TrimBack(b, line->valueStart, stop);
    }
    return true;
}

// Whether the line's name is the trimmed name given, ignoring the case of
// ASCII letters.
static bool NameIs(const ProfileView* view, const ProfileLine* line, const char* name) {
    name = SkipBlanks(name);
    size_t length = TrimBack(name, 0, strlen(name));
    if (line->nameEnd - line->nameStart != length)
        return false;
    for (size_t i = 0; i < length; i++) {
        if (Fold((unsigned char)view->bytes[line->nameStart + i]) != Fold((unsigned char)name[i]))
            return false;
    }
    return true;
}

void FindKey(const ProfileView* view, const char* section, const char* key, ProfileFind* found) {
    memset(found, 0, sizeof *found);
    // The lines before the first header form the section with the empty name.
    if (*SkipBlanks(section) == '\0')
        found->sectionFound = true;
    size_t at = 0;
    ProfileLine line;
    while (NextLine(view, &at, &line)) {
        bool open = line.end == line.contentEnd; // no line end: the last line
        if (line.kind == LINE_HEADER && found->sectionFound) {
            found->sectionEnd = line.start;
            return;
        }
        if (line.kind == LINE_HEADER && NameIs(view, &line, section)) {
            found->sectionFound = true;
            found->sectionStart = line.start;
        }
        if (line.kind == LINE_BLANK || line.kind == LINE_COMMENT || !found->sectionFound)
            continue;
        found->insertAt = line.end;
        found->insertNeedsBreak = open;
        if (line.kind == LINE_KEY && key != NULL && NameIs(view, &line, key)) {
            found->keyFound = true;
            found->key = line;
            return;
        }
    }
    if (found->sectionFound)
        found->sectionEnd = view->size;
    char last = view->size > 0 ? view->bytes[view->size - 1] : '\n';
    found->endsOpen = last != '\n' && last != '\r';
}

// One pair of matching double or single quotes around a whole text is
// dropped: returns 1 and shortens *length by 2 when there is one, else 0.
static size_t StripQuotes(const char* text, size_t* length) {
    if (*length < 2 || (text[0] != '"' && text[0] != '\'') || text[*length - 1] != text[0])
        return 0;
    *length -= 2;
    return 1;
}

// Copies length bytes of text, cut to size - 1, and a terminator.
static DWORD CopyOut(const char* text, size_t length, LPSTR buffer, DWORD size) {
    if (length > size - 1)
        length = size - 1;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return (DWORD)length;
}

// The default as Windows hands it back: trailing spaces dropped (the first
// character always stays), quotes stripped like a value's, cut to size - 1.
static DWORD CopyDefault(LPCSTR defaultValue, LPSTR buffer, DWORD size) {
    const char* text = defaultValue ? defaultValue : "";
    size_t length = strlen(text);
    while (length > 1 && text[length - 1] == ' ')
        length--;
    text += StripQuotes(text, &length);
    return CopyOut(text, length, buffer, size);
}

// Copies a value of the view as CopyOut does. A value of a UTF-16 file is
// never cut inside a character (one that does not fit whole is left out),
// and a lone surrogate in it comes back as U+FFFD, as Windows converts it to
// UTF-8: both forms take three bytes.
static DWORD CopyValue(const ProfileView* view, const char* text, size_t length, LPSTR buffer,
                       DWORD size) {
    if (!view->wide)
        return CopyOut(text, length, buffer, size);
    if (length > size - 1) {
        length = size - 1;
        while (length > 0 && ((unsigned char)text[length] & 0xC0) == 0x80)
            length--;
    }
    DWORD copied = CopyOut(text, length, buffer, size);
    // ED starts a character (it is no continuation byte); ED A0..BF xx is a
    // surrogate.
    for (DWORD i = 0; i + 2 < copied; i++) {
        if ((unsigned char)buffer[i] == 0xED && (unsigned char)buffer[i + 1] >= 0xA0) {
            memcpy(buffer + i, "\xEF\xBF\xBD", 3);
            i += 2;
        }
    }
    return copied;
}

// GetPrivateProfileStringA: the value of a key in a section of a profile
// file, blanks around it trimmed and one pair of matching double or single
// quotes around the whole value removed, cut to size - 1 characters and
// terminated. When the file, the section or the key is missing, or the key's
// line has no "=", the default (NULL meaning empty) is given instead, with
// its trailing spaces dropped and its quotes stripped the same way. Returns
// the number of characters copied, without the terminator; with size 0 the
// buffer is left alone and 0 returned. A file that starts with the
// byte-order mark FF FE is UTF-16LE and its values come back in UTF-8, the
// ANSI code page here, cut to size - 1 bytes without splitting a character;
// any other file is read as bytes (profile.h). A name that leads to anything
// but a regular file (a FIFO, a device, a directory) reads as a missing
// file and never makes the call wait. GetLastError gives the code of opening
// or reading the file when that failed (ERROR_FILE_NOT_FOUND for a missing
// file, ERROR_ACCESS_DENIED for one that is not a regular file,
// ERROR_FILE_TOO_LARGE for one past the bound in profile.h) and is left
// alone otherwise.
// Differs from Windows: a NULL section or key (the lists of section or key
// names) gives the default; only ASCII letters match regardless of case; a
// name without a directory is relative to the current directory, not the
// Windows directory; the file is read afresh on every call; the ANSI code
// page is UTF-8.
extern "C" DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                          LPSTR buffer, DWORD size, LPCSTR fileName) {
    bool fromWideFile;
    return ReadProfileString(section, key, defaultValue, buffer, size, fileName, &fromWideFile);
}

DWORD ReadProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                        LPCSTR fileName, bool* fromWideFile) {
    *fromWideFile = false;
    if (buffer == NULL || size == 0)
        return 0;
    if (section == NULL || key == NULL || fileName == NULL)
        return CopyDefault(defaultValue, buffer, size);
    struct stat info;
    int fd = OpenProfile(fileName, &info);
    ProfileView view;
    bool loaded = fd >= 0 && LoadProfile(fd, &view);
    int error = errno;
    if (fd >= 0)
        close(fd);
    if (!loaded) {
        SetLastErrorFromErrno(error);
        return CopyDefault(defaultValue, buffer, size);
    }
    ProfileFind found;
    FindKey(&view, section, key, &found);
    if (!found.keyFound || !found.key.hasEquals)
        return CopyDefault(defaultValue, buffer, size);
    const char* value = view.bytes + found.key.valueStart;
    size_t length = found.key.valueEnd - found.key.valueStart;
    value += StripQuotes(value, &length);
    *fromWideFile = view.wide;
    return CopyValue(&view, value, length, buffer, size);
}

// The digits of a number in the given base, or -1 for a character that is
// none of them.
static int DigitValue(char c, unsigned base) {
    int value = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'z' ? c - 'a' + 10
                : c >= 'A' && c <= 'Z' ? c - 'A' + 10
                                       : -1;
    return value >= 0 && (unsigned)value < base ? value : -1;
}

// GetPrivateProfileIntA: the value of a key read as GetPrivateProfileStringA
// reads it (at most 29 characters), as an integer: leading blanks and
// control characters skipped, an optional sign, then decimal digits, or
// hexadecimal after "0x", octal after "0o", binary after "0b"; reading stops
// at the first character that is not a digit, and text without digits is 0.
// A negative value comes back as its two's complement, a value too large
// for 32 bits wraps. When the file, the section or the key is missing (a
// name that leads to anything but a regular file counts as a missing file),
// or the value is empty, the default is returned. GetLastError as
// GetPrivateProfileStringA leaves it.
// Differs from Windows: as GetPrivateProfileStringA.
extern "C" UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue,
                                      LPCSTR fileName) {
    char text[30];
    if (GetPrivateProfileStringA(section, key, "", text, sizeof text, fileName) == 0)
        return (UINT)defaultValue;
    const char* p = text;
    while (*p != '\0' && (unsigned char)*p <= ' ')
        p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    // "0x", "0o" and "0b" in either case: c | 0x20 is c in lower case.
    char mark = p[0] == '0' ? (char)(p[1] | 0x20) : '\0';
    unsigned base = mark == 'x' ? 16 : mark == 'o' ? 8 : mark == 'b' ? 2 : 10;
    if (base != 10)
        p += 2;
    uint32_t value = 0;
    for (int digit; (digit = DigitValue(*p, base)) >= 0; p++)
        value = value * base + (uint32_t)digit;
    return negative ? 0u - value : value;
}
