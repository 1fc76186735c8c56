// The preprocessor run end to end: the real module, loaded by a fake host,
// runs this test program in a child mode as its external program. The same
// cases run natively and, cross-built, under Windows (Wine).
#include "support/plugin_fixture.h"
#include "child.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctype.h>
#include <sstream>
#include <set>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <thread>

namespace {

class Run : public PluginRuns {
  protected:
    // Installs with the template and runs once.
    std::vector<Box> RunWith(const std::string& commandLine, const std::string& directory) {
        plugin.Install(host, directory, commandLine);
        return plugin.Call(host);
    }
    std::vector<Box> RunWith(const std::string& commandLine) {
        return RunWith(commandLine, work);
    }
    // Installs with the template on a host of the caller's, which holds
    // text, and runs once.
    std::vector<Box> RunOn(FakeHost& run, const std::string& text, const std::string& commandLine) {
        run.text = text;
        plugin.Install(run, work, commandLine);
        return plugin.Call(run);
    }
    // Installs with the template and more settings lines, runs once, and
    // notes how long the run took.
    std::vector<Box> RunWithOptions(FakeHost& run, const std::string& commandLine,
                                    const std::string& more, const std::string& directory = "") {
        WriteBytes(plugin.SettingsPath(),
                   SettingsText(directory.empty() ? work : directory, commandLine) + more);
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

    double lastCall = 0;
};

const char Kept[] = "The text was left as it was.";

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

// --- Results ----------------------------------------------------------------

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
    EXPECT_TRUE(RunOn(full, "ignored", Child("write 102400")).empty());
    ASSERT_EQ(full.replacement.size(), (size_t)TEXT_CAPACITY);
    EXPECT_EQ(full.replacement.substr(0, 5), "abcde");
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

TEST_F(Run, ManyRunsLeaveNothingBehind) {
    for (int i = 0; i < 20; i++) {
        FakeHost run;
        std::vector<Box> boxes = RunOn(run, "run " + std::to_string(i), Child("cat %f"));
        EXPECT_EQ(run.replacement, run.text) << "run " << i;
        // A box here is a failure; say what it said.
        for (const Box& box : boxes)
            ADD_FAILURE() << "run " << i << ": box \"" << box.caption << "\": " << box.text;
    }
}

// --- What keeps the text ----------------------------------------------------

// Mend: a text that fills the buffer may be the cut head of a longer one: it
// is refused before anything is written or started.
TEST_F(Run, TextThatMayHaveBeenCutIsRefusedBeforeAnythingRuns) {
    std::string mark = PathJoin(work, "ran.txt");
    for (size_t length : {(size_t)TEXT_CAPACITY - 1, (size_t)TEXT_CAPACITY}) {
        FakeHost run;
        EXPECT_TRUE(
            IsOnlyBox(RunOn(run, std::string(length, 'y'), Child("mark \"" + mark + "\" %f")),
                      "Error", "longer than the plug-in takes (at most 102398 bytes)"))
            << length;
        EXPECT_FALSE(FileExists(mark)) << length;
        EXPECT_EQ(run.calls, Calls({"GetTargetHandle", "GetTargetText"}));
    }
}

// Mend: output longer than the buffer is never cut and handed back.
TEST_F(Run, OutputLongerThanTheBufferKeepsTheText) {
    for (const char* size : {"102401", "200000"}) {
        FakeHost run;
        std::vector<Box> boxes = RunOn(run, "original", Child(std::string("write ") + size));
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", "more than 102400 bytes")) << size;
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", Kept)) << size;
        EXPECT_FALSE(run.replaced) << size;
    }
}

// Mend: output holding a NUL byte (UTF-16, binary) is not handed back cut.
TEST_F(Run, OutputHoldingANulByteKeepsTheText) {
    host.text = "original";
    EXPECT_TRUE(IsOnlyBox(RunWith(Child("nul")), "Error", "NUL byte (at byte 3 of 5)"));
    EXPECT_FALSE(host.replaced);
}

// Mend: the exit code is consulted. A failing program keeps the text,
// whether or not it wrote anything, and the box shows its code and the start
// of its standard error.
TEST_F(Run, FailingProgramKeepsTheTextAndSaysWhy) {
    for (const char* mode : {"exit 7", "stderr-exit 7 oops:_no_such_include"}) {
        FakeHost run;
        std::vector<Box> boxes = RunOn(run, "keep me", Child(mode));
        EXPECT_TRUE(IsOnlyBox(boxes, "Error",
                              "The program ended with exit code 7.\nThe text was left as it was.",
                              BoxText::StartsWith))
            << mode;
        bool wroteErrors = std::string(mode).find("oops") != std::string::npos;
        EXPECT_EQ(IsOnlyBox(boxes, "Error", "standard error:\noops:_no_such_include"), wroteErrors)
            << mode;
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

// Standard error in UTF-16 (some Windows programs write it so) shows as its
// characters, not as its first letter.
TEST_F(Run, Utf16StandardErrorShowsAsItsCharacters) {
    host.text = "keep me";
    EXPECT_TRUE(IsOnlyBox(RunWith(Child("stderr-utf16 2 cannot_open_include")), "Error",
                          "standard error:\ncannot_open_include"));
    EXPECT_FALSE(host.replaced);
}

// A program ended by a signal (Linux) or terminated (Windows) keeps the
// text, and so does one that crashes.
TEST_F(Run, ProgramEndedAbruptlyKeepsWhatItWroteOutOfTheText) {
    for (const char* mode : {"kill", "crash"}) {
        FakeHost run;
        std::vector<Box> boxes = RunOn(run, "text", Child(mode));
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", Kept)) << mode;
        bool named = IsOnlyBox(boxes, "Error", "The program ended with exit code 9.") ||
                     IsOnlyBox(boxes, "Error", "The program ended abnormally");
        EXPECT_TRUE(named) << mode << ": " << (boxes.empty() ? "" : boxes[0].text);
        EXPECT_FALSE(run.replaced) << mode;
    }
}

// Mend: IgnoreExitCode ignores exit codes, not crashes: a program that ended
// abnormally keeps the text whatever it wrote.
TEST_F(Run, IgnoreExitCodeStillKeepsTheTextAfterACrash) {
    for (const char* mode : {"crash", "kill"}) {
        FakeHost run;
        run.text = "original";
        std::vector<Box> boxes = RunWithOptions(run, Child(mode), "[Run]\r\nIgnoreExitCode=1\r\n");
        // Terminated with code 9 on Windows is an exit code, not a crash.
        if (std::string(mode) == "kill" && boxes.empty()) {
            EXPECT_EQ(run.replacement, "partial");
            continue;
        }
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", "The program ended abnormally", BoxText::StartsWith))
            << mode;
        EXPECT_FALSE(run.replaced) << mode;
    }
}

// Mend: where the exit status cannot be learned (SIGCHLD ignored, so the
// system reaps the program itself), the text is kept.
TEST_F(Run, UnknownExitStatusKeepsTheText) {
    if (!IgnoreChildExits(true))
        GTEST_SKIP() << "no way to lose a child's exit status here";
    host.text = "original";
    std::vector<Box> boxes = RunWith(Child("cat %f"));
    IgnoreChildExits(false);
    EXPECT_TRUE(IsOnlyBox(boxes, "Error", "Could not learn how the program ended"));
    ASSERT_FALSE(boxes.empty());
    ExpectCodeExplained(boxes[0].text);
    EXPECT_FALSE(host.replaced);
}

// --- Empty output and programs that edit their file ------------------------

// Mend: a program that writes nothing and leaves its file as it was does
// not empty the text.
TEST_F(Run, EmptyOutputOverATextKeepsIt) {
    host.text = "select 1;";
    EXPECT_TRUE(IsOnlyBox(RunWith(Child("exit 0")), "Error",
                          "The program wrote nothing to its standard output and left the file as "
                          "it was.\nThe text was left as it was.",
                          BoxText::Is));
    EXPECT_FALSE(host.replaced);

    // An empty text may come back empty.
    FakeHost empty;
    plugin.Install(empty, work, Child("exit 0"));
    EXPECT_TRUE(plugin.Call(empty).empty());
    EXPECT_TRUE(empty.replaced);
    EXPECT_EQ(empty.replacement, "");
}

// Programs that edit their file in place (sed -i, clang-format -i) print
// nothing: what they left in the file is the result, in place or as a new
// file put in its place.
TEST_F(Run, ProgramThatEditsItsFileGivesTheFilesText) {
    host.text = "select 1;";
    EXPECT_TRUE(RunWith(Child("rewrite %f SELECT_1;")).empty());
    EXPECT_EQ(host.replacement, "SELECT_1;");

    FakeHost inPlace;
    EXPECT_TRUE(RunOn(inPlace, "abc", Child("fill %f 20")).empty());
    EXPECT_EQ(inPlace.replacement, "abcdefghijklmnopqrst");

    // Emptied: an edit too.
    FakeHost emptied;
    EXPECT_TRUE(RunOn(emptied, "abc", Child("fill %f 0")).empty());
    EXPECT_TRUE(emptied.replaced);
    EXPECT_EQ(emptied.replacement, "");
}

// The file's text passes the checks standard output does.
TEST_F(Run, EditedFileOverTheLimitOrWithANulKeepsTheText) {
    host.text = "abc";
    EXPECT_TRUE(IsOnlyBox(RunWith(Child("fill %f 102401")), "Error",
                          "The program left in its input file more than 102400 bytes"));
    EXPECT_FALSE(host.replaced);

    FakeHost nul;
    EXPECT_TRUE(
        IsOnlyBox(RunOn(nul, "abc", Child("fill-nul %f")), "Error", "a NUL byte (at byte 3 of 5)"));
    EXPECT_FALSE(nul.replaced);

    // Exactly the buffer's size still comes back whole.
    FakeHost full;
    EXPECT_TRUE(RunOn(full, "abc", Child("fill %f 102400")).empty());
    EXPECT_EQ(full.replacement.size(), (size_t)TEXT_CAPACITY);
}

// Standard output, when there is any, is the result, whatever the file holds.
TEST_F(Run, StandardOutputWinsOverTheEditedFile) {
    host.text = "abc";
    EXPECT_TRUE(RunWith(Child("mark %f printed")).empty());
    EXPECT_EQ(host.replacement, Echoed({"printed"}));
}

// AllowEmptyOutput=1: an empty output replaces the text, as it once did.
TEST_F(Run, AllowEmptyOutputLetsNothingReplaceTheText) {
    host.text = "select 1;";
    EXPECT_TRUE(RunWithOptions(host, Child("exit 0"), "[Run]\r\nAllowEmptyOutput=1\r\n").empty());
    EXPECT_TRUE(host.replaced);
    EXPECT_EQ(host.replacement, "");
}

// --- Run options ------------------------------------------------------------

// IgnoreExitCode=1: whatever the program wrote replaces the text, and
// standard error goes nowhere; but nothing at all is no result, and the
// file's edit still counts.
TEST_F(Run, IgnoreExitCodeHandsBackWhateverTheProgramWrote) {
    FakeHost run;
    run.text = "original";
    std::vector<Box> boxes =
        RunWithOptions(run, Child("stderr-exit 7 oops"), "[Run]\r\nIgnoreExitCode=1\r\n");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(run.replacement, "out");

    FakeHost silent;
    silent.text = "original";
    boxes = RunWithOptions(silent, Child("exit 7"), "[Run]\r\nIgnoreExitCode=1\r\n");
    EXPECT_TRUE(IsOnlyBox(boxes, "Error", "wrote nothing to its standard output"));
    EXPECT_FALSE(silent.replaced);

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
    unsigned long program = 0, started = 0;
    // The program must have started its child before the limit ends it.
    // Where starting a program takes seconds (32-bit Windows programs
    // emulated), a second is not enough: the limit grows until it is.
    for (unsigned limit = 1;; limit *= 4) {
        DeleteFileA(pids.c_str());
        std::vector<Box> boxes =
            RunWithOptions(host, tree, "[Run]\r\nTimeLimit=" + std::to_string(limit) + "\r\n");
        EXPECT_TRUE(IsOnlyBox(boxes, "Error",
                              "still running after " + std::to_string(limit) +
                                  (limit == 1 ? " second" : " seconds") + " and was ended"));
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", Kept));
        EXPECT_FALSE(host.replaced);
        EXPECT_LT(SecondsOfLastCall(), limit + 14.0);
        std::string written;
        std::istringstream both(ReadBytes(pids, written) ? written : "");
        if (both >> program >> started)
            break;
        ASSERT_LT(limit, 64u) << "the program never wrote its ids";
    }
    EXPECT_TRUE(ProcessEndsWithin(program, 5000)) << "the program was left running";
    EXPECT_TRUE(ProcessEndsWithin(started, 5000)) << "the program's child was left running";

    // Within the limit, the run is an ordinary one.
    FakeHost quick;
    quick.text = "quick";
    EXPECT_TRUE(RunWithOptions(quick, Child("cat %f"), "[Run]\r\nTimeLimit=30\r\n").empty());
    EXPECT_EQ(quick.replacement, "quick");
}

// Whatever a program leaves running when it ends is ended with it: the
// program is gone, and so is its child.
TEST_F(Run, ProcessesAProgramLeavesRunningEndWithIt) {
    host.text = "original";
    std::string pids = PathJoin(work, "pids.txt");
    kept.insert("pids.txt");
    // "tree" sleeps as long as its child: a short wait, then it ends alone.
    std::vector<Box> boxes = RunWith(Child("tree 300 \"" + pids + "\""));
    EXPECT_TRUE(boxes.empty());
    std::string written;
    ASSERT_TRUE(ReadBytes(pids, written));
    std::istringstream both(written);
    unsigned long program = 0, started = 0;
    ASSERT_TRUE(both >> program >> started) << written;
    EXPECT_TRUE(ProcessEndsWithin(started, 5000));
}

TEST_F(Run, HideConsoleStillRunsAConsoleProgram) {
    host.text = "console";
    EXPECT_TRUE(RunWithOptions(host, Child("cat %f"), "[Run]\r\nHideConsole=1\r\n").empty());
    EXPECT_EQ(host.replacement, "console");
}

TEST_F(Run, RunKeysInAnotherSectionChangeNothing) {
    host.text = "original";
    const char other[] = "[Other]\r\nIgnoreExitCode=1\r\nTimeLimit=1\r\n";
    EXPECT_TRUE(RunWithOptions(host, Child("sleep 1500"), other).empty());
    EXPECT_EQ(host.replacement, "slept");
    // Without them a failing program still keeps the text.
    FakeHost failing;
    failing.text = "original";
    EXPECT_EQ(RunWithOptions(failing, Child("exit 7"), "").size(), 1u);
    EXPECT_FALSE(failing.replaced);
}

// TextsInEnvironment=1: the program finds the input file's path and the
// host's texts in PREPROCESSOR_* variables, which replace the host's own of
// those names; without the option it finds none of them.
TEST_F(Run, TextsInEnvironmentGiveTheProgramTheSixVariables) {
    const std::string names =
        "PREPROCESSOR_FILE PREPROCESSOR_USER PREPROCESSOR_PASSWORD PREPROCESSOR_DATABASE "
        "PREPROCESSOR_OUTPUT PREPROCESSOR_NAME";
    SetVariable("PREPROCESSOR_PASSWORD", "stale");
    SetVariable("EP_TEST_KEPT", "kept");
    host.SetText("u", "scott");
    host.SetText("p", "tiger pass");
    host.SetText("d", "orcl");
    host.SetText("o", "");
    host.SetText("N", "report");
    std::vector<Box> boxes = RunWithOptions(host, Child("env " + names + " EP_TEST_KEPT"),
                                            "[Run]\r\nTextsInEnvironment=1\r\n");
    EXPECT_TRUE(boxes.empty());
    std::vector<std::string> lines = Lines(host.replacement);
    ASSERT_EQ(lines.size(), 7u) << host.replacement;
    EXPECT_EQ(lines[0].find("PREPROCESSOR_FILE=" + PathJoin(work, "se")), 0u) << lines[0];
    EXPECT_TRUE(EndsInTmp(lines[0])) << lines[0];
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()),
              std::vector<std::string>(
                  {"PREPROCESSOR_USER=scott", "PREPROCESSOR_PASSWORD=tiger pass",
                   "PREPROCESSOR_DATABASE=orcl", "PREPROCESSOR_OUTPUT=", "PREPROCESSOR_NAME=report",
                   "EP_TEST_KEPT=kept"}));

    SetVariable("PREPROCESSOR_PASSWORD", nullptr);
    FakeHost without;
    RunWithOptions(without, Child("env " + names), "");
    EXPECT_EQ(without.replacement, "PREPROCESSOR_FILE unset\nPREPROCESSOR_USER unset\n"
                                   "PREPROCESSOR_PASSWORD unset\nPREPROCESSOR_DATABASE unset\n"
                                   "PREPROCESSOR_OUTPUT unset\nPREPROCESSOR_NAME unset\n");
    SetVariable("EP_TEST_KEPT", nullptr);
}

// --- Programs that cannot start ----------------------------------------------

TEST_F(Run, MissingProgramShowsExecuteErrorWithTheReasonAndKeepsText) {
    host.text = "original";
    std::string missing = PathJoin(work, "no-such-program");
    std::vector<Box> boxes = RunWith("\"" + missing + "\" %f");
    ASSERT_TRUE(IsOnlyBox(boxes, "Execute Error!", "\"" + missing + "\" ", BoxText::StartsWith));
    // The box shows the expanded line: the input file's path took "%f"'s place.
    std::vector<std::string> lines = Lines(boxes[0].text);
    ASSERT_EQ(lines.size(), 3u) << boxes[0].text;
    EXPECT_EQ(lines[0].find("\"" + missing + "\" " + PathJoin(work, "se")), 0u) << lines[0];
    EXPECT_TRUE(EndsInTmp(lines[0])) << lines[0];
    EXPECT_EQ(lines[1], SystemWords(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(lines[2], "The program looked for: " + missing);
    EXPECT_FALSE(host.replaced);
    EXPECT_EQ(host.calls, Calls({"GetTargetHandle", "GetTargetText"}));
}

TEST_F(Run, ProgramThatIsNoProgramShowsTheReason) {
    std::string text = PathJoin(work, "notes.txt");
    kept.insert("notes.txt");
    WriteBytes(text, "just text\n");
    host.text = "original";
    std::vector<Box> boxes = RunWith("\"" + text + "\"");
    ASSERT_TRUE(IsOnlyBox(boxes, "Execute Error!", "\"" + text + "\"\n", BoxText::StartsWith));
    std::vector<std::string> lines = Lines(boxes[0].text);
    ASSERT_EQ(lines.size(), 3u) << boxes[0].text;
    // Windows: not a valid program; Linux: no permission to run it.
    EXPECT_TRUE(lines[1] == SystemWords(ERROR_BAD_EXE_FORMAT) ||
                lines[1] == SystemWords(ERROR_ACCESS_DENIED))
        << lines[1];
    EXPECT_EQ(lines[2], "The program looked for: " + text);
    EXPECT_FALSE(host.replaced);
}

// The password never shows in a box where "%p" put it in, and only that
// place is masked: a short password garbles nothing else (not the ".TMP" of
// the input file's name), and the same text elsewhere in the template is
// the template's own.
TEST_F(Run, ExecuteErrorMasksThePasswordWhereItWasPutIn) {
    std::string missing = PathJoin(work, "no-such-program");
    for (const char* password : {"P", "ab", "hunter2"}) {
        FakeHost run;
        run.SetText("p", password);
        run.SetText("d", "Pab");
        std::vector<Box> boxes =
            RunOn(run, "original", "\"" + missing + "\" %d -p %p -x hunter2 %f");
        EXPECT_TRUE(IsOnlyBox(boxes, "Execute Error!",
                              "\"" + missing + "\" Pab -p **** -x hunter2 " + PathJoin(work, "se"),
                              BoxText::StartsWith))
            << password;
        ASSERT_EQ(boxes.size(), 1u);
        std::string line = Lines(boxes[0].text)[0];
        EXPECT_TRUE(EndsInTmp(line)) << line;
        EXPECT_FALSE(run.replaced);
    }
}

// In what the program wrote to its standard error, the password is masked
// wherever it stands in full, but only one of at least four characters.
TEST_F(Run, StandardErrorMasksAPasswordOfFourCharactersOrMore) {
    const char* const cases[][2] = {
        {"P", "P:Pab:hunter2:hunter"},
        {"ab", "P:Pab:hunter2:hunter"},
        {"hunter2", "P:Pab:****:hunter"},
    };
    for (const auto& c : cases) {
        FakeHost run;
        run.SetText("p", c[0]);
        std::vector<Box> boxes =
            RunOn(run, "original", Child("stderr-exit 3 P:Pab:hunter2:hunter"));
        EXPECT_TRUE(
            IsOnlyBox(boxes, "Error", std::string("standard error:\n") + c[1], BoxText::Holds))
            << c[0];
        EXPECT_FALSE(run.replaced);
    }
}

// Where the command line looks mistyped, the box says how to write it: a
// path with blanks needs quotes, and a value in quotes from end to end loses
// them when the settings file is read.
TEST_F(Run, ExecuteErrorGivesAHintForAMistypedLine) {
    // "<work>/my tools-XXXXXX/pp.py", unquoted, is read as the program
    // "<work>/my" with arguments.
    std::string tools = MakeTempDir("my tools", work);
    ASSERT_FALSE(tools.empty());
    kept.insert(tools.substr(work.size() + 1));
    std::string script = PathJoin(tools, "pp.py");
    ASSERT_TRUE(WriteBytes(script, "print('hello')\n"));
    host.text = "original";
    std::vector<Box> boxes = RunWith(script + " %f");
    EXPECT_TRUE(IsOnlyBox(boxes, "Execute Error!",
                          "\nThe program looked for: " + PathJoin(work, "my") + "\n"));
    EXPECT_TRUE(IsOnlyBox(boxes, "Execute Error!",
                          "\nHint: '" + script +
                              "' is a file: put a path that holds blanks between double quotes."));
    EXPECT_FALSE(host.replaced);

    // A quote inside the name: the settings file's own pair of quotes was
    // taken off when it was read.
    FakeHost stripped;
    WriteBytes(plugin.SettingsPath(), "[Path]\r\nWorkingDirectory=" + work + "\r\nCommandLine=" +
                                          QuotedSelf() + " --child cat \"%f\"\r\n");
    plugin.InstallOnly(stripped);
    boxes = plugin.Call(stripped);
    EXPECT_TRUE(IsOnlyBox(boxes, "Execute Error!", "\nHint: no file name holds a double quote."));
    EXPECT_FALSE(stripped.replaced);

    // The same with blanks in the path: the program looked for is the part
    // before the first blank, which holds no quote; the line's first quote
    // closes what nothing opened.
    std::string program = PathJoin(tools, "pp");
    std::string lost = program + "\" \"%f";
    FakeHost blanks;
    WriteBytes(plugin.SettingsPath(),
               "[Path]\r\nWorkingDirectory=" + work + "\r\nCommandLine=\"" + lost + "\"\r\n");
    plugin.InstallOnly(blanks);
    boxes = plugin.Call(blanks);
    EXPECT_TRUE(IsOnlyBox(boxes, "Execute Error!",
                          "\nThe program looked for: " + PathJoin(work, "my") + "\n"));
    EXPECT_TRUE(IsOnlyBox(boxes, "Execute Error!",
                          "\nHint: the line has a closing double quote without its opening one. "
                          "Reading the settings file takes off the pair of double quotes around a "
                          "whole value, so a command line that begins and ends with one needs one "
                          "more pair around it:\nCommandLine=\"\"" +
                              lost + "\"\"",
                          BoxText::Holds));
    EXPECT_FALSE(blanks.replaced);
}

#ifdef _WIN32
// A system call of the module's, pointed at a stub for the length of a scope
// (the module loader's import replacement): for failures that Wine cannot
// give the way Windows does.
class ImportStub {
  public:
    ImportStub(const PluginModule& module, const char* library, const char* name, void* stub)
        : module_(module.handle), library_(library), name_(name),
          previous_(ReplaceImport(module.handle, library, name, stub)) {}
    ~ImportStub() {
        if (previous_ != nullptr)
            ReplaceImport(module_, library_, name_, previous_);
    }
    bool Placed() const {
        return previous_ != nullptr;
    }
    ImportStub(const ImportStub&) = delete;
    ImportStub& operator=(const ImportStub&) = delete;

  private:
    void* module_;
    const char* library_;
    const char* name_;
    void* previous_;
};

BOOL WINAPI NeedsElevationA(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                            DWORD, LPVOID, LPCSTR, LPSTARTUPINFOA, LPPROCESS_INFORMATION) {
    SetLastError(740); // ERROR_ELEVATION_REQUIRED
    return FALSE;
}

BOOL WINAPI NeedsElevationW(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                            DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
    SetLastError(740);
    return FALSE;
}

// Windows asks for elevation to start a 32-bit program without a manifest
// whose name makes it look like an installer; Wine has no such rule, so the
// start fails here by a stub. The box explains the rule and the two ways
// out.
TEST_F(Run, ElevationRequiredSaysWhyAndWhatToDo) {
    ImportStub a(plugin.Module(), "kernel32.dll", "CreateProcessA", (void*)&NeedsElevationA);
    ImportStub w(plugin.Module(), "kernel32.dll", "CreateProcessW", (void*)&NeedsElevationW);
    ASSERT_TRUE(a.Placed() || w.Placed());
    host.text = "original";
    std::string program = PathJoin(work, "db-update.exe");
    std::vector<Box> boxes = RunWith("\"" + program + "\" %f");
    // The system's words for the code, where it has them (Wine has none).
    std::string reason = SystemWords(740);
    ASSERT_TRUE(IsOnlyBox(boxes, "Execute Error!",
                          (reason.empty() ? "" : "\n" + reason) +
                              "\nThe program looked for: " + program + "\nHint: "));
    for (const char* words : {"32-bit program that has no manifest",
                              "\"setup\", \"install\", "
                              "\"update\" or \"patch\"",
                              "Rename the program", "level=\"asInvoker\""})
        EXPECT_TRUE(IsOnlyBox(boxes, "Execute Error!", words)) << words;
    EXPECT_FALSE(host.replaced);
}

// The Windows folder a stub of GetSystemWindowsDirectoryA gives the module.
std::string FakeWindows;

BOOL WINAPI Wow64(HANDLE, PBOOL wow64) {
    *wow64 = TRUE;
    return TRUE;
}

UINT WINAPI FakeWindowsFolder(LPSTR buffer, UINT size) {
    if (FakeWindows.size() + 1 > size)
        return (UINT)FakeWindows.size() + 1;
    memcpy(buffer, FakeWindows.c_str(), FakeWindows.size() + 1);
    return (UINT)FakeWindows.size();
}

// The 32-bit module on 64-bit Windows sees SysWOW64 in place of System32;
// a program only the 64-bit System32 has is reached as %windir%\Sysnative:
// wsl.exe by its name, OpenSSH's ssh.exe in System32\OpenSSH by its path or
// through the PATH. Here the module is told it runs under WOW64, in a
// Windows folder the test makes, whose Sysnative folder holds the programs.
TEST_F(Run, ProgramOnlyInSysnativeIsNamedThere) {
    ImportStub wow(plugin.Module(), "kernel32.dll", "IsWow64Process", (void*)&Wow64);
    ImportStub folder(plugin.Module(), "kernel32.dll", "GetSystemWindowsDirectoryA",
                      (void*)&FakeWindowsFolder);
    ASSERT_TRUE(wow.Placed() && folder.Placed());
    TempDir windows;
    FakeWindows = windows.Path();
    std::string sysnative = windows.Join("Sysnative");
    std::string openssh = PathJoin(windows.Join("System32"), "OpenSSH");
    for (const std::string& dir :
         {sysnative, PathJoin(sysnative, "OpenSSH"), windows.Join("System32"), openssh})
        CreateDirectoryA(dir.c_str(), nullptr);
    std::string wsl = PathJoin(sysnative, "ep-wsl.exe");
    std::string ssh = PathJoin(PathJoin(sysnative, "OpenSSH"), "ep-ssh.exe");
    ASSERT_TRUE(WriteBytes(wsl, "MZ") && WriteBytes(ssh, "MZ"));
    char path[32767];
    DWORD length = GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (std::string(path, length) + ";" + openssh + "\\").c_str());
    const std::string hint = "\nHint: this 32-bit plug-in runs on 64-bit Windows, where System32 "
                             "shows it the 32-bit SysWOW64 instead, and the program is not there. "
                             "It is in the 64-bit System32, which a 32-bit program reaches as "
                             "%windir%\\Sysnative: write it as\n";
    struct Case {
        std::string line, found;
    };
    const Case cases[] = {
        {"ep-wsl %f", wsl},
        {"\"" + PathJoin(openssh, "ep-ssh.exe") + "\" %f", ssh},
        {"ep-ssh %f", ssh},
        {"\"" + PathJoin(work, "ep-wsl.exe") + "\" %f", ""},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.line);
        FakeHost run;
        run.text = "original";
        plugin.Install(run, work, test.line);
        std::vector<Box> boxes = plugin.Call(run);
        ASSERT_TRUE(IsOnlyBox(boxes, "Execute Error!", "\n" + SystemWords(ERROR_FILE_NOT_FOUND)));
        if (!test.found.empty())
            EXPECT_TRUE(IsOnlyBox(boxes, "Execute Error!", hint + test.found));
        else
            EXPECT_EQ(boxes[0].text.find("Sysnative"), std::string::npos) << boxes[0].text;
        EXPECT_FALSE(run.replaced);
    }
    SetEnvironmentVariableA("PATH", std::string(path, length).c_str());
}
#endif

TEST_F(Run, EmptyTemplateSaysNoCommandLineIsSetAndWhereToSetIt) {
    host.text = "original";
    const std::string unset = "\nNo command line is set. Write one as CommandLine in section "
                              "[Path] of the settings file:\n" +
                              plugin.SettingsPath();
    EXPECT_TRUE(IsOnlyBox(RunWith(""), "Execute Error!",
                          unset + "\nThe file holds no CommandLine in that section, or an empty "
                                  "one.",
                          BoxText::Is));
    EXPECT_FALSE(host.replaced);
    EXPECT_EQ(host.calls, Calls({"GetTargetHandle", "GetTargetText"}));

    // No file: it says so.
    FakeHost missing;
    missing.text = "original";
    WriteBytes(plugin.SettingsPath(), "");
    plugin.InstallOnly(missing);
    std::string path = plugin.SettingsPath();
    ASSERT_TRUE(FileExists(path));
    remove(path.c_str());
    ASSERT_FALSE(FileExists(path));
    EXPECT_TRUE(IsOnlyBox(plugin.Call(missing), "Execute Error!",
                          unset + "\nThe file does not exist.", BoxText::Is));
}

// --- Temporary files --------------------------------------------------------

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
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", directory)) << directory;
        if (!boxes.empty())
            ExpectCodeExplained(boxes[0].text);
        EXPECT_TRUE(run.calls.empty()) << directory;
        EXPECT_FALSE(run.replaced);
    }
}

