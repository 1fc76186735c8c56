// Starting and waiting for processes, with the meaning CreateProcessA and
// WaitForSingleObject have for the plug-in. A program is started with vfork
// and execve, with no shell in between. The command line is split the way
// Windows programs split their own (cmdline.cpp), and the program is looked
// up as execvp looks it up. Nothing here allocates memory: the arguments,
// the paths to try and what the child needs live in module-wide arrays,
// prepared before vfork, so that the child only makes async-signal-safe calls.
#include "cmdline.h"
#include "handles.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// POSIX leaves this declaration to the program; glibc makes it only for
// _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

// Longest command line taken; the split of any such line fits the arrays.
static const size_t CommandLineLimit = MAX_PATH - 1;

static char ArgumentText[SPLIT_STORAGE_SIZE];
static char* Arguments[SPLIT_MAX_ARGS];
// The paths to try, in execvp's order, each with its terminator; an empty
// string ends the list.
static char Candidates[16384];
// What the child puts on descriptors 0 to 2; -1 leaves one as it is.
static int ChildStandard[3];
// The dispositions and the mask the child starts with.
static struct sigaction DefaultAction;
static sigset_t EmptyMask;
// The error number of a child that could not start. The child shares the
// parent's memory until it calls execve or _exit, so the parent reads it
// after vfork returns; 0 means the program is running.
static volatile int ChildError;
// The null device while a start is being prepared, or -1.
static int NullDevice = -1;

// Appends one path to Candidates at *used; E2BIG when the list is full.
static int AddCandidate(size_t* used, const char* dir, size_t dirLength, const char* name) {
    size_t nameLength = strlen(name);
    size_t length = dirLength + (dirLength > 0 ? 1 : 0) + nameLength;
    if (length >= PATH_MAX)
        return 0; // execvp skips such entries too
    if (*used + length + 2 > sizeof Candidates)
        return E2BIG;
    char* at = Candidates + *used;
    memcpy(at, dir, dirLength);
    if (dirLength > 0)
        at[dirLength++] = '/';
    memcpy(at + dirLength, name, nameLength + 1);
    *used += length + 1;
    Candidates[*used] = '\0';
    return 0;
}

// Lists the paths execvp would try for a program name: the name itself when
// it holds a "/"; otherwise each entry of PATH ("/bin:/usr/bin" when PATH is
// not set) followed by "/" and the name, where an empty entry stands for the
// current directory. Returns 0 or an error number.
static int ListCandidates(const char* name) {
    size_t used = 0;
    Candidates[0] = '\0';
    if (name[0] == '\0')
        return ENOENT;
    if (strchr(name, '/') != NULL)
        return AddCandidate(&used, "", 0, name);
    if (strlen(name) > NAME_MAX)
        return ENAMETOOLONG;
    const char* path = getenv("PATH");
    if (path == NULL)
        path = "/bin:/usr/bin";
    for (const char* entry = path;;) {
        const char* end = strchr(entry, ':');
        size_t length = end != NULL ? (size_t)(end - entry) : strlen(entry);
        int error = AddCandidate(&used, entry, length, name);
        if (error != 0)
            return error;
        if (end == NULL)
            return 0;
        entry = end + 1;
    }
}

// Tries the candidates in turn as execvp does: a missing file, or one that
// may not be run, moves on to the next (EACCES is remembered and reported if
// nothing runs); any other error ends the search. Unlike execvp, a file
// without a valid header (ENOEXEC) is not handed to /bin/sh. Runs in the
// child; returns only on failure, with the error number.
static int ExecCandidates() {
    int error = ENOENT;
    bool denied = false;
    for (const char* path = Candidates; *path != '\0'; path += strlen(path) + 1) {
        execve(path, Arguments, environ);
        error = errno;
        if (error == EACCES)
            denied = true;
        else if (error != ENOENT && error != ENOTDIR && error != ESTALE && error != ENODEV &&
                 error != ETIMEDOUT)
            return error;
    }
    return denied ? EACCES : error;
}

// The child between vfork and execve. It has its own signal dispositions,
// but shares the parent's memory and stack, so it uses only module-wide data
// and async-signal-safe calls, and leaves through execve or _exit.
[[noreturn]] static void RunChild() {
    for (int number = 1; number < NSIG; number++)
        sigaction(number, &DefaultAction, NULL); // fails harmlessly where not allowed
    sigprocmask(SIG_SETMASK, &EmptyMask, NULL);
    int error = 0;
    for (int fd = 0; fd < 3 && error == 0; fd++) {
        if (ChildStandard[fd] >= 0 && dup2(ChildStandard[fd], fd) < 0)
            error = errno;
    }
    if (error == 0)
        error = ExecCandidates();
    ChildError = error;
    _exit(127);
}

