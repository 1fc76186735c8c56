// Starting a program and waiting for it, as the run does: what counts as a
// failure to start, what the child gets on its standard handles, and how the
// wait behaves. The exact error numbers and the descriptor and signal checks
// are the Linux layer's; the rest holds on every target.
#include "cmdline_run.h"
#include "support/test_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#ifndef _WIN32
#include "support/posix_process.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <sched.h>
#include <termios.h>
#include <unistd.h>
#endif

// Starts the line expecting a failure; returns the error, 0 if it started.
static DWORD StartError(const std::string& line) {
    Capture capture;
    PROCESS_INFORMATION process;
    if (!Start(line, capture.handle, &process))
        return GetLastError();
    WaitAndClose(process);
    return 0;
}

// A file in the temporary directory with the given text, removed at the end.
struct TextFile {
    char path[MAX_PATH];
    explicit TextFile(const char* text) {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "ept", 0, path);
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD written;
        WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
        CloseHandle(file);
    }
    ~TextFile() {
        DeleteFileA(path);
    }
    // One owner of the file: a copy would remove it while the other is in use.
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;
};

TEST(Process, MissingProgramOrEmptyLineFailsToStart) {
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, StartError("no-such-program-ep a b"));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, StartError(""));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, StartError("   "));
#ifndef _WIN32
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, StartError("/no/such/dir/prog"));
    EXPECT_EQ((DWORD)ERROR_PATH_NOT_FOUND, StartError("\"" + std::string(SelfPath()) + "/prog\""));
    EXPECT_EQ(-1, waitpid(-1, NULL, WNOHANG)) << "a failed start left a child behind";
#endif
}

#ifndef _WIN32
// Where vfork is a plain fork, the start error still reaches the parent: the
// whole program runs so under a preloaded shim (process_test_plain_fork).
TEST(Process, StartFailureIsKnownWhereVforkIsAPlainFork) {
    if (getenv("EP_VFORK_IS_FORK") == nullptr)
        GTEST_SKIP() << "runs under the vfork shim only";
    ASSERT_NE(nullptr, dlsym(RTLD_DEFAULT, "ep_vfork_is_fork")) << "the shim is not preloaded";
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, StartError("no-such-program-ep"));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, StartError(""));
    EXPECT_EQ("5:found\n", RunCaptured(Self() + " --child echo-args found"));
}
#endif

TEST(Process, DirectoryOrTextFileFailsToStart) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    dir[strlen(dir) - 1] = '\0';
    TextFile text("echo started\n");
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, StartError(std::string("\"") + dir + "\""));
    EXPECT_NE(0u, StartError(std::string("\"") + text.path + "\""));
#ifdef _WIN32
    EXPECT_EQ((DWORD)ERROR_BAD_EXE_FORMAT, StartError(std::string("\"") + text.path + "\""));
#else
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, StartError(text.path)); // not executable
    chmod(text.path, 0700); // executable, but no "#!" line: no shell runs it
    EXPECT_EQ((DWORD)ERROR_BAD_EXE_FORMAT, StartError(text.path));
#endif
}

TEST(Process, FailedStartsLeaveNoHandleBehind) {
    for (int i = 0; i < 100; i++)
        ASSERT_NE(0u, StartError("no-such-program-ep")) << i;
    EXPECT_EQ("slept", RunCaptured(Self() + " --child sleep 0"));
}

TEST(Process, StandardInputIsAtEndAndStandardErrorGoesNowhere) {
#ifndef _WIN32
    // Give the test itself a standard input with bytes in it, and a standard
    // error in a file, to see that the child gets neither.
    int pipeEnds[2], savedIn = dup(0), savedErr = dup(2);
    ASSERT_EQ(0, pipe(pipeEnds));
    ASSERT_EQ(5, write(pipeEnds[1], "bytes", 5));
    close(pipeEnds[1]);
    dup2(pipeEnds[0], 0);
    close(pipeEnds[0]);
    TextFile errors("");
    int errorFile = open(errors.path, O_WRONLY);
    dup2(errorFile, 2);
    close(errorFile);
#endif
    std::string input = RunCaptured(Self() + " --child stdin");
    std::string output = RunCaptured(Self() + " --child stderr to-nowhere");
#ifndef _WIN32
    dup2(savedIn, 0);
    dup2(savedErr, 2);
    close(savedIn);
    close(savedErr);
    struct stat info;
    ASSERT_EQ(0, stat(errors.path, &info));
    EXPECT_EQ(0, info.st_size) << "the child wrote to the host's standard error";
#endif
    EXPECT_EQ("eof 0", input);
    EXPECT_EQ("out", output);
}