// Names of temporary files, made as the unique-name call makes them.
std::string TempName(const std::string& dir, unsigned number) {
    char name[MAX_PATH + 1] = {};
    GetTempFileNameA(dir.c_str(), "se", number, name);
    return name;
}

// Takes every name the unique-name call could give but those kept free.
void TakeNames(const std::string& dir, const char* suffix, const std::set<unsigned>& free) {
    for (unsigned number = 1; number <= 0xFFFF; number++) {
        if (free.count(number) == 0)
            WriteBytes(TempName(dir, number) + suffix, "");
    }
}

// Mend: when an output file's name is taken already (anyone who may write
// the directory can take names), the run takes another name; it gives up
// after a few, and never touches a file that is not its own.
TEST_F(Run, OutputNamesTakenAreSkippedAndLeftAlone) {
    if (!ManyFilesQuickly)
        GTEST_SKIP() << "taking every temporary name takes too long here";
    TempDir squatted("ep-names", work);
    kept.insert(squatted.Path().substr(work.size() + 1));
    const std::string& dir = squatted.Path();
    // Free: two input names, the first of them with a taken capture name.
    TakeNames(dir, "", {0x1234, 0x5678});
    TakeNames(dir, ".sql", {0x5678});
    size_t before = ListDir(dir).size();
    host.text = "original";
    std::vector<Box> boxes = RunWith(Child("cat %f"), dir);
    EXPECT_TRUE(boxes.empty()) << boxes[0].text;
    EXPECT_EQ(host.replacement, "original");
    EXPECT_EQ(ListDir(dir).size(), before);
    std::string bytes = "x";
    ASSERT_TRUE(ReadBytes(TempName(dir, 0x1234) + ".sql", bytes));
    EXPECT_EQ(bytes, "");

    // Every capture name taken: a box, and nothing of the run's left.
    WriteBytes(TempName(dir, 0x5678) + ".sql", "");
    FakeHost blocked;
    blocked.text = "original";
    plugin.Install(blocked, dir, Child("cat %f"));
    boxes = plugin.Call(blocked);
    EXPECT_TRUE(IsOnlyBox(boxes, "Error", "Could not create temporary file\n'"));
    EXPECT_TRUE(IsOnlyBox(boxes, "Error", ".sql'\nError code="));
    EXPECT_FALSE(blocked.replaced);
    EXPECT_EQ(ListDir(dir).size(), before + 1);
}

