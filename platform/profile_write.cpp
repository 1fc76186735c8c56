// Editing profile (INI) files, with the meaning the Windows profile
// functions give them: WritePrivateProfileStringA. The file is read whole
// (profile.h), the key's line is found, and the edited file is written
// through the lock beside it and renamed over it (files.h), so a reader sees
// either the old file or the new one, never a cut one.
#include "profile.h"

#include "errors.h"
#include "files.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// Where the edited file goes: the lock's descriptor, and whether the file is
// UTF-16LE (the view's text and the caller's, both UTF-8, re-encoded).
struct Output {
    int fd;
    bool wide;
};

// The next character of bytes[*at, size) as a code point, moving *at past
// it; a byte that begins no valid UTF-8 character is one U+FFFD. With
// surrogates, the three-byte form of a surrogate (the view's text keeps a
// lone one so) is one too.
static uint32_t NextCodePoint(const char* bytes, size_t size, size_t* at, bool surrogates) {
    const unsigned char* b = (const unsigned char*)bytes + *at;
    size_t left = size - *at;
    size_t count = b[0] < 0x80   ? 1
                   : b[0] < 0xC2 ? 0
                   : b[0] < 0xE0 ? 2
                   : b[0] < 0xF0 ? 3
                   : b[0] < 0xF5 ? 4
                                 : 0;
    // The second byte's range narrows after E0, ED, F0 and F4: no overlong
    // form, no surrogate, nothing past U+10FFFF.
    unsigned char low = b[0] == 0xE0 ? 0xA0 : b[0] == 0xF0 ? 0x90 : 0x80;
    unsigned char high = b[0] == 0xED && !surrogates ? 0x9F : b[0] == 0xF4 ? 0x8F : 0xBF;
    bool valid = count != 0 && count <= left && (count == 1 || (b[1] >= low && b[1] <= high));
    for (size_t i = 2; valid && i < count; i++)
        valid = (b[i] & 0xC0) == 0x80;
    if (!valid) {
        (*at)++;
        return 0xFFFD;
    }
    static const unsigned char LeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    uint32_t c = b[0] & LeadBits[count];
    for (size_t i = 1; i < count; i++)
        c = c << 6 | (b[i] & 0x3F);
    *at += count;
    return c;
}

// Writes bytes[0, size) as UTF-16LE, a chunk at a time.
static bool PutWide(int fd, const char* bytes, size_t size, bool surrogates) {
    unsigned char units[4096];
    size_t used = 0;
    for (size_t at = 0; at < size;) {
        uint32_t c = NextCodePoint(bytes, size, &at, surrogates);
        uint32_t first = c, second = 0;
        if (c >= 0x10000) {
            first = 0xD800 | (c - 0x10000) >> 10;
            second = 0xDC00 | (c & 0x3FF);
        }
        units[used++] = (unsigned char)first;
        units[used++] = (unsigned char)(first >> 8);
        if (second != 0) {
            units[used++] = (unsigned char)second;
            units[used++] = (unsigned char)(second >> 8);
        }
        if (used + 4 > sizeof units || at == size) {
            if (!WriteAllBytes(fd, units, used, NULL))
                return false;
            used = 0;
        }
    }
    return true;
}

// Writes the caller's text (surrogates: the view's own).
static bool Put(const Output* out, const char* bytes, size_t size, bool surrogates) {
    return out->wide ? PutWide(out->fd, bytes, size, surrogates)
                     : WriteAllBytes(out->fd, bytes, size, NULL);
}

// Writes bytes[from, to) of the original.
static bool CopyOriginal(const Output* out, const ProfileView* view, size_t from, size_t to) {
    return Put(out, view->bytes + from, to - from, true);
}

static bool PutText(const Output* out, const char* text) {
    return Put(out, text, strlen(text), false);
}

// The file's own line end, which the lines a write adds take: its first
// one, or CRLF in a file that has none.
static const char* LineEnd(const ProfileView* view) {
    const char* b = view->bytes;
    for (size_t i = 0; i < view->size; i++) {
        if (b[i] == '\n')
            return "\n";
        if (b[i] == '\r')
            return i + 1 < view->size && b[i + 1] == '\n' ? "\r\n" : "\r";
    }
    return "\r\n";
}

// Whether a write has nothing to do: what it would remove is not there.
static bool NothingToChange(const ProfileFind* f, LPCSTR key, LPCSTR value) {
    if (key == NULL)
        return !f->sectionFound || f->sectionStart == f->sectionEnd;
    return value == NULL && !f->keyFound;
}

