// Files by name: attributes, copying, moving and replacing. Built natively
// the cases run over our platform layer; built with mingw-w64 they run over
// the Windows functions (Wine), so that any difference shows. The cases
// after them are the Linux layer's own: owners, links, other file systems.
#include <windows.h>

#include "support/test_system.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>

#ifndef _WIN32
#include "support/faults.h"

#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A fresh directory for one test, removed with what is left in it.
class Scratch {
  public:
    Scratch() : dir_(MakeTempDir("ep-paths") + PathSeparator()) {}
    ~Scratch() {
        for (const char* name : {"a", "b", "c", "d", "sub"})
            MakeWritable(Path(name));
        RemoveTree(dir_.substr(0, dir_.size() - 1));
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::string Path(const char* name) const {
        return dir_ + name;
    }
    static void MakeReadOnly(const std::string& path) {
#ifdef _WIN32
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
#else
        chmod(path.c_str(), 0444);
#endif
    }
    static void MakeWritable(const std::string& path) {
#ifdef _WIN32
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
#else
        chmod(path.c_str(), 0600);
#endif
    }

  private:
    std::string dir_;
};

void Put(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// The file's bytes, or "<none>" when it does not exist.
std::string Bytes(const std::string& path) {
    std::string bytes;
    return ReadBytes(path, bytes) ? bytes : "<none>";
}

unsigned long long Ticks(FILETIME time) {
    return (unsigned long long)time.dwHighDateTime << 32 | time.dwLowDateTime;
}

WIN32_FILE_ATTRIBUTE_DATA Attributes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    memset(&data, 0, sizeof data);
    EXPECT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) << path;
    return data;
}

} // namespace

TEST(Paths, AttributesGiveKindReadOnlySizeAndTimes) {
    Scratch s;
    FILETIME before, after;
    GetSystemTimeAsFileTime(&before);
    Put(s.Path("a"), "12345");
    GetSystemTimeAsFileTime(&after);
    WIN32_FILE_ATTRIBUTE_DATA a = Attributes(s.Path("a"));
    EXPECT_EQ(a.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY), 0u);
    EXPECT_EQ(a.nFileSizeLow, 5u);
    EXPECT_EQ(a.nFileSizeHigh, 0u);
    // Both clocks are the same one, each with its own granularity: seconds apart at most.
    const unsigned long long second = 10000000;
    EXPECT_LE(Ticks(before), Ticks(a.ftLastWriteTime) + 2 * second);
    EXPECT_LE(Ticks(a.ftLastWriteTime), Ticks(after) + 2 * second);
    Scratch::MakeReadOnly(s.Path("a"));
    EXPECT_NE(Attributes(s.Path("a")).dwFileAttributes & FILE_ATTRIBUTE_READONLY, 0u);
    std::string dir = s.Path("");
    dir.pop_back();
    EXPECT_NE(Attributes(dir).dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

    WIN32_FILE_ATTRIBUTE_DATA none;
    EXPECT_FALSE(GetFileAttributesExA(s.Path("b").c_str(), GetFileExInfoStandard, &none));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    std::string deeper = s.Path("sub") + s.Path("").back() + "a";
    EXPECT_FALSE(GetFileAttributesExA(deeper.c_str(), GetFileExInfoStandard, &none));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
}

