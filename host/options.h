// plugin-host's command line.
#pragma once

#include <string>
#include <vector>

// The host texts -u, -p, -d, -o and -N, in that order.
enum { TEXT_OPTION_COUNT = 5 };

struct Options {
    std::string command; // info, run or settings
    std::string module;  // the module to load; the one beside plugin-host by default
    std::string texts[TEXT_OPTION_COUNT];
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

// "plugin-host VERSION", the version of the module's version record.
std::string VersionLine();
