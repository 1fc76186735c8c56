// Files by name, with the meaning the Windows operations have: attributes
// and times, copying, moving and replacing a file whole. Replacing a file
// durably (the lock beside it, its owner, group and mode kept, the flushes
// around the rename) is the POSIX plumbing's (posix/replace.h).
#include "errors.h"
#include "files.h"
#include "handles.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h> // rename, renameat2: no stdio streams here
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

// The code for a name that is not there: ERROR_PATH_NOT_FOUND when its
// directory is missing too, as Windows tells the two apart.
static DWORD MissingCode(const char* name) {
    char dir[PATH_MAX];
    const char* slash = strrchr(name, '/');
    if (slash == NULL || slash == name)
        return ERROR_FILE_NOT_FOUND;
    size_t length = (size_t)(slash - name);
    if (length >= sizeof dir)
        return ERROR_PATH_NOT_FOUND;
    memcpy(dir, name, length);
    dir[length] = '\0';
    struct stat info;
    return stat(dir, &info) == 0 && S_ISDIR(info.st_mode) ? ERROR_FILE_NOT_FOUND
                                                          : ERROR_PATH_NOT_FOUND;
}

// SetLastError for a failure on name with errno.
static void FailOn(const char* name, int number) {
    SetLastError(number == ENOENT ? MissingCode(name) : ErrorFromErrno(number));
}

// 100-nanosecond intervals from 1601 to 1970.
static const unsigned long long EpochDifference = 11644473600ULL * 10000000ULL;

static FILETIME AsFileTime(const struct timespec* t) {
    unsigned long long ticks =
        (unsigned long long)((long long)t->tv_sec * 10000000LL + t->tv_nsec / 100) +
        EpochDifference;
    FILETIME time;
    time.dwLowDateTime = (DWORD)ticks;
    time.dwHighDateTime = (DWORD)(ticks >> 32);
    return time;
}

// GetFileAttributesExA: with GetFileExInfoStandard, fills a
// WIN32_FILE_ATTRIBUTE_DATA for the file a name leads to (links followed):
// FILE_ATTRIBUTE_DIRECTORY for a directory; otherwise
// FILE_ATTRIBUTE_ARCHIVE, with FILE_ATTRIBUTE_READONLY when the file has no
// write permission bit at all; the size; the times of the last write and
// the last access. FALSE with ERROR_FILE_NOT_FOUND for a missing file,
// ERROR_PATH_NOT_FOUND when its directory is missing too or a file stands
// on the way, ERROR_INVALID_PARAMETER for another level.
// Differs from Windows: Linux keeps no creation time; ftCreationTime is the
// time of the file's last status change (its ctime), which a new file, a
// copy or a rewrite sets to the time of that change.
extern "C" BOOL GetFileAttributesExA(LPCSTR fileName, GET_FILEEX_INFO_LEVELS level,
                                     LPVOID information) {
    if (fileName == NULL || level != GetFileExInfoStandard || information == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat info;
    if (stat(fileName, &info) != 0) {
        FailOn(fileName, errno);
        return FALSE;
    }
    WIN32_FILE_ATTRIBUTE_DATA* data = (WIN32_FILE_ATTRIBUTE_DATA*)information;
    data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    if (!S_ISDIR(info.st_mode))
        data->dwFileAttributes =
            FILE_ATTRIBUTE_ARCHIVE | (HasWriteBit(&info) ? 0 : FILE_ATTRIBUTE_READONLY);
    data->ftCreationTime = AsFileTime(&info.st_ctim);
    data->ftLastAccessTime = AsFileTime(&info.st_atim);
    data->ftLastWriteTime = AsFileTime(&info.st_mtim);
    unsigned long long size = (unsigned long long)info.st_size;
    data->nFileSizeHigh = (DWORD)(size >> 32);
    data->nFileSizeLow = (DWORD)size;
    return TRUE;
}

// GetSystemTimeAsFileTime: the current time (UTC) as a FILETIME.
extern "C" void GetSystemTimeAsFileTime(LPFILETIME time) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    *time = AsFileTime(&now);
}

static struct timespec AsTimespec(const FILETIME* time) {
    unsigned long long ticks =
        ((unsigned long long)time->dwHighDateTime << 32 | time->dwLowDateTime) - EpochDifference;
    struct timespec t;
    t.tv_sec = (time_t)(long long)(ticks / 10000000ULL);
    t.tv_nsec = (long)(ticks % 10000000ULL) * 100;
    return t;
}

