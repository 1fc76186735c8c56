// The settings file as plugin-host shows it: its values for `info`, and for
// `settings` whether the dialog's OK saved it and, when not, why.
#pragma once

#include "system.h"

#include <string>

// info's lines: "Settings file: PATH", then CommandLine and WorkingDirectory
// as the module reads them, then each run option the file has in [Run].
std::string SettingsLines(const std::string& settingsPath);

// The file at one moment: a save changes its time of last write or its
// bytes.
struct SettingsSnapshot {
    FileState state;
    std::string content;
};
SettingsSnapshot TakeSnapshot(const std::string& settingsPath);
bool SameFile(const SettingsSnapshot& before, const SettingsSnapshot& after);

// Why the save after OK left the file as it was, as far as the file and its
// folder tell.
std::string WhyNotSaved(const std::string& settingsPath);
