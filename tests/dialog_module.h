// The Windows dialog tests work on their own copy of the module in a fresh
// temporary directory, so that each has a settings file of its own. The copy
// is loaded with the host's module loader.
#pragma once

#include "child.h"
#include "host/module_loader.h"
#include "support/test_system.h"

#include <windows.h>

#include <string>

struct ModuleCopy {
    std::string directory;
    std::string path;
    std::string settings; // the module's path with ".ini" for its extension
    PluginModule plugin;

    // Copies the module built beside this test program into a new directory
    // in base (the temporary directory when empty; UTF-8, of any characters)
    // and loads it by its full name.
    bool Load(const std::string& base = "") {
        directory = MakeTempDir("ep-dialog", base);
        if (directory.empty())
            return false;
        std::string self = SelfPath();
        std::string built = self.substr(0, self.find_last_of("\\/") + 1) + ModuleFileName();
        path = PathJoin(directory, ModuleFileName());
        settings = path.substr(0, path.find_last_of('.')) + ".ini";
        std::string error;
        if (!CopyFileTo(built, path))
            return false;
        HMODULE module = LoadLibraryW(ToWide(path).c_str());
        return module != nullptr && BindPluginModule(module, path, plugin, error);
    }

    // The loaded module, for its resources.
    HMODULE Module() const {
        return static_cast<HMODULE>(plugin.handle);
    }

    ~ModuleCopy() {
        FreePluginModule(plugin);
        // The settings file and its sibling copy, read-only ones too.
        if (!directory.empty())
            RemoveTree(directory);
    }

    ModuleCopy() = default;
    // One owner of the loaded module and its files: a copy would free and
    // remove them twice.
    ModuleCopy(const ModuleCopy&) = delete;
    ModuleCopy& operator=(const ModuleCopy&) = delete;
};