// Mend: a short write of the input file ends the run; nothing runs on a
// partial input. A file-size limit makes the write really fall short.
TEST_F(Run, ShortWriteOfInputEndsTheRun) {
    host.text = std::string(20000, 'q');
    std::string mark = PathJoin(work, "ran.txt");
    plugin.Install(host, work, Child("mark \"" + mark + "\" %f"));
    ASSERT_TRUE(FileSizeLimit(4096))
        << "needs a file-size limit on the process: run it through short_write_wine.sh";
    std::vector<Box> boxes = plugin.Call(host);
    FileSizeLimit(0);
    EXPECT_TRUE(IsOnlyBox(boxes, "Error", "Could not write TEMP file", BoxText::Is));
    EXPECT_FALSE(FileExists(mark));
    EXPECT_FALSE(host.replaced);
    EXPECT_EQ(host.calls, Calls({"GetTargetHandle", "GetTargetText"}));
}

// --- A host that breaks the rules --------------------------------------------

// An OnCall or OnSettings that comes while a run is at work (a host that
// handles its windows meanwhile) returns at once and touches nothing.
TEST_F(Run, EntriesDuringARunReturnAtOnce) {
    host.text = "outer";
    const PluginModule& module = plugin.Module();
    int32_t settingsResult = 0;
    host.duringGetText = [&] {
        module.onCall();
        settingsResult = module.onSettings();
    };
    EXPECT_TRUE(RunWith(Child("cat %f")).empty());
    EXPECT_EQ(host.calls, Calls({"GetTargetHandle", "GetTargetText", "SetTargetText"}));
    EXPECT_EQ(host.replacement, "outer");
    EXPECT_EQ(settingsResult, -1);
}

