// Profile-file cases, run both through our platform layer and through the
// Windows functions (kernel32 under Wine), so that any difference shows.
// Every difference is declared here, once.
//
// WHERE WINE DIFFERS. Wine 8.0 differs from Windows here; a case that shows
// it carries Wine's result in its `wine` field, used only when running
// under Wine, and our layer follows Windows:
//   1. A quoted value that fits the capacity exactly loses its last
//      character: Wine counts the closing quote against the capacity.
//      Windows drops the quotes and then cuts to capacity - 1.
//   2. Wine keeps a ";" comment line as a key named ";...", so asking for
//      such a name finds it and a new key goes after it. Windows keeps
//      comment lines out of its key lists; our layer skips them altogether.
//   3. Wine rewrites the whole file from its parsed form on every write: it
//      drops blank lines, trims blanks around names and values, and ends
//      every line with CRLF. Windows edits only the line concerned, and
//      leaves every other byte as it was.
//   4. Wine takes a file that starts with the UTF-8 byte-order mark
//      (EF BB BF) for UTF-8: it skips the mark and converts values to the
//      ANSI code page. Windows knows only the UTF-16LE mark (FF FE): it reads
//      such a file as ANSI bytes, the mark being the first three bytes of the
//      first line, so a section header on that line is not one (a write
//      then adds the section anew at the end of the file).
//
// WHERE OUR LAYER DIFFERS, ON PURPOSE. A case that shows it carries the
// layer's result in its `layer` field, used only natively:
//   A. A line that a write adds (a key, a section header, the line end a
//      last line lacked) ends as the file's first line end does (CRLF in a
//      new file or one without any). Windows always ends it with CRLF. So a
//      settings file kept in git or edited with Linux tools keeps one
//      line-end style.
//   B. The ANSI code page is UTF-8 on Linux; in Wine's test prefix it is
//      Windows-1252. The functions convert between a UTF-16 file's text and
//      the ANSI code page, so the texts of the UTF-16 cases (names, values,
//      defaults and results) are written here in UTF-8 and the test converts
//      them to the ANSI code page it runs with: a character that
//      Windows-1252 lacks is "?" under Wine and the character itself in our
//      layer, and a lone surrogate, which no code page holds, is "?" under
//      Wine and U+FFFD in our layer (as Windows converts it to UTF-8). Values
//      cut inside a character are tested natively only (profile_test.cpp):
//      our layer leaves out a character that does not fit whole, and no
//      character of Windows-1252 takes more than one byte.
#pragma once

struct ReadCase {
    const char* file; // the file's bytes; NULL: no file
    const char* section;
    const char* key;
    const char* defaultValue;
    unsigned capacity;
    const char* expected; // the buffer afterwards, its length returned; NULL:
                          // untouched, 0
    const char* wine;     // Wine's result where it differs (see above), else NULL
};

