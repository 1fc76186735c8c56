// The POSIX plumbing the platform layer and plugin-host share (posix/): the
// /proc/PID/stat parser and the /proc listing on real processes, the walker
// on real process trees, the lock beside a file, and the write loop under a
// real file-size limit. Linux only.
#include "posix/proc.h"
#include "posix/replace.h"
#include "posix/tree.h"
#include "posix/write_all.h"

#include "support/posix_process.h"
#include "support/test_system.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// --- Processes the tests start ----------------------------------------------

// A process that sleeps until it is killed.
[[noreturn]] void SleepForever() {
    for (;;)
        pause();
}

// Runs body in a child, which then sleeps, whose own children report their
// ids through a pipe; returns the child's id, and the ids reported in
// *reported (count of them).
pid_t StartTree(void (*body)(int report), size_t count, std::vector<pid_t>* reported) {
    return StartReporting(
        [body](int report) {
            body(report);
            SleepForever();
        },
        count, reported);
}

// A child that sleeps in a session of its own.
pid_t SessionOfItsOwn() {
    pid_t pid = fork();
    if (pid == 0) {
        setsid();
        SleepForever();
    }
    return pid;
}

// Whether the process lives: neither gone nor a zombie.
bool Lives(pid_t pid) {
    return !ProcessEndsWithin((unsigned long)pid, 0);
}

void Reap(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// --- /proc/PID/stat ---------------------------------------------------------

TEST(ProcessStat, FieldsAreReadAfterTheLastParenthesis) {
    // The name holds ") (", blanks and digits; priority and nice are
    // negative; the start time is the 22nd field.
    const char text[] = "4242 (a) (b 7 8) c) T 17 4242 99 34817 4242 4194560 1 2 3 4 5 6 7 8 "
                        "-2 -20 1 0 123456789 0 0\n";
    ProcessStat stat = {};
    ASSERT_TRUE(ParseProcessStat(text, sizeof text - 1, &stat));
    EXPECT_EQ(4242, stat.pid);
    EXPECT_EQ('T', stat.state);
    EXPECT_EQ(17, stat.parent);
    EXPECT_EQ(4242, stat.group);
    EXPECT_EQ(99, stat.session);
    EXPECT_EQ(123456789ull, stat.startTime);
    EXPECT_TRUE(IsLiving(&stat));
    stat.state = 'Z';
    EXPECT_FALSE(IsLiving(&stat));
    // Cut before the start time, without a name's end, or not a number.
    const char* broken[] = {"4242 (a) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18",
                            "4242 (a S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21",
                            "4242 (a) S x 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21",
                            "(a) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21", ""};
    for (const char* line : broken)
        EXPECT_FALSE(ParseProcessStat(line, strlen(line), &stat)) << line;
}

TEST(ProcessStat, OfARealProcessWhoseNameHoldsParenthesesAndBlanks) {
    unsigned long long before = TicksSinceBoot();
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_NAME, ") (x) 1 2 (", 0, 0, 0);
        if (write(ready[1], "r", 1) != 1)
            _exit(3);
        SleepForever();
    }
    char go;
    ASSERT_EQ(1, read(ready[0], &go, 1));
    close(ready[0]);
    close(ready[1]);
    ProcessStat stat = {};
    ASSERT_TRUE(ReadProcessStat(pid, &stat));
    EXPECT_EQ(pid, stat.pid);
    EXPECT_NE(std::string::npos, std::string("RS").find(stat.state)) << stat.state;
    EXPECT_EQ(getpid(), stat.parent);
    EXPECT_EQ(pid, stat.group);
    EXPECT_EQ(getsid(0), stat.session);
    EXPECT_GE(stat.startTime, before);
    EXPECT_LE(stat.startTime, TicksSinceBoot());
    kill(pid, SIGKILL);
    siginfo_t info = {};
    ASSERT_EQ(0, waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT));
    ASSERT_TRUE(ReadProcessStat(pid, &stat));
    EXPECT_FALSE(IsLiving(&stat)) << "a zombie has ended";
    waitpid(pid, nullptr, 0);
    EXPECT_FALSE(ReadProcessStat(pid, &stat));
}

// --- The /proc listing --------------------------------------------------------

