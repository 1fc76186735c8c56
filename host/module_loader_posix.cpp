// Loading a module and reading its version record on Linux: dlopen, dlsym
// and the ELF note that carries the record.
#include "module_loader.h"

#include <fstream>
#include <sstream>
#include <stdint.h>
#include <string.h>

#include <dlfcn.h>
#include <elf.h>
#include <unistd.h>

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

void* OpenModule(const std::string& path, std::string& error) {
    // A name without a slash would make dlopen search the library path.
    std::string name = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = "cannot load module '" + path + "': " + (reason ? reason : "unknown error");
    }
    return handle;
}

void* FindEntry(void* module, const char* name) {
    return dlsym(module, name);
}

void CloseModule(void* module) {
    dlclose(module);
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

bool ReadVersionRecord(const PluginModule& module, std::string& record, std::string& error) {
    const std::string& path = module.path;
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
