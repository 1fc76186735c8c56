// Profile (INI) files with the meaning the Windows profile functions give
// them. No heap: the file is streamed through a fixed stack buffer, and one
// scan over it records byte offsets (of the section, the key line and its
// value), so a line of any length is matched and copied like a short one.
//
// The file format as both functions read it:
//   - Lines end with CRLF, LF or a lone CR. A UTF-8 byte-order mark at the
//     very start is skipped.
//   - Blanks are space, tab, vertical tab, form feed and Ctrl-Z (0x1A).
//   - A line whose first non-blank character is "[" and that has a "]" later
//     starts a section; its name lies between the "[" and the last "]" of the
//     line, blanks trimmed. An unclosed "[name" line is an ordinary key line.
//   - A line whose first non-blank character is ";" is a comment. "#" has no
//     meaning of its own.
//   - Any other non-blank line is a key line: the key is the text before the
//     first "=", blanks trimmed, and the value the text after it, blanks
//     trimmed. A line without "=" is a key without a value.
//   - Key lines before the first section header belong to the section with
//     the empty name.
//   - Names match regardless of the case of ASCII letters. Only the first
//     section of a name counts, and in it only the first line of a key.
#include "errors.h"
#include "files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { CHUNK = 4096 };

static bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == 0x1A;
}

static unsigned char Fold(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? (unsigned char)(c - 'A' + 'a') : c;
}

// Skips leading blanks; *length gets the length without trailing blanks.
static const char* Trim(const char* text, size_t* length) {
    while (IsBlank((unsigned char)*text))
        text++;
    size_t n = strlen(text);
    while (n > 0 && IsBlank((unsigned char)text[n - 1]))
        n--;
    *length = n;
    return text;
}

static const char* SkipBlanks(const char* text) {
    while (IsBlank((unsigned char)*text))
        text++;
    return text;
}

// Compares a name arriving byte by byte with a trimmed target: the name
// matches when, after its leading blanks, it is the target (ignoring case)
// followed by nothing but blanks.
struct NameMatch {
    size_t seen; // bytes since the first non-blank one
    bool same;
};

static void MatchByte(NameMatch* m, const char* target, size_t length, unsigned char c) {
    if (m->seen == 0 && IsBlank(c))
        return;
    if (m->seen < length)
        m->same = m->same && Fold(c) == Fold((unsigned char)target[m->seen]);
    else
        m->same = m->same && IsBlank(c);
    m->seen++;
}

static bool MatchDone(const NameMatch* m, size_t length) {
    return m->same && m->seen >= length;
}

enum LineKind { LINE_BLANK, LINE_COMMENT, LINE_BRACKET, LINE_KEY };
enum SectionState { SECTION_BEFORE, SECTION_IN, SECTION_AFTER };

// What the scan has learnt about one line, as byte offsets into the file.
struct Line {
    off_t start, contentEnd, end; // contentEnd: where its line end begins
    int kind;
    NameMatch header; // the text after "[" so far
    bool headerClosed, headerMatches;
    NameMatch name; // the text before "=" so far
    bool sawEquals, keyMatches;
    off_t nameStart, nameEnd;            // the key's name, blanks trimmed
    off_t valueStart, valueEnd;          // the value, blanks trimmed
    unsigned char valueFirst, valueLast; // its first and last characters
};

// One pass over a file in search of a key (or, with key NULL, of the extent
// of a section).
struct Scan {
    const char* section;
    size_t sectionLength;
    const char* key; // NULL: only the section is looked for
    size_t keyLength;
    Line line;    // the line being read
    bool afterCR; // the line ended in a CR; a LF may follow
    off_t crAt;

    int state;
    bool done;
    off_t sectionStart, sectionEnd; // header line start; next header or end of file
    off_t insertAt;                 // after the section's last key line (or header)
    bool insertNeedsBreak;          // that line has no line end
    bool keyFound;
    Line found;    // the key's line
    off_t fileEnd; // when the scan ran to the end of the file
    bool endsOpen; // the file's last line has no line end
};

static void StartLine(Scan* s, off_t at) {
    memset(&s->line, 0, sizeof s->line);
    s->line.start = s->line.nameStart = s->line.nameEnd = at;
    s->line.kind = LINE_BLANK;
    s->line.header.same = s->line.name.same = true;
}

static void StartScan(Scan* s, const char* section, const char* key, off_t bodyStart) {
    memset(s, 0, sizeof *s);
    s->section = Trim(section, &s->sectionLength);
    if (key)
        s->key = Trim(key, &s->keyLength);
    StartLine(s, bodyStart);
    // The lines before the first header form the section with the empty name.
    if (s->sectionLength == 0) {
        s->state = SECTION_IN;
        s->sectionStart = s->insertAt = bodyStart;
    }
}

