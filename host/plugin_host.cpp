// plugin-host: a host for the plug-in module, for tests, the demo and the
// command line.
//
//   plugin-host info     [--module PATH]
//   plugin-host run      [--module PATH] [-u TEXT] [-p TEXT] [-d TEXT] [-o TEXT]
//                        [-N TEXT] [--in-place] [FILE]
//   plugin-host settings [--module PATH]
//
// Exit status: 0 success (for run: the text was replaced), 1 a run that ended
// without replacing the text, 2 usage and loading errors.
#include "module_loader.h"

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const int ExitReplaced = 0;
const int ExitKept = 1;
const int ExitUsage = 2;

const char Usage[] =
    "usage: plugin-host info     [--module PATH]\n"
    "       plugin-host run      [--module PATH] [-u TEXT] [-p TEXT] [-d TEXT] [-o TEXT]\n"
    "                            [-N TEXT] [--in-place] [FILE]\n"
    "       plugin-host settings [--module PATH]\n";

// The host's side of the records: the plug-in keeps a pointer to the context
// for the module's whole life, so it lives as long as the program.
struct HostState {
    HostContext context;
    std::string text;
    std::string replacement;
    bool replaced = false;
    uint32_t handle = 0x5EED;
};

HostState State;

int32_t PLUGIN_CALL HostGetTargetHandle(uint32_t* handle) {
    *handle = State.handle;
    return 1;
}

int32_t PLUGIN_CALL HostGetTargetText(uint32_t handle, char* buffer, int32_t capacity) {
    (void)handle;
    if (capacity <= 0)
        return 0;
    size_t length = State.text.size() < (size_t)capacity ? State.text.size() : (size_t)capacity;
    memcpy(buffer, State.text.data(), length);
    // The plug-in's buffer has room for the terminator after capacity bytes.
    buffer[length] = '\0';
    return (int32_t)length;
}

int32_t PLUGIN_CALL HostSetTargetText(uint32_t handle, const char* text) {
    (void)handle;
    State.replacement = text;
    State.replaced = true;
    return 1;
}

struct Options {
    std::string command;
    std::string module;
    std::string texts[5]; // u, p, d, o, N
    bool inPlace = false;
    std::string file;
    bool hasFile = false;
};

bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
    if (argc < 2) {
        error = "no command given";
        return false;
    }
    options.command = argv[1];
    if (options.command != "info" && options.command != "run" && options.command != "settings") {
        error = "unknown command '" + options.command + "'";
        return false;
    }
    static const char* const TextOptions[] = {"-u", "-p", "-d", "-o", "-N"};
    for (int i = 2; i < argc; i++) {
        std::string arg = argv[i];
        bool isRun = options.command == "run";
        if (arg == "--module" && i + 1 < argc) {
            options.module = argv[++i];
            continue;
        }
        if (isRun && arg == "--in-place") {
            options.inPlace = true;
            continue;
        }
        bool matched = false;
        for (int t = 0; t < 5 && isRun; t++) {
            if (arg == TextOptions[t] && i + 1 < argc) {
                options.texts[t] = argv[++i];
                if (options.texts[t].size() >= HOST_TEXT_SIZE) {
                    error = std::string("the text for ") + TextOptions[t] +
                            " is longer than 63 characters";
                    return false;
                }
                matched = true;
                break;
            }
        }
        if (matched)
            continue;
        if (isRun && !options.hasFile && (arg.empty() || arg[0] != '-' || arg == "-")) {
            options.file = arg;
            options.hasFile = arg != "-";
            continue;
        }
        error = "unexpected argument '" + arg + "'";
        return false;
    }
    if (options.inPlace && !options.hasFile) {
        error = "--in-place needs a FILE";
        return false;
    }
    if (options.module.empty())
        options.module = DefaultModulePath();
    return true;
}

bool ReadAll(std::istream& in, std::string& text) {
    std::ostringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
    return !in.bad();
}

// Replaces the file's contents atomically: a sibling is written, flushed and
// renamed over the original, so a failure leaves the original whole.
bool WriteFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    std::string sibling = path + ".plugin-host.tmp";
#ifdef _WIN32
    HANDLE file = CreateFileA(sibling.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot create '" + sibling + "'";
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, nullptr) &&
              written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (ok)
        ok = MoveFileExA(sibling.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        DeleteFileA(sibling.c_str());
        error = "cannot write '" + path + "'; it was left as it was";
    }
    return ok;
