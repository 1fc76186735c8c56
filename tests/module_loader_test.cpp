// The module loader that plugin-host, the test fixture and the benchmark
// share (host/module_loader.h): loading by path, the three entry points, the
// reason for a failure, the version record and unloading. Natively the
// record is read from the loaded module, so it is found even once the file
// is gone. Also where a module's settings file is, a folder given for the
// module, and on Windows replacing an import of the loaded module.
#include "child.h"
#include "host/module_loader.h"
#include "support/test_system.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#ifndef _WIN32
// Whether the object is loaded in this process; RTLD_NOLOAD loads nothing,
// and a handle it returns is given back at once.
bool StillLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
        dlclose(handle);
    return handle != nullptr;
}
#endif

std::string Beside(const char* name) {
    std::string self = SelfPath();
    return self.substr(0, self.find_last_of("/\\") + 1) + name;
}

// Each test with a new folder of its own, where the module is copied to
// path, and a module record for what it loads.
class ModuleLoader : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(dir.Path(), "");
    }
    // Copies the module built beside this program to path and loads it from
    // there.
    testing::AssertionResult LoadCopy() {
        if (!CopyFileTo(Beside(ModuleFileName()), path))
            return testing::AssertionFailure() << "cannot copy the module to " << path;
        if (!LoadPluginModule(path, module, error))
            return testing::AssertionFailure() << error;
        return testing::AssertionSuccess();
    }

    TempDir dir{"ep-loader"};
    std::string path = dir.Join(ModuleFileName());
    PluginModule module;
    std::string error;
};

// The version record's lines, in order, with the values every module has.
void ExpectRecord(const std::string& record) {
    const char* const starts[] = {"FileVersion: 1, 0, 0, 0\n",
                                  "ProductVersion: ",
                                  "FileDescription: Run external preprocessor plug-in\n",
                                  "Comments: ",
                                  "CompanyName: ",
                                  "LegalCopyright: ",
                                  "Language: 040904b0\n"};
    size_t at = 0;
    for (const char* start : starts) {
        EXPECT_EQ(record.compare(at, std::string(start).size(), start), 0)
            << "expected \"" << start << "\" at " << at << " of:\n"
            << record;
        at = record.find('\n', at);
        ASSERT_NE(at, std::string::npos) << record;
        at++;
    }
    EXPECT_EQ(at, record.size()) << record;
}

TEST_F(ModuleLoader, LoadsTheModuleFindsItsEntriesAndFreesIt) {
    ASSERT_TRUE(LoadCopy());
    EXPECT_EQ(module.path, path);
    EXPECT_NE(module.handle, nullptr);
    EXPECT_NE(module.onInstall, nullptr);
    EXPECT_NE(module.onCall, nullptr);
    EXPECT_NE(module.onSettings, nullptr);
    EXPECT_EQ(FindEntry(module.handle, "NoSuchEntry"), nullptr);
    std::string record;
    ASSERT_TRUE(ReadVersionRecord(module, record, error)) << error;
    ExpectRecord(record);
#ifndef _WIN32
    // The record is read from the loaded image, not from the file again.
    ASSERT_EQ(remove(path.c_str()), 0);
    std::string again;
    ASSERT_TRUE(ReadVersionRecord(module, again, error)) << error;
    EXPECT_EQ(again, record);
#endif
    FreePluginModule(module);
    EXPECT_EQ(module.handle, nullptr);
    EXPECT_EQ(module.onCall, nullptr);
    EXPECT_EQ(module.path, "");
#ifndef _WIN32
    EXPECT_FALSE(StillLoaded(path));
#endif
}

TEST_F(ModuleLoader, FailuresSayWhyAndLeaveNothingLoaded) {
    const std::string& missing = path;
    EXPECT_FALSE(LoadPluginModule(missing, module, error));
    EXPECT_EQ(error.find("cannot load module '" + missing + "'"), 0u) << error;
    EXPECT_EQ(module.handle, nullptr);

    // The system's description of why.
#ifdef _WIN32
    EXPECT_NE(error.find("(error 126)"), std::string::npos) << error;
#else
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
#endif

    // A file that is no module at all.
    ASSERT_TRUE(WriteBytes(missing, std::string(4096, 'x')));
    error.clear();
    EXPECT_FALSE(LoadPluginModule(missing, module, error));
    EXPECT_EQ(error.find("cannot load module '" + missing + "'"), 0u) << error;
#ifdef _WIN32
    EXPECT_NE(error.find("(error 193); it is no Windows DLL"), std::string::npos) << error;
#else
    EXPECT_NE(error.find("invalid ELF header"), std::string::npos) << error;
#endif

    // A library without the plug-in's entry points.
#ifdef _WIN32
    std::string other = "kernel32.dll";
#else
    std::string other = Beside("libvfork_is_fork.so");
#endif
    error.clear();
    EXPECT_FALSE(LoadPluginModule(other, module, error));
    EXPECT_EQ(error, "module '" + other + "' has no entry point OnInstall");
    EXPECT_EQ(module.handle, nullptr);
    EXPECT_EQ(module.onInstall, nullptr);
#ifndef _WIN32
    EXPECT_FALSE(StillLoaded(other));
#endif
    FreePluginModule(module); // holds nothing: does nothing
    EXPECT_EQ(module.handle, nullptr);
}

