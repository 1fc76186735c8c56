// Loading a module and reading its version record on Windows: LoadLibraryA,
// GetProcAddress and the version resource; and the module's import table,
// where a host may give the module its own version of a system function.
// Paths are ANSI text here, as plugin-host's command line gives them; the
// paths learnt from the system (the program's own, the loaded module's) are
// taken through the wide calls and given as ANSI text that names the very
// same file, never a look-alike of it.
#include "module_loader.h"

#include <fstream>
#include <sstream>
#include <stdio.h>
#include <string.h>

#include <windows.h>

const char* ModuleFileName() {
    return "external_preprocessor.dll";
}

// The ANSI form of a wide text: exact (exact true: false when the code page
// lacks a character), or else with "?" for each character it lacks.
static std::string Ansi(const std::wstring& wide, bool exact, bool* whole = nullptr) {
    BOOL used = FALSE;
    bool utf8 = GetACP() == CP_UTF8;
    DWORD flags = utf8 ? (exact ? WC_ERR_INVALID_CHARS : 0) : WC_NO_BEST_FIT_CHARS;
    BOOL* usedDefault = utf8 ? nullptr : &used;
    int length = WideCharToMultiByte(CP_ACP, flags, wide.c_str(), (int)wide.size(), nullptr, 0,
                                     nullptr, usedDefault);
    std::string ansi((size_t)(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_ACP, flags, wide.c_str(), (int)wide.size(), &ansi[0], length,
                            nullptr, usedDefault);
    if (whole != nullptr)
        *whole = (length > 0 || wide.empty()) && !used;
    return ansi;
}

// A path as ANSI text that names the same file: the path itself where the
// code page holds it, else with its folder's short (8.3) name (the file's
// own name must be held, as a settings file's name is made from it). Empty
// when neither serves.
static std::string AnsiPath(const std::wstring& path) {
    bool whole = false;
    std::string ansi = Ansi(path, true, &whole);
    if (whole)
        return ansi;
    size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return std::string();
    wchar_t folder[MAX_PATH + 1] = {};
    DWORD length = GetShortPathNameW(path.substr(0, slash).c_str(), folder, MAX_PATH + 1);
    bool folderWhole = false, nameWhole = false;
    std::string shortFolder = Ansi(folder, true, &folderWhole);
    std::string name = Ansi(path.substr(slash + 1), true, &nameWhole);
    if (length == 0 || length > MAX_PATH || !folderWhole || !nameWhole)
        return std::string();
    return shortFolder + "\\" + name;
}

// The full path of a loaded module (nullptr: this program), as the system
// names it.
static std::wstring WideModulePath(HMODULE module) {
    std::wstring path(32768, L'\0');
    DWORD length = GetModuleFileNameW(module, &path[0], (DWORD)path.size());
    path.resize(length < path.size() ? length : 0);
    return path;
}

// A Windows program's module lies beside it, as in each package. In a
// folder whose name the code page lacks and that has no short name, the
// path says so with a "?" for each character it lacks.
std::vector<std::string> DefaultModulePaths() {
    std::wstring self = WideModulePath(nullptr);
    size_t slash = self.find_last_of(L"\\/");
    std::wstring module =
        (slash == std::wstring::npos ? std::wstring() : self.substr(0, slash + 1)) +
        std::wstring(L"external_preprocessor.dll");
    std::string path = AnsiPath(module);
    return {path.empty() ? Ansi(module, false) : path};
}

char FolderSeparator() {
    return '\\';
}

bool IsDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The system's description of an error code, on one line, with the file's
// name where the description has a place for it ("%1").
static std::string SystemMessage(DWORD code, const std::string& file) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    for (char& c : message) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    size_t insert = message.find("%1");
    if (insert != std::string::npos)
        message.replace(insert, 2, "'" + file + "'");
    return message.empty() ? "error " + std::to_string(code) : message;
}

