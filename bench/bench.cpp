// ep-bench: what one OnCall costs, against the least that running the same
// filter program can cost (started directly, no temporary files, no plug-in)
// and against running it through the shell; and how many heap allocations
// one OnCall makes.
//
//   ep-bench [OPTION...] [RUNS [BASELINE]]
//                                RUNS timed runs per case (default 200);
//                                BASELINE another build of the module (one
//                                of an earlier commit, say), timed side by
//                                side with this one
//   --option KEY=VALUE           a line of section [Run] for this module
//                                (Encoding=UTF-8, LineEndings=keep); the
//                                baseline runs without it
//   --crlf                       the texts' lines end in CR LF, not LF
//   --latin1                     each line of the texts holds an e acute as
//                                the byte E9 (Latin-1, code page 1252): run
//                                in such a locale, where it is the ANSI
//                                code page's character
//
// The module is loaded with dlopen from private copies, each beside its own
// settings file, as a host loads it: one with the run options given (none
// by default), one with TextsInEnvironment=1 and TimeLimit=60 besides
// (whose heap allocations are counted too), and the baseline when one is
// given. Each is driven through OnInstall
// and OnCall with host callbacks that copy the text in and out of fixed
// buffers. Every run's output is compared with its input byte for byte; a
// difference or any failure ends the program with status 1. Missed speed
// targets are printed, never turned into the exit status.
#include "alloc_count.h"
#include "host/host_io.h"
#include "host/module_loader.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The filter program, the same absolute path for all three approaches.
const char Program[] = "/bin/cat";
const char Shell[] = "/bin/sh";
// The largest is the longest text the plug-in takes.
const size_t Sizes[] = {1024, size_t{10} * 1024, size_t{100} * 1024 - 2};
const int DefaultRuns = 200;
const int WarmUpRuns = 20;
const int CountedCalls = 100;
const double LimitTarget = 1.05; // plug-in / limit
const double ShellTarget = 0.60; // plug-in / shell

// The plug-in as installed (no run options), the baseline module (when one
// is given), the limit and the shell.
enum Approach { PLUGIN, BASELINE, LIMIT, SHELL, APPROACHES };

// Whether a baseline module is timed.
bool HaveBaseline = false;

// The lines of section [Run] for this module (--option), and the shape of
// the texts (--crlf, --latin1).
std::string RunOptions;
bool CrLf = false;
bool Latin1 = false;

std::string WorkDir;
int NullDevice = -1;

void Cleanup();

// Reports a failure and ends the program with status 1. The message is
// printf-style, its arguments checked against the format by the compiler,
// and goes to stderr best effort: the exit status is what counts.
// NOLINTNEXTLINE(cert-dcl50-cpp)
[[noreturn]] __attribute__((format(printf, 1, 2))) void Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    (void)fputs("ep-bench: ", stderr);
    (void)vfprintf(stderr, format, args);
    (void)fputc('\n', stderr);
    va_end(args);
    Cleanup();
    exit(1);
}

// ---- files -------------------------------------------------------------

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool written = fd >= 0 && WriteAll(fd, bytes.data(), bytes.size());
    if (fd < 0 || close(fd) != 0 || !written)
        Fail("cannot write %s", path.c_str());
}

std::string ReadFileBytes(const std::string& path) {
    std::string bytes;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Fail("cannot read %s", path.c_str());
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0)
        bytes.append(chunk, (size_t)n);
    close(fd);
    if (n < 0)
        Fail("cannot read %s", path.c_str());
    return bytes;
}

// Removes the entries of a directory: files, and with descend also
// directories, through the given procedure for their own entries.
void RemoveEntries(const std::string& path, void (*descend)(const std::string&)) {
    if (DIR* dir = opendir(path.c_str())) {
        while (struct dirent* entry = readdir(dir)) {
            std::string child = path + "/" + entry->d_name;
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
                continue;
            if (entry->d_type == DT_DIR && descend != nullptr) {
                descend(child);
                rmdir(child.c_str());
            } else {
                unlink(child.c_str());
            }
        }
        closedir(dir);
    }
}

void RemoveFiles(const std::string& path) {
    RemoveEntries(path, nullptr);
}

