// GetPrivateProfileStringA and WritePrivateProfileStringA. Built natively the
// cases run over our platform layer; built with mingw-w64 they run over the
// Windows functions (Wine), with the same table.
#include "profile_cases.h"
#include "support/test_system.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <errno.h>
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#ifndef _WIN32
#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <fcntl.h>

#include <functional>
#include <time.h>
#include <unistd.h>

#include "support/faults.h"
#include "support/posix_process.h"
#endif

namespace {

#ifdef _WIN32
bool OnWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}
#endif

// The result the table gives for where the test runs: Wine's where it
// differs from Windows, our layer's where it differs on purpose.
template <typename Text>
const Text* Expected(const Text* expected, const Text* wine, const Text* layer = nullptr) {
#ifdef _WIN32
    (void)layer;
    return wine != nullptr && OnWine() ? wine : expected;
#else
    (void)wine;
    return layer != nullptr ? layer : expected;
#endif
}

// A text of the UTF-16 cases, written in UTF-8, in the ANSI code page the
// functions take and give (B in profile_cases.h); NULL stays NULL.
struct Ansi {
    explicit Ansi(const char* utf8) : null(utf8 == nullptr) {
        if (utf8 == nullptr)
            return;
#ifdef _WIN32
        wchar_t wide[512];
        char ansi[1024];
        int units = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512);
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, ansi, sizeof ansi, NULL, NULL);
        text = bytes > 0 ? ansi : "<conversion failed>";
#else
        text = utf8;
#endif
    }
    const char* get() const {
        return null ? nullptr : text.c_str();
    }
    bool null;
    std::string text;
};

// A text as the bytes of a UTF-16LE file; oddByte: without the high byte of
// its last unit. NULL: "<none>", as Bytes gives for no file.
std::string Utf16(const char16_t* text, bool oddByte = false) {
    if (text == nullptr)
        return "<none>";
    std::string bytes;
    for (; *text != 0; text++) {
        bytes += (char)(*text & 0xFF);
        bytes += (char)(*text >> 8);
    }
    if (oddByte)
        bytes.pop_back();
    return bytes;
}

// A fresh directory per test program; Windows takes full paths only.
std::string Dir() {
    static std::string dir;
    if (dir.empty())
        dir = MakeTempDir("ep_profile") + PathSeparator();
    return dir;
}

// Removes the directory and what is left in it when the program ends.
class RemoveDir : public testing::Environment {
    void TearDown() override {
        std::string dir = Dir();
        dir.pop_back();
        RemoveTree(dir);
    }
};
testing::Environment* const Cleanup = testing::AddGlobalTestEnvironment(new RemoveDir);

std::string PathOf(const char* name) {
    return Dir() + name;
}

// Puts the bytes in place as the file (NULL: no file).
void Put(const std::string& path, const char* bytes, size_t length) {
    remove(path.c_str());
    if (bytes == nullptr)
        return;
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes, 1, length, f);
    fclose(f);
}

void Put(const std::string& path, const char* bytes) {
    Put(path, bytes, bytes ? strlen(bytes) : 0);
}

// The file's bytes, or "<none>" when it does not exist.
std::string Bytes(const std::string& path) {
    std::string bytes;
    return ReadBytes(path, bytes) ? bytes : "<none>";
}

// Reads with a buffer of the given capacity, filled with a sentinel first so
// that any byte written past the terminator shows; returns the value.
std::string Read(const std::string& path, const char* section, const char* key,
                 const char* defaultValue, unsigned capacity, DWORD* returned) {
    char buffer[400];
    memset(buffer, 0x7F, sizeof buffer);
    *returned =
        GetPrivateProfileStringA(section, key, defaultValue, buffer, capacity, path.c_str());
    size_t used = capacity == 0 ? 0 : *returned + 1;
    for (size_t i = used; i < sizeof buffer; i++)
        if (buffer[i] != 0x7F)
            ADD_FAILURE() << "byte " << i << " written past the terminator";
    return capacity == 0 ? "<untouched>" : std::string(buffer, *returned);
}

