// The settings file as plugin-host shows it. The values are read with
// GetPrivateProfileStringA, as the module reads them: kernel32's on Windows,
// and on Linux the platform layer's profile reader, linked into plugin-host
// as well (the module binds its own copy inside itself).
#include "settings_view.h"
#include "plugin.h"

#include <windows.h>

#include <fstream>
#include <iterator>

namespace {

// The keys of [Run] that info shows when the file has them.
const char* const RunOptions[] = {"TimeLimit",    "IgnoreExitCode",   "HideConsole",
                                  "ShowProgress", "AllowEmptyOutput", "TextsInEnvironment",
                                  "Encoding",     "LineEndings"};

// A settings file larger than this is not compared byte for byte; its time
// of last write still tells a save.
const std::streamsize LargestCompared = 4 << 20;

// The value of a key, read with the capacity the module gives it; false, and
// empty as the module's default, when the file has no such key (two
// different defaults both come back).
bool ReadValue(const std::string& path, const char* section, const char* key, DWORD capacity,
               std::string& value) {
    std::string first(capacity, '\0');
    std::string second(capacity, '\0');
    DWORD length = GetPrivateProfileStringA(section, key, "a", &first[0], capacity, path.c_str());
    DWORD other = GetPrivateProfileStringA(section, key, "b", &second[0], capacity, path.c_str());
    first.resize(length);
    second.resize(other);
    bool present = first != "a" || second != "b";
    value = present ? first : std::string();
    return present;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

} // namespace

std::string SettingsLines(const std::string& settingsPath) {
    if (settingsPath.empty())
        return "Settings file: none (the module's path leaves no room for one; the settings "
               "are empty)\n";
    std::string lines = "Settings file: " + settingsPath;
    FileState state = ReadFileState(settingsPath);
    if (!state.exists)
        lines += " (not there: the settings are empty)";
    lines += "\n";
    std::string value;
    ReadValue(settingsPath, "Path", "CommandLine", PATH_CAPACITY, value);
    lines += "CommandLine: " + value + "\n";
    ReadValue(settingsPath, "Path", "WorkingDirectory", PATH_CAPACITY, value);
    lines += "WorkingDirectory: " + value + "\n";
    for (const char* key : RunOptions) {
        if (ReadValue(settingsPath, "Run", key, 64, value))
            lines += std::string(key) + ": " + value + "\n";
    }
    return lines;
}

SettingsSnapshot TakeSnapshot(const std::string& settingsPath) {
    SettingsSnapshot snapshot;
    snapshot.state = ReadFileState(settingsPath);
    if (snapshot.state.exists && !snapshot.state.directory) {
        std::ifstream file(settingsPath, std::ios::binary);
        std::istreambuf_iterator<char> start(file), end;
        for (std::streamsize n = 0; start != end && n < LargestCompared; ++start, ++n)
            snapshot.content += *start;
    }
    return snapshot;
}

bool SameFile(const SettingsSnapshot& before, const SettingsSnapshot& after) {
    return before.state.exists == after.state.exists &&
           before.state.modified == after.state.modified && before.content == after.content;
}

namespace {

// Why the file itself stopped the save, or nothing.
std::string FileReason(const std::string& settingsPath) {
    // The save writes a copy named PATH.new, which must fit in 259 characters.
    if (settingsPath.size() > PATH_CAPACITY - 1 - 4)
        return "its path is longer than 255 characters, and the copy a save writes beside it "
               "would not fit";
    FileState file = ReadFileState(settingsPath);
    if (file.directory)
        return "it is a directory";
    if (file.readOnly)
        return "it is read-only";
    unsigned long long largest = LargestSettingsFile();
    if (largest != 0 && file.exists && file.size > largest)
        return "it is larger than 1 MiB, which the plug-in reads as no settings file and does "
               "not save over";
    std::string copy = settingsPath + ".new";
    FileState sibling = ReadFileState(copy);
    if (sibling.exists && sibling.directory)
        return "a directory stands where the save writes its copy, " + copy;
    if (sibling.exists && sibling.age <= 60)
        return "the copy of another save is there, " + copy +
               ": a save at work, or one cut short less than a minute ago; try again in a "
               "minute";
    return std::string();
}

// Why the folders the save writes in stopped it, or nothing.
std::string FolderReason(const std::string& settingsPath) {
    std::string why;
    std::string folder = FolderOf(settingsPath);
    if (!MayCreateIn(folder, why))
        return "its folder " + folder + " may not be written (" + why + ")";
    std::string targetFolder = FolderOf(LinkTarget(settingsPath));
    if (targetFolder != folder && !MayCreateIn(targetFolder, why))
        return "the folder of the file its link leads to, " + targetFolder +
               ", may not be written (" + why + ")";
    if (DiskIsFull(folder))
        return "the disk is full";
    return std::string();
}

} // namespace

std::string WhyNotSaved(const std::string& settingsPath) {
    if (settingsPath.empty())
        return "the module's path leaves no room for a settings file's";
    std::string reason = FileReason(settingsPath);
    if (reason.empty())
        reason = FolderReason(settingsPath);
    return reason.empty() ? "the plug-in does not say why; a full disk is the usual reason"
                          : reason;
}
