// Child modes of the test programs:
//   echo-args ARGS...   writes each argument as "<length>:<bytes>\n"
//   cat FILE            copies FILE to standard output, byte for byte
//   write N             writes N bytes of a repeating pattern
//   exit CODE           writes nothing and exits with CODE
//   stdin               reads standard input to its end, writes "eof <bytes>"
//   stderr TEXT         writes TEXT to standard error and "out" to standard output
//   cwd                 writes the current directory
//   kill                ends itself abruptly (SIGKILL on Linux)
//   fds                 writes the open descriptors above 2 (Linux only)
//   mark FILE ARGS...   creates FILE holding "ran", then echoes ARGS as echo-args
//   sleep MS            sleeps MS milliseconds, then writes "slept"
//   tree MS [FILE]      starts "sleep MS" as a child of its own, writes that
//                       child's process id and a line feed (and into FILE its
//                       own id and the child's), then sleeps MS
//   nul                 writes "ab", a NUL byte and "cd"
//   noise N CODE        writes N times "e" to standard error, exits with CODE
//   list DIR            writes the names in DIR, one per line
//   stderr-exit CODE TEXT  writes "out" to standard output and TEXT to
//                       standard error, then exits with CODE
//   ignore-interrupt MS ignores Ctrl-C (SIGINT on Linux), then sleeps MS
//                       milliseconds and writes "slept"
//   crash               writes "partial" and then dereferences a null pointer
//   rewrite FILE TEXT   writes TEXT to a new file and puts it in FILE's place,
//                       as programs that edit a file in place do; writes
//                       nothing to standard output
//   fill FILE N         overwrites FILE with N bytes of the pattern; writes
//                       nothing to standard output
//   fill-nul FILE       overwrites FILE with "ab", a NUL byte and "cd"
//   env NAME...         writes "NAME=value" or "NAME unset" for each, a line each;
//                       the value as it is in the environment (on Windows in
//                       UTF-8, from the wide environment)
//   flood               writes to standard output until it is ended
//   flood-errors        writes to standard error until it is ended
//   stderr-utf16 CODE TEXT  writes TEXT (ASCII) to standard error as UTF-16LE,
//                       then exits with CODE
//   environment         writes each variable of its environment ("NAME=value")
//                       as echo-args writes an argument
//   escape MS FILE [orphan]  (Linux only) starts a process tree that leaves
//                       its process group: a child in a session of its own,
//                       a child in a group of its own whose own child writes
//                       to FILE.data without end, a child that stays, and
//                       with "orphan" a grandchild in a session of its own
//                       whose parent has ended; writes the ids of the first
//                       child, the second, the writer, the third (and the
//                       orphan) into FILE, then
//                       sleeps MS. Every process of the tree that gets
//                       SIGTERM creates FILE.term and ends
//   read-tty            (Linux only) with Ctrl-C at its default, writes
//                       "ready" and a line feed to /dev/tty, reads a line
//                       there and writes "read:" and the line
//   pause MS ARGS...    sleeps MS milliseconds whatever else its command line
//                       holds (as a real program's options), writes "slept"
//   console-tree MS FILE  (Windows only) as "tree MS FILE", and after a
//                       second and a half (the progress window shows by
//                       then) writes into FILE.console whether its console's
//                       window is "enabled", "disabled", or "none"
//   speak SET FORM FILE reads FILE as text in SET (ANSI, OEM, UTF-8 or a code
//                       page number; exit code 3 when it is not valid there)
//                       and writes it back in the FORM a program of each
//                       kind writes: "plain" in SET, "bom" in UTF-8 behind a
//                       byte order mark, "utf16" in UTF-16LE behind its mark,
//                       "lf" in SET with LF line ends, "crcrlf" in SET with
//                       each LF written as CR LF, as a C runtime in text
//                       mode writes it
#include "child.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "support/test_system.h"
#include "support/text_codes.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include "support/posix_process.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ; // NOLINT(readability-redundant-declaration)
#endif

static std::string Self;

const char* SelfPath() {
    return Self.c_str();
}

static void Put(const char* bytes, size_t length) {
    fwrite(bytes, 1, length, stdout);
}

static int EchoArgs(int count, char** args) {
    for (int i = 0; i < count; i++) {
        printf("%zu:", strlen(args[i]));
        Put(args[i], strlen(args[i]));
        Put("\n", 1);
    }
    return 0;
}

