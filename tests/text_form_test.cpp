// The text's form on its way to the program and back (Encoding and
// LineEndings), over the plug-in's own objects: the input step's
// MakeProgramInput and the result step's ReadResult, on files of the test's
// making, with the boxes they show. The host's text and the program's bytes
// are made with the system's own conversions (support/text_codes.h).
#include "run/convert.h"
#include "run/run.h"
#include "run/text_form.h"
#include "settings/settings.h"
#include "support/plugin_fixture.h"
#include "support/text_codes.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char Kept[] = "\nThe text was left as it was.";

// An ASCII path in the system's wide form.
std::basic_string<WCHAR> Wide(const std::string& ascii) {
    return std::basic_string<WCHAR>(ascii.begin(), ascii.end());
}

class TextForm : public testing::Test {
  protected:
    void SetUp() override {
        if (!EnvironmentLocaleExists())
            GTEST_SKIP() << "the locale the environment names is not installed";
        memset(&context, 0, sizeof context);
        Host = &context;
        ASSERT_FALSE(dir.Path().empty());
        std::basic_string<WCHAR> settings = Wide("settings.ini");
        std::copy(settings.c_str(), settings.c_str() + settings.size() + 1, SettingsPath);
    }
    void TearDown() override {
        Host = nullptr;
    }

    // Sets the two options and makes sense of them; the boxes shown.
    std::vector<Box> Choose(const std::string& encoding, const std::string& lineEndings = "") {
        snprintf(Encoding, sizeof Encoding, "%s", encoding.c_str());
        snprintf(LineEndings, sizeof LineEndings, "%s", lineEndings.c_str());
        return CaptureBoxes(context, dir.Path(), [&] { chosen = ChooseTextForm(); });
    }
    // The program's form of the host's text, in given; the boxes shown.
    std::vector<Box> Give(const std::string& text, std::string& given) {
        memcpy(TextBuffer, text.data(), text.size());
        TextBuffer[text.size()] = '\0';
        given.clear();
        return CaptureBoxes(context, dir.Path(), [&] {
            taken = MakeProgramInput((DWORD)text.size());
            if (taken)
                given.assign(InputBytes, InputSize);
        });
    }
    // Reads the program's output back as the host's text, in text (empty
    // when it is not taken); the boxes shown.
    std::vector<Box> Take(const std::string& output, std::string& text) {
        std::string path = dir.Join("output.sql");
        EXPECT_TRUE(WriteBytes(path, output));
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        text.clear();
        std::vector<Box> boxes = CaptureBoxes(context, dir.Path(), [&] {
            taken = ReadResult(file, Wide(path).c_str(), "wrote");
            if (taken)
                text = TextBuffer;
        });
        CloseHandle(file);
        remove(path.c_str());
        return boxes;
    }

    HostContext context;
    TempDir dir;
    BOOL chosen = FALSE;
    BOOL taken = FALSE;
};

// Text in a set, from the UTF-8 of this source; empty when the set cannot
// hold it.
std::string In(const std::string& set, const std::string& utf8) {
    std::string converted;
    return Recode(utf8, "UTF-8", set, converted) ? converted : std::string();
}

// Bytes written in hexadecimal.
std::string Hex(const char* hex) {
    std::string bytes;
    for (const char* p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
        char pair[3] = {p[0], p[1], '\0'};
        bytes += (char)strtoul(pair, nullptr, 16);
    }
    return bytes;
}

std::string Utf16(const std::string& utf8, bool bigEndian) {
    std::string little = In("UTF-16LE", utf8);
    if (!bigEndian)
        return "\xFF\xFE" + little;
    std::string big = "\xFE\xFF";
    for (size_t i = 0; i + 1 < little.size(); i += 2)
        big += std::string(1, little[i + 1]) + little[i];
    return big;
}

// --- The options --------------------------------------------------------------

TEST_F(TextForm, KnownValuesAreTakenInAnyCase) {
    for (const char* encoding : {"", "ANSI", "ansi", "UTF-8", "utf8", "Oem", "1252", "437"}) {
        EXPECT_TRUE(Choose(encoding, "KEEP").empty()) << encoding;
        EXPECT_TRUE(chosen) << encoding;
    }
    for (const char* lineEndings : {"", "asis", "Keep", "unix"}) {
        EXPECT_TRUE(Choose("ANSI", lineEndings).empty()) << lineEndings;
        EXPECT_TRUE(chosen) << lineEndings;
    }
}