TEST(Process, KilledChildIsWaitedForLikeAnyOther) {
    Capture capture;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(Start(Self() + " --child kill", capture.handle, &process));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, INFINITE));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 0));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ("partial", capture.Read());
}

TEST(Process, FiniteWaitTimesOutUntilTheChildEnds) {
    Capture capture;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(Start(Self() + " --child sleep 700", capture.handle, &process));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(process.hProcess, 0));
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(process.hProcess, 50));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 5000));
    EXPECT_EQ("slept", capture.Read());
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ((DWORD)WAIT_FAILED, WaitForSingleObject(NULL, 0));
}

#ifndef _WIN32
// The field of /proc/PID/status with the given name, e.g. "SigIgn:".
static std::string StatusField(DWORD pid, const char* field) {
    FILE* file = fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    char line[256];
    std::string value = "missing";
    while (file != NULL && fgets(line, sizeof line, file))
        if (strncmp(line, field, strlen(field)) == 0)
            value = line + strlen(field);
    if (file != NULL)
        fclose(file);
    return value;
}
#endif

static DWORD ExitCodeOf(const std::string& line) {
    Capture capture;
    PROCESS_INFORMATION process;
    if (!Start(line, capture.handle, &process))
        return (DWORD)-1;
    return WaitAndClose(process);
}

TEST(Process, ExitCodeIsTheProgramsOwnAndStillActiveWhileItRuns) {
    EXPECT_EQ(7u, ExitCodeOf(Self() + " --child exit 7"));
    EXPECT_EQ(0u, ExitCodeOf(Self() + " --child exit 0"));
    EXPECT_EQ(255u, ExitCodeOf(Self() + " --child exit 255"));
    Capture capture;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(Start(Self() + " --child sleep 300", capture.handle, &process));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code));
    EXPECT_EQ((DWORD)STILL_ACTIVE, code);
    WaitForSingleObject(process.hProcess, INFINITE);
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code));
    EXPECT_EQ(0u, code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_FALSE(GetExitCodeProcess(NULL, &code));
}

TEST(Process, ProgramEndedAbruptlyHasAnExitCodeThatSaysSo) {
    DWORD code = ExitCodeOf(Self() + " --child kill");
#ifdef _WIN32
    EXPECT_EQ(9u, code); // TerminateProcess(self, 9)
#else
    // Ended by SIGKILL: an error status that FormatMessageA describes.
    EXPECT_EQ(0xE0000100u + SIGKILL, code);
    char text[128];
    ASSERT_NE(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                 code, 0, text, sizeof text, NULL));
    EXPECT_EQ(std::string("Killed by signal 9 (Killed)"), text);
#endif
}

// Whether the process with this id has ended within the time given. A
// zombie has ended: here nobody may reap a process whose parent is gone.
static bool EndsWithin(DWORD pid, DWORD milliseconds) {
#ifdef _WIN32
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == NULL)
        return true;
    bool ended = WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
#else
    for (DWORD waited = 0;; waited += 20) {
        std::string stat = StatusField(pid, "State:");
        if (stat == "missing" || stat.find('Z') != std::string::npos)
            return true;
        if (waited >= milliseconds)
            return false;
        Sleep(20);
    }
#endif
}

// The id the "tree" child writes first: that of the process it started.
static DWORD GrandchildOf(Capture& capture) {
    for (int tries = 0; tries < 500; tries++) {
        std::string out = capture.Read();
        if (out.find('\n') != std::string::npos)
            return (DWORD)std::stoul(out);
        Sleep(10);
    }
    return 0;
}

