// The settings file beside the module: section "Path", keys
// "WorkingDirectory" and "CommandLine"; and section "Run", keys
// "IgnoreExitCode", "TimeLimit", "HideConsole", "ShowProgress",
// "AllowEmptyOutput", "TextsInEnvironment", "Encoding" and "LineEndings",
// which only the file sets (the dialog neither shows nor writes them).
#include "settings.h"
#include "wide.h"

#include <string.h>

static const char Section[] = "Path";
static const char RunSection[] = "Run";

// The module's own path, read with room for one character more than a
// settings path, so that a path of 260 characters is still seen whole.
static WCHAR ModulePath[MODULE_PATH_CAPACITY + 1];

// The wide forms of a section's and a key's name, of an empty default, and
// a value read, for the wide profile calls.
static WCHAR SectionName[32];
static WCHAR KeyName[32];
static WCHAR Empty[1];
static WCHAR Read[PATH_ARRAY];

static BOOL IsIniExtension(const WCHAR* extension) {
    return (extension[0] == 'i' || extension[0] == 'I') &&
           (extension[1] == 'n' || extension[1] == 'N') &&
           (extension[2] == 'i' || extension[2] == 'I') && extension[3] == 0;
}

BOOL DeriveSettingsPath(const WCHAR* modulePath, WCHAR* settingsPath) {
    size_t length = WideLength(modulePath);
    const WCHAR* dot = NULL;
    for (const WCHAR* at = modulePath; *at != 0; at++) {
        if (*at == '.')
            dot = at;
    }
    // Without a dot, or for a module that itself ends in ".ini", the settings
    // go beside the module under its full name with ".ini" appended, so the
    // module file is never read as settings nor written.
    size_t keep = length;
    if (dot != NULL && !IsIniExtension(dot + 1))
        keep = (size_t)(dot - modulePath);
    if (length == 0 || keep + 4 > PATH_CAPACITY) {
        settingsPath[0] = 0;
        return FALSE;
    }
    memcpy(settingsPath, modulePath, keep * sizeof(WCHAR));
    WidenAscii(".ini", settingsPath + keep);
    return TRUE;
}

static const WCHAR* SectionOf(const char* section) {
    WidenAscii(section, SectionName);
    return SectionName;
}

static const WCHAR* KeyOf(const char* key) {
    WidenAscii(key, KeyName);
    return KeyName;
}

// Reads a value into an ANSI setting of capacity bytes, cut to capacity - 1.
static void ReadText(const char* section, const char* key, char* setting, DWORD capacity) {
    GetPrivateProfileStringW(SectionOf(section), KeyOf(key), Empty, Read, capacity, SettingsPath);
    WideToAnsiText(Read, setting, capacity);
}

static UINT ReadNumber(const char* key, INT defaultValue) {
    return GetPrivateProfileIntW(SectionOf(RunSection), KeyOf(key), defaultValue, SettingsPath);
}

void LoadSettings(void) {
    DWORD length = GetModuleFileNameW(ModuleHandle, ModulePath, MODULE_PATH_CAPACITY);
    // A path cut to the capacity would name some other file.
    if (length == 0 || length >= MODULE_PATH_CAPACITY ||
        !DeriveSettingsPath(ModulePath, SettingsPath)) {
        SettingsPath[0] = 0;
        WorkingDirectory[0] = '\0';
        CommandLine[0] = '\0';
        IgnoreExitCode = TimeLimit = HideConsole = AllowEmptyOutput = TextsInEnvironment = 0;
        ShowProgress = 1;
        Encoding[0] = '\0';
        LineEndings[0] = '\0';
        return;
    }
    ReadText(Section, "WorkingDirectory", WorkingDirectory, PATH_CAPACITY);
    ReadText(Section, "CommandLine", CommandLine, PATH_CAPACITY);
    IgnoreExitCode = ReadNumber("IgnoreExitCode", 0);
    TimeLimit = ReadNumber("TimeLimit", 0);
    HideConsole = ReadNumber("HideConsole", 0);
    ShowProgress = ReadNumber("ShowProgress", 1);
    AllowEmptyOutput = ReadNumber("AllowEmptyOutput", 0);
    TextsInEnvironment = ReadNumber("TextsInEnvironment", 0);
    ReadText(RunSection, "Encoding", Encoding, OPTION_CAPACITY);
    ReadText(RunSection, "LineEndings", LineEndings, OPTION_CAPACITY);
}

