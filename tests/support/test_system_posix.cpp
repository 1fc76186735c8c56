// Test support on Linux (test_system.h): temporary directories, files by name and
// processes, over the POSIX calls (not the platform layer under test).
#include "test_system.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

char PathSeparator() {
    return '/';
}

std::string MakeTempDir(const char* prefix, const std::string& base) {
    const char* tmpdir = getenv("TMPDIR");
    std::string parent = !base.empty() ? base : tmpdir && *tmpdir ? tmpdir : "/tmp";
    std::string pattern = PathJoin(parent, prefix + std::string("-XXXXXX"));
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    return mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}

void RemoveTree(const std::string& path) {
    for (const std::string& name : ListDir(path)) {
        std::string child = PathJoin(path, name);
        struct stat info;
        if (lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            RemoveTree(child);
        else
            unlink(child.c_str());
    }
    rmdir(path.c_str());
}

bool FileExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    DIR* handle = opendir(dir.c_str());
    if (handle == nullptr)
        return names;
    while (struct dirent* entry = readdir(handle)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    }
    closedir(handle);
    return names;
}

std::string CurrentDir() {
    char path[4096];
    return getcwd(path, sizeof path) ? std::string(path) : std::string();
}

bool CopyFileTo(const std::string& from, const std::string& to) {
    std::string bytes;
    return !FileExists(to) && ReadBytes(from, bytes) && WriteBytes(to, bytes);
}

bool ProcessEndsWithin(unsigned long pid, int milliseconds) {
    const struct timespec pause = {0, 20000000L};
    for (int waited = 0;; waited += 20) {
        std::string stat;
        if (!ReadBytes("/proc/" + std::to_string(pid) + "/stat", stat))
            return true;
        size_t end = stat.rfind(')');
        if (end != std::string::npos && end + 2 < stat.size() &&
            (stat[end + 2] == 'Z' || stat[end + 2] == 'X'))
            return true;
        if (waited >= milliseconds)
            return false;
        nanosleep(&pause, nullptr);
    }
}