#else
    struct stat info;
    mode_t mode = stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0644;
    int fd = open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot create '" + sibling + "': " + strerror(errno);
        return false;
    }
    bool ok = true;
    size_t done = 0;
    while (ok && done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            done += (size_t)n;
    }
    ok = ok && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(sibling.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = "cannot write '" + path + "': " + strerror(errno) + "; it was left as it was";
        unlink(sibling.c_str());
    }
    return ok;
#endif
}

int LoadAndInstall(const Options& options, PluginModule& module, PluginInfo*& info) {
    std::string error;
    if (!LoadPluginModule(options.module, module, error)) {
        std::cerr << "plugin-host: " << error << "\n";
        return ExitUsage;
    }
    // Room for a long title: the plug-in decides how much it writes.
    static unsigned char InfoBytes[8 + 256];
    info = reinterpret_cast<PluginInfo*>(InfoBytes);
    module.onInstall(info, &State.context);
    return ExitReplaced;
}

int CommandInfo(const Options& options) {
    PluginModule module;
    PluginInfo* info = nullptr;
    int status = LoadAndInstall(options, module, info);
    if (status != ExitReplaced)
        return status;
    std::string record;
    std::string error;
    if (!ReadVersionRecord(options.module, record, error)) {
        std::cerr << "plugin-host: " << error << "\n";
        return ExitUsage;
    }
    const char* title = reinterpret_cast<const char*>(info) + 8;
    std::cout << "Title: " << std::string(title, strnlen(title, 256)) << "\n"
              << "Kind: " << info->Kind << "\n"
              << record;
    return ExitReplaced;
}

int CommandRun(const Options& options) {
    std::string text;
    if (options.hasFile) {
        std::ifstream in(options.file, std::ios::binary);
        if (!in || !ReadAll(in, text)) {
            std::cerr << "plugin-host: cannot read '" << options.file << "'\n";
            return ExitUsage;
        }
    } else {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        if (!ReadAll(std::cin, text)) {
            std::cerr << "plugin-host: cannot read standard input\n";
            return ExitUsage;
        }
    }
    if (text.size() > TEXT_CAPACITY) {
        std::cerr << "plugin-host: the text is " << text.size()
                  << " bytes; the plug-in takes at most " << TEXT_CAPACITY
                  << ". Nothing was run.\n";
        return ExitUsage;
    }
    if (text.find('\0') != std::string::npos) {
        std::cerr << "plugin-host: the text holds a NUL byte; the plug-in would see only the "
                     "text before it. Nothing was run.\n";
        return ExitUsage;
    }
    State.text = text;
    char* fields[5] = {State.context.TextU, State.context.TextP, State.context.TextD,
                       State.context.TextO, State.context.TextN};
    for (int t = 0; t < 5; t++)
        memcpy(fields[t], options.texts[t].c_str(), options.texts[t].size() + 1);

    PluginModule module;
    PluginInfo* info = nullptr;
    int status = LoadAndInstall(options, module, info);
    if (status != ExitReplaced)
        return status;
    module.onCall();
    if (!State.replaced)
        return ExitKept;
    if (options.inPlace) {
        std::string error;
        if (!WriteFileAtomically(options.file, State.replacement, error)) {
            std::cerr << "plugin-host: " << error << "\n";
            return ExitKept;
        }
        return ExitReplaced;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::cout.write(State.replacement.data(), (std::streamsize)State.replacement.size());
    std::cout.flush();
    return std::cout ? ExitReplaced : ExitKept;
}

int CommandSettings(const Options& options) {
    PluginModule module;
    std::string error;
    if (!LoadPluginModule(options.module, module, error)) {
        std::cerr << "plugin-host: " << error << "\n";
        return ExitUsage;
    }
    int32_t result = module.onSettings();
    std::cout << result << "\n";
    return result == -1 ? ExitKept : ExitReplaced;
}

} // namespace

int main(int argc, char** argv) {
    memset(&State.context, 0, sizeof State.context);
    State.context.GetTargetHandle = HostGetTargetHandle;
    State.context.GetTargetText = HostGetTargetText;
    State.context.SetTargetText = HostSetTargetText;
#ifdef _WIN32
    State.context.OwnerWindow = GetConsoleWindow();
#endif
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::cerr << "plugin-host: " << error << "\n" << Usage;
        return ExitUsage;
    }
    if (options.command == "info")
        return CommandInfo(options);
    if (options.command == "run")
        return CommandRun(options);
    return CommandSettings(options);
}