// Runs check(path, case) on each case of a table, with the case's file put
// at path (none where it is NULL) and the case's number and file named in
// what fails; the file is removed at the end.
template <typename Case, typename Check>
void ForEachCase(const char* name, const Case* cases, size_t count, Check check) {
    std::string path = PathOf(name);
    for (size_t i = 0; i < count; i++) {
        const Case& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": [" + (c.file ? c.file : "<none>") + "]");
        Put(path, c.file);
        check(path, c);
    }
    remove(path.c_str());
}

void RunReadCases(const ReadCase* cases, size_t count) {
    ForEachCase("read.ini", cases, count, [](const std::string& path, const ReadCase& c) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        const char* expected = Expected(c.expected, c.wine);
        DWORD returned;
        std::string value = Read(path, c.section, c.key, c.defaultValue, c.capacity, &returned);
        EXPECT_EQ(value, expected ? expected : "<untouched>");
        EXPECT_EQ(returned, expected ? strlen(expected) : 0);
    });
}

} // namespace

// The tables of reads, each a test named by what it shows.
class ReadTable {
  public:
    ReadTable(const char* name, const ReadCase* cases, size_t count)
        : name_(name), cases_(cases), count_(count) {}
    std::string Name() const {
        return name_;
    }
    void Run() const {
        RunReadCases(cases_, count_);
    }

  private:
    const char* name_;
    const ReadCase* cases_;
    size_t count_;
};

template <size_t N> ReadTable Table(const char* name, const ReadCase (&cases)[N]) {
    return ReadTable(name, cases, N);
}

class ProfileReadTable : public testing::TestWithParam<ReadTable> {};

TEST_P(ProfileReadTable, GivesWhatWindowsGives) {
    GetParam().Run();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileReadTable,
    testing::Values(Table("SectionAndKeyNamesMatchAsWindowsMatchesThem", ReadNames),
                    Table("CommentsLineEndsAndByteOrderMarkAreSkipped", ReadLayout),
                    Table("Utf8ByteOrderMarkIsPartOfTheFirstLine", ReadUtf8Mark),
                    Table("ValuesLoseSurroundingBlanksAndOnePairOfQuotes", ReadValues),
                    Table("ValueIsCutToCapacityMinusOne", ReadCapacity),
                    Table("DefaultIsGivenForMissingFileSectionOrKey", ReadDefaults)),
    [](const testing::TestParamInfo<ReadTable>& table) { return table.param.Name(); });

// The wide call reads as the ANSI one does, the mark being part of the
// first line there too (the plug-in reads its settings through it): its
// value, in the ANSI code page, is the ANSI call's.
TEST(ProfileRead, Utf8ByteOrderMarkIsPartOfTheFirstLineForTheWideCallToo) {
    auto wide = [](const std::string& ascii) {
        return std::basic_string<WCHAR>(ascii.begin(), ascii.end());
    };
    ForEachCase("wide.ini", ReadUtf8Mark, sizeof ReadUtf8Mark / sizeof ReadUtf8Mark[0],
                [&](const std::string& path, const ReadCase& c) {
                    const char* expected = Expected(c.expected, c.wine);
                    WCHAR value[16];
                    DWORD length = GetPrivateProfileStringW(
                        wide(c.section).c_str(), wide(c.key).c_str(), wide(c.defaultValue).c_str(),
                        value, c.capacity, wide(path).c_str());
                    char ansi[64];
                    int bytes = WideCharToMultiByte(CP_ACP, 0, value, (int)length, ansi,
                                                    sizeof ansi, NULL, NULL);
                    EXPECT_EQ(std::string(ansi, bytes > 0 ? (size_t)bytes : 0), expected);
                });
}

TEST(ProfileRead, IntegersAreReadUpToTheirFirstNonDigit) {
    ForEachCase("int.ini", IntCases, sizeof IntCases / sizeof IntCases[0],
                [](const std::string& path, const IntCase& c) {
                    EXPECT_EQ(c.expected, GetPrivateProfileIntA(c.section, c.key, c.defaultValue,
                                                                path.c_str()));
                });
}

