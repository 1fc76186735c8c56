// Replacing a file's text on Windows. The new text is written to a copy
// beside the file, flushed and moved over it in one step
// (MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), so a failure leaves
// the file whole. A file with several hard links is rewritten in place
// instead, since the move would give only its one name the new text; its
// original text is put back if writing fails.
#include "host_io.h"
#include "system.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

namespace {

std::string Reason(const std::string& what, const std::string& path) {
    return what + " '" + path + "': " + strerror(errno);
}

std::string SystemReason(const std::string& what, const std::string& path) {
    return what + " '" + path + "' (error " + std::to_string(GetLastError()) + ")";
}

} // namespace

int OpenInPlace(const std::string& path, InPlaceFile& file, std::string& error) {
    file = InPlaceFile();
    file.path = path;
    file.target = path;
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = SystemReason("cannot read", path);
        return -1;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = "'" + path +
                "' is a directory; --in-place replaces only regular files, and it "
                "was left alone";
        return -1;
    }
    int fd = OpenForReading(path, true, error);
    if (fd < 0)
        return -1;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), &info))
        file.links = info.nNumberOfLinks;
    return fd;
}

bool PrepareReplacement(InPlaceFile& file, const std::string& text, std::string& error) {
    if (file.links > 1) {
        file.descriptor = _open(file.target.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
        if (file.descriptor < 0) {
            error = Reason("cannot write", file.path) + "; it was left as it was";
            return false;
        }
        file.rewrite = true;
        return true;
    }
    file.sibling = file.target + ".plugin-host-" + std::to_string(GetCurrentProcessId()) + ".tmp";
    int fd = _open(file.sibling.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        error = Reason("cannot create", file.sibling) + "; '" + file.path + "' was left as it was";
        file.sibling.clear();
        return false;
    }
    bool ok = WriteAll(fd, text.data(), text.size()) && _commit(fd) == 0;
    if (!ok)
        error = Reason("cannot write", file.sibling) + "; '" + file.path + "' was left as it was";
    ok = _close(fd) == 0 && ok;
    if (!ok)
        AbandonReplacement(file);
    return ok;
}

bool MoveCopyOver(InPlaceFile& file, std::string& error) {
    bool moved = MoveFileExA(file.sibling.c_str(), file.target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!moved)
        error = SystemReason("cannot replace", file.path);
    return moved;
}

bool CutAndFlush(int fd, size_t size) {
    return _chsize_s(fd, (__int64)size) == 0 && _commit(fd) == 0;
}

void RemoveFile(const std::string& path) {
    DeleteFileA(path.c_str());
}
