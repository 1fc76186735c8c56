// plugin-host: a host for the plug-in module, for tests, the demo and the
// command line; options.cpp has the usage.
//
// What `run` promises: standard output carries the text after the run, the
// new text or, when the run kept it, the original one, so that an editor's
// filter command never loses its buffer; a text the plug-in would cut is
// refused before anything is loaded; an interruption writes no text.
#include "host_io.h"
#include "interrupt.h"
#include "module_loader.h"
#include "options.h"
#include "settings_view.h"
#include "system.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

namespace {

const int ExitReplaced = 0;
const int ExitKept = 1;
const int ExitUsage = 2;

// The longest text the plug-in takes: its buffer holds TEXT_CAPACITY bytes,
// and a text that fills it all but the last byte may be the cut head of a
// longer one, so the plug-in refuses it.
const size_t LargestText = TEXT_CAPACITY - 2;

const char TooLong[] = "the text is longer than the plug-in takes (at most 102398 bytes)";

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

// The module, loaded and installed once, when first needed.
PluginModule Module;
bool ModuleReady = false;
bool ModuleFailed = false;
// Room for a long title: the plug-in decides how much it writes.
unsigned char InfoBytes[8 + 256];

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

// Loads the module named, or found, by the options; says why not.
bool OpenTheModule(const Options& options) {
    std::string error;
    if (LoadPluginModule(options.module, Module, error))
        return true;
    if (!options.moduleGiven && !PathExists(options.module)) {
        std::vector<std::string> paths = DefaultModulePaths();
        error = "no module found: looked for " + paths[0];
        for (size_t i = 1; i < paths.size(); i++)
            error += " and " + paths[i];
        error += "; name one with --module";
    }
    Say(error);
    return false;
}

bool LoadModule(const Options& options) {
    if (ModuleReady || ModuleFailed)
        return ModuleReady;
    if (!OpenTheModule(options)) {
        ModuleFailed = true;
        return false;
    }
    std::string error;
    if (!options.showBoxes && !WriteBoxesAsLines(Module.handle, error))
        Say(error);
    Module.onInstall(reinterpret_cast<PluginInfo*>(InfoBytes), &State.context);
    ModuleReady = true;
    return true;
}

void WriteStandard(int fd, const std::string& text) {
    (void)WriteAll(fd, text.data(), text.size());
}

int CommandInfo(const Options& options) {
    if (!LoadModule(options))
        return ExitUsage;
    std::string record;
    std::string error;
    if (!ReadVersionRecord(Module, record, error)) {
        Say(error);
        return ExitUsage;
    }
    const char* title = reinterpret_cast<const char*>(InfoBytes) + 8;
    const PluginInfo* info = reinterpret_cast<const PluginInfo*>(InfoBytes);
    WriteStandard(1, "Title: " + std::string(title, strnlen(title, 256)) + "\n" +
                         "Kind: " + std::to_string(info->Kind) + "\n" + record +
                         SettingsLines(SettingsPathOf(LoadedModulePath(Module))));
    return ExitReplaced;
}

// What became of the dialog, in words: "saved to FILE" or "cancelled" on
// standard output (exit 0); after OK that left the file as it was, or a
// dialog that could not be shown, why on standard error (exit 1). The file
// was saved when its time of last write or its bytes changed.
int CommandSettings(const Options& options) {
    if (!OpenTheModule(options))
        return ExitUsage;
    std::string settings = SettingsPathOf(LoadedModulePath(Module));
    SettingsSnapshot before = TakeSnapshot(settings);
    int32_t result = Module.onSettings();
    std::string error;
    if (result == IDOK && !SameFile(before, TakeSnapshot(settings))) {
        WriteStandard(1, "saved to " + settings + "\n");
        return ExitReplaced;
    }
    if (result == IDOK) {
        Say("OK was pressed, but the settings were not saved to " +
            (settings.empty() ? std::string("a settings file") : settings) + ": " +
            WhyNotSaved(settings) + ". The values entered are not kept.");
        return ExitKept;
    }
    if (result == IDCANCEL) {
        WriteStandard(1, "cancelled\n");
        return ExitReplaced;
    }
    if (result == -1 && !CanShowDialog(error))
        Say(error);
    else
        Say("the settings dialog could not be shown (it ended with " + std::to_string(result) +
            ")");
    return ExitKept;
}

// The first line of a password file, without its line end; false with the
// reason in error when the file cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error) {
    int fd = OpenForReading(path, false, error);
    if (fd < 0)
        return false;
    std::string text;
    ReadOutcome outcome = ReadBounded(fd, 4096, text);
    int readError = errno;
    CloseDescriptor(fd);
    if (outcome == READ_FAILED) {
        error = "cannot read '" + path + "': " + ErrnoText(readError);
        return false;
    }
    password = text.substr(0, text.find('\n'));
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return true;
}