// Removes the work directory and everything in it.
void Cleanup() {
    if (WorkDir.empty())
        return;
    // The work directory holds files and the modules' directories of files.
    RemoveEntries(WorkDir, RemoveFiles);
    rmdir(WorkDir.c_str());
    WorkDir.clear();
}

// Plain SQL-like text of exactly the given size, the same on every run.
std::string SqlText(size_t size) {
    static const char* const Tables[] = {"orders", "customers", "invoices", "stock"};
    static const char* const Regions[] = {"north", "south", "east", "west"};
    std::string text;
    uint32_t seed = 12345;
    char line[160];
    while (text.size() < size) {
        seed = seed * 1103515245u + 12345u;
        unsigned pick = seed >> 16;
        // The longest line is well under the buffer's size.
        (void)snprintf(line, sizeof line,
                       "SELECT id, name, amount FROM %s WHERE id = %u AND region = '%s'%s;%s",
                       Tables[pick % 4], pick % 100000, Regions[(pick / 4) % 4],
                       Latin1 ? " -- caf\xE9" : "", CrLf ? "\r\n" : "\n");
        text += line;
    }
    text.resize(size);
    if (CrLf)
        text[size - 2] = '\r';
    text.back() = '\n';
    return text;
}

// ---- the host's side of the plug-in --------------------------------------

struct BenchHost {
    HostContext context;
    const std::string* text = nullptr;
    // What SetTargetText handed back, copied as a host keeps it.
    char returned[TEXT_CAPACITY + 1];
    size_t returnedLength = 0;
    bool replaced = false;
};

BenchHost TheHost;

int32_t PLUGIN_CALL HostGetTargetHandle(uint32_t* handle) {
    *handle = 1;
    return 1;
}

int32_t PLUGIN_CALL HostGetTargetText(uint32_t, char* buffer, int32_t capacity) {
    size_t length = std::min(TheHost.text->size(), (size_t)capacity);
    memcpy(buffer, TheHost.text->data(), length);
    buffer[length] = '\0';
    return (int32_t)length;
}

int32_t PLUGIN_CALL HostSetTargetText(uint32_t, const char* text) {
    size_t length = strnlen(text, TEXT_CAPACITY);
    memcpy(TheHost.returned, text, length);
    TheHost.returned[length] = '\0';
    TheHost.returnedLength = length;
    TheHost.replaced = true;
    return 1;
}

// A copy of the module in a directory of its own under the work directory,
// with a settings file beside it that runs the filter over the input file,
// keeps the temporary files in the work directory and adds the given lines.
PluginModule LoadModule(const std::string& built, const char* name, const std::string& more) {
    std::string dir = WorkDir + "/" + name;
    if (mkdir(dir.c_str(), 0700) != 0)
        Fail("cannot make %s", dir.c_str());
    std::string copy = dir + "/" + ModuleFileName();
    WriteFileBytes(copy, ReadFileBytes(built));
    WriteFileBytes(dir + "/external_preprocessor.ini", "[Path]\r\nWorkingDirectory=" + WorkDir +
                                                           "\r\nCommandLine=" + Program +
                                                           " %f\r\n" + more);
    PluginModule module;
    std::string error;
    if (!LoadPluginModule(copy, module, error))
        Fail("%s", error.c_str());
    memset(&TheHost.context, 0, sizeof TheHost.context);
    TheHost.context.GetTargetHandle = HostGetTargetHandle;
    TheHost.context.GetTargetText = HostGetTargetText;
    TheHost.context.SetTargetText = HostSetTargetText;
    static PluginInfo Info;
    module.onInstall(&Info, &TheHost.context);
    return module;
}

// ---- one size: its files and the three ways of running the filter ---------

struct Case {
    size_t size = 0;
    std::string text;
    std::string input;  // written once, read by the limit and the shell
    std::string output; // written by the limit and the shell
    std::string shellLine;
    std::vector<double> micros[APPROACHES];
};

std::string ShellQuoted(const std::string& path) {
    if (path.find('\'') != std::string::npos)
        Fail("path %s holds a quote", path.c_str());
    return "'" + path + "'";
}

void PrepareCase(Case& c, size_t size) {
    c.size = size;
    c.text = SqlText(size);
    std::string stem = WorkDir + "/case-" + std::to_string(size);
    c.input = stem + ".in";
    c.output = stem + ".out";
    WriteFileBytes(c.input, c.text);
    c.shellLine =
        std::string(Program) + " < " + ShellQuoted(c.input) + " > " + ShellQuoted(c.output);
}