TEST(ProfileRead, MissingFileReportsFileNotFound) {
    std::string path = PathOf("missing.ini");
    remove(path.c_str());
    char buffer[8];
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfileStringA("Path", "A", "", buffer, sizeof buffer, path.c_str()), 0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST(ProfileRead, LongLinesDoNotBreakMatching) {
    std::string path = PathOf("long.ini");
    std::string many(10000, 'x');
    std::string longName(5000, 'k');
    std::string file = "[Other]\r\nA=wrong\r\n[Path]" + std::string(9000, ' ') + "\r\n;" + many +
                       "\r\nB=" + many + "\r\n" + longName + "=v\r\nA=\"" + std::string(300, 'y') +
                       "\"\r\n";
    Put(path, file.c_str());
    char buffer[261];
    EXPECT_EQ(GetPrivateProfileStringA("Path", "A", "", buffer, 260, path.c_str()), 259u);
    EXPECT_EQ(std::string(buffer), std::string(259, 'y'));
    EXPECT_EQ(GetPrivateProfileStringA("Path", longName.c_str(), "", buffer, 260, path.c_str()),
              1u);
    EXPECT_STREQ(buffer, "v");
    EXPECT_EQ(GetPrivateProfileStringA("Path", "B", "", buffer, 260, path.c_str()), 259u);
    EXPECT_EQ(std::string(buffer), std::string(259, 'x'));
    remove(path.c_str());
}

TEST(ProfileWrite, FileBytesAfterWritesAreExactlyAsWindowsLeavesThem) {
    ForEachCase("write.ini", WriteCases, sizeof WriteCases / sizeof WriteCases[0],
                [](const std::string& path, const WriteCase& c) {
                    for (const Write& w : c.writes) {
                        if (w.section != nullptr) {
                            EXPECT_TRUE(WritePrivateProfileStringA(w.section, w.key, w.value,
                                                                   path.c_str()));
                        }
                    }
                    const char* expected = Expected(c.expected, c.wine, c.layer);
                    EXPECT_EQ(Bytes(path), expected ? expected : "<none>");
                });
}

// A file that starts with FF FE is UTF-16LE: values come back in the ANSI
// code page, whatever the file's characters; invalid UTF-16 reads without
// harm.
TEST(ProfileUnicode, Utf16FilesReadInTheAnsiCodePage) {
    std::string path = PathOf("wide.ini");
    for (size_t i = 0; i < sizeof WideReads / sizeof WideReads[0]; i++) {
        const WideReadCase& c = WideReads[i];
        SCOPED_TRACE("case " + std::to_string(i) + ": " + c.section + "/" + c.key);
        std::string file = Utf16(c.file, c.oddByte);
        Put(path, c.file ? file.data() : nullptr, file.size());
        Ansi section(c.section), key(c.key), defaultValue(c.defaultValue), expected(c.expected);
        DWORD returned;
        std::string value =
            Read(path, section.get(), key.get(), defaultValue.get(), c.capacity, &returned);
        EXPECT_EQ(value, expected.text);
        EXPECT_EQ(returned, expected.text.size());
    }
    remove(path.c_str());
}

TEST(ProfileUnicode, Utf16FilesStayUtf16WithTheirMark) {
    std::string path = PathOf("wide_write.ini");
    for (size_t i = 0; i < sizeof WideWrites / sizeof WideWrites[0]; i++) {
        const WideWriteCase& c = WideWrites[i];
        SCOPED_TRACE("case " + std::to_string(i));
        std::string file = Utf16(c.file);
        Put(path, c.file ? file.data() : nullptr, file.size());
        for (const Write& w : c.writes) {
            if (w.section == nullptr)
                continue;
            Ansi section(w.section), key(w.key), value(w.value);
            EXPECT_TRUE(
                WritePrivateProfileStringA(section.get(), key.get(), value.get(), path.c_str()));
        }
        EXPECT_EQ(Bytes(path), Utf16(Expected(c.expected, c.wine, c.layer)));
    }
    remove(path.c_str());
}

// The wide calls keep every character of a UTF-16 file whatever the ANSI
// set, here one that lacks "Ł" (Windows-1252 under Wine, Latin-1 natively):
// the plug-in reads and saves its settings through them.
TEST(ProfileUnicode, WideCallsKeepEveryCharacterOfAUtf16File) {
#ifndef _WIN32
    ASSERT_NE(setlocale(LC_CTYPE, "en_US.ISO-8859-1"), nullptr) << "run scripts/setup.sh as root";
#endif
    auto wide = [](const std::string& ascii) {
        return std::basic_string<WCHAR>(ascii.begin(), ascii.end());
    };
    const WCHAR lodz[] = {0x141, 0xF3, 'd', 0x17A, 0};
    std::string path = PathOf("wide_calls.ini");
    std::string file = Utf16(u"\uFEFF[Path]\r\nA=1\r\n");
    Put(path, file.data(), file.size());
    EXPECT_TRUE(WritePrivateProfileStringW(wide("Path").c_str(), wide("B").c_str(), lodz,
                                           wide(path).c_str()));
    EXPECT_EQ(Bytes(path), Utf16(u"\uFEFF[Path]\r\nA=1\r\nB=\u0141\u00F3d\u017A\r\n"));
    WCHAR value[16];
    EXPECT_EQ(GetPrivateProfileStringW(wide("Path").c_str(), wide("B").c_str(), wide("").c_str(),
                                       value, 16, wide(path).c_str()),
              4u);
    EXPECT_EQ(std::basic_string<WCHAR>(value), std::basic_string<WCHAR>(lodz));
    remove(path.c_str());
#ifndef _WIN32
    setlocale(LC_CTYPE, "C");
#endif
}

TEST(ProfileUnicode, Utf16FilesGiveIntegersAndTakeBackWhatWasWritten) {
    std::string path = PathOf("wide_round.ini");
    std::string file = Utf16(u"\uFEFF[Run]\r\nTimeLimit = 42\r\n");
    Put(path, file.data(), file.size());
    EXPECT_EQ(GetPrivateProfileIntA("Run", "TimeLimit", 5, path.c_str()), 42u);
    EXPECT_EQ(GetPrivateProfileIntA("Run", "Other", 5, path.c_str()), 5u);
    Ansi value("\"C:\\Program Files\\pp\u00E9.exe\" -x \"%f\"");
    std::string stored = "\"" + value.text + "\"";
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "CommandLine", stored.c_str(), path.c_str()));
    char buffer[260];
    EXPECT_EQ(GetPrivateProfileStringA("Path", "CommandLine", "", buffer, 260, path.c_str()),
              value.text.size());
    EXPECT_EQ(std::string(buffer), value.text);
    EXPECT_EQ(GetPrivateProfileIntA("Run", "TimeLimit", 5, path.c_str()), 42u);
    remove(path.c_str());
}