// Reading a profile value strips one pair of double quotes around the whole
// value, so a template such as "C:\Tools\pp.exe" "%f" would come back as
// C:\Tools\pp.exe" "%f. Such a value is written inside one more pair of quotes,
// which reading takes off again. The value goes to the wide profile call in
// its wide form.
static char Quoted[PATH_ARRAY + 2];
static WCHAR Stored[PATH_ARRAY + 2];

static const WCHAR* AsStored(const char* value) {
    size_t length = strlen(value);
    if (length >= 2 && value[0] == '"' && value[length - 1] == '"') {
        Quoted[0] = '"';
        memcpy(Quoted + 1, value, length);
        Quoted[length + 1] = '"';
        Quoted[length + 2] = '\0';
        value = Quoted;
        length += 2;
    }
    AnsiToWideText(value, length, Stored, sizeof Stored / sizeof Stored[0]);
    return Stored;
}

// Saving never leaves the settings file cut, whatever the profile writer
// beneath does: the system's own writer rewrites a file in place, and on a
// full disk may leave it cut while reporting success. The save therefore
// works on a sibling copy, "<SettingsPath>.new", created exclusively beside
// the file: both keys are written into it, the copy is checked to be whole,
// flushed, and only then put in the file's place in one step (ReplaceFileW,
// which keeps the file's attributes; MoveFileExW for a file not there yet).
// On any failure the copy is removed and the file is left as it was.
static const char SiblingSuffix[] = ".new";
static WCHAR Sibling[PATH_ARRAY];
enum SaveProblem SaveFailure;
DWORD SaveError;

// A copy older than this was left by a save cut short (a crash, a power
// loss) and is taken over; a younger one belongs to a save at work in
// another process, and this save gives way to it.
static const unsigned long long StaleSiblingTicks = 60ULL * 10000000ULL; // 100 ns each

// The check that the copy is whole: a section of its own, which every
// profile writer appends at the end of the file. Seeing its key on the disk
// means everything before it reached the disk too. Its two lines take
// CheckLinesLength bytes of the file with CRLF line ends, two fewer where
// they end as an LF or CR file's lines do (the Linux layer's writer), and
// twice as many in a UTF-16 file.
static const char CheckSection[] = "ExternalPreprocessorSaveCheck";
static const char CheckKey[] = "Complete";
static const unsigned long long CheckLinesLength =
    sizeof "[ExternalPreprocessorSaveCheck]\r\nComplete=1\r\n" - 1;

static BOOL IsCheckLinesLength(unsigned long long length) {
    unsigned long long oneByteEnds = CheckLinesLength - 2;
    return length == CheckLinesLength || length == oneByteEnds || length == 2 * CheckLinesLength ||
           length == 2 * oneByteEnds;
}

static BOOL MakeSiblingPath(void) {
    if (WideLength(SettingsPath) + sizeof SiblingSuffix > PATH_CAPACITY)
        return FALSE;
    WideWithAscii(Sibling, SettingsPath, SiblingSuffix);
    return TRUE;
}

static unsigned long long Ticks(FILETIME time) {
    return (unsigned long long)time.dwHighDateTime << 32 | time.dwLowDateTime;
}

// TRUE for a sibling file (not a directory) not written within the last
// minute.
static BOOL SiblingIsStale(void) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(Sibling, GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FALSE;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    unsigned long long written = Ticks(info.ftLastWriteTime);
    return Ticks(now) > written && Ticks(now) - written > StaleSiblingTicks;
}

// Makes the sibling exclusively: a copy of the settings file, or an empty
// file when there is none yet.
static BOOL CreateSiblingOnce(BOOL fileExists) {
    if (fileExists)
        return CopyFileW(SettingsPath, Sibling, TRUE);
    HANDLE file =
        CreateFileW(Sibling, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    CloseHandle(file);
    return TRUE;
}

static BOOL CreateSibling(BOOL fileExists) {
    if (CreateSiblingOnce(fileExists))
        return TRUE;
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
        return FALSE;
    // A young copy is another save's: the error stays the one that says so.
    if (!SiblingIsStale()) {
        SetLastError(error);
        return FALSE;
    }
    if (!DeleteFileW(Sibling))
        return FALSE;
    return CreateSiblingOnce(fileExists);
}

// Marks the sibling as written now: a copy keeps the time of the settings
// file's last write, and would look like a copy left over to another save.
static BOOL StampSibling(void) {
    HANDLE file =
        CreateFileW(Sibling, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    BOOL stamped = SetFileTime(file, NULL, NULL, &now);
    CloseHandle(file);
    return stamped;
}

// Makes the profile functions write out and forget what they hold of the
// sibling (Wine keeps profile files in memory), so that what is read next
// comes from the disk. This call returns FALSE by definition.
static void ForgetSibling(void) {
    WritePrivateProfileStringW(NULL, NULL, NULL, Sibling);
}

static BOOL SiblingSize(unsigned long long* size) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(Sibling, GetFileExInfoStandard, &info))
        return FALSE;
    *size = (unsigned long long)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    return TRUE;
}