TEST(Paths, CopyKeepsBytesAndLastWriteAndRefusesATakenNameWhenAsked) {
    Scratch s;
    Put(s.Path("a"), "source\r\n");
    Put(s.Path("b"), "taken");
    EXPECT_FALSE(CopyFileA(s.Path("a").c_str(), s.Path("b").c_str(), TRUE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_EXISTS);
    EXPECT_EQ(Bytes(s.Path("b")), "taken");
    EXPECT_TRUE(CopyFileA(s.Path("a").c_str(), s.Path("b").c_str(), FALSE));
    EXPECT_EQ(Bytes(s.Path("b")), "source\r\n");
    EXPECT_TRUE(CopyFileA(s.Path("a").c_str(), s.Path("c").c_str(), TRUE));
    EXPECT_EQ(Bytes(s.Path("c")), "source\r\n");
    EXPECT_EQ(Ticks(Attributes(s.Path("c")).ftLastWriteTime),
              Ticks(Attributes(s.Path("a")).ftLastWriteTime));
    EXPECT_FALSE(CopyFileA(s.Path("d").c_str(), s.Path("c").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Bytes(s.Path("c")), "source\r\n");
    EXPECT_FALSE(CopyFileA(s.Path("c").c_str(), s.Path("c").c_str(), FALSE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Bytes(s.Path("c")), "source\r\n");
}

TEST(Paths, MoveTakesAFreeNameAndReplacesOnlyWhenAsked) {
    Scratch s;
    Put(s.Path("a"), "moving");
    Put(s.Path("b"), "taken");
    EXPECT_FALSE(MoveFileExA(s.Path("a").c_str(), s.Path("b").c_str(), MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_EQ(Bytes(s.Path("a")), "moving");
    EXPECT_EQ(Bytes(s.Path("b")), "taken");
    EXPECT_TRUE(MoveFileExA(s.Path("a").c_str(), s.Path("c").c_str(), MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(Bytes(s.Path("a")), "<none>");
    EXPECT_EQ(Bytes(s.Path("c")), "moving");
    EXPECT_TRUE(MoveFileExA(s.Path("c").c_str(), s.Path("b").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(Bytes(s.Path("c")), "<none>");
    EXPECT_EQ(Bytes(s.Path("b")), "moving");
    EXPECT_FALSE(MoveFileExA(s.Path("c").c_str(), s.Path("d").c_str(), 0));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST(Paths, ReplaceTakesTheFilesPlaceButNotAReadOnlyOnesOrAMissingOnes) {
    Scratch s;
    Put(s.Path("a"), "old");
    Put(s.Path("b"), "new");
    Scratch::MakeReadOnly(s.Path("a"));
    EXPECT_FALSE(ReplaceFileA(s.Path("a").c_str(), s.Path("b").c_str(), NULL, 0, NULL, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(Bytes(s.Path("a")), "old");
    EXPECT_EQ(Bytes(s.Path("b")), "new");
    Scratch::MakeWritable(s.Path("a"));
    EXPECT_TRUE(ReplaceFileA(s.Path("a").c_str(), s.Path("b").c_str(), NULL, 0, NULL, NULL));
    EXPECT_EQ(Bytes(s.Path("a")), "new");
    EXPECT_EQ(Bytes(s.Path("b")), "<none>");
    EXPECT_FALSE(ReplaceFileA(s.Path("a").c_str(), s.Path("b").c_str(), NULL, 0, NULL, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    Put(s.Path("b"), "newer");
    EXPECT_FALSE(ReplaceFileA(s.Path("c").c_str(), s.Path("b").c_str(), NULL, 0, NULL, NULL));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Bytes(s.Path("b")), "newer");
}

TEST(Paths, FlushWritesAFileThrough) {
    Scratch s;
    HANDLE file = CreateFileA(s.Path("a").c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "data", 4, &written, NULL));
    EXPECT_TRUE(FlushFileBuffers(file));
    CloseHandle(file);
    EXPECT_EQ(Bytes(s.Path("a")), "data");
}

#ifndef _WIN32

// What Windows keeps of a replaced file, its owner, group and permissions,
// the Linux layer keeps too; a replaced link stays a link.
TEST(PathsLinux, ReplaceKeepsOwnerGroupAndModeAndFollowsLinks) {
    Scratch s;
    uid_t uid;
    gid_t gid;
    ASSERT_TRUE(NobodyIds(&uid, &gid));
    ASSERT_EQ(mkdir(s.Path("sub").c_str(), 0700), 0);
    std::string target = s.Path("sub") + "/real";
    Put(target, "old");
    ASSERT_EQ(chown(target.c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink("sub/real", s.Path("a").c_str()), 0);
    Put(s.Path("b"), "new");
    EXPECT_TRUE(ReplaceFileA(s.Path("a").c_str(), s.Path("b").c_str(), NULL, 0, NULL, NULL));
    struct stat info;
    ASSERT_EQ(lstat(s.Path("a").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, uid);
    EXPECT_EQ(info.st_gid, gid);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(Bytes(target), "new");
    EXPECT_EQ(Bytes(s.Path("b")), "<none>");
    unlink(target.c_str());
}

// A link into another file system: the replacement is copied beside the
// target and renamed there; nothing is left on either side.
TEST(PathsLinux, ReplaceThroughALinkToAnotherFileSystem) {
    SmallTmpfs other;
    if (!other.Mounted())
        GTEST_SKIP() << "no tmpfs: " << other.Error();
    Scratch s;
    std::string target = other.Dir() + "/real";
    Put(target, "old");
    ASSERT_EQ(symlink(target.c_str(), s.Path("a").c_str()), 0);
    Put(s.Path("b"), "new");
    EXPECT_TRUE(ReplaceFileA(s.Path("a").c_str(), s.Path("b").c_str(), NULL, 0, NULL, NULL));
    EXPECT_EQ(Bytes(target), "new");
    EXPECT_EQ(Bytes(s.Path("b")), "<none>");
    EXPECT_EQ(Bytes(target + ".lock"), "<none>");
    unlink(target.c_str());
}

// A caller that may not give the replaced file's group to the new file
// fails, unless it asks to ignore that; one that may not write the file at
// all fails either way.
TEST(PathsLinux, ReplaceByAnotherUserNeedsWriteAccessAndTheRightToKeepTheGroup) {
    Scratch s;
    uid_t uid;
    gid_t gid;
    ASSERT_TRUE(NobodyIds(&uid, &gid));
    ASSERT_EQ(chown(s.Path("").c_str(), uid, gid), 0);
    Put(s.Path("a"), "root's group");
    ASSERT_EQ(chown(s.Path("a").c_str(), uid, 0), 0);
    ASSERT_EQ(chmod(s.Path("a").c_str(), 0664), 0);
    Put(s.Path("c"), "root's file");
    ASSERT_EQ(chmod(s.Path("c").c_str(), 0644), 0);
    int result = RunAsNobody([&] {
        Put(s.Path("b"), "new");
        if (ReplaceFileA(s.Path("a").c_str(), s.Path("b").c_str(), NULL, 0, NULL, NULL) ||
            GetLastError() != ERROR_ACCESS_DENIED)
            return 1;
        if (ReplaceFileA(s.Path("c").c_str(), s.Path("b").c_str(), NULL,
                         REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL) ||
            GetLastError() != ERROR_ACCESS_DENIED)
            return 2;
        return ReplaceFileA(s.Path("a").c_str(), s.Path("b").c_str(), NULL,
                            REPLACEFILE_IGNORE_MERGE_ERRORS, NULL, NULL)
                   ? 0
                   : 3;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Bytes(s.Path("a")), "new");
    EXPECT_EQ(Bytes(s.Path("c")), "root's file");
}

// Windows refuses to move over a read-only file; Wine run as root does not
// (it renames as any Unix program would), so this is checked here only.
TEST(PathsLinux, MoveDoesNotReplaceAReadOnlyFile) {
    Scratch s;
    Put(s.Path("a"), "moving");
    Put(s.Path("b"), "read-only");
    Scratch::MakeReadOnly(s.Path("b"));
    EXPECT_FALSE(MoveFileExA(s.Path("a").c_str(), s.Path("b").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(Bytes(s.Path("b")), "read-only");
    EXPECT_EQ(Bytes(s.Path("a")), "moving");
}

// A settings file that is a FIFO with no writer: the copy is refused at
// once instead of waiting for one (the test's timeout would end a wait).
TEST(PathsLinux, CopyRefusesAFifoWithoutWaiting) {
    Scratch s;
    ASSERT_EQ(mkfifo(s.Path("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(CopyFileA(s.Path("fifo").c_str(), s.Path("copy").c_str(), TRUE));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(FileExists(s.Path("copy")));
}

#endif
