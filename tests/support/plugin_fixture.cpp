// Test support: the module in a private directory, a recording fake host and
// captured message boxes, for Windows and Linux.
#include "plugin_fixture.h"
#include "child.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

FakeHost* Current = nullptr;

int32_t PLUGIN_CALL FakeGetTargetHandle(uint32_t* handle) {
    Current->calls.push_back("GetTargetHandle");
    *handle = Current->handle;
    return 1;
}

int32_t PLUGIN_CALL FakeGetTargetText(uint32_t handle, char* buffer, int32_t capacity) {
    Current->calls.push_back("GetTargetText");
    Current->handlesSeen.push_back(handle);
    size_t length =
        Current->text.size() < (size_t)capacity ? Current->text.size() : (size_t)capacity;
    memcpy(buffer, Current->text.data(), length);
    buffer[length] = '\0';
    if (Current->duringGetText)
        Current->duringGetText();
    return 1;
}

int32_t PLUGIN_CALL FakeSetTargetText(uint32_t handle, const char* text) {
    Current->calls.push_back("SetTargetText");
    Current->handlesSeen.push_back(handle);
    Current->replaced = true;
    Current->replacement = text;
    return 1;
}

std::string ModuleName() {
#ifdef _WIN32
    return "external_preprocessor.dll";
#else
    return "external_preprocessor.so";
#endif
}

std::string DirOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

FakeHost::FakeHost() {
    memset(&context, 0, sizeof context);
    context.GetTargetHandle = FakeGetTargetHandle;
    context.GetTargetText = FakeGetTargetText;
    context.SetTargetText = FakeSetTargetText;
}

void FakeHost::SetText(const char* field, const std::string& value) {
    char* target = nullptr;
    if (strcmp(field, "u") == 0)
        target = context.TextU;
    else if (strcmp(field, "p") == 0)
        target = context.TextP;
    else if (strcmp(field, "d") == 0)
        target = context.TextD;
    else if (strcmp(field, "o") == 0)
        target = context.TextO;
    else
        target = context.TextN;
    snprintf(target, HOST_TEXT_SIZE, "%s", value.c_str());
}

std::string PathJoin(const std::string& dir, const std::string& name) {
    if (!dir.empty() && (dir.back() == '/' || dir.back() == '\\'))
        return dir + name;
    return dir + PathSeparator() + name;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
}

bool ReadBytes(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    bytes = all.str();
    return true;
}

// A value in quotes from end to end is stored inside one more pair, as the
// plug-in itself saves it: reading strips one pair.
static std::string Stored(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return "\"" + value + "\"";
    return value;
}

std::string SettingsText(const std::string& workingDirectory, const std::string& commandLine) {
    return "[Path]\r\nWorkingDirectory=" + Stored(workingDirectory) +
           "\r\nCommandLine=" + Stored(commandLine) + "\r\n";
}

std::string QuotedSelf() {
    return std::string("\"") + SelfPath() + "\"";
}

std::string LoadedPlugin::SettingsPath() const {
    std::string name = ModuleName();
    return PathJoin(dir_, name.substr(0, name.rfind('.')) + ".ini");
}

int32_t LoadedPlugin::Install(FakeHost& host, const std::string& workingDirectory,
                              const std::string& commandLine, PluginInfo* info) {
    WriteBytes(SettingsPath(), SettingsText(workingDirectory, commandLine));
    return InstallOnly(host, info);
}

int32_t LoadedPlugin::InstallOnly(FakeHost& host, PluginInfo* info) {
    if (info == nullptr) {
        static unsigned char Scratch[8 + 64];
        info = reinterpret_cast<PluginInfo*>(Scratch);
    }
    return onInstall_(info, &host.context);
}

int32_t LoadedPlugin::Settings() {
    return onSettings_();
}

#ifdef _WIN32

char PathSeparator() {
    return '\\';
}

std::string MakeTempDir() {
    char base[MAX_PATH + 1];
    GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
        char name[MAX_PATH + 64];
        snprintf(name, sizeof name, "%sep-test-%lu-%u", base, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(name, nullptr))
            return name;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
}

