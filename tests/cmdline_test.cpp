// Finding the program a command line names and splitting the line into
// arguments. Every case of cmdline_cases.h is started as a real program that
// echoes what it received: natively that goes through our rules and execve,
// built for Windows through CreateProcessA and the C runtime's parser.
// Natively the splitter is also checked directly.
#include "cmdline_cases.h"
#include "cmdline_run.h"
#include "support/test_system.h"

#include <gtest/gtest.h>

#ifdef _WIN32
static const char ProgramSuffix[] = ".exe";
#else
#include "cmdline.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

static const char ProgramSuffix[] = "";
#endif

static std::vector<std::string> Listed(const CommandLineCase& c, const char* program) {
    std::vector<std::string> args;
    if (program != nullptr)
        args.push_back(program);
    for (int i = 0; i < 6 && c.args[i] != nullptr; i++)
        args.push_back(c.args[i]);
    return args;
}

TEST(CommandLine, EveryCaseReachesTheStartedProgram) {
    for (size_t i = 0; i < sizeof ArgumentCases / sizeof ArgumentCases[0]; i++) {
        SCOPED_TRACE(testing::Message() << "case " << i + 1 << ": " << ArgumentCases[i].line);
        std::string output = RunCaptured(Self() + " --child echo-args " + ArgumentCases[i].line);
        EXPECT_EQ(Listed(ArgumentCases[i], nullptr), Echoed(output));
    }
}

// Copies of this program under the names the start cases use, in a
// directory of their own at the front of PATH while the copies exist.
class ProgramCopies {
  public:
    ProgramCopies() : directory_(MakeTempDir("ep-start")) {
        const std::string programs[] = {std::string("argdump") + ProgramSuffix,
                                        std::string("arg dump") + ProgramSuffix,
                                        std::string("arg --child") + ProgramSuffix, "exeonly.exe"};
        EXPECT_NE(directory_, "");
        for (const std::string& name : programs) {
            std::string file = PathJoin(directory_, name);
            EXPECT_TRUE(CopySelf(file)) << file;
        }
        const char* path = getenv("PATH");
        path_ = path != nullptr ? path : "";
        SetPath(directory_ + ListSeparator + path_);
    }
    ~ProgramCopies() {
        SetPath(path_);
        if (!directory_.empty())
            RemoveTree(directory_);
    }
    ProgramCopies(const ProgramCopies&) = delete;
    ProgramCopies& operator=(const ProgramCopies&) = delete;

  private:
#ifdef _WIN32
    static constexpr char ListSeparator = ';';
    static bool CopySelf(const std::string& to) {
        return CopyFileA(SelfPath(), to.c_str(), FALSE) != 0;
    }
    // PATH of this process, which children inherit and are looked up in.
    static void SetPath(const std::string& value) {
        SetEnvironmentVariableA("PATH", value.c_str());
    }
#else
    static constexpr char ListSeparator = ':';
    static bool CopySelf(const std::string& to) {
        std::ifstream in(SelfPath(), std::ios::binary);
        std::ofstream out(to, std::ios::binary);
        out << in.rdbuf();
        out.close();
        return out.good() && chmod(to.c_str(), 0755) == 0;
    }
    static void SetPath(const std::string& value) {
        setenv("PATH", value.c_str(), 1);
    }
#endif
    std::string directory_;
    std::string path_;
};

// Finding the program follows CreateProcessA's own rule, not the split of
// the arguments: the name ends at the first blank with its quotes kept, or
// at the quote that closes the one the line starts with.
TEST(CommandLine, ProgramIsFoundByTheProcessCreationRule) {
    ProgramCopies copies;
    for (size_t i = 0; i < sizeof StartCases / sizeof StartCases[0]; i++) {
        const StartCase& c = StartCases[i];
        SCOPED_TRACE(testing::Message() << "case " << i + 1 << ": " << c.line);
        std::vector<std::string> expected;
        for (int at = 0; at < 4 && c.args[at] != nullptr; at++)
            expected.push_back(c.args[at]);
        if (c.error != 0)
            expected = {"not started: " + std::to_string(c.error)};
        std::string output = RunCaptured(c.line);
        bool started = output.rfind("not started: ", 0) != 0;
        EXPECT_EQ(expected, started ? Echoed(output) : std::vector<std::string>{output});
    }
}

