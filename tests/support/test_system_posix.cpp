// Test support on Linux (test_system.h): temporary directories, files by name and
// processes, over the POSIX calls (not the platform layer under test).
#include "test_system.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <dirent.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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

bool MakeDir(const std::string& path) {
    return mkdir(path.c_str(), 0700) == 0;
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

void SetVariable(const char* name, const char* value) {
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

bool ReadVariable(const char* name, std::string& value) {
    const char* set = getenv(name);
    if (set != nullptr)
        value = set;
    return set != nullptr;
}

const char* const TempVariable = "TMPDIR";

std::string AnsiName(const std::string& path) {
    return path;
}

bool RunsUnderWine() {
    return false;
}

bool FileSizeLimit(unsigned long bytes) {
    static struct rlimit saved;
    static bool limited = false;
    if (bytes == 0) {
        if (limited)
            setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, SIG_DFL);
        limited = false;
        return true;
    }
    if (!limited)
        getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit limit = saved;
    limit.rlim_cur = bytes;
    signal(SIGXFSZ, SIG_IGN);
    limited = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    return limited;
}

bool IgnoreChildExits(bool ignore) {
    return signal(SIGCHLD, ignore ? SIG_IGN : SIG_DFL) != SIG_ERR;
}

std::string MountSmallDisk(unsigned megabytes) {
    std::string dir = MakeTempDir("ep-disk");
    std::string options = "size=" + std::to_string(megabytes) + "m,mode=0700";
    if (dir.empty() || mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        if (!dir.empty())
            rmdir(dir.c_str());
        return std::string();
    }
    return dir;
}

void UnmountSmallDisk(const std::string& path) {
    umount2(path.c_str(), MNT_DETACH);
    rmdir(path.c_str());
}

const bool ManyFilesQuickly = true;

unsigned long long UsedBytes(const std::string& path) {
    struct statvfs info;
    if (statvfs(path.c_str(), &info) != 0)
        return 0;
    return (unsigned long long)(info.f_blocks - info.f_bfree) * info.f_frsize;
}