// vfork apart from everything else, so that no local variable of a caller
// lives across it. Returns the child's pid, or -1. vfork is chosen over fork
// so that the parent learns of a failed start before it returns, and the
// child calls nothing but RunChild's async-signal-safe calls, which the
// analyzer's vfork checks do not know to allow.
static pid_t StartChild() {
    // cppcheck-suppress vforkCalled
    pid_t pid = vfork(); // NOLINT(clang-analyzer-security.insecureAPI.vfork)
    if (pid == 0)
        RunChild(); // NOLINT(clang-analyzer-unix.Vfork)
    return pid;
}

// Splits the command line into Arguments and lists where to look for the
// program. Returns 0 or an error number.
static int PrepareArguments(const char* commandLine) {
    if (strnlen(commandLine, CommandLineLimit + 1) > CommandLineLimit)
        return E2BIG;
    if (SplitCommandLine(commandLine, ArgumentText, sizeof ArgumentText, Arguments,
                         SPLIT_MAX_ARGS) < 0)
        return E2BIG;
    return ListCandidates(Arguments[0]);
}

// The descriptor a standard handle stands for: the null device for NULL or
// INVALID_HANDLE_VALUE, else the descriptor of a file handle. -1 with the
// error number in *error when it is neither.
static int StandardDescriptor(HANDLE handle, int* error) {
    if (handle == NULL || handle == INVALID_HANDLE_VALUE) {
        if (NullDevice < 0) {
            NullDevice = KeepAboveStandard(open("/dev/null", O_RDWR | O_CLOEXEC));
            if (NullDevice < 0)
                *error = errno;
        }
        return NullDevice;
    }
    HandleSlot* slot = LookupHandle(handle, HANDLE_FILE);
    if (slot == NULL)
        *error = EBADF;
    return slot != NULL ? slot->fd : -1;
}

// Fills ChildStandard from the start-up information. Returns 0 or an error
// number.
static int PrepareStandard(const STARTUPINFOA* startup) {
    ChildStandard[0] = ChildStandard[1] = ChildStandard[2] = -1;
    if (!(startup->dwFlags & STARTF_USESTDHANDLES))
        return 0;
    int error = 0;
    ChildStandard[0] = StandardDescriptor(startup->hStdInput, &error);
    if (error == 0)
        ChildStandard[1] = StandardDescriptor(startup->hStdOutput, &error);
    if (error == 0)
        ChildStandard[2] = StandardDescriptor(startup->hStdError, &error);
    return error;
}

// Starts the prepared child with every signal blocked in the parent, so that
// no handler runs in the child on the shared stack. Returns 0 with the pid,
// or the error number; a child that failed to start has been reaped.
static int Launch(pid_t* pid) {
    DefaultAction.sa_handler = SIG_DFL;
    sigemptyset(&DefaultAction.sa_mask);
    sigemptyset(&EmptyMask);
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &previous);
    ChildError = 0;
    *pid = StartChild();
    int error = *pid < 0 ? errno : ChildError;
    sigprocmask(SIG_SETMASK, &previous, NULL);
    if (*pid > 0 && error != 0) {
        while (waitpid(*pid, NULL, 0) < 0 && errno == EINTR) {
        }
    }
    return error;
}