TEST(CommandLine, DeclaredDifferencesInFindingTheProgramHold) {
    ProgramCopies copies;
#ifdef _WIN32
    const bool windows = true;
#else
    const bool windows = false;
#endif
    for (size_t i = 0; i < sizeof DifferingStartCases / sizeof DifferingStartCases[0]; i++) {
        const DifferingStartCase& c = DifferingStartCases[i];
        SCOPED_TRACE(testing::Message() << "case " << i + 1 << ": " << c.line);
        std::string output = RunCaptured(c.line);
        bool started = output.rfind("not started: ", 0) != 0;
        EXPECT_EQ(windows ? c.startsOnWindows : c.startsNatively, started) << output;
    }
}

#ifndef _WIN32
static std::vector<std::string> Split(const std::string& line) {
    static char storage[1024];
    static char* argv[256];
    int argc = SplitCommandLine(line.c_str(), storage, sizeof storage, argv, 256);
    if (argc < 0)
        return {"refused"};
    EXPECT_EQ(nullptr, argv[argc]);
    return std::vector<std::string>(argv, argv + argc);
}

TEST(CommandLine, SplitterGivesEveryCaseAfterTheProgramName) {
    for (size_t i = 0; i < sizeof ArgumentCases / sizeof ArgumentCases[0]; i++) {
        SCOPED_TRACE(testing::Message() << "case " << i + 1 << ": " << ArgumentCases[i].line);
        EXPECT_EQ(Listed(ArgumentCases[i], "prog"),
                  Split(std::string("prog ") + ArgumentCases[i].line));
    }
}

TEST(CommandLine, ProgramNameEndsAtBlankWithQuotesToggledAndBackslashesPlain) {
    for (size_t i = 0; i < sizeof ProgramNameCases / sizeof ProgramNameCases[0]; i++) {
        SCOPED_TRACE(testing::Message() << "case " << i + 1 << ": " << ProgramNameCases[i].line);
        EXPECT_EQ(Listed(ProgramNameCases[i], nullptr), Split(ProgramNameCases[i].line));
    }
}

// "prog a\"b "c d"" needs 13 characters ("prog", "a"b", "c d", terminators)
// and 4 pointers (three and the NULL): every smaller size is refused, and
// nothing is written past the sizes given.
TEST(CommandLine, SplitterRefusesWhatDoesNotFitAndWritesNothingBeyond) {
    const char* line = "prog a\\\"b \"c d\"";
    char* const untouched = (char*)"sentinel";
    for (size_t size = 0; size <= 13; size++) {
        for (int count = 0; count <= 4; count++) {
            SCOPED_TRACE(testing::Message() << "storage " << size << ", pointers " << count);
            char storage[32];
            char* argv[8];
            memset(storage, 'Z', sizeof storage);
            for (char*& arg : argv)
                arg = untouched;
            int argc = SplitCommandLine(line, storage, size, argv, count);
            EXPECT_EQ(size == 13 && count == 4 ? 3 : -1, argc);
            for (size_t at = size; at < sizeof storage; at++)
                ASSERT_EQ('Z', storage[at]) << at;
            for (int at = count; at < 8; at++)
                ASSERT_EQ(untouched, argv[at]) << at;
        }
    }
}

// The densest lines of 259 characters fit the sizes the layer uses.
TEST(CommandLine, LongestLinesFitTheLayerSizes) {
    for (const char* unit : {"a ", " a", "\"\" ", "\\\\\\\""}) {
        std::string line;
        while (line.size() < 259)
            line += unit;
        line.resize(259);
        char storage[SPLIT_STORAGE_SIZE];
        char* argv[SPLIT_MAX_ARGS];
        EXPECT_LT(0, SplitCommandLine(line.c_str(), storage, sizeof storage, argv, SPLIT_MAX_ARGS))
            << unit;
    }
}
#endif
