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
    if (handle == nullptr)
        return false;
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
