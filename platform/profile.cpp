// Profile (INI) files. Placeholder until the reader and writer land.
#include <windows.h>
#include <string.h>

extern "C" DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                          LPSTR buffer, DWORD size, LPCSTR fileName) {
    (void)section;
    (void)key;
    (void)fileName;
    if (size == 0)
        return 0;
    strncpy(buffer, defaultValue ? defaultValue : "", size - 1);
    buffer[size - 1] = '\0';
    return (DWORD)strlen(buffer);
}

extern "C" BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                           LPCSTR fileName) {
    (void)section;
    (void)key;
    (void)value;
    (void)fileName;
    return FALSE;
}