// The password text when -p does not give it: the first line of the
// --password-file, or else the PREPROCESSOR_PASSWORD variable. false with
// the reason in error.
bool TakePassword(Options& options, std::string& error) {
    if (options.textGiven[PASSWORD_TEXT])
        return true;
    std::string& password = options.texts[PASSWORD_TEXT];
    std::string where;
    if (!options.passwordFile.empty()) {
        where = "the first line of '" + options.passwordFile + "'";
        if (!ReadPasswordFile(options.passwordFile, password, error))
            return false;
    } else if (const char* variable = getenv(PasswordVariable)) {
        where = PasswordVariable;
        password = variable;
    }
    if (password.find('\0') != std::string::npos)
        error = where + " holds a NUL byte";
    else if (password.size() > LONGEST_TEXT)
        error = where + " is longer than 63 characters";
    return error.empty();
}

// Why a whole text cannot be handed to the plug-in, or nothing.
std::string Refusal(const std::string& text) {
    if (text.find('\0') != std::string::npos)
        return "the text holds a NUL byte; the plug-in would see only the text before it";
    return std::string();
}

// One run over a text: ExitReplaced (with State.replacement), ExitKept, or
// the exit status of an interruption.
int RunOnce(const std::string& text) {
    State.text = text;
    State.replacement.clear();
    State.replaced = false;
    if (!EnterRunning())
        return FinishInterrupted();
    Module.onCall();
    ReapOrphans();
    LeaveRunning();
    if (InterruptStatus() != 0)
        return FinishInterrupted();
    return State.replaced ? ExitReplaced : ExitKept;
}

// Writes the text after the run to standard output and returns the run's
// status, or ExitKept at least when standard output takes no more.
int WriteOutput(const std::string& text, int status) {
    if (!EnterOutput())
        return FinishInterrupted();
    bool written = WriteAll(1, text.data(), text.size());
    int error = errno;
    LeaveOutput();
    if (written)
        return status;
    Say("cannot write standard output: " + ErrnoText(error));
    return std::max(status, ExitKept);
}

int RunOverText(const Options& options, const std::string& text) {
    std::string refusal = Refusal(text);
    if (!refusal.empty()) {
        Say(refusal + "; nothing was run");
        return WriteOutput(text, ExitUsage);
    }
    if (!LoadModule(options))
        return WriteOutput(text, ExitUsage);
    int status = RunOnce(text);
    if (status > ExitUsage)
        return status;
    return WriteOutput(status == ExitReplaced ? State.replacement : text, status);
}

// A text longer than the plug-in takes is refused before anything is
// loaded. A regular file is copied to standard output unchanged, as a kept
// text is; what comes through a pipe is not read to its end.
int PassThrough(int fd) {
    Say(std::string(TooLong) + "; nothing was run");
    if (!EnterOutput())
        return FinishInterrupted();
    (void)CopyFromStart(fd, 1);
    LeaveOutput();
    return ExitUsage;
}

// Reads at most LargestText bytes of the text to run over; on a read error
// says so, naming where it came from.
ReadOutcome ReadText(int fd, const std::string& name, std::string& text) {
    ReadOutcome outcome = ReadBounded(fd, LargestText, text);
    if (outcome == READ_FAILED)
        Say("cannot read " + name + ": " + ErrnoText(errno));
    return outcome;
}

