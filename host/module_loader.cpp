// Loading a module and reading its version record, per platform.
#include "module_loader.h"

#include <fstream>
#include <sstream>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <elf.h>
#include <unistd.h>
#endif

namespace {

// The version record's fields, in the order they are printed.
const char* const VersionFields[] = {"FileVersion", "ProductVersion", "FileDescription",
                                     "Comments",    "CompanyName",    "LegalCopyright"};

} // namespace

#ifdef _WIN32

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

// Loads the module; nullptr with a message when it cannot be loaded.
static void* OpenModule(const std::string& path, std::string& error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr)
        error = "cannot load module '" + path + "' (error " + std::to_string(GetLastError()) + ")";
    return handle;
}

static void* FindEntry(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

bool ReadVersionRecord(const std::string& path, std::string& record, std::string& error) {
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

#else

const char* ModuleFileName() {
    return "external_preprocessor.so";
}

std::string DefaultModulePath() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = length > 0 ? std::string(path, (size_t)length) : std::string();
    size_t slash = self.rfind('/');
    return (slash == std::string::npos ? std::string("./") : self.substr(0, slash + 1)) +
           ModuleFileName();
}

// Loads the module; nullptr with a message when it cannot be loaded.
static void* OpenModule(const std::string& path, std::string& error) {
    // A name without a slash would make dlopen search the library path.
    std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = "cannot load module '" + path + "': " + (reason ? reason : "unknown error");
    }
    return handle;
}

static void* FindEntry(void* module, const char* name) {
    return dlsym(module, name);
}

// The version record travels in the module as an ELF note of the packaging
// metadata convention: owner "FDO", type 0xcafe1a7e, a JSON object.
static bool FindPackageNote(const std::string& image, std::string& json) {
    if (image.size() < sizeof(Elf64_Ehdr) || memcmp(image.data(), ELFMAG, SELFMAG) != 0 ||
        image[EI_CLASS] != ELFCLASS64)
        return false;
    Elf64_Ehdr header;
    memcpy(&header, image.data(), sizeof header);
    for (unsigned i = 0; i < header.e_phnum; i++) {
        Elf64_Phdr segment;
        size_t at = header.e_phoff + (size_t)i * header.e_phentsize;
        if (at + sizeof segment > image.size())
            return false;
        memcpy(&segment, image.data() + at, sizeof segment);
        if (segment.p_type != PT_NOTE || segment.p_offset + segment.p_filesz > image.size())
            continue;
        size_t offset = segment.p_offset;
        size_t end = segment.p_offset + segment.p_filesz;
        while (offset + 12 <= end) {
            uint32_t fields[3];
            memcpy(fields, image.data() + offset, sizeof fields);
            size_t name = offset + 12;
            size_t desc = name + ((fields[0] + 3) & ~3u);
            size_t next = desc + ((fields[1] + 3) & ~3u);
            if (next > end)
                break;
            if (fields[2] == 0xcafe1a7e && fields[0] == 4 &&
                memcmp(image.data() + name, "FDO", 4) == 0) {
                json.assign(image.data() + desc, strnlen(image.data() + desc, fields[1]));
                return true;
            }
            offset = next;
        }
    }
    return false;
}

// The string value of a key in a flat JSON object without escapes.
static std::string JsonString(const std::string& json, const std::string& key) {
    std::string quoted = "\"" + key + "\":\"";
    size_t at = json.find(quoted);
    if (at == std::string::npos)
        return std::string();
    at += quoted.size();
    size_t end = json.find('"', at);
    return json.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

bool ReadVersionRecord(const std::string& path, std::string& record, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    std::string json;
    if (!file || !FindPackageNote(bytes.str(), json)) {
        error = "module '" + path + "' has no version record";
        return false;
    }
    std::ostringstream out;
    for (const char* field : VersionFields) {
        std::string key = field;
        key[0] = (char)(key[0] - 'A' + 'a');
        out << field << ": " << JsonString(json, key) << "\n";
    }
    out << "Language: " << JsonString(json, "language") << "\n";
    record = out.str();
    return true;
}

#endif

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