// Matching sections and keys.
static const ReadCase ReadNames[] = {
    {"[Path]\r\nA=1\r\n", "Path", "A", "d", 10, "1", nullptr},
    {"[Path]\r\nKey=1\r\n", "pATH", "kEY", "d", 10, "1", nullptr},
    {"[ Path ]\r\n  A  =  1 2  \r\n", "Path", "A", "d", 10, "1 2", nullptr},
    {"[Path]\r\nA=1\r\n", " Path ", "\tA ", "d", 10, "1", nullptr},
    {"\t[Path]\x1a\r\n\tA\t=\x1a"
     "1\v\f\r\n",
     "Path", "A", "d", 10, "1", nullptr},
    {"[Path]\r\nA B=1\r\n", "Path", "A B", "d", 10, "1", nullptr},
    {"[Path]\r\nAB=1\r\nA=2\r\n", "Path", "A", "d", 10, "2", nullptr},
    {"[Path]\r\nA=1\r\n", "Path", "AB", "d", 10, "d", nullptr},
    {"[PathX]\r\nA=1\r\n[Pat]\r\nA=2\r\n[Path]\r\nA=3\r\n", "Path", "A", "d", 10, "3", nullptr},
    {"[Path]\r\n\"A\"=1\r\n", "Path", "A", "d", 10, "d", nullptr},
    {"[\"Path\"]\r\nA=1\r\n", "Path", "A", "d", 10, "d", nullptr},
    {"[Path]\r\nA=1=2\r\n", "Path", "A", "d", 10, "1=2", nullptr},
    {"[Path]\r\nA\r\nA=2\r\n", "Path", "A", "d", 10, "d", nullptr},
    {"[Path]\r\nA=1\r\nA=2\r\n", "Path", "A", "d", 10, "1", nullptr},
    {"[Path]\r\nA=1\r\n[Path]\r\nA=2\r\n", "Path", "A", "d", 10, "1", nullptr},
    {"[Path]\r\nB=1\r\n[Path]\r\nA=2\r\n", "Path", "A", "d", 10, "d", nullptr},
    {"[Path]\r\n  [Q]\r\nA=1\r\n", "Path", "A", "d", 10, "d", nullptr},
    {"[Other]\r\n[Path=5\r\n", "Other", "[Path", "d", 10, "5", nullptr},
    {"[Other]\r\n[Path\r\nA=1\r\n", "Other", "A", "d", 10, "1", nullptr},
    {"[Other]\r\n[Path\r\nA=1\r\n", "Path", "A", "d", 10, "d", nullptr},
    {"[Pa]th]\r\nA=1\r\n", "Pa]th", "A", "d", 10, "1", nullptr},
    {"[Pa]th]\r\nA=1\r\n", "Pa", "A", "d", 10, "d", nullptr},
    {"[Path] ;x\r\nA=1\r\n", "Path", "A", "d", 10, "1", nullptr},
    {"[Path]\r\n = 1 \r\n", "Path", "", "d", 10, "1", nullptr},
    {"[Path]\r\n\r\nA=1\r\n", "Path", "", "d", 10, "d", nullptr},
    {"A=top\r\n[Path]\r\nA=1\r\n", "", "A", "d", 10, "top", nullptr},
    {"[]\r\nA=1\r\n", "", "A", "d", 10, "d", nullptr},
    {"[Path]\r\nA=\xe4\xf6\r\n", "Path", "A", "d", 10, "\xe4\xf6", nullptr},
    {"[Path]\r\n\xa0"
     "A=1\r\nA=x\xa0\r\n",
     "Path", "A", "d", 10, "x\xa0", nullptr},
};

// Comments, line ends and the start of the file.
static const ReadCase ReadLayout[] = {
    {"[Path]\r\n;A=1\r\nA=2\r\n", "Path", "A", "d", 10, "2", nullptr},
    {"[Path]\r\n  ;A=1\r\n", "Path", ";A", "d", 10, "d", "1"},
    {"[Path]\r\n#A=1\r\n", "Path", "A", "d", 10, "d", nullptr},
    {"[Path]\r\n#A=1\r\n", "Path", "#A", "d", 10, "1", nullptr},
    {"[Path]\nA=1\n", "Path", "A", "d", 10, "1", nullptr},
    {"[Path]\rA=1\r", "Path", "A", "d", 10, "1", nullptr},
    {"[Path]\n\rA=1\n\r", "Path", "A", "d", 10, "1", nullptr},
    {"[Path]\r\r\nA=1\r\n", "Path", "A", "d", 10, "1", nullptr},
    {"[Path]\r\nA=1", "Path", "A", "d", 10, "1", nullptr},
    {"\r\n\r\n[Path]\r\n\x1a\r\n \r\nA=1\r\n", "Path", "A", "d", 10, "1", nullptr},
};

