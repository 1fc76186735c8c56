// Test support: the module in a private directory and a recording fake
// host, the same on every platform; capturing the message boxes is
// plugin_fixture_posix.cpp's and plugin_fixture_win.cpp's.
#include "plugin_fixture.h"
#include "child.h"

#include <stdio.h>
#include <string.h>

namespace {

FakeHost* Current = nullptr;

int32_t PLUGIN_CALL FakeGetTargetHandle(uint32_t* handle) {
    Current->calls.push_back("GetTargetHandle");
    *handle = Current->handle;
    return 1;
}

int32_t PLUGIN_CALL FakeGetTargetText(uint32_t handle, char* buffer, int32_t capacity) {
    Current->calls.push_back("GetTargetText");
    Current->handlesSeen.push_back(handle);
    size_t length =
        Current->text.size() < (size_t)capacity ? Current->text.size() : (size_t)capacity;
    memcpy(buffer, Current->text.data(), length);
    buffer[length] = '\0';
    if (Current->duringGetText)
        Current->duringGetText();
    return 1;
}

int32_t PLUGIN_CALL FakeSetTargetText(uint32_t handle, const char* text) {
    Current->calls.push_back("SetTargetText");
    Current->handlesSeen.push_back(handle);
    Current->replaced = true;
    Current->replacement = text;
    return 1;
}

std::string DirOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

FakeHost::FakeHost() {
    memset(&context, 0, sizeof context);
    context.GetTargetHandle = FakeGetTargetHandle;
    context.GetTargetText = FakeGetTargetText;
    context.SetTargetText = FakeSetTargetText;
}

void FakeHost::SetText(const char* field, const std::string& value) {
    char* target = nullptr;
    if (strcmp(field, "u") == 0)
        target = context.TextU;
    else if (strcmp(field, "p") == 0)
        target = context.TextP;
    else if (strcmp(field, "d") == 0)
        target = context.TextD;
    else if (strcmp(field, "o") == 0)
        target = context.TextO;
    else
        target = context.TextN;
    snprintf(target, HOST_TEXT_SIZE, "%s", value.c_str());
}

// A value in quotes from end to end is stored inside one more pair, as the
// plug-in itself saves it: reading strips one pair.
static std::string Stored(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return "\"" + value + "\"";
    return value;
}

std::string SettingsText(const std::string& workingDirectory, const std::string& commandLine) {
    return "[Path]\r\nWorkingDirectory=" + Stored(workingDirectory) +
           "\r\nCommandLine=" + Stored(commandLine) + "\r\n";
}

testing::AssertionResult IsOnlyBox(const std::vector<Box>& boxes, const std::string& caption,
                                   const std::string& text, BoxText match) {
    if (boxes.size() != 1) {
        testing::AssertionResult failure = testing::AssertionFailure();
        failure << boxes.size() << " boxes, not one:";
        for (const Box& box : boxes)
            failure << "\n  \"" << box.caption << "\": " << box.text;
        return failure;
    }
    const Box& box = boxes[0];
    if (box.caption != caption)
        return testing::AssertionFailure() << "caption \"" << box.caption << "\", not \"" << caption
                                           << "\"; text: " << box.text;
    size_t at = box.text.find(text);
    bool found = match == BoxText::Is           ? box.text == text
                 : match == BoxText::StartsWith ? at == 0
                                                : at != std::string::npos;
    if (!found)
        return testing::AssertionFailure()
               << "the box says:\n"
               << box.text << "\nnot " << (match == BoxText::Is ? "exactly" : "with") << ":\n"
               << text;
    bool hostOwns = caption == "Error";
    if (BoxOwnersSeen && (box.ownedByHost != hostOwns || box.hasOwner != hostOwns))
        return testing::AssertionFailure()
               << "\"" << caption << "\" box " << (box.hasOwner ? "has" : "has no") << " owner";
    return testing::AssertionSuccess();
}

std::string QuotedSelf() {
    return std::string("\"") + SelfPath() + "\"";
}

std::string LoadedPlugin::SettingsPath() const {
    std::string name = ModuleFileName();
    return PathJoin(dir_, name.substr(0, name.rfind('.')) + ".ini");
}

int32_t LoadedPlugin::Install(FakeHost& host, const std::string& workingDirectory,
                              const std::string& commandLine, PluginInfo* info) {
    WriteBytes(SettingsPath(), SettingsText(workingDirectory, commandLine));
    return InstallOnly(host, info);
}

int32_t LoadedPlugin::InstallOnly(FakeHost& host, PluginInfo* info) {
    if (info == nullptr) {
        static unsigned char Scratch[8 + 64];
        info = reinterpret_cast<PluginInfo*>(Scratch);
    }
    return module_.onInstall(info, &host.context);
}

int32_t LoadedPlugin::Settings() {
    return module_.onSettings();
}

bool LoadedPlugin::Load(std::string& error) {
    std::string dir = MakeTempDir();
    if (dir.empty()) {
        error = "cannot make a temporary directory";
        return false;
    }
    return LoadIn(dir, error);
}

bool LoadedPlugin::LoadIn(const std::string& dir, std::string& error) {
    dir_ = dir;
    std::string copy = PathJoin(dir_, ModuleFileName());
    std::string built = PathJoin(DirOf(SelfPath()), ModuleFileName());
    if (!CopyFileTo(built, copy)) {
        error = "cannot copy " + built;
        return false;
    }
    void* handle = OpenModuleNamed(copy, error);
    return handle != nullptr && BindPluginModule(handle, copy, module_, error);
}

void LoadedPlugin::Unload() {
    FreePluginModule(module_);
    if (!dir_.empty())
        RemoveTree(dir_);
    dir_.clear();
}

std::vector<Box> LoadedPlugin::Call(FakeHost& host, const std::function<void()>& before,
                                    const std::function<void()>& after) {
    return CaptureBoxes(host.context, dir_, [&] {
        if (before)
            before();
        CallUncaptured(host);
        if (after)
            after();
    });
}

void LoadedPlugin::CallUncaptured(FakeHost& host) {
    FakeHost* outer = Current;
    Current = &host;
    module_.onCall();
    Current = outer;
}

LoadedPlugin PluginRuns::plugin;

void PluginRuns::SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(plugin.Load(error)) << error;
}

void PluginRuns::TearDownTestSuite() {
    plugin.Unload();
}

void PluginRuns::SetUp() {
    work = MakeTempDir();
    ASSERT_FALSE(work.empty());
}

void PluginRuns::TearDown() {
    for (const std::string& name : ListDir(work))
        EXPECT_TRUE(kept.count(name) == 1) << "left behind: " << name;
    RemoveTree(work);
}

std::string PluginRuns::Child(const std::string& mode) {
    return QuotedSelf() + " --child " + mode;
}