int RunToOutput(const Options& options) {
    bool fromFile = !options.files.empty() && options.files[0] != "-";
    std::string name = fromFile ? "'" + options.files[0] + "'" : "standard input";
    std::string error;
    int fd = fromFile ? OpenForReading(options.files[0], false, error) : 0;
    if (fd < 0) {
        Say(error);
        return ExitUsage;
    }
    std::string text;
    ReadOutcome outcome = ReadText(fd, name, text);
    int status = ExitUsage;
    if (outcome == READ_TOO_LONG)
        status = PassThrough(fd);
    else if (outcome == READ_WHOLE)
        status = RunOverText(options, text);
    if (fromFile)
        CloseDescriptor(fd);
    return status;
}

// Puts a run's new text into the file: the copy is written in the running
// phase (an interruption removes it), and put in place in the commit phase.
int Replace(InPlaceFile& file, const std::string& original) {
    if (!EnterRunning())
        return FinishInterrupted();
    std::string error;
    bool ok = PrepareReplacement(file, State.replacement, error);
    LeaveRunning();
    if (InterruptStatus() != 0 || (ok && !EnterCommit())) {
        AbandonReplacement(file);
        return FinishInterrupted();
    }
    if (ok) {
        ok = CommitReplacement(file, State.replacement, original, error);
        LeaveCommit();
    }
    if (!ok) {
        Say(error);
        return ExitKept;
    }
    return ExitReplaced;
}

int RunOnFile(const Options& options, const std::string& path) {
    InPlaceFile file;
    std::string error;
    int fd = OpenInPlace(path, file, error);
    if (fd < 0) {
        Say(error);
        return ExitUsage;
    }
    std::string text;
    ReadOutcome outcome = ReadText(fd, "'" + path + "'", text);
    CloseDescriptor(fd);
    if (outcome == READ_FAILED)
        return ExitUsage;
    std::string refusal = outcome == READ_TOO_LONG ? std::string(TooLong) : Refusal(text);
    if (!refusal.empty()) {
        Say("'" + path + "': " + refusal + "; nothing was run and it was left as it was");
        return ExitUsage;
    }
    if (!LoadModule(options))
        return ExitUsage;
    int status = RunOnce(text);
    if (status == ExitKept)
        Say("'" + path + "' was left as it was");
    return status == ExitReplaced ? Replace(file, text) : status;
}

// Each FILE is a run of its own; the status is the worst of theirs. An
// interruption, or a module that cannot be loaded, ends the whole command.
int RunInPlace(const Options& options) {
    int worst = ExitReplaced;
    for (const std::string& path : options.files) {
        int status = RunOnFile(options, path);
        if (status > ExitUsage || ModuleFailed)
            return status;
        worst = std::max(worst, status);
    }
    return worst;
}

} // namespace

int main(int argc, char** argv) {
    DefaultChildSignal();
    memset(&State.context, 0, sizeof State.context);
    State.context.GetTargetHandle = HostGetTargetHandle;
    State.context.GetTargetText = HostGetTargetText;
    State.context.SetTargetText = HostSetTargetText;
    State.context.OwnerWindow = static_cast<HWND>(HostOwnerWindow());
    Options options;
    std::string error;
    switch (ParseOptions(argc, argv, options, error)) {
    case PARSE_HELP:
        WriteStandard(1, std::string(SynopsisLines) + OptionHelp);
        return ExitReplaced;
    case PARSE_VERSION:
        WriteStandard(1, VersionLine());
        return ExitReplaced;
    case PARSE_ERROR:
        Say(error);
        WriteStandard(2, std::string(SynopsisLines) + "Try 'plugin-host --help' for more.\n");
        return ExitUsage;
    case PARSE_OK:
        break;
    }
    if (options.command == "info")
        return CommandInfo(options);
    if (options.command == "settings")
        return CommandSettings(options);
    if (!TakePassword(options, error)) {
        Say(error);
        return ExitUsage;
    }
    char* fields[TEXT_OPTION_COUNT] = {State.context.TextU, State.context.TextP,
                                       State.context.TextD, State.context.TextO,
                                       State.context.TextN};
    for (int t = 0; t < TEXT_OPTION_COUNT; t++)
        memcpy(fields[t], options.texts[t].c_str(), options.texts[t].size() + 1);
    UseBinaryStandardStreams();
    SeparateMessagesFromText();
    TakeOverInterrupts();
    return options.inPlace ? RunInPlace(options) : RunToOutput(options);
}