TEST(ProfileWrite, LongLinesAndOtherSectionsAreCopiedByteForByte) {
    std::string path = PathOf("long_write.ini");
    std::string head = "[A]\r\nX=" + std::string(10000, 'a') + "\r\n;" + std::string(9000, 'c') +
                       "\r\n[Path]\r\nB=" + std::string(7000, 'b') + "\r\n";
    std::string tail = "[Z]\r\nY=" + std::string(5000, 'z') + "\r\n";
    Put(path, (head + tail).c_str());
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "C", "new", path.c_str()));
    EXPECT_EQ(Bytes(path), head + "C=new\r\n" + tail);
    remove(path.c_str());
}

TEST(ProfileWrite, WrittenValuesReadBack) {
    std::string path = PathOf("round.ini");
    Put(path, nullptr);
    std::string value(259, 'v');
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "CommandLine", value.c_str(), path.c_str()));
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "WorkingDirectory", "", path.c_str()));
    char buffer[260];
    EXPECT_EQ(GetPrivateProfileStringA("Path", "CommandLine", "", buffer, 260, path.c_str()), 259u);
    EXPECT_EQ(std::string(buffer), value);
    EXPECT_EQ(GetPrivateProfileStringA("Path", "WorkingDirectory", "d", buffer, 260, path.c_str()),
              0u);
    remove(path.c_str());
}

