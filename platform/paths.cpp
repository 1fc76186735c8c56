// Files by name, with the meaning the Windows operations have: attributes
// and times, copying, moving and replacing a file whole; and the lock file
// through which the profile writer and ReplaceFileA replace a file without
// ever leaving it cut.
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

enum { MAX_LINKS = 40, STALE_LOCK_SECONDS = 60, COPY_CHUNK = 16384 };

bool FinalPath(const char* name, char* path, size_t size) {
    size_t length = strlen(name);
    if (length >= size) {
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(path, name, length + 1);
    for (int links = 0;; links++) {
        struct stat info;
        if (lstat(path, &info) != 0)
            return errno == ENOENT; // a new file goes where the name leads
        if (!S_ISLNK(info.st_mode))
            return true;
        if (links == MAX_LINKS) {
            errno = ELOOP;
            return false;
        }
        char target[PATH_MAX];
        ssize_t n = readlink(path, target, sizeof target - 1);
        if (n < 0)
            return false;
        target[n] = '\0';
        size_t keep = 0;
        const char* slash = strrchr(path, '/');
        if (target[0] != '/' && slash != NULL)
            keep = (size_t)(slash - path) + 1;
        if (keep + (size_t)n >= size) {
            errno = ENAMETOOLONG;
            return false;
        }
        memcpy(path + keep, target, (size_t)n + 1);
    }
}

static bool HasWriteBit(const struct stat* info) {
    return (info->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

bool MayWrite(const char* path, const struct stat* info) {
    if (!HasWriteBit(info)) {
        errno = EACCES;
        return false;
    }
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

// Nanoseconds from a file time to now; negative for a time in the future.
static long long AgeOf(const struct timespec* then) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return ((long long)now.tv_sec - (long long)then->tv_sec) * 1000000000LL +
           ((long long)now.tv_nsec - (long long)then->tv_nsec);
}

static bool IsStaleLock(const char* lock) {
    struct stat info;
    return lstat(lock, &info) == 0 && S_ISREG(info.st_mode) &&
           AgeOf(&info.st_mtim) > STALE_LOCK_SECONDS * 1000000000LL;
}

static int OpenLock(const char* lock) {
    return open(lock, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
}

int CreateLock(const char* path, char* lock, size_t size) {
    size_t length = strlen(path);
    if (length + sizeof ".lock" > size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(lock, path, length);
    memcpy(lock + length, ".lock", sizeof ".lock");
    int fd = OpenLock(lock);
    if (fd < 0 && errno == EEXIST && IsStaleLock(lock)) {
        unlink(lock);
        fd = OpenLock(lock);
    }
    return fd;
}

// Whether the lock's name still leads to the file behind fd: a writer that
// stalled for more than a minute may have lost its lock to another one.
static bool HoldsLock(int fd, const char* lock) {
    struct stat mine, named;
    return fstat(fd, &mine) == 0 && lstat(lock, &named) == 0 && mine.st_dev == named.st_dev &&
           mine.st_ino == named.st_ino;
}

// Gives the new file behind fd the owner, group and permission bits of the
// file it replaces (the owner and group first: changing them clears the
// set-user-ID bits). false with errno (EPERM for an owner or group this
// process may not give).
static bool KeepIdentity(int fd, const struct stat* original) {
    struct stat now;
    if (fstat(fd, &now) != 0)
        return false;
    if ((now.st_uid != original->st_uid || now.st_gid != original->st_gid) &&
        fchown(fd, original->st_uid, original->st_gid) != 0)
        return false;
    return fchmod(fd, original->st_mode & 07777) == 0;
}

// Flushes the directory holding path, so that a rename into it survives a
// crash. The rename has happened by then, so a failure is not reported.
static void SyncDirectory(const char* path) {
    char dir[PATH_MAX];
    const char* slash = strrchr(path, '/');
    size_t length = slash == NULL ? 0 : slash == path ? 1 : (size_t)(slash - path);
    if (length >= sizeof dir)
        return;
    if (length == 0)
        memcpy(dir, ".", 2);
    else {
        memcpy(dir, path, length);
        dir[length] = '\0';
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

bool CommitLock(int fd, const char* lock, const char* path, const struct stat* original) {
    bool ok = (original == NULL || KeepIdentity(fd, original)) && fsync(fd) == 0;
    int saved = errno;
    bool ours = HoldsLock(fd, lock);
    if (ok && !ours) {
        ok = false;
        saved = EEXIST;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && rename(lock, path) != 0) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        if (ours)
            unlink(lock);
        errno = saved;
        return false;
    }
    SyncDirectory(path);
    return true;
}

void DropLock(int fd, const char* lock) {
    int saved = errno;
    bool ours = HoldsLock(fd, lock);
    close(fd);
    if (ours)
        unlink(lock);
    errno = saved;
}

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

// Copies the rest of in into out; false with errno.
static bool CopyBytes(int in, int out) {
    char chunk[COPY_CHUNK];
    for (;;) {
        ssize_t n = read(in, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!WriteAllBytes(out, chunk, (size_t)n, NULL))
            return false;
    }
}

// CopyFileA: copies a file's bytes to a new name (the source's links
// followed). The copy gets the source's permission bits (with them its
// read-only attribute) and its time of last write. With failIfExists the
// new name must not exist (an exclusive creation: ERROR_FILE_EXISTS);
// without it, an existing file there is overwritten unless it is read-only
// or a directory (ERROR_ACCESS_DENIED) or the source itself
// (ERROR_SHARING_VIOLATION). A copy that fails part way is
// removed. FALSE with ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND for a
// missing source or target directory, ERROR_ACCESS_DENIED for a directory
// as source, ERROR_DISK_FULL or the code of whatever else failed.
// Differs from Windows: no other attributes, streams or security are
// copied; the copy belongs to the caller.
extern "C" BOOL CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
    if (existingFileName == NULL || newFileName == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    int in = open(existingFileName, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        FailOn(existingFileName, errno);
        return FALSE;
    }
    struct stat source, target;
    int error = 0;
    if (fstat(in, &source) != 0)
        error = errno;
    else if (S_ISDIR(source.st_mode))
        error = EISDIR;
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
        if (!CopyBytes(in, out) || fchmod(out, source.st_mode & 0777) != 0 ||
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

// Flushes the file at name.
static void SyncFile(const char* name) {
    int fd = open(name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
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

// Puts the replacement's bytes beside a file on another file system (in
// its lock) and renames them over it. false with errno.
static bool CopyOver(int replacement, const char* target, const struct stat* original) {
    char lock[PATH_MAX];
    int fd = CreateLock(target, lock, sizeof lock);
    if (fd < 0)
        return false;
    if (lseek(replacement, 0, SEEK_SET) != 0 || !CopyBytes(replacement, fd)) {
        DropLock(fd, lock);
        return false;
    }
    return CommitLock(fd, lock, target, original);
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
    else if (errno != EXDEV || !CopyOver(fd, target, &original))
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
