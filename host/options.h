// plugin-host's command line.
#pragma once

#include <string>
#include <vector>

// The host texts -u, -p, -d, -o and -N, in that order.
enum { TEXT_OPTION_COUNT = 5 };

// Where the password text (-p) is in texts.
enum { PASSWORD_TEXT = 1 };

struct Options {
    std::string command; // info, run or settings
    // The module to load: a file, or a directory that holds it. When none is
    // given, the first of DefaultModulePaths() that exists.
    std::string module;
    bool moduleGiven = false;
    std::string texts[TEXT_OPTION_COUNT];
    bool textGiven[TEXT_OPTION_COUNT] = {};
    std::string passwordFile; // --password-file: the password is its first line
    bool showBoxes = false;   // --show-boxes: the module's boxes as windows (Windows)
    bool inPlace = false;
    std::vector<std::string> files; // run: the FILEs; none or "-" for standard input
};

enum ParseOutcome { PARSE_OK, PARSE_HELP, PARSE_VERSION, PARSE_ERROR };

// Reads the command line with getopt_long: options may stand before and
// after the FILEs, "--" ends them. PARSE_ERROR with the reason in error.
ParseOutcome ParseOptions(int argc, char** argv, Options& options, std::string& error);

// The usage lines: after a usage error, and first in --help.
extern const char SynopsisLines[];

// What --help shows after the usage lines: the commands and options.
extern const char OptionHelp[];

// The environment variable that gives the password when neither -p nor
// --password-file does.
extern const char PasswordVariable[];

// The longest host text: 63 characters and the terminator fill a field.
enum { LONGEST_TEXT = 63 };

// "plugin-host VERSION", the version of the module's version record.
std::string VersionLine();