// --- Output limits ------------------------------------------------------------

// On a small disk of its own: a program that writes without end is ended
// once its output cannot fit, long before the disk fills.
class RunOnSmallDisk : public Run {
  protected:
    void SetUp() override {
        Run::SetUp();
        disk = MountSmallDisk(48);
        if (disk.empty())
            GTEST_SKIP() << "needs a small file system of its own (root, or EP_TMPFS under Wine)";
    }
    void TearDown() override {
        if (!disk.empty()) {
            EXPECT_TRUE(ListDir(disk).empty()) << "the run left files on the disk";
            UnmountSmallDisk(disk);
        }
        Run::TearDown();
    }
    // Runs with the disk as working directory, measuring its use meanwhile.
    std::vector<Box> RunMeasured(FakeHost& run, const std::string& commandLine,
                                 const std::string& more) {
        std::atomic<bool> running(true);
        std::atomic<unsigned long long> peak(0);
        std::thread watch([&] {
            while (running) {
                unsigned long long used = UsedBytes(disk);
                if (used > peak)
                    peak = used;
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        std::vector<Box> boxes = RunWithOptions(run, commandLine, more, disk);
        running = false;
        watch.join();
        peakUsed = peak;
        return boxes;
    }
    // Runs the endless child mode: the one box (the text match as given)
    // says why it was ended, the text is kept, the disk never held 32 MB
    // and the run took less than ten seconds.
    void ExpectEndedBeforeTheDiskFills(const char* mode, const std::string& text, BoxText match) {
        host.text = "original";
        std::vector<Box> boxes = RunMeasured(host, Child(mode), "");
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", text, match));
        EXPECT_FALSE(host.replaced);
        EXPECT_LT(peakUsed, 32ULL << 20);
        EXPECT_LT(SecondsOfLastCall(), 10.0);
    }
    std::string disk;
    unsigned long long peakUsed = 0;
};

TEST_F(RunOnSmallDisk, EndlessOutputIsEndedBeforeTheDiskFills) {
    ExpectEndedBeforeTheDiskFills("flood",
                                  "The program wrote more than 102400 bytes, more than the "
                                  "plug-in takes, and was ended, with every process it started.\n"
                                  "The text was left as it was.",
                                  BoxText::Is);

    FakeHost ignoring;
    ignoring.text = "original";
    std::vector<Box> boxes = RunMeasured(ignoring, Child("flood"), "[Run]\r\nIgnoreExitCode=1\r\n");
    EXPECT_TRUE(IsOnlyBox(boxes, "Error", "more than 102400 bytes"));
    EXPECT_FALSE(ignoring.replaced);
    EXPECT_LT(peakUsed, 32ULL << 20);
}

TEST_F(RunOnSmallDisk, EndlessStandardErrorIsEndedBeforeTheDiskFills) {
    ExpectEndedBeforeTheDiskFills(
        "flood-errors",
        "The program wrote more than 1 MiB (1048576 bytes) to its standard error and was ended, "
        "with every process it started.\nThe text was left as it was.\n\nWhat it wrote to its "
        "standard error:\nyyyy",
        BoxText::StartsWith);
}

} // namespace