// A NULL section, key and value ask for the cache to be written out; the
// call says FALSE by definition and changes nothing.
TEST(ProfileWrite, FlushRequestReturnsFalseAndLeavesTheFile) {
    std::string path = PathOf("flush.ini");
    Put(path, "[Path]\r\nA=1\r\n");
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str()));
    EXPECT_EQ(Bytes(path), "[Path]\r\nA=1\r\n");
    char buffer[8];
    EXPECT_EQ(GetPrivateProfileStringA("Path", "A", "", buffer, sizeof buffer, path.c_str()), 1u);
    remove(path.c_str());
}

#ifndef _WIN32

// Failures of our own layer: the original stays whole and no lock is left.
namespace {

bool LockLeft(const std::string& path) {
    return access((path + ".lock").c_str(), F_OK) == 0;
}

} // namespace

TEST(ProfileWriteFailure, FileSizeLimitKeepsOldFileAndRemovesLock) {
    std::string path = PathOf("limit.ini");
    std::string old = "[Path]\r\nA=" + std::string(3000, 'o') + "\r\n";
    Put(path, old.c_str());
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 1000;
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    BOOL written = WritePrivateProfileStringA("Path", "B", "new", path.c_str());
    DWORD error = GetLastError();
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);
    EXPECT_FALSE(written);
    EXPECT_EQ(error, (DWORD)ERROR_FILE_TOO_LARGE);
    EXPECT_EQ(Bytes(path), old);
    EXPECT_FALSE(LockLeft(path));
    remove(path.c_str());
}

TEST(ProfileWriteFailure, ExistingLockIsLeftAloneAndNothingChanges) {
    std::string path = PathOf("locked.ini");
    Put(path, "[Path]\r\nA=1\r\n");
    Put(path + ".lock", "someone else's");
    EXPECT_FALSE(WritePrivateProfileStringA("Path", "A", "2", path.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Bytes(path), "[Path]\r\nA=1\r\n");
    EXPECT_EQ(Bytes(path + ".lock"), "someone else's");
    remove((path + ".lock").c_str());
    remove(path.c_str());
}

TEST(ProfileWriteFailure, DirectoryThatIsAFileOrFileThatIsADirectoryFails) {
    std::string file = PathOf("plain");
    Put(file, "x");
    std::string inside = file + "/settings.ini";
    EXPECT_FALSE(WritePrivateProfileStringA("Path", "A", "1", inside.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Bytes(file), "x");
    std::string dir = PathOf("folder.ini");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    EXPECT_FALSE(WritePrivateProfileStringA("Path", "A", "1", dir.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(LockLeft(dir));
    rmdir(dir.c_str());
    remove(file.c_str());
}

TEST(ProfileWrite, PermissionsAreKeptAndNewFilesArePrivate) {
    std::string path = PathOf("mode.ini");
    Put(path, nullptr);
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "A", "1", path.c_str()));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "A", "2", path.c_str()));
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_FALSE(LockLeft(path));
    remove(path.c_str());
}

TEST(ProfileWrite, NoDescriptorIsLeftOpen) {
    std::string path = PathOf("fds.ini");
    Put(path, "[Path]\r\nA=1\r\n");
    int before = CountOpenDescriptors();
    char buffer[16];
    GetPrivateProfileStringA("Path", "A", "", buffer, sizeof buffer, path.c_str());
    GetPrivateProfileStringA("Path", "A", "", buffer, sizeof buffer, PathOf("none.ini").c_str());
    WritePrivateProfileStringA("Path", "A", "2", path.c_str());
    Put(path + ".lock", "held");
    WritePrivateProfileStringA("Path", "A", "3", path.c_str());
    EXPECT_EQ(CountOpenDescriptors(), before);
    remove((path + ".lock").c_str());
    remove(path.c_str());
}

// Sets a file's times back by the given seconds.
void Age(const std::string& path, int seconds) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    now.tv_sec -= seconds;
    struct timespec times[2] = {now, now};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// A lock more than a minute old was left by a writer that died: it is taken
