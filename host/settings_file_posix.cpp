// The settings file's state and its folder on Linux, for telling why a save
// was refused; the reasons match what the platform layer's save checks.
#include "system.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

FileState ReadFileState(const std::string& path) {
    FileState state;
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return state;
    state.exists = true;
    state.directory = S_ISDIR(info.st_mode);
    // As the layer's GetFileAttributesExA: read-only is no write bit at all,
    // whoever the user is (root too).
    state.readOnly = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    state.size = (unsigned long long)info.st_size;
    state.modified = (long long)info.st_mtim.tv_sec * 1000000000LL + info.st_mtim.tv_nsec;
    state.age = (long long)time(nullptr) - (long long)info.st_mtim.tv_sec;
    return state;
}

std::string LinkTarget(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr)
        return resolved;
    return path;
}

bool MayCreateIn(const std::string& folder, std::string& why) {
    if (access(folder.c_str(), W_OK | X_OK) == 0)
        return true;
    why = strerror(errno);
    return false;
}

bool DiskIsFull(const std::string& folder) {
    struct statvfs disk;
    return statvfs(folder.c_str(), &disk) == 0 && disk.f_bavail == 0;
}

// A settings file holds at most 1 MiB on Linux (platform/profile.h).
unsigned long long LargestSettingsFile() {
    return 1ULL << 20;
}
