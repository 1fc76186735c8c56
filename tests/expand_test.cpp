// Expansion of the command-line template, over the plug-in's own objects.
#include "run/messages.h"
#include "run/run.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

namespace {

class Expand : public testing::Test {
  protected:
    void SetUp() override {
        memset(&context, 0, sizeof context);
        strcpy(context.TextU, "user");
        strcpy(context.TextP, "pass");
        strcpy(context.TextD, "db");
        strcpy(context.TextO, "out");
        strcpy(context.TextN, "name");
        Host = &context;
    }
    std::string Expanded(const std::string& commandLine, const char* input = "C:\\T\\se1.TMP") {
        snprintf(CommandLine, sizeof CommandLine, "%s", commandLine.c_str());
        ok = ExpandCommandLine(input);
        return ExpandedCommandLine;
    }
    HostContext context;
    BOOL ok = FALSE;
};

TEST_F(Expand, EachPlaceholderTakesItsValueOnce) {
    EXPECT_EQ(Expanded("pp %f %u %p %d %o %N"), "pp C:\\T\\se1.TMP user pass db out name");
    EXPECT_TRUE(ok);
    EXPECT_EQ(Expanded("no placeholder at all"), "no placeholder at all");
    EXPECT_EQ(Expanded(""), "");
    // Only the first occurrence; the second stays as the two characters.
    EXPECT_EQ(Expanded("a %f b %f"), "a C:\\T\\se1.TMP b %f");
    // Only the exact forms count.
    EXPECT_EQ(Expanded("%F %n %U %%"), "%F %n %U %%");
}

TEST_F(Expand, ValuesAreInsertedVerbatim) {
    strcpy(context.TextU, "");
    EXPECT_EQ(Expanded("x%uy"), "xy");
    // No escape: "%%f" is a percent sign followed by the path.
    EXPECT_EQ(Expanded("%%f"), "%C:\\T\\se1.TMP");
    // A value holding a later placeholder gets it substituted, since every
    // search starts again at the beginning.
    strcpy(context.TextU, "<%p>");
    EXPECT_EQ(Expanded("%u %p"), "<pass> %p");
    strcpy(context.TextU, "\"quoted\" value");
    EXPECT_EQ(Expanded("-u %u"), "-u \"quoted\" value");
}

TEST_F(Expand, NeverLongerThan259Characters) {
    std::string base(255, 'a');
    // 255 + 4 = 259 characters: fits exactly.
    EXPECT_EQ(Expanded(base + "%u", "x"), base + "user");
    EXPECT_TRUE(ok);
    // 260 would not: refused, never cut, never written past the array.
    memset(ExpandedCommandLine, 0, sizeof ExpandedCommandLine);
    Expanded(base + "x%u", "x");
    EXPECT_FALSE(ok);
    EXPECT_EQ(ExpandedCommandLine[PATH_CAPACITY], '\0');
    EXPECT_LE(strlen(ExpandedCommandLine), 259u);
    // An input path that would overflow is refused too.
    Expanded("%f", std::string(259, 'p').c_str());
    EXPECT_TRUE(ok);
    Expanded("x%f", std::string(259, 'p').c_str());
    EXPECT_FALSE(ok);
}

// Boxes and the progress window show the command line with the place where
// "%p" put the password in masked, wherever later substitutions moved it,
// and nothing else changed: a short password garbles no other word.
TEST_F(Expand, PasswordIsMaskedWhereItWasPutInAndOnlyThere) {
    struct Case {
        const char* commandLine;
        const char* password;
        const char* other; // %u's value, or %d's
        const char* shown;
    };
    const Case cases[] = {
        {"pp -p %p %f", "P", "user", "pp -p **** C:\\T\\sePP.TMP"},
        {"pp -u %u -p %p ab", "ab", "ab", "pp -u ab -p **** ab"},
        {"pp %p hunter2", "hunter2", "user", "pp **** hunter2"},
        // Values put in before it move it.
        {"%d -p %p %o", "hunter2", "Pab", "Pab -p **** out"},
        {"%d%p", "hunter2", "", "****"},
        // A later placeholder inside the password takes its value in.
        {"%p %d", "x%dy", "dbvalue", "**** %d"},
        {"%%p", "dx", "db", "****"},
        // A user text that holds %p gets the password in its place.
        {"%u %p", "hunter2", "<%p>", "<****> %p"},
        {"pp %p", "", "user", "pp "},
    };
    for (const Case& c : cases) {
        strcpy(context.TextP, c.password);
        const char* other = c.other;
        bool database = strstr(c.commandLine, "%d") != nullptr;
        strcpy(database ? context.TextD : context.TextU, other);
        Expanded(c.commandLine, "C:\\T\\sePP.TMP");
        EXPECT_TRUE(ok);
        EXPECT_STREQ(ShownCommandLine(), c.shown) << c.commandLine << " with " << c.password;
        strcpy(context.TextU, "user");
        strcpy(context.TextD, "db");
    }
}

// An ASCII path in the system's wide form, and back.
std::basic_string<WCHAR> Wide(const std::string& ascii) {
    return std::basic_string<WCHAR>(ascii.begin(), ascii.end());
}

std::string Narrow(const WCHAR* wide) {
    std::string ascii;
    for (; *wide != 0; wide++)
        ascii += (char)*wide;
    return ascii;
}

// The settings path derived from a module path; "<none>" when none is.
std::string SettingsPathFor(const char* module) {
    WCHAR path[PATH_ARRAY];
    return DeriveSettingsPath(Wide(module).c_str(), path) ? Narrow(path) : "<none>";
}

TEST(SettingsPath, LastDotCountsEvenInDirectoryNames) {
    EXPECT_EQ(SettingsPathFor("C:\\Host\\Plugins\\plugin.dll"), "C:\\Host\\Plugins\\plugin.ini");
    EXPECT_EQ(SettingsPathFor("/opt/my.tools/plugin"), "/opt/my.ini");
    EXPECT_EQ(SettingsPathFor("/usr/lib/a.b.so"), "/usr/lib/a.b.ini");
}

TEST(SettingsPath, ModuleFileIsNeverTheSettingsFile) {
    EXPECT_EQ(SettingsPathFor("/opt/tools/plugin"), "/opt/tools/plugin.ini");
    EXPECT_EQ(SettingsPathFor("/opt/tools/plugin.INI"), "/opt/tools/plugin.INI.ini");
}

TEST(SettingsPath, TooLongForTheArrayGivesNoPath) {
    WCHAR path[PATH_ARRAY];
    std::string dir(250, 'd');
    // 250 + "/p.x" -> 250 + "/p.ini" = 256 characters: fits.
    EXPECT_TRUE(DeriveSettingsPath(Wide(dir + "/p.x").c_str(), path));
    // A module path of 259 characters with a one-letter extension would
    // need 261.
    std::string longPath = std::string(257, 'd') + ".x";
    EXPECT_FALSE(DeriveSettingsPath(Wide(longPath).c_str(), path));
    EXPECT_EQ(Narrow(path), "");
}

} // namespace