// over. A younger one still belongs to a writer at work.
TEST(ProfileWriteLock, StaleLockIsTakenOverAndAYoungOneIsNot) {
    std::string path = PathOf("stale.ini");
    std::string lock = path + ".lock";
    Put(path, "[Path]\r\nA=1\r\n");
    Put(lock, "[Path]\r\nA=cut sh");
    Age(lock, 30);
    EXPECT_FALSE(WritePrivateProfileStringA("Path", "A", "2", path.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Bytes(lock), "[Path]\r\nA=cut sh");
    Age(lock, 120);
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "A", "2", path.c_str()));
    EXPECT_EQ(Bytes(path), "[Path]\r\nA=2\r\n");
    EXPECT_FALSE(LockLeft(path));
    remove(path.c_str());
}

// A link is followed: its target is replaced, with the lock beside it, and
// the link stays; a link to nowhere gets its target made.
TEST(ProfileWriteLinks, LinksLeadTheWriteToTheirTargetAndStay) {
    std::string dir = PathOf("shared");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    std::string target = dir + "/real.ini";
    std::string link = PathOf("link.ini"), chain = PathOf("chain.ini");
    std::string dangling = PathOf("dangling.ini"), loop = PathOf("loop.ini");
    Put(target, "[Path]\r\nA=1\r\n");
    ASSERT_EQ(symlink("shared/real.ini", link.c_str()), 0);
    ASSERT_EQ(symlink(link.c_str(), chain.c_str()), 0);
    ASSERT_EQ(symlink("shared/new.ini", dangling.c_str()), 0);
    ASSERT_EQ(symlink("loop.ini", loop.c_str()), 0);
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "A", "2", chain.c_str()));
    EXPECT_EQ(Bytes(target), "[Path]\r\nA=2\r\n");
    char named[64] = {};
    EXPECT_GT(readlink(link.c_str(), named, sizeof named - 1), 0);
    EXPECT_STREQ(named, "shared/real.ini");
    EXPECT_GT(readlink(chain.c_str(), named, sizeof named - 1), 0);
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "B", "3", dangling.c_str()));
    EXPECT_EQ(Bytes(dir + "/new.ini"), "[Path]\r\nB=3\r\n");
    EXPECT_GT(readlink(dangling.c_str(), named, sizeof named - 1), 0);
    EXPECT_FALSE(WritePrivateProfileStringA("Path", "A", "2", loop.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANT_RESOLVE_FILENAME);
    EXPECT_FALSE(LockLeft(target) || LockLeft(link) || LockLeft(chain));
    for (const std::string& name : {link, chain, dangling, loop, target, dir + "/new.ini"})
        unlink(name.c_str());
    rmdir(dir.c_str());
}