// A UTF-8 byte-order mark is three bytes of the first line (Wine: see 4).
static const ReadCase ReadUtf8Mark[] = {
    {"\xef\xbb\xbf[Path]\r\nA=1\r\n", "Path", "A", "d", 10, "d", "1"},
    {"\xef\xbb\xbf\r\n[Path]\r\nA=x\xc3\xa9y\r\n", "Path", "A", "d", 10, "x\xc3\xa9y", "x\xe9y"},
    {"\xef\xbb\xbf;c\r\n[Path]\r\nA=1\r\n", "Path", "A", "d", 10, "1", nullptr},
    {"\xef\xbb\xbf A=1\r\n", "", "A", "d", 10, "d", "1"},
};

// Values: blanks and quotes.
static const ReadCase ReadValues[] = {
    {"[Path]\r\nA=\"1 2\"\r\n", "Path", "A", "d", 10, "1 2", nullptr},
    {"[Path]\r\nA=' x '\r\n", "Path", "A", "d", 10, " x ", nullptr},
    {"[Path]\r\nA= \"x\"\t\r\n", "Path", "A", "d", 10, "x", nullptr},
    {"[Path]\r\nA=\"\"\r\n", "Path", "A", "d", 10, "", nullptr},
    {"[Path]\r\nA=\"\r\n", "Path", "A", "d", 10, "\"", nullptr},
    {"[Path]\r\nA=\"x\r\n", "Path", "A", "d", 10, "\"x", nullptr},
    {"[Path]\r\nA=x\"\r\n", "Path", "A", "d", 10, "x\"", nullptr},
    {"[Path]\r\nA=\"x'\r\n", "Path", "A", "d", 10, "\"x'", nullptr},
    {"[Path]\r\nA=\"x\"y\"\r\n", "Path", "A", "d", 10, "x\"y", nullptr},
    {"[Path]\r\nA=1 ;x\r\n", "Path", "A", "d", 10, "1 ;x", nullptr},
    {"[Path]\r\nA=\r\n", "Path", "A", "d", 10, "", nullptr},
    {"[Path]\r\nA=   \r\n", "Path", "A", "d", 10, "", nullptr},
};

// Capacities: none, room for the terminator only, one short, exact fit.
static const ReadCase ReadCapacity[] = {
    {"[Path]\r\nA=abc\r\n", "Path", "A", "d", 0, nullptr, nullptr},
    {"[Path]\r\nA=abc\r\n", "Path", "A", "d", 1, "", nullptr},
    {"[Path]\r\nA=abc\r\n", "Path", "A", "d", 3, "ab", nullptr},
    {"[Path]\r\nA=abc\r\n", "Path", "A", "d", 4, "abc", nullptr},
    {"[Path]\r\nA=\"abc\"\r\n", "Path", "A", "d", 3, "ab", nullptr},
    {"[Path]\r\nA=\"abc\"\r\n", "Path", "A", "d", 4, "abc", "ab"},
    {"[Path]\r\nA=\"abc\"\r\n", "Path", "A", "d", 5, "abc", nullptr},
    {"[Path]\r\nA=\"a\"\r\n", "Path", "A", "d", 2, "a", ""},
    {"[Path]\r\nA=abc\r\n", "Path", "B", "defgh", 4, "def", nullptr},
    {nullptr, "Path", "B", "defgh", 3, "de", nullptr},
};

// Defaults.
static const ReadCase ReadDefaults[] = {
    {nullptr, "Path", "A", "d", 10, "d", nullptr},
    {"", "Path", "A", "d", 10, "d", nullptr},
    {"[Q]\r\nA=1\r\n", "Path", "A", "d", 10, "d", nullptr},
    {"[Path]\r\nA=1\r\n", "Path", "B", nullptr, 10, "", nullptr},
    {"[Path]\r\nA=1\r\n", "Path", "B", "def  ", 10, "def", nullptr},
    {"[Path]\r\nA=1\r\n", "Path", "B", "  def", 10, "  def", nullptr},
    {"[Path]\r\nA=1\r\n", "Path", "B", "def\t", 10, "def\t", nullptr},
    {"[Path]\r\nA=1\r\n", "Path", "B", "   ", 10, " ", nullptr},
    {"[Path]\r\nA=1\r\n", "Path", "B", "\"def\"", 10, "def", nullptr},
    {nullptr, "Path", "B", "'d' ", 10, "d", nullptr},
    {"[Path]\r\nA=1\r\n", "Path", "", "d", 10, "d", nullptr},
    {"[Path]\r\nA=1\r\n", "", "A", "d", 10, "d", nullptr},
};

