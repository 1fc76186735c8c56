// Interruptions on Linux. The interrupting signals that are not ignored at
// start are blocked in every thread and received by a watcher thread through
// a signalfd, so they never cut into the plug-in's code; the platform layer's
// child empties its signal mask before exec, so the programs receive them as
// usual. plugin-host becomes a child subreaper: a program whose parent ends
// before it is handed to plugin-host instead of to init, so walking /proc by
// parent process id finds every process started beneath plugin-host.
#include "interrupt.h"
#include "host_io.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const int Interrupting[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

sigset_t Taken;
pthread_t MainThread;
// Sent to the main thread to end a wait there (its handler does nothing and
// is installed without SA_RESTART, so the wait fails with EINTR).
int WakeSignal = 0;
// The processes that have been asked politely to end.
std::vector<pid_t> Warned;

struct ProcessEntry {
    pid_t pid;
    pid_t parent;
    pid_t group;
    bool running; // neither a zombie nor dead
};

// Reads the state, parent and process group of one process from
// /proc/PID/stat; false when it is gone.
bool ReadProcess(pid_t pid, ProcessEntry& entry) {
    char path[64];
    (void)snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char stat[512];
    ssize_t got = read(fd, stat, sizeof stat - 1);
    close(fd);
    if (got <= 0)
        return false;
    stat[got] = '\0';
    // "pid (name) state ppid pgrp ...": the name may hold blanks and
    // parentheses, so the fields start after the last ")".
    const char* end = strrchr(stat, ')');
    if (end == nullptr || end[1] != ' ' || end[2] == '\0' || end[3] != ' ')
        return false;
    char state = end[2];
    char* next = nullptr;
    long parent = strtol(end + 4, &next, 10);
    if (next == end + 4 || *next != ' ')
        return false;
    const char* field = next + 1;
    long group = strtol(field, &next, 10);
    if (next == field)
        return false;
    entry.pid = pid;
    entry.parent = (pid_t)parent;
    entry.group = (pid_t)group;
    entry.running = state != 'Z' && state != 'X';
    return true;
}

// Every process of the system, from a scan of /proc.
std::vector<ProcessEntry> ListProcesses() {
    std::vector<ProcessEntry> all;
    DIR* proc = opendir("/proc");
    if (proc == nullptr)
        return all;
    while (const struct dirent* item = readdir(proc)) {
        char* end = nullptr;
        long pid = strtol(item->d_name, &end, 10);
        ProcessEntry entry;
        if (pid > 0 && *end == '\0' && ReadProcess((pid_t)pid, entry))
            all.push_back(entry);
    }
    closedir(proc);
    return all;
}

// Appends the process ids listed in a /proc/PID/task/TID/children file;
// false when it cannot be opened.
bool ReadChildren(const char* path, std::vector<pid_t>& children) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string list;
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        list.append(buffer, (size_t)got);
    close(fd);
    const char* at = list.c_str();
    for (;;) {
        char* end = nullptr;
        long pid = strtol(at, &end, 10);
        if (end == at)
            return true;
        children.push_back((pid_t)pid);
        at = end;
    }
}

// The children of a process, from the children files of its threads (a
// reparented orphan may be listed under any of them). false when the kernel
// has no children files.
bool ChildrenOf(pid_t pid, std::vector<pid_t>& children) {
    char path[96];
    (void)snprintf(path, sizeof path, "/proc/%d/task", (int)pid);
    DIR* tasks = opendir(path);
    if (tasks == nullptr)
        return errno == ENOENT; // gone: no children
    bool any = false;
    while (const struct dirent* item = readdir(tasks)) {
        if (item->d_name[0] == '.')
            continue;
        (void)snprintf(path, sizeof path, "/proc/%d/task/%.20s/children", (int)pid, item->d_name);
        any = ReadChildren(path, children) || any;
    }
    closedir(tasks);
    return any;
}

// The running processes beneath plugin-host, parents before children: from
// the children files where the kernel has them, which costs a read per
// process beneath plugin-host, else from a scan of every process.
std::vector<ProcessEntry> Descendants() {
    std::vector<ProcessEntry> found;
    std::vector<pid_t> parents(1, getpid());
    std::vector<ProcessEntry> all;
    bool scan = false;
    for (size_t next = 0; next < parents.size(); next++) {
        std::vector<pid_t> children;
        if (!scan && !ChildrenOf(parents[next], children)) {
            scan = true;
            all = ListProcesses();
        }
        if (scan) {
            children.clear();
            for (const ProcessEntry& entry : all)
                if (entry.parent == parents[next])
                    children.push_back(entry.pid);
        }
        for (pid_t child : children) {
            ProcessEntry entry;
            if (ReadProcess(child, entry) && entry.parent == parents[next] && entry.running) {
                found.push_back(entry);
                parents.push_back(child);
            }
        }
    }
    return found;
}

