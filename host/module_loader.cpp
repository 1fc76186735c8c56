// Loading a module and finding its entry points, the same on every
// platform over module_loader_posix.cpp and module_loader_win.cpp.
#include "module_loader.h"

const char* const VersionFields[VERSION_FIELD_COUNT] = {"FileVersion",     "ProductVersion",
                                                        "FileDescription", "Comments",
                                                        "CompanyName",     "LegalCopyright"};

template <typename T> static T Entry(void* module, const char* name) {
    return reinterpret_cast<T>(FindEntry(module, name));
}

bool LoadPluginModule(const std::string& path, PluginModule& module, std::string& error) {
    module = PluginModule();
    void* handle = OpenModule(path, error);
    return handle != nullptr && BindPluginModule(handle, path, module, error);
}

bool BindPluginModule(void* handle, const std::string& path, PluginModule& module,
                      std::string& error) {
    module = PluginModule();
    auto onInstall = Entry<decltype(&OnInstall)>(handle, "OnInstall");
    auto onCall = Entry<decltype(&OnCall)>(handle, "OnCall");
    auto onSettings = Entry<decltype(&OnSettings)>(handle, "OnSettings");
    const char* missing = !onInstall    ? "OnInstall"
                          : !onCall     ? "OnCall"
                          : !onSettings ? "OnSettings"
                                        : nullptr;
    if (missing != nullptr) {
        error = "module '" + path + "' has no entry point " + missing;
        CloseModule(handle);
        return false;
    }
    module.path = path;
    module.handle = handle;
    module.onInstall = onInstall;
    module.onCall = onCall;
    module.onSettings = onSettings;
    return true;
}

void FreePluginModule(PluginModule& module) {
    if (module.handle != nullptr)
        CloseModule(module.handle);
    module = PluginModule();
}

std::string DefaultModulePath() {
    std::vector<std::string> paths = DefaultModulePaths();
    for (const std::string& path : paths) {
        if (PathExists(path) && !IsDirectory(path))
            return path;
    }
    return paths.front();
}

std::string ModuleInPath(const std::string& path) {
    if (path.empty() || !IsDirectory(path))
        return path;
    char last = path.back();
    std::string separator(1, FolderSeparator());
    return path + (last == '/' || last == '\\' ? "" : separator) + ModuleFileName();
}

static bool IsIniExtension(const std::string& extension) {
    if (extension.size() != 4 || extension[0] != '.')
        return false;
    for (size_t i = 1; i < 4; i++) {
        if ((extension[i] | 0x20) != ".ini"[i])
            return false;
    }
    return true;
}

// The rule of the module's own LoadSettings: the last dot of the whole path
// starts the extension, and a path the module would read cut, or a settings
// path that would not fit, gives no settings file at all.
std::string SettingsPathOf(const std::string& modulePath) {
    if (modulePath.empty() || modulePath.size() >= MODULE_PATH_CAPACITY)
        return std::string();
    size_t keep = modulePath.size();
    size_t dot = modulePath.rfind('.');
    if (dot != std::string::npos && !IsIniExtension(modulePath.substr(dot)))
        keep = dot;
    if (keep + 4 > PATH_CAPACITY)
        return std::string();
    return modulePath.substr(0, keep) + ".ini";
}