// CreateProcessA: starts the program named by the command line, with no
// separate program name and no shell in between. The line is split as
// Windows programs split their own (see cmdline.h); the first part names the
// program, looked up as execvp does (as it is when it holds a "/", otherwise
// in each PATH entry in turn, an empty entry meaning the current directory),
// and the whole split is its argument vector, argv[0] included. The child
// gets the host's environment and current directory, and default signal
// dispositions with nothing blocked. With STARTF_USESTDHANDLES its standard
// input, output and error are the given file handles, a NULL handle being
// the null device; without it the child shares the host's descriptors 0 to
// 2. No descriptor of this layer reaches the child otherwise: all are
// close-on-exec.
// Returns TRUE with a process handle (its pid) and a thread handle; the
// program is then running. Returns FALSE, with nothing started, when it
// could not be: GetLastError gives ENOENT for an empty line or a program not
// found, EACCES for a file that may not be run or a directory, ENOEXEC for a
// file that is not a valid executable, ENOTDIR, ENAMETOOLONG, or whatever
// else execve reported; E2BIG for a line longer than 259 characters; EBADF
// for a standard handle that is not a file handle; EMFILE when the handle
// table is full; EINVAL for the arguments refused below.
// Differs from Windows: a program name (applicationName), an environment
// block or a current directory of the child's own is refused with EINVAL; the
// creation flags and inheritHandles are not consulted (the host's own
// descriptors that are not close-on-exec stay open in the child whatever is
// asked); INVALID_HANDLE_VALUE as a standard handle gives the null device; the
// program is not looked up in the module's directory and ".exe" is not added;
// a file without a valid header fails rather than being run by a shell.
extern "C" BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                               LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                               DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                               LPSTARTUPINFOA startupInfo,
                               LPPROCESS_INFORMATION processInformation) {
    (void)processAttributes;
    (void)threadAttributes;
    (void)inheritHandles;
    (void)creationFlags;
    if (applicationName != NULL || commandLine == NULL || environment != NULL ||
        currentDirectory != NULL || startupInfo == NULL || processInformation == NULL) {
        SetLastError(EINVAL);
        return FALSE;
    }
    HandleSlot* process = NULL;
    HandleSlot* thread = NULL;
    HANDLE processHandle = NewHandle(HANDLE_PROCESS, &process);
    HANDLE threadHandle = processHandle != NULL ? NewHandle(HANDLE_THREAD, &thread) : NULL;
    int error = threadHandle == NULL ? EMFILE : PrepareArguments(commandLine);
    if (error == 0)
        error = PrepareStandard(startupInfo);
    pid_t pid = -1;
    if (error == 0)
        error = Launch(&pid);
    if (NullDevice >= 0) {
        close(NullDevice);
        NullDevice = -1;
    }
    if (error != 0) {
        if (process != NULL)
            process->kind = HANDLE_FREE;
        if (thread != NULL)
            thread->kind = HANDLE_FREE;
        SetLastError((DWORD)error);
        return FALSE;
    }
    process->pid = pid;
    thread->pid = pid;
    processInformation->hProcess = processHandle;
    processInformation->hThread = threadHandle;
    processInformation->dwProcessId = (DWORD)pid;
    processInformation->dwThreadId = (DWORD)pid;
    return TRUE;
}

// Records a child that waitpid reports as ended; a child that is no longer
// ours (ECHILD: reaped elsewhere, or SIGCHLD ignored) counts as ended too.
// Returns FALSE with the error number for any other failure.
static BOOL Collect(HandleSlot* slot, pid_t done, int status) {
    if (done == slot->pid) {
        slot->reaped = 1;
        slot->status = status;
    } else if (done < 0 && errno == ECHILD) {
        slot->reaped = 1;
    } else if (done < 0 && errno != EINTR) {
        SetLastError((DWORD)errno);
        return FALSE;
    }
    return TRUE;
}

// Reaps the child if it has ended, without waiting. FALSE with the error
// number when waitpid fails.
static BOOL PollChild(HandleSlot* slot) {
    int status = 0;
    while (!slot->reaped) {
        pid_t done = waitpid(slot->pid, &status, WNOHANG);
        if (done == 0)
            return TRUE;
        if (!Collect(slot, done, status))
            return FALSE;
    }
    return TRUE;
}

void ReapIfEnded(HandleSlot* slot) {
    PollChild(slot);
}

// Milliseconds since start on the monotonic clock.
static uint64_t MillisecondsSince(const struct timespec* start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t nanoseconds =
        (int64_t)(now.tv_sec - start->tv_sec) * 1000000000 + (now.tv_nsec - start->tv_nsec);
    return (uint64_t)(nanoseconds / 1000000);
}

// WaitForSingleObject: waits for a process started by CreateProcessA to end.
// With INFINITE it waits as long as that takes, going on after a signal
// interrupts it. Returns WAIT_OBJECT_0 once the process has ended (also
// when it had ended before, or was waited for already); WAIT_TIMEOUT when the
// time ran out first; WAIT_FAILED with EBADF for a handle that is not a
// process, or with waitpid's error number.
// Differs from Windows: only process handles can be waited for; a finite
// time is waited by looking every 10 ms.
extern "C" DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    HandleSlot* slot = LookupHandle(object, HANDLE_PROCESS);
    if (slot == NULL)
        return WAIT_FAILED;
    if (milliseconds == INFINITE) {
        int status = 0;
        while (!slot->reaped) {
            // waitpid first: the status is read only once it has written it.
            pid_t done = waitpid(slot->pid, &status, 0);
            if (!Collect(slot, done, status))
                return WAIT_FAILED;
        }
        return WAIT_OBJECT_0;
    }
    static const struct timespec Step = {0, 10L * 1000 * 1000};
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (!PollChild(slot))
            return WAIT_FAILED;
        if (slot->reaped)
            return WAIT_OBJECT_0;
        if (MillisecondsSince(&start) >= milliseconds)
            return WAIT_TIMEOUT;
        nanosleep(&Step, NULL);
    }
}
