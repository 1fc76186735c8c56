// The module's boundary: what OnInstall reports and keeps, and where the
// settings come from. Runs natively and, cross-built, under Windows.
#include "support/plugin_fixture.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

class Module : public testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(plugin.Load(error)) << error;
    }
    void TearDown() override {
        plugin.Unload();
    }
    std::string Echo() {
        return QuotedSelf() + " --child echo-args";
    }
    LoadedPlugin plugin;
};

TEST_F(Module, InstallWithoutSettingsFileReportsTitleAndKind) {
    ASSERT_FALSE(FileExists(plugin.SettingsPath()));
    unsigned char bytes[64];
    memset(bytes, 0xAB, sizeof bytes);
    PluginInfo* info = reinterpret_cast<PluginInfo*>(bytes);
    FakeHost host;
    EXPECT_EQ(plugin.InstallOnly(host, info), 0);
    EXPECT_EQ(info->Kind, 16u);
    EXPECT_STREQ(reinterpret_cast<char*>(bytes + 8), "External Preprocessor");
    // The host's own field and everything past the 22 bytes stay untouched.
    EXPECT_EQ(bytes[0], 0xAB);
    EXPECT_EQ(bytes[3], 0xAB);
    EXPECT_EQ(bytes[8 + 22], 0xAB);
    // Empty settings: an empty template, which nothing can start.
    host.text = "kept";
    std::vector<Box> boxes = plugin.Call(host);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Execute Error!");
    EXPECT_EQ(boxes[0].text.find("\nNo command line is set."), 0u) << boxes[0].text;
    EXPECT_FALSE(FileExists(plugin.SettingsPath()));
}

TEST_F(Module, SecondInstallReloadsSettingsAndTakesTheNewContext) {
    FakeHost first;
    plugin.Install(first, "", Echo() + " first");
    FakeHost second;
    plugin.Install(second, "", Echo() + " second %u");
    second.SetText("u", "user");
    plugin.Call(second);
    EXPECT_TRUE(first.calls.empty());
    EXPECT_EQ(second.replacement, "6:second\n4:user\n");
}

TEST_F(Module, SettingsAreReadWithTheProfileRules) {
    // Section and key names in any case, blanks around names and values,
    // comments, LF line ends; a value is cut to 259 characters.
    std::string value = "second " + std::string(300, 'v');
    std::string command = Echo() + " " + value;
    WriteBytes(plugin.SettingsPath(), "; comment\n[other]\nCommandLine=wrong\n\n[ path ]\n"
                                      "  commandline =  " +
                                          command + "  \nWorkingDirectory=\n");
    FakeHost host;
    plugin.InstallOnly(host);
    plugin.Call(host);
    std::string expected = command.substr(0, 259).substr(Echo().size() + 1);
    size_t space = expected.find(' ');
    std::string last = expected.substr(space + 1);
    EXPECT_EQ(host.replacement, "6:second\n" + std::to_string(last.size()) + ":" + last + "\n");
}

TEST_F(Module, EmptyWorkingDirectoryUsesTheSystemTemporaryDirectory) {
    FakeHost host;
    plugin.Install(host, "", Echo() + " %f");
    plugin.Call(host);
    std::string path = host.replacement.substr(host.replacement.find(':') + 1);
    path.pop_back();
    size_t slash = path.find_last_of("/\\");
    ASSERT_NE(slash, std::string::npos);
    std::string dir = path.substr(0, slash + 1);
    EXPECT_EQ(path.substr(slash + 1, 2), "se");
#ifdef _WIN32
    char temp[MAX_PATH + 1];
    GetTempPathA(MAX_PATH, temp);
    EXPECT_EQ(dir, std::string(temp));
#else
    const char* env = getenv("TMPDIR");
    std::string temp = env && *env ? env : "/tmp";
    if (temp.back() != '/')
        temp += '/';
    EXPECT_EQ(dir, temp);
#endif
    EXPECT_FALSE(FileExists(path));
}

// A host that breaks the calling order must not lose its user's work to a
// crash in the module: OnCall before any OnInstall does nothing, and a null
// record given to OnInstall is left alone.
TEST_F(Module, OnCallBeforeOnInstallAndNullRecordsDoNothing) {
    const PluginModule& module = plugin.Module();
    std::string mark = PathJoin(plugin.Dir(), "ran.txt");
    WriteBytes(plugin.SettingsPath(),
               SettingsText("", QuotedSelf() + " --child mark \"" + mark + "\" %f"));
    module.onCall();
    EXPECT_FALSE(FileExists(mark)) << "a program ran before OnInstall";

    // No host at all: the settings are loaded, and a run has no one to ask.
    EXPECT_EQ(module.onInstall(nullptr, nullptr), 0);
    module.onCall();
    EXPECT_FALSE(FileExists(mark)) << "a program ran without a host";

    // No PluginInfo: the host's context is kept all the same.
    FakeHost host;
    host.text = "text";
    EXPECT_EQ(module.onInstall(nullptr, &host.context), 0);
    plugin.Call(host);
    EXPECT_TRUE(FileExists(mark));
    EXPECT_TRUE(host.replaced);

    // A PluginInfo and no context: the record is filled, and later runs do
    // nothing.
    unsigned char bytes[64] = {};
    PluginInfo* info = reinterpret_cast<PluginInfo*>(bytes);
    EXPECT_EQ(module.onInstall(info, nullptr), 0);
    EXPECT_EQ(info->Kind, 16u);
    FakeHost ignored;
    EXPECT_TRUE(plugin.Call(ignored).empty());
    EXPECT_TRUE(ignored.calls.empty());
}

} // namespace