static int Cat(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return 3;
    char buffer[8192];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        Put(buffer, n);
    fclose(file);
    return 0;
}

static int WriteBytes(long count) {
    char buffer[4096];
    for (size_t i = 0; i < sizeof buffer; i++)
        buffer[i] = (char)('a' + i % 26);
    while (count > 0) {
        size_t chunk = count < (long)sizeof buffer ? (size_t)count : sizeof buffer;
        Put(buffer, chunk);
        count -= (long)chunk;
    }
    return 0;
}

static int ReadStdin() {
    char buffer[4096];
    size_t total = 0;
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, stdin)) > 0)
        total += n;
    printf("eof %zu", total);
    return 0;
}

static int Cwd() {
    std::string path = CurrentDir();
    if (path.empty())
        return 3;
    Put(path.data(), path.size());
    return 0;
}

static int KillSelf() {
    Put("partial", 7);
    fflush(stdout);
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), 9);
#else
    raise(SIGKILL);
#endif
    return 0;
}

static int OpenDescriptors() {
#ifdef _WIN32
    return 0;
#else
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return 3;
    int own = dirfd(dir);
    while (struct dirent* entry = readdir(dir)) {
        int fd = atoi(entry->d_name);
        if (entry->d_name[0] != '.' && fd > 2 && fd != own)
            printf("%d ", fd);
    }
    closedir(dir);
    return 0;
#endif
}

static int ListDirectory(const char* path) {
    if (!FileExists(path))
        return 3;
    for (const std::string& name : ListDir(path))
        printf("%s\n", name.c_str());
    return 0;
}

static int SleepFor(long milliseconds) {
#ifdef _WIN32
    Sleep((DWORD)milliseconds);
#else
    struct timespec rest = {milliseconds / 1000, milliseconds % 1000 * 1000000};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
#endif
    Put("slept", 5);
    return 0;
}

static void IgnoreInterrupt() {
#ifdef _WIN32
    SetConsoleCtrlHandler(nullptr, TRUE);
#else
    signal(SIGINT, SIG_IGN);
#endif
}

// Starts "SELF --child sleep MS" and writes its process id, and into the
// file, when one is named, this process's id and then the child's; 0 or 3.
static int StartSleeper(const char* milliseconds, const char* pidFile) {
    unsigned long self = 0, child = 0;
#ifdef _WIN32
    std::string line = "\"" + Self + "\" --child sleep " + milliseconds;
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 3;
    self = GetCurrentProcessId();
    child = process.dwProcessId;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
#else
    pid_t pid = fork();
    if (pid == 0) {
        execl(Self.c_str(), Self.c_str(), "--child", "sleep", milliseconds, (char*)nullptr);
        _exit(127);
    }
    if (pid < 0)
        return 3;
    self = (unsigned long)getpid();
    child = (unsigned long)pid;
#endif
    printf("%lu\n", child);
    fflush(stdout);
    if (pidFile != nullptr) {
        FILE* file = fopen(pidFile, "wb");
        if (file == nullptr)
            return 3;
        fprintf(file, "%lu %lu\n", self, child);
        fclose(file);
    }
    return 0;
}

#ifdef _WIN32
// No debugger or crash dialog waits for a user here: the process ends with
// the exception's code as its exit code. (A function of its own, since a
// lambda would not have the 32-bit filter's calling convention.)
static LONG WINAPI EndWithTheException(EXCEPTION_POINTERS*) {
    return EXCEPTION_EXECUTE_HANDLER;
}
#endif

static int Crash() {
    Put("partial", 7);
    fflush(stdout);
#ifdef _WIN32
    SetUnhandledExceptionFilter(EndWithTheException);
    volatile int* nowhere = nullptr;
    // The crash is the point.
    // cppcheck-suppress nullPointer
    *nowhere = 1;
#else
    // SIGSEGV as a bad access raises it; a store through a null pointer
    // would be turned into an exit code by the sanitizers' own handlers.
    signal(SIGSEGV, SIG_DFL);
    raise(SIGSEGV);
#endif
    return 0;
}

