// The plug-in's message boxes on Windows, as lines on standard error: the
// module's import of user32's MessageBoxA is pointed at BoxAsLine, which
// writes the boxes captioned "Error" and "Execute Error!" and returns IDOK at
// once, and hands any other box to the system. This works with a display
// and without one (where the system's MessageBoxA shows nothing and returns
// at once), and leaves every window the module makes itself alone.
#include "module_loader.h"
#include "system.h"

#include <string.h>

#include <string>

#include <windows.h>

namespace {

typedef int(WINAPI* MessageBoxFunction)(HWND, LPCSTR, LPCSTR, UINT);

MessageBoxFunction SystemMessageBox = nullptr;
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

} // namespace

bool WriteBoxesAsLines(void* module, std::string& error) {
    void* previous =
        ReplaceImport(module, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&BoxAsLine));
    if (previous == nullptr) {
        error = "the module imports no MessageBoxA from user32.dll; its boxes show as windows";
        return false;
    }
    SystemMessageBox = reinterpret_cast<MessageBoxFunction>(previous);
    return true;
}

void MuteBoxLines() {
    InterlockedExchange(&Muted, 1);
}
