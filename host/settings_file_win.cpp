// The settings file's state and its folder on Windows, for telling why a save
// was refused.
#include "system.h"

#include <windows.h>

#include <string>

namespace {

long long Ticks(FILETIME time) {
    return (long long)((unsigned long long)time.dwHighDateTime << 32 | time.dwLowDateTime);
}

} // namespace

FileState ReadFileState(const std::string& path) {
    FileState state;
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &info))
        return state;
    state.exists = true;
    state.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    state.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    state.size = (unsigned long long)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    state.modified = Ticks(info.ftLastWriteTime);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    state.age = (Ticks(now) - state.modified) / 10000000; // 100 ns each
    return state;
}

std::string LinkTarget(const std::string& path) {
    return path;
}

// Windows tells who may write a folder by its access lists: a file created
// and deleted at once asks the system itself.
bool MayCreateIn(const std::string& folder, std::string& why) {
    std::string probe = folder + "\\ep-probe-" + std::to_string(GetCurrentProcessId()) + ".tmp";
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    DWORD code = GetLastError();
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    why = std::string(text, length);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.'))
        why.pop_back();
    if (why.empty())
        why = "error " + std::to_string(code);
    return false;
}

bool DiskIsFull(const std::string& folder) {
    ULARGE_INTEGER available;
    return GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr) &&
           available.QuadPart == 0;
}

unsigned long long LargestSettingsFile() {
    return 0;
}
