// The wide (W) calls the plug-in makes, with the meaning Windows gives them,
// over the ANSI calls of the other families: each converts its names between
// UTF-16 and the bytes a Linux name is, without loss (names.h), and does what
// its ANSI call does. A name the system gives back goes the other way, so
// that a name comes back byte for byte however it decodes. Texts that are
// no names (a profile value, a box's text) convert the same way. Nothing
// here allocates memory: names are converted into module-wide arrays.
//
// Each call fails as its ANSI call does; beyond that, a name that does not
// fit the arrays here fails with ERROR_FILENAME_EXCED_RANGE, and one with a
// character that the ANSI set lacks (which no Linux name can hold) with
// ERROR_NO_UNICODE_TRANSLATION.
#include "errors.h"
#include "files.h"
#include "names.h"
#include "profile.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The bytes of a name of MAX_PATH characters: a UTF-16 unit takes at most
// three (a pair of surrogates, two units, four).
const size_t NAME_BYTES = 3 * MAX_PATH + 1;
// The longest profile value or box text taken, in UTF-16 units.
const size_t TEXT_UNITS = 8192;

char FirstName[NAME_BYTES];
char SecondName[NAME_BYTES];
char Section[NAME_BYTES];
char Key[NAME_BYTES];
char Caption[NAME_BYTES];
char Text[3 * TEXT_UNITS + 1];
// What Text decodes to: at most a unit for each byte.
WCHAR WideText[sizeof Text];
// The module's path (at most 4096 bytes, module.cpp) and what it decodes to.
char ModuleBytes[4096];

size_t Units(const WCHAR* text) {
    size_t length = 0;
    while (text[length] != 0)
        length++;
    return length;
}

// Converts a wide name (NULL stays NULL) into name; false with the error
// set when it cannot be.
bool Narrow(LPCWSTR wide, char* name, size_t capacity, const char** result) {
    *result = NULL;
    if (wide == NULL)
        return true;
    if (!WideToName(wide, name, capacity)) {
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER)
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    *result = name;
    return true;
}

// Converts a wide name into name; NULL with the error set when it cannot
// be, or is NULL (ERROR_INVALID_PARAMETER).
const char* NameOf(LPCWSTR wide, char* name) {
    const char* result = NULL;
    if (wide == NULL)
        SetLastError(ERROR_INVALID_PARAMETER);
    return Narrow(wide, name, NAME_BYTES, &result) ? result : NULL;
}

// Gives a name the system has as bytes back in UTF-16 the way Windows gives
// a path: its length when it fits in size with its terminator, else the size
// it needs (buffer left alone).
DWORD GiveName(const char* name, LPWSTR buffer, DWORD size) {
    if (!NameToWide(name, WideText, sizeof WideText / sizeof WideText[0])) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    size_t length = Units(WideText);
    if (length + 1 > size)
        return (DWORD)(length + 1);
    memcpy(buffer, WideText, (length + 1) * sizeof(WCHAR));
    return (DWORD)length;
}

// The length of text cut to at most wanted units, never between the two
// halves of a pair.
size_t Cut(const WCHAR* text, size_t length, size_t wanted) {
    if (length <= wanted)
        return length;
    bool splitsPair = wanted > 0 && text[wanted - 1] >= 0xD800 && text[wanted - 1] < 0xDC00;
    return splitsPair ? wanted - 1 : wanted;
}

} // namespace

// --- The module, temporary names and files by name ---------------------------

// GetModuleFileNameW: GetModuleFileNameA's path in UTF-16. At most size - 1
// characters and a terminator; the length copied, or size when the path had
// to be cut (ERROR_INSUFFICIENT_BUFFER), as Windows does since Vista.
extern "C" DWORD GetModuleFileNameW(HMODULE module, LPWSTR filename, DWORD size) {
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    DWORD bytes = GetModuleFileNameA(module, ModuleBytes, sizeof ModuleBytes);
    if (bytes >= sizeof ModuleBytes ||
        !NameToWide(ModuleBytes, WideText, sizeof WideText / sizeof WideText[0]))
        return 0;
    size_t length = Units(WideText);
    if (length >= size) {
        memcpy(filename, WideText, (size - 1) * sizeof(WCHAR));
        filename[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(filename, WideText, (length + 1) * sizeof(WCHAR));
    return (DWORD)length;
}

// GetTempPathW: GetTempPathA's directory in UTF-16, with the same results
// counted in characters.
extern "C" DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
    DWORD bytes = GetTempPathA(sizeof FirstName, FirstName);
    if (bytes == 0 || bytes >= sizeof FirstName) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    return GiveName(FirstName, buffer, size);
}

// GetTempFileNameW: GetTempFileNameA with wide names; the name made must fit
// in 259 characters (not bytes), as on Windows.
extern "C" UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefix, UINT unique,
                                 LPWSTR tempFileName) {
    size_t dirLength = Units(pathName);
    bool addSeparator = dirLength == 0 || pathName[dirLength - 1] != '/';
    WCHAR shortPrefix[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < 3 && prefix[i] != 0; i++)
        shortPrefix[i] = prefix[i];
    if (dirLength + (addSeparator ? 1 : 0) + Units(shortPrefix) + 4 + 4 > MAX_PATH - 1) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    const char* dir = NameOf(pathName, FirstName);
    const char* start = NameOf(shortPrefix, SecondName);
    char made[TEMP_NAME_BYTES];
    UINT number = dir != NULL && start != NULL
                      ? MakeTempFileName(dir, start, unique, made, sizeof made - 1)
                      : 0;
    DWORD given = number != 0 ? GiveName(made, tempFileName, MAX_PATH) : 0;
    if (number != 0 && (given == 0 || given >= MAX_PATH)) {
        // The check above leaves room; a name made must never be lost.
        if (unique == 0)
            unlink(made);
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    return number;
}

// CreateFileW: CreateFileA with a wide name.
extern "C" HANDLE CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode,
                              LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                              HANDLE templateFile) {
    const char* name = NameOf(fileName, FirstName);
    if (name == NULL)
        return INVALID_HANDLE_VALUE;
    return CreateFileA(name, access, shareMode, security, disposition, flags, templateFile);
}