static void ScanByte(Scan* s, unsigned char c, off_t at) {
    Line* l = &s->line;
    if (l->kind == LINE_BLANK) {
        if (IsBlank(c))
            return;
        l->kind = c == '[' ? LINE_BRACKET : c == ';' ? LINE_COMMENT : LINE_KEY;
        l->nameStart = l->nameEnd = at;
    }
    if (l->kind == LINE_COMMENT)
        return;
    // A header's name ends at the last "]" of the line: judge it at each one.
    if (l->kind == LINE_BRACKET && at > l->nameStart) {
        if (c == ']') {
            l->headerClosed = true;
            l->headerMatches = MatchDone(&l->header, s->sectionLength);
        }
        MatchByte(&l->header, s->section, s->sectionLength, c);
    }
    if (!l->sawEquals) {
        if (c == '=') {
            l->sawEquals = true;
            l->keyMatches = s->key && MatchDone(&l->name, s->keyLength);
            return;
        }
        if (s->key)
            MatchByte(&l->name, s->key, s->keyLength, c);
        if (!IsBlank(c))
            l->nameEnd = at + 1;
        return;
    }
    if (IsBlank(c))
        return;
    if (l->valueEnd == 0) {
        l->valueStart = at;
        l->valueFirst = c;
    }
    l->valueEnd = at + 1;
    l->valueLast = c;
}

static void EndLine(Scan* s, off_t contentEnd, off_t lineEnd, bool terminated) {
    Line* l = &s->line;
    l->contentEnd = contentEnd;
    l->end = lineEnd;
    bool header = l->kind == LINE_BRACKET && l->headerClosed;
    if (header && s->state == SECTION_IN) {
        s->state = SECTION_AFTER;
        s->sectionEnd = l->start;
        s->done = true;
    } else if (header && s->state == SECTION_BEFORE && l->headerMatches) {
        s->state = SECTION_IN;
        s->sectionStart = l->start;
        s->insertAt = lineEnd;
        s->insertNeedsBreak = !terminated;
    } else if (!header && l->kind != LINE_BLANK && l->kind != LINE_COMMENT &&
               s->state == SECTION_IN) {
        s->insertAt = lineEnd;
        s->insertNeedsBreak = !terminated;
        // A line without "=" names its key with all of its text.
        if (l->sawEquals ? l->keyMatches : s->key && MatchDone(&l->name, s->keyLength)) {
            s->found = *l;
            s->keyFound = s->done = true;
        }
    }
    StartLine(s, lineEnd);
}

// Feeds a chunk of the file that starts at offset base.
static void ScanChunk(Scan* s, const char* bytes, size_t count, off_t base) {
    for (size_t i = 0; i < count && !s->done; i++) {
        unsigned char c = (unsigned char)bytes[i];
        off_t at = base + (off_t)i;
        if (s->afterCR) {
            s->afterCR = false;
            if (c == '\n') {
                EndLine(s, s->crAt, at + 1, true);
                continue;
            }
            EndLine(s, s->crAt, at, true);
            if (s->done)
                break;
        }
        if (c == '\r') {
            s->afterCR = true;
            s->crAt = at;
        } else if (c == '\n') {
            EndLine(s, at, at + 1, true);
        } else {
            ScanByte(s, c, at);
        }
    }
}

static void ScanEnd(Scan* s, off_t end) {
    s->fileEnd = end;
    s->endsOpen = !s->afterCR && s->line.start < end;
    if (!s->done && s->afterCR)
        EndLine(s, s->crAt, end, true);
    else if (!s->done && s->line.start < end)
        EndLine(s, end, end, false);
    if (!s->done && s->state == SECTION_IN)
        s->sectionEnd = end;
}

