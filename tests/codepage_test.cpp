// MultiByteToWideChar, WideCharToMultiByte and IsValidCodePage. Built
// natively the cases run over our platform layer; built with mingw-w64 they
// run over the Windows functions (Wine), with the same table
// (codepage_cases.h). Natively also: what ANSI is in each locale, GetACP's
// numbers, and the layer's lossless mapping of Linux names.
#include "codepage_cases.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <stdio.h>
#include <string.h>
#include <string>

#ifndef _WIN32
#include "charset.h"
#include "child.h"
#include "names.h"

#include <locale.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <vector>
#endif

namespace {

// The units as "U+0061 U+00E9", so that a failure shows them (WCHAR or
// char16_t, which are the same on Linux).
template <typename Unit> std::string Units(const Unit* units, int count) {
    std::string text;
    for (int i = 0; i < count; i++) {
        char one[8];
        snprintf(one, sizeof one, "U+%04X", (unsigned)units[i]);
        text += (i > 0 ? " " : "") + std::string(one);
    }
    return text;
}

// The bytes as "63 E9", likewise.
std::string Hex(const char* bytes, int count) {
    std::string text;
    for (int i = 0; i < count; i++) {
        char one[4];
        snprintf(one, sizeof one, "%02X", (unsigned char)bytes[i]);
        text += (i > 0 ? " " : "") + std::string(one);
    }
    return text;
}

const WCHAR WideSentinel = 0xABCD;
const char ByteSentinel = 0x7F;

// What a case gives where the test runs: Wine's result where the case has
// one (wineText not NULL) and the functions are Wine's, else Windows'.
template <typename Text> struct Expected {
    int count;
    const Text* text;
};

template <typename Text>
Expected<Text> ForHere(int count, const Text* text, int wineCount, const Text* wineText) {
#ifdef _WIN32
    if (wineText != nullptr &&
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr)
        return {wineCount, wineText};
#else
    (void)wineCount;
    (void)wineText;
#endif
    return {count, text};
}

// One case: the buffer is filled with a sentinel first, so that a unit
// written past the capacity shows.
void RunToWide(const ToWideCase& c) {
    Expected<char16_t> here = ForHere(c.result, c.wide, c.wineResult, c.wineWide);
    int expected = here.count;
    const char16_t* units = here.text;
    WCHAR buffer[32];
    for (WCHAR& unit : buffer)
        unit = WideSentinel;
    int capacity = c.capacity == NoBuffer ? 4 : c.capacity;
    SetLastError(0);
    int result = MultiByteToWideChar(c.codePage, c.flags, c.bytes, c.length,
                                     c.capacity == NoBuffer ? nullptr : buffer, capacity);
    EXPECT_EQ(result, expected);
    if (expected == 0) {
        EXPECT_EQ(GetLastError(), (DWORD)c.error);
    }
    if (units != nullptr && result == expected) {
        EXPECT_EQ(Units(buffer, result), Units(units, expected));
    }
    for (int i = capacity > 0 ? capacity : 0; i < 32; i++) {
        if (buffer[i] != WideSentinel) {
            ADD_FAILURE() << "unit " << i << " written past the capacity";
            break;
        }
    }
}

void RunToBytes(const ToBytesCase& c) {
    // Our layer's result where it differs on purpose, natively.
#ifdef _WIN32
    const char* windowsBytes = c.bytes;
    int expectedUsed = c.used;
#else
    const char* windowsBytes = c.layerBytes != nullptr ? c.layerBytes : c.bytes;
    int expectedUsed = c.layerBytes != nullptr ? c.layerUsed : c.used;
#endif
    Expected<char> here = ForHere(c.result, windowsBytes, c.wineResult, c.wineBytes);
    int expected = here.count;
    const char* bytes = here.text;
    char buffer[32];
    memset(buffer, ByteSentinel, sizeof buffer);
    int capacity = c.capacity == NoBuffer ? 4 : c.capacity;
    BOOL used = 2;
    SetLastError(0);
    int result = WideCharToMultiByte(c.codePage, c.flags, reinterpret_cast<const WCHAR*>(c.wide),
                                     c.length, c.capacity == NoBuffer ? nullptr : buffer, capacity,
                                     c.defaultChar, c.askUsed ? &used : nullptr);
    EXPECT_EQ(result, expected);
    if (expected == 0) {
        EXPECT_EQ(GetLastError(), (DWORD)c.error);
    }
    if (bytes != nullptr && result == expected) {
        EXPECT_EQ(Hex(buffer, result), Hex(bytes, expected));
    }
    if (c.askUsed && expected != 0) {
        EXPECT_EQ(used, expectedUsed);
    }
    for (int i = capacity > 0 ? capacity : 0; i < 32; i++) {
        if (buffer[i] != ByteSentinel) {
            ADD_FAILURE() << "byte " << i << " written past the capacity";
            break;
        }
    }
}

// A table of cases, named by what it shows.
template <typename Case> struct Table {
    const char* name;
    const Case* cases;
    size_t count;
};

template <typename Case, size_t N> Table<Case> Of(const char* name, const Case (&cases)[N]) {
    return {name, cases, N};
}

template <typename Case> void RunTable(const Table<Case>& table, void (*run)(const Case&)) {
    for (size_t i = 0; i < table.count; i++) {
        SCOPED_TRACE("case " + std::to_string(i));
        run(table.cases[i]);
    }
}

} // namespace

