// OnSettings under the Windows dialog manager (Wine in Xvfb here), driven by
// the test itself: a thread-local CBT hook catches the dialog when it is
// activated, and a timer then reads the fields, fills or types into them and
// posts the button's command. With EP_DIALOG_SCREENSHOT set to a file name,
// the first test also saves a PNG of the open dialog there.
#include "dialog_module.h"
#include "plugin.h"
#include "screenshot_win.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
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
    // A box over the dialog (OK that could not save): its text and whether
    // the dialog owns it; it is closed with OK, and once it has gone the
    // fields are read again and Cancel is pressed.
    int boxes = 0;
    std::string boxCaption, boxText;
    bool boxOwnedByDialog = false;
    std::string workingAfterBox, commandAfterBox;
};

Plan* Current;
HHOOK Hook;

std::string FieldText(HWND dialog, int id) {
    char text[1024];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void CALLBACK AfterBox(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    Plan& plan = *Current;
    plan.workingAfterBox = FieldText(plan.dialog, 1003);
    plan.commandAfterBox = FieldText(plan.dialog, 1004);
    PostMessageA(plan.dialog, WM_COMMAND, IDCANCEL, 0);
}

void SeeBox(HWND box) {
    Plan& plan = *Current;
    plan.boxes++;
    char text[2048] = {};
    GetWindowTextA(box, text, sizeof text);
    plan.boxCaption = text;
    text[0] = '\0';
    GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof text);
    plan.boxText = text;
    plan.boxOwnedByDialog = GetWindow(box, GW_OWNER) == plan.dialog;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    SetTimer(nullptr, 0, 300, AfterBox);
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
    } else if (code == HCBT_ACTIVATE && (HWND)wParam != Current->dialog) {
        // A message box: a dialog with the static text that has no id.
        char className[64] = {};
        GetClassNameA((HWND)wParam, className, sizeof className);
        if (strcmp(className, "#32770") == 0 && GetDlgItem((HWND)wParam, 0xFFFF) != nullptr)
            SeeBox((HWND)wParam);
    }
    return CallNextHookEx(Hook, code, wParam, lParam);
}

int RunSettings(const ModuleCopy& copy, Plan& plan) {
    auto onSettings = copy.plugin.onSettings;
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

// A settings file with more in it than the two keys, so that any rewrite
// shows. Its command line quotes the file's placeholder, as the documents
// teach (the screenshot shows it).
const char Settings[] = "; kept as written\r\n[Path]\r\nWorkingDirectory=C:\\work dir\r\n"
                        "CommandLine=pre.exe -i \"%f\"\r\n\r\n[Other]\nKey = \"quoted\"\n";

// Each test with a copy of the module of its own, loaded.
class SettingsDialog : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(copy.Load());
    }
    ModuleCopy copy;
};

TEST_F(SettingsDialog, ShowsTheFileValuesBeforeAnyInstallAndCancelLeavesTheFile) {
    WriteFile(copy.settings, Settings);
    Plan plan;
    plan.working = "not saved";
    EXPECT_EQ(RunSettings(copy, plan), IDCANCEL);
    EXPECT_EQ(plan.shownWorking, "C:\\work dir");
    EXPECT_EQ(plan.shownCommand, "pre.exe -i \"%f\"");
    EXPECT_EQ(ReadFile(copy.settings), Settings);
}

