// The plug-in's message boxes on Windows, as lines on standard error: the
// module's imports of user32's MessageBoxA and MessageBoxW (the boxes that
// name a path) are pointed at BoxAsLine and WideBoxAsLine, which write the
// boxes captioned "Error" and "Execute Error!" and return IDOK at once, and
// hand any other box to the system. This works with a display
// and without one (where the system's MessageBoxA shows nothing and returns
// at once), and leaves every window the module makes itself alone.
#include "module_loader.h"
#include "system.h"

#include <string.h>

#include <string>

#include <windows.h>

namespace {

typedef int(WINAPI* MessageBoxFunction)(HWND, LPCSTR, LPCSTR, UINT);
typedef int(WINAPI* WideMessageBoxFunction)(HWND, LPCWSTR, LPCWSTR, UINT);

MessageBoxFunction SystemMessageBox = nullptr;
WideMessageBoxFunction SystemWideMessageBox = nullptr;
volatile LONG Muted = 0;

bool IsModuleBox(LPCSTR caption) {
    return caption != nullptr &&
           (strcmp(caption, "Error") == 0 || strcmp(caption, "Execute Error!") == 0);
}

// The line goes out byte for byte, as on Linux, to the handle that standard
// error is at the moment (messages may have been moved off standard output).
void WriteLine(const std::string& line) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    const char* bytes = line.data();
    DWORD left = (DWORD)line.size();
    while (left > 0) {
        DWORD written = 0;
        if (!WriteFile(error, bytes, left, &written, nullptr) || written == 0)
            return;
        bytes += written;
        left -= written;
    }
}

int WINAPI BoxAsLine(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (!IsModuleBox(caption))
        return SystemMessageBox(owner, text, caption, type);
    if (InterlockedCompareExchange(&Muted, 0, 0) == 0)
        WriteLine(std::string(caption) + ": " + (text != nullptr ? text : "") + "\n");
    return IDOK;
}

// A wide box's text in the ANSI code page, as the other lines are written: a
// character the code page lacks is a "?", never a look-alike.
std::string Ansi(LPCWSTR text) {
    if (text == nullptr || text[0] == 0)
        return std::string();
    int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(length > 0 ? (size_t)length : 1, '\0');
    DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    WideCharToMultiByte(CP_ACP, flags, text, -1, &ansi[0], (int)ansi.size(), nullptr, nullptr);
    ansi.resize(strlen(ansi.c_str()));
    return ansi;
}

int WINAPI WideBoxAsLine(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    std::string ansiCaption = Ansi(caption);
    if (!IsModuleBox(ansiCaption.c_str()))
        return SystemWideMessageBox(owner, text, caption, type);
    return BoxAsLine(owner, Ansi(text).c_str(), ansiCaption.c_str(), type);
}

} // namespace

bool WriteBoxesAsLines(void* module, std::string& error) {
    void* previous =
        ReplaceImport(module, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&BoxAsLine));
    if (previous == nullptr) {
        error = "the module imports no MessageBoxA from user32.dll; its boxes show as windows";
        return false;
    }
    SystemMessageBox = reinterpret_cast<MessageBoxFunction>(previous);
    previous =
        ReplaceImport(module, "user32.dll", "MessageBoxW", reinterpret_cast<void*>(&WideBoxAsLine));
    if (previous == nullptr) {
        error = "the module imports no MessageBoxW from user32.dll; its boxes show as windows";
        return false;
    }
    SystemWideMessageBox = reinterpret_cast<WideMessageBoxFunction>(previous);
    return true;
}

void MuteBoxLines() {
    InterlockedExchange(&Muted, 1);
}
