// Test support on Windows (test_system.h): temporary directories, files by name
// and processes, over the Windows calls.
#include "test_system.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

char PathSeparator() {
    return '\\';
}

std::string MakeTempDir(const char* prefix, const std::string& base) {
    char temp[MAX_PATH + 1] = {};
    if (base.empty() && GetTempPathA(MAX_PATH, temp) == 0)
        return std::string();
    std::string parent = base.empty() ? std::string(temp) : base;
    static unsigned counter = 0;
    for (;;) {
        char number[64];
        (void)snprintf(number, sizeof number, "-%lu-%u", GetCurrentProcessId(), ++counter);
        std::string name = PathJoin(parent, prefix + std::string(number));
        if (CreateDirectoryA(name.c_str(), nullptr))
            return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
}

void RemoveTree(const std::string& path) {
    for (const std::string& name : ListDir(path)) {
        std::string child = PathJoin(path, name);
        DWORD attributes = GetFileAttributesA(child.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            RemoveTree(child);
        } else {
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(child.c_str());
        }
    }
    RemoveDirectoryA(path.c_str());
}

bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(PathJoin(dir, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

std::string CurrentDir() {
    char path[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryA(MAX_PATH, path);
    return std::string(path, length);
}

bool CopyFileTo(const std::string& from, const std::string& to) {
    // Under a file-size limit smaller than the file, link it instead of
    // copying it.
    if (getenv("EP_FILE_SIZE_LIMIT") != nullptr &&
        CreateHardLinkA(to.c_str(), from.c_str(), nullptr))
        return true;
    return CopyFileA(from.c_str(), to.c_str(), TRUE) != 0;
}

bool ProcessEndsWithin(unsigned long pid, int milliseconds) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)pid);
    if (process == nullptr)
        return true;
    bool ended = WaitForSingleObject(process, (DWORD)milliseconds) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

void SetVariable(const char* name, const char* value) {
    SetEnvironmentVariableA(name, value);
}

bool FileSizeLimit(unsigned long bytes) {
    // Only a wrapper can limit the whole process under Wine.
    return bytes == 0 || getenv("EP_FILE_SIZE_LIMIT") != nullptr;
}

bool IgnoreChildExits(bool ignore) {
    return !ignore;
}

std::string MountSmallDisk(unsigned megabytes) {
    (void)megabytes;
    const char* disk = getenv("EP_TMPFS");
    return disk != nullptr ? std::string(disk) : std::string();
}

void UnmountSmallDisk(const std::string& path) {
    (void)path;
}

const bool ManyFilesQuickly = false;

unsigned long long UsedBytes(const std::string& path) {
    ULARGE_INTEGER free, total;
    if (!GetDiskFreeSpaceExA(path.c_str(), &free, &total, nullptr))
        return 0;
    return total.QuadPart - free.QuadPart;
}