struct Write {
    const char* section;
    const char* key;
    const char* value;
};

struct WriteCase {
    const char* file; // the starting bytes; NULL: no file
    Write writes[2];  // a NULL section ends the list
    const char* expected;
    const char* wine;  // Wine's bytes where they differ (see above), else NULL
    const char* layer; // our layer's bytes where they differ (see above), else NULL
};

static const WriteCase WriteCases[] = {
    // Creating the file, the section and the key.
    {nullptr, {{"Path", "A", "1"}}, "[Path]\r\nA=1\r\n", nullptr, nullptr},
    {"", {{"Path", "A", "1"}}, "[Path]\r\nA=1\r\n", nullptr, nullptr},
    {nullptr,
     {{"Path", "WorkingDirectory", ""}, {"Path", "CommandLine", "tool %f"}},
     "[Path]\r\nWorkingDirectory=\r\nCommandLine=tool %f\r\n",
     nullptr,
     nullptr},
    {nullptr, {{" Path ", " A ", " 1 "}}, "[Path ]\r\nA =1 \r\n", nullptr, nullptr},
    {"[Path]\r\nA=1", {{"Q", "B", "2"}}, "[Path]\r\nA=1\r\n[Q]\r\nB=2\r\n", nullptr, nullptr},
    // Replacing a key's line in place.
    {"; top\r\n[Path]\r\n  A = 1 \r\n\r\n; note\r\nB=x\r\n",
     {{"Path", "A", "2"}},
     "; top\r\n[Path]\r\nA=2\r\n\r\n; note\r\nB=x\r\n",
     "; top\r\n[Path]\r\nA=2\r\n; note\r\nB=x\r\n",
     nullptr},
    {"[Path]\r\nKey=1\r\n", {{"path", "KEY", "2"}}, "[Path]\r\nKey=2\r\n", nullptr, nullptr},
    {"[Path]\r\nA=1\r\n", {{"Path", "A", ""}}, "[Path]\r\nA=\r\n", nullptr, nullptr},
    {"[Path]\r\nA=1\r\n", {{"Path", "A", "\"x\""}}, "[Path]\r\nA=\"x\"\r\n", nullptr, nullptr},
    {"[Path]\r\nA\r\n", {{"Path", "A", "3"}}, "[Path]\r\nA=3\r\n", nullptr, nullptr},
    {"[Path]\r\nA=1\r\n[Path]\r\nB=2\r\n",
     {{"Path", "B", "3"}},
     "[Path]\r\nA=1\r\nB=3\r\n[Path]\r\nB=2\r\n",
     nullptr,
     nullptr},
    // A new key goes after the last key line of its section.
    {"[Path]\r\nA=1\r\n\r\n;c\r\n[Q]\r\nC=3\r\n",
     {{"Path", "B", "2"}},
     "[Path]\r\nA=1\r\nB=2\r\n\r\n;c\r\n[Q]\r\nC=3\r\n",
     "[Path]\r\nA=1\r\n;c\r\nB=2\r\n[Q]\r\nC=3\r\n",
     nullptr},
    {"[Path]\r\n;c\r\n[Q]\r\n",
     {{"Path", "B", "2"}},
     "[Path]\r\nB=2\r\n;c\r\n[Q]\r\n",
     "[Path]\r\n;c\r\nB=2\r\n[Q]\r\n",
     nullptr},
    {"[Path]\r\nA=1", {{"Path", "B", "2"}}, "[Path]\r\nA=1\r\nB=2\r\n", nullptr, nullptr},
    {"[Path]", {{"Path", "B", "2"}}, "[Path]\r\nB=2\r\n", nullptr, nullptr},
    {"A=0\r\n[Path]\r\n", {{"", "B", "2"}}, "A=0\r\nB=2\r\n[Path]\r\n", nullptr, nullptr},
    {"[Path]\r\n;A=1\r\n",
     {{"Path", ";A", "2"}},
     "[Path]\r\n;A=2\r\n;A=1\r\n",
     "[Path]\r\n;A=2\r\n",
     nullptr},
    // Removing a key (NULL value) or a section (NULL key).
    {"[Path]\r\nA=1\r\nB=2\r\n", {{"Path", "A", nullptr}}, "[Path]\r\nB=2\r\n", nullptr, nullptr},
    {"[Path]\r\nA=1\r\n", {{"Path", "B", nullptr}}, "[Path]\r\nA=1\r\n", nullptr, nullptr},
    {nullptr, {{"Path", "B", nullptr}}, nullptr, nullptr, nullptr},
    {"[Path]\r\nA=1\r\n[Q]\r\nB=2\r\n",
     {{"Path", nullptr, nullptr}},
     "[Q]\r\nB=2\r\n",
     nullptr,
     nullptr},
    // Line ends: a replaced line keeps its own; an added one takes the
    // file's first (our layer: see A; Wine: see 3).
    {"[Path]\nA=1\nB=x\n",
     {{"Path", "A", "2"}},
     "[Path]\nA=2\nB=x\n",
     "[Path]\r\nA=2\r\nB=x\r\n",
     nullptr},
    {"[Path]\nA=1\r\n", {{"Path", "A", "2"}}, "[Path]\nA=2\r\n", "[Path]\r\nA=2\r\n", nullptr},
    {"[Path]\nA=1\n\n",
     {{"Q", "B", "2"}},
     "[Path]\nA=1\n\n[Q]\r\nB=2\r\n",
     "[Path]\r\nA=1\r\n[Q]\r\nB=2\r\n",
     "[Path]\nA=1\n\n[Q]\nB=2\n"},
    {"[Path]\nA=1",
     {{"Path", "B", "2"}, {"Q", "C", "3"}},
     "[Path]\nA=1\r\nB=2\r\n[Q]\r\nC=3\r\n",
     "[Path]\r\nA=1\r\nB=2\r\n[Q]\r\nC=3\r\n",
     "[Path]\nA=1\nB=2\n[Q]\nC=3\n"},
    {"[Path]\rA=1\r",
     {{"Path", "B", "2"}},
     "[Path]\rA=1\rB=2\r\n",
     "[Path]\r\nA=1\r\nB=2\r\n",
     "[Path]\rA=1\rB=2\r"},
    {"; notes\r\n[Path]\nA=1\n",
     {{"Path", "B", "2"}},
     "; notes\r\n[Path]\nA=1\nB=2\r\n",
     "; notes\r\n[Path]\r\nA=1\r\nB=2\r\n",
     nullptr},
    {"A=1", {{"Path", "B", "2"}}, "A=1\r\n[Path]\r\nB=2\r\n", nullptr, nullptr},
    // A UTF-8 byte-order mark is three bytes of the first line (Wine: see 4).
    {"\xef\xbb\xbf[Path]\nA=1\n",
     {{"Path", "A", "2"}},
     "\xef\xbb\xbf[Path]\nA=1\n[Path]\r\nA=2\r\n",
     "\xef\xbb\xbf[Path]\r\nA=2\r\n",
     "\xef\xbb\xbf[Path]\nA=1\n[Path]\nA=2\n"},
    {"\xef\xbb\xbf\r\n[Path]\r\nA=1\r\n",
     {{"Path", "A", "\xc3\xa9"}},
     "\xef\xbb\xbf\r\n[Path]\r\nA=\xc3\xa9\r\n",
     "\xef\xbb\xbf[Path]\r\nA=\xc3\x83\xc2\xa9\r\n",
     nullptr},
};