// Writes the new file: the original with the section or the key's line
// removed, the key's line replaced, or a new key (and section) inserted.
// Names and the value are written from their first non-blank character on.
static bool WriteEdited(const Output* out, const ProfileView* v, const ProfileFind* f,
                        LPCSTR section, LPCSTR key, LPCSTR value) {
    const ProfileLine* line = &f->key;
    if (key == NULL) // the whole section goes
        return CopyOriginal(out, v, 0, f->sectionStart) &&
               CopyOriginal(out, v, f->sectionEnd, v->size);
    if (f->keyFound && value == NULL)
        return CopyOriginal(out, v, 0, line->start) && CopyOriginal(out, v, line->end, v->size);
    if (f->keyFound) // the name as the file spells it, and the line's own end
        return CopyOriginal(out, v, 0, line->start) &&
               CopyOriginal(out, v, line->nameStart, line->nameEnd) && PutText(out, "=") &&
               PutText(out, SkipBlanks(value)) && CopyOriginal(out, v, line->contentEnd, v->size);
    const char* end = LineEnd(v);
    size_t at = f->sectionFound ? f->insertAt : v->size;
    bool breakFirst = f->sectionFound ? f->insertNeedsBreak : f->endsOpen;
    return CopyOriginal(out, v, 0, at) && (!breakFirst || PutText(out, end)) &&
           (f->sectionFound || (PutText(out, "[") && PutText(out, SkipBlanks(section)) &&
                                PutText(out, "]") && PutText(out, end))) &&
           PutText(out, SkipBlanks(key)) && PutText(out, "=") && PutText(out, SkipBlanks(value)) &&
           PutText(out, end) && CopyOriginal(out, v, at, v->size);
}

// Writes the edited file into the lock beside the file (target, links
// followed), flushes it and renames it over the file, which keeps its owner,
// group and permission bits (info; NULL for a new file). On failure the lock
// is removed and errno kept.
static bool ReplaceWhole(const ProfileView* view, const struct stat* info, const ProfileFind* found,
                         LPCSTR section, LPCSTR key, LPCSTR value, const char* target) {
    char lock[PATH_MAX];
    Output out = {CreateLock(target, lock, sizeof lock), view->wide};
    if (out.fd < 0)
        return false; // a young lock belongs to another writer: leave it
    if ((out.wide && !WriteAllBytes(out.fd, "\xFF\xFE", 2, NULL)) ||
        !WriteEdited(&out, view, found, section, key, value)) {
        DropLock(out.fd, lock);
        return false;
    }
    return CommitLock(out.fd, lock, target, info);
}

enum { NO_FILE = -1, OPEN_FAILED = -2 };

// Opens the file a write replaces, without ever waiting (OpenProfile): its
// descriptor, NO_FILE when it does not exist yet, or OPEN_FAILED with errno
// (EACCES for anything but a regular file or for a file this process may
// not write).
static int OpenOriginal(const char* target, struct stat* info) {
    int fd = OpenProfile(target, info);
    if (fd < 0)
        return errno == ENOENT ? NO_FILE : OPEN_FAILED;
    if (MayWrite(target, info))
        return fd;
    int error = errno;
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
// an empty value as "key=". A line the write adds ends as the file's first
// line end does (CRLF in a new file or one without any); every other byte of
// the file stays as it was. A UTF-16LE file (byte-order mark FF FE) stays
// UTF-16LE with its mark: the names and the value are converted from UTF-8,
// the ANSI code page here, each byte that begins no valid UTF-8 character
// becoming U+FFFD; its other text is written back as it was (an odd last
// byte as a whole unit). The new content goes to "<file>.lock", created
// exclusively beside the file (beside a symbolic link's target, which is
// what gets replaced: the link stays), is given the original's owner, group
// and permission bits, flushed and renamed over the original, so readers
// see the old or the new file. A lock older than a minute was left by a
// writer that died and is taken over; a younger one fails the write.
// Section, key and value all NULL ask for the cache to be written out: none
// is kept here, so the call returns FALSE, as Windows does after a flush,
// and leaves GetLastError alone. Returns TRUE on success (also when there
// is nothing to remove); FALSE leaves the original untouched and no lock of
// this call behind, with GetLastError: ERROR_INVALID_PARAMETER for a NULL
// section or file name, ERROR_FILE_NOT_FOUND for an empty file name;
// ERROR_ACCESS_DENIED for anything but a regular file (a directory, a FIFO,
// a device: never opened in a way that could wait, nor written to), a
// read-only file (no write permission bit: refused to root too, as Windows
// refuses a file with the read-only attribute to administrators), a file
// the caller may not write, or one whose owner or group the caller cannot
// give the new file;
// ERROR_SHARING_VIOLATION when another writer's lock is there;
// ERROR_PATH_NOT_FOUND when a directory on the way is missing or a file;
// ERROR_FILE_TOO_LARGE for a file past the bound in profile.h; or the code
// opening, reading, writing (ERROR_FILE_TOO_LARGE, ERROR_DISK_FULL),
// flushing or renaming failed with.
// Differs from Windows: the file's directory must be writable too, the file
// being replaced rather than rewritten in place, and a file with several
// hard links loses them (the name written to gets the new file); a name
// without a directory is relative to the current directory, not the Windows
// directory; a line added to a file whose lines end in LF (or CR) ends so,
// where Windows ends it with CRLF, so that a settings file kept in git or
// edited with Linux tools keeps one line-end style; the ANSI code page is
// UTF-8.
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
    ProfileView view;
    bool ok = LoadProfile(in, &view); // NO_FILE: an empty view
    int error = errno;
    if (in >= 0)
        close(in);
    if (ok) {
        ProfileFind found;
        FindKey(&view, section, key, &found);
        ok = NothingToChange(&found, key, value) ||
             ReplaceWhole(&view, in >= 0 ? &info : NULL, &found, section, key, value, target);
        error = errno;
    }
    if (!ok)
        SetLastError(WriteFailureCode(error));
    return ok ? TRUE : FALSE;
}
