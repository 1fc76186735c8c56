// The preprocessor run end to end: the real module, loaded by a fake host,
// runs this test program in a child mode as its external program. The same
// cases run natively and, cross-built, under Windows (Wine).
#include "support/plugin_fixture.h"
#include "child.h"

#include <gtest/gtest.h>

#include <ctype.h>
#include <set>
#include <stdlib.h>
#include <string.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

class Run : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(plugin.Load(error)) << error;
    }
    static void TearDownTestSuite() {
        plugin.Unload();
    }
    void SetUp() override {
        work = MakeTempDir();
        ASSERT_FALSE(work.empty());
    }
    void TearDown() override {
        // Whatever happened, the run leaves no temporary file behind.
        for (const std::string& name : ListDir(work))
            EXPECT_TRUE(kept.count(name) == 1) << "left behind: " << name;
        RemoveTree(work);
    }

    // Installs with the template and runs once.
    std::vector<Box> RunWith(const std::string& commandLine, const std::string& directory) {
        plugin.Install(host, directory, commandLine);
        return plugin.Call(host);
    }
    std::vector<Box> RunWith(const std::string& commandLine) {
        return RunWith(commandLine, work);
    }
    std::string Child(const std::string& mode) {
        return QuotedSelf() + " --child " + mode;
    }
    std::vector<std::string> Calls(std::initializer_list<const char*> names) {
        return std::vector<std::string>(names.begin(), names.end());
    }

    static LoadedPlugin plugin;
    std::string work;
    std::set<std::string> kept;
    FakeHost host;
};

LoadedPlugin Run::plugin;

// Whether a name ends in ".TMP". Windows names temporary files so; Wine
// writes the extension in lower case.
bool EndsInTmp(const std::string& name) {
    if (name.size() < 4)
        return false;
    std::string end = name.substr(name.size() - 4);
    for (char& c : end)
        c = (char)toupper((unsigned char)c);
    return end == ".TMP";
}

// "<length>:<bytes>\n" for each argument, as the echo-args mode writes them.
std::string Echoed(const std::vector<std::string>& args) {
    std::string out;
    for (const std::string& arg : args)
        out += std::to_string(arg.size()) + ":" + arg + "\n";
    return out;
}

TEST_F(Run, CopyingFilterHandsTheTextBackByteForByte) {
    std::string text = "select 1;\r\n-- caf\xE9 \x80\xFF\r\nline\n\ttab";
    host.text = text;
    EXPECT_TRUE(RunWith(Child("cat %f")).empty());
    EXPECT_EQ(host.calls, Calls({"GetTargetHandle", "GetTargetText", "SetTargetText"}));
    EXPECT_TRUE(host.replaced);
    EXPECT_EQ(host.replacement, text);
    // The host's handle comes back unchanged with both later callbacks.
    EXPECT_EQ(host.handlesSeen, std::vector<uint32_t>({host.handle, host.handle}));
}

TEST_F(Run, FullSizedTextGoesOutWholeAndLongOutputIsCut) {
    host.text = std::string(TEXT_CAPACITY, 'x');
    RunWith(Child("cat %f"));
    EXPECT_EQ(host.replacement, host.text);

    FakeHost again;
    again.text = "ignored";
    plugin.Install(again, work, Child("write 150000"));
    plugin.Call(again);
    ASSERT_EQ(again.replacement.size(), (size_t)TEXT_CAPACITY);
    EXPECT_EQ(again.replacement.substr(0, 5), "abcde");
}

TEST_F(Run, FailingProgramThatPrintsNothingEmptiesTheText) {
    host.text = "keep me?";
    EXPECT_TRUE(RunWith(Child("exit 3")).empty());
    EXPECT_TRUE(host.replaced);
    EXPECT_EQ(host.replacement, "");
}

TEST_F(Run, ProgramKilledBySignalHandsBackWhatItWrote) {
    host.text = "text";
    EXPECT_TRUE(RunWith(Child("kill")).empty());
    EXPECT_TRUE(host.replaced);
    EXPECT_EQ(host.replacement, "partial");
}

TEST_F(Run, ProgramSeesEndOfInputAndItsErrorsAreLost) {
    host.text = "text";
    RunWith(Child("stdin"));
    EXPECT_EQ(host.replacement, "eof 0");
    FakeHost again;
    plugin.Install(again, work, Child("stderr oops"));
    EXPECT_TRUE(plugin.Call(again).empty());
    EXPECT_EQ(again.replacement, "out");
}

