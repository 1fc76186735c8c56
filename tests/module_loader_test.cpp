// The module loader that plugin-host, the test fixture and the benchmark
// share (host/module_loader.h): loading by path, the three entry points, the
// reason for a failure, the version record and unloading. Natively the
// record is read from the loaded module, so it is found even once the file
// is gone.
#include "child.h"
#include "host/module_loader.h"
#include "support/test_system.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#ifndef _WIN32
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

TEST(ModuleLoader, LoadsTheModuleFindsItsEntriesAndFreesIt) {
    TempDir dir("ep-loader");
    ASSERT_NE(dir.Path(), "");
    std::string path = dir.Join(ModuleFileName());
    ASSERT_TRUE(CopyFileTo(Beside(ModuleFileName()), path));
    PluginModule module;
    std::string error;
    ASSERT_TRUE(LoadPluginModule(path, module, error)) << error;
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

TEST(ModuleLoader, FailuresSayWhyAndLeaveNothingLoaded) {
    TempDir dir("ep-loader");
    ASSERT_NE(dir.Path(), "");
    std::string missing = dir.Join(ModuleFileName());
    PluginModule module;
    std::string error;
    EXPECT_FALSE(LoadPluginModule(missing, module, error));
    EXPECT_EQ(error.find("cannot load module '" + missing + "'"), 0u) << error;
    EXPECT_EQ(module.handle, nullptr);

    // A file that is no module at all.
    ASSERT_TRUE(WriteBytes(missing, "not a module\n"));
    error.clear();
    EXPECT_FALSE(LoadPluginModule(missing, module, error));
    EXPECT_EQ(error.find("cannot load module '" + missing + "'"), 0u) << error;

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

} // namespace
