// plugin-host's command line, read with getopt_long (glibc, and mingw-w64's
// runtime on Windows).
#include "options.h"
#include "module_loader.h"
#include "plugin.h"
#include "version.h"

#include <getopt.h>
#include <string.h>

const char SynopsisLines[] =
    "usage: plugin-host info     [--module PATH]\n"
    "       plugin-host run      [--module PATH] [--show-boxes] [TEXT OPTIONS] [FILE]\n"
    "       plugin-host run      [--module PATH] [--show-boxes] [TEXT OPTIONS] --in-place FILE...\n"
    "       plugin-host settings [--module PATH]\n"
    "       plugin-host --help | --version\n";

const char OptionHelp[] =
    "\n"
    "  info          show the module's title, kind and version record, and the\n"
    "                settings file in use with its values\n"
    "  run           hand the text of FILE (or standard input) to the module's run\n"
    "                and write the text after the run to standard output: the\n"
    "                new text, or the text unchanged when the run kept it\n"
    "  settings      show the module's settings dialog and say what became of it\n"
    "\n"
    "  --module PATH the module to load, or the folder that holds it (default:\n"
    "                the one beside plugin-host, else ../lib/external-preprocessor/)\n"
    "  -u TEXT, -d TEXT, -o TEXT, -N TEXT\n"
    "                the host's user, database, output and name texts (each text,\n"
    "                the password's too, at most 63 characters)\n"
    "  -p TEXT       the host's password text. Other users of the machine can\n"
    "                read command lines: prefer --password-file or the variable\n"
    "                PREPROCESSOR_PASSWORD, which give it when -p is not given\n"
    "  --password-file FILE\n"
    "                the password text is the first line of FILE\n"
    "  --in-place    write each FILE's new text back into FILE instead; each FILE\n"
    "                is a run of its own\n"
    "  --show-boxes  show the module's message boxes as windows (Windows) instead\n"
    "                of writing each as one line on standard error\n"
    "  -h, --help    show this help\n"
    "  --version     show the version\n"
    "  --            end of options (for a FILE that begins with -)\n"
    "\n"
    "Exit status: 0 the text was replaced, 1 the run kept the text (the message\n"
    "says why), 2 usage and loading errors and refused texts; several FILEs give\n"
    "the worst of their statuses; 128 + N when ended by signal N.\n"
    "\n"
    "The manual: man plugin-host (docs/plugin-host.1.html in the Windows packages).\n";

const char PasswordVariable[] = "PREPROCESSOR_PASSWORD";

static_assert(LONGEST_TEXT == HOST_TEXT_SIZE - 1, "a host text and its terminator fill a field");

std::string VersionLine() {
    // "1, 0, 0, 0" as "1.0.0.0".
    std::string version;
    for (const char* at = EP_VERSION_STRING; *at != '\0'; at++) {
        if (*at == ',')
            version += '.';
        else if (*at != ' ')
            version += *at;
    }
    return "plugin-host " + version + "\n";
}

namespace {

// Values of the long options without a short form.
enum {
    OPTION_MODULE = 256,
    OPTION_IN_PLACE,
    OPTION_VERSION,
    OPTION_SHOW_BOXES,
    OPTION_PASSWORD_FILE
};

const struct option LongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, OPTION_VERSION},
    {"module", required_argument, nullptr, OPTION_MODULE},
    {"in-place", no_argument, nullptr, OPTION_IN_PLACE},
    {"show-boxes", no_argument, nullptr, OPTION_SHOW_BOXES},
    {"password-file", required_argument, nullptr, OPTION_PASSWORD_FILE},
    {nullptr, 0, nullptr, 0}};

// "-" first: every operand comes back in order as option 1, whatever
// POSIXLY_CORRECT says; ":" next: a missing value comes back as ':'.
const char ShortOptions[] = "-:hu:p:d:o:N:";
const char TextLetters[] = "updoN";

