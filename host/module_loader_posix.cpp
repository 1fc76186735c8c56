// Loading a module and reading its version record on Linux: dlopen, dlsym
// and the ELF note that carries the record, found with dl_iterate_phdr.
#include "module_loader.h"

#include <sstream>
#include <stdint.h>
#include <string.h>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

const char* ModuleFileName() {
    return "external_preprocessor.so";
}

// The folder of the program's real file, as /proc/self/exe has it with every
// symbolic link resolved; "." when /proc cannot tell.
static std::string ProgramFolder() {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self = length > 0 ? std::string(path, (size_t)length) : std::string();
    size_t slash = self.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : self.substr(0, slash);
}

std::vector<std::string> DefaultModulePaths() {
    std::string folder = ProgramFolder();
    std::string beside = (folder == "/" ? "" : folder) + "/" + ModuleFileName();
    // bin/ and lib/ share a parent: /usr/local/bin and /usr/local/lib.
    size_t slash = folder.rfind('/');
    std::string parent = slash == std::string::npos ? folder + "/.." : folder.substr(0, slash);
    return {beside, parent + "/lib/external-preprocessor/" + ModuleFileName()};
}

char FolderSeparator() {
    return '/';
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PathExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
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

// As the platform layer inside the module finds it: the name the module was
// loaded under, made absolute with the current directory.
std::string LoadedModulePath(const PluginModule& module) {
    Dl_info info;
    if (module.onInstall == nullptr ||
        dladdr(reinterpret_cast<void*>(module.onInstall), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    std::string name = info.dli_fname;
    if (name.empty() || name[0] == '/')
        return name;
    char folder[4096];
    if (getcwd(folder, sizeof folder) == nullptr)
        return std::string();
    std::string path = folder;
    if (path.back() != '/')
        path += '/';
    return path + (name.compare(0, 2, "./") == 0 ? name.substr(2) : name);
}

void* ReplaceImport(void* module, const char* library, const char* name, void* replacement) {
    (void)module;
    (void)library;
    (void)name;
    (void)replacement;
    return nullptr;
}

// The version record travels in the module as an ELF note of the packaging
// metadata convention: owner "FDO", type 0xcafe1a7e, a JSON object. It is read
// from the module as it is loaded, in the PT_NOTE segments of the loaded
// object that holds the given address, so ELF32 and ELF64 modules alike.
struct NoteSearch {
    uintptr_t address; // inside the module: one of its entry points
    bool found;
    std::string json;
};

// Whether a loaded segment of the object holds the address.
static bool HoldsAddress(const struct dl_phdr_info* info, uintptr_t address) {
    for (unsigned i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        uintptr_t start = info->dlpi_addr + segment.p_vaddr;
        if (segment.p_type == PT_LOAD && address >= start && address - start < segment.p_memsz)
            return true;
    }
    return false;
}

// The notes of one PT_NOTE segment: each a header, the owner's name and the
// description, both padded to the segment's alignment (4, or 8 for notes
// laid out so).
static bool FindPackageNote(const char* notes, size_t size, size_t alignment, std::string& json) {
    size_t offset = 0;
    while (offset + sizeof(ElfW(Nhdr)) <= size) {
        ElfW(Nhdr) header;
        memcpy(&header, notes + offset, sizeof header);
        size_t name = offset + sizeof header;
        size_t desc = name + ((header.n_namesz + alignment - 1) & ~(alignment - 1));
        size_t next = desc + ((header.n_descsz + alignment - 1) & ~(alignment - 1));
        if (next > size || desc + header.n_descsz > size)
            break;
        if (header.n_type == 0xcafe1a7e && header.n_namesz == 4 &&
            memcmp(notes + name, "FDO", 4) == 0) {
            json.assign(notes + desc, strnlen(notes + desc, header.n_descsz));
            return true;
        }
        offset = next;
    }
    return false;
}

static int SearchObject(struct dl_phdr_info* info, size_t, void* data) {
    NoteSearch& search = *static_cast<NoteSearch*>(data);
    if (!HoldsAddress(info, search.address))
        return 0;
    for (unsigned i = 0; i < info->dlpi_phnum && !search.found; i++) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_NOTE)
            continue;
        const char* notes = reinterpret_cast<const char*>(info->dlpi_addr + segment.p_vaddr);
        size_t alignment = segment.p_align == 8 ? 8 : 4;
        search.found = FindPackageNote(notes, segment.p_memsz, alignment, search.json);
    }
    // The object holding the address is the module: the search ends there.
    return 1;
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
    NoteSearch search = {reinterpret_cast<uintptr_t>(module.onInstall), false, std::string()};
    if (module.onInstall != nullptr)
        dl_iterate_phdr(SearchObject, &search);
    const std::string& json = search.json;
    if (!search.found) {
        error = "module '" + module.path + "' has no version record";
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
