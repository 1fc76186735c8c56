// Names outside the code page: the module, its settings file, the temporary
// directory and WorkingDirectory in folders whose names the ANSI code page
// lacks (or holds), the environment's values, and a settings file that
// begins with a UTF-8 byte order mark. Under Wine the test prefix has code
// page 1252, where Windows' best fit makes look-alikes of such names
// ("Lódz" of "Łódź"); natively the locale is UTF-8 (set for this test).
#include "support/plugin_fixture.h"
#include "child.h"

#include <gtest/gtest.h>

#include <string.h>

namespace {

// (cppcheck does not see the members read through GetParam().)
struct Folder {
    // cppcheck-suppress unusedStructMember
    const char* name; // UTF-8
    // What best fit makes of it in code page 1252 where that can name a
    // folder, else NULL.
    // cppcheck-suppress unusedStructMember
    const char* lookAlike;
};

const Folder Folders[] = {
    {"Łódź", "Lódz"},
    {"日本", nullptr}, // "??" in code page 1252
    {"Café", nullptr}, // inside code page 1252
};

// Points the system's temporary directory at a folder for a scope.
class TempDirectoryAt {
  public:
    explicit TempDirectoryAt(const std::string& dir) : had_(ReadVariable(TempVariable, old_)) {
        SetVariable(TempVariable, dir.c_str());
    }
    ~TempDirectoryAt() {
        SetVariable(TempVariable, had_ ? old_.c_str() : nullptr);
    }
    TempDirectoryAt(const TempDirectoryAt&) = delete;
    TempDirectoryAt& operator=(const TempDirectoryAt&) = delete;

  private:
    std::string old_;
    bool had_;
};

std::string Child(const std::string& mode) {
    return QuotedSelf() + " --child " + mode;
}

std::string ModuleSettings(const std::string& dir) {
    std::string name = ModuleFileName();
    return PathJoin(dir, name.substr(0, name.rfind('.')) + ".ini");
}

// The module in a folder of the table, its settings beside it, and the
// look-alike folder beside that with settings of its own that no run may
// read and a temporary directory that no run may use.
class NamedFolder : public testing::TestWithParam<Folder> {
  protected:
    void SetUp() override {
        ASSERT_FALSE(base.Path().empty());
        dir = base.Join(GetParam().name);
        ASSERT_TRUE(MakeDir(dir)) << dir;
        if (GetParam().lookAlike != nullptr) {
            lookAlike = base.Join(GetParam().lookAlike);
            ASSERT_TRUE(MakeDir(lookAlike));
            WriteBytes(ModuleSettings(lookAlike), SettingsText(lookAlike, Child("write 9")));
        }
        std::string error;
        ASSERT_TRUE(plugin.LoadIn(dir, error)) << error;
        host.text = "select 1;\r\n";
    }
    void TearDown() override {
        plugin.Unload();
        if (!lookAlike.empty()) {
            EXPECT_EQ(ListDir(lookAlike).size(), 1u) << "the look-alike folder was used";
        }
    }
    // The names in the module's folder but the module and its settings.
    std::vector<std::string> LeftInDir() {
        std::vector<std::string> left;
        for (const std::string& name : ListDir(dir)) {
            if (name != ModuleFileName() && PathJoin(dir, name) != plugin.SettingsPath())
                left.push_back(name);
        }
        return left;
    }

