// The settings file beside the module: section "Path", keys
// "WorkingDirectory" and "CommandLine"; and section "Run", keys
// "IgnoreExitCode", "TimeLimit" and "HideConsole", which only the file sets
// (the dialog neither shows nor writes them).
#include "settings.h"

#include <string.h>

static const char Section[] = "Path";
static const char RunSection[] = "Run";

// The module's own path, read with room for one character more than a
// settings path, so that a path of 260 characters is still seen whole.
static char ModulePath[MODULE_PATH_CAPACITY + 1];

static BOOL IsIniExtension(const char* extension) {
    return (extension[0] == 'i' || extension[0] == 'I') &&
           (extension[1] == 'n' || extension[1] == 'N') &&
           (extension[2] == 'i' || extension[2] == 'I') && extension[3] == '\0';
}

BOOL DeriveSettingsPath(const char* modulePath, char* settingsPath) {
    size_t length = strlen(modulePath);
    const char* dot = strrchr(modulePath, '.');
    // Without a dot, or for a module that itself ends in ".ini", the settings
    // go beside the module under its full name with ".ini" appended, so the
    // module file is never read as settings nor written.
    size_t keep = length;
    if (dot != NULL && !IsIniExtension(dot + 1))
        keep = (size_t)(dot - modulePath);
    if (length == 0 || keep + 4 > PATH_CAPACITY) {
        settingsPath[0] = '\0';
        return FALSE;
    }
    memcpy(settingsPath, modulePath, keep);
    memcpy(settingsPath + keep, ".ini", 5);
    return TRUE;
}

void LoadSettings(void) {
    DWORD length = GetModuleFileNameA(ModuleHandle, ModulePath, MODULE_PATH_CAPACITY);
    // A path cut to the capacity would name some other file.
    if (length == 0 || length >= MODULE_PATH_CAPACITY ||
        !DeriveSettingsPath(ModulePath, SettingsPath)) {
        SettingsPath[0] = '\0';
        WorkingDirectory[0] = '\0';
        CommandLine[0] = '\0';
        IgnoreExitCode = TimeLimit = HideConsole = 0;
        return;
    }
    GetPrivateProfileStringA(Section, "WorkingDirectory", "", WorkingDirectory, PATH_CAPACITY,
                             SettingsPath);
    GetPrivateProfileStringA(Section, "CommandLine", "", CommandLine, PATH_CAPACITY, SettingsPath);
    IgnoreExitCode = GetPrivateProfileIntA(RunSection, "IgnoreExitCode", 0, SettingsPath);
    TimeLimit = GetPrivateProfileIntA(RunSection, "TimeLimit", 0, SettingsPath);
    HideConsole = GetPrivateProfileIntA(RunSection, "HideConsole", 0, SettingsPath);
}

// Reading a profile value strips one pair of double quotes around the whole
// value, so a template such as "C:\Tools\pp.exe" "%f" would come back as
// C:\Tools\pp.exe" "%f. Such a value is written inside one more pair of quotes,
// which reading takes off again.
static char Quoted[PATH_ARRAY + 2];

static const char* AsStored(const char* value) {
    size_t length = strlen(value);
    if (length < 2 || value[0] != '"' || value[length - 1] != '"')
        return value;
    Quoted[0] = '"';
    memcpy(Quoted + 1, value, length);
    Quoted[length + 1] = '"';
    Quoted[length + 2] = '\0';
    return Quoted;
}

void SaveSettings(void) {
    // Without a usable path there is nowhere to save; an empty file name
    // would make Windows write to its own profile instead.
    if (SettingsPath[0] == '\0')
        return;
    WritePrivateProfileStringA(Section, "WorkingDirectory", AsStored(WorkingDirectory),
                               SettingsPath);
    WritePrivateProfileStringA(Section, "CommandLine", AsStored(CommandLine), SettingsPath);
}
