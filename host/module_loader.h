// Loading a plug-in module and finding its entry points: one loader for
// plugin-host, the tests and the benchmark (the ep_module_loader library). On
// Windows it uses LoadLibrary, on Linux dlopen (module_loader_win.cpp and
// module_loader_posix.cpp; the rest is module_loader.cpp).
#pragma once

#include "plugin.h"

#include <string>

struct PluginModule {
    std::string path; // as it was loaded
    void* handle = nullptr;
    decltype(&OnInstall) onInstall = nullptr;
    decltype(&OnCall) onCall = nullptr;
    decltype(&OnSettings) onSettings = nullptr;
};

// The module's file name on this platform, e.g. "external_preprocessor.so".
const char* ModuleFileName();

// The path of the module beside the running program.
std::string DefaultModulePath();

// Loads the module and looks up its three host-called entries. On failure
// returns false with a message saying what could not be loaded or was
// missing; the module is then not left loaded.
bool LoadPluginModule(const std::string& path, PluginModule& module, std::string& error);

// Unloads a module LoadPluginModule loaded and clears the record; nothing
// when it holds none.
void FreePluginModule(PluginModule& module);

// The loaded module's version record as "Name: value" lines, in a fixed
// order.
bool ReadVersionRecord(const PluginModule& module, std::string& record, std::string& error);

// --- Per platform (module_loader_*.cpp) --------------------------------------

// Loads the module; nullptr with a message when it cannot be loaded.
void* OpenModule(const std::string& path, std::string& error);

// The address of an exported name, or nullptr.
void* FindEntry(void* module, const char* name);

// Unloads what OpenModule loaded.
void CloseModule(void* module);

// The version record's fields, in the order they are printed.
enum { VERSION_FIELD_COUNT = 6 };
extern const char* const VersionFields[VERSION_FIELD_COUNT];
