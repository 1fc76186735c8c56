// Files by handle and temporary names, with the meaning the Windows
// operations have for the plug-in: GetTempPathA, GetTempFileNameA,
// CreateFileA, ReadFile, WriteFile, SetFilePointer, GetFileSizeEx,
// FlushFileBuffers, DeleteFileA; and Sleep and GetTickCount. A file's handle
// is a slot of the handle table (handles.cpp), which closes it through
// CloseFile. Every descriptor opened here is close-on-exec and lies above the
// standard descriptors; a child receives only what CreateProcessA places on
// its standard handles.
#include "handles.h"

#include "errors.h"
#include "files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

int KeepAboveStandard(int fd) {
    if (fd >= 0 && fd <= 2) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        int saved = errno;
        close(fd);
        errno = saved;
        return moved;
    }
    return fd;
}

// What CloseHandle does to a file's handle.
static void CloseFile(HandleSlot* slot) {
    close(slot->fd);
}

// GetTempPathA: the user's own temporary directory where there is one, as
// Windows gives the user's own: TMPDIR when it is set and not empty; else
// XDG_RUNTIME_DIR when it is an absolute path that names a directory (the
// user's own, mode 0700, usually in memory), so that users who share /tmp
// cannot take the run's temporary names there; else /tmp. A TMPDIR that
// names no directory is given as it is: making a temporary name in it then
// fails (ERROR_DIRECTORY), and the run says so. Always with a trailing "/".
// Returns the length without the terminator, or, when the buffer is too
// small, the size needed including the terminator (the buffer is then left
// alone), as Windows does.
// Differs from Windows: the directory comes from TMPDIR and XDG_RUNTIME_DIR,
// not TMP, TEMP and USERPROFILE.
extern "C" DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    const char* dir = getenv("TMPDIR");
    if (dir == NULL || dir[0] == '\0') {
        dir = getenv("XDG_RUNTIME_DIR");
        struct stat info;
        if (dir == NULL || dir[0] != '/' || stat(dir, &info) != 0 || !S_ISDIR(info.st_mode))
            dir = "/tmp";
    }
    size_t length = strlen(dir);
    int addSeparator = dir[length - 1] != '/';
    size_t total = length + (addSeparator ? 1 : 0);
    if (total + 1 > size)
        return (DWORD)(total + 1);
    memcpy(buffer, dir, length);
    if (addSeparator)
        buffer[length] = '/';
    buffer[total] = '\0';
    return (DWORD)total;
}

// GetTempFileNameA: with unique 0, creates a new empty file (exclusively, mode
// 0600) named from the first three characters of the prefix, a hexadecimal
// number of one to four digits and ".TMP", inside pathName; a "/" goes between
// directory and name only where the directory does not end in one. Returns
// the number used, or 0 on failure: ERROR_DIRECTORY for a directory that is
// missing or not a directory (as Windows), ERROR_FILENAME_EXCED_RANGE when
// the name would not fit in 259 characters, ERROR_FILE_EXISTS when all 65535
// numbers are taken, or the code of whatever else creation failed with.
// With a non-zero unique only the name is made, as on Windows.
extern "C" UINT GetTempFileNameA(LPCSTR pathName, LPCSTR prefix, UINT unique, LPSTR tempFileName) {
    return MakeTempFileName(pathName, prefix, unique, tempFileName, MAX_PATH - 1);
}

