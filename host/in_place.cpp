// Putting a replaced file's new text in place, and giving up on it: the same
// steps on every platform over in_place_*.cpp's moves, cuts and removals.
#include "host_io.h"
#include "system.h"

#include <errno.h>

namespace {

// Rewrites the target, a regular file open for writing, from its start.
bool RewriteText(int fd, const std::string& text) {
    return RewindRegularFile(fd) && WriteAll(fd, text.data(), text.size()) &&
           CutAndFlush(fd, text.size());
}

} // namespace

bool CommitReplacement(InPlaceFile& file, const std::string& text, const std::string& original,
                       std::string& error) {
    if (!file.rewrite) {
        if (!MoveCopyOver(file, error)) {
            error += "; it was left as it was";
            AbandonReplacement(file);
            return false;
        }
        file.sibling.clear();
        return true;
    }
    bool ok = RewriteText(file.descriptor, text);
    if (!ok) {
        error = "cannot rewrite '" + file.path + "': " + ErrnoText(errno);
        error += RewriteText(file.descriptor, original) ? "; its text was put back as it was"
                                                        : "; its text may be damaged";
    }
    CloseDescriptor(file.descriptor);
    file.descriptor = -1;
    return ok;
}

void AbandonReplacement(InPlaceFile& file) {
    if (!file.sibling.empty())
        RemoveFile(file.sibling);
    file.sibling.clear();
    if (file.descriptor >= 0)
        CloseDescriptor(file.descriptor);
    file.descriptor = -1;
}