// Reads until count bytes or the end of the file; returns the bytes read, or
// -1 with errno.
static ssize_t ReadFull(int fd, char* bytes, size_t count, off_t at) {
    size_t done = 0;
    while (done < count) {
        ssize_t n = pread(fd, bytes + done, count - done, at + (off_t)done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += (size_t)n;
    }
    return (ssize_t)done;
}

// Scans an open file until the scan is done or the file ends. Returns false
// with errno when reading fails.
static bool ScanFile(int fd, Scan* s, const char* section, const char* key) {
    char chunk[CHUNK];
    ssize_t n = ReadFull(fd, chunk, sizeof chunk, 0);
    if (n < 0)
        return false;
    off_t skip = n >= 3 && memcmp(chunk, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    StartScan(s, section, key, skip);
    ScanChunk(s, chunk + skip, (size_t)(n - skip), skip);
    off_t at = n;
    while (n == (ssize_t)sizeof chunk && !s->done) {
        n = ReadFull(fd, chunk, sizeof chunk, at);
        if (n < 0)
            return false;
        ScanChunk(s, chunk, (size_t)n, at);
        at += n;
    }
    ScanEnd(s, at);
    return true;
}

// One pair of matching double or single quotes around a whole value is
// dropped: returns 1 and shortens *length by 2 when there is one, else 0.
static size_t StripQuotes(unsigned char first, unsigned char last, size_t* length) {
    if (*length < 2 || (first != '"' && first != '\'') || last != first)
        return 0;
    *length -= 2;
    return 1;
}

// The default as Windows hands it back: trailing spaces dropped (the first
// character always stays), quotes stripped like a value's, cut to size - 1.
static DWORD CopyDefault(LPCSTR defaultValue, LPSTR buffer, DWORD size) {
    const char* text = defaultValue ? defaultValue : "";
    size_t length = strlen(text);
    while (length > 1 && text[length - 1] == ' ')
        length--;
    if (length > 0)
        text += StripQuotes((unsigned char)text[0], (unsigned char)text[length - 1], &length);
    if (length > size - 1)
        length = size - 1;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
    return (DWORD)length;
}

enum : DWORD { NOT_COPIED = (DWORD)-1 };

// Copies the value of the key's line, from the file, into the buffer, cut to
// size - 1. Returns the characters copied, or NOT_COPIED with errno.
static DWORD CopyValue(int fd, const Line* key, LPSTR buffer, DWORD size) {
    size_t length = (size_t)(key->valueEnd - key->valueStart);
    off_t start = key->valueStart + (off_t)StripQuotes(key->valueFirst, key->valueLast, &length);
    if (length > size - 1)
        length = size - 1;
    ssize_t n = ReadFull(fd, buffer, length, start);
    if (n < 0)
        return NOT_COPIED;
    buffer[n] = '\0';
    return (DWORD)n;
}

// GetPrivateProfileStringA: the value of a key in a section of a profile
// file, blanks around it trimmed and one pair of matching double or single
// quotes around the whole value removed, cut to size - 1 characters and
// terminated. When the file, the section or the key is missing, or the key's
// line has no "=", the default (NULL meaning empty) is given instead, with
// its trailing spaces dropped and its quotes stripped the same way. Returns
// the number of characters copied, without the terminator; with size 0 the
// buffer is left alone and 0 returned. GetLastError gives the code of
// opening or reading the file when that failed (ERROR_FILE_NOT_FOUND for a
// missing file) and is left alone otherwise.
// Differs from Windows: a NULL section or key (the lists of section or key
// names) gives the default; only ASCII letters match regardless of case; a
// name without a directory is relative to the current directory, not the
// Windows directory; the file is read afresh on every call.
extern "C" DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                          LPSTR buffer, DWORD size, LPCSTR fileName) {
    if (buffer == NULL || size == 0)
        return 0;
    if (section == NULL || key == NULL || fileName == NULL)
        return CopyDefault(defaultValue, buffer, size);
    int fd = open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return CopyDefault(defaultValue, buffer, size);
    }
    Scan scan;
    DWORD copied = NOT_COPIED;
    bool scanned = ScanFile(fd, &scan, section, key);
    bool hasValue = scanned && scan.keyFound && scan.found.sawEquals;
    if (hasValue)
        copied = CopyValue(fd, &scan.found, buffer, size);
    if (!scanned || (hasValue && copied == NOT_COPIED))
        SetLastErrorFromErrno(errno);
    close(fd);
    if (copied == NOT_COPIED)
        return CopyDefault(defaultValue, buffer, size);
    return copied;
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
// for 32 bits wraps. When the file, the section or the key is missing, or
// the value is empty, the default is returned. GetLastError as
// GetPrivateProfileStringA leaves it.
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
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))
        base = 16;
    else if (p[0] == '0' && (p[1] == 'o' || p[1] == 'O'))
        base = 8;
    else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B'))
        base = 2;
    if (base != 10)
        p += 2;
    uint32_t value = 0;
    for (int digit; (digit = DigitValue(*p, base)) >= 0; p++)
        value = value * base + (uint32_t)digit;
    return negative ? 0u - value : value;
}

