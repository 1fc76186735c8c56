// Starting a program and waiting for it, as the run does: what counts as a
// failure to start, what the child gets on its standard handles, and how the
// wait behaves. The exact error numbers and the descriptor and signal checks
// are the Linux layer's; the rest holds on every target.
#include "cmdline_run.h"
#include "support/test_system.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

// Starts the line expecting a failure; returns the error, 0 if it started.
static DWORD StartError(const std::string& line) {
    Capture capture;
    PROCESS_INFORMATION process;
    if (!Start(line, capture.handle, &process))
        return GetLastError();
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
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

// Starts the line with the given creation flags; the handles in *process.
static BOOL StartWith(const std::string& line, HANDLE output, DWORD flags,
                      PROCESS_INFORMATION* process) {
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    return CreateProcessA(NULL, text.data(), NULL, NULL, TRUE, NORMAL_PRIORITY_CLASS | flags, NULL,
                          NULL, &startup, process);
}

static DWORD ExitCodeOf(const std::string& line) {
    Capture capture;
    PROCESS_INFORMATION process;
    if (!Start(line, capture.handle, &process))
        return (DWORD)-1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = (DWORD)-2;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
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
                          CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP, &process));
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
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
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