    TempDir base{"ep-names"};
    std::string dir;
    std::string lookAlike;
    LoadedPlugin plugin;
    FakeHost host;
};

// The settings are read from beside the module, the temporary files are made
// in the system's temporary directory there, the program opens its input
// file by the name it is given, and the files are removed again.
TEST_P(NamedFolder, ModuleSettingsAndTemporaryDirectoryThere) {
    TempDirectoryAt temp(dir);
    plugin.Install(host, "", Child("cat %f"));
    EXPECT_TRUE(plugin.Call(host).empty());
    EXPECT_TRUE(host.replaced);
    EXPECT_EQ(host.replacement, host.text);
    EXPECT_TRUE(LeftInDir().empty());
}

// WorkingDirectory, an ANSI text, names the folder as the code page holds it
// or by its short name; the program is given the input file's path in it.
TEST_P(NamedFolder, WorkingDirectoryThere) {
    std::string ansi = AnsiName(dir);
    ASSERT_FALSE(ansi.empty());
    plugin.Install(host, ansi, Child("echo-args %f"));
    EXPECT_TRUE(plugin.Call(host).empty());
    std::string given = host.replacement.substr(host.replacement.find(':') + 1);
    EXPECT_EQ(given.find(PathJoin(ansi, "se")), 0u) << given;
    EXPECT_TRUE(LeftInDir().empty());
}

INSTANTIATE_TEST_SUITE_P(Folders, NamedFolder, testing::ValuesIn(Folders),
                         [](const testing::TestParamInfo<Folder>& param) {
                             return "Folder" + std::to_string(param.index);
                         });

#ifdef _WIN32
// Where 8.3 names are off (the default on every volume but the system's since
// Windows 8), GetShortPathNameW gives the long name back; Wine makes a short
// name for every name, so the module's import of it is replaced by this.
DWORD WINAPI LongNameOnly(LPCWSTR path, LPWSTR shortPath, DWORD size) {
    DWORD length = (DWORD)wcslen(path);
    if (length + 1 > size)
        return length + 1;
    memcpy(shortPath, path, (length + 1) * sizeof(WCHAR));
    return length;
}
// A name the code page lacks.
const char Unheld[] = "Łódź";
#else
// Linux names have no short form; a name the locale's character set (UTF-8)
// lacks is a byte that no UTF-8 character has.
const char Unheld[] = "caf\xE9";
#endif

// A temporary directory whose name the code page lacks, without a short
// name: nothing runs, the box names the folder as it is, and nothing is
// left there.
TEST(Names, TemporaryDirectoryWithoutAnsiNameGivesTheBox) {
    TempDir base("ep-names");
    std::string dir = base.Join(Unheld);
    ASSERT_TRUE(MakeDir(dir));
    LoadedPlugin plugin;
    std::string error;
    ASSERT_TRUE(MakeDir(base.Join("module")));
    ASSERT_TRUE(plugin.LoadIn(base.Join("module"), error)) << error;
#ifdef _WIN32
    ASSERT_NE(ReplaceImport(plugin.Module().handle, "kernel32.dll", "GetShortPathNameW",
                            reinterpret_cast<void*>(&LongNameOnly)),
              nullptr);
#endif
    TempDirectoryAt temp(dir);
    FakeHost host;
    host.text = "kept";
    std::string mark = base.Join("ran");
    plugin.Install(host, "", Child("mark \"" + mark + "\" %f"));
    std::vector<Box> boxes = plugin.Call(host);
    EXPECT_TRUE(IsOnlyBox(boxes, "Error", "Set WorkingDirectory in section [Path]"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].utf8.find(std::string("'") + dir), std::string::npos) << boxes[0].utf8;
    EXPECT_FALSE(host.replaced);
    EXPECT_FALSE(FileExists(mark));
    EXPECT_TRUE(ListDir(dir).empty());
    plugin.Unload();
}

// Every variable of the host's environment reaches the program as it was,
// with TextsInEnvironment off (the host's own block) and on (a block of the
// plug-in's, with the PREPROCESSOR variables): characters the code page
// lacks, and on Linux a byte that no character of the locale's set has.
TEST(Names, EnvironmentReachesTheProgramAsItWas) {
    std::vector<std::pair<const char*, std::string>> variables = {
        {"EP_TEST_PATHLIKE", "C:\\Users\\Łukasz\\bin"}, {"EP_TEST_JAPAN", "日本"}};
#ifndef _WIN32
    variables.push_back({"EP_TEST_BYTES", "caf\xE9"});
#endif
    std::string names, expected;
    for (const auto& variable : variables) {
        SetVariable(variable.first, variable.second.c_str());
        names += std::string(" ") + variable.first;
        expected += std::string(variable.first) + "=" + variable.second + "\n";
    }
    LoadedPlugin plugin;
    std::string error;
    ASSERT_TRUE(plugin.Load(error)) << error;
    for (const char* options : {"", "[Run]\r\nTextsInEnvironment=1\r\n"}) {
        SCOPED_TRACE(options);
        FakeHost host;
        WriteBytes(plugin.SettingsPath(), SettingsText("", Child("env" + names)) + options);
        plugin.InstallOnly(host);
        EXPECT_TRUE(plugin.Call(host).empty());
        EXPECT_EQ(host.replacement, expected);
    }
    plugin.Unload();
    for (const auto& variable : variables)
        SetVariable(variable.first, nullptr);
}

// A settings file that begins with a UTF-8 byte order mark: Windows (and the
// Linux layer) read the mark as part of the first line, so a section header
// there is none, and the box says why. Wine skips the mark. (The run's tests
// hold the box for a file without the mark word for word.)
TEST(Names, SettingsFileWithUtf8MarkIsNamedInTheBox) {
    const std::string mark = "The settings file begins with a UTF-8 byte order mark, which "
                             "Windows reads as part of its first line: save it as ANSI.";
    LoadedPlugin plugin;
    std::string error;
    ASSERT_TRUE(plugin.Load(error)) << error;
    const struct {
        std::string file;
        bool wineRuns; // Wine finds the command line, Windows does not
    } cases[] = {
        {"\xEF\xBB\xBF[Path]\r\nCommandLine=" + Child("write 3") + "\r\n", true},
        {"\xEF\xBB\xBF[Path]\r\nWorkingDirectory=\r\n", false},
    };
    for (const auto& test : cases) {
        WriteBytes(plugin.SettingsPath(), test.file);
        FakeHost host;
        host.text = "kept";
        plugin.InstallOnly(host);
        std::vector<Box> boxes = plugin.Call(host);
        if (test.wineRuns && RunsUnderWine()) {
            EXPECT_TRUE(boxes.empty());
            EXPECT_EQ(host.replacement, "abc");
            continue;
        }
        EXPECT_TRUE(
            IsOnlyBox(boxes, "Execute Error!",
                      "The file holds no CommandLine in that section, or an empty one.\n" + mark,
                      BoxText::Holds));
        EXPECT_FALSE(host.replaced);
    }
    plugin.Unload();
}

} // namespace