// The change a write makes: bytes before cut are kept, then the new text,
// then the original from resume on.
enum EditKind { EDIT_NONE, EDIT_NEW_SECTION, EDIT_NEW_KEY, EDIT_REPLACE_KEY, EDIT_DELETE };

struct Edit {
    int kind;
    off_t cut, resume;
    bool breakFirst;          // end the line before cut with CRLF first
    off_t nameStart, nameEnd; // EDIT_REPLACE_KEY: the key's name as the file spells it
};

static Edit PlanEdit(const Scan* s, LPCSTR key, LPCSTR value) {
    Edit e;
    memset(&e, 0, sizeof e);
    e.kind = EDIT_NONE;
    if (key == NULL) { // the whole section goes
        if (s->state != SECTION_BEFORE) {
            e.kind = EDIT_DELETE;
            e.cut = s->sectionStart;
            e.resume = s->sectionEnd;
        }
    } else if (s->keyFound && value == NULL) {
        e.kind = EDIT_DELETE;
        e.cut = s->found.start;
        e.resume = s->found.end;
    } else if (s->keyFound) {
        e.kind = EDIT_REPLACE_KEY;
        e.cut = s->found.start;
        e.resume = s->found.contentEnd;
        e.nameStart = s->found.nameStart;
        e.nameEnd = s->found.nameEnd;
    } else if (value != NULL && s->state != SECTION_BEFORE) {
        e.kind = EDIT_NEW_KEY;
        e.cut = e.resume = s->insertAt;
        e.breakFirst = s->insertNeedsBreak;
    } else if (value != NULL) {
        e.kind = EDIT_NEW_SECTION;
        e.cut = e.resume = s->fileEnd;
        e.breakFirst = s->endsOpen;
    }
    if (e.kind == EDIT_DELETE && e.cut == e.resume)
        e.kind = EDIT_NONE; // nothing there to remove
    return e;
}

static bool WriteAll(int fd, const char* bytes, size_t count) {
    return WriteAllBytes(fd, bytes, count, NULL);
}

static bool WriteText(int fd, const char* text) {
    return WriteAll(fd, text, strlen(text));
}

// Copies the original's bytes from..to (to < 0: to its end) into out.
static bool CopyRange(int in, int out, off_t from, off_t to) {
    char chunk[CHUNK];
    while (to < 0 || from < to) {
        size_t want = sizeof chunk;
        if (to >= 0 && (off_t)want > to - from)
            want = (size_t)(to - from);
        ssize_t n = ReadFull(in, chunk, want, from);
        if (n < 0)
            return false;
        if (n == 0 && to < 0)
            return true;
        if (n == 0) { // the original shrank under us
            errno = EIO;
            return false;
        }
        if (!WriteAll(out, chunk, (size_t)n))
            return false;
        from += n;
    }
    return true;
}

// Writes the new file: the original (in, -1 for none) with the edit applied.
// Names and the value are written from their first non-blank character on.
static bool WriteEdited(int in, int out, const Edit* e, LPCSTR section, LPCSTR key, LPCSTR value) {
    if (in >= 0 && !CopyRange(in, out, 0, e->cut))
        return false;
    if (e->breakFirst && !WriteText(out, "\r\n"))
        return false;
    bool ok = true;
    if (e->kind == EDIT_NEW_SECTION)
        ok = WriteText(out, "[") && WriteText(out, SkipBlanks(section)) && WriteText(out, "]\r\n");
    if (ok && (e->kind == EDIT_NEW_SECTION || e->kind == EDIT_NEW_KEY))
        ok = WriteText(out, SkipBlanks(key)) && WriteText(out, "=") &&
             WriteText(out, SkipBlanks(value)) && WriteText(out, "\r\n");
    if (ok && e->kind == EDIT_REPLACE_KEY)
        ok = CopyRange(in, out, e->nameStart, e->nameEnd) && WriteText(out, "=") &&
             WriteText(out, SkipBlanks(value));
    if (!ok)
        return false;
    return in < 0 || CopyRange(in, out, e->resume, -1);
}

// Writes the edited file into the lock beside the file (target, links
// followed), flushes it and renames it over the file, which keeps its owner,
// group and permission bits. On failure the lock is removed and errno kept.
static bool ReplaceWhole(int in, const struct stat* info, const Edit* e, LPCSTR section, LPCSTR key,
                         LPCSTR value, const char* target) {
    char lock[PATH_MAX];
    int out = CreateLock(target, lock, sizeof lock);
    if (out < 0)
        return false; // a young lock belongs to another writer: leave it
    if (!WriteEdited(in, out, e, section, key, value)) {
        DropLock(out, lock);
        return false;
    }
    return CommitLock(out, lock, target, info);
}

