// What the tests need from the system beyond the operations they test:
// temporary directories, files by name and processes. Paths are UTF-8 on
// Windows too (the system's wide calls take them), bytes on Linux. Implemented once per
// platform (test_system_posix.cpp, test_system_win.cpp, chosen by CMake) over the
// system's own calls, never over the platform layer under test; the
// platform-free part is test_system.cpp. Linked into every test program as the
// ep_test_support library.
#pragma once

#include <string>
#include <vector>

// A new, empty directory of this process's own, named after prefix, in base
// (the system's temporary directory when base is empty: TMPDIR or /tmp on
// Linux, GetTempPathA's on Windows). Its path, without a trailing separator,
// or "" when none could be made.
std::string MakeTempDir(const char* prefix = "ep-test", const std::string& base = "");

// Makes a directory; false when it cannot be made.
bool MakeDir(const std::string& path);

// Removes a directory and everything in it, read-only files too.
void RemoveTree(const std::string& path);

// A temporary directory for the length of a scope: made by MakeTempDir,
// removed with RemoveTree at the end.
class TempDir {
  public:
    explicit TempDir(const char* prefix = "ep-test", const std::string& base = "")
        : path_(MakeTempDir(prefix, base)) {}
    ~TempDir() {
        if (!path_.empty())
            RemoveTree(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Empty when the directory could not be made.
    const std::string& Path() const {
        return path_;
    }
    // The path of an entry: the directory, a separator and the name.
    std::string Join(const std::string& name) const;

  private:
    std::string path_;
};

char PathSeparator();
std::string PathJoin(const std::string& dir, const std::string& name);
bool WriteBytes(const std::string& path, const std::string& bytes);
bool ReadBytes(const std::string& path, std::string& bytes);
bool FileExists(const std::string& path);
std::vector<std::string> ListDir(const std::string& dir);
std::string CurrentDir();

// Copies a file to a new name (which must not exist). Under a file-size limit
// smaller than the file (EP_FILE_SIZE_LIMIT set, on Windows) the copy is a
// hard link instead.
bool CopyFileTo(const std::string& from, const std::string& to);

// Whether the process with this id has ended within the time given; a
// zombie has ended (here the first process may reap no orphans).
bool ProcessEndsWithin(unsigned long pid, int milliseconds);

// Sets (value not NULL) or removes a variable of this process's
// environment, as the programs it starts will see it; reads one (false when
// it is not set).
void SetVariable(const char* name, const char* value);
bool ReadVariable(const char* name, std::string& value);

// The variable that names the system's temporary directory first: TMPDIR on
// Linux, TMP on Windows.
extern const char* const TempVariable;

// A path as an ANSI text such as the plug-in's settings hold: on Windows the
// path in the ANSI code page where it holds every character, else the
// path's short (8.3) name, "" when it has neither; on Linux the path.
std::string AnsiName(const std::string& path);

// Whether the Windows calls are Wine's.
bool RunsUnderWine();

// Windows only: UTF-8 text in the system's wide form, and back.
std::wstring ToWide(const std::string& utf8);
std::string FromWide(const std::wstring& wide);

// Faults made real, where the platform has them; each returns false where
// it does not (the test is then skipped). A limit on the size of files this
// process writes, with the signal it raises ignored, so that a write falls
// short; FileSizeLimit(0) lifts it. Under Wine the limit is set for the whole
// process by a wrapper, which says so in EP_FILE_SIZE_LIMIT.
bool FileSizeLimit(unsigned long bytes);
// SIGCHLD ignored (or back to its default): the kernel then reaps this
// process's children itself, and their exit status is lost.
bool IgnoreChildExits(bool ignore);
// A small file system in memory of the given size mounted on an empty
// directory (as root), and unmounted again. Under Wine a wrapper mounts it
// and names it in EP_TMPFS.
std::string MountSmallDisk(unsigned megabytes);
void UnmountSmallDisk(const std::string& path);
// Whether tens of thousands of files are made in seconds: not under Wine,
// where each takes a round trip to its server.
extern const bool ManyFilesQuickly;

// The bytes in use on the file system that holds path.
unsigned long long UsedBytes(const std::string& path);
