// The Linux stand-in for <windows.h>: the Windows types, constants and
// operations that the plug-in uses, under their Windows names, and nothing
// more. Each operation's contract sits above its definition in the source
// file of its family:
//   handles.cpp        the handle table: GetLastError, SetLastError,
//                      CloseHandle
//   errors.cpp         Windows error codes for errno values, FormatMessageA
//   module.cpp         the module handle, DllMain at load, GetModuleFileNameA
//   profile_read.cpp   GetPrivateProfileStringA, GetPrivateProfileIntA
//   profile_write.cpp  WritePrivateProfileStringA
//   files.cpp          files by handle and temporary names: GetTempPathA,
//                      GetTempFileNameA, CreateFileA, ReadFile, WriteFile,
//                      SetFilePointer, GetFileSizeEx, FlushFileBuffers,
//                      DeleteFileA; Sleep, GetTickCount
//   paths.cpp          files by name: GetFileAttributesExA, CopyFileA,
//                      MoveFileExA, ReplaceFileA; times:
//                      GetSystemTimeAsFileTime, SetFileTime
//   process.cpp        CreateProcessA, ResumeThread, WaitForSingleObject,
//                      GetExitCodeProcess, TerminateProcess, job objects
//                      (a program's whole tree), GetEnvironmentStringsA,
//                      FreeEnvironmentStringsA
//   codepage.cpp       MultiByteToWideChar, WideCharToMultiByte, GetACP,
//                      GetOEMCP, IsValidCodePage
//   cmdline.cpp        splitting a command line the way Windows programs do
//   message.cpp        MessageBoxA, wsprintfA
//   dialog.cpp         DialogBoxParamA and the dialog-item calls, in the
//                      terminal
//   window.cpp         the modeless progress window: CreateDialogParamA,
//                      DestroyWindow, ShowWindow, EnableWindow,
//                      GetWindowRect, SetWindowPos, GetDesktopWindow,
//                      IsWindow, IsWindowVisible, IsIconic
//   message_loop.cpp   its message loop: PeekMessageA, TranslateMessage,
//                      DispatchMessageA, IsDialogMessageA, PostQuitMessage,
//                      MsgWaitForMultipleObjects
//   monitor.cpp        the monitor it shows on: MonitorFromWindow,
//                      GetMonitorInfoA
//   system.cpp         the system the module runs on: GetCurrentProcess,
//                      IsWow64Process, GetSystemWindowsDirectoryA,
//                      GetEnvironmentVariableA
// The families share the layer's own headers, which the plug-in never
// includes: handles.h (the handle table), errors.h (errno to Windows codes),
// files.h (descriptors; with the POSIX plumbing of posix/, whole writes and
// the lock beside a file), profile.h (the profile file's line walker),
// cmdline.h, terminal.h (text as a terminal shows it, for boxes and the status
// line), modeless.h (the modeless dialog's record, dialog.cpp's, shown by
// window.cpp); dialog_template.h gives the form of the
// module's dialog templates (resources/dialog_templates.cpp); charset.h
// (the character sets behind the code pages, charset.cpp) and names.h (Linux
// names as UTF-16 and back without loss, names.cpp, for the wide file calls).
//
// Types keep their Windows widths: DWORD is 32 bits here too.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define MAX_PATH 260

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef int INT;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef char* LPCH;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef union {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    long long QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HWND__* HWND;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAKEINTRESOURCEA(i) ((LPSTR)(uintptr_t)(WORD)(i))

// Error codes GetLastError gives: the Windows codes (see errors.cpp).
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_PROTECT 19
#define ERROR_NOT_SAME_DEVICE 17
#define ERROR_SHARING_VIOLATION 32
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_WAIT_NO_CHILDREN 128
#define ERROR_BUSY 170
#define ERROR_ALREADY_EXISTS 183
#define ERROR_BAD_EXE_FORMAT 193
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_FILE_TOO_LARGE 223
#define ERROR_DIRECTORY 267
#define ERROR_MR_MID_NOT_FOUND 317
#define ERROR_IO_DEVICE 1117
#define ERROR_UNABLE_TO_MOVE_REPLACEMENT 1176
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_CONTROL_ID_NOT_FOUND 1421
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814
#define ERROR_CANT_RESOLVE_FILENAME 1921

// FormatMessageA.
#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000

// DllMain reasons.
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

// CreateFileA.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_ATTRIBUTE_READONLY 0x1
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

// Files by name.
#define MOVEFILE_REPLACE_EXISTING 0x1
#define MOVEFILE_WRITE_THROUGH 0x8
#define REPLACEFILE_IGNORE_MERGE_ERRORS 0x2

// A point in time: 100-nanosecond intervals since 1 January 1601 (UTC).
typedef struct {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;

typedef enum { GetFileExInfoStandard, GetFileExMaxInfoLevel } GET_FILEEX_INFO_LEVELS;

typedef struct {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// CreateProcessA.
#define NORMAL_PRIORITY_CLASS 0x20
#define CREATE_SUSPENDED 0x4
#define CREATE_NEW_PROCESS_GROUP 0x200
#define CREATE_NO_WINDOW 0x08000000
#define STILL_ACTIVE 259
#define STARTF_USESTDHANDLES 0x100
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0
#define WAIT_FAILED 0xFFFFFFFFu
#define WAIT_TIMEOUT 0x102

typedef struct _STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved;
    LPSTR lpDesktop;
    LPSTR lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars;
    DWORD dwFillAttribute;
    DWORD dwFlags;
    WORD wShowWindow;
    WORD cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput;
    HANDLE hStdOutput;
    HANDLE hStdError;
} STARTUPINFOA, *LPSTARTUPINFOA;

typedef struct _PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

// Message boxes.
#define MB_OK 0x0
#define MB_ICONERROR 0x10
#define IDOK 1
#define IDCANCEL 2

// Windows and their messages.
typedef struct {
    LONG x;
    LONG y;
} POINT;
typedef struct {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT, *LPRECT;
typedef struct {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;
#define WM_QUIT 0x0012
#define PM_REMOVE 0x0001
#define QS_ALLINPUT 0x04FF
#define SW_HIDE 0
#define SW_SHOW 5
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010

// Wide characters and code pages. WCHAR is a UTF-16 unit, as on Windows,
// but char16_t here where Windows has wchar_t: Linux-only code writes its
// wide literals u"...", and the plug-in writes none (it builds wide names
// from ASCII at run time).
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR* LPWCH;
typedef const WCHAR* LPCWCH;
typedef const char* LPCCH;
typedef BOOL* LPBOOL;
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x1
#define MB_ERR_INVALID_CHARS 0x8
#define WC_NO_BEST_FIT_CHARS 0x400
#define WC_ERR_INVALID_CHARS 0x80
#define ERROR_INVALID_FLAGS 1004
#define ERROR_NO_UNICODE_TRANSLATION 1113

// Dialogs.
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

extern "C" {
// handles.cpp
DWORD GetLastError(void);
void SetLastError(DWORD error);
BOOL CloseHandle(HANDLE object);

// errors.cpp
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments);

// module.cpp
DWORD GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size);

// profile_read.cpp
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD size, LPCSTR fileName);
UINT GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName);
// profile_write.cpp
BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName);

