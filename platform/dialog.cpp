// Modal dialogs in the terminal. Placeholder: no dialog can be shown yet.
#include <windows.h>

extern "C" INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                                   DLGPROC dialogProc, LPARAM initParam) {
    (void)instance;
    (void)templateName;
    (void)owner;
    (void)dialogProc;
    (void)initParam;
    return -1;
}

extern "C" BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    (void)dialog;
    (void)id;
    (void)text;
    return FALSE;
}

extern "C" UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
    (void)dialog;
    (void)id;
    if (size > 0)
        text[0] = '\0';
    return 0;
}

extern "C" BOOL EndDialog(HWND dialog, INT_PTR result) {
    (void)dialog;
    (void)result;
    return FALSE;
}