TEST_F(Run, MissingProgramShowsExecuteErrorAndKeepsText) {
    host.text = "original";
    std::string missing = PathJoin(work, "no-such-program");
    std::vector<Box> boxes = RunWith("\"" + missing + "\" %f");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Execute Error!");
    // The box shows the expanded line: the input file's path took "%f"'s place.
    EXPECT_EQ(boxes[0].text.find("\"" + missing + "\" " + PathJoin(work, "se")), 0u)
        << boxes[0].text;
    EXPECT_TRUE(EndsInTmp(boxes[0].text)) << boxes[0].text;
#ifdef _WIN32
    EXPECT_FALSE(boxes[0].hasOwner);
#endif
    EXPECT_FALSE(host.replaced);
    EXPECT_EQ(host.calls, Calls({"GetTargetHandle", "GetTargetText"}));
}

TEST_F(Run, EmptyTemplateShowsEmptyExecuteErrorAndKeepsText) {
    host.text = "original";
    std::vector<Box> boxes = RunWith("");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Execute Error!");
    EXPECT_EQ(boxes[0].text, "");
    EXPECT_FALSE(host.replaced);
    EXPECT_EQ(host.calls, Calls({"GetTargetHandle", "GetTargetText"}));
}

TEST_F(Run, HostWithoutOptionalCallbacksStillRunsTheProgram) {
    host.context.GetTargetHandle = nullptr;
    host.text = "no handle";
    RunWith(Child("cat %f"));
    EXPECT_EQ(host.calls, Calls({"GetTargetText", "SetTargetText"}));
    EXPECT_EQ(host.replacement, "no handle");

    FakeHost silent;
    silent.context.SetTargetText = nullptr;
    silent.text = "unused";
    std::string mark = PathJoin(work, "ran.txt");
    kept.insert("ran.txt");
    plugin.Install(silent, work, Child("mark \"" + mark + "\""));
    std::vector<Box> boxes = plugin.Call(silent);
    EXPECT_TRUE(boxes.empty()) << boxes[0].caption << ": " << boxes[0].text;
    EXPECT_TRUE(FileExists(mark));
    EXPECT_EQ(silent.calls, Calls({"GetTargetHandle", "GetTargetText"}));
}

TEST_F(Run, HostWithoutGetTargetTextIsLeftAlone) {
    host.context.GetTargetText = nullptr;
    std::string mark = PathJoin(work, "ran.txt");
    EXPECT_TRUE(RunWith(Child("mark \"" + mark + "\"")).empty());
    EXPECT_TRUE(host.calls.empty());
    EXPECT_FALSE(FileExists(mark));
}

TEST_F(Run, WorkingDirectoryHoldsTheFilesWithOrWithoutSeparator) {
    for (const std::string& directory : {work, work + PathSeparator()}) {
        FakeHost run;
        plugin.Install(run, directory, Child("echo-args %f"));
        EXPECT_TRUE(plugin.Call(run).empty());
        std::string echoed = run.replacement;
        std::string path = echoed.substr(echoed.find(':') + 1);
        path.pop_back();
        EXPECT_EQ(path.substr(0, work.size() + 3), PathJoin(work, "se")) << path;
        EXPECT_EQ(path.find(std::string(2, PathSeparator())), std::string::npos) << path;
        EXPECT_TRUE(EndsInTmp(path)) << path;
    }
}

TEST_F(Run, ProgramRunsInTheHostsDirectoryNotTheWorkingDirectory) {
    RunWith(Child("cwd"));
    EXPECT_EQ(host.replacement, CurrentDir());
}

TEST_F(Run, PlaceholdersReachTheProgramAsArguments) {
    host.SetText("u", "scott");
    host.SetText("p", "tiger pass");
    host.SetText("d", "orcl");
    host.SetText("o", "C:\\out dir");
    host.SetText("N", "");
    // "%%f" is no escape: its "%f" is the first one and takes the path.
    RunWith(Child("echo-args %u \"%p\" %d \"%o\" [%N] %%f %F %f"));
    std::string out = host.replacement;
    size_t at = out.find("%" + PathJoin(work, "se"));
    ASSERT_NE(at, std::string::npos) << out;
    std::string input = out.substr(at + 1, out.find('\n', at) - at - 1);
    EXPECT_EQ(
        out, Echoed({"scott", "tiger pass", "orcl", "C:\\out dir", "[]", "%" + input, "%F", "%f"}));
}