// DeleteFileW: DeleteFileA with a wide name.
extern "C" BOOL DeleteFileW(LPCWSTR fileName) {
    const char* name = NameOf(fileName, FirstName);
    return name != NULL && DeleteFileA(name);
}

// GetFileAttributesExW: GetFileAttributesExA with a wide name.
extern "C" BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS level,
                                     LPVOID information) {
    const char* name = NameOf(fileName, FirstName);
    return name != NULL && GetFileAttributesExA(name, level, information);
}

// CopyFileW: CopyFileA with wide names.
extern "C" BOOL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) {
    const char* from = NameOf(existingFileName, FirstName);
    const char* to = from != NULL ? NameOf(newFileName, SecondName) : NULL;
    return to != NULL && CopyFileA(from, to, failIfExists);
}

// MoveFileExW: MoveFileExA with wide names.
extern "C" BOOL MoveFileExW(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags) {
    const char* from = NameOf(existingFileName, FirstName);
    const char* to = NULL;
    if (from == NULL || !Narrow(newFileName, SecondName, NAME_BYTES, &to))
        return FALSE;
    return MoveFileExA(from, to, flags);
}

// ReplaceFileW: ReplaceFileA with wide names (no backup file, as there).
extern "C" BOOL ReplaceFileW(LPCWSTR replacedFileName, LPCWSTR replacementFileName,
                             LPCWSTR backupFileName, DWORD flags, LPVOID exclude, LPVOID reserved) {
    if (backupFileName != NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const char* replaced = NameOf(replacedFileName, FirstName);
    const char* replacement = replaced != NULL ? NameOf(replacementFileName, SecondName) : NULL;
    return replacement != NULL &&
           ReplaceFileA(replaced, replacement, NULL, flags, exclude, reserved);
}

// GetShortPathNameW: the path of an existing file or directory in its
// short form, which here is the path itself, as Windows gives it for a
// name without a short form: the length, or the size needed when it does not
// fit in size with its terminator (shortPath may be longPath). 0 with
// ERROR_FILE_NOT_FOUND, or ERROR_PATH_NOT_FOUND where a directory on the
// way is missing or a file, when there is nothing there.
// Differs from Windows: no name has a short form, as on a volume whose 8.3
// names are turned off.
extern "C" DWORD GetShortPathNameW(LPCWSTR longPath, LPWSTR shortPath, DWORD size) {
    const char* name = NameOf(longPath, FirstName);
    struct stat info;
    if (name == NULL)
        return 0;
    if (stat(name, &info) != 0) {
        SetLastError(errno == ENOTDIR  ? ERROR_PATH_NOT_FOUND
                     : errno == ENOENT ? ERROR_FILE_NOT_FOUND
                                       : ErrorFromErrno(errno));
        return 0;
    }
    size_t length = Units(longPath);
    if (length + 1 > size)
        return (DWORD)(length + 1);
    memmove(shortPath, longPath, (length + 1) * sizeof(WCHAR));
    return (DWORD)length;
}

// --- Profile files -------------------------------------------------------------

namespace {

// Whether the profile file begins with the UTF-16LE mark: the family keeps
// such a file's text as UTF-8, whatever the ANSI set, so names and values
// for it are converted to UTF-8 rather than as names.
bool IsWideFile(const char* name) {
    struct stat info;
    int fd = name != NULL ? OpenProfile(name, &info) : -1;
    unsigned char mark[2] = {0, 0};
    bool wide = fd >= 0 && pread(fd, mark, 2, 0) == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
    if (fd >= 0)
        close(fd);
    return wide;
}

// Converts a section's or key's name, or a value, for the file: as a name,
// or into UTF-8 for a UTF-16 file (NULL stays NULL); false with the error
// set when it cannot be.
bool ForFile(LPCWSTR wide, bool wideFile, char* text, size_t capacity, const char** result) {
    if (wide == NULL || !wideFile)
        return Narrow(wide, text, capacity, result);
    *result = NULL;
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, (int)capacity, NULL, NULL);
    if (length == 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    *result = text;
    return true;
}

} // namespace

// GetPrivateProfileStringW: GetPrivateProfileStringA with wide names, its
// value in UTF-16, cut to size - 1 characters (never between the two halves
// of a pair). The value of a UTF-16 file comes back as the file has it; any
// other value, the file's bytes or the default, as names convert. The
// section's and the key's names are compared with a UTF-16 file's text as
// they are, with another file's bytes converted as names are.
// Differs from Windows: as GetPrivateProfileStringA; a value is cut to
// 32767 characters, and a lone surrogate in a UTF-16 file reads as U+FFFD.
extern "C" DWORD GetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR defaultValue,
                                          LPWSTR buffer, DWORD size, LPCWSTR fileName) {
    if (buffer == NULL || size == 0)
        return 0;
    const char *sectionName, *keyName, *defaultText, *name;
    buffer[0] = 0;
    if (!Narrow(fileName, FirstName, NAME_BYTES, &name))
        return 0;
    bool wideFile = IsWideFile(name);
    if (!ForFile(section, wideFile, Section, NAME_BYTES, &sectionName) ||
        !ForFile(key, wideFile, Key, NAME_BYTES, &keyName) ||
        !Narrow(defaultValue, SecondName, NAME_BYTES, &defaultText))
        return 0;
    size_t wanted = size - 1 < TEXT_UNITS ? size - 1 : TEXT_UNITS;
    bool fromWideFile = false;
    // A unit takes at most three bytes, so the first wanted units are whole.
    DWORD bytes = ReadProfileString(sectionName, keyName, defaultText, Text,
                                    (DWORD)(3 * wanted + 1), name, &fromWideFile);
    size_t length = 0;
    const int capacity = (int)(sizeof WideText / sizeof WideText[0]);
    if (fromWideFile && bytes > 0)
        length = (size_t)MultiByteToWideChar(CP_UTF8, 0, Text, (int)bytes, WideText, capacity);
    else if (NameToWide(Text, WideText, (size_t)capacity))
        length = Units(WideText);
    length = Cut(WideText, length, wanted);
    memcpy(buffer, WideText, length * sizeof(WCHAR));
    buffer[length] = 0;
    return (DWORD)length;
}