// A value the plug-in does not know is named, never taken for the default.
TEST_F(TextForm, UnknownValuesAreNamedAndNothingRuns) {
    struct Case {
        const char* encoding;
        const char* lineEndings;
        std::string named;
    };
    const std::string longValue(OPTION_CAPACITY - 1, '7');
    const Case cases[] = {
        {"latin1", "", "Encoding=latin1 in section [Run]"},
        {"UTF-16", "", "Encoding=UTF-16 in section [Run]"},
        {"1200", "", "Encoding=1200 in section [Run]"},   // UTF-16: no byte code page
        {"65000", "", "Encoding=65000 in section [Run]"}, // UTF-7: no checks possible
        {"70000", "", "Encoding=70000 in section [Run]"},
        {"1", "", "Encoding=1 in section [Run]"}, // the OEM code page's stand-in number
        {"-1252", "", "Encoding=-1252 in section [Run]"},
        {longValue.c_str(), "", "Encoding=" + longValue + "... in section [Run]"},
        {"UTF-8", "dos", "LineEndings=dos in section [Run]"},
    };
    for (const Case& c : cases) {
        std::vector<Box> boxes = Choose(c.encoding, c.lineEndings);
        EXPECT_FALSE(chosen) << c.encoding << " " << c.lineEndings;
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", c.named, BoxText::StartsWith));
        EXPECT_TRUE(IsOnlyBox(boxes, "Error",
                              "settings.ini\nNothing was run and the text was left as it was."));
    }
    EXPECT_TRUE(IsOnlyBox(Choose("cp1252"), "Error",
                          "not a value the plug-in knows: write ANSI, UTF-8, OEM or the number "
                          "of a code page this system converts (not UTF-7 or UTF-16).\n"));
    EXPECT_TRUE(IsOnlyBox(Choose("ANSI", "crlf"), "Error",
                          "not a value the plug-in knows: write asis, keep or unix.\n"));
}

// --- What cannot be the host's text -------------------------------------------

// Output that is not valid in its set, or holds a character the ANSI code
// page cannot hold, keeps the text, with a box that names the first such
// place: line, column (in characters) and the character or byte.
TEST_F(TextForm, OutputThatCannotBeTheHostsTextIsNamedWhereItFails) {
    struct Case {
        const char* encoding;
        std::string output;
        std::string box;
        bool needsNonUtf8Ansi;
    };
    const std::string notUtf8 = "text that is not valid in UTF-8 ";
    const Case cases[] = {
        {"UTF-8", std::string("ok\r\nab\xE9") + "cd", notUtf8 + "(line 2, column 3: the byte 0xE9)",
         true},
        // Columns count characters, not bytes.
        {"UTF-8", "\xC3\xA9\xC3\xA9\xFF", notUtf8 + "(line 1, column 3: the byte 0xFF)", true},
        {"UTF-8", "abc\n\xC3", notUtf8 + "(line 2, column 1: the byte 0xC3)", true},
        // A byte order mark says what the output is, whatever Encoding says.
        {"ANSI", Hex("EFBBBF61C328"), notUtf8 + "(line 1, column 2: the byte 0xC3)", true},
        {"ANSI", Hex("FFFE610062"),
         "text that is not valid UTF-16: it ends in half a character (line 1, column 2: the "
         "byte 0x62)",
         false},
        {"ANSI", Hex("FFFE61000A000000"), "a NUL character in UTF-16 (line 2, column 1: U+0000)",
         false},
        {"UTF-8", Hex("61620063"), "a NUL byte (at byte 3 of 4)", false},
    };
    for (const Case& c : cases) {
        if (c.needsNonUtf8Ansi && AnsiIsUtf8())
            continue;
        ASSERT_TRUE(Choose(c.encoding).empty());
        std::string text;
        std::vector<Box> boxes = Take(c.output, text);
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", "The program wrote " + c.box, BoxText::StartsWith))
            << c.encoding;
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", Kept)) << c.encoding;
        EXPECT_FALSE(taken);
    }
}