int ListsNothingWithoutProc() {
    ProcessList list;
    return !OpenProcessList(&list) && errno == ENOENT ? 0 : 1;
}

TEST(ProcessList, ListsEveryProcessAndRefusesAnEmptyMountOverProc) {
    pid_t child = fork();
    if (child == 0)
        SleepForever();
    ProcessList list;
    ASSERT_TRUE(OpenProcessList(&list));
    // Two passes, as the walker makes them: the same ids, in increasing order.
    std::vector<pid_t> passes[2];
    for (std::vector<pid_t>& pass : passes) {
        for (pid_t pid; (pid = NextProcess(&list)) != 0;)
            pass.push_back(pid);
        RewindProcessList(&list);
    }
    CloseProcessList(&list);
    Reap(child);
    for (const std::vector<pid_t>& pass : passes) {
        EXPECT_NE(pass.end(), std::find(pass.begin(), pass.end(), getpid()));
        EXPECT_NE(pass.end(), std::find(pass.begin(), pass.end(), child));
        EXPECT_TRUE(std::is_sorted(pass.begin(), pass.end()));
    }
    int status = WithoutProc(ListsNothingWithoutProc);
    if (status == 77)
        GTEST_SKIP() << "no mount namespace of its own can be made here (needs root)";
    EXPECT_EQ(0, status) << "a tmpfs over /proc was taken for the proc file system";
}

// --- The walker -----------------------------------------------------------------

// The root of the test tree reports: a child in a session of its own, its
// child, and a child in a group of its own.
void EscapingTree(int report) {
    int inner[2];
    if (pipe(inner) != 0)
        _exit(3);
    pid_t leader = fork();
    if (leader == 0) {
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0)
            SleepForever();
        Report(inner[1], grandchild);
        SleepForever();
    }
    pid_t grandchild = 0;
    if (read(inner[0], &grandchild, sizeof grandchild) != (ssize_t)sizeof grandchild)
        _exit(3);
    pid_t grouped = fork();
    if (grouped == 0) {
        setpgid(0, 0);
        SleepForever();
    }
    Report(report, leader);
    Report(report, grandchild);
    Report(report, grouped);
}

std::vector<pid_t> Members(const ProcessTree& tree) {
    std::vector<pid_t> pids;
    for (size_t i = 0; i < tree.count; i++)
        pids.push_back(tree.members[i].pid);
    std::sort(pids.begin(), pids.end());
    return pids;
}

ProcessTree Tree;

void Reset(pid_t root, bool included, pid_t group) {
    ReleaseTree(&Tree);
    Tree.root = root;
    Tree.rootIncluded = included;
    Tree.group = group;
    Tree.adopt = false;
    Tree.since = 0;
    Tree.startedHere = nullptr;
}

TEST(Tree, FindsWhatLeftTheGroupAndEndsItButNothingElse) {
    pid_t bystander = fork(); // this process's child, outside the tree
    if (bystander == 0)
        SleepForever();
    std::vector<pid_t> reported;
    pid_t root = StartTree(EscapingTree, 3, &reported);
    ASSERT_GT(root, 0);
    ASSERT_TRUE(reported[0] > 0 && reported[1] > 0 && reported[2] > 0);
    Reset(root, true, root);
    ASSERT_EQ(4, FindTree(&Tree, 0));
    std::vector<pid_t> expected = {root, reported[0], reported[1], reported[2]};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Members(Tree));
    for (size_t i = 0; i < Tree.count; i++)
        EXPECT_GE(Tree.members[i].handle, 0) << "no process descriptor";
    // Without the root itself: its descendants only.
    Reset(root, false, 0);
    EXPECT_EQ(3, FindTree(&Tree, 0));

    Reset(root, true, root);
    EXPECT_EQ(4, EndTree(&Tree));
    for (pid_t pid : expected)
        EXPECT_FALSE(Lives(pid)) << pid << " outlived EndTree";
    EXPECT_TRUE(Lives(bystander)) << "a process outside the tree was ended";
    EXPECT_EQ(0u, Tree.count);
    EXPECT_EQ(0, EndTree(&Tree)) << "nothing is left to end";
    waitpid(root, nullptr, 0);
    Reap(bystander);
}

