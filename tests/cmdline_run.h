// Starting a command line from a test the way the plug-in starts its
// program: standard output in a new inheritable file, standard input and
// standard error null handles. Only the public Windows operations are used,
// so the same code runs over Windows and over the platform layer.
#pragma once

#include "child.h"

#include <windows.h>

#include <string.h>
#include <string>
#include <vector>

// A capture file created anew in the temporary directory; removed at the end.
struct Capture {
    std::string path;
    HANDLE handle;

    Capture() {
        char dir[MAX_PATH], name[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "ept", 0, name);
        DeleteFileA(name);
        path = name;
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
        handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, &inherit, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    }
    ~Capture() {
        CloseHandle(handle);
        DeleteFileA(path.c_str());
    }
    // One owner of the handle and the file: a copy would close and remove
    // them twice.
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::string Read() {
        static char buffer[65536];
        DWORD read = 0;
        SetFilePointer(handle, 0, NULL, FILE_BEGIN);
        ReadFile(handle, buffer, sizeof buffer, &read, NULL);
        return std::string(buffer, read);
    }
};

// Starts the line with the given creation flags and environment block
// (NULL: the host's own); its standard output goes to output.
inline BOOL StartWith(const std::string& line, HANDLE output, DWORD flags,
                      PROCESS_INFORMATION* process, const char* environment = NULL) {
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    return CreateProcessA(NULL, text.data(), NULL, NULL, TRUE, flags, (LPVOID)environment, NULL,
                          &startup, process);
}

inline BOOL Start(const std::string& line, HANDLE output, PROCESS_INFORMATION* process) {
    return StartWith(line, output, NORMAL_PRIORITY_CLASS, process);
}

// Waits for a started process to end and closes its handles; its exit code
// ((DWORD)-2 when that cannot be read).
inline DWORD WaitAndClose(PROCESS_INFORMATION& process) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = (DWORD)-2;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

// Runs the line to its end: its standard output, or "not started: <error>".
inline std::string RunCaptured(const std::string& line) {
    Capture capture;
    PROCESS_INFORMATION process;
    if (!Start(line, capture.handle, &process))
        return "not started: " + std::to_string(GetLastError());
    WaitAndClose(process);
    return capture.Read();
}

// The test program itself, quoted, to start it in a child mode.
inline std::string Self() {
    return std::string("\"") + SelfPath() + "\"";
}

// The arguments an echo-args child wrote, each as "<length>:<bytes>\n".
inline std::vector<std::string> Echoed(const std::string& output) {
    std::vector<std::string> args;
    size_t at = 0;
    while (at < output.size()) {
        size_t colon = output.find(':', at);
        if (colon == std::string::npos)
            return {"unreadable: " + output};
        size_t length = std::stoul(output.substr(at, colon - at));
        args.push_back(output.substr(colon + 1, length));
        at = colon + 1 + length + 1;
    }
    return args;
}