TEST_F(SettingsDialog, OkWithBothFieldsEmptyWritesBothKeysEmpty) {
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

TEST_F(SettingsDialog, ThreeHundredTypedCharactersStoreTheFirst259) {
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
TEST_F(SettingsDialog, CommandLineQuotedFromEndToEndSurvivesSaveAndReopen) {
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

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A settings file in the form Wine's profile writer gives every file it
// writes (CRLF, no blank lines, no blanks around "="), so that only what the
// save changes can differ: a comment, the run options and another section.
const char Canonical[] = "; kept as written\r\n[Path]\r\nWorkingDirectory=C:\\work\r\n"
                         "CommandLine=old -i %f\r\n[Run]\r\nTimeLimit=30\r\nIgnoreExitCode=1\r\n"
                         "[Other]\r\nKey=\"quoted\"\r\n";

std::string CanonicalWith(const char* command) {
    std::string text = Canonical;
    text.replace(text.find("old -i %f"), strlen("old -i %f"), command);
    return text;
}

TEST_F(SettingsDialog, OkChangesOnlyTheCommandLineAndLeavesNoCopyBehind) {
    WriteFile(copy.settings, Canonical);
    Plan plan;
    plan.command = "new -o %f";
    plan.press = IDOK;
    EXPECT_EQ(RunSettings(copy, plan), IDOK);
    EXPECT_EQ(ReadFile(copy.settings), CanonicalWith("new -o %f"));
    EXPECT_FALSE(Exists(copy.settings + ".new"));
}

// The same file saved as UTF-16LE with its mark, as Notepad saves "Unicode":
// its values show, and OK saves into it, keeping it UTF-16LE.
std::string Utf16(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

TEST_F(SettingsDialog, Utf16SettingsFileShowsItsValuesAndStaysUtf16) {
    WriteFile(copy.settings, Utf16(Canonical));
    Plan plan;
    plan.command = "new -o %f";
    plan.press = IDOK;
    EXPECT_EQ(RunSettings(copy, plan), IDOK);
    EXPECT_EQ(plan.shownCommand, "old -i %f");
    EXPECT_EQ(ReadFile(copy.settings), Utf16(CanonicalWith("new -o %f")));
    EXPECT_FALSE(Exists(copy.settings + ".new"));
}

// One run through the module, as a host makes it: the text it hands out and
// what comes back.
struct RunHost {
    static std::string Replacement;
    static int32_t PLUGIN_CALL Handle(uint32_t* handle) {
        *handle = 1;
        return 1;
    }
    static int32_t PLUGIN_CALL Text(uint32_t, char* buffer, int32_t) {
        strcpy(buffer, "text");
        return 1;
    }
    static int32_t PLUGIN_CALL Set(uint32_t, const char* text) {
        Replacement = text;
        return 1;
    }
};
std::string RunHost::Replacement;

// The texts of the message boxes a call shows, each closed at once.
std::string Boxes;
LRESULT CALLBACK CloseBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        char text[1024] = {};
        GetWindowTextA(GetDlgItem((HWND)wParam, 0xFFFF), text, sizeof text);
        Boxes += std::string(text) + "\n";
        PostMessageA((HWND)wParam, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// OK that could not save: a box over the dialog says why, the dialog stays
// open with what was typed, and Cancel then ends it.
void ExpectNotSaved(const ModuleCopy& copy, const Plan& plan, int result, const std::string& why) {
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_EQ(plan.boxes, 1);
    EXPECT_EQ(plan.boxCaption, "Error");
    EXPECT_TRUE(plan.boxOwnedByDialog);
    EXPECT_EQ(plan.boxText.find("The settings could not be saved to\n'" + copy.settings + "'\n"),
              0u)
        << plan.boxText;
    EXPECT_NE(plan.boxText.find(why), std::string::npos) << plan.boxText;
    EXPECT_NE(plan.boxText.find("\n\nWhat you typed is still in the dialog: press OK again once "
                                "the cause is mended, or Cancel to close the dialog without it."),
              std::string::npos)
        << plan.boxText;
    if (plan.working != nullptr) {
        EXPECT_EQ(plan.workingAfterBox, plan.working);
    }
    if (plan.command != nullptr) {
        EXPECT_EQ(plan.commandAfterBox, plan.command);
    }
}

// A read-only settings file is not written: the box says so, the dialog
// keeps what was typed, and the settings in memory stay the file's (a run
// after Cancel uses the file's working directory, which does not exist).
TEST_F(SettingsDialog, ReadOnlyFileSaysSoKeepsWhatWasTypedAndMemoryKeepsTheFile) {
    WriteFile(copy.settings, Canonical);
    ASSERT_TRUE(SetFileAttributesA(copy.settings.c_str(), FILE_ATTRIBUTE_READONLY));
    auto onInstall = copy.plugin.onInstall;
    auto onCall = copy.plugin.onCall;
    ASSERT_TRUE(onInstall != nullptr && onCall != nullptr);
    static HostContext host;
    memset(&host, 0, sizeof host);
    host.GetTargetHandle = RunHost::Handle;
    host.GetTargetText = RunHost::Text;
    host.SetTargetText = RunHost::Set;
    unsigned char info[8 + 64];
    onInstall((PluginInfo*)info, &host);
    std::string command = std::string("\"") + SelfPath() + "\" --child echo-args entered";
    Plan plan;
    plan.working = "";
    plan.command = command.c_str();
    plan.press = IDOK;
    int result = RunSettings(copy, plan);
    ExpectNotSaved(copy, plan, result, "\nThe file is read-only.");
    EXPECT_EQ(ReadFile(copy.settings), Canonical);
    EXPECT_FALSE(Exists(copy.settings + ".new"));
    RunHost::Replacement.clear();
    Boxes.clear();
    HHOOK hook = SetWindowsHookExA(WH_CBT, CloseBoxes, nullptr, GetCurrentThreadId());
    onCall();
    UnhookWindowsHookEx(hook);
    EXPECT_NE(Boxes.find("C:\\work"), std::string::npos) << Boxes;
    EXPECT_EQ(RunHost::Replacement, "");
}

// Whether a new file can be made in the folder. It is removed again, but
// when the folder has become immutable in between it stays: each probe
// has a name of its own.
bool MayCreateIn(const std::string& folder) {
    static int probes = 0;
    std::string probe = PathJoin(folder, "probe-" + std::to_string(++probes));
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    DeleteFileA(probe.c_str());
    return true;
}

// Makes a folder on drive Z: (the Unix root) immutable or not with the
// Linux chattr, which Wine starts as it starts a Windows program, and waits
// until the change shows (Wine does not wait for a Unix program's end).
// false when it does not show within five seconds.
bool SetImmutable(const std::string& folder, bool immutable) {
    std::string line = std::string("/usr/bin/chattr ") + (immutable ? "+i " : "-i ");
    for (char c : folder.substr(2))
        line += c == '\\' ? '/' : c;
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    for (int i = 0; i < 100; i++) {
        if (MayCreateIn(folder) != immutable)
            return true;
        Sleep(50);
    }
    return false;
}

// A folder that may not be written, as Program Files is to a standard
// user: made so with chattr +i (root; Wine as root enforces no access
// rights). The box says so and what to do.
TEST_F(SettingsDialog, FolderThatMayNotBeWrittenSaysSoAndWhatToDo) {
    ModuleCopy locked;
    ASSERT_TRUE(locked.Load("Z:\\tmp"));
    WriteFile(locked.settings, Canonical);
    if (!SetImmutable(locked.directory, true))
        GTEST_SKIP() << "chattr +i made no folder read-only here (needs root and ext4 or alike)";
    Plan plan;
    plan.command = "new -o %f";
    plan.press = IDOK;
    int result = RunSettings(locked, plan);
    EXPECT_TRUE(SetImmutable(locked.directory, false));
    ExpectNotSaved(locked, plan, result,
                   "\nThe save writes a copy beside it first, and that copy could not be "
                   "created:\n'" +
                       locked.settings + ".new'\nError code=5\n");
    EXPECT_NE(plan.boxText.find("only an administrator may write under Program Files"),
              std::string::npos)
        << plan.boxText;
    EXPECT_EQ(ReadFile(locked.settings), Canonical);
    EXPECT_FALSE(Exists(locked.settings + ".new"));
}

// Sets a file's time of last write back by the given seconds.
void Age(const std::string& path, int seconds) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    ticks.QuadPart -= (ULONGLONG)seconds * 10000000;
    FILETIME then = {ticks.LowPart, ticks.HighPart};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &then));
    CloseHandle(file);
}

// A copy left beside the file more than a minute ago is from a save cut
// short and is taken over; a younger one is another save's, and this save
// gives way to it.
TEST_F(SettingsDialog, LeftOverCopyIsTakenOverAndAYoungOneIsNot) {
    std::string sibling = copy.settings + ".new";
    WriteFile(copy.settings, Canonical);
    WriteFile(sibling, "[Path]\r\nCommandLine=another save\r\n");
    Age(sibling, 30);
    Plan young;
    young.command = "new -o %f";
    young.press = IDOK;
    int result = RunSettings(copy, young);
    ExpectNotSaved(copy, young, result,
                   "\nThe copy of another save is there:\n'" + sibling + "'\n");
    EXPECT_EQ(ReadFile(copy.settings), Canonical);
    EXPECT_EQ(ReadFile(sibling), "[Path]\r\nCommandLine=another save\r\n");
    Age(sibling, 120);
    Plan stale;
    stale.command = "new -o %f";
    stale.press = IDOK;
    EXPECT_EQ(RunSettings(copy, stale), IDOK);
    EXPECT_EQ(ReadFile(copy.settings), CanonicalWith("new -o %f"));
    EXPECT_FALSE(Exists(sibling));
}

// Fills the disk that holds dir, leaving room bytes free (in a file of their
// own, removed before the save: the profile writer then has room for a copy
// of the settings file, but not for the longer file it writes).
bool FillDisk(const std::string& dir, DWORD room) {
    const std::string names[] = {dir + "\\room", dir + "\\filler"};
    const DWORD sizes[] = {room, 0xFFFFFFFF};
    for (int i = 0; i < 2; i++) {
        HANDLE file = CreateFileA(names[i].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        static char block[4096];
        DWORD left = sizes[i], chunk = sizeof block, written;
        while (left > 0 && chunk > 0) {
            DWORD want = chunk < left ? chunk : left;
            if (::WriteFile(file, block, want, &written, nullptr) && written == want)
                left -= want;
            else
                chunk /= 2; // the last bytes of the last page too
        }
        CloseHandle(file);
    }
    return DeleteFileA(names[0].c_str());
}

// Run by dialog_full_disk_wine.sh, which mounts a small tmpfs and names it in
// EP_FULL_DISK_DIR (a Z: path): Wine's profile writer alone would cut the
// file there and report success.
TEST(SettingsDialogFullDisk, OkOnAFullDiskLeavesTheFileByteForByte) {
    const char* dir = getenv("EP_FULL_DISK_DIR");
    ASSERT_NE(dir, nullptr) << "run through tests/dialog_full_disk_wine.sh";
    ModuleCopy copy;
    ASSERT_TRUE(copy.Load(dir));
    // About 3700 bytes, one page of tmpfs; the two longer values need a second.
    std::string old = std::string(Canonical) + "[Big]\r\nValue=" + std::string(3500, 'v') + "\r\n";
    WriteFile(copy.settings, old);
    ASSERT_TRUE(FillDisk(dir, 4096));
    std::string longer(259, 'n');
    Plan plan;
    plan.working = longer.c_str();
    plan.command = longer.c_str();
    plan.press = IDOK;
    int result = RunSettings(copy, plan);
    ExpectNotSaved(copy, plan, result,
                   "\nThe save's copy beside it could not be written whole:\n'" + copy.settings +
                       ".new'\n");
    std::string saved = ReadFile(copy.settings);
    EXPECT_TRUE(saved == old) << "the file changed: " << saved.size() << " bytes, not "
                              << old.size();
    EXPECT_FALSE(Exists(copy.settings + ".new"));
    // With room again, the same save goes through.
    ASSERT_TRUE(DeleteFileA((std::string(dir) + "\\filler").c_str()));
    Plan again;
    again.command = "new";
    again.press = IDOK;
    EXPECT_EQ(RunSettings(copy, again), IDOK);
    EXPECT_NE(ReadFile(copy.settings).find("\r\nCommandLine=new\r\n"), std::string::npos);
}

} // namespace
