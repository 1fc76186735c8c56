// The preprocessor run end to end: the real module, loaded by a fake host,
// runs this test program in a child mode as its external program. The same
// cases run natively and, cross-built, under Windows (Wine).
#include "support/plugin_fixture.h"
#include "child.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctype.h>
#include <sstream>
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
    // Installs with the template and more settings lines, runs once, and
    // notes how long the run took.
    std::vector<Box> RunWithOptions(FakeHost& run, const std::string& commandLine,
                                    const std::string& more) {
        WriteBytes(plugin.SettingsPath(), SettingsText(work, commandLine) + more);
        plugin.InstallOnly(run);
        auto start = std::chrono::steady_clock::now();
        std::vector<Box> boxes = plugin.Call(run);
        lastCall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return boxes;
    }
    double SecondsOfLastCall() const {
        return lastCall;
    }
    std::vector<std::string> Calls(std::initializer_list<const char*> names) {
        return std::vector<std::string>(names.begin(), names.end());
    }

    static LoadedPlugin plugin;
    std::string work;
    std::set<std::string> kept;
    FakeHost host;
    double lastCall = 0;
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

// A box's text split at its line feeds.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The system's description of an error code, as a box shows it.
std::string SystemWords(DWORD code) {
    char text[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  code, 0, text, sizeof text, NULL);
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' '))
        text[--length] = '\0';
    return text;
}