UINT MakeTempFileName(LPCSTR pathName, LPCSTR prefix, UINT unique, LPSTR tempFileName,
                      size_t longest) {
    char name[TEMP_NAME_BYTES];
    size_t dirLength = strlen(pathName);
    int addSeparator = dirLength == 0 || pathName[dirLength - 1] != '/';
    size_t prefixLength = strnlen(prefix, 3);
    // directory, separator, prefix, four digits, ".TMP"
    size_t length = dirLength + (addSeparator ? 1 : 0) + prefixLength + 4 + 4;
    if (length > longest || length >= sizeof name) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    memcpy(name, pathName, dirLength);
    size_t stem = dirLength;
    if (addSeparator)
        name[stem++] = '/';
    memcpy(name + stem, prefix, prefixLength);
    stem += prefixLength;

    static const char Hex[] = "0123456789ABCDEF";
    unsigned number = unique & 0xFFFF;
    unsigned tries = 1;
    if (unique == 0) {
        number = (unsigned)((getpid() * 2654435761u) ^ (unsigned)time(NULL)) & 0xFFFF;
        tries = 0xFFFF;
    }
    for (unsigned i = 0; i < tries; i++, number = (number + 1) & 0xFFFF) {
        if (number == 0)
            number = 1;
        size_t at = stem;
        char digits[4];
        int count = 0;
        unsigned rest = number;
        do {
            digits[count++] = Hex[rest & 0xF];
            rest >>= 4;
        } while (rest != 0);
        while (count > 0)
            name[at++] = digits[--count];
        memcpy(name + at, ".TMP", 5);
        if (unique != 0) {
            strcpy(tempFileName, name);
            return unique;
        }
        int fd = open(name, O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            close(fd);
            strcpy(tempFileName, name);
            return number;
        }
        if (errno != EEXIST) {
            bool noDirectory = errno == ENOENT || errno == ENOTDIR;
            SetLastError(noDirectory ? ERROR_DIRECTORY : ErrorFromErrno(errno));
            return 0;
        }
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

// CreateFileA: opens a regular file with the dispositions CREATE_NEW
// (exclusive creation), CREATE_ALWAYS (created or emptied), OPEN_EXISTING and
// OPEN_ALWAYS. New files get mode 0600; a symbolic link in the last component
// is refused (ELOOP) rather than followed. Access GENERIC_READ and/or
// GENERIC_WRITE. Anything but a regular file (a FIFO, a device, a socket, a
// directory) is refused, and never opened in a way that could wait: a FIFO
// with nobody at its other end fails at once. Differs from Windows: the
// share mode is not enforced, and the descriptor stays close-on-exec
// whatever the security attributes ask; a child receives a handle only as
// one of its standard handles (CreateProcessA); Windows opens some devices
// (a pipe, a console) by name. Returns INVALID_HANDLE_VALUE on failure, with
// the code Windows gives: ERROR_FILE_NOT_FOUND for a missing file,
// ERROR_PATH_NOT_FOUND for a missing directory on the way (for the
// dispositions that create, a missing entry can only be a directory),
// ERROR_FILE_EXISTS for CREATE_NEW over an existing file,
// ERROR_ACCESS_DENIED for anything but a regular file or a file that may not
// be opened so, ERROR_CANT_RESOLVE_FILENAME for a symbolic link.
extern "C" HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
    (void)shareMode;
    (void)security;
    (void)flags;
    (void)templateFile;
    int mode = O_RDONLY;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        mode = O_RDWR;
    else if (access & GENERIC_WRITE)
        mode = O_WRONLY;
    int how;
    switch (disposition) {
    case CREATE_NEW:
        how = O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        how = O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        how = 0;
        break;
    case OPEN_ALWAYS:
        how = O_CREAT;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // With write access, CREATE_ALWAYS empties only a file that has content,
    // after opening it. ext4 takes any truncation to size 0, even of a file
    // that is empty already (as the run's new input file is), for the
    // replacing of a file: it writes the data to disk at close, and removing
    // the file then waits for that write.
    bool emptyAfterOpen = disposition == CREATE_ALWAYS && mode != O_RDONLY;
    if (emptyAfterOpen)
        how = O_CREAT;
    HandleSlot* slot;
    HANDLE handle = NewHandle(HANDLE_FILE, CloseFile, &slot);
    if (handle == NULL)
        return INVALID_HANDLE_VALUE;
    // Not blocking: opening a FIFO waits for its other end otherwise. A FIFO
    // with no reader refuses a writer at once (ENXIO), as a socket refuses
    // any opening. A file created exclusively is a new regular file, which
    // needs neither that nor a look at what it is.
    bool created = (how & O_EXCL) != 0;
    int fd =
        open(fileName, mode | how | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | (created ? 0 : O_NONBLOCK),
             0600);
    if (fd < 0 && errno == ENXIO)
        errno = EACCES;
    if (fd >= 0)
        fd = KeepAboveStandard(fd);
    if (fd >= 0 && !created) {
        struct stat info;
        int error = 0;
        // A failed fstat, or a failed emptying of a regular file with
        // content, leaves its reason in errno; only a regular file is
        // emptied, and it is read and written in blocking mode.
        bool known = fstat(fd, &info) == 0;
        if (known && !S_ISREG(info.st_mode))
            error = EACCES;
        else if (!known || (emptyAfterOpen && info.st_size > 0 && ftruncate(fd, 0) != 0) ||
                 fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
            error = errno;
        if (error != 0) {
            close(fd);
            fd = -1;
            errno = error;
        }
    }
    if (fd < 0) {
        bool missing = errno == ENOTDIR || (errno == ENOENT && disposition != OPEN_EXISTING);
        SetLastError(missing ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
        FreeHandle(slot);
        return INVALID_HANDLE_VALUE;
    }
    slot->fd = fd;
    return handle;
}

// WriteFile: writes all the bytes, retrying short writes. On failure (a full
// disk, a file-size limit) returns FALSE with the bytes that did reach the
// file in *written, as Windows does.
extern "C" BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written,
                          LPVOID overlapped) {
    (void)overlapped;
    if (written)
        *written = 0;
    HandleSlot* slot = LookupHandle(file, HANDLE_FILE);
    if (slot == NULL)
        return FALSE;
    size_t done = 0;
    bool ok = WriteAllBytes(slot->fd, buffer, size, &done);
    if (!ok)
        SetLastError(ErrorFromErrno(errno));
    if (written)
        *written = (DWORD)done;
    return ok ? TRUE : FALSE;
}

// ReadFile: reads until size bytes or the end of the file; *read says how
// many. Reading at the end of the file succeeds with 0 bytes.
extern "C" BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPVOID overlapped) {
    (void)overlapped;
    if (read)
        *read = 0;
    HandleSlot* slot = LookupHandle(file, HANDLE_FILE);
    if (slot == NULL)
        return FALSE;
    char* bytes = (char*)buffer;
    DWORD done = 0;
    while (done < size) {
        ssize_t n = ::read(slot->fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            SetLastError(ErrorFromErrno(errno));
            if (read)
                *read = done;
            return FALSE;
        }
        if (n == 0)
            break;
        done += (DWORD)n;
    }
    if (read)
        *read = done;
    return TRUE;
}

// SetFilePointer: moves within the file; returns the new position's low 32
// bits (and the high ones in *distanceHigh), or INVALID_SET_FILE_POINTER.
extern "C" DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
    HandleSlot* slot = LookupHandle(file, HANDLE_FILE);
    if (slot == NULL)
        return INVALID_SET_FILE_POINTER;
    int64_t offset = distance;
    if (distanceHigh)
        offset = (int64_t)(((uint64_t)(uint32_t)*distanceHigh << 32) | (uint32_t)distance);
    int whence = method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : SEEK_SET;
    off_t position = lseek(slot->fd, (off_t)offset, whence);
    if (position < 0) {
        SetLastError(ErrorFromErrno(errno));
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh)
        *distanceHigh = (LONG)((uint64_t)position >> 32);
    return (DWORD)(uint64_t)position;
}

// GetFileSizeEx: the size of the file behind a handle, as it is now (a
// program may still be writing it). FALSE with ERROR_INVALID_HANDLE for a
// handle that is no file, ERROR_INVALID_PARAMETER for a NULL result, or the
// code of the failure.
extern "C" BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    HandleSlot* slot = LookupHandle(file, HANDLE_FILE);
    if (slot == NULL)
        return FALSE;
    struct stat info;
    if (size == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (fstat(slot->fd, &info) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    size->QuadPart = (long long)info.st_size;
    return TRUE;
}

// FlushFileBuffers: writes a file's data and metadata through to the disk
// (fsync). FALSE with ERROR_INVALID_HANDLE for a handle that is no file, or
// the code of the failure (ERROR_DISK_FULL, ERROR_IO_DEVICE).
extern "C" BOOL FlushFileBuffers(HANDLE file) {
    HandleSlot* slot = LookupHandle(file, HANDLE_FILE);
    if (slot == NULL)
        return FALSE;
    if (fsync(slot->fd) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

// DeleteFileA: removes a file (not a directory).
extern "C" BOOL DeleteFileA(LPCSTR fileName) {
    if (unlink(fileName) != 0) {
        SetLastError(ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

// Sleep: suspends the calling thread for the milliseconds given, going on
// after a signal interrupts it.
extern "C" void Sleep(DWORD milliseconds) {
    struct timespec rest = {(time_t)(milliseconds / 1000), (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

// GetTickCount: milliseconds since some fixed point (the monotonic clock's),
// wrapping around after about 49.7 days as on Windows; differences of two
// readings taken less than that apart are right across the wrap.
extern "C" DWORD GetTickCount(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (DWORD)((unsigned long long)now.tv_sec * 1000ULL +
                   (unsigned long long)now.tv_nsec / 1000000ULL);
}
