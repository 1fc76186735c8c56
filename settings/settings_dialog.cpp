// The settings dialog's procedure (template 101). The same procedure runs
// under the Windows dialog manager and under the platform layer's terminal
// dialog.
#include "resource.h"
#include "settings.h"

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
            SaveSettings();
            EndDialog(dialog, IDOK);
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