// files.cpp
DWORD GetTempPathA(DWORD size, LPSTR buffer);
UINT GetTempFileNameA(LPCSTR pathName, LPCSTR prefix, UINT unique, LPSTR tempFileName);
HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flags, HANDLE templateFile);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPVOID overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPVOID overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL FlushFileBuffers(HANDLE file);
BOOL DeleteFileA(LPCSTR fileName);
void Sleep(DWORD milliseconds);
DWORD GetTickCount(void);

// paths.cpp
BOOL GetFileAttributesExA(LPCSTR fileName, GET_FILEEX_INFO_LEVELS level, LPVOID information);
void GetSystemTimeAsFileTime(LPFILETIME time);
BOOL SetFileTime(HANDLE file, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                 const FILETIME* lastWriteTime);
BOOL CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists);
BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags);
BOOL ReplaceFileA(LPCSTR replacedFileName, LPCSTR replacementFileName, LPCSTR backupFileName,
                  DWORD flags, LPVOID exclude, LPVOID reserved);

// process.cpp
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                    LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                    BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                    LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                    LPPROCESS_INFORMATION processInformation);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);
DWORD ResumeThread(HANDLE thread);
BOOL TerminateProcess(HANDLE process, UINT exitCode);
HANDLE CreateJobObjectA(LPSECURITY_ATTRIBUTES attributes, LPCSTR name);
BOOL AssignProcessToJobObject(HANDLE job, HANDLE process);
BOOL TerminateJobObject(HANDLE job, UINT exitCode);
LPCH GetEnvironmentStringsA(void);
BOOL FreeEnvironmentStringsA(LPCH block);

// codepage.cpp
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH multiByte, int length, LPWSTR wide,
                        int capacity);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wideChar, int length, LPSTR multiByte,
                        int capacity, LPCCH defaultChar, LPBOOL usedDefaultChar);
UINT GetACP(void);
UINT GetOEMCP(void);
BOOL IsValidCodePage(UINT codePage);

// message.cpp
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
int wsprintfA(LPSTR buffer, LPCSTR format, ...);

// dialog.cpp
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                        LPARAM initParam);
BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size);
BOOL EndDialog(HWND dialog, INT_PTR result);

// window.cpp
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                        LPARAM initParam);
BOOL DestroyWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
HWND GetDesktopWindow(void);

// message_loop.cpp
BOOL PeekMessageA(LPMSG message, HWND window, UINT first, UINT last, UINT remove);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageA(const MSG* message);
BOOL IsDialogMessageA(HWND dialog, LPMSG message);
void PostQuitMessage(int exitCode);
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask);
}

// --- The progress window's place and its owner; the system the module runs on ---
typedef BOOL* PBOOL;
typedef struct HMONITOR__* HMONITOR;
typedef struct {
    DWORD cbSize;
    RECT rcMonitor;
    RECT rcWork;
    DWORD dwFlags;
} MONITORINFO, *LPMONITORINFO;
#define MONITOR_DEFAULTTONULL 0
#define MONITOR_DEFAULTTOPRIMARY 1
#define MONITOR_DEFAULTTONEAREST 2
#define MONITORINFOF_PRIMARY 1
#define ERROR_ENVVAR_NOT_FOUND 203

extern "C" {
// window.cpp
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsIconic(HWND window);

// monitor.cpp
HMONITOR MonitorFromWindow(HWND window, DWORD flags);
BOOL GetMonitorInfoA(HMONITOR monitor, LPMONITORINFO info);

// system.cpp
HANDLE GetCurrentProcess(void);
BOOL IsWow64Process(HANDLE process, PBOOL wow64);
UINT GetSystemWindowsDirectoryA(LPSTR buffer, UINT size);
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
}
