// Finding and ending a tree of processes (tree.h).
#include "posix/tree.h"
#include "posix/proc.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// Passes of one walk; a later walk goes on from there.
static const int MaxPasses = 8;
// How long one round of EndTree waits for its members to end, in ms.
static const long long RoundWait = 200;
// Without process descriptors: the longest pause between rounds, in ms.
static const long MaxPause = 100;

bool IsSubreaper() {
    int value = 0;
    return prctl(PR_GET_CHILD_SUBREAPER, &value, 0, 0, 0) == 0 && value != 0;
}

static bool HasMember(const ProcessTree* tree, pid_t pid) {
    for (size_t i = 0; i < tree->count; i++) {
        if (tree->members[i].pid == pid)
            return true;
    }
    return false;
}

// Whether a living process belongs to the tree as it stands.
static bool Belongs(const ProcessTree* tree, const ProcessStat* stat, pid_t self) {
    if (stat->pid == self)
        return false;
    if (tree->root != 0 && stat->pid == tree->root)
        return tree->rootIncluded;
    if (tree->root != 0 && stat->parent == tree->root)
        return true;
    if (tree->group != 0 && stat->group == tree->group)
        return true;
    if (HasMember(tree, stat->parent))
        return true;
    return tree->adopt && stat->parent == self && stat->startTime >= tree->since &&
           (tree->startedHere == NULL || !tree->startedHere(stat->pid));
}

// A process file descriptor for pid; -1 with ENOSYS where the kernel has
// none, with another errno when the process is gone.
static int OpenProcess(pid_t pid) {
#ifdef SYS_pidfd_open
    return (int)syscall(SYS_pidfd_open, pid, 0);
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

void SignalMember(const TreeMember* member, int signal) {
#ifdef SYS_pidfd_send_signal
    if (member->handle >= 0) {
        syscall(SYS_pidfd_send_signal, member->handle, signal, NULL, 0);
        return;
    }
#endif
    kill(member->pid, signal);
}

// Takes a process found by the walk as a member: opens it, and keeps it
// only if it is still the process found (same start time) and still
// living. Sends it the signal, if any. false when it was not taken.
static bool Take(ProcessTree* tree, const ProcessStat* found, int signal) {
    int handle = OpenProcess(found->pid);
    if (handle < 0 && errno != ENOSYS)
        return false; // gone since the walk read it
    ProcessStat again;
    if (!ReadProcessStat(found->pid, &again) || !IsLiving(&again) ||
        again.startTime != found->startTime) {
        if (handle >= 0)
            close(handle);
        return false;
    }
    TreeMember* member = &tree->members[tree->count++];
    member->pid = found->pid;
    member->startTime = found->startTime;
    member->handle = handle;
    member->parent = false;
    member->killed = false;
    if (signal != 0)
        SignalMember(member, signal);
    return true;
}

// One pass over the list: takes every living process that belongs and is
// not a member yet. The number taken.
static int Pass(ProcessTree* tree, ProcessList* list, int signal, pid_t self) {
    int taken = 0;
    for (pid_t pid; (pid = NextProcess(list)) != 0;) {
        if (pid == self || HasMember(tree, pid))
            continue;
        ProcessStat stat;
        if (!ReadProcessStat(pid, &stat) || !IsLiving(&stat) || !Belongs(tree, &stat, self))
            continue;
        if (tree->count == TREE_CAPACITY) {
            tree->full = true;
            return taken;
        }
        if (Take(tree, &stat, signal))
            taken++;
    }
    return taken;
}

int FindTree(ProcessTree* tree, int signal) {
    ReleaseTree(tree);
    ProcessList list;
    if (!OpenProcessList(&list))
        return -1;
    if (signal != 0 && tree->group != 0)
        kill(-tree->group, signal);
    pid_t self = getpid();
    for (int pass = 0; pass < MaxPasses; pass++) {
        if (pass > 0)
            RewindProcessList(&list);
        if (Pass(tree, &list, signal, self) == 0 || tree->full)
            break;
    }
    CloseProcessList(&list);
    return (int)tree->count;
}

void ReleaseTree(ProcessTree* tree) {
    for (size_t i = 0; i < tree->count; i++) {
        if (tree->members[i].handle >= 0)
            close(tree->members[i].handle);
    }
    tree->count = 0;
    tree->full = false;
}

static long long MillisecondsSince(const struct timespec* start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)(now.tv_sec - start->tv_sec) * 1000 +
           (now.tv_nsec - start->tv_nsec) / 1000000;
}