#ifdef _WIN32
// A module built for the other width: the system refuses it as no valid
// application (error 193), and the message says which plugin-host.exe and
// which DLL go together. The module's header is made to name the other
// machine, which is what the loader checks first.
TEST_F(ModuleLoader, AModuleOfTheOtherWidthSaysWhichGoTogether) {
    std::string bytes;
    ASSERT_TRUE(ReadBytes(Beside(ModuleFileName()), bytes));
    ASSERT_GT(bytes.size(), 0x40u);
    uint32_t headers = (uint8_t)bytes[0x3C] | (uint8_t)bytes[0x3D] << 8 |
                       (uint8_t)bytes[0x3E] << 16 | (uint32_t)(uint8_t)bytes[0x3F] << 24;
    ASSERT_LT(headers + 6, bytes.size());
    const bool wide = sizeof(void*) == 8;
    uint16_t other = wide ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
    bytes[headers + 4] = (char)(other & 0xFF);
    bytes[headers + 5] = (char)(other >> 8);
    ASSERT_TRUE(WriteBytes(path, bytes));
    EXPECT_FALSE(LoadPluginModule(path, module, error));
    EXPECT_NE(error.find("(error 193)"), std::string::npos) << error;
    std::string advice = wide ? "it is a 32-bit DLL, and this plugin-host.exe is 64-bit"
                              : "it is a 64-bit DLL, and this plugin-host.exe is 32-bit";
    EXPECT_NE(error.find(advice), std::string::npos) << error;
    EXPECT_EQ(module.handle, nullptr);
}

// plugin-host gives the module its own MessageBoxA this way: the module's
// import slot, filled by the loader with user32's function, then holds the
// replacement, and the module's calls go there.
TEST_F(ModuleLoader, ReplaceImportPointsTheModulesImportElsewhere) {
    ASSERT_TRUE(LoadCopy());
    void* system =
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "MessageBoxA"));
    ASSERT_NE(system, nullptr);
    int marker = 0;
    // The library's name in any case.
    EXPECT_EQ(ReplaceImport(module.handle, "user32.dll", "MessageBoxA", &marker), system);
    EXPECT_EQ(ReplaceImport(module.handle, "USER32.DLL", "MessageBoxA", system), &marker);
    EXPECT_EQ(ReplaceImport(module.handle, "user32.dll", "MessageBoxA", system), system);
    // Another library's import, and what the module does not import.
    void* create =
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateProcessA"));
    EXPECT_EQ(ReplaceImport(module.handle, "kernel32.dll", "CreateProcessA", create), create);
    EXPECT_EQ(ReplaceImport(module.handle, "user32.dll", "NoSuchFunction", &marker), nullptr);
    EXPECT_EQ(ReplaceImport(module.handle, "gdi32.dll", "MessageBoxA", &marker), nullptr);
    EXPECT_EQ(ReplaceImport(nullptr, "user32.dll", "MessageBoxA", &marker), nullptr);
    FreePluginModule(module);
}
#else
TEST_F(ModuleLoader, ReplaceImportFindsNoImportInALinuxModule) {
    ASSERT_TRUE(LoadPluginModule(Beside(ModuleFileName()), module, error)) << error;
    int marker = 0;
    EXPECT_EQ(ReplaceImport(module.handle, "libc.so.6", "write", &marker), nullptr);
    FreePluginModule(module);
}
#endif

// The module named by a folder is the module file in it; a file, or a path
// that names nothing, is taken as it is.
TEST_F(ModuleLoader, AFolderNamesTheModuleInIt) {
    const std::string& inside = path;
    EXPECT_EQ(ModuleInPath(dir.Path()), inside);
    EXPECT_EQ(ModuleInPath(dir.Path() + PathSeparator()), inside);
    EXPECT_EQ(ModuleInPath(inside), inside);
    ASSERT_TRUE(CopyFileTo(Beside(ModuleFileName()), inside));
    EXPECT_EQ(ModuleInPath(inside), inside);
    EXPECT_TRUE(LoadPluginModule(ModuleInPath(dir.Path()), module, error)) << error;
    FreePluginModule(module);
}

// The settings file is derived as the module derives it: the last dot of
// the whole path starts the extension; a module named .ini, or without a
// dot, gets ".ini" appended; a path too long for the module gives none.
TEST_F(ModuleLoader, SettingsPathFollowsTheModulesRule) {
    EXPECT_EQ(SettingsPathOf("/p/external_preprocessor.so"), "/p/external_preprocessor.ini");
    EXPECT_EQ(SettingsPathOf("C:\\Hosts\\pp.DLL"), "C:\\Hosts\\pp.ini");
    EXPECT_EQ(SettingsPathOf("/p/module"), "/p/module.ini");
    EXPECT_EQ(SettingsPathOf("/p/module.INI"), "/p/module.INI.ini");
    EXPECT_EQ(SettingsPathOf("/a.b/module"), "/a.ini");
    EXPECT_EQ(SettingsPathOf(""), "");
    // A settings path of 260 characters still fits the module's array; one of
    // 261 does not.
    std::string folder = "/" + std::string(250, 'x') + "/";
    EXPECT_EQ(SettingsPathOf(folder + "mmmm.so"), folder + "mmmm.ini");
    EXPECT_EQ(SettingsPathOf(folder + "mmmmm.so"), "");
    EXPECT_EQ(SettingsPathOf(std::string(261, 'y')), "");
}

// The loaded module's path, absolute, as the module reads its own.
TEST_F(ModuleLoader, LoadedModulePathIsTheFullPath) {
    ASSERT_TRUE(LoadCopy());
    std::string loaded = LoadedModulePath(module);
    FreePluginModule(module);
#ifdef _WIN32
    EXPECT_EQ(lstrcmpiA(loaded.c_str(), path.c_str()), 0) << loaded << " for " << path;
#else
    EXPECT_EQ(loaded, path);
#endif
    EXPECT_EQ(LoadedModulePath(module), "");
}

} // namespace
