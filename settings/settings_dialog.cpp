// The settings dialog's procedure (template 101). The same procedure runs
// under the Windows dialog manager and under the platform layer's terminal
// dialog.
//
// OK that cannot save says why in a box and keeps the dialog open with the
// values typed, so that nothing the user typed is lost: they can mend the
// cause and press OK again, or copy the values, or cancel. The settings in
// memory stay the file's meanwhile, as Cancel leaves them.
#include "resource.h"
#include "settings.h"

#include <string.h>

// The box's text, built a piece at a time.
static char SaveMessage[2048];
static char SystemText[512];

static void Add(const char* text) {
    size_t used = strlen(SaveMessage);
    size_t room = sizeof SaveMessage - used; // with the terminator's byte
    size_t length = strlen(text);
    if (length >= room)
        length = room - 1;
    memcpy(SaveMessage + used, text, length);
    SaveMessage[used + length] = '\0';
}

// A line with the error code and, on the next, the system's description.
static void AddError(DWORD code) {
    char line[64];
    wsprintfA(line, "\nError code=%u", (UINT)code);
    Add(line);
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  code, 0, SystemText, sizeof SystemText, NULL);
    while (length > 0 && (SystemText[length - 1] == '\r' || SystemText[length - 1] == '\n' ||
                          SystemText[length - 1] == ' '))
        SystemText[--length] = '\0';
    if (length > 0) {
        Add("\n");
        Add(SystemText);
    }
}

// Why the save stopped, in words, with what to do about it.
static void AddWhy(void) {
    switch (SaveFailure) {
    case SAVE_NO_PATH:
        Add("The module's path is too long to name a settings file beside it (at most 259 "
            "characters).");
        return;
    case SAVE_PATH_TOO_LONG:
        Add("Its path is longer than 255 characters: the copy a save writes beside it, named with "
            "\".new\" added, would not fit in 259.");
        return;
    case SAVE_READ_ONLY:
        Add("The file is read-only. Clear its read-only attribute (on Linux: give it write "
            "permission), then press OK again.");
        return;
    case SAVE_IS_DIRECTORY:
        Add("That is a directory, not a file.");
        return;
    case SAVE_NOT_SEEN:
        Add("The file could not be looked at.");
        break;
    case SAVE_OTHER_SAVE:
        Add("The copy of another save is there:\n'");
        Add(Sibling);
        Add("'\nA save is at work, or one was cut short less than a minute ago. Try again in a "
            "minute.");
        return;
    case SAVE_NO_COPY:
        Add("The save writes a copy beside it first, and that copy could not be created:\n'");
        Add(Sibling);
        Add("'");
        break;
    case SAVE_COPY_NOT_WHOLE:
        Add("The save's copy beside it could not be written whole:\n'");
        Add(Sibling);
        Add("'");
        if (SaveError == 0) {
            Add("\nThe disk may be full.");
            return;
        }
        break;
    case SAVE_NOT_REPLACED:
        Add("The save's copy could not take the file's place.");
        break;
    case SAVE_DONE:
        return;
    }
    AddError(SaveError);
    if (SaveError == ERROR_ACCESS_DENIED)
        Add("\nYou may not write there (on Windows, only an administrator may write under "
            "Program Files). Ask one to let you change the file and its folder, or to save "
            "these values for you.");
}

// The box that says the settings were not saved, and why.
static void ShowNotSaved(HWND dialog) {
    SaveMessage[0] = '\0';
    if (SettingsPath[0] != '\0') {
        Add("The settings could not be saved to\n'");
        Add(SettingsPath);
        Add("'\n");
    } else {
        Add("The settings could not be saved.\n");
    }
    AddWhy();
    Add("\n\nWhat you typed is still in the dialog: press OK again once the cause is mended, "
        "or Cancel to close the dialog without it.");
    MessageBoxA(dialog, SaveMessage, "Error", MB_OK | MB_ICONERROR);
}

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        // Show the file's current values, not what memory held.
        LoadSettings();
        SetDlgItemTextA(dialog, IDC_WORKING_DIRECTORY, WorkingDirectory);
        SetDlgItemTextA(dialog, IDC_COMMAND_LINE, CommandLine);
        return 0;
    case WM_COMMAND:
        // The whole command word: the control id with a notification code of 0.
        if ((DWORD)wParam == IDOK) {
            GetDlgItemTextA(dialog, IDC_WORKING_DIRECTORY, WorkingDirectory, PATH_CAPACITY);
            GetDlgItemTextA(dialog, IDC_COMMAND_LINE, CommandLine, PATH_CAPACITY);
            if (SaveSettings()) {
                EndDialog(dialog, IDOK);
                return 1;
            }
            // Memory goes back to the file's values; the fields keep the
            // typed ones.
            LoadSettings();
            ShowNotSaved(dialog);
            return 1;
        }
        if ((DWORD)wParam == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}