// Mend: an expansion longer than 259 characters is never cut or overflowed.
TEST_F(Run, OverlongExpansionIsRefusedBeforeAnyCallback) {
    std::string fits = Child("echo-args ");
    std::string filler(259 - fits.size(), 'a');
    host.text = "original";
    RunWith(fits + filler);
    EXPECT_EQ(host.replacement.size(), filler.size() + std::to_string(filler.size()).size() + 2);

    FakeHost longer;
    longer.text = "original";
    // 259 characters with "%u" in them; the 3-character value makes 260.
    plugin.Install(longer, work, fits + filler.substr(2) + "%u");
    longer.SetText("u", "xyz");
    std::vector<Box> boxes = plugin.Call(longer);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_NE(boxes[0].text.find("longer than 259 characters"), std::string::npos);
#ifdef _WIN32
    EXPECT_TRUE(boxes[0].ownedByHost);
#endif
    EXPECT_TRUE(longer.calls.empty());
}

// Mend: a failed unique-name step is reported and no stale name is reused.
TEST_F(Run, MissingOrUnusableDirectoryIsReportedBeforeAnyCallback) {
    host.text = "first";
    RunWith(Child("cat %f"));
    ASSERT_EQ(host.replacement, "first");

    std::string file = PathJoin(work, "plain-file");
    kept.insert("plain-file");
    WriteBytes(file, "not a directory");
    // Fits the setting, but leaves no room for the name within 259 characters.
    std::string tooLong = PathJoin(work, std::string(250 - work.size(), 'd'));
    for (const std::string& directory :
         {PathJoin(work, "missing"), PathJoin(file, "sub"), tooLong}) {
        FakeHost run;
        run.text = "second";
        plugin.Install(run, directory, Child("cat %f"));
        std::vector<Box> boxes = plugin.Call(run);
        ASSERT_EQ(boxes.size(), 1u) << directory;
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_NE(boxes[0].text.find(directory), std::string::npos) << boxes[0].text;
        EXPECT_NE(boxes[0].text.find("Error code="), std::string::npos) << boxes[0].text;
#ifdef _WIN32
        EXPECT_TRUE(boxes[0].ownedByHost);
#endif
        EXPECT_TRUE(run.calls.empty()) << directory;
        EXPECT_FALSE(run.replaced);
    }
}

// Mend: a capture file that cannot be created is reported; nothing runs.
TEST_F(Run, CaptureFileThatExistsIsReportedAndLeftAlone) {
    host.text = "original";
    std::string mark = PathJoin(work, "ran.txt");
    std::string squatted;
    host.duringGetText = [&] {
        for (const std::string& name : ListDir(work)) {
            if (EndsInTmp(name)) {
                squatted = name + ".sql";
                WriteBytes(PathJoin(work, squatted), "someone else's");
            }
        }
    };
    std::vector<Box> boxes = RunWith(Child("mark \"" + mark + "\" %f"));
    ASSERT_FALSE(squatted.empty());
    kept.insert(squatted);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_NE(boxes[0].text.find(squatted), std::string::npos) << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("Error code="), std::string::npos);
    EXPECT_FALSE(FileExists(mark));
    EXPECT_FALSE(host.replaced);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(PathJoin(work, squatted), bytes));
    EXPECT_EQ(bytes, "someone else's");
}

// Mend: a short write of the input file ends the run; nothing runs on a
// partial input. A file-size limit makes the write really fall short: set
// here natively; under Wine the test's wrapper sets it for the whole process
// and says so in EP_FILE_SIZE_LIMIT.
TEST_F(Run, ShortWriteOfInputEndsTheRun) {
    host.text = std::string(20000, 'q');
    std::string mark = PathJoin(work, "ran.txt");
    plugin.Install(host, work, Child("mark \"" + mark + "\" %f"));
#ifdef _WIN32
    ASSERT_NE(getenv("EP_FILE_SIZE_LIMIT"), nullptr)
        << "needs a file-size limit on the process: run it through short_write_wine.sh";
    std::vector<Box> boxes = plugin.Call(host);
#else
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit limited = saved;
    limited.rlim_cur = 4096;
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::vector<Box> boxes = plugin.Call(host);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
#endif
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_EQ(boxes[0].text, "Could not write TEMP file");
#ifdef _WIN32
    EXPECT_TRUE(boxes[0].ownedByHost);
#endif
    EXPECT_FALSE(FileExists(mark));
    EXPECT_FALSE(host.replaced);
    EXPECT_EQ(host.calls, Calls({"GetTargetHandle", "GetTargetText"}));
}

TEST_F(Run, ManyRunsLeaveNothingBehind) {
    for (int i = 0; i < 20; i++) {
        FakeHost run;
        run.text = "run " + std::to_string(i);
        plugin.Install(run, work, Child("cat %f"));
        plugin.Call(run);
        EXPECT_EQ(run.replacement, run.text);
    }
}

} // namespace
