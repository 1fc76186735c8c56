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
//   env NAME...         writes "NAME=value" or "NAME unset" for each, a line each
//   flood               writes to standard output until it is ended
//   flood-errors        writes to standard error until it is ended
//   stderr-utf16 CODE TEXT  writes TEXT (ASCII) to standard error as UTF-16LE,
//                       then exits with CODE
//   pause MS ARGS...    sleeps MS milliseconds whatever else its command line
//                       holds (as a real program's options), writes "slept"
#include "child.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
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
    char buffer[4096];
#ifdef _WIN32
    if (_getcwd(buffer, sizeof buffer) == nullptr)
        return 3;
#else
    if (getcwd(buffer, sizeof buffer) == nullptr)
        return 3;
#endif
    Put(buffer, strlen(buffer));
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
#ifdef _WIN32
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(path) + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 3;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            printf("%s\n", found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
#else
    DIR* dir = opendir(path);
    if (dir == nullptr)
        return 3;
    while (struct dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            printf("%s\n", entry->d_name);
    }
    closedir(dir);
#endif
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
#endif
    volatile int* nowhere = nullptr;
    // The crash is the point.
    // cppcheck-suppress nullPointer
    *nowhere = 1;
    return 0;
}

static bool WriteFileBytes(const char* path, const char* bytes, size_t length) {
    FILE* file = fopen(path, "wb");
    if (file == nullptr)
        return false;
    bool written = fwrite(bytes, 1, length, file) == length;
    return fclose(file) == 0 && written;
}

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
        const char* value = getenv(names[i]);
        if (value == nullptr)
            printf("%s unset\n", names[i]);
        else
            printf("%s=%s\n", names[i], value);
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
    }
    fflush(stdout);
    return code;
}
