// Test support on Windows (test_system.h): temporary directories, files by name
// and processes, over the Windows calls. Paths are UTF-8 here, as on Linux,
// and reach the system through its wide calls, so that a test can make and
// use a folder whose name the ANSI code page lacks.
#include "test_system.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

std::wstring ToWide(const std::string& utf8) {
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring wide((size_t)length, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], length);
    return wide;
}

std::string FromWide(const std::wstring& wide) {
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), nullptr, 0, nullptr,
                                     nullptr);
    std::string utf8((size_t)length, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), &utf8[0], length, nullptr,
                            nullptr);
    return utf8;
}

char PathSeparator() {
    return '\\';
}

std::string MakeTempDir(const char* prefix, const std::string& base) {
    wchar_t temp[MAX_PATH + 1] = {};
    if (base.empty() && GetTempPathW(MAX_PATH, temp) == 0)
        return std::string();
    std::string parent = base.empty() ? FromWide(temp) : base;
    static unsigned counter = 0;
    for (;;) {
        char number[64];
        (void)snprintf(number, sizeof number, "-%lu-%u", GetCurrentProcessId(), ++counter);
        std::string name = PathJoin(parent, prefix + std::string(number));
        if (CreateDirectoryW(ToWide(name).c_str(), nullptr))
            return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
}

bool MakeDir(const std::string& path) {
    return CreateDirectoryW(ToWide(path).c_str(), nullptr) != 0;
}

void RemoveTree(const std::string& path) {
    for (const std::string& name : ListDir(path)) {
        std::wstring child = ToWide(PathJoin(path, name));
        DWORD attributes = GetFileAttributesW(child.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            RemoveTree(PathJoin(path, name));
        } else {
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(child.c_str());
        }
    }
    RemoveDirectoryW(ToWide(path).c_str());
}

bool FileExists(const std::string& path) {
    return GetFileAttributesW(ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(ToWide(PathJoin(dir, "*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            names.push_back(FromWide(found.cFileName));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

std::string CurrentDir() {
    wchar_t path[MAX_PATH + 1];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    return FromWide(std::wstring(path, length));
}

bool CopyFileTo(const std::string& from, const std::string& to) {
    // Under a file-size limit smaller than the file, link it instead of
    // copying it.
    if (getenv("EP_FILE_SIZE_LIMIT") != nullptr &&
        CreateHardLinkW(ToWide(to).c_str(), ToWide(from).c_str(), nullptr))
        return true;
    return CopyFileW(ToWide(from).c_str(), ToWide(to).c_str(), TRUE) != 0;
}

std::string AnsiName(const std::string& path) {
    std::wstring wide = ToWide(path);
    BOOL used = FALSE;
    bool utf8 = GetACP() == CP_UTF8;
    std::string ansi(wide.size() * 2 + 1, '\0');
    int length = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide.c_str(), -1,
                                     &ansi[0], (int)ansi.size(), nullptr, utf8 ? nullptr : &used);
    if (length > 0 && !used)
        return ansi.substr(0, (size_t)length - 1);
    wchar_t shortPath[MAX_PATH + 1] = {};
    DWORD shortLength = GetShortPathNameW(wide.c_str(), shortPath, MAX_PATH + 1);
    if (shortLength == 0 || shortLength > MAX_PATH)
        return std::string();
    // A short name is ASCII.
    return FromWide(std::wstring(shortPath, shortLength));
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
    SetEnvironmentVariableW(ToWide(name).c_str(),
                            value != nullptr ? ToWide(value).c_str() : nullptr);
}

bool ReadVariable(const char* name, std::string& value) {
    wchar_t buffer[32768];
    SetLastError(0);
    DWORD length = GetEnvironmentVariableW(ToWide(name).c_str(), buffer, 32768);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return false;
    value = FromWide(std::wstring(buffer, length < 32768 ? length : 0));
    return true;
}

const char* const TempVariable = "TMP";

bool RunsUnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
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
    if (!GetDiskFreeSpaceExW(ToWide(path).c_str(), &free, &total, nullptr))
        return 0;
    return total.QuadPart - free.QuadPart;
}