// Writes both keys into the sibling and proves it whole: with the check
// section appended last and read back from the disk, the file was written to
// its end; removing the section again must then shorten it by exactly the
// section's lines, which a rewrite cut short would not.
static BOOL WriteText(const char* section, const char* key, const char* value) {
    return WritePrivateProfileStringW(SectionOf(section), KeyOf(key), AsStored(value), Sibling);
}

static BOOL WriteSibling(void) {
    if (!WriteText(Section, "WorkingDirectory", WorkingDirectory) ||
        !WriteText(Section, "CommandLine", CommandLine) || !WriteText(CheckSection, CheckKey, "1"))
        return FALSE;
    ForgetSibling();
    WCHAR check[2];
    unsigned long long whole, without;
    if (GetPrivateProfileStringW(SectionOf(CheckSection), KeyOf(CheckKey), Empty, check, 2,
                                 Sibling) != 1 ||
        check[0] != '1' || !SiblingSize(&whole) ||
        !WritePrivateProfileStringW(SectionOf(CheckSection), NULL, NULL, Sibling))
        return FALSE;
    ForgetSibling();
    return SiblingSize(&without) && without < whole && IsCheckLinesLength(whole - without);
}

// Flushes the sibling's bytes to the disk, so that the file put in place
// survives a crash.
static BOOL FlushSibling(void) {
    HANDLE file =
        CreateFileW(Sibling, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL flushed = FlushFileBuffers(file);
    CloseHandle(file);
    return flushed;
}

// Records why the save stops, with the last error of the step that failed
// (0 for none), and returns FALSE.
static BOOL Fail(enum SaveProblem problem, BOOL withError) {
    SaveFailure = problem;
    SaveError = withError ? GetLastError() : 0;
    return FALSE;
}

// Writes and proves the copy, then puts it in the file's place; FALSE after
// Fail. The copy exists when this is called.
static BOOL SaveThroughSibling(BOOL fileExists) {
    SetLastError(0);
    if (!StampSibling() || !WriteSibling() || !FlushSibling())
        return Fail(SAVE_COPY_NOT_WHOLE, TRUE);
    if (!(fileExists ? ReplaceFileW(SettingsPath, Sibling, NULL, 0, NULL, NULL)
                     : MoveFileExW(Sibling, SettingsPath, MOVEFILE_WRITE_THROUGH)))
        return Fail(SAVE_NOT_REPLACED, TRUE);
    return TRUE;
}

BOOL SaveSettings(void) {
    // Without a usable path there is nowhere to save; an empty file name
    // would make Windows write to its own profile instead.
    if (SettingsPath[0] == 0)
        return Fail(SAVE_NO_PATH, FALSE);
    if (!MakeSiblingPath())
        return Fail(SAVE_PATH_TOO_LONG, FALSE);
    // A read-only settings file is not written, as the profile writer of
    // Windows refuses it.
    WIN32_FILE_ATTRIBUTE_DATA info;
    BOOL fileExists = GetFileAttributesExW(SettingsPath, GetFileExInfoStandard, &info);
    if (!fileExists && GetLastError() != ERROR_FILE_NOT_FOUND)
        return Fail(SAVE_NOT_SEEN, TRUE);
    if (fileExists && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return Fail(SAVE_IS_DIRECTORY, FALSE);
    if (fileExists && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
        return Fail(SAVE_READ_ONLY, FALSE);
    if (!CreateSibling(fileExists)) {
        DWORD error = GetLastError();
        return Fail(error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? SAVE_OTHER_SAVE
                                                                                : SAVE_NO_COPY,
                    TRUE);
    }
    if (!SaveThroughSibling(fileExists)) {
        DeleteFileW(Sibling);
        return FALSE;
    }
    SaveFailure = SAVE_DONE;
    SaveError = 0;
    return TRUE;
}