class ToWideTable : public testing::TestWithParam<Table<ToWideCase>> {};

TEST_P(ToWideTable, GivesWhatWindowsGives) {
    RunTable(GetParam(), RunToWide);
}

INSTANTIATE_TEST_SUITE_P(
    MultiByteToWideChar, ToWideTable,
    testing::Values(Of("Utf8GivesEveryCharacterAndSurrogatePairs", ToWideUtf8),
                    Of("SizeQueryExactFitAndOneShort", ToWideSizes),
                    Of("InvalidUtf8IsReplacementCharacterOrFails", ToWideInvalid),
                    Of("SingleByteCodePagesGiveTheirCharacters", ToWideSingleByte),
                    Of("BadArgumentsAndFlagsAreRefused", ToWideRefused)),
    [](const testing::TestParamInfo<Table<ToWideCase>>& table) { return table.param.name; });

class ToBytesTable : public testing::TestWithParam<Table<ToBytesCase>> {};

TEST_P(ToBytesTable, GivesWhatWindowsGives) {
    RunTable(GetParam(), RunToBytes);
}

INSTANTIATE_TEST_SUITE_P(
    WideCharToMultiByte, ToBytesTable,
    testing::Values(Of("Utf8GivesEveryCharacterAndReplacesLoneSurrogates", ToBytesUtf8),
                    Of("SizeQueryExactFitAndOneShort", ToBytesSizes),
                    Of("OutsideTheCodePageIsTheDefaultCharacterNeverALookAlike", ToBytesSingleByte),
                    Of("BadArgumentsAndFlagsAreRefused", ToBytesRefused)),
    [](const testing::TestParamInfo<Table<ToBytesCase>>& table) { return table.param.name; });

TEST(IsValidCodePage, NumbersAreValidNotTheStandInsForASet) {
    for (const ValidCase& c : ValidCodePages)
        EXPECT_EQ(IsValidCodePage(c.codePage) != FALSE, c.valid) << c.codePage;
}

#ifndef _WIN32

namespace {

// The locale's character set for the length of a scope, as a host sets it
// with setlocale; the test fails where the locale is not installed
// (scripts/setup.sh generates en_US.ISO-8859-1).
class Locale {
  public:
    explicit Locale(const char* name) {
        set_ = setlocale(LC_CTYPE, name) != nullptr;
        if (!set_)
            ADD_FAILURE() << "the locale " << name
                          << " is not installed: run scripts/setup.sh as root";
    }
    ~Locale() {
        setlocale(LC_CTYPE, "C");
    }
    Locale(const Locale&) = delete;
    Locale& operator=(const Locale&) = delete;
    bool Set() const {
        return set_;
    }

