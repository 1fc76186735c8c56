// OnSettings under the Windows dialog manager (Wine in Xvfb here), driven by
// the test itself: a thread-local CBT hook catches the dialog when it is
// activated, and a timer then reads the fields, fills or types into them and
// posts the button's command. With EP_DIALOG_SCREENSHOT set to a file name,
// the first test also saves a PNG of the open dialog there.
#include "dialog_module.h"

#include <gtest/gtest.h>

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Plan {
    const char* working = nullptr; // put into field 1003 with SetDlgItemTextA
    const char* command = nullptr; // put into field 1004 with WM_SETTEXT
    int typed = 0;                 // characters typed into field 1003
    WPARAM press = IDCANCEL;
    HWND dialog = nullptr;
    std::string shownWorking, shownCommand;
};

Plan* Current;
HHOOK Hook;

std::string FieldText(HWND dialog, int id) {
    char text[1024];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

// Writes the pixels of a 24-bit top-down DIB as a PNG with stored (not
// compressed) deflate blocks.
void Put32(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += (char)(value >> shift);
}

void PutChunk(std::string& out, const char* type, const std::string& data) {
    std::string body = type + data;
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char byte : body) {
        crc ^= byte;
        for (int bit = 0; bit < 8; bit++)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    Put32(out, (uint32_t)data.size());
    out += body;
    Put32(out, ~crc);
}

bool SavePng(const char* path, int width, int height, const unsigned char* bgr, int stride) {
    std::string raw;
    for (int y = 0; y < height; y++) {
        raw += '\0';
        for (int x = 0; x < width; x++) {
            const unsigned char* pixel = bgr + (ptrdiff_t)y * stride + (ptrdiff_t)x * 3;
            raw += {(char)pixel[2], (char)pixel[1], (char)pixel[0]};
        }
    }
    std::string zlib = "\x78\x01";
    uint32_t a = 1, b = 0;
    for (size_t at = 0; at < raw.size(); at += 65535) {
        size_t length = raw.size() - at < 65535 ? raw.size() - at : 65535;
        zlib += {(char)(at + length == raw.size()), (char)length, (char)(length >> 8),
                 (char)~length, (char)(~length >> 8)};
        zlib += raw.substr(at, length);
    }
    for (unsigned char byte : raw)
        a = (a + byte) % 65521, b = (b + a) % 65521;
    Put32(zlib, b << 16 | a);
    std::string header, png = "\x89PNG\r\n\x1a\n";
    Put32(header, (uint32_t)width);
    Put32(header, (uint32_t)height);
    header += {8, 2, 0, 0, 0};
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", zlib);
    PutChunk(png, "IEND", "");
    std::ofstream(path, std::ios::binary) << png;
    return true;
}

// Copies the dialog's window, as the screen shows it, into a PNG.
bool SaveScreenshot(HWND window, const char* path) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    bool saved =
        copied && SavePng(path, width, height, (const unsigned char*)bits, (width * 3 + 3) & ~3);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

void CALLBACK Act(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    Plan& plan = *Current;
    plan.shownWorking = FieldText(plan.dialog, 1003);
    plan.shownCommand = FieldText(plan.dialog, 1004);
    if (const char* screenshot = getenv("EP_DIALOG_SCREENSHOT")) {
        EXPECT_TRUE(SaveScreenshot(plan.dialog, screenshot));
    }
    if (plan.working != nullptr)
        SetDlgItemTextA(plan.dialog, 1003, plan.working);
    if (plan.command != nullptr)
        SendDlgItemMessageA(plan.dialog, 1004, WM_SETTEXT, 0, (LPARAM)plan.command);
    for (int i = 0; i < plan.typed; i++)
        SendDlgItemMessageA(plan.dialog, 1003, WM_CHAR, (WPARAM)('a' + i % 26), 1);
    PostMessageA(plan.dialog, WM_COMMAND, plan.press, 0);
}

LRESULT CALLBACK WatchActivation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && Current->dialog == nullptr) {
        Current->dialog = (HWND)wParam;
        SetTimer(nullptr, 0, 300, Act);
    }
    return CallNextHookEx(Hook, code, wParam, lParam);
}

int RunSettings(const ModuleCopy& copy, Plan& plan) {
    auto onSettings = (int32_t(WINAPI*)(void))(void*)GetProcAddress(copy.module, "OnSettings");
    if (onSettings == nullptr)
        return -100;
    Current = &plan;
    Hook = SetWindowsHookExA(WH_CBT, WatchActivation, nullptr, GetCurrentThreadId());
    int result = onSettings();
    UnhookWindowsHookEx(Hook);
    return result;
}

std::string ReadFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A settings file with more in it than the two keys, so that any rewrite shows.
const char Settings[] = "; kept as written\r\n[Path]\r\nWorkingDirectory=C:\\work dir\r\n"
                        "CommandLine=pre.exe -i %f\r\n\r\n[Other]\nKey = \"quoted\"\n";

TEST(SettingsDialog, ShowsTheFileValuesBeforeAnyInstallAndCancelLeavesTheFile) {
    ModuleCopy copy;
    ASSERT_TRUE(copy.Load());
    WriteFile(copy.settings, Settings);
    Plan plan;
    plan.working = "not saved";
    EXPECT_EQ(RunSettings(copy, plan), IDCANCEL);
    EXPECT_EQ(plan.shownWorking, "C:\\work dir");
    EXPECT_EQ(plan.shownCommand, "pre.exe -i %f");
    EXPECT_EQ(ReadFile(copy.settings), Settings);
}

TEST(SettingsDialog, OkWithBothFieldsEmptyWritesBothKeysEmpty) {
    ModuleCopy copy;
    ASSERT_TRUE(copy.Load());
    WriteFile(copy.settings, Settings);
    Plan plan;
    plan.working = "";
    plan.command = "";
    plan.press = IDOK;
    EXPECT_EQ(RunSettings(copy, plan), IDOK);
    std::string saved = ReadFile(copy.settings);
    EXPECT_NE(saved.find("[Path]\r\nWorkingDirectory=\r\nCommandLine=\r\n"), std::string::npos)
        << saved;
}

TEST(SettingsDialog, ThreeHundredTypedCharactersStoreTheFirst259) {
    ModuleCopy copy;
    ASSERT_TRUE(copy.Load());
    Plan plan;
    plan.working = "";
    plan.typed = 300;
    plan.press = IDOK;
    EXPECT_EQ(RunSettings(copy, plan), IDOK);
    std::string typed;
    for (int i = 0; i < 259; i++)
        typed += (char)('a' + i % 26);
    EXPECT_EQ(ReadFile(copy.settings),
              "[Path]\r\nWorkingDirectory=" + typed + "\r\nCommandLine=\r\n");
}

// Reading a profile value strips one pair of quotes around it, so a
// template quoted from end to end must come back whole after a save.
TEST(SettingsDialog, CommandLineQuotedFromEndToEndSurvivesSaveAndReopen) {
    ModuleCopy copy;
    ASSERT_TRUE(copy.Load());
    const char* command = "\"C:\\Tools\\pp.exe\" \"%f\"";
    Plan save;
    save.working = "";
    save.command = command;
    save.press = IDOK;
    EXPECT_EQ(RunSettings(copy, save), IDOK);
    Plan reopen;
    EXPECT_EQ(RunSettings(copy, reopen), IDCANCEL);
    EXPECT_EQ(reopen.shownCommand, command);
}

} // namespace