bool Contains(const std::vector<pid_t>& list, pid_t pid) {
    for (pid_t item : list)
        if (item == pid)
            return true;
    return false;
}

// Signals one process of the list just made, through a process file
// descriptor where the kernel has them: once it is open it names that
// process for good, and the process's parent is checked again, so a process
// id reused since the list was made is never signalled.
void SendTo(const ProcessEntry& entry, const std::vector<pid_t>& parents, int number) {
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    int fd = (int)syscall(SYS_pidfd_open, entry.pid, 0);
    if (fd >= 0) {
        ProcessEntry now;
        if (ReadProcess(entry.pid, now) && Contains(parents, now.parent))
            syscall(SYS_pidfd_send_signal, fd, number, nullptr, 0);
        close(fd);
        return;
    }
    if (errno != ENOSYS)
        return; // gone already
#endif
    (void)parents;
    kill(entry.pid, number);
}

void Wake(int number) {
    (void)number;
}

// Reads the taken signals; set once, before the watcher starts.
int SignalReader = -1;

int TakeSignal() {
    struct signalfd_siginfo info;
    if (read(SignalReader, &info, sizeof info) != (ssize_t)sizeof info)
        return 0;
    return 128 + (int)info.ssi_signo;
}

// Waits until a taken signal is pending, then has OnInterrupt take it, so
// that it is taken under the phase lock.
void* Watch(void* unused) {
    (void)unused;
    for (;;) {
        struct pollfd watch = {SignalReader, POLLIN, 0};
        if (poll(&watch, 1, -1) > 0)
            OnInterrupt(TakeSignal);
    }
    return nullptr;
}

} // namespace

void TakeOverInterrupts() {
    sigemptyset(&Taken);
    bool any = false;
    for (int number : Interrupting) {
        struct sigaction current;
        if (sigaction(number, nullptr, &current) != 0)
            continue;
        bool ignored = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN;
        if (!ignored) {
            sigaddset(&Taken, number);
            any = true;
        }
    }
    if (!any)
        return;
    // Own messages keep going where they went when the plug-in's are muted.
    int messages = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (messages >= 0)
        SetMessageDescriptor(messages);
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    MainThread = pthread_self();
    WakeSignal = SIGRTMIN;
    struct sigaction wake;
    memset(&wake, 0, sizeof wake);
    wake.sa_handler = Wake;
    sigemptyset(&wake.sa_mask);
    sigaction(WakeSignal, &wake, nullptr);

    // The watcher starts with every signal blocked; the main thread keeps the
    // interrupting ones blocked.
    pthread_sigmask(SIG_BLOCK, &Taken, nullptr);
    SignalReader = signalfd(-1, &Taken, SFD_CLOEXEC | SFD_NONBLOCK);
    if (SignalReader < 0) {
        pthread_sigmask(SIG_UNBLOCK, &Taken, nullptr); // the signals' defaults, then
        return;
    }
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t watcher;
    bool started = pthread_create(&watcher, nullptr, Watch, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (started)
        pthread_detach(watcher);
    else
        pthread_sigmask(SIG_UNBLOCK, &Taken, nullptr); // the signals' defaults, then
}

int PendingInterrupt() {
    sigset_t pending;
    if (sigpending(&pending) != 0)
        return 0;
    for (int number : Interrupting)
        if (sigismember(&Taken, number) && sigismember(&pending, number))
            return 128 + number;
    return 0;
}

bool SignalDescendants(bool forcefully) {
    std::vector<ProcessEntry> found = Descendants();
    std::vector<pid_t> parents(1, getpid());
    for (const ProcessEntry& entry : found)
        parents.push_back(entry.pid);
    pid_t ownGroup = getpgrp();
    for (const ProcessEntry& entry : found) {
        if (!forcefully && Contains(Warned, entry.pid))
            continue;
        int number = forcefully ? SIGKILL : SIGTERM;
        SendTo(entry, parents, number);
        // A program that leads a process group of its own (a run with a time
        // limit) may have members elsewhere in it.
        if (entry.group == entry.pid && entry.group != ownGroup)
            kill(-entry.group, number);
        if (!forcefully)
            Warned.push_back(entry.pid);
    }
    return !found.empty();
}

void WakeMainThread() {
    pthread_kill(MainThread, WakeSignal);
}

void MuteMessages() {
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

void ExitAtOnce(int status) {
    _exit(status);
}

void PauseBriefly() {
    const struct timespec pause = {0, 20L * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

const char* InterruptName(int status) {
    switch (status - 128) {
    case SIGHUP:
        return "SIGHUP";
    case SIGINT:
        return "SIGINT";
    case SIGQUIT:
        return "SIGQUIT";
    case SIGTERM:
        return "SIGTERM";
    default:
        return "a signal";
    }
}
