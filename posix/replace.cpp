// Replacing a file durably: the lock beside the file, the owner, group and
// mode it keeps, and the flushes around the rename (replace.h).
#include "posix/replace.h"
#include "posix/write_all.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h> // rename: no stdio streams here
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum { MAX_LINKS = 40, STALE_LOCK_SECONDS = 60 };

bool HasWriteBit(const struct stat* info) {
    return (info->st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

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

bool KeepOwner(int fd, uid_t owner, gid_t group) {
    struct stat now;
    if (fstat(fd, &now) != 0)
        return false;
    return (now.st_uid == owner && now.st_gid == group) || fchown(fd, owner, group) == 0;
}

bool KeepMode(int fd, mode_t mode) {
    return fchmod(fd, mode & 07777) == 0;
}

bool KeepIdentity(int fd, const struct stat* original) {
    return KeepOwner(fd, original->st_uid, original->st_gid) && KeepMode(fd, original->st_mode);
}

void SyncDirectory(const char* path) {
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

void SyncFile(const char* name) {
    int fd = open(name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
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

bool ReplaceByCopy(int from, const char* target, const struct stat* original) {
    char lock[PATH_MAX];
    int fd = CreateLock(target, lock, sizeof lock);
    if (fd < 0)
        return false;
    if (lseek(from, 0, SEEK_SET) != 0 || !CopyAllBytes(from, fd)) {
        DropLock(fd, lock);
        return false;
    }
    return CommitLock(fd, lock, target, original);
}
