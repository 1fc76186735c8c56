// Splitting command lines into arguments. Every case of cmdline_cases.h is
// started as a real program that echoes what it received: natively that goes
// through our splitter and execve, built for Windows through CreateProcessA
// and the C runtime's parser. Natively the splitter is also checked directly.
#include "cmdline_cases.h"
#include "cmdline_run.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include "cmdline.h"
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