double Now() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1e6 + (double)now.tv_nsec / 1e3;
}

// ---- starting a program the cheapest sound way: vfork and execve -----------

// What the child needs, prepared before vfork: until execve the child shares
// this process's memory, so it reads only these and makes only
// async-signal-safe calls. It gets standard input and error the null device,
// as the plug-in's child does, and the given standard output.
struct ChildStart {
    const char* path;
    char* const* argv;
    int standard[3];
};

ChildStart Start;
volatile int StartError;

[[noreturn]] void RunChild() {
    for (int fd = 0; fd < 3; fd++) {
        if (dup2(Start.standard[fd], fd) < 0) {
            StartError = errno;
            _exit(127);
        }
    }
    execve(Start.path, Start.argv, environ);
    StartError = errno;
    _exit(127);
}

// vfork apart from everything else, so that no local of a caller lives
// across it.
__attribute__((noinline)) pid_t StartChild() {
    // vfork as the platform layer starts a program, so that the limit costs
    // what the plug-in's own start costs at least; the child makes only
    // RunChild's async-signal-safe calls, which the analyzer's vfork checks
    // do not know to allow.
    // cppcheck-suppress vforkCalled
    pid_t pid = vfork(); // NOLINT(clang-analyzer-security.insecureAPI.vfork)
    if (pid == 0)
        RunChild(); // NOLINT(clang-analyzer-unix.Vfork)
    return pid;
}

// Starts the program with the given standard output and waits for it; it
// must start and end with status 0.
void RunAndWait(const char* path, char* const argv[], int output) {
    Start.path = path;
    Start.argv = argv;
    Start.standard[0] = NullDevice;
    Start.standard[1] = output;
    Start.standard[2] = NullDevice;
    StartError = 0;
    pid_t pid = StartChild();
    if (pid < 0)
        Fail("cannot start %s: %s", path, strerror(errno));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            Fail("cannot wait for %s: %s", path, strerror(errno));
    }
    if (StartError != 0)
        Fail("cannot start %s: %s", path, strerror(StartError));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        Fail("%s did not end with status 0", path);
}

void CheckOutput(const Case& c, const char* approach) {
    if (ReadFileBytes(c.output) != c.text)
        Fail("%s: the output of %zu bytes differs from the input", approach, c.size);
    unlink(c.output.c_str());
}

// The plug-in handed back the case's text unchanged.
void CheckReturned(const Case& c) {
    if (!TheHost.replaced || TheHost.returnedLength != c.size ||
        memcmp(TheHost.returned, c.text.data(), c.size) != 0)
        Fail("plug-in: the text of %zu bytes did not come back unchanged", c.size);
}

double RunPlugin(const PluginModule& module, Case& c) {
    TheHost.text = &c.text;
    TheHost.replaced = false;
    double start = Now();
    module.onCall();
    double took = Now() - start;
    CheckReturned(c);
    return took;
}

double RunLimit(Case& c) {
    char* argv[] = {const_cast<char*>(Program), const_cast<char*>(c.input.c_str()), nullptr};
    double start = Now();
    int output = open(c.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (output < 0)
        Fail("cannot create %s", c.output.c_str());
    RunAndWait(Program, argv, output);
    close(output);
    double took = Now() - start;
    CheckOutput(c, "limit");
    return took;
}

double RunShell(Case& c) {
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                    const_cast<char*>(c.shellLine.c_str()), nullptr};
    double start = Now();
    RunAndWait(Shell, argv, NullDevice);
    double took = Now() - start;
    CheckOutput(c, "shell");
    return took;
}