struct IntCase {
    const char* file; // the file's bytes; NULL: no file
    const char* section;
    const char* key;
    int defaultValue;
    unsigned expected;
};

// GetPrivateProfileIntA: the value as a number, read up to its first
// non-digit; the default only when the key or its value is missing.
static const IntCase IntCases[] = {
    {nullptr, "Run", "TimeLimit", 5, 5},
    {"[Run]\r\n", "Run", "TimeLimit", 5, 5},
    {"[Run]\r\nTimeLimit=\r\n", "Run", "TimeLimit", 5, 5},
    {"[Run]\r\nTimeLimit=30\r\n", "Run", "TimeLimit", 5, 30},
    {"[Run]\r\ntimelimit = 7 \r\n", "run", "TIMELIMIT", 0, 7},
    {"[Run]\r\nTimeLimit=\"12\"\r\n", "Run", "TimeLimit", 0, 12},
    {"[Run]\r\nTimeLimit=+3\r\n", "Run", "TimeLimit", 0, 3},
    {"[Run]\r\nTimeLimit=-1\r\n", "Run", "TimeLimit", 0, 0xFFFFFFFFu},
    {"[Run]\r\nTimeLimit=0x1F\r\n", "Run", "TimeLimit", 0, 31},
    {"[Run]\r\nTimeLimit=12abc\r\n", "Run", "TimeLimit", 0, 12},
    {"[Run]\r\nTimeLimit=abc\r\n", "Run", "TimeLimit", 9, 0},
    {"[Run]\r\nTimeLimit=1 5\r\n", "Run", "TimeLimit", 9, 1},
    {"[Run]\r\nTimeLimit=4294967297\r\n", "Run", "TimeLimit", 0, 1},
    {"[Path]\r\nTimeLimit=30\r\n", "Run", "TimeLimit", 0, 0},
    {"[Run]\r\nIgnoreExitCode=1\r\n", "Run", "TimeLimit", 0, 0},
};