// The option's name as the user wrote it, for a message.
std::string OptionName(int value, const char* written) {
    for (const struct option& entry : LongOptions) {
        if (entry.name != nullptr && entry.val == value)
            return std::string("--") + entry.name;
    }
    if (value > 0 && value < 256)
        return std::string("-") + (char)value;
    std::string text = written != nullptr ? written : "?";
    return text.substr(0, text.find('='));
}

// The first operand is the command, the others are FILEs.
void TakeOperand(const char* operand, Options& options) {
    if (options.command.empty())
        options.command = operand;
    else
        options.files.emplace_back(operand);
}

bool Check(Options& options, std::string& error) {
    if (options.command.empty()) {
        error = "no command given";
        return false;
    }
    if (options.command != "info" && options.command != "run" && options.command != "settings") {
        error = "unknown command '" + options.command + "'";
        return false;
    }
    bool isRun = options.command == "run";
    bool anyText = !options.passwordFile.empty() || options.showBoxes;
    for (bool given : options.textGiven)
        anyText = anyText || given;
    if (!isRun && (anyText || options.inPlace || !options.files.empty())) {
        error = "'" + options.command + "' takes only --module";
        return false;
    }
    if (options.textGiven[PASSWORD_TEXT] && !options.passwordFile.empty()) {
        error = "-p and --password-file both give the password; use one of them";
        return false;
    }
    if (options.inPlace && options.files.empty()) {
        error = "--in-place needs at least one FILE";
        return false;
    }
    for (const std::string& file : options.files) {
        if (options.inPlace && file == "-") {
            error = "--in-place needs FILEs, not standard input ('-')";
            return false;
        }
    }
    if (!options.inPlace && options.files.size() > 1) {
        error = "run takes one FILE; several need --in-place";
        return false;
    }
    options.moduleGiven = !options.module.empty();
    options.module = options.moduleGiven ? ModuleInPath(options.module) : DefaultModulePath();
    return true;
}

} // namespace

ParseOutcome ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    opterr = 0;
    bool help = false;
    bool version = false;
    for (;;) {
        int index = -1;
        int option = getopt_long(argc, argv, ShortOptions, LongOptions, &index);
        if (option == -1)
            break;
        const char* written = argv[optind - 1];
        const char* letter = option > 0 && option < 256 ? strchr(TextLetters, option) : nullptr;
        if (option == 1) {
            TakeOperand(optarg, options);
        } else if (option == 'h') {
            help = true;
        } else if (option == OPTION_VERSION) {
            version = true;
        } else if (option == OPTION_MODULE) {
            options.module = optarg;
        } else if (option == OPTION_IN_PLACE) {
            options.inPlace = true;
        } else if (option == OPTION_SHOW_BOXES) {
            options.showBoxes = true;
        } else if (option == OPTION_PASSWORD_FILE) {
            options.passwordFile = optarg;
            if (options.passwordFile.empty()) {
                error = "option --password-file needs a file name";
                return PARSE_ERROR;
            }
        } else if (letter != nullptr) {
            std::string& text = options.texts[letter - TextLetters];
            options.textGiven[letter - TextLetters] = true;
            text = optarg;
            if (text.size() > LONGEST_TEXT) {
                error =
                    std::string("the text for -") + (char)option + " is longer than 63 characters";
                return PARSE_ERROR;
            }
        } else {
            // A value given to an option that takes none comes back as ':'
            // from mingw-w64's runtime and as '?' from glibc.
            bool known = optopt >= OPTION_MODULE && optopt <= OPTION_PASSWORD_FILE;
            if (known && strchr(written, '=') != nullptr)
                error = "option " + OptionName(optopt, written) + " takes no value";
            else if (option == ':')
                error = "option " + OptionName(optopt, written) + " needs a value";
            else
                error = "unknown option '" + OptionName(optopt, written) + "'";
            return PARSE_ERROR;
        }
    }
    for (int i = optind; i < argc; i++)
        TakeOperand(argv[i], options);
    if (help)
        return PARSE_HELP;
    if (version)
        return PARSE_VERSION;
    return Check(options, error) ? PARSE_OK : PARSE_ERROR;
}
