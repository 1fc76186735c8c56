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
    module.handle = OpenModule(path, error);
    if (module.handle == nullptr)
        return false;
    module.onInstall = Entry<decltype(&OnInstall)>(module.handle, "OnInstall");
    module.onCall = Entry<decltype(&OnCall)>(module.handle, "OnCall");
    module.onSettings = Entry<decltype(&OnSettings)>(module.handle, "OnSettings");
    const char* missing = !module.onInstall    ? "OnInstall"
                          : !module.onCall     ? "OnCall"
                          : !module.onSettings ? "OnSettings"
                                               : nullptr;
    if (missing != nullptr) {
        error = "module '" + path + "' has no entry point " + missing;
        return false;
    }
    return true;
}