// SetFileTime: sets a file's time of last access and of last write (each
// left alone when NULL). FALSE with ERROR_INVALID_HANDLE for a handle that
// is no file, or the code of the failure.
// Differs from Windows: Linux keeps no creation time, so creationTime is
// ignored; times before 1970 are not offered.
extern "C" BOOL SetFileTime(HANDLE file, const FILETIME* creationTime,
                            const FILETIME* lastAccessTime, const FILETIME* lastWriteTime) {
    (void)creationTime;
    HandleSlot* slot = LookupHandle(file, HANDLE_FILE);
    if (slot == NULL)
        return FALSE;
    struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
    if (lastAccessTime != NULL)
        times[0] = AsTimespec(lastAccessTime);
    if (lastWriteTime != NULL)
        times[1] = AsTimespec(lastWriteTime);
    if (futimens(slot->fd, times) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

// CopyFileA: copies a file's bytes to a new name (the source's links
// followed). The copy gets the source's permission bits (with them its
// read-only attribute) and its time of last write. With failIfExists the
// new name must not exist (an exclusive creation: ERROR_FILE_EXISTS);
// without it, an existing file there is overwritten unless it is read-only
// or a directory (ERROR_ACCESS_DENIED) or the source itself
// (ERROR_SHARING_VIOLATION). A copy that fails part way is
// removed. FALSE with ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND for a
// missing source or target directory, ERROR_ACCESS_DENIED for a source
// that is not a regular file (a directory, a FIFO, a device: never opened
// in a way that waits), ERROR_DISK_FULL or the code of whatever else failed.
// Differs from Windows: no other attributes, streams or security are
// copied; the copy belongs to the caller.
extern "C" BOOL CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
    if (existingFileName == NULL || newFileName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    int in = open(existingFileName, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0) {
        FailOn(existingFileName, errno);
        return FALSE;
    }
    struct stat source, target;
    int error = 0;
    if (fstat(in, &source) != 0)
        error = errno;
    else if (!S_ISREG(source.st_mode))
        error = S_ISDIR(source.st_mode) ? EISDIR : EACCES;
    else if (!failIfExists && stat(newFileName, &target) == 0) {
        if (S_ISDIR(target.st_mode) || !HasWriteBit(&target))
            error = EACCES;
        // A file copied onto itself would be emptied first: Windows refuses
        // it as a sharing violation, which ETXTBSY stands for here.
        else if (target.st_dev == source.st_dev && target.st_ino == source.st_ino)
            error = ETXTBSY;
    }
    int out = -1;
    if (error == 0) {
        out = open(newFileName, O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : O_TRUNC) | O_CLOEXEC,
                   0600);
        if (out < 0)
            error = errno == ENOENT ? ENOTDIR : errno; // only the directory can be missing
    }
    if (error == 0) {
        struct timespec times[2] = {{0, UTIME_NOW}, source.st_mtim};
        if (!CopyAllBytes(in, out) || fchmod(out, source.st_mode & 0777) != 0 ||
            futimens(out, times) != 0)
            error = errno;
        if (close(out) != 0 && error == 0)
            error = errno;
        if (error != 0)
            unlink(newFileName);
    }
    close(in);
    if (error != 0) {
        SetLastError(error == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(error));
        return FALSE;
    }
    return TRUE;
}

// Moves without replacing: fails with EEXIST when the new name is taken,
// atomically where the file system can say so.
static int RenameNoReplace(const char* from, const char* to) {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // A file system without RENAME_NOREPLACE: a hard link fails on a taken
    // name just as well (files only).
    if (link(from, to) != 0)
        return -1;
    unlink(from);
    return 0;
}

// MoveFileExA: gives a file (or a directory) a new name on the same file
// system in one rename. Without MOVEFILE_REPLACE_EXISTING a taken new name
// fails with ERROR_ALREADY_EXISTS; with it, a file there is replaced, unless
// it is read-only or a directory (ERROR_ACCESS_DENIED); a symbolic link
// there is replaced itself. MOVEFILE_WRITE_THROUGH returns only after the
// file and its new directory entry are flushed. FALSE with
// ERROR_FILE_NOT_FOUND for a missing file, ERROR_PATH_NOT_FOUND for a
// missing directory, ERROR_NOT_SAME_DEVICE for another file system,
// ERROR_INVALID_PARAMETER for other flags or a NULL name.
// Differs from Windows: moving to another file system (MOVEFILE_COPY_ALLOWED)
// and moving at the next boot are not offered.
extern "C" BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    if (existingFileName == NULL || newFileName == NULL ||
        (flags & ~(DWORD)(MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat source, target;
    if (lstat(existingFileName, &source) != 0) {
        FailOn(existingFileName, errno);
        return FALSE;
    }
    bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    if (replace && lstat(newFileName, &target) == 0 && !S_ISLNK(target.st_mode) &&
        (S_ISDIR(target.st_mode) || !HasWriteBit(&target))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if ((replace ? rename(existingFileName, newFileName)
                 : RenameNoReplace(existingFileName, newFileName)) != 0) {
        int number = errno;
        SetLastError(number == EEXIST || number == ENOTEMPTY ? ERROR_ALREADY_EXISTS
                     : number == EXDEV                       ? ERROR_NOT_SAME_DEVICE
                     : number == ENOENT                      ? ERROR_PATH_NOT_FOUND
                                                             : ErrorFromErrno(number));
        return FALSE;
    }
    if (flags & MOVEFILE_WRITE_THROUGH) {
        SyncFile(newFileName);
        SyncDirectory(newFileName);
        SyncDirectory(existingFileName);
    }
    return TRUE;
}

// ReplaceFileA: puts the replacement file in the place of the replaced one,
// which it takes over whole, in one rename: the replacement gets the
// replaced file's owner, group and permission bits first, and a symbolic
// link at the replaced name is followed, so that its target is replaced and
// the link stays. The replaced file must exist (ERROR_FILE_NOT_FOUND), must
// not be a directory and must be writable for the caller
// (ERROR_ACCESS_DENIED: a read-only one, one without any write permission
// bit, is refused even for root, as Windows refuses a read-only file). When
// the owner, group or bits cannot be given (ERROR_ACCESS_DENIED for a
// caller that may not give them), the call fails unless
// REPLACEFILE_IGNORE_MERGE_ERRORS is set. When the move itself fails the
// replaced file is untouched and the replacement keeps its name:
// ERROR_UNABLE_TO_MOVE_REPLACEMENT. ERROR_INVALID_PARAMETER for a NULL name,
// a backup name or other flags.
// Differs from Windows: no backup is made; streams, security descriptors
// and other attributes are not merged. Where the link's target lies on
// another file system, the replacement is first copied beside it (through
// "<target>.lock", as the profile writer does) and then removed, so the
// last step is still a rename.
extern "C" BOOL ReplaceFileA(LPCSTR replacedFileName, LPCSTR replacementFileName,
                             LPCSTR backupFileName, DWORD flags, LPVOID exclude, LPVOID reserved) {
    (void)exclude;
    (void)reserved;
    if (replacedFileName == NULL || replacementFileName == NULL || backupFileName != NULL ||
        (flags & ~(DWORD)REPLACEFILE_IGNORE_MERGE_ERRORS) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char target[PATH_MAX];
    struct stat original;
    if (!FinalPath(replacedFileName, target, sizeof target) || stat(target, &original) != 0) {
        FailOn(replacedFileName, errno);
        return FALSE;
    }
    if (S_ISDIR(original.st_mode) || !MayWrite(target, &original)) {
        SetLastError(S_ISDIR(original.st_mode) ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
        return FALSE;
    }
    int fd = open(replacementFileName, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        FailOn(replacementFileName, errno);
        return FALSE;
    }
    DWORD code = ERROR_SUCCESS;
    if (!KeepIdentity(fd, &original) && !(flags & REPLACEFILE_IGNORE_MERGE_ERRORS))
        code = ErrorFromErrno(errno);
    else if (rename(replacementFileName, target) == 0)
        SyncDirectory(target);
    else if (errno != EXDEV || !ReplaceByCopy(fd, target, &original))
        code = ERROR_UNABLE_TO_MOVE_REPLACEMENT;
    else
        unlink(replacementFileName);
    close(fd);
    if (code != ERROR_SUCCESS) {
        SetLastError(code);
        return FALSE;
    }
    return TRUE;
}