// Marks the members that are the parent of a living process: ending one of
// them would hand its children to init, out of the walk's reach.
static void MarkParents(ProcessTree* tree) {
    for (size_t i = 0; i < tree->count; i++)
        tree->members[i].parent = false;
    ProcessList list;
    if (!OpenProcessList(&list))
        return;
    for (pid_t pid; (pid = NextProcess(&list)) != 0;) {
        ProcessStat stat;
        if (!ReadProcessStat(pid, &stat) || !IsLiving(&stat))
            continue;
        for (size_t i = 0; i < tree->count; i++) {
            if (tree->members[i].pid == stat.parent)
                tree->members[i].parent = true;
        }
    }
    CloseProcessList(&list);
}

// Kills the members the round may end: all of them, and the group, when the
// walk found the whole tree. When it did not (the members filled the
// array), only those without living children, so that no process the walk
// has not reached yet loses its parent; the others stay stopped for the
// next round, which finds the rest. A walk whose members are all parents
// (a chain longer than the array) ends them all. Marks the killed ones.
static void KillRound(ProcessTree* tree) {
    bool leaves = false;
    if (tree->full) {
        MarkParents(tree);
        for (size_t i = 0; i < tree->count && !leaves; i++)
            leaves = !tree->members[i].parent;
    }
    for (size_t i = 0; i < tree->count; i++) {
        TreeMember* member = &tree->members[i];
        member->killed = !leaves || !member->parent;
        if (member->killed)
            SignalMember(member, SIGKILL);
    }
    if (!tree->full && tree->group != 0)
        kill(-tree->group, SIGKILL);
}

// Waits until every killed member has ended, for at most RoundWait in
// all: a process descriptor becomes readable when its process ends. Where
// there are none, pauses instead, longer each round.
static void AwaitMembers(const ProcessTree* tree, int round) {
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    bool handles = false;
    for (size_t i = 0; i < tree->count; i++) {
        if (tree->members[i].handle < 0 || !tree->members[i].killed)
            continue;
        handles = true;
        long long left = RoundWait - MillisecondsSince(&start);
        struct pollfd watch = {tree->members[i].handle, POLLIN, 0};
        while (left > 0 && poll(&watch, 1, (int)left) < 0 && errno == EINTR)
            left = RoundWait - MillisecondsSince(&start);
    }
    if (!handles) {
        long pause = round < 7 ? 1L << round : MaxPause;
        struct timespec step = {0, (pause > MaxPause ? MaxPause : pause) * 1000000L};
        nanosleep(&step, NULL);
    }
}

int EndTree(ProcessTree* tree) {
    int first = -1;
    for (int round = 0; round < TREE_ROUNDS; round++) {
        int found = FindTree(tree, SIGSTOP);
        if (found < 0)
            return first; // /proc went away meanwhile: what it showed was ended
        if (first < 0)
            first = found;
        if (found == 0)
            return first;
        KillRound(tree);
        AwaitMembers(tree, round);
        ReleaseTree(tree);
    }
    return first;
}

static void* NoteThreadId(void* id) {
    *(pid_t*)id = (pid_t)syscall(SYS_gettid);
    return NULL;
}

// The newest process id the system has given out, or 0 when no thread can
// be started to learn it.
static pid_t NewestProcessId() {
    pid_t id = 0;
    pthread_t thread;
    if (pthread_create(&thread, NULL, NoteThreadId, &id) != 0)
        return 0;
    pthread_join(thread, NULL);
    return id;
}

// Whether pid is a child of the caller, ended or not.
static bool IsChild(pid_t pid) {
    siginfo_t info;
    memset(&info, 0, sizeof info);
    return waitid(P_PID, (id_t)pid, &info, WEXITED | WSTOPPED | WCONTINUED | WNOHANG | WNOWAIT) ==
           0;
}

bool HasChildren() {
    siginfo_t info;
    memset(&info, 0, sizeof info);
    return waitid(P_ALL, 0, &info, WEXITED | WSTOPPED | WCONTINUED | WNOHANG | WNOWAIT) == 0;
}

size_t ListChildren(pid_t* children, size_t capacity) {
    if (!HasChildren())
        return 0;                  // ECHILD: none
    const pid_t Largest = 4194304; // the kernel's limit of process ids
    pid_t self = getpid();
    pid_t newest = NewestProcessId();
    size_t count = 0;
    pid_t last = newest > self ? newest : Largest;
    for (pid_t pid = self + 1; pid <= last && count < capacity; pid++) {
        if (IsChild(pid))
            children[count++] = pid;
    }
    for (pid_t pid = 2; newest < self && pid <= newest && count < capacity; pid++) {
        if (IsChild(pid))
            children[count++] = pid;
    }
    return count;
}