// The root starts more children than a walk holds.
const int ManyCount = TREE_CAPACITY + 40;
void ManyChildren(int report) {
    for (int i = 0; i < ManyCount; i++) {
        pid_t pid = fork();
        if (pid == 0)
            SleepForever();
        Report(report, pid);
    }
}

TEST(Tree, LargerThanTheArrayIsEndedByWalkingAgain) {
    std::vector<pid_t> children;
    pid_t root = StartTree(ManyChildren, ManyCount, &children);
    ASSERT_GT(children.back(), 0);
    Reset(root, true, 0);
    ASSERT_EQ(TREE_CAPACITY, FindTree(&Tree, 0));
    EXPECT_TRUE(Tree.full);
    Reset(root, true, 0);
    EXPECT_EQ(TREE_CAPACITY, EndTree(&Tree)) << "the first round holds a full array";
    waitpid(root, nullptr, 0);
    int living = 0;
    for (pid_t pid : children)
        living += Lives(pid) ? 1 : 0;
    EXPECT_EQ(0, living);
}

// Leaves an orphan in a session of its own, adopted by this process as a
// subreaper; its id.
pid_t LeaveOrphan() {
    int ends[2];
    if (pipe(ends) != 0)
        return -1;
    pid_t middle = fork();
    if (middle == 0) {
        Report(ends[1], SessionOfItsOwn());
        _exit(0);
    }
    pid_t orphan = -1;
    if (read(ends[0], &orphan, sizeof orphan) != (ssize_t)sizeof orphan)
        orphan = -1;
    waitpid(middle, nullptr, 0);
    close(ends[0]);
    close(ends[1]);
    return orphan;
}

pid_t Claimed = 0;
bool ClaimedHere(pid_t pid) {
    return pid == Claimed;
}

TEST(Tree, AdoptedOrphansCountFromTheirStartTime) {
    ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0));
    pid_t older = LeaveOrphan();
    // Start times are clock ticks: let one pass.
    struct timespec tick = {0, 30L * 1000 * 1000};
    nanosleep(&tick, nullptr);
    unsigned long long since = TicksSinceBoot();
    pid_t newer = LeaveOrphan();
    pid_t claimed = SessionOfItsOwn();
    Claimed = claimed;
    Reset(0, false, 0);
    Tree.adopt = true;
    Tree.since = since;
    Tree.startedHere = ClaimedHere;
    ASSERT_EQ(1, FindTree(&Tree, 0));
    EXPECT_EQ(std::vector<pid_t>{newer}, Members(Tree));
    Tree.adopt = false;
    EXPECT_EQ(0, FindTree(&Tree, 0)) << "orphans are counted only for a subreaper";
    ReleaseTree(&Tree);
    prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
    for (pid_t pid : {older, newer, claimed})
        Reap(pid);
}

pid_t Sleeper = 0;

// In a namespace without /proc: EndTree signals nothing and says so.
int EndsNothingWithoutProc() {
    Reset(Sleeper, true, Sleeper);
    if (EndTree(&Tree) != -1 || errno != ENOENT)
        return 1;
    return FindTree(&Tree, SIGKILL) == -1 ? 0 : 2;
}

TEST(Tree, WithoutProcNothingIsSignalled) {
    Sleeper = fork();
    if (Sleeper == 0) {
        setpgid(0, 0);
        SleepForever();
    }
    setpgid(Sleeper, Sleeper);
    int status = WithoutProc(EndsNothingWithoutProc);
    EXPECT_TRUE(Lives(Sleeper));
    Reap(Sleeper);
    if (status == 77)
        GTEST_SKIP() << "no mount namespace of its own can be made here (needs root)";
    EXPECT_EQ(0, status);
}