static bool WriteFileBytes(const char* path, const char* bytes, size_t length) {
    FILE* file = fopen(path, "wb");
    if (file == nullptr)
        return false;
    bool written = fwrite(bytes, 1, length, file) == length;
    return fclose(file) == 0 && written;
}

#ifdef _WIN32
// After a second and a half, writes into FILE.console the state of the
// console window: the console host's, which no window of the host's run
// may disable.
static int WriteConsoleState(const char* file) {
    Sleep(1500);
    HWND console = GetConsoleWindow();
    const char* state = console == nullptr         ? "none"
                        : IsWindowEnabled(console) ? "enabled"
                                                   : "disabled";
    return WriteFileBytes((std::string(file) + ".console").c_str(), state, strlen(state)) ? 0 : 3;
}
#endif

// A new file beside the old one, then put in its place.
static int Rewrite(const char* path, const char* text) {
    std::string temporary = std::string(path) + ".new";
    if (!WriteFileBytes(temporary.c_str(), text, strlen(text)))
        return 3;
    remove(path);
    return rename(temporary.c_str(), path) == 0 ? 0 : 3;
}

static int Fill(const char* path, long count) {
    std::string bytes;
    for (long i = 0; i < count; i++)
        bytes += (char)('a' + i % 26);
    return WriteFileBytes(path, bytes.data(), bytes.size()) ? 0 : 3;
}

static int ShowEnvironment(int count, char** names) {
    for (int i = 0; i < count; i++) {
        std::string value;
        if (!ReadVariable(names[i], value))
            printf("%s unset\n", names[i]);
        else
            printf("%s=%s\n", names[i], value.c_str());
    }
    return 0;
}

// Writes until a write fails or the process is ended.
static int Flood(FILE* stream) {
    char line[4096];
    memset(line, 'y', sizeof line);
    while (fwrite(line, 1, sizeof line, stream) == sizeof line) {
    }
    return 3;
}

static int Utf16Errors(const char* text, int code) {
    for (const char* p = text; *p != '\0'; p++) {
        fputc(*p, stderr);
        fputc('\0', stderr);
    }
    return code;
}

// Writes each variable of the environment as "<length>:<bytes>\n".
static int EchoEnvironment() {
#ifdef _WIN32
    char* block = GetEnvironmentStringsA();
    if (block == nullptr)
        return 3;
    for (char* entry = block; *entry != '\0'; entry += strlen(entry) + 1)
        EchoArgs(1, &entry);
    FreeEnvironmentStringsA(block);
#else
    for (char** entry = environ; *entry != nullptr; entry++)
        EchoArgs(1, entry);
#endif
    return 0;
}

// Reads a file as text in a set and writes it back as a program of the
// given kind writes it.
static int Speak(const char* set, const char* form, const char* path) {
    std::string given, utf8, out;
    if (!ReadBytes(path, given) || !Recode(given, set, "UTF-8", utf8))
        return 3;
    std::string kind = form;
    if (kind == "lf" || kind == "crcrlf") {
        std::string changed;
        for (char c : utf8) {
            if (kind == "lf" && c == '\r')
                continue;
            if (kind == "crcrlf" && c == '\n')
                changed += '\r';
            changed += c;
        }
        utf8 = changed;
    }
    bool ok = kind == "bom"     ? Recode(utf8, "UTF-8", "UTF-8", out)
              : kind == "utf16" ? Recode(utf8, "UTF-8", "UTF-16LE", out)
                                : Recode(utf8, "UTF-8", set, out);
    if (!ok)
        return 3;
    if (kind == "bom")
        Put("\xEF\xBB\xBF", 3);
    else if (kind == "utf16")
        Put("\xFF\xFE", 2);
    Put(out.data(), out.size());
    return 0;
}

