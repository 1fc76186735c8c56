// Test support on Windows: the message boxes of a call, seen by a CBT hook
// as each is activated, recorded and closed with OK.
#include "plugin_fixture.h"

#include <string.h>

#include <windows.h>

namespace {

std::vector<Box>* Captured = nullptr;
HWND HostWindow = nullptr;

// The caption of the run's progress window, which is a dialog too but no box.
const char ProgressCaption[] = "Run external preprocessor plug-in";

// Sees each message box as it is activated, records it and presses OK.
LRESULT CALLBACK BoxHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && Captured != nullptr) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[64] = {};
        char text[2048] = {};
        GetClassNameA(box, className, sizeof className);
        GetWindowTextA(box, text, sizeof text);
        if (strcmp(className, "#32770") == 0 && strcmp(text, ProgressCaption) != 0) {
            Box seen;
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

const bool BoxOwnersSeen = true;

std::vector<Box> CaptureBoxes(HostContext& context, const std::string&,
                              const std::function<void()>& call) {
    // Made again when a test has destroyed it.
    static HWND Owner = nullptr;
    if (!IsWindow(Owner))
        Owner = CreateWindowExA(0, "STATIC", "test host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                nullptr, nullptr, nullptr, nullptr);
    context.OwnerWindow = Owner;
    HostWindow = Owner;
    std::vector<Box> boxes;
    Captured = &boxes;
    HHOOK hook = SetWindowsHookExA(WH_CBT, BoxHook, nullptr, GetCurrentThreadId());
    call();
    UnhookWindowsHookEx(hook);
    Captured = nullptr;
    return boxes;
}