TEST(Process, TerminatedJobEndsTheProgramAndEverythingItStarted) {
    HANDLE job = CreateJobObjectA(NULL, NULL);
    ASSERT_NE(nullptr, job);
    Capture capture;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(StartWith(Self() + " --child tree 60000", capture.handle,
                          NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP,
                          &process));
    EXPECT_TRUE(AssignProcessToJobObject(job, process.hProcess));
    EXPECT_EQ(1u, ResumeThread(process.hThread));
    DWORD grandchild = GrandchildOf(capture);
    ASSERT_NE(0u, grandchild) << capture.Read();
    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(process.hProcess, 50));
    EXPECT_TRUE(TerminateJobObject(job, 1));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 10000));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code));
    EXPECT_EQ(1u, code);
    EXPECT_TRUE(EndsWithin(grandchild, 10000)) << "the program's own child was left running";
    EXPECT_EQ(std::string::npos, capture.Read().find("slept"));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(job);
}

#ifndef _WIN32
// PATH as execvp reads it: entries in order, an empty one for the current
// directory; a file that may not be run is passed over, one without a valid
// header ends the search.
TEST(Process, ProgramIsLookedUpInPathWithoutShellFallback) {
    std::string self = SelfPath();
    std::string dir = self.substr(0, self.rfind('/')), name = self.substr(self.rfind('/') + 1);
    std::string line = name + " --child echo-args found";
    TempDir deniedDir("ept-denied", "/tmp"), noHeaderDir("ept-noheader", "/tmp");
    ASSERT_TRUE(!deniedDir.Path().empty() && !noHeaderDir.Path().empty());
    const std::string& denied = deniedDir.Path();
    const std::string& noHeader = noHeaderDir.Path();
    std::string deniedFile = denied + "/" + name;
    std::string noHeaderFile = noHeader + "/" + name;
    close(open(deniedFile.c_str(), O_CREAT | O_WRONLY, 0600));
    close(open(noHeaderFile.c_str(), O_CREAT | O_WRONLY, 0700));
    std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
    char savedDir[4096];
    ASSERT_TRUE(getcwd(savedDir, sizeof savedDir));

    setenv("PATH", ("/no/such/dir:" + std::string(denied) + ":" + dir).c_str(), 1);
    EXPECT_EQ("5:found\n", RunCaptured(line));
    setenv("PATH", (std::string(denied) + ":/no/such/dir").c_str(), 1);
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, StartError(line));
    setenv("PATH", (std::string(noHeader) + ":" + dir).c_str(), 1);
    EXPECT_EQ((DWORD)ERROR_BAD_EXE_FORMAT, StartError(line));
    ASSERT_EQ(0, chdir(dir.c_str()));
    setenv("PATH", "/no/such/dir:", 1);
    EXPECT_EQ("5:found\n", RunCaptured(line));

    ASSERT_EQ(0, chdir(savedDir));
    setenv("PATH", savedPath.c_str(), 1);
}

