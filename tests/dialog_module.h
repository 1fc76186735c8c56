// The Windows dialog tests work on their own copy of the module in a fresh
// temporary directory, so that each has a settings file of its own.
#pragma once

#include "child.h"

#include <windows.h>

#include <string>

struct ModuleCopy {
    std::string directory;
    std::string path;
    std::string settings; // the module's path with ".ini" for its extension
    HMODULE module = nullptr;

    // Copies the module built beside this test program into a new directory
    // in base (the temporary directory when empty) and loads it.
    bool Load(const std::string& base = "") {
        static int count = 0;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        std::string parent = base.empty() ? std::string(temp) : base + "\\";
        directory = parent + "ep-dialog-" + std::to_string(GetCurrentProcessId()) + "-" +
                    std::to_string(++count);
        std::string self = SelfPath();
        std::string built = self.substr(0, self.find_last_of("\\/") + 1) + EP_MODULE_NAME;
        path = directory + "\\" + EP_MODULE_NAME;
        settings = path.substr(0, path.find_last_of('.')) + ".ini";
        CreateDirectoryA(directory.c_str(), nullptr);
        if (!CopyFileA(built.c_str(), path.c_str(), FALSE))
            return false;
        module = LoadLibraryA(path.c_str());
        return module != nullptr;
    }

    ~ModuleCopy() {
        if (module != nullptr)
            FreeLibrary(module);
        SetFileAttributesA(settings.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(settings.c_str());
        DeleteFileA((settings + ".new").c_str());
        DeleteFileA(path.c_str());
        RemoveDirectoryA(directory.c_str());
    }

    ModuleCopy() = default;
    // One owner of the loaded module and its files: a copy would free and
    // remove them twice.
    ModuleCopy(const ModuleCopy&) = delete;
    ModuleCopy& operator=(const ModuleCopy&) = delete;
};
