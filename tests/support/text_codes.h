// Character sets for the tests, over the system's own conversions (never the
// platform layer under test): Windows' code pages, iconv on Linux. The tests
// make the host's text and the program's output with them, and the child
// modes read and write in the set they are told.
#pragma once

#include <string>

// Converts text from one set into another. A set is "ANSI" or "OEM" (on
// Linux both the character set of the environment's locale, LC_ALL,
// LC_CTYPE or LANG, UTF-8 for the plain C locale), "UTF-8", "UTF-16LE", or
// a code page number ("1252").
// False when the text is not valid in its set or holds a character the
// other cannot hold (nothing is ever replaced by a look-alike).
bool Recode(const std::string& text, const std::string& from, const std::string& to,
            std::string& converted);

// Whether the ANSI set is UTF-8 (Linux in a UTF-8 locale).
bool AnsiIsUtf8();

// Whether the locale the environment names exists (always on Windows): a
// test in a locale that is not installed would run in the C locale.
bool EnvironmentLocaleExists();