// Never a look-alike: a character the ANSI code page lacks keeps the text.
TEST_F(TextForm, CharacterTheAnsiCodePageLacksKeepsTheText) {
    const char* const characters[][2] = {
        {"ab\r\nc\xC5\x81", "(line 2, column 2: U+0141)"},           // Ł
        {"\xC3\xA9\xF0\x9F\x98\x80", "(line 1, column 2: U+1F600)"}, // beyond UTF-16's first plane
    };
    int checked = 0;
    for (const auto& c : characters) {
        if (!In("ANSI", c[0]).empty())
            continue;
        checked++;
        for (const std::string& output : {In("UTF-8", c[0]), Utf16(c[0], false)}) {
            ASSERT_TRUE(Choose("UTF-8").empty());
            std::string text;
            std::vector<Box> boxes = Take(output, text);
            EXPECT_TRUE(IsOnlyBox(boxes, "Error",
                                  "The program wrote a character that the ANSI code page " +
                                      std::to_string(AnsiCodePage()) +
                                      ", the host's, cannot hold " + c[1] + "."));
            EXPECT_FALSE(taken);
        }
    }
    if (checked == 0)
        GTEST_SKIP() << "the ANSI code page holds every character";
}

// The text goes out only where the program's set holds all of it, and only
// when it is valid in the ANSI code page.
TEST_F(TextForm, TextTheProgramsSetCannotHoldIsNotGiven) {
    std::string text = In("ANSI", "naive\r\nna\xC3\xAFve \xC3\x98");
    ASSERT_FALSE(text.empty());
    ASSERT_TRUE(Choose("437").empty());
    std::string given;
    EXPECT_TRUE(IsOnlyBox(Give(text, given), "Error",
                          "The text holds a character that code page 437 cannot hold (line 2, "
                          "column 7: U+00D8), so the program cannot be given the text as it is.",
                          BoxText::StartsWith));
    EXPECT_FALSE(taken);

    // Where the ANSI code page is UTF-8, a text of other bytes is not text
    // in it.
    if (AnsiIsUtf8()) {
        ASSERT_TRUE(Choose("1252").empty());
        EXPECT_TRUE(IsOnlyBox(Give("ab\n\xE9", given), "Error",
                              "The text is not valid in the ANSI code page 65001 (line 2, column "
                              "1: the byte 0xE9)"));
        EXPECT_FALSE(taken);
    }
}

// ASCII text passes unconverted only where both sets have ASCII where ASCII
// has it: EBCDIC has not.
TEST_F(TextForm, AsciiTextIsConvertedForASetWithoutAscii) {
    const std::string text = "SELECT 1;\r\n";
    std::string ebcdic;
    if (!Recode(text, "ANSI", "37", ebcdic) || !Choose("37").empty())
        GTEST_SKIP() << "no EBCDIC code page 37 here";
    ASSERT_NE(ebcdic, text);
    std::string given, back;
    ASSERT_TRUE(Give(text, given).empty());
    EXPECT_EQ(given, ebcdic);
    EXPECT_TRUE(Take(ebcdic, back).empty());
    EXPECT_EQ(back, text);
}

// --- Sizes --------------------------------------------------------------------

