// Standard streams and descriptors on Windows, through the C runtime's
// descriptors.
#include "host_io.h"
#include "system.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

void UseBinaryStandardStreams() {
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
}

// Whether two handles are the same disk file (same volume and file index),
// or one handle given twice. Pipes cannot be compared otherwise.
static bool SameFile(HANDLE a, HANDLE b) {
    if (a == b)
        return a != nullptr && a != INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION first;
    BY_HANDLE_FILE_INFORMATION second;
    return GetFileType(a) == FILE_TYPE_DISK && GetFileType(b) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

void SeparateMessagesFromText() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (GetFileType(out) == FILE_TYPE_CHAR || !SameFile(out, err))
        return;
    int fd = _open("CONOUT$", _O_WRONLY | _O_BINARY);
    if (fd < 0)
        fd = _open("NUL", _O_WRONLY | _O_BINARY);
    if (fd < 0)
        return;
    _dup2(fd, 2);
    _close(fd);
    SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
}

int OpenForReading(const std::string& path, bool regularOnly, std::string& error) {
    int fd = _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        error = "cannot read '" + path + "': " + strerror(errno);
        return -1;
    }
    // Devices (NUL, CON, COM1) are not disk files.
    if (regularOnly &&
        GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FILE_TYPE_DISK) {
        error = "'" + path + "' is not a regular file; it was left alone";
        _close(fd);
        return -1;
    }
    return fd;
}

long ReadSome(int fd, void* buffer, size_t size) {
    unsigned chunk = size > 1u << 30 ? 1u << 30 : (unsigned)size;
    return _read(fd, buffer, chunk);
}

bool WriteAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        unsigned chunk = size > 1u << 30 ? 1u << 30 : (unsigned)size;
        int n = _write(fd, bytes, chunk);
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return false;
        bytes += n;
        size -= (size_t)n;
    }
    return true;
}

bool RewindRegularFile(int fd) {
    return GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) == FILE_TYPE_DISK &&
           _lseeki64(fd, 0, SEEK_SET) == 0;
}

void CloseDescriptor(int fd) {
    _close(fd);
}

std::string ErrnoText(int number) {
    return strerror(number);
}

// plugin-host has no window of its own. The console window belongs to
// another process (the console host): a progress window it owned would
// disable it while shown, and leave it disabled should plugin-host be ended
// meanwhile.
void* HostOwnerWindow() {
    return nullptr;
}

bool CanShowDialog(std::string& error) {
    // The dialog is a window of its own.
    (void)error;
    return true;
}

void DefaultChildSignal() {
    // Windows tells a process's end through its handle, whatever the caller set.
}
