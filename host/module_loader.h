// Loading a plug-in module and finding its entry points: one loader for
// plugin-host, the tests and the benchmark (the ep_module_loader library). On
// Windows it uses LoadLibrary, on Linux dlopen (module_loader_win.cpp and
// module_loader_posix.cpp; the rest is module_loader.cpp).
#pragma once

#include "plugin.h"

#include <string>
#include <vector>

struct PluginModule {
    std::string path; // as it was loaded
    void* handle = nullptr;
    decltype(&OnInstall) onInstall = nullptr;
    decltype(&OnCall) onCall = nullptr;
    decltype(&OnSettings) onSettings = nullptr;
};

// The module's file name on this platform, e.g. "external_preprocessor.so".
const char* ModuleFileName();

// Where a program looks for its module when none is named, in order: beside
// the program's own file (found through its real path, so a symbolic link to
// the program leads there), then, on Linux, in ../lib/external-preprocessor/
// from that folder, where `cmake --install` puts it.
std::vector<std::string> DefaultModulePaths();

// The first of DefaultModulePaths() that names a file, or else the first.
std::string DefaultModulePath();

// The module a path names: the path itself, or for a directory the module
// file inside it.
std::string ModuleInPath(const std::string& path);

// Loads the module and looks up its three host-called entries. On failure
// returns false with a message saying what could not be loaded or was
// missing; the module is then not left loaded.
bool LoadPluginModule(const std::string& path, PluginModule& module, std::string& error);

// The same for a module already loaded (handle) from path: on failure it is
// unloaded.
bool BindPluginModule(void* handle, const std::string& path, PluginModule& module,
                      std::string& error);

// Unloads a module LoadPluginModule loaded and clears the record; nothing
// when it holds none.
void FreePluginModule(PluginModule& module);

// The loaded module's version record as "Name: value" lines, in a fixed
// order.
bool ReadVersionRecord(const PluginModule& module, std::string& record, std::string& error);

// The loaded module's full path as the module itself reads it (and derives
// its settings file from): GetModuleFileNameA on Windows; on Linux the name
// it was loaded under, made absolute. Empty when it cannot be told.
std::string LoadedModulePath(const PluginModule& module);

// The settings file a module at modulePath reads: the module's name with its
// extension replaced by ".ini" (appended when it has none, or is ".ini"
// itself). Empty when that path would be longer than 259 characters.
std::string SettingsPathOf(const std::string& modulePath);

// Points the loaded module's import of the function name from library (a
// DLL's name, any case) at replacement, and returns what it pointed at
// before; nullptr when the module imports no such function. Later calls the
// module makes through that import reach the replacement. Windows only: a
// Linux module binds its calls inside itself and imports none of its own,
// and there this returns nullptr.
void* ReplaceImport(void* module, const char* library, const char* name, void* replacement);

// --- Per platform (module_loader_*.cpp) --------------------------------------

// Loads the module; nullptr with a message when it cannot be loaded.
void* OpenModule(const std::string& path, std::string& error);

// The address of an exported name, or nullptr.
void* FindEntry(void* module, const char* name);

// Unloads what OpenModule loaded.
void CloseModule(void* module);

// The separator of a path's folders: '/' on Linux, '\\' on Windows.
char FolderSeparator();

// Whether a path names a directory; whether it names anything at all.
bool IsDirectory(const std::string& path);
bool PathExists(const std::string& path);

// The version record's fields, in the order they are printed.
enum { VERSION_FIELD_COUNT = 6 };
extern const char* const VersionFields[VERSION_FIELD_COUNT];
