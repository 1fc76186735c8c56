// Files as the run opens them: CREATE_ALWAYS creates a missing file and
// empties one that has content, so the input file never keeps bytes of an
// earlier text.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#ifndef _WIN32
#include "support/posix_process.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <functional>
#include <vector>
#endif

// A new, empty file in the temporary directory, removed at the end.
struct TempFile {
    char path[MAX_PATH];
    TempFile() {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "epf", 0, path);
    }
    ~TempFile() {
        DeleteFileA(path);
    }
    // One owner of the file: a copy would remove it twice.
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
};

static HANDLE CreateAlways(const char* path) {
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
}

static bool WriteText(HANDLE file, const char* text) {
    DWORD written = 0;
    return WriteFile(file, text, (DWORD)strlen(text), &written, NULL) &&
           written == (DWORD)strlen(text);
}

// The whole file from its start.
static std::string ReadFromStart(HANDLE file) {
    char bytes[256];
    DWORD read = 0;
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) != 0 ||
        !ReadFile(file, bytes, sizeof bytes, &read, NULL))
        return "(read failed)";
    return std::string(bytes, read);
}

TEST(Files, CreateAlwaysEmptiesAFileWithContent) {
    TempFile temp;
    HANDLE file = CreateAlways(temp.path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    ASSERT_TRUE(WriteText(file, "a first text, longer than the second"));
    CloseHandle(file);

    file = CreateAlways(temp.path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(0u, SetFilePointer(file, 0, NULL, FILE_END)) << "old bytes are left";
    ASSERT_TRUE(WriteText(file, "second"));
    EXPECT_EQ("second", ReadFromStart(file));
    CloseHandle(file);
}

TEST(Files, CreateAlwaysCreatesAMissingFileAndKeepsAnEmptyOneEmpty) {
    TempFile temp;
    HANDLE file = CreateAlways(temp.path); // GetTempFileNameA made it, empty
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ("", ReadFromStart(file));
    CloseHandle(file);

    ASSERT_TRUE(DeleteFileA(temp.path));
    file = CreateAlways(temp.path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    ASSERT_TRUE(WriteText(file, "new"));
    EXPECT_EQ("new", ReadFromStart(file));
    CloseHandle(file);
}

// The system's words for an error code: what a box shows under "Error code=N".
// A file's handle closes its file once; closed, it is no handle any more,
// nor is a value that was never one.
TEST(Files, CloseHandleClosesTheFileOnceAndRefusesOtherValues) {
    TempFile temp;
#ifndef _WIN32
    int before = CountOpenDescriptors();
#endif
    HANDLE file = CreateAlways(temp.path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteText(file, "abc"));
    EXPECT_TRUE(CloseHandle(file));
#ifndef _WIN32
    EXPECT_EQ(CountOpenDescriptors(), before) << "the descriptor was not closed";
#endif
    SetLastError(0);
    // The second close is the point: it must be refused.
    // cppcheck-suppress doubleFree
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle((HANDLE)(uintptr_t)0x7FFC));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    // The file was closed whole: a new handle reads what was written.
    HANDLE again = CreateFileA(temp.path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadFromStart(again), "abc");
    EXPECT_TRUE(CloseHandle(again));
}

TEST(Files, FormatMessageDescribesKnownCodesAndRefusesUnknownOnes) {
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    for (DWORD code : {(DWORD)ERROR_FILE_NOT_FOUND, (DWORD)ERROR_ACCESS_DENIED,
                       (DWORD)ERROR_DIRECTORY, (DWORD)ERROR_DISK_FULL}) {
        char text[256];
        memset(text, 0x7F, sizeof text);
        DWORD length = FormatMessageA(flags, NULL, code, 0, text, sizeof text, NULL);
        EXPECT_LT(0u, length) << code;
        EXPECT_EQ(length, strlen(text)) << code;
        // A buffer too small is refused, not filled with a cut text.
        char small[4];
        EXPECT_EQ(0u, FormatMessageA(flags, NULL, code, 0, small, sizeof small, NULL));
    }
    char text[256];
    EXPECT_EQ(0u, FormatMessageA(flags, NULL, 0x3FFF1234u, 0, text, sizeof text, NULL));
}

// The codes GetLastError gives are those of Windows.
TEST(Files, FailuresGiveTheWindowsErrorCodes) {
    char dir[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string missing = std::string(dir) + "ep-no-such-dir";
    EXPECT_EQ(0u, GetTempFileNameA(missing.c_str(), "se", 0, name));
    EXPECT_EQ((DWORD)ERROR_DIRECTORY, GetLastError());
    std::string inside = missing + (dir[strlen(dir) - 1] == '/' ? "/x" : "\\x");
    TempFile temp;
    // Each must fail with the code Windows gives: a missing directory on the
    // way, an existing file for CREATE_NEW, a directory.
    const struct {
        const char* path;
        DWORD disposition;
        DWORD error;
    } cases[] = {{inside.c_str(), CREATE_NEW, ERROR_PATH_NOT_FOUND},
                 {temp.path, CREATE_NEW, ERROR_FILE_EXISTS},
                 {dir, CREATE_ALWAYS, ERROR_ACCESS_DENIED}};
    for (const auto& c : cases) {
        HANDLE file =
            CreateFileA(c.path, GENERIC_WRITE, 0, NULL, c.disposition, FILE_ATTRIBUTE_NORMAL, NULL);
        DWORD error = GetLastError();
        EXPECT_EQ(INVALID_HANDLE_VALUE, file) << c.path;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        EXPECT_EQ(c.error, error) << c.path;
    }
}

#ifndef _WIN32

// Opening path with each access and disposition that may open an existing
// file is refused with ERROR_ACCESS_DENIED: the failing case's number, or 0.
static int RefusedEveryWay(const std::string& path) {
    const DWORD accesses[] = {GENERIC_READ, GENERIC_WRITE, GENERIC_READ | GENERIC_WRITE};
    const DWORD dispositions[] = {OPEN_EXISTING, OPEN_ALWAYS, CREATE_ALWAYS};
    int number = 0;
    for (DWORD access : accesses) {
        for (DWORD disposition : dispositions) {
            number++;
            HANDLE file = CreateFileA(path.c_str(), access, 0, NULL, disposition, 0, NULL);
            if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED)
                return number;
        }
    }
    return 0;
}

// The file status flags of this process's descriptor for path, or -1.
static long StatusFlagsOf(const std::string& path) {
    DIR* dir = opendir("/proc/self/fd");
    long flags = -1;
    for (struct dirent* entry; dir != nullptr && (entry = readdir(dir)) != nullptr;) {
        char link[4096];
        std::string fd = std::string("/proc/self/fd/") + entry->d_name;
        ssize_t n = readlink(fd.c_str(), link, sizeof link - 1);
        if (n <= 0 || std::string(link, (size_t)n) != path)
            continue;
        FILE* info = fopen((std::string("/proc/self/fdinfo/") + entry->d_name).c_str(), "r");
        char line[256];
        unsigned long value;
        while (info != nullptr && fgets(line, sizeof line, info) != nullptr)
            if (sscanf(line, "flags: %lo", &value) == 1)
                flags = (long)value;
        if (info != nullptr)
            fclose(info);
    }
    if (dir != nullptr)
        closedir(dir);
    return flags;
}

// Anything but a regular file is refused at once, also where opening it
// would wait: a FIFO with nobody at its other end (for reading, a writer;
// for writing, a reader), one whose ends are held open (nothing is written
// to it), a device. A run finds out so why a settings file cannot be read.
TEST(FilesSpecial, CreateFileRefusesFifosAndDevicesWithoutWaiting) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    std::string fifo = std::string(dir) + "ep-files-fifo-" + std::to_string(getpid());
    std::string device = fifo + "-device";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(InChildWithoutWaiting([&] { return RefusedEveryWay(fifo); }), 0);
    int ends = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(ends, 0);
    EXPECT_EQ(InChildWithoutWaiting([&] { return RefusedEveryWay(fifo); }), 0);
    char byte;
    EXPECT_EQ(read(ends, &byte, 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    close(ends);
    // The zero device, made here as root; where the test may not, the FIFO
    // has been enough.
    if (mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0) {
        EXPECT_EQ(InChildWithoutWaiting([&] { return RefusedEveryWay(device); }), 0);
        unlink(device.c_str());
    }
    struct stat info;
    ASSERT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    unlink(fifo.c_str());
}

// A regular file is opened in blocking mode, as a program that inherits it
// as its standard output expects.
TEST(FilesSpecial, RegularFilesAreOpenedInBlockingMode) {
    TempFile temp;
    for (DWORD disposition : {OPEN_EXISTING, CREATE_ALWAYS}) {
        HANDLE file = CreateFileA(temp.path, GENERIC_READ | GENERIC_WRITE, 0, NULL, disposition,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        long flags = StatusFlagsOf(temp.path);
        EXPECT_NE(flags, -1) << "no descriptor found for " << temp.path;
        EXPECT_EQ(flags & O_NONBLOCK, 0) << disposition;
        CloseHandle(file);
    }
}

// Sets or removes an environment variable for a scope, and puts it back.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        const char* old = getenv(name);
        had_ = old != nullptr;
        old_ = old ? old : "";
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedVariable() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    bool had_;
    std::string old_;
};

static std::string TempPath() {
    char buffer[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, buffer);
    return length > 0 && length < MAX_PATH ? std::string(buffer, length) : "<failed>";
}

// Without TMPDIR the user's own runtime directory holds the temporary files,
// where others sharing /tmp cannot take their names; it must be an absolute
// path to a directory, else /tmp is used.
TEST(FilesTempPath, RuntimeDirectoryServesWhenTmpdirIsUnset) {
    char made[] = "/tmp/ep-runtime-XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    std::string runtime = made;
    ScopedVariable tmpdir("TMPDIR", nullptr);
    {
        ScopedVariable xdg("XDG_RUNTIME_DIR", runtime.c_str());
        EXPECT_EQ(TempPath(), runtime + "/");
        char name[MAX_PATH];
        UINT number = GetTempFileNameA(TempPath().c_str(), "se", 0, name);
        EXPECT_NE(number, 0u);
        EXPECT_EQ(std::string(name).rfind(runtime + "/se", 0), 0u) << name;
        DeleteFileA(name);
    }
    {
        ScopedVariable xdg("XDG_RUNTIME_DIR", (runtime + "/").c_str());
        EXPECT_EQ(TempPath(), runtime + "/");
        ScopedVariable set("TMPDIR", "/var/tmp");
        EXPECT_EQ(TempPath(), "/var/tmp/") << "TMPDIR comes first";
        ScopedVariable empty("TMPDIR", "");
        EXPECT_EQ(TempPath(), runtime + "/") << "an empty TMPDIR counts as unset";
    }
    std::string file = runtime + "/plain";
    FILE* f = fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    // Not absolute, no such directory, a file, empty, unset: /tmp.
    std::string relative = runtime.substr(1), gone = runtime + "/gone";
    for (const char* value :
         {relative.c_str(), gone.c_str(), file.c_str(), "", (const char*)nullptr}) {
        ScopedVariable xdg("XDG_RUNTIME_DIR", value);
        EXPECT_EQ(TempPath(), "/tmp/") << (value ? value : "(unset)");
    }
    unlink(file.c_str());
    rmdir(runtime.c_str());
}

// A buffer too small gets nothing; the size needed, terminator included, is
// returned.
TEST(FilesTempPath, SmallBufferGetsTheSizeNeeded) {
    ScopedVariable tmpdir("TMPDIR", "/var/tmp");
    char buffer[10];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetTempPathA(9, buffer), 10u);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'));
    EXPECT_EQ(GetTempPathA(10, buffer), 9u);
    EXPECT_STREQ(buffer, "/var/tmp/");
}

#endif
