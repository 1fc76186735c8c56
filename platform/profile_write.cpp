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
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// Writes bytes[from, to) of the original.
static bool Keep(int out, const ProfileView* view, size_t from, size_t to) {
    return WriteAllBytes(out, view->bytes + from, to - from, NULL);
}

static bool PutText(int out, const char* text) {
    return WriteAllBytes(out, text, strlen(text), NULL);
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
static bool WriteEdited(int out, const ProfileView* v, const ProfileFind* f, LPCSTR section,
                        LPCSTR key, LPCSTR value) {
    const ProfileLine* line = &f->key;
    if (key == NULL) // the whole section goes
        return Keep(out, v, 0, f->sectionStart) && Keep(out, v, f->sectionEnd, v->size);
    if (f->keyFound && value == NULL)
        return Keep(out, v, 0, line->start) && Keep(out, v, line->end, v->size);
    if (f->keyFound) // the name as the file spells it, and the line's own end
        return Keep(out, v, 0, line->start) && Keep(out, v, line->nameStart, line->nameEnd) &&
               PutText(out, "=") && PutText(out, SkipBlanks(value)) &&
               Keep(out, v, line->contentEnd, v->size);
    size_t at = f->sectionFound ? f->insertAt : v->size;
    bool breakFirst = f->sectionFound ? f->insertNeedsBreak : f->endsOpen;
    return Keep(out, v, 0, at) && (!breakFirst || PutText(out, "\r\n")) &&
           (f->sectionFound ||
            (PutText(out, "[") && PutText(out, SkipBlanks(section)) && PutText(out, "]\r\n"))) &&
           PutText(out, SkipBlanks(key)) && PutText(out, "=") && PutText(out, SkipBlanks(value)) &&
           PutText(out, "\r\n") && Keep(out, v, at, v->size);
}

// Writes the edited file into the lock beside the file (target, links
// followed), flushes it and renames it over the file, which keeps its owner,
// group and permission bits (info; NULL for a new file). On failure the lock
// is removed and errno kept.
static bool ReplaceWhole(const ProfileView* view, const struct stat* info, const ProfileFind* found,
                         LPCSTR section, LPCSTR key, LPCSTR value, const char* target) {
    char lock[PATH_MAX];
    int out = CreateLock(target, lock, sizeof lock);
    if (out < 0)
        return false; // a young lock belongs to another writer: leave it
    if (!WriteEdited(out, view, found, section, key, value)) {
        DropLock(out, lock);
        return false;
    }
    return CommitLock(out, lock, target, info);
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
// an empty value as "key=". New lines end with CRLF; every other byte of the
// file stays as it was. The new content goes to "<file>.lock", created
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