TEST(Process, LineLimitAndRefusedArguments) {
    std::string line = Self() + " --child echo-args ";
    std::string longest(259 - line.size(), 'x');
    EXPECT_EQ(std::to_string(longest.size()) + ":" + longest + "\n", RunCaptured(line + longest));
    EXPECT_EQ((DWORD)ERROR_FILENAME_EXCED_RANGE, StartError(line + longest + "x"));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = (HANDLE)(uintptr_t)4096;
    PROCESS_INFORMATION process;
    char text[] = "prog";
    EXPECT_FALSE(CreateProcessA(NULL, text, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(CreateProcessA("prog", text, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_FALSE(CreateProcessA(NULL, text, NULL, NULL, TRUE, 0, NULL, "/", &startup, &process));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
}

// The descriptors open in this process that a child inherits anyway.
static std::string InheritableDescriptors() {
    std::string list;
    DIR* dir = opendir("/proc/self/fd");
    while (struct dirent* entry = readdir(dir)) {
        int fd = atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd > 2 && fd != dirfd(dir) &&
            !(fcntl(fd, F_GETFD) & FD_CLOEXEC))
            list += std::to_string(fd) + " ";
    }
    closedir(dir);
    return list;
}

TEST(Process, ChildGetsNoDescriptorOfTheLayer) {
    Capture inheritable;
    ASSERT_NE(INVALID_HANDLE_VALUE, inheritable.handle);
    std::string expected = InheritableDescriptors();
    EXPECT_EQ(expected, RunCaptured(Self() + " --child fds"));
}

// Closing a process's handle reaps a child that has ended, so no zombie is
// left, and leaves one that still runs alone; every handle closes once.
TEST(Process, ClosingTheHandleReapsAnEndedChildAndLeavesARunningOne) {
    Capture capture;
    PROCESS_INFORMATION ended, running;
    ASSERT_TRUE(Start(Self() + " --child sleep 0", capture.handle, &ended));
    pid_t pid = (pid_t)ended.dwProcessId;
    siginfo_t info = {};
    // Waits for the end without reaping, as the close is to do that.
    ASSERT_EQ(0, waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT));
    EXPECT_TRUE(CloseHandle(ended.hProcess));
    EXPECT_EQ(-1, waitpid(pid, NULL, WNOHANG)) << "the ended child was not reaped";
    EXPECT_EQ(ECHILD, errno);
    EXPECT_TRUE(CloseHandle(ended.hThread));
    EXPECT_FALSE(CloseHandle(ended.hProcess));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(CloseHandle(ended.hThread));

    ASSERT_TRUE(Start(Self() + " --child sleep 600", capture.handle, &running));
    pid = (pid_t)running.dwProcessId;
    EXPECT_TRUE(CloseHandle(running.hProcess));
    EXPECT_TRUE(CloseHandle(running.hThread));
    EXPECT_EQ(0, waitpid(pid, NULL, WNOHANG)) << "the running child was waited for";
    EXPECT_EQ(0, kill(pid, SIGKILL));
    EXPECT_EQ(pid, waitpid(pid, NULL, 0));
}

static volatile sig_atomic_t Alarms;
static void CountAlarm(int) {
    Alarms = Alarms + 1;
}

// A signal that interrupts the wait (no SA_RESTART) does not end it early.
TEST(Process, WaitGoesOnAfterASignal) {
    struct sigaction action = {}, previous;
    action.sa_handler = CountAlarm;
    sigaction(SIGALRM, &action, &previous);
    Capture capture;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(Start(Self() + " --child sleep 600", capture.handle, &process));
    struct itimerval timer = {{0, 100000}, {0, 100000}}, off = {};
    Alarms = 0;
    setitimer(ITIMER_REAL, &timer, NULL);
    DWORD result = WaitForSingleObject(process.hProcess, INFINITE);
    setitimer(ITIMER_REAL, &off, NULL);
    sigaction(SIGALRM, &previous, NULL);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, result);
    EXPECT_LE(3, Alarms);
    EXPECT_EQ("slept", capture.Read());
    EXPECT_EQ(-1, waitpid((pid_t)process.dwProcessId, NULL, WNOHANG)) << "not reaped";
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

static void Caught(int) {}

// The bit of a signal in a /proc/PID/status mask.
static uint64_t Bit(int number) {
    return (uint64_t)1 << (number - 1);
}

// As across any exec: what the caller ignores stays ignored (nohup relies on
// it), except SIGPIPE and SIGXFSZ; a caught signal starts at its default;
// nothing is blocked.
TEST(Process, ChildKeepsIgnoredSignalsButPipeAndFileSizeAndBlocksNothing) {
    sigset_t blocked, previousMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigprocmask(SIG_BLOCK, &blocked, &previousMask);
    // Ignored signals low and high in the mask, the last one included.
    const int ignoredSignals[] = {SIGPIPE, SIGXFSZ, SIGHUP, SIGWINCH, SIGRTMIN + 5, SIGRTMAX};
    const int count = sizeof ignoredSignals / sizeof ignoredSignals[0];
    void (*previous[count])(int);
    for (int i = 0; i < count; i++)
        previous[i] = signal(ignoredSignals[i], SIG_IGN);
    void (*previousTerm)(int) = signal(SIGTERM, Caught);
    Capture capture;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(Start(Self() + " --child sleep 300", capture.handle, &process));
    std::string ignored = StatusField(process.dwProcessId, "SigIgn:");
    std::string caught = StatusField(process.dwProcessId, "SigCgt:");
    std::string masked = StatusField(process.dwProcessId, "SigBlk:");
    WaitAndClose(process);
    for (int i = 0; i < count; i++)
        signal(ignoredSignals[i], previous[i]);
    signal(SIGTERM, previousTerm);
    sigprocmask(SIG_SETMASK, &previousMask, NULL);
    uint64_t expected = Bit(SIGHUP) | Bit(SIGWINCH) | Bit(SIGRTMIN + 5) | Bit(SIGRTMAX);
    EXPECT_EQ(expected, strtoull(ignored.c_str(), nullptr, 16)) << ignored;
    EXPECT_EQ(0u, strtoull(caught.c_str(), nullptr, 16) & Bit(SIGTERM)) << caught;
    EXPECT_EQ("\t0000000000000000\n", masked);
}
#endif

// --- The environment block ---------------------------------------------------

// The variables a child started with the block (NULL: the host's) sees.
static std::set<std::string> EnvironmentSeen(const char* block) {
    Capture capture;
    PROCESS_INFORMATION process;
    if (!StartWith(Self() + " --child environment", capture.handle, 0, &process, block))
        return {"not started: " + std::to_string(GetLastError())};
    WaitAndClose(process);
    std::vector<std::string> seen = Echoed(capture.Read());
    return std::set<std::string>(seen.begin(), seen.end());
}

// The strings of an environment block.
static std::set<std::string> BlockStrings(const char* block) {
    std::set<std::string> strings;
    for (const char* entry = block; *entry != '\0'; entry += strlen(entry) + 1)
        strings.insert(entry);
    return strings;
}

TEST(Process, ChildSeesExactlyTheEnvironmentBlock) {
    static const char Block[] = "EP_ONE=1\0EP_TWO=two words =\0EP_EMPTY=\0";
    std::set<std::string> seen = EnvironmentSeen(Block);
    std::set<std::string> expected = {"EP_ONE=1", "EP_TWO=two words =", "EP_EMPTY="};
#ifdef _WIN32
    // Wine adds variables of its own (SystemRoot, SystemDrive, WINE*),
    // which do not count here.
    for (auto at = seen.begin(); at != seen.end();) {
        bool wines = at->rfind("SystemRoot=", 0) == 0 || at->rfind("SystemDrive=", 0) == 0 ||
                     at->rfind("WINE", 0) == 0;
        at = wines ? seen.erase(at) : std::next(at);
    }
#endif
    EXPECT_EQ(expected, seen);
    // Without a block the child sees the host's own environment.
    LPCH own = GetEnvironmentStringsA();
    ASSERT_NE(nullptr, own);
    std::set<std::string> host = BlockStrings(own);
    EXPECT_TRUE(FreeEnvironmentStringsA(own));
    EXPECT_EQ(1u, host.count("EP_CHILD_ONLY=1")) << "the test's own variable";
    std::set<std::string> inherited = EnvironmentSeen(nullptr);
    EXPECT_TRUE(std::includes(inherited.begin(), inherited.end(), host.begin(), host.end()));
}

#ifndef _WIN32
TEST(Process, EnvironmentBlockLeavesTheProgramSearchToTheHostsPath) {
    std::string self = SelfPath();
    std::string dir = self.substr(0, self.rfind('/')), name = self.substr(self.rfind('/') + 1);
    std::string savedPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", ("/no/such/dir:" + dir).c_str(), 1);
    Capture capture;
    PROCESS_INFORMATION process;
    static const char Block[] = "PATH=/no/such/place\0";
    BOOL started = StartWith(name + " --child environment", capture.handle, 0, &process, Block);
    DWORD error = GetLastError();
    setenv("PATH", savedPath.c_str(), 1);
    ASSERT_TRUE(started) << error;
    WaitAndClose(process);
    EXPECT_EQ(std::vector<std::string>{"PATH=/no/such/place"}, Echoed(capture.Read()));
}

TEST(Process, EnvironmentTooLargeForTheLayerIsRefused) {
    // A block of more strings than the layer holds.
    std::string block;
    for (int i = 0; i < 1025; i++)
        block += "V" + std::to_string(i) + "=x" + std::string(1, '\0');
    block += '\0';
    EXPECT_EQ(std::set<std::string>{"not started: " + std::to_string(ERROR_NOT_ENOUGH_MEMORY)},
              EnvironmentSeen(block.data()));
    block.erase(0, block.find('\0') + 1); // 1024 of them are taken
    EXPECT_EQ(1024u, EnvironmentSeen(block.data()).size());
    // A host environment past the 65536 bytes of the layer's block.
    setenv("EP_HUGE", std::string(70000, 'h').c_str(), 1);
    SetLastError(0);
    EXPECT_EQ(nullptr, GetEnvironmentStringsA());
    EXPECT_EQ((DWORD)ERROR_NOT_ENOUGH_MEMORY, GetLastError());
    unsetenv("EP_HUGE");
    EXPECT_NE(nullptr, GetEnvironmentStringsA());
    char other[] = "A=1\0";
    EXPECT_FALSE(FreeEnvironmentStringsA(other));
}

// --- An exit status nobody can know -------------------------------------------

// A host that ignores SIGCHLD has the system reap its children: the wait
// still ends with the program, and its exit code is unknown rather than 0.
TEST(Process, ExitCodeOfAChildReapedByTheSystemIsUnknown) {
    void (*previous)(int) = signal(SIGCHLD, SIG_IGN);
    DWORD infinite = 0, finite = 0, code = 12345;
    BOOL gotInfinite = TRUE, gotFinite = TRUE;
    DWORD errorInfinite = 0, errorFinite = 0;
    Capture capture;
    PROCESS_INFORMATION process;
    if (Start(Self() + " --child exit 7", capture.handle, &process)) {
        infinite = WaitForSingleObject(process.hProcess, INFINITE);
        gotInfinite = GetExitCodeProcess(process.hProcess, &code);
        errorInfinite = GetLastError();
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    if (Start(Self() + " --child exit 0", capture.handle, &process)) {
        finite = WaitForSingleObject(process.hProcess, 10000);
        gotFinite = GetExitCodeProcess(process.hProcess, &code);
        errorFinite = GetLastError();
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    signal(SIGCHLD, previous);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, infinite);
    EXPECT_FALSE(gotInfinite);
    EXPECT_EQ((DWORD)ERROR_WAIT_NO_CHILDREN, errorInfinite);
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, finite);
    EXPECT_FALSE(gotFinite);
    EXPECT_EQ((DWORD)ERROR_WAIT_NO_CHILDREN, errorFinite);
    EXPECT_EQ(12345u, code) << "an exit code was made up";
    char text[128];
    ASSERT_NE(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                 ERROR_WAIT_NO_CHILDREN, 0, text, sizeof text, NULL));
    EXPECT_STREQ("There are no child processes to wait for.", text);
}

// --- A job holds the whole tree ------------------------------------------------

static bool Running(pid_t pid) {
    return !ProcessEndsWithin((unsigned long)pid, 0);
}

// The parent of a process, from /proc; 0 when it is gone.
static pid_t ParentOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t end = stat.rfind(')');
    char state = 0;
    int parent = 0;
    if (end == std::string::npos || sscanf(stat.c_str() + end + 1, " %c %d", &state, &parent) != 2)
        return 0;
    return (pid_t)parent;
}