// GetPrivateProfileIntW: GetPrivateProfileIntA with wide names.
extern "C" UINT GetPrivateProfileIntW(LPCWSTR section, LPCWSTR key, INT defaultValue,
                                      LPCWSTR fileName) {
    const char *sectionName, *keyName, *name;
    if (!Narrow(section, Section, NAME_BYTES, &sectionName) ||
        !Narrow(key, Key, NAME_BYTES, &keyName) || !Narrow(fileName, FirstName, NAME_BYTES, &name))
        return (UINT)defaultValue;
    return GetPrivateProfileIntA(sectionName, keyName, defaultValue, name);
}

// WritePrivateProfileStringW: WritePrivateProfileStringA with wide names and
// value: into a UTF-16 file as they are, into another as names convert.
// Differs from Windows: as WritePrivateProfileStringA; a lone surrogate
// written into a UTF-16 file becomes U+FFFD.
extern "C" BOOL WritePrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR value,
                                           LPCWSTR fileName) {
    const char *sectionName, *keyName, *valueText, *name;
    if (!Narrow(fileName, FirstName, NAME_BYTES, &name))
        return FALSE;
    bool wideFile = IsWideFile(name);
    if (!ForFile(section, wideFile, Section, NAME_BYTES, &sectionName) ||
        !ForFile(key, wideFile, Key, NAME_BYTES, &keyName) ||
        !ForFile(value, wideFile, Text, sizeof Text, &valueText))
        return FALSE;
    return WritePrivateProfileStringA(sectionName, keyName, valueText, name);
}

// --- Message boxes ---------------------------------------------------------------

// MessageBoxW: MessageBoxA with the text and caption as names convert, so a
// path in the text shows as the bytes of its name. A text with a character
// the ANSI set lacks (or too long for the arrays here) shows with the
// set's default character in its place.
extern "C" int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    const char *shown, *title;
    if (!Narrow(text, Text, sizeof Text, &shown)) {
        int length = WideCharToMultiByte(CP_ACP, 0, text, -1, Text, sizeof Text - 1, NULL, NULL);
        Text[length > 0 ? length : 0] = '\0';
        shown = Text;
    }
    if (!Narrow(caption, Caption, NAME_BYTES, &title)) {
        int length =
            WideCharToMultiByte(CP_ACP, 0, caption, -1, Caption, NAME_BYTES - 1, NULL, NULL);
        Caption[length > 0 ? length : 0] = '\0';
        title = Caption;
    }
    return MessageBoxA(owner, shown, title, type);
}