// The limits hold for the host's text, whatever the size of the program's
// form of it: the longest text goes out in UTF-8 twice as long, and comes
// back whole; a result one byte longer than the buffer does not.
TEST_F(TextForm, LimitsHoldForTheHostsTextWhateverItsFormTakes) {
    std::string e = In("ANSI", "\xC3\xA9");
    ASSERT_FALSE(e.empty());
    std::string text;
    while (text.size() + e.size() <= TEXT_CAPACITY - 2)
        text += e;
    ASSERT_TRUE(Choose("UTF-8", "keep").empty());
    std::string given, back;
    ASSERT_TRUE(Give(text, given).empty());
    std::string inUtf8;
    ASSERT_TRUE(Recode(text, "ANSI", "UTF-8", inUtf8));
    EXPECT_EQ(given, inUtf8);
    EXPECT_TRUE(AnsiIsUtf8() || given.size() > TEXT_CAPACITY) << given.size();
    EXPECT_TRUE(Take(given, back).empty());
    EXPECT_EQ(back, text);

    struct Case {
        const char* encoding;
        std::string output;
        bool fits;
    };
    const std::string full(TEXT_CAPACITY, 'x');
    const Case cases[] = {
        {"UTF-8", full, true},
        {"UTF-8", full + "x", false},
        {"ANSI", Utf16(full, false), true},
        {"ANSI", Utf16(full + "x", true), false},
        {"UTF-8", "\xEF\xBB\xBF" + full, true},
        // LF becomes CR LF over a CR LF text: the result grows.
        {"UTF-8", std::string(TEXT_CAPACITY / 3, '\n'), true},
        {"UTF-8", std::string(TEXT_CAPACITY / 2 + 1, '\n'), false},
    };
    ASSERT_TRUE(Give("a\r\n", given).empty());
    for (const Case& c : cases) {
        ASSERT_TRUE(Choose(c.encoding, "keep").empty());
        std::vector<Box> boxes = Take(c.output, back);
        if (c.fits) {
            EXPECT_TRUE(boxes.empty()) << c.encoding << " " << c.output.size();
            EXPECT_EQ(back.size(), c.output[0] == '\n' ? c.output.size() * 2 : full.size());
        } else {
            EXPECT_TRUE(IsOnlyBox(boxes, "Error",
                                  "The program wrote more than the plug-in takes: more than "
                                  "102400 bytes once made the host's text"))
                << c.encoding << " " << c.output.size();
        }
    }
    // Beyond the most the program's form of a text can take: over at once.
    ASSERT_TRUE(Choose("UTF-8").empty());
    EXPECT_TRUE(
        IsOnlyBox(Take(std::string(RAW_CAPACITY + 1, 'x'), back), "Error",
                  "The program wrote more than 102400 bytes, more than the plug-in takes."));
}

// --- Line ends ------------------------------------------------------------------

// LineEndings: asis leaves the output as it is; keep makes its line ends
// the text's, whatever the program wrote; unix does too, and gives the
// program the text with LF line ends.
TEST_F(TextForm, LineEndsOfEachOutputOverEachText) {
    const std::string texts[] = {"a\r\nb\r\n", "a\nb\n"};
    const std::string outputs[] = {"x\ny\n", "x\r\ny\r\n", "x\r\r\ny\r\r\n"};
    for (const char* choice : {"asis", "keep", "unix"}) {
        for (const std::string& text : texts) {
            bool crlf = text[1] == '\r';
            for (const std::string& output : outputs) {
                ASSERT_TRUE(Choose("ANSI", choice).empty());
                std::string given, back;
                ASSERT_TRUE(Give(text, given).empty());
                EXPECT_EQ(given, std::string(choice) == "unix" ? "a\nb\n" : text);
                EXPECT_TRUE(Take(output, back).empty());
                std::string expected = std::string(choice) == "asis" ? output
                                       : crlf                        ? "x\r\ny\r\n"
                                                                     : "x\ny\n";
                EXPECT_EQ(back, expected) << choice << " over " << (crlf ? "CR LF" : "LF");
            }
        }
    }
}

// A text with mixed line ends gives the result the kind it uses most (CR LF
// on a tie); a text without any line end makes the result's all alike, of
// the kind the result uses most. A CR that ends no line stays.
TEST_F(TextForm, MixedOrMissingLineEndsFollowTheMostUsed) {
    struct Case {
        const char* text;
        const char* output;
        const char* result;
    };
    const Case cases[] = {
        {"a\r\nb\nc\r\n", "x\ny\n", "x\r\ny\r\n"}, {"a\nb\nc\r\n", "x\r\ny\r\r\n", "x\ny\n"},
        {"a\r\nb\n", "x\ny\n", "x\r\ny\r\n"},      {"abc", "x\ny\r\nz\n", "x\ny\nz\n"},
        {"abc", "x\r\r\ny\n", "x\r\ny\r\n"},       {"", "x\ry\n", "x\ry\n"},
        {"a\r\n", "x\ry\nz", "x\ry\r\nz"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Choose("ANSI", "keep").empty());
        std::string given, back;
        ASSERT_TRUE(Give(c.text, given).empty());
        EXPECT_TRUE(Take(c.output, back).empty());
        EXPECT_EQ(back, c.result) << "text " << testing::PrintToString(c.text) << ", output "
                                  << testing::PrintToString(c.output);
    }
}

} // namespace