// Checks that a box with "Error code=N" has the system's words for N on the
// next line, and that it is the last line.
void ExpectCodeExplained(const std::string& text) {
    std::vector<std::string> lines = Lines(text);
    ASSERT_GE(lines.size(), 2u) << text;
    const std::string& codeLine = lines[lines.size() - 2];
    ASSERT_EQ(codeLine.find("Error code="), 0u) << text;
    DWORD code = (DWORD)std::stoul(codeLine.substr(11));
    EXPECT_EQ(lines.back(), SystemWords(code)) << text;
    EXPECT_FALSE(lines.back().empty()) << text;
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

TEST_F(Run, LongestTextTakenGoesOutWholeAndFullBufferComesBackWhole) {
    host.text = std::string(TEXT_CAPACITY - 2, 'x');
    EXPECT_TRUE(RunWith(Child("cat %f")).empty());
    EXPECT_EQ(host.replacement, host.text);

    FakeHost full;
    full.text = "ignored";
    plugin.Install(full, work, Child("write 102400"));
    EXPECT_TRUE(plugin.Call(full).empty());
    ASSERT_EQ(full.replacement.size(), (size_t)TEXT_CAPACITY);
    EXPECT_EQ(full.replacement.substr(0, 5), "abcde");
}

// Mend: a text that fills the buffer may be the cut head of a longer one: it
// is refused before anything is written or started.
TEST_F(Run, TextThatMayHaveBeenCutIsRefusedBeforeAnythingRuns) {
    std::string mark = PathJoin(work, "ran.txt");
    for (size_t length : {(size_t)TEXT_CAPACITY - 1, (size_t)TEXT_CAPACITY}) {
        FakeHost run;
        run.text = std::string(length, 'y');
        plugin.Install(run, work, Child("mark \"" + mark + "\" %f"));
        std::vector<Box> boxes = plugin.Call(run);
        ASSERT_EQ(boxes.size(), 1u) << length;
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_NE(boxes[0].text.find("longer than the plug-in takes (at most 102398 bytes)"),
                  std::string::npos)
            << boxes[0].text;
#ifdef _WIN32
        EXPECT_TRUE(boxes[0].ownedByHost);
#endif
        EXPECT_FALSE(FileExists(mark)) << length;
        EXPECT_EQ(run.calls, Calls({"GetTargetHandle", "GetTargetText"}));
    }
}

// Mend: output longer than the buffer is never cut and handed back.
TEST_F(Run, OutputLongerThanTheBufferKeepsTheText) {
    for (const char* size : {"102401", "200000"}) {
        FakeHost run;
        run.text = "original";
        plugin.Install(run, work, Child(std::string("write ") + size));
        std::vector<Box> boxes = plugin.Call(run);
        ASSERT_EQ(boxes.size(), 1u) << size;
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_NE(boxes[0].text.find("more than 102400 bytes"), std::string::npos) << boxes[0].text;
        EXPECT_NE(boxes[0].text.find("The text was left as it was."), std::string::npos);
#ifdef _WIN32
        EXPECT_TRUE(boxes[0].ownedByHost);
#endif
        EXPECT_FALSE(run.replaced) << size;
    }
}

// Mend: output holding a NUL byte (UTF-16, binary) is not handed back cut.
TEST_F(Run, OutputHoldingANulByteKeepsTheText) {
    host.text = "original";
    std::vector<Box> boxes = RunWith(Child("nul"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_NE(boxes[0].text.find("NUL byte (at byte 3 of 5)"), std::string::npos) << boxes[0].text;
    EXPECT_FALSE(host.replaced);
}

// Mend: the exit code is consulted. A failing program keeps the text,
// whether or not it wrote anything, and the box shows its code and the start
// of its standard error.
TEST_F(Run, FailingProgramKeepsTheTextAndSaysWhy) {
    for (const char* mode : {"exit 7", "stderr-exit 7 oops:_no_such_include"}) {
        FakeHost run;
        run.text = "keep me";
        plugin.Install(run, work, Child(mode));
        std::vector<Box> boxes = plugin.Call(run);
        ASSERT_EQ(boxes.size(), 1u) << mode;
        EXPECT_EQ(boxes[0].caption, "Error");
        EXPECT_EQ(boxes[0].text.find("The program ended with exit code 7.\n"
                                     "The text was left as it was."),
                  0u)
            << boxes[0].text;
#ifdef _WIN32
        EXPECT_TRUE(boxes[0].ownedByHost);
#endif
        bool wroteErrors = std::string(mode).find("oops") != std::string::npos;
        EXPECT_EQ(boxes[0].text.find("standard error:\noops:_no_such_include") != std::string::npos,
                  wroteErrors)
            << boxes[0].text;
        EXPECT_FALSE(run.replaced) << mode;
        EXPECT_EQ(run.calls, Calls({"GetTargetHandle", "GetTargetText"}));
    }
}

TEST_F(Run, LongStandardErrorIsShownByItsStart) {
    host.text = "keep me";
    std::vector<Box> boxes = RunWith(Child("noise 1500 1"));
    ASSERT_EQ(boxes.size(), 1u);
    size_t at = boxes[0].text.find("standard error:\n");
    ASSERT_NE(at, std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].text.substr(at + 16), std::string(1000, 'e') + "\n[...]");
    EXPECT_FALSE(host.replaced);
}

TEST_F(Run, ProgramEndedAbruptlyKeepsWhatItWroteOutOfTheText) {
    host.text = "text";
    std::vector<Box> boxes = RunWith(Child("kill"));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
#ifdef _WIN32
    EXPECT_EQ(boxes[0].text.find("The program ended with exit code 9."), 0u) << boxes[0].text;
#else
    EXPECT_NE(boxes[0].text.find("Killed by signal 9 (Killed)"), std::string::npos)
        << boxes[0].text;
#endif
    EXPECT_NE(boxes[0].text.find("The text was left as it was."), std::string::npos);
    EXPECT_FALSE(host.replaced);
}

TEST_F(Run, ProgramSeesEndOfInputAndErrorsOfASuccessAreNotShown) {
    host.text = "text";
    RunWith(Child("stdin"));
    EXPECT_EQ(host.replacement, "eof 0");
    FakeHost again;
    plugin.Install(again, work, Child("stderr oops"));
    EXPECT_TRUE(plugin.Call(again).empty());
    EXPECT_EQ(again.replacement, "out");
}

// The standard error file lies beside the input file while the program runs
// and is gone afterwards, like the other two (TearDown checks that).
TEST_F(Run, StandardErrorFileLiesBesideTheInputFile) {
    RunWith(Child("list \"" + work + "\""));
    std::vector<std::string> names;
    std::istringstream lines(host.replacement);
    for (std::string line; std::getline(lines, line);)
        names.push_back(line);
    ASSERT_EQ(names.size(), 3u) << host.replacement;
    std::sort(names.begin(), names.end());
    EXPECT_TRUE(EndsInTmp(names[0])) << names[0];
    EXPECT_EQ(names[1], names[0] + ".err");
    EXPECT_EQ(names[2], names[0] + ".sql");
}

// IgnoreExitCode=1 gives back the plain behaviour: whatever the program
// wrote replaces the text, and standard error goes nowhere.
TEST_F(Run, IgnoreExitCodeHandsBackWhateverTheProgramWrote) {
    const struct {
        const char* mode;
        const char* replacement;
    } cases[] = {{"exit 7", ""}, {"stderr-exit 7 oops", "out"}, {"kill", "partial"}};
    for (const auto& c : cases) {
        FakeHost run;
        run.text = "original";
        std::vector<Box> boxes =
            RunWithOptions(run, Child(c.mode), "[Run]\r\nIgnoreExitCode=1\r\n");
        EXPECT_TRUE(boxes.empty()) << c.mode << ": " << boxes[0].text;
        EXPECT_TRUE(run.replaced) << c.mode;
        EXPECT_EQ(run.replacement, c.replacement) << c.mode;
    }
    FakeHost listing;
    RunWithOptions(listing, Child("list \"" + work + "\""), "[Run]\r\nIgnoreExitCode=1\r\n");
    EXPECT_EQ(listing.replacement.find(".err"), std::string::npos) << listing.replacement;
}

// TimeLimit ends a program that runs too long, with the processes it
// started; the run comes back within a few seconds, not after the minute.
TEST_F(Run, TimeLimitEndsTheProgramAndWhatItStarted) {
    host.text = "original";
    std::string pids = PathJoin(work, "pids.txt");
    kept.insert("pids.txt");
    std::string tree = Child("tree 60000 \"" + pids + "\"");
    std::vector<Box> boxes = RunWithOptions(host, tree, "[Run]\r\nTimeLimit=1\r\n");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error");
    EXPECT_NE(boxes[0].text.find("still running after 1 second and was ended"), std::string::npos)
        << boxes[0].text;
    EXPECT_NE(boxes[0].text.find("The text was left as it was."), std::string::npos);
    EXPECT_FALSE(host.replaced);
    EXPECT_LT(SecondsOfLastCall(), 15.0);
    std::string written;
    ASSERT_TRUE(ReadBytes(pids, written));
    std::istringstream both(written);
    unsigned long program = 0, started = 0;
    ASSERT_TRUE(both >> program >> started) << written;
    EXPECT_TRUE(ProcessEndsWithin(program, 5000)) << "the program was left running";
    EXPECT_TRUE(ProcessEndsWithin(started, 5000)) << "the program's child was left running";

    // Within the limit, the run is an ordinary one.
    FakeHost quick;
    quick.text = "quick";
    EXPECT_TRUE(RunWithOptions(quick, Child("cat %f"), "[Run]\r\nTimeLimit=30\r\n").empty());
    EXPECT_EQ(quick.replacement, "quick");
}

TEST_F(Run, HideConsoleStillRunsAConsoleProgram) {
    host.text = "console";
    EXPECT_TRUE(RunWithOptions(host, Child("cat %f"), "[Run]\r\nHideConsole=1\r\n").empty());
    EXPECT_EQ(host.replacement, "console");
}

TEST_F(Run, RunKeysInAnotherSectionChangeNothing) {
    host.text = "original";
    std::vector<Box> boxes =
        RunWithOptions(host, Child("sleep 1500"), "[Other]\r\nIgnoreExitCode=1\r\nTimeLimit=1\r\n");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(host.replacement, "slept");
    FakeHost failing;
    failing.text = "original";
    boxes = RunWithOptions(failing, Child("exit 7"), "");
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(failing.replaced);
}

TEST_F(Run, MissingProgramShowsExecuteErrorWithTheReasonAndKeepsText) {
    host.text = "original";
    std::string missing = PathJoin(work, "no-such-program");
    std::vector<Box> boxes = RunWith("\"" + missing + "\" %f");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Execute Error!");
    // The box shows the expanded line: the input file's path took "%f"'s place.
    std::vector<std::string> lines = Lines(boxes[0].text);
    ASSERT_EQ(lines.size(), 2u) << boxes[0].text;
    EXPECT_EQ(lines[0].find("\"" + missing + "\" " + PathJoin(work, "se")), 0u) << lines[0];
    EXPECT_TRUE(EndsInTmp(lines[0])) << lines[0];
    EXPECT_EQ(lines[1], SystemWords(ERROR_FILE_NOT_FOUND));
#ifdef _WIN32
    EXPECT_FALSE(boxes[0].hasOwner);
#endif
    EXPECT_FALSE(host.replaced);
    EXPECT_EQ(host.calls, Calls({"GetTargetHandle", "GetTargetText"}));
}

TEST_F(Run, ProgramThatIsNoProgramShowsTheReason) {
    std::string text = PathJoin(work, "notes.txt");
    kept.insert("notes.txt");
    WriteBytes(text, "just text\n");
    host.text = "original";
    std::vector<Box> boxes = RunWith("\"" + text + "\"");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Execute Error!");
#ifdef _WIN32
    DWORD reason = ERROR_BAD_EXE_FORMAT;
#else
    DWORD reason = ERROR_ACCESS_DENIED; // no permission to run it
#endif
    EXPECT_EQ(Lines(boxes[0].text),
              std::vector<std::string>({"\"" + text + "\"", SystemWords(reason)}));
    EXPECT_FALSE(host.replaced);
}

TEST_F(Run, EmptyTemplateSaysNoCommandLineIsSetAndWhereToSetIt) {
    host.text = "original";
    std::vector<Box> boxes = RunWith("");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Execute Error!");
    EXPECT_EQ(boxes[0].text, "\nNo command line is set. Write one as CommandLine in section "
                             "[Path] of the settings file:\n" +
                                 plugin.SettingsPath());
#ifdef _WIN32
    EXPECT_FALSE(boxes[0].hasOwner);
#endif
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
        ExpectCodeExplained(boxes[0].text);
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
    ExpectCodeExplained(boxes[0].text);
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
        std::vector<Box> boxes = plugin.Call(run);
        EXPECT_EQ(run.replacement, run.text) << "run " << i;
        // A box here is a failure; say what it said.
        for (const Box& box : boxes)
            ADD_FAILURE() << "run " << i << ": box \"" << box.caption << "\": " << box.text;
    }
}

} // namespace
