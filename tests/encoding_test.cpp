// The program's character set and line ends end to end: the real module
// runs this test program as programs of each kind (child mode "speak"),
// over the host's text in its ANSI code page.
#include "child.h"
#include "support/plugin_fixture.h"
#include "support/text_codes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class EncodingRun : public PluginRuns {
  protected:
    void SetUp() override {
        if (!EnvironmentLocaleExists())
            GTEST_SKIP() << "the locale the environment names is not installed";
        PluginRuns::SetUp();
    }
    // Installs the template with lines of section [Run] and runs once over
    // the text.
    std::vector<Box> RunWith(FakeHost& run, const std::string& text, const std::string& commandLine,
                             const std::string& options) {
        run.text = text;
        WriteBytes(plugin.SettingsPath(),
                   SettingsText(work, commandLine) + "[Run]\r\n" + options + "\r\n");
        plugin.InstallOnly(run);
        return plugin.Call(run);
    }
};

// The text of the table in docs/configuring.md, in the host's ANSI code
// page; empty where that cannot hold it.
std::string Cafe() {
    std::string text;
    return Recode("caf\xC3\xA9\r\nna\xC3\xAFve\r\n", "UTF-8", "ANSI", text) ? text : "";
}

// Programs of each kind give the text back as it was, each with the
// setting that says what it speaks: one that speaks UTF-8 (and reads its
// input so: it fails on anything else), one that writes UTF-8 behind a
// byte order mark or UTF-16 whatever it reads, and with LineEndings=keep one
// that writes LF or, as a C runtime in text mode, CR CR LF.
TEST_F(EncodingRun, EachKindOfProgramGivesTheTextBack) {
    const std::string text = Cafe();
    if (text.empty())
        GTEST_SKIP() << "the ANSI character set cannot hold the text";
    struct Case {
        const char* set;
        const char* form;
        const char* lineEndings;
    };
    const Case cases[] = {
        {"UTF-8", "plain", "asis"},
        {"UTF-8", "bom", "asis"},
        {"UTF-8", "utf16", "asis"},
        {"OEM", "plain", "asis"},
        {"OEM", "bom", "asis"},
        {"OEM", "utf16", "asis"},
        {"1252", "plain", "asis"},
        {"1252", "bom", "asis"},
        {"1252", "utf16", "asis"},
        // A byte order mark says what the output is with the default too.
        {"ANSI", "bom", "asis"},
        {"ANSI", "utf16", "asis"},
        {"UTF-8", "lf", "keep"},
        {"1252", "crcrlf", "keep"},
    };
    for (const Case& c : cases) {
        FakeHost run;
        std::vector<Box> boxes =
            RunWith(run, text, Child(std::string("speak ") + c.set + " " + c.form + " %f"),
                    std::string("Encoding=") + c.set + "\r\nLineEndings=" + c.lineEndings);
        for (const Box& box : boxes)
            ADD_FAILURE() << c.set << " " << c.form << ": \"" << box.caption << "\": " << box.text;
        EXPECT_EQ(run.replacement, text) << c.set << " " << c.form;
    }
}

// The text's UTF-8 form is twice its size: it goes out whole, and the
// program's output of that size is taken, not ended as too long.
TEST_F(EncodingRun, TextWhoseUtf8FormIsLargerThanTheLimitGoesAndComesBack) {
    std::string e;
    if (!Recode("\xC3\xA9", "UTF-8", "ANSI", e))
        GTEST_SKIP() << "the ANSI character set has no e acute";
    std::string text;
    while (text.size() + e.size() <= TEXT_CAPACITY - 2)
        text += e;
    FakeHost run;
    std::vector<Box> boxes = RunWith(run, text, Child("speak UTF-8 plain %f"), "Encoding=UTF-8");
    EXPECT_TRUE(boxes.empty()) << boxes[0].text;
    EXPECT_EQ(run.replacement, text);
}

// What the plug-in cannot do with the settings or the text keeps the text,
// with a box, before any program starts.
TEST_F(EncodingRun, WhatCannotBeGivenToTheProgramStartsNothing) {
    struct Case {
        std::string text;
        const char* options;
        const char* box;
    };
    const Case cases[] = {
        {"text", "LineEndings=dos", "LineEndings=dos in section [Run]"},
        {"text", "Encoding=latin-1", "Encoding=latin-1 in section [Run]"},
        {"ab\r\n\xC3\x98", "Encoding=437",
         "The text holds a character that code page 437 cannot hold (line 2, column 1: U+00D8)"},
    };
    std::string mark = PathJoin(work, "ran.txt");
    for (const Case& c : cases) {
        std::string text;
        ASSERT_TRUE(Recode(c.text, "UTF-8", "ANSI", text));
        FakeHost run;
        std::vector<Box> boxes = RunWith(run, text, Child("mark \"" + mark + "\" %f"), c.options);
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", c.box, BoxText::Holds)) << c.options;
        EXPECT_TRUE(IsOnlyBox(boxes, "Error", "Nothing was run and the text was left as it was."));
        EXPECT_FALSE(run.replaced);
        EXPECT_FALSE(FileExists(mark)) << c.options;
    }
}

} // namespace