  private:
    bool set_;
};

const char* const Latin1 = "en_US.ISO-8859-1";

std::string ToWide(UINT codePage, const char* bytes) {
    WCHAR wide[64];
    int n = MultiByteToWideChar(codePage, 0, bytes, -1, wide, 64);
    return n > 0 ? Units(wide, n - 1) : "<failed>";
}

std::string ToBytes(UINT codePage, const char16_t* wide, BOOL* used = nullptr) {
    char bytes[64];
    int n = WideCharToMultiByte(codePage, 0, reinterpret_cast<const WCHAR*>(wide), -1, bytes, 64,
                                nullptr, used);
    return n > 0 ? std::string(bytes, n - 1) : "<failed>";
}

// Runs this program's test CodepageChild.DISABLED_AnsiIsAsExpected in a
// new process with only the environment given, where no one calls
// setlocale; its exit status.
int RunChild(const char* lcAll, const char* lang, const char* expected) {
    std::vector<std::string> variables = {std::string("EP_EXPECTED_ACP=") + expected};
    if (lcAll != nullptr)
        variables.push_back(std::string("LC_ALL=") + lcAll);
    if (lang != nullptr)
        variables.push_back(std::string("LANG=") + lang);
    std::vector<char*> environment;
    environment.reserve(variables.size() + 1);
    for (std::string& variable : variables)
        environment.push_back(&variable[0]);
    environment.push_back(nullptr);
    std::string self = SelfPath();
    std::string filter = "--gtest_filter=CodepageChild.*";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {&self[0], &filter[0], &disabled[0], nullptr};
    pid_t pid;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv, environment.data()) != 0)
        return -1;
    int status;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST(AnsiCodePage, IsUtf8InTheCUtf8Locale) {
    Locale locale("C.UTF-8");
    ASSERT_TRUE(locale.Set());
    EXPECT_EQ(GetACP(), 65001u);
    EXPECT_EQ(GetOEMCP(), 65001u);
    EXPECT_EQ(ToWide(CP_ACP, "\xc5\x81\xc3\xb3"
                             "d\xc5\xba"),
              "U+0141 U+00F3 U+0064 U+017A");
    EXPECT_EQ(ToWide(CP_OEMCP, "\xe2\x82\xac"), "U+20AC");
    EXPECT_EQ(ToBytes(CP_ACP, u"\u0141\U0001F600"), "\xc5\x81\xf0\x9f\x98\x80");
}

TEST(AnsiCodePage, IsLatin1InALatin1Locale) {
    Locale locale(Latin1);
    ASSERT_TRUE(locale.Set());
    EXPECT_EQ(GetACP(), 28591u);
    EXPECT_EQ(GetOEMCP(), 28591u);
    EXPECT_EQ(ToWide(CP_ACP, "caf\xe9\x80\xff"), "U+0063 U+0061 U+0066 U+00E9 U+0080 U+00FF");
    BOOL used = FALSE;
    EXPECT_EQ(ToBytes(CP_ACP, u"\u00e9\u0141", &used), "\xe9?");
    EXPECT_TRUE(used);
    EXPECT_EQ(ToBytes(CP_OEMCP, u"\u00ff"), "\xff");
}

TEST(AnsiCodePage, ChangesWhenTheHostChangesTheLocale) {
    {
        Locale latin1(Latin1);
        ASSERT_TRUE(latin1.Set());
        EXPECT_EQ(ToWide(CP_ACP, "\xc3\xa9"), "U+00C3 U+00A9");
    }
    Locale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.Set());
    EXPECT_EQ(ToWide(CP_ACP, "\xc3\xa9"), "U+00E9");
}