// One run of each approach over one case, in an order that turns with the
// run's number so that none always goes first; times are kept when asked.
void RunAll(const PluginModule* modules, Case& c, int run, bool keep) {
    for (int i = 0; i < APPROACHES; i++) {
        int approach = (run + i) % APPROACHES;
        if (approach == BASELINE && !HaveBaseline)
            continue;
        double took = approach == PLUGIN     ? RunPlugin(modules[PLUGIN], c)
                      : approach == BASELINE ? RunPlugin(modules[BASELINE], c)
                      : approach == LIMIT    ? RunLimit(c)
                                             : RunShell(c);
        if (keep)
            c.micros[approach].push_back(took);
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string SizeName(size_t size) {
    return std::to_string((size + 512) / 1024) + " KB";
}

const char* Verdict(bool met) {
    return met ? "PASS" : "MISS";
}

// One ratio and its verdict.
std::string Ratio(double value, double target) {
    char text[32];
    (void)snprintf(text, sizeof text, "%.3f %s", value, Verdict(value <= target));
    return text;
}

// A ratio without a target.
std::string Plain(double value) {
    char text[32];
    (void)snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// The run options as one line.
std::string Shown(const std::string& options) {
    std::string shown;
    for (char c : options) {
        if (c == '\r')
            continue;
        shown += c == '\n' ? ' ' : c;
    }
    if (!shown.empty())
        shown.pop_back();
    return shown;
}

void PrintTimes(const Case* cases, size_t count, int runs, double load) {
    printf("median wall time of one run, %d runs per case after %d warm-up runs; "
           "filter %s; load average %.2f at the start\n"
           "plug-in: this module, %s; base: the baseline module%s, no run options\n"
           "texts: lines ending in %s%s\n\n",
           runs, WarmUpRuns, Program, load,
           RunOptions.empty() ? "no run options" : Shown(RunOptions).c_str(),
           HaveBaseline ? "" : " (none given)", CrLf ? "CR LF" : "LF",
           Latin1 ? ", each with the byte E9 (e acute in Latin-1)" : "");
    printf("%-7s %9s %9s %9s %9s  %-12s %-12s %-12s %-12s %-12s\n", "size", "plug-in", "base",
           "limit", "shell", "p/limit", "p/shell", "base/limit", "base/shell", "p/base");
    printf("%-7s %9s %9s %9s %9s  %-12s %-12s\n", "", "", "", "", "", "<= 1.05", "<= 0.60");
    for (size_t i = 0; i < count; i++) {
        const Case& c = cases[i];
        double plugin = Median(c.micros[PLUGIN]);
        double limit = Median(c.micros[LIMIT]);
        double shell = Median(c.micros[SHELL]);
        printf("%-7s %6.0f us ", SizeName(c.size).c_str(), plugin);
        if (HaveBaseline)
            printf("%6.0f us ", Median(c.micros[BASELINE]));
        else
            printf("%9s ", "-");
        printf("%6.0f us %6.0f us  %-12s %-12s", limit, shell,
               Ratio(plugin / limit, LimitTarget).c_str(),
               Ratio(plugin / shell, ShellTarget).c_str());
        if (HaveBaseline) {
            double base = Median(c.micros[BASELINE]);
            printf(" %-12s %-12s %-12s", Plain(base / limit).c_str(), Plain(base / shell).c_str(),
                   Plain(plugin / base).c_str());
        }
        printf("\n");
    }
}

// ---- heap allocations ------------------------------------------------------

// Proves that the counter sees allocations, both the program's own and
// glibc's internal ones, and that it is the malloc a loaded module gets.
void CheckCounter() {
    if (!AllocCountBound())
        Fail("the allocation counter is not the process's malloc");
    static const char Word[] = "counted";
    // Allocated only to be counted, never used.
    AllocCountStart();
    // cppcheck-suppress unusedAllocatedMemory
    void* volatile block = malloc(64);
    free(block);
    // cppcheck-suppress unusedAllocatedMemory
    char* copy = strdup(Word);
    free(copy);
    AllocCountStop();
    if (AllocCountAllocations() != 2 || AllocCountReleases() != 2)
        Fail("the allocation counter saw %lu allocations and %lu releases, not 2 and 2",
             AllocCountAllocations(), AllocCountReleases());
}

// Allocations over CountedCalls calls of OnCall after one warm-up call.
void CountAllocations(const PluginModule& module, Case& c, unsigned long* allocations,
                      unsigned long* releases) {
    TheHost.text = &c.text;
    module.onCall();
    TheHost.replaced = false;
    AllocCountStart();
    for (int i = 0; i < CountedCalls; i++)
        module.onCall();
    AllocCountStop();
    *allocations = AllocCountAllocations();
    *releases = AllocCountReleases();
    CheckReturned(c);
}

void PrintAllocations(const PluginModule& module, const char* name, Case* cases, size_t count) {
    CheckCounter();
    printf("\nheap allocations in OnCall of the %s (plug-in and platform layer), %d calls after "
           "one warm-up call; target 0 per call\n"
           "(counter checked: a deliberate malloc and a strdup inside glibc were both "
           "counted)\n\n",
           name, CountedCalls);
    for (size_t i = 0; i < count; i++) {
        unsigned long allocations = 0, releases = 0;
        CountAllocations(module, cases[i], &allocations, &releases);
        printf("%-8s %lu allocations, %lu releases in %d calls: %.2f per call %s\n",
               SizeName(cases[i].size).c_str(), allocations, releases, CountedCalls,
               (double)allocations / CountedCalls, Verdict(allocations == 0));
    }
}

std::string MakeWorkDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/ep-bench-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        Fail("cannot make a directory from %s", pattern.c_str());
    return name.data();
}

[[noreturn]] void Usage() {
    (void)fprintf(stderr,
                  "usage: ep-bench [--option KEY=VALUE]... [--crlf] [--latin1] [RUNS [BASELINE]]\n"
                  "       (RUNS 1 to 100000, default %d; BASELINE another build of the module,\n"
                  "       timed side by side; --option a line of section [Run] for this module)\n",
                  DefaultRuns);
    exit(2);
}

// Takes the options; *first is the first argument after them.
void ParseOptions(int argc, char** argv, int* first) {
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; i++) {
        if (strcmp(argv[i], "--crlf") == 0) {
            CrLf = true;
        } else if (strcmp(argv[i], "--latin1") == 0) {
            Latin1 = true;
        } else if (strcmp(argv[i], "--option") == 0 && i + 1 < argc &&
                   strchr(argv[i + 1], '=') != nullptr) {
            RunOptions += std::string(argv[++i]) + "\r\n";
        } else {
            Usage();
        }
    }
    *first = i;
}

int ParseRuns(int argc, char** argv) {
    if (argc < 2)
        return DefaultRuns;
    char* end = nullptr;
    long runs = strtol(argv[1], &end, 10);
    if (argc > 3 || *end != '\0' || runs < 1 || runs > 100000)
        Usage();
    return (int)runs;
}

} // namespace