// Without /proc: a running child and an ended one are listed, a grandchild
// is not; 0, or the step that failed.
int ListsChildrenWithoutProc() {
    pid_t none[4];
    if (ListChildren(none, 4) != 0)
        return 1;
    std::vector<pid_t> reported;
    pid_t running = StartTree([](int report) { Report(report, SessionOfItsOwn()); }, 1, &reported);
    pid_t ended = fork();
    if (ended == 0)
        _exit(0);
    siginfo_t info = {};
    waitid(P_PID, (id_t)ended, &info, WEXITED | WNOWAIT);
    pid_t children[4];
    size_t count = ListChildren(children, 4);
    std::vector<pid_t> listed(children, children + count);
    std::sort(listed.begin(), listed.end());
    std::vector<pid_t> expected = {running, ended};
    std::sort(expected.begin(), expected.end());
    int result = listed == expected ? 0 : 2;
    kill(reported[0], SIGKILL);
    kill(running, SIGKILL);
    return result;
}

TEST(Tree, ChildrenAreListedWithoutProc) {
    int status = WithoutProc(ListsChildrenWithoutProc);
    if (status == 77)
        GTEST_SKIP() << "no mount namespace of its own can be made here (needs root)";
    EXPECT_EQ(0, status);
}

// --- The lock beside a file -----------------------------------------------------

std::string Bytes(const std::string& path) {
    std::string bytes;
    return ReadBytes(path, bytes) ? bytes : "<none>";
}

TEST(Replace, LockTakesTheFilesPlaceWithItsOwnerGroupAndMode) {
    TempDir dir("ep-posix");
    std::string path = dir.Join("file");
    ASSERT_TRUE(WriteBytes(path, "old"));
    ASSERT_EQ(0, chown(path.c_str(), 65534, 65534));
    ASSERT_EQ(0, chmod(path.c_str(), 02640));
    struct stat original;
    ASSERT_EQ(0, stat(path.c_str(), &original));
    char lock[4096];
    int fd = CreateLock(path.c_str(), lock, sizeof lock);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(path + ".lock", lock);
    EXPECT_EQ(-1, CreateLock(path.c_str(), lock, sizeof lock)) << "a young lock is another's";
    EXPECT_EQ(EEXIST, errno);
    ASSERT_TRUE(WriteAllBytes(fd, "new", 3, nullptr));
    ASSERT_TRUE(CommitLock(fd, (path + ".lock").c_str(), path.c_str(), &original));
    struct stat now;
    ASSERT_EQ(0, stat(path.c_str(), &now));
    EXPECT_EQ("new", Bytes(path));
    EXPECT_NE(original.st_ino, now.st_ino) << "the file was rewritten, not replaced";
    EXPECT_EQ(65534u, now.st_uid);
    EXPECT_EQ(65534u, now.st_gid);
    EXPECT_EQ(02640u, now.st_mode & 07777);
    EXPECT_FALSE(FileExists(path + ".lock"));
}

TEST(Replace, StaleLockIsTakenOverAndItsWriterCannotCommit) {
    TempDir dir("ep-posix");
    std::string path = dir.Join("file");
    std::string lockName = path + ".lock";
    ASSERT_TRUE(WriteBytes(path, "old"));
    char lock[4096];
    int stalled = CreateLock(path.c_str(), lock, sizeof lock);
    ASSERT_GE(stalled, 0);
    // Last written two minutes ago: its writer is taken for dead.
    struct timespec old[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, lockName.c_str(), old, 0));
    int fd = CreateLock(path.c_str(), lock, sizeof lock);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAllBytes(stalled, "stale", 5, nullptr));
    EXPECT_FALSE(CommitLock(stalled, lockName.c_str(), path.c_str(), nullptr));
    EXPECT_EQ(EEXIST, errno);
    EXPECT_EQ("old", Bytes(path));
    EXPECT_TRUE(FileExists(lockName)) << "the other writer's lock was removed";
    DropLock(fd, lockName.c_str());
    EXPECT_FALSE(FileExists(lockName));
    EXPECT_EQ("old", Bytes(path));
}

// --- The write loop -------------------------------------------------------------

TEST(WriteAll, FileSizeLimitEndsTheLoopWithWhatReachedTheFile) {
    TempDir dir("ep-posix");
    std::string path = dir.Join("limited");
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::string bytes(5000, 'b');
        size_t written = 0;
        bool ok = WriteAllBytes(fd, bytes.data(), bytes.size(), &written);
        _exit(!ok && errno == EFBIG && written == 1000 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(std::string(1000, 'b'), Bytes(path));
}

} // namespace