// Where no one called setlocale, ANSI is the environment's; the plain C
// and POSIX locales, and a locale that is not installed, count as UTF-8.
TEST(AnsiCodePage, IsTheEnvironmentsWhereTheHostSetNone) {
    EXPECT_EQ(RunChild(Latin1, nullptr, "28591"), 0);
    EXPECT_EQ(RunChild(nullptr, Latin1, "28591"), 0);
    EXPECT_EQ(RunChild("C.UTF-8", Latin1, "65001"), 0);
    EXPECT_EQ(RunChild("C", nullptr, "65001"), 0);
    EXPECT_EQ(RunChild("POSIX", nullptr, "65001"), 0);
    EXPECT_EQ(RunChild(nullptr, nullptr, "65001"), 0);
    EXPECT_EQ(RunChild("xx_XX.NOT-INSTALLED", nullptr, "65001"), 0);
}

// Run by the test above, in a process of its own.
TEST(CodepageChild, DISABLED_AnsiIsAsExpected) {
    const char* expected = getenv("EP_EXPECTED_ACP");
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(GetACP(), (UINT)atoi(expected));
    EXPECT_EQ(GetOEMCP(), (UINT)atoi(expected));
}

TEST(AnsiCodePage, GetAcpGivesTheWindowsNumberOfTheLocalesSet) {
    const struct {
        const char* name;
        UINT number;
    } sets[] = {
        {"UTF-8", 65001},
        {"utf8", 65001},
        {"ISO-8859-1", 28591},
        {"iso88591", 28591},
        {"ISO-8859-2", 28592},
        {"ISO-8859-15", 28605},
        {"ANSI_X3.4-1968", 20127},
        {"KOI8-R", 20866},
        {"KOI8-U", 21866},
        {"CP1251", 1251},
        {"WINDOWS-1252", 1252},
        {"GB2312", 936},
        {"GBK", 936},
        {"GB18030", 54936},
        {"BIG5", 950},
        {"EUC-JP", 20932},
        {"EUC-KR", 51949},
        {"TIS-620", 874},
        {"ARMSCII-8", 0},
        {"", 0},
    };
    for (const auto& set : sets)
        EXPECT_EQ(CodePageOfCharsetName(set.name), set.number) << set.name;
}

// Every code page the layer has converts text there and back; an East Asian
// one (through iconv) too.
TEST(NumberedCodePages, ConvertThereAndBack) {
    const UINT pages[] = {37,    437,   850,   852,   866,   874,   932,   936,   949,
                          950,   1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,
                          1258,  10000, 20127, 20866, 20932, 21866, 28591, 28592, 28595,
                          28597, 28599, 28603, 28605, 50220, 51932, 51949, 54936};
    for (UINT page : pages) {
        EXPECT_TRUE(IsValidCodePage(page)) << page;
        char bytes[32];
        int n = WideCharToMultiByte(page, 0, reinterpret_cast<const WCHAR*>(u"Hello"), -1, bytes,
                                    32, nullptr, nullptr);
        ASSERT_GT(n, 0) << page;
        EXPECT_EQ(ToWide(page, bytes), "U+0048 U+0065 U+006C U+006C U+006F") << page;
    }
    EXPECT_EQ(ToWide(932, "\x93\xfa\x96\x7b"), "U+65E5 U+672C");
    EXPECT_EQ(ToBytes(932, u"\u65e5\u672c\u0141"), "\x93\xfa\x96\x7b?");
    EXPECT_EQ(ToBytes(54936, u"\U0001F600"), "\x94\x39\xfc\x36");
    EXPECT_EQ(ToWide(54936, "\x94\x39\xfc\x36"), "U+D83D U+DE00");
    EXPECT_EQ(ToBytes(50220, u"a\u65e5b"), "a\x1b$BF|\x1b(Bb");
}