static long long FileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (long long)info.st_size : -1;
}

// The ids the "escape" child wrote into its file, once it has.
static std::vector<pid_t> EscapedIds(const std::string& file, size_t count) {
    std::vector<pid_t> ids;
    for (int tries = 0; tries < 1000 && ids.size() != count; tries++) {
        ids.clear();
        std::ifstream in(file);
        for (long id; in >> id;)
            ids.push_back((pid_t)id);
        if (ids.size() != count)
            Sleep(10);
    }
    return ids;
}

// A job whose program's tree left its group every way it can: a child in a
// session of its own, one in a group of its own with a child that writes
// without end, and (with orphan) an orphan in a session of its own.
// TerminateJobObject ends all of them before it returns, with no polite
// signal first, and the program reports the code given.
static void EndEscapingTree(bool orphan) {
    TempDir dir("ep-job");
    std::string ids = dir.Join("ids");
    HANDLE job = CreateJobObjectA(NULL, NULL);
    ASSERT_NE(nullptr, job);
    Capture capture;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(StartWith(
        Self() + " --child escape 60000 " + ids + (orphan ? " orphan" : ""), capture.handle,
        NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP, &process));
    EXPECT_TRUE(AssignProcessToJobObject(job, process.hProcess));
    ResumeThread(process.hThread);
    std::vector<pid_t> tree = EscapedIds(ids, orphan ? 5 : 4);
    ASSERT_EQ(orphan ? 5u : 4u, tree.size()) << "the tree did not start";
    pid_t program = (pid_t)process.dwProcessId;
    EXPECT_EQ(tree[0], getsid(tree[0])) << "the first child has a session of its own";
    EXPECT_EQ(tree[1], getpgid(tree[1])) << "the second child has a group of its own";
    EXPECT_EQ(tree[1], getpgid(tree[2])) << "the writer is in the second child's group";
    EXPECT_EQ(program, getpgid(tree[3])) << "the third child stays in the program's group";
    if (orphan) {
        EXPECT_EQ(getpid(), ParentOf(tree[4])) << "this process adopted the orphan";
    }
    tree.push_back(program);
    for (int tries = 0; tries < 500 && FileSize(ids + ".data") <= 0; tries++)
        Sleep(10);
    ASSERT_GT(FileSize(ids + ".data"), 0) << "the writer does not write";

    EXPECT_TRUE(TerminateJobObject(job, 3));
    for (pid_t pid : tree)
        EXPECT_FALSE(Running(pid)) << pid << " still runs after TerminateJobObject returned";
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 0));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &code));
    EXPECT_EQ(3u, code);
    long long size = FileSize(ids + ".data");
    Sleep(50);
    EXPECT_EQ(size, FileSize(ids + ".data")) << "the file still grows";
    EXPECT_FALSE(FileExists(ids + ".term")) << "a process of the job was asked to end politely";
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(job);
}