// The machine a module file is built for (IMAGE_FILE_MACHINE_I386 or
// IMAGE_FILE_MACHINE_AMD64), or 0 for a file that is no Windows image.
static WORD ImageMachine(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    IMAGE_DOS_HEADER dos;
    if (!file.read(reinterpret_cast<char*>(&dos), sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return 0;
    DWORD signature = 0;
    IMAGE_FILE_HEADER header;
    if (!file.seekg(dos.e_lfanew) || !file.read(reinterpret_cast<char*>(&signature), 4) ||
        signature != IMAGE_NT_SIGNATURE ||
        !file.read(reinterpret_cast<char*>(&header), sizeof header))
        return 0;
    return header.Machine;
}

// What to do about a module the system calls no valid application: one built
// for the other width, or no Windows module at all.
static std::string BadFormatAdvice(const std::string& path) {
    const bool wide = sizeof(void*) == 8;
    WORD machine = ImageMachine(path);
    const char* own = wide ? "64-bit" : "32-bit";
    const char* other = wide ? "32-bit" : "64-bit";
    if (machine == (wide ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64))
        return std::string("; it is a ") + other + " DLL, and this plugin-host.exe is " + own +
               ": a " + own + " plugin-host.exe needs the " + own + " DLL (the " +
               (wide ? "win64" : "win32") + " package), and a " + other + " DLL the " + other +
               " plugin-host.exe that comes with it (the " + (wide ? "win32" : "win64") +
               " package)";
    if (machine == 0)
        return "; it is no Windows DLL";
    return std::string();
}

void* OpenModule(const std::string& path, std::string& error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr) {
        DWORD code = GetLastError();
        error = "cannot load module '" + path + "': " + SystemMessage(code, path) + " (error " +
                std::to_string(code) + ")";
        if (code == ERROR_BAD_EXE_FORMAT)
            error += BadFormatAdvice(path);
    }
    return handle;
}

void* FindEntry(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void CloseModule(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

// The module reads its own path with room for 261 characters; a longer one
// would come back cut, and then the module has no settings file.
std::string LoadedModulePath(const PluginModule& module) {
    if (module.handle == nullptr)
        return std::string();
    std::wstring path = WideModulePath(static_cast<HMODULE>(module.handle));
    if (path.empty() || path.size() >= MODULE_PATH_CAPACITY)
        return std::string();
    return AnsiPath(path);
}

// Whether a lookup-table entry imports the function by this name (not by
// number).
static bool ImportsByName(const BYTE* base, const IMAGE_THUNK_DATA& entry, const char* name) {
    if (IMAGE_SNAP_BY_ORDINAL(entry.u1.Ordinal))
        return false;
    const auto* byName =
        reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + entry.u1.AddressOfData);
    return strcmp(reinterpret_cast<const char*>(byName->Name), name) == 0;
}

// The slot of the function in one library's part of the import table:
// found by name in the lookup table beside the slots the loader filled, or,
// for a part without a lookup table, by the address the loader put in the
// slot. nullptr when the part has no such slot.
static IMAGE_THUNK_DATA* FindSlot(BYTE* base, const IMAGE_IMPORT_DESCRIPTOR& import,
                                  const char* name, const void* exported) {
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import.FirstThunk);
    const auto* lookup =
        import.OriginalFirstThunk != 0
            ? reinterpret_cast<const IMAGE_THUNK_DATA*>(base + import.OriginalFirstThunk)
            : nullptr;
    for (; slot->u1.Function != 0; slot++) {
        bool match = lookup != nullptr ? ImportsByName(base, *lookup++, name)
                                       : exported != nullptr &&
                                             reinterpret_cast<void*>(slot->u1.Function) == exported;
        if (match)
            return slot;
    }
    return nullptr;
}

// Writes a new address into a slot, which the loader may have left
// read-only; returns the address it held, or nullptr when it cannot be
// written.
static void* SwapSlot(IMAGE_THUNK_DATA* slot, void* replacement) {
    DWORD protection = 0;
    if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection))
        return nullptr;
    void* previous = reinterpret_cast<void*>(slot->u1.Function);
    slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
    VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
    return previous;
}

// Walks the import descriptors of the loaded image to the library's part.
void* ReplaceImport(void* module, const char* library, const char* name, void* replacement) {
    BYTE* base = static_cast<BYTE*>(module);
    if (base == nullptr)
        return nullptr;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    HMODULE exporter = GetModuleHandleA(library);
    const void* exported =
        exporter ? reinterpret_cast<const void*>(GetProcAddress(exporter, name)) : nullptr;
    for (const auto* import =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         import->Name != 0; import++) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + import->Name), library) != 0)
            continue;
        IMAGE_THUNK_DATA* slot = FindSlot(base, *import, name, exported);
        if (slot != nullptr)
            return SwapSlot(slot, replacement);
    }
    return nullptr;
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