// UTF-16LE files (byte-order mark FF FE). A file is given as its text, written
// out in UTF-16LE: U+FEFF at its start is the mark. Names, values, defaults
// and results are UTF-8, converted to the ANSI code page by the test (see B).
struct WideReadCase {
    const char16_t* file; // NULL: no file
    bool oddByte;         // the file lacks the high byte of its last unit
    const char* section;
    const char* key;
    const char* defaultValue;
    unsigned capacity;
    const char* expected;
};

static const WideReadCase WideReads[] = {
    {u"\uFEFF[Path]\r\nA=x\u00E9y\r\n", false, "Path", "A", "d", 10, "x\u00E9y"},
    {u"\uFEFF[Path]\nA=1\n", false, "Path", "A", "d", 10, "1"},
    {u"\uFEFF[Path]\rA=1\r", false, "Path", "A", "d", 10, "1"},
    {u"\uFEFF[P\u00E0th]\r\n  K\u00E9y = \"v w\" \r\n", false, "P\u00E0th", "K\u00E9y", "d", 10,
     "v w"},
    {u"\uFEFF[Path]\r\nA=1\r\n[Q]\r\nB=2", false, "Q", "B", "d", 10, "2"},
    {u"\uFEFF;A=1\r\n[Path]\r\nA=abc\r\n", false, "Path", "A", "d", 3, "ab"},
    {u"\uFEFF[Path]\r\nA=1\r\n", false, "Path", "B", "d\u00E9f", 10, "d\u00E9f"},
    // Characters Windows-1252 lacks (see B).
    {u"\uFEFF[Path]\r\nA=\u0401\u4E2D\r\n", false, "Path", "A", "d", 10, "\u0401\u4E2D"},
    {u"\uFEFF[Path]\r\nA=x\U0001F600y\r\n", false, "Path", "A", "d", 10, "x\U0001F600y"},
    // Invalid UTF-16: a lone surrogate, an odd byte count.
    {u"\uFEFF[Path]\r\nA=x\xD800y\r\n", false, "Path", "A", "d", 10, "x\uFFFDy"},
    {u"\uFEFF[Path]\r\nA=x\xDC00\r\n", false, "Path", "A", "d", 10, "x\uFFFD"},
    {u"\uFEFF[Path]\r\nA=\xDC00\xD800x", false, "Path", "A", "d", 10, "\uFFFD\uFFFDx"},
    {u"\uFEFF[Path]\r\nA=x\xD800", false, "Path", "A", "d", 10, "x\uFFFD"},
    {u"\uFEFF[Path]\r\nA=xy\r\nZ", true, "Path", "A", "d", 10, "xy"},
    {u"\uFEFF[Path]\r\nA=xyZ", true, "Path", "A", "d", 10, "xyZ"},
    {u"\uFEFF[Path]\r\nA=x\xD800Z", true, "Path", "A", "d", 10, "x\uFFFDZ"},
    // Only the mark makes a file UTF-16.
    {u"\uFEFF", false, "Path", "A", "d", 10, "d"},
    {u"\uFEFF", true, "Path", "A", "d", 10, "d"},
    {u"[Path]\r\nA=1\r\n", false, "Path", "A", "d", 10, "d"},
};