namespace {

// Whether the name comes back byte for byte, and its wide form.
std::string RoundTrip(const std::string& name) {
    WCHAR wide[64];
    if (!NameToWide(name.c_str(), wide, 64))
        return "<no wide form>";
    char back[64];
    if (!WideToName(wide, back, sizeof back))
        return "<no way back from " + Units(wide, 8) + ">";
    return back == name ? "" : "<" + Hex(back, (int)strlen(back)) + ">";
}

std::string WideOf(const char* name) {
    WCHAR wide[64];
    if (!NameToWide(name, wide, 64))
        return "<failed>";
    int n = 0;
    while (wide[n] != 0)
        n++;
    return Units(wide, n);
}

// Every byte value, alone and beside every other above 7F: what the name
// mapping must give back in every locale.
void EveryByteComesBack() {
    for (int b = 1; b < 256; b++) {
        std::string name = std::string("x") + (char)b + "y";
        EXPECT_EQ(RoundTrip(name), "") << "byte " << b;
    }
    for (int a = 0x80; a < 256; a++) {
        for (int b = 0x80; b < 256; b++) {
            std::string name = {(char)a, (char)b};
            if (!RoundTrip(name).empty()) {
                ADD_FAILURE() << "bytes " << a << " " << b << ": " << RoundTrip(name);
                return;
            }
        }
    }
    const char* names[] = {"\xe2\x82\xac",     "\xf0\x9f\x98\x80", "\xed\xa0\x80",
                           "\xf4\x90\x80\x80", "\xe2\x82",         "caf\xc3\xa9/\xe9t\xe9"};
    for (const char* name : names)
        EXPECT_EQ(RoundTrip(name), "") << Hex(name, (int)strlen(name));
}

} // namespace

TEST(Names, EveryByteComesBackInAUtf8Locale) {
    Locale locale("C.UTF-8");
    ASSERT_TRUE(locale.Set());
    EveryByteComesBack();
    EXPECT_EQ(WideOf("caf\xc3\xa9"), "U+0063 U+0061 U+0066 U+00E9");
    EXPECT_EQ(WideOf("\xf0\x9f\x98\x80"), "U+D83D U+DE00");
    EXPECT_EQ(WideOf("caf\xe9"), "U+0063 U+0061 U+0066 U+DCE9");
    EXPECT_EQ(WideOf("\xed\xa0\x80"), "U+DCED U+DCA0 U+DC80");
}

TEST(Names, EveryByteComesBackInALatin1Locale) {
    Locale locale(Latin1);
    ASSERT_TRUE(locale.Set());
    EveryByteComesBack();
    EXPECT_EQ(WideOf("caf\xe9"), "U+0063 U+0061 U+0066 U+00E9");
    EXPECT_EQ(WideOf("\xc3\xa9"), "U+00C3 U+00A9");
}

TEST(Names, WideNamesWithoutBytesOrRoomAreRefused) {
    Locale locale(Latin1);
    ASSERT_TRUE(locale.Set());
    char name[8];
    SetLastError(0);
    EXPECT_FALSE(WideToName(reinterpret_cast<const WCHAR*>(u"\u0141"), name, sizeof name));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_FALSE(WideToName(reinterpret_cast<const WCHAR*>(u"a\xd800"), name, sizeof name));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION);
    EXPECT_TRUE(WideToName(reinterpret_cast<const WCHAR*>(u"\u00e9\xdc80"), name, sizeof name));
    EXPECT_EQ(Hex(name, 3), "E9 80 00");
    // Exact fit and one short, both ways.
    EXPECT_TRUE(WideToName(reinterpret_cast<const WCHAR*>(u"abc"), name, 4));
    SetLastError(0);
    EXPECT_FALSE(WideToName(reinterpret_cast<const WCHAR*>(u"abc"), name, 3));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    WCHAR wide[4];
    EXPECT_TRUE(NameToWide("ab\xe9", wide, 4));
    SetLastError(0);
    EXPECT_FALSE(NameToWide("ab\xe9", wide, 3));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
}

#endif