enum { NO_FILE = -1, OPEN_FAILED = -2 };

// Opens the file a write replaces: its descriptor, NO_FILE when it does not
// exist yet, or OPEN_FAILED with errno (EISDIR for a directory, EACCES for
// a file this process may not write).
static int OpenOriginal(const char* target, struct stat* info) {
    int fd = open(target, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? NO_FILE : OPEN_FAILED;
    int error = 0;
    if (fstat(fd, info) != 0 || (S_ISREG(info->st_mode) && !MayWrite(target, info)))
        error = errno;
    else if (!S_ISREG(info->st_mode))
        error = S_ISDIR(info->st_mode) ? EISDIR : EINVAL;
    if (error == 0)
        return fd;
    close(fd);
    errno = error;
    return OPEN_FAILED;
}

// The code a failed write reports for errno.
static DWORD WriteFailureCode(int number) {
    if (number == EEXIST)
        return ERROR_SHARING_VIOLATION;
    // Creating the lock finds no directory, or a file on the way.
    if (number == ENOENT || number == ENOTDIR)
        return ERROR_PATH_NOT_FOUND;
    return ErrorFromErrno(number);
}

// WritePrivateProfileStringA: sets a key in a section of a profile file.
// An existing key's line (the section's first with that name) becomes
// "name=value", keeping the name's spelling and the line's end; a new key
// goes after the last key line of its section, or right after the header
// when the section has none; a missing section is appended to the end of
// the file with the key, and a missing file is created (mode 0600). A NULL
// value removes the key's line, a NULL key the whole section with its header.
// Names and the value are written from their first non-blank character on,
// an empty value as "key=". New lines end with CRLF; every other byte of the
// file stays as it was. The file is replaced as a whole: the new content is
// written to "<file>.lock", created exclusively beside it, given the
// original's owner, group and permission bits, flushed and renamed over the
// original, so readers see either the old or the new file. A symbolic link
// is followed: the file it leads to is replaced (its lock beside it) and the
// link stays. A lock older than a minute is left over from a writer that
// died and is taken over; a younger one makes the write fail. With section,
// key and value all NULL the call asks for the cache to be written out: this
// layer keeps none, so it only returns FALSE, as Windows does after a flush,
// and leaves GetLastError alone. Returns TRUE on success (including when
// there is nothing to remove); FALSE leaves the original untouched and no
// lock of this call behind, and GetLastError gives the code:
// ERROR_INVALID_PARAMETER for a NULL section or file name otherwise,
// ERROR_ACCESS_DENIED for a directory, for a read-only file (one without any
// write permission bit, refused even for root, as Windows refuses a file with
// the read-only attribute to administrators too), for a file the caller may
// not write, and for one whose owner or group the caller cannot give to the
// new file; ERROR_SHARING_VIOLATION when another writer's lock is there;
// ERROR_PATH_NOT_FOUND when a directory on the way is missing or a file; or
// the code of whatever opening, reading, writing (ERROR_FILE_TOO_LARGE,
// ERROR_DISK_FULL), flushing or renaming failed with.
// Differs from Windows: the file's directory must be writable too, the file
// being replaced rather than rewritten in place, and a file with several
// hard links loses them (the name written to gets the new file); a name
// without a directory is relative to the current directory, not the Windows
// directory.
extern "C" BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                           LPCSTR fileName) {
    if (section == NULL && key == NULL && value == NULL)
        return FALSE; // the flush: nothing is cached here
    if (section == NULL || fileName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fileName[0] == '\0') {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    char target[PATH_MAX];
    struct stat info;
    int in = FinalPath(fileName, target, sizeof target) ? OpenOriginal(target, &info) : OPEN_FAILED;
    if (in == OPEN_FAILED) {
        SetLastError(WriteFailureCode(errno));
        return FALSE;
    }
    Scan scan;
    bool ok = true;
    if (in >= 0)
        ok = ScanFile(in, &scan, section, key);
    else
        StartScan(&scan, section, key, 0);
    if (ok) {
        Edit edit = PlanEdit(&scan, key, value);
        ok = edit.kind == EDIT_NONE ||
             ReplaceWhole(in, in >= 0 ? &info : NULL, &edit, section, key, value, target);
    }
    int saved = errno;
    if (in >= 0)
        close(in);
    if (!ok)
        SetLastError(WriteFailureCode(saved));
    return ok ? TRUE : FALSE;
}