int main(int argc, char** argv) {
    int first = 1;
    ParseOptions(argc, argv, &first);
    // RUNS and BASELINE as if they came first.
    argv[first - 1] = argv[0];
    argc -= first - 1;
    argv += first - 1;
    int runs = ParseRuns(argc, argv);
    std::string built = DefaultModulePath();
    WorkDir = MakeWorkDir();
    // Descriptors 0 to 2 stay taken, so that no file of ours lands on them.
    do
        NullDevice = open("/dev/null", O_RDWR | O_CLOEXEC);
    while (NullDevice >= 0 && NullDevice <= 2 && fcntl(NullDevice, F_SETFD, 0) == 0);
    if (NullDevice < 0)
        Fail("cannot open /dev/null");
    std::string baseline = argc > 2 ? argv[2] : "";
    HaveBaseline = !baseline.empty();
    PluginModule modules[2] = {LoadModule(built, "plain", "[Run]\r\n" + RunOptions),
                               HaveBaseline ? LoadModule(baseline, "baseline", "")
                                            : PluginModule()};
    PluginModule withOptions = LoadModule(
        built, "options", "[Run]\r\n" + RunOptions + "TextsInEnvironment=1\r\nTimeLimit=60\r\n");

    const size_t count = sizeof Sizes / sizeof Sizes[0];
    static Case cases[count];
    for (size_t i = 0; i < count; i++)
        PrepareCase(cases[i], Sizes[i]);

    double load = -1;
    getloadavg(&load, 1);
    double started = Now();
    for (int run = 0; run < WarmUpRuns + runs; run++) {
        for (Case& c : cases)
            RunAll(modules, c, run, run >= WarmUpRuns);
    }
    PrintTimes(cases, count, runs, load);
    PrintAllocations(modules[PLUGIN], "plug-in", cases, count);
    PrintAllocations(withOptions, "plug-in with TextsInEnvironment and TimeLimit besides", cases,
                     count);
    printf("\nmodule %s%s%s; %.1f s\n", built.c_str(), HaveBaseline ? "; baseline " : "",
           baseline.c_str(), (Now() - started) / 1e6);
    Cleanup();
    return 0;
}