TEST(Process, TerminatedJobEndsWhatLeftTheGroupAtOnce) {
    EndEscapingTree(false);
}

// Where the host is a child subreaper, orphans come to it instead of to
// init, and the job finds and ends them too.
TEST(Process, TerminatedJobOfASubreaperEndsTheOrphansItAdopted) {
    ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0));
    EndEscapingTree(true);
    prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
    while (waitpid(-1, nullptr, WNOHANG) > 0) { // the orphans, now ended
    }
}

static std::string NoProcIds;

// Ends an escaping tree's job where /proc cannot be read; 0, or the step
// that failed.
static int EndJobWithoutProc() {
    HANDLE job = CreateJobObjectA(NULL, NULL);
    Capture capture;
    PROCESS_INFORMATION process;
    if (!StartWith(Self() + " --child escape 60000 " + NoProcIds, capture.handle,
                   NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP, &process))
        return 1;
    if (!AssignProcessToJobObject(job, process.hProcess))
        return 2;
    ResumeThread(process.hThread);
    for (int tries = 0; tries < 1000 && !FileExists(NoProcIds); tries++)
        Sleep(10);
    if (!TerminateJobObject(job, 3))
        return 3;
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
        return 4;
    DWORD code = 0;
    return GetExitCodeProcess(process.hProcess, &code) && code == 3 ? 0 : 5;
}