struct WideWriteCase {
    const char16_t* file; // NULL: no file
    Write writes[2];      // a NULL section ends the list
    const char16_t* expected;
    const char16_t* wine;  // Wine's text where it differs (see above), else NULL
    const char16_t* layer; // our layer's text where it differs (see above), else NULL
};

static const WideWriteCase WideWrites[] = {
    {u"\uFEFF[Path]\r\nA=1\r\n",
     {{"Path", "B", "\u00E9"}},
     u"\uFEFF[Path]\r\nA=1\r\nB=\u00E9\r\n",
     nullptr,
     nullptr},
    {u"\uFEFF[Path]\r\nA = 1\r\nB=\u0401\r\n",
     {{"Path", "A", "x\u00E9"}},
     u"\uFEFF[Path]\r\nA=x\u00E9\r\nB=\u0401\r\n",
     nullptr,
     nullptr},
    {u"\uFEFF",
     {{"Path", "WorkingDirectory", ""}, {"Path", "CommandLine", "tool %f"}},
     u"\uFEFF[Path]\r\nWorkingDirectory=\r\nCommandLine=tool %f\r\n",
     nullptr,
     nullptr},
    {u"\uFEFF[Path]\r\nA=1\r\n",
     {{"Q\u00E9", "B", "2"}},
     u"\uFEFF[Path]\r\nA=1\r\n[Q\u00E9]\r\nB=2\r\n",
     nullptr,
     nullptr},
    {u"\uFEFF[Path]\r\nA=1\r\nB=2\r\n[Q]\r\nC=3\r\n",
     {{"Path", "A", nullptr}, {"Q", nullptr, nullptr}},
     u"\uFEFF[Path]\r\nB=2\r\n",
     nullptr,
     nullptr},
    // Text the write does not touch stays as it was, characters of every
    // plane and invalid UTF-16 alike.
    {u"\uFEFF;\u4E2D\U0001F600 \xD800 \xDC00\r\n[Path]\r\nA=1\r\n",
     {{"Path", "A", "2"}},
     u"\uFEFF;\u4E2D\U0001F600 \xD800 \xDC00\r\n[Path]\r\nA=2\r\n",
     nullptr,
     nullptr},
    // Line ends (our layer: see A; Wine: see 3).
    {u"\uFEFF[Path]\nA=1\n",
     {{"Path", "B", "2"}},
     u"\uFEFF[Path]\nA=1\nB=2\r\n",
     u"\uFEFF[Path]\r\nA=1\r\nB=2\r\n",
     u"\uFEFF[Path]\nA=1\nB=2\n"},
    {u"\uFEFF[Path]\nA=1",
     {{"Q", "B", "2"}},
     u"\uFEFF[Path]\nA=1\r\n[Q]\r\nB=2\r\n",
     u"\uFEFF[Path]\r\nA=1\r\n[Q]\r\nB=2\r\n",
     u"\uFEFF[Path]\nA=1\n[Q]\nB=2\n"},
};
