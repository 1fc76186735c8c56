// Standard streams, descriptors and the terminal on Linux.
#include "system.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

void UseBinaryStandardStreams() {
    // Linux streams carry bytes as they are.
}

// Standard output and standard error are one file when they are the same
// open file or the same file opened twice (same device and inode; a pipe
// compares by its inode too). A terminal or the null device on both is left
// alone: the text is not read back from there.
void SeparateMessagesFromText() {
    struct stat out;
    struct stat err;
    if (fstat(STDOUT_FILENO, &out) != 0 || fstat(STDERR_FILENO, &err) != 0)
        return;
    if (out.st_dev != err.st_dev || out.st_ino != err.st_ino)
        return;
    if (!S_ISREG(out.st_mode) && !S_ISFIFO(out.st_mode) && !S_ISSOCK(out.st_mode))
        return;
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    dup2(fd, STDERR_FILENO);
    close(fd);
}

int OpenForReading(const std::string& path, bool regularOnly, std::string& error) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer; with it, the
    // open returns at once and the check below refuses the FIFO.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (regularOnly ? O_NONBLOCK : 0));
    if (fd < 0) {
        error = "cannot read '" + path + "': " + strerror(errno);
        return -1;
    }
    struct stat info;
    if (regularOnly && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        error = "'" + path + "' is not a regular file; it was left alone";
        close(fd);
        return -1;
    }
    if (regularOnly)
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

long ReadSome(int fd, void* buffer, size_t size) {
    for (;;) {
        ssize_t n = read(fd, buffer, size);
        if (n >= 0 || errno != EINTR)
            return (long)n;
    }
}

long WriteSome(int fd, const void* bytes, size_t size) {
    for (;;) {
        ssize_t n = write(fd, bytes, size);
        if (n >= 0 || errno != EINTR)
            return (long)n;
    }
}

bool RewindRegularFile(int fd) {
    struct stat info;
    return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && lseek(fd, 0, SEEK_SET) == 0;
}

void CloseDescriptor(int fd) {
    close(fd);
}

std::string ErrnoText(int number) {
    return strerror(number);
}

void* HostOwnerWindow() {
    return nullptr;
}

bool CanShowDialog(std::string& error) {
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("the settings dialog is shown on the terminal, and this process has "
                            "none (/dev/tty: ") +
                strerror(errno) + "); run plugin-host settings from a terminal";
        return false;
    }
    close(fd);
    return true;
}

void DefaultChildSignal() {
    (void)signal(SIGCHLD, SIG_DFL);
}