// Without /proc the job's process group is all that can be found: it is
// ended at once, program and all; what left the group is out of reach.
TEST(Process, TerminatedJobWithoutProcEndsTheProgramsGroup) {
#ifdef __SANITIZE_ADDRESS__
    if (getenv("EP_VFORK_IS_FORK") != nullptr)
        GTEST_SKIP() << "AddressSanitizer reads its options in /proc: without it, a preloaded "
                        "library stops its start";
#endif
    TempDir dir("ep-job");
    NoProcIds = dir.Join("ids");
    int status = WithoutProc(EndJobWithoutProc);
    if (status == 77)
        GTEST_SKIP() << "no mount namespace of its own can be made here (needs root)";
    EXPECT_EQ(0, status);
    std::vector<pid_t> tree = EscapedIds(NoProcIds, 4);
    ASSERT_EQ(4u, tree.size());
    EXPECT_TRUE(ProcessEndsWithin((unsigned long)tree[3], 5000)) << "the group's member";
    // Those that left the group got away.
    kill(tree[0], SIGKILL);
    kill(-tree[1], SIGKILL);
}

// --- The terminal for a program in a group of its own -------------------------

// Runs body in a child that leads a session on a new pseudo-terminal (its
// controlling terminal, in the foreground); once the terminal shows
// "ready", types what is given there. The child's exit status.
static int InTerminal(int (*body)(), const std::string& typed, std::string* screen) {
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0)
        _exit(body());
    if (pid < 0)
        return -1;
    std::string seen;
    bool sent = false;
    for (int waited = 0; waited < 20000;) {
        struct pollfd watch = {master, POLLIN, 0};
        if (poll(&watch, 1, 50) <= 0) {
            waited += 50;
            siginfo_t info = {};
            if (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
                info.si_pid != 0)
                break; // it has ended
            continue;
        }
        char chunk[256];
        ssize_t n = read(master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        seen.append(chunk, (size_t)n);
        if (!sent && seen.find("ready") != std::string::npos) {
            sent = write(master, typed.data(), typed.size()) == (ssize_t)typed.size();
        }
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    close(master);
    *screen = seen;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

static volatile sig_atomic_t InterruptsSeen;
static void SeeInterrupt(int) {
    InterruptsSeen = InterruptsSeen + 1;
}

// Starts read-tty in a group of its own from the terminal's foreground and
// waits for it (10 s at most): 0 when it read the line, 10 + its own exit
// code otherwise (a stopped program times out: 99); 20 when the terminal is
// not this process's group's again after the wait, 30 when the program's
// exit code differs from *expected (when set), 40 and up when this process
// saw a number of interrupts other than expected.
static DWORD ExpectedCode;
static int ExpectedInterrupts;
static int ReadTerminalInOwnGroup() {
    InterruptsSeen = 0;
    Capture capture;
    PROCESS_INFORMATION process;
    if (!StartWith(Self() + " --child read-tty", capture.handle,
                   NORMAL_PRIORITY_CLASS | CREATE_NEW_PROCESS_GROUP, &process))
        return 1;
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        return 99;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    if (tcgetpgrp(0) != getpgrp())
        return 20;
    if (code != ExpectedCode)
        return 30;
    if (InterruptsSeen != ExpectedInterrupts)
        return 40 + InterruptsSeen;
    if (code == 0 && capture.Read() != "read:typed line\n")
        return 50;
    return 0;
}

TEST(Process, ProgramInAGroupOfItsOwnGetsTheTerminalForItsRun) {
    ExpectedCode = 0;
    ExpectedInterrupts = 0;
    std::string screen;
    EXPECT_EQ(0, InTerminal(ReadTerminalInOwnGroup, "typed line\n", &screen)) << screen;
}

// The terminal's Ctrl-C reaches the program's group alone; when it ended
// the program, the host is sent it too once the terminal is back.
static int CatchInterruptAndRead() {
    signal(SIGINT, SeeInterrupt);
    return ReadTerminalInOwnGroup();
}
static int IgnoreInterruptAndRead() {
    signal(SIGINT, SIG_IGN);
    return ReadTerminalInOwnGroup();
}

TEST(Process, CtrlCThatEndedTheProgramIsPassedToTheHost) {
    ExpectedCode = 0xE0000100u + SIGINT;
    ExpectedInterrupts = 1;
    std::string screen;
    EXPECT_EQ(0, InTerminal(CatchInterruptAndRead, "\x03", &screen)) << screen;
    // A host that ignores it goes on as if nothing happened.
    ExpectedInterrupts = 0;
    EXPECT_EQ(0, InTerminal(IgnoreInterruptAndRead, "\x03", &screen)) << screen;
}
#endif
