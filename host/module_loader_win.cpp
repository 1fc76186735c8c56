// Loading a module and reading its version record on Windows: LoadLibraryA,
// GetProcAddress and the version resource.
#include "module_loader.h"

#include <sstream>
#include <stdio.h>
#include <string.h>

#include <windows.h>

const char* ModuleFileName() {
    return "external_preprocessor.dll";
}

std::string DefaultModulePath() {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self(path, length);
    size_t slash = self.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) +
           ModuleFileName();
}

void* OpenModule(const std::string& path, std::string& error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr)
        error = "cannot load module '" + path + "' (error " + std::to_string(GetLastError()) + ")";
    return handle;
}

void* FindEntry(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void CloseModule(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

// The version resource is read from the module's file, which the loaded
// module keeps in place.
bool ReadVersionRecord(const PluginModule& module, std::string& record, std::string& error) {
    const std::string& path = module.path;
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) {
        error = "module '" + path + "' has no version record";
        return false;
    }
    std::string data(size, '\0');
    if (!GetFileVersionInfoA(path.c_str(), 0, size, &data[0])) {
        error = "cannot read the version record of '" + path + "'";
        return false;
    }
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof(Translation)) {
        error = "the version record of '" + path + "' has no translation";
        return false;
    }
    char block[16];
    (void)snprintf(block, sizeof block, "%04x%04x", translation->language, translation->codePage);
    std::ostringstream out;
    for (const char* field : VersionFields) {
        std::string query = std::string("\\StringFileInfo\\") + block + "\\" + field;
        char* value = nullptr;
        UINT valueLength = 0;
        out << field << ": ";
        if (VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value),
                           &valueLength) &&
            value != nullptr)
            out << value;
        out << "\n";
    }
    out << "Language: " << block << "\n";
    record = out.str();
    return true;
}