#ifndef _WIN32
// Sleeps without writing until the time has passed or a signal ends it.
static void Linger(long milliseconds) {
    struct timespec rest = {milliseconds / 1000, milliseconds % 1000 * 1000000};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

// Where a process of the escaping tree notes that SIGTERM reached it.
static std::string TermMark;

static void MarkTerm(int number) {
    (void)number;
    int fd = open(TermMark.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0)
        close(fd);
    _exit(0);
}

// Writes to fd without end, starting again from the front past a megabyte.
[[noreturn]] static void WriteForever(int fd) {
    char block[4096];
    memset(block, 'x', sizeof block);
    for (;;) {
        if (write(fd, block, sizeof block) < 0)
            _exit(3);
        if (lseek(fd, 0, SEEK_CUR) > (1 << 20) &&
            (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0))
            _exit(3);
        Linger(1);
    }
}

// Starts a child (its id in *child) that runs body, which starts a child
// of its own and writes that one's id to report; returns that id, or -1.
static pid_t StartReporter(void (*body)(int report, long milliseconds), long milliseconds,
                           pid_t* child) {
    std::vector<pid_t> reported;
    *child = StartReporting([=](int report) { body(report, milliseconds); }, 1, &reported);
    return *child > 0 && reported[0] > 0 ? reported[0] : -1;
}

static int EscapeData = -1;

// In a group of its own, starts the endless writer and stays.
static void GroupOfItsOwn(int report, long milliseconds) {
    setpgid(0, 0);
    pid_t writer = fork();
    if (writer == 0)
        WriteForever(EscapeData);
    Report(report, writer);
    Linger(milliseconds);
}

// Starts a child in a session of its own and ends at once, leaving it an
// orphan.
static void LeaveAnOrphan(int report, long milliseconds) {
    pid_t orphan = fork();
    if (orphan == 0) {
        setsid();
        Linger(milliseconds);
        _exit(0);
    }
    Report(report, orphan);
}

static int StartEscapes(long milliseconds, const char* file, bool orphan) {
    TermMark = std::string(file) + ".term";
    signal(SIGTERM, MarkTerm);
    EscapeData =
        open((std::string(file) + ".data").c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    if (EscapeData < 0)
        return 3;
    pid_t session = fork();
    if (session == 0) {
        setsid();
        Linger(milliseconds);
        _exit(0);
    }
    pid_t group = -1;
    pid_t writer = StartReporter(GroupOfItsOwn, milliseconds, &group);
    pid_t stays = fork();
    if (stays == 0) {
        Linger(milliseconds);
        _exit(0);
    }
    std::string ids = std::to_string(session) + " " + std::to_string(group) + " " +
                      std::to_string(writer) + " " + std::to_string(stays);
    if (orphan) {
        pid_t parent = -1;
        pid_t left = StartReporter(LeaveAnOrphan, milliseconds, &parent);
        if (parent > 0)
            waitpid(parent, nullptr, 0);
        ids += " " + std::to_string(left);
    }
    std::string fresh = std::string(file) + ".new";
    FILE* out = fopen(fresh.c_str(), "wb");
    if (out == nullptr || session < 0 || group < 0 || writer < 0 || stays < 0)
        return 3;
    fprintf(out, "%s\n", ids.c_str());
    fclose(out);
    rename(fresh.c_str(), file);
    Linger(milliseconds);
    return 0;
}

static int ReadTerminal() {
    signal(SIGINT, SIG_DFL);
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0)
        return 3;
    char line[256];
    ssize_t n = write(tty, "ready\n", 6) == 6 ? read(tty, line, sizeof line) : -1;
    close(tty);
    if (n < 0)
        return 4;
    Put("read:", 5);
    Put(line, (size_t)n);
    return 0;
}
#endif

int RunChildMode(int argc, char** argv) {
    Self = argv[0];
#ifdef _WIN32
    char path[MAX_PATH];
    if (GetModuleFileNameA(nullptr, path, MAX_PATH) > 0)
        Self = path;
#else
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0)
        Self.assign(path, (size_t)n);
#endif
    // A copy of the test program that stands for a real program (in a
    // screenshot) has a command line of that program's: its mode and the
    // mode's arguments come from EP_CHILD_MODE, blank-separated, instead.
    static std::string Given;
    static char* Words[16];
    const char* given = getenv("EP_CHILD_MODE");
    if ((argc < 2 || strcmp(argv[1], "--child") != 0) && given != nullptr) {
        Given = given;
        Words[0] = argv[0];
        Words[1] = const_cast<char*>("--child");
        argc = 2;
        for (size_t at = 0; at < Given.size() && argc < 16;) {
            size_t end = Given.find(' ', at);
            if (end == std::string::npos)
                end = Given.size();
            else
                Given[end] = '\0';
            if (end > at)
                Words[argc++] = &Given[at];
            at = end + 1;
        }
        argv = Words;
    }
    if (argc < 3 || strcmp(argv[1], "--child") != 0)
        return -1;
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    const char* mode = argv[2];
    int count = argc - 3;
    char** args = argv + 3;
    int code = 2;
    if (strcmp(mode, "echo-args") == 0)
        code = EchoArgs(count, args);
    else if (strcmp(mode, "cat") == 0 && count == 1)
        code = Cat(args[0]);
    else if (strcmp(mode, "write") == 0 && count == 1)
        code = WriteBytes(atol(args[0]));
    else if (strcmp(mode, "exit") == 0 && count == 1)
        code = atoi(args[0]);
    else if (strcmp(mode, "stdin") == 0)
        code = ReadStdin();
    else if (strcmp(mode, "stderr") == 0 && count == 1) {
        fputs(args[0], stderr);
        Put("out", 3);
        code = 0;
    } else if (strcmp(mode, "cwd") == 0)
        code = Cwd();
    else if (strcmp(mode, "kill") == 0)
        code = KillSelf();
    else if (strcmp(mode, "fds") == 0)
        code = OpenDescriptors();
    else if (strcmp(mode, "mark") == 0 && count >= 1) {
        FILE* mark = fopen(args[0], "wb");
        if (mark != nullptr) {
            fputs("ran", mark);
            fclose(mark);
        }
        code = EchoArgs(count - 1, args + 1);
    } else if ((strcmp(mode, "sleep") == 0 && count == 1) ||
               (strcmp(mode, "pause") == 0 && count >= 1))
        code = SleepFor(atol(args[0]));
    else if (strcmp(mode, "tree") == 0 && (count == 1 || count == 2)) {
        code = StartSleeper(args[0], count == 2 ? args[1] : nullptr);
        if (code == 0)
            code = SleepFor(atol(args[0]));
    } else if (strcmp(mode, "ignore-interrupt") == 0 && count == 1) {
        IgnoreInterrupt();
        code = SleepFor(atol(args[0]));
    } else if (strcmp(mode, "noise") == 0 && count == 2) {
        for (long i = atol(args[0]); i > 0; i--)
            fputc('e', stderr);
        code = atoi(args[1]);
    } else if (strcmp(mode, "nul") == 0) {
        Put("ab\0cd", 5);
        code = 0;
    } else if (strcmp(mode, "list") == 0 && count == 1) {
        code = ListDirectory(args[0]);
    } else if (strcmp(mode, "stderr-exit") == 0 && count == 2) {
        fputs(args[1], stderr);
        Put("out", 3);
        code = atoi(args[0]);
    } else if (strcmp(mode, "crash") == 0) {
        code = Crash();
    } else if (strcmp(mode, "rewrite") == 0 && count == 2) {
        code = Rewrite(args[0], args[1]);
    } else if (strcmp(mode, "fill") == 0 && count == 2) {
        code = Fill(args[0], atol(args[1]));
    } else if (strcmp(mode, "fill-nul") == 0 && count == 1) {
        code = WriteFileBytes(args[0], "ab\0cd", 5) ? 0 : 3;
    } else if (strcmp(mode, "env") == 0) {
        code = ShowEnvironment(count, args);
    } else if (strcmp(mode, "flood") == 0) {
        code = Flood(stdout);
    } else if (strcmp(mode, "flood-errors") == 0) {
        code = Flood(stderr);
    } else if (strcmp(mode, "stderr-utf16") == 0 && count == 2) {
        code = Utf16Errors(args[1], atoi(args[0]));
    } else if (strcmp(mode, "environment") == 0) {
        code = EchoEnvironment();
    } else if (strcmp(mode, "speak") == 0 && count == 3) {
        code = Speak(args[0], args[1], args[2]);
    }
#ifdef _WIN32
    else if (strcmp(mode, "console-tree") == 0 && count == 2) {
        code = StartSleeper(args[0], args[1]);
        if (code == 0)
            code = WriteConsoleState(args[1]);
        if (code == 0)
            code = SleepFor(atol(args[0]));
    }
#else
    else if (strcmp(mode, "escape") == 0 && (count == 2 || count == 3)) {
        code = StartEscapes(atol(args[0]), args[1], count == 3);
    } else if (strcmp(mode, "read-tty") == 0) {
        code = ReadTerminal();
    }
#endif
    fflush(stdout);
    return code;
}