// A file without any write permission bit is read-only, for root too, as
// Windows refuses a read-only file to administrators: nothing is written,
// not even where there is nothing to change.
TEST(ProfileWriteFailure, ReadOnlyFileIsRefusedAndLeftAlone) {
    std::string path = PathOf("readonly.ini");
    Put(path, "[Path]\r\nA=1\r\n");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(WritePrivateProfileStringA("Path", "A", "2", path.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_FALSE(WritePrivateProfileStringA("Path", "Missing", nullptr, path.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    EXPECT_EQ(Bytes(path), "[Path]\r\nA=1\r\n");
    EXPECT_FALSE(LockLeft(path));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0444u);
    remove(path.c_str());
}

// Root writing someone else's file leaves it theirs, with its group and
// mode; another user writes only what it may write, and keeps what it
// cannot change (a group it is not in) or is refused.
TEST(ProfileWrite, OwnerGroupAndModeAreKept) {
    uid_t uid;
    gid_t gid;
    ASSERT_TRUE(NobodyIds(&uid, &gid));
    // A directory of nobody's own, where nobody can reach it.
    TempDir scratch("ep_profile_nobody", "/tmp");
    ASSERT_NE(scratch.Path(), "");
    const std::string& dir = scratch.Path();
    ASSERT_EQ(chown(dir.c_str(), uid, gid), 0);
    std::string theirs = dir + "/theirs.ini", roots = dir + "/root.ini";
    std::string group = dir + "/group.ini";
    for (const std::string& name : {theirs, roots, group})
        Put(name, "[Path]\r\nA=1\r\n");
    ASSERT_EQ(chown(theirs.c_str(), uid, gid), 0);
    ASSERT_EQ(chmod(theirs.c_str(), 0640), 0);
    ASSERT_EQ(chmod(roots.c_str(), 0644), 0);
    ASSERT_EQ(chown(group.c_str(), uid, 0), 0);
    ASSERT_EQ(chmod(group.c_str(), 0664), 0);

    EXPECT_TRUE(WritePrivateProfileStringA("Path", "A", "root", theirs.c_str()));
    struct stat info;
    ASSERT_EQ(stat(theirs.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, uid);
    EXPECT_EQ(info.st_gid, gid);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    int result = RunAsNobody([&] {
        if (!WritePrivateProfileStringA("Path", "A", "nobody", theirs.c_str()))
            return 1;
        if (WritePrivateProfileStringA("Path", "A", "nobody", roots.c_str()) ||
            GetLastError() != ERROR_ACCESS_DENIED)
            return 2;
        if (WritePrivateProfileStringA("Path", "A", "nobody", group.c_str()) ||
            GetLastError() != ERROR_ACCESS_DENIED)
            return 3;
        return 0;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Bytes(theirs), "[Path]\r\nA=nobody\r\n");
    EXPECT_EQ(Bytes(roots), "[Path]\r\nA=1\r\n");
    EXPECT_EQ(Bytes(group), "[Path]\r\nA=1\r\n");
    ASSERT_EQ(stat(theirs.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ASSERT_EQ(stat(roots.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    for (const std::string& name : {theirs, roots, group})
        EXPECT_FALSE(LockLeft(name)) << name;
}

// The layer reads a settings file whole, up to 1 MiB: a file at the bound is
// read and written to its end; a larger one is refused as one that cannot be
// read, the read giving the default and the write leaving the file alone,
// both with ERROR_FILE_TOO_LARGE.
TEST(ProfileLimit, FileAtTheBoundWorksAndALargerOneIsRefused) {
    const size_t bound = (size_t)1 << 20;
    std::string path = PathOf("bound.ini");
    std::string tail = "\r\n[Path]\r\nA=end\r\n";
    std::string file = ";" + std::string(bound - 1 - tail.size(), 'c') + tail;
    ASSERT_EQ(file.size(), bound);
    Put(path, file.c_str(), file.size());
    char buffer[16];
    EXPECT_EQ(GetPrivateProfileStringA("Path", "A", "dflt", buffer, sizeof buffer, path.c_str()),
              3u);
    EXPECT_STREQ(buffer, "end");
    EXPECT_TRUE(WritePrivateProfileStringA("Path", "A", "new", path.c_str()));
    EXPECT_EQ(GetPrivateProfileStringA("Path", "A", "dflt", buffer, sizeof buffer, path.c_str()),
              3u);
    EXPECT_STREQ(buffer, "new");

    std::string larger = Bytes(path) + "B=1\r\n";
    Put(path, larger.c_str(), larger.size());
    SetLastError(0);
    EXPECT_EQ(GetPrivateProfileStringA("Path", "A", "dflt", buffer, sizeof buffer, path.c_str()),
              4u);
    EXPECT_STREQ(buffer, "dflt");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_TOO_LARGE);
    EXPECT_FALSE(WritePrivateProfileStringA("Path", "A", "x", path.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_TOO_LARGE);
    EXPECT_EQ(Bytes(path), larger);
    EXPECT_FALSE(LockLeft(path));
    remove(path.c_str());
}

// A full disk: the new file cannot be written, the old one stays whole.
TEST(ProfileWriteFailure, FullDiskKeepsTheOldFileAndRemovesTheLock) {
    SmallTmpfs disk;
    if (!disk.Mounted())
        GTEST_SKIP() << "no tmpfs: " << disk.Error();
    std::string path = disk.Dir() + "/full.ini";
    std::string old = "[Path]\r\nA=" + std::string(3000, 'o') + "\r\n[Run]\r\nTimeLimit=5\r\n";
    Put(path, old.c_str());
    ASSERT_TRUE(disk.Fill());
    EXPECT_FALSE(
        WritePrivateProfileStringA("Path", "A", std::string(5000, 'n').c_str(), path.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DISK_FULL);
    EXPECT_EQ(Bytes(path), old);
    EXPECT_FALSE(LockLeft(path));
}

// The checks on a name that leads to no regular file, as exit codes: every
// read gives the default with ERROR_ACCESS_DENIED, and a write is refused so.
int ReadsAsMissingAndRefusesWrites(const std::string& name) {
    char buffer[16];
    SetLastError(0);
    if (GetPrivateProfileStringA("Path", "A", "dflt", buffer, sizeof buffer, name.c_str()) != 4 ||
        strcmp(buffer, "dflt") != 0)
        return 1;
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return 2;
    if (GetPrivateProfileIntA("Run", "TimeLimit", 7, name.c_str()) != 7)
        return 3;
    if (WritePrivateProfileStringA("Path", "A", "1", name.c_str()) ||
        GetLastError() != ERROR_ACCESS_DENIED)
        return 4;
    return 0;
}

// A settings file that is no regular file reads at once as a missing one and
// is never written: a FIFO with nobody at its other end (opening it to read
// would wait for a writer), one held open by a writer that writes nothing
// (reading would wait for data) and by a reader (a write would reach it), a
// link to a FIFO, a device, a directory.
TEST(ProfileSpecialFiles, FifoDeviceOrDirectoryReadsAsMissingAtOnceAndIsNeverWritten) {
    std::string fifo = PathOf("fifo.ini"), link = PathOf("fifo_link.ini");
    std::string device = PathOf("device.ini"), dir = PathOf("dir.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("fifo.ini", link.c_str()), 0);
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    std::vector<std::string> names = {fifo, link, dir};
    // The zero device, made here as root; where the test may not, the others
    // still run.
    if (mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 5)) == 0)
        names.push_back(device);
    for (const std::string& name : names)
        EXPECT_EQ(InChildWithoutWaiting([&] { return ReadsAsMissingAndRefusesWrites(name); }), 0)
            << name;

    int ends = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(ends, 0);
    EXPECT_EQ(InChildWithoutWaiting([&] { return ReadsAsMissingAndRefusesWrites(fifo); }), 0);
    char byte;
    EXPECT_EQ(read(ends, &byte, 1), -1) << "the write reached the FIFO";
    EXPECT_EQ(errno, EAGAIN);
    close(ends);

    struct stat info;
    ASSERT_EQ(lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    for (const std::string& name : names)
        EXPECT_FALSE(LockLeft(name)) << name;
    for (const std::string& name : {fifo, link, device})
        unlink(name.c_str());
    rmdir(dir.c_str());
}

// A value of a UTF-16 file is never cut inside a character: our layer's ANSI
// code page, UTF-8, takes two to four bytes for many (Windows-1252 in Wine's
// test prefix takes one for each it has).
TEST(ProfileUnicode, ValueOfAUtf16FileIsNotCutInsideACharacter) {
    std::string path = PathOf("wide_cut.ini");
    std::string file;
    for (char16_t unit : std::u16string(u"\uFEFF[Path]\r\nA=a\u00E9\u4E2D\U0001F600z\r\n")) {
        file += (char)(unit & 0xFF);
        file += (char)(unit >> 8);
    }
    Put(path, file.data(), file.size());
    const std::string value = "a\u00E9\u4E2D\U0001F600z"; // 1 + 2 + 3 + 4 + 1 bytes
    const struct {
        unsigned capacity;
        size_t kept;
    } cuts[] = {{1, 0}, {2, 1}, {3, 1},  {4, 3},   {5, 3},   {6, 3},  {7, 6},
                {8, 6}, {9, 6}, {10, 6}, {11, 10}, {12, 11}, {13, 11}};
    for (const auto& cut : cuts) {
        DWORD returned;
        EXPECT_EQ(Read(path, "Path", "A", "d", cut.capacity, &returned), value.substr(0, cut.kept))
            << "capacity " << cut.capacity;
    }
    remove(path.c_str());
}

#endif
