// Interruptions on Linux. The interrupting signals that are not ignored at
// start are blocked in every thread and received by a watcher thread through
// a signalfd, so they never cut into the plug-in's code; the platform layer's
// child empties its signal mask before exec, so the programs receive them as
// usual. plugin-host becomes a child subreaper: a program whose parent ends
// before it is handed to plugin-host instead of to init, so walking /proc by
// parent process id (posix/tree.h) finds every process started beneath
// plugin-host; the orphans it adopts are reaped between runs (ReapOrphans).
#include "interrupt.h"
#include "host_io.h"

#include "posix/tree.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

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

// The processes beneath plugin-host, found in /proc by the POSIX plumbing's
// walker: its descendants by parent. As a child subreaper plugin-host adopts
// every orphan beneath it, so a process that leaves its program's group or
// loses its parent is still found.
ProcessTree Beneath;

// Without /proc: the process groups of plugin-host's children, recorded as
// they are found, each ended as a whole (every program leads a group of its
// own); an id stays taken as long as the group has members.
std::vector<pid_t> Groups;

bool Contains(const std::vector<pid_t>& list, pid_t pid) {
    for (pid_t item : list)
        if (item == pid)
            return true;
    return false;
}

// Without /proc there is no telling what still runs in a group, nor any
// grace to give: every child's group is ended at once, with the child.
void EndGroupsAtOnce() {
    pid_t children[256];
    size_t count = ListChildren(children, sizeof children / sizeof children[0]);
    for (size_t i = 0; i < count; i++) {
        if (!Contains(Groups, children[i]))
            Groups.push_back(children[i]);
        kill(children[i], SIGKILL); // a child of ours: its id cannot have been reused
    }
    for (pid_t group : Groups)
        kill(-group, SIGKILL);
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
    // Without the reaping at exit, the orphans are still reaped after each run.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) == 0)
        (void)atexit(ReapOrphans);
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
    Beneath.root = getpid();
    Beneath.rootIncluded = false;
    Beneath.group = 0;
    Beneath.adopt = false;
    Beneath.startedHere = nullptr;
    int found;
    if (forcefully) {
        found = EndTree(&Beneath);
    } else {
        found = FindTree(&Beneath, 0);
        for (size_t i = 0; i < Beneath.count; i++) {
            if (Contains(Warned, Beneath.members[i].pid))
                continue;
            SignalMember(&Beneath.members[i], SIGTERM);
            Warned.push_back(Beneath.members[i].pid);
        }
        ReleaseTree(&Beneath);
    }
    if (found >= 0)
        return found > 0;
    EndGroupsAtOnce();
    return false;
}

void ReapOrphans() {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
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