void RemoveTree(const std::string& path) {
    for (const std::string& name : ListDir(path)) {
        std::string child = PathJoin(path, name);
        if (GetFileAttributesA(child.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(child);
        else
            DeleteFileA(child.c_str());
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

bool ProcessEndsWithin(unsigned long pid, int milliseconds) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, (DWORD)pid);
    if (process == nullptr)
        return true;
    bool ended = WaitForSingleObject(process, (DWORD)milliseconds) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

bool LoadedPlugin::Load(std::string& error) {
    dir_ = MakeTempDir();
    module_ = PathJoin(dir_, ModuleName());
    std::string built = PathJoin(DirOf(SelfPath()), ModuleName());
    // Under a file-size limit smaller than the module, link it instead of
    // copying it.
    bool linked = getenv("EP_FILE_SIZE_LIMIT") != nullptr &&
                  CreateHardLinkA(module_.c_str(), built.c_str(), nullptr);
    if (!linked && !CopyFileA(built.c_str(), module_.c_str(), TRUE)) {
        error = "cannot copy " + built;
        return false;
    }
    HMODULE module = LoadLibraryA(module_.c_str());
    if (module == nullptr) {
        error = "cannot load " + module_;
        return false;
    }
    handle_ = module;
    onInstall_ = reinterpret_cast<decltype(&OnInstall)>(
        reinterpret_cast<void*>(GetProcAddress(module, "OnInstall")));
    onCall_ = reinterpret_cast<decltype(&OnCall)>(
        reinterpret_cast<void*>(GetProcAddress(module, "OnCall")));
    onSettings_ = reinterpret_cast<decltype(&OnSettings)>(
        reinterpret_cast<void*>(GetProcAddress(module, "OnSettings")));
    // Three lookups of three names: cppcheck takes their results for one value.
    // cppcheck-suppress knownConditionTrueFalse
    return onInstall_ && onCall_ && onSettings_;
}

void LoadedPlugin::Unload() {
    if (handle_ != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
    RemoveTree(dir_);
}

namespace {

std::vector<Box>* Captured = nullptr;
HWND HostWindow = nullptr;

// Sees each message box as it is activated, records it and presses OK.
LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && Captured != nullptr) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[64] = {};
        GetClassNameA(box, className, sizeof className);
        if (strcmp(className, "#32770") == 0) {
            Box seen;
            char text[2048] = {};
            GetWindowTextA(box, text, sizeof text);
            seen.caption = text;
            text[0] = '\0';
            GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof text);
            seen.text = text;
            HWND owner = GetWindow(box, GW_OWNER);
            seen.hasOwner = owner != nullptr;
            seen.ownedByHost = owner != nullptr && owner == HostWindow;
            Captured->push_back(seen);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

std::vector<Box> LoadedPlugin::Call(FakeHost& host) {
    static HWND Owner = CreateWindowExA(0, "STATIC", "test host", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                        100, nullptr, nullptr, nullptr, nullptr);
    host.context.OwnerWindow = Owner;
    HostWindow = Owner;
    std::vector<Box> boxes;
    Captured = &boxes;
    HHOOK hook = SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId());
    Current = &host;
    onCall_();
    Current = nullptr;
    UnhookWindowsHookEx(hook);
    Captured = nullptr;
    return boxes;
}

#else

char PathSeparator() {
    return '/';
}

std::string MakeTempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ep-test-XXXXXX";
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

bool ProcessEndsWithin(unsigned long pid, int milliseconds) {
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
        Sleep(20);
    }
}

bool LoadedPlugin::Load(std::string& error) {
    dir_ = MakeTempDir();
    module_ = PathJoin(dir_, ModuleName());
    std::string built = PathJoin(DirOf(SelfPath()), ModuleName());
    std::string bytes;
    if (!ReadBytes(built, bytes) || !WriteBytes(module_, bytes)) {
        error = "cannot copy " + built;
        return false;
    }
    handle_ = dlopen(module_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error = dlerror();
        return false;
    }
    onInstall_ = reinterpret_cast<decltype(&OnInstall)>(dlsym(handle_, "OnInstall"));
    onCall_ = reinterpret_cast<decltype(&OnCall)>(dlsym(handle_, "OnCall"));
    onSettings_ = reinterpret_cast<decltype(&OnSettings)>(dlsym(handle_, "OnSettings"));
    // Three lookups of three names: cppcheck takes their results for one value.
    // cppcheck-suppress knownConditionTrueFalse
    return onInstall_ && onCall_ && onSettings_;
}

void LoadedPlugin::Unload() {
    if (handle_ != nullptr)
        dlclose(handle_);
    handle_ = nullptr;
    RemoveTree(dir_);
}

// Boxes go to standard error as "<caption>: <text>" lines when it is not a
// terminal: standard error is a file for the length of the call.
std::vector<Box> LoadedPlugin::Call(FakeHost& host) {
    std::string capture = PathJoin(dir_, "boxes.txt");
    fflush(stderr);
    int saved = dup(2);
    int fd = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, 2);
    close(fd);
    Current = &host;
    onCall_();
    Current = nullptr;
    dup2(saved, 2);
    close(saved);
    std::string text;
    ReadBytes(capture, text);
    unlink(capture.c_str());
    std::vector<Box> boxes;
    static const char* const Captions[] = {"Execute Error!", "Error"};
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        bool started = false;
        for (const char* caption : Captions) {
            std::string prefix = std::string(caption) + ": ";
            if (line.compare(0, prefix.size(), prefix) == 0) {
                Box box;
                box.caption = caption;
                box.text = line.substr(prefix.size());
                boxes.push_back(box);
                started = true;
                break;
            }
        }
        if (!started && !boxes.empty())
            boxes.back().text += "\n" + line;
    }
    return boxes;
}

#endif
