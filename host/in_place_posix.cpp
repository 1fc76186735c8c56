// Replacing a file's text on Linux. The new text is written to a copy beside
// the file, given the file's owner, group and mode, flushed and renamed over
// it, so a failure at any point leaves the file whole. A symbolic link keeps
// pointing where it did: the copy goes beside its target and replaces that.
// Where a rename cannot keep what the file is (it has several hard links,
// its owner or group cannot be given to the copy, or its directory may not
// be written), the file itself is rewritten instead, with room for the new
// text reserved first and the original text put back if writing fails.
// Keeping the owner, group and mode and flushing the directory after the
// rename are the POSIX plumbing's, as for the platform layer's own
// replacements (posix/replace.h).
#include "host_io.h"
#include "system.h"

#include "posix/replace.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Describe(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

std::string Reason(const std::string& what, const std::string& path) {
    return what + " '" + path + "': " + strerror(errno);
}

// The outcome of writing the copy beside the target.
enum CopyOutcome { COPY_WRITTEN, COPY_CANNOT_KEEP, COPY_FAILED };

CopyOutcome Fail(InPlaceFile& file, int fd, const std::string& message, std::string& error,
                 CopyOutcome outcome = COPY_FAILED) {
    int saved = errno;
    if (fd >= 0)
        close(fd);
    unlink(file.sibling.c_str());
    file.sibling.clear();
    errno = saved;
    error = message;
    return outcome;
}

CopyOutcome WriteCopy(InPlaceFile& file, const std::string& text, std::string& error) {
    size_t slash = file.target.rfind('/');
    std::string name = file.target.substr(slash + 1);
    std::string pattern = file.target.substr(0, slash + 1) + "." + name + ".plugin-host-XXXXXX";
    int fd = mkostemp(&pattern[0], O_CLOEXEC);
    if (fd < 0) {
        bool mayRewrite = errno == EACCES || errno == EPERM || errno == ENAMETOOLONG;
        error = Reason("cannot create a copy beside", file.target);
        return mayRewrite ? COPY_CANNOT_KEEP : COPY_FAILED;
    }
    file.sibling = pattern;
    if (!WriteAll(fd, text.data(), text.size()))
        return Fail(file, fd, Reason("cannot write", file.sibling), error);
    if (!KeepOwner(fd, (uid_t)file.owner, (gid_t)file.group)) {
        if (errno == EPERM)
            return Fail(file, fd, "", error, COPY_CANNOT_KEEP);
        return Fail(file, fd, Reason("cannot give the owner to", file.sibling), error);
    }
    // After the owner: changing it clears the set-user-ID and set-group-ID bits.
    if (!KeepMode(fd, (mode_t)file.mode))
        return Fail(file, fd, Reason("cannot give the mode to", file.sibling), error);
    if (fsync(fd) != 0)
        return Fail(file, fd, Reason("cannot write", file.sibling), error);
    if (close(fd) != 0)
        return Fail(file, -1, Reason("cannot write", file.sibling), error);
    return COPY_WRITTEN;
}

// Opens the target for rewriting and reserves room for the new text, so
// that a full disk is found before anything is written.
bool PrepareRewrite(InPlaceFile& file, const std::string& text, std::string& error) {
    file.descriptor = open(file.target.c_str(), O_WRONLY | O_CLOEXEC);
    if (file.descriptor < 0) {
        error = Reason("cannot write", file.path) + "; it was left as it was";
        return false;
    }
    if (!text.empty() &&
        fallocate(file.descriptor, FALLOC_FL_KEEP_SIZE, 0, (off_t)text.size()) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS) {
        error = Reason("no room to write", file.path) + "; it was left as it was";
        close(file.descriptor);
        file.descriptor = -1;
        return false;
    }
    file.rewrite = true;
    return true;
}

} // namespace

int OpenInPlace(const std::string& path, InPlaceFile& file, std::string& error) {
    file = InPlaceFile();
    file.path = path;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        error = Reason("cannot read", path);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        error = "'" + path + "' is " + Describe(info.st_mode) +
                "; --in-place replaces only regular files, and it was left alone";
        return -1;
    }
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        error = Reason("cannot resolve", path);
        return -1;
    }
    file.target = resolved;
    free(resolved);
    int fd = OpenForReading(file.target, true, error);
    if (fd < 0)
        return -1;
    if (fstat(fd, &info) != 0) {
        error = Reason("cannot read", path);
        close(fd);
        return -1;
    }
    file.links = (unsigned long)info.st_nlink;
    file.owner = info.st_uid;
    file.group = info.st_gid;
    file.mode = info.st_mode & 07777;
    return fd;
}

bool PrepareReplacement(InPlaceFile& file, const std::string& text, std::string& error) {
    CopyOutcome outcome = file.links > 1 ? COPY_CANNOT_KEEP : WriteCopy(file, text, error);
    if (outcome == COPY_WRITTEN)
        return true;
    if (outcome == COPY_FAILED) {
        error += "; '" + file.path + "' was left as it was";
        return false;
    }
    return PrepareRewrite(file, text, error);
}

bool MoveCopyOver(InPlaceFile& file, std::string& error) {
    if (rename(file.sibling.c_str(), file.target.c_str()) != 0) {
        error = Reason("cannot replace", file.path);
        return false;
    }
    SyncDirectory(file.target.c_str());
    return true;
}

bool CutAndFlush(int fd, size_t size) {
    return ftruncate(fd, (off_t)size) == 0 && fsync(fd) == 0;
}

void RemoveFile(const std::string& path) {
    unlink(path.c_str());
}
