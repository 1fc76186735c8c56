// Starting and waiting for processes, with the meaning CreateProcessA,
// ResumeThread, WaitForSingleObject, GetExitCodeProcess, TerminateProcess and
// the job-object calls have for the plug-in. Process, thread and job handles
// are slots of the handle table (handles.cpp); closing a process's handle
// reaps the child if it has ended (CloseProcess). A program is started with
// vfork and execve, with no shell in between. The program's name is taken
// from the command line by CreateProcessA's rule and the arguments are split
// the way Windows programs split their own (cmdline.cpp); the program is
// looked up as execvp looks it up. Nothing here allocates memory: the
// arguments, the paths to try and what the child needs live in module-wide
// arrays, prepared before vfork, so that the child only makes
// async-signal-safe calls.
#include "cmdline.h"
#include "errors.h"
#include "files.h"
#include "handles.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <poll.h>
#include <pthread.h>
#include <sys/syscall.h>
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
// The name the program is looked for by, which need not be Arguments[0].
static char ProgramName[MAX_PATH];
// The paths to try, in execvp's order, each with its terminator; an empty
// string ends the list.
static char Candidates[16384];
// What the child puts on descriptors 0 to 2; -1 leaves one as it is.
static int ChildStandard[3];
// The disposition a caught signal gets in the child, and its mask.
static struct sigaction DefaultAction;
static sigset_t EmptyMask;
// Whether the child starts a process group of its own.
static bool ChildGroup;
// The write end of the pipe on which a child that could not start reports
// its error number; close-on-exec, so a started program closes it and the
// parent reads end of file. Only the child writes here.
static int ReportPipe = -1;
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

// Gives the child the signal dispositions a program gets across any exec:
// what the caller ignores stays ignored (nohup and shells' background jobs
// rely on it), except SIGPIPE and SIGXFSZ, which hosts ignore for their own
// sake and programs expect at their default; a caught signal gets its
// default here rather than at execve, so that no handler of the parent can
// run in the child on the stack it shares with the parent once the mask is
// emptied.
static void ResetSignals() {
    for (int number = 1; number < NSIG; number++) {
        struct sigaction current;
        if (sigaction(number, NULL, &current) != 0)
            continue; // not a signal that can be asked about (SIGKILL's kin)
        bool ignored = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN;
        bool atDefault = (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL;
        if (atDefault || (ignored && number != SIGPIPE && number != SIGXFSZ))
            continue;
        sigaction(number, &DefaultAction, NULL);
    }
}

// The child between vfork and execve. It has its own signal dispositions,
// but shares the parent's memory and stack, so it uses only module-wide data
// and async-signal-safe calls, and leaves through execve or _exit. Where
// vfork is a plain fork (valgrind, WSL1, qemu user mode), nothing it writes
// to memory reaches the parent: the error number goes through ReportPipe.
[[noreturn]] static void RunChild() {
    ResetSignals();
    int error = 0;
    if (ChildGroup && setpgid(0, 0) != 0)
        error = errno;
    for (int fd = 0; fd < 3 && error == 0; fd++) {
        if (ChildStandard[fd] >= 0 && dup2(ChildStandard[fd], fd) < 0)
            error = errno;
    }
    if (error == 0) {
        sigprocmask(SIG_SETMASK, &EmptyMask, NULL);
        error = ExecCandidates();
    }
    // A failed write leaves the parent reading end of file: it would take the
    // start for a success, so try until the pipe takes the number.
    while (write(ReportPipe, &error, sizeof error) < 0 && errno == EINTR) {
    }
    _exit(127);
}

// vfork apart from everything else, so that no local variable of a caller
// lives across it. Returns the child's pid, or -1. vfork is chosen over fork
// because the parent stays suspended only until the child has called execve,
// and the child calls nothing but RunChild's async-signal-safe calls, which
// the analyzer's vfork checks do not know to allow.
static pid_t StartChild() {
    // cppcheck-suppress vforkCalled
    pid_t pid = vfork(); // NOLINT(clang-analyzer-security.insecureAPI.vfork)
    if (pid == 0)
        RunChild(); // NOLINT(clang-analyzer-unix.Vfork)
    return pid;
}

// Splits the command line into Arguments and lists where to look for the
// program. Returns 0 or an error number (ENOENT for a line that names no
// file, EINVAL for one that starts with "\"\"").
static int PrepareArguments(const char* commandLine) {
    if (strnlen(commandLine, CommandLineLimit + 1) > CommandLineLimit)
        return E2BIG;
    if (SplitCommandLine(commandLine, ArgumentText, sizeof ArgumentText, Arguments,
                         SPLIT_MAX_ARGS) < 0)
        return E2BIG;
    int length = ProgramNameOf(commandLine, ProgramName, sizeof ProgramName);
    if (length < 0)
        return ENOENT;
    // An empty pair of quotes asks to search for an empty name, which the
    // search refuses as an invalid parameter on Windows.
    if (length == 0 && commandLine[0] == '"')
        return EINVAL;
    return ListCandidates(ProgramName);
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

// Reads the child's report: 0 when the pipe reached end of file (the
// program is running), else the error number it could not start with.
static int ReadReport(int fd) {
    int error = 0;
    ssize_t n;
    do {
        n = read(fd, &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    if (n == (ssize_t)sizeof error)
        return error != 0 ? error : ENOEXEC;
    return n == 0 ? 0 : EIO;
}

// Starts the prepared child with every signal blocked in the calling thread,
// so that no handler runs in the child on the shared stack. Returns 0 with
// the pid, or the error number; a child that failed to start has been
// reaped.
static int Launch(pid_t* pid) {
    DefaultAction.sa_handler = SIG_DFL;
    sigemptyset(&DefaultAction.sa_mask);
    sigemptyset(&EmptyMask);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return errno;
    int readEnd = KeepAboveStandard(ends[0]);
    ReportPipe = KeepAboveStandard(ends[1]);
    if (readEnd < 0 || ReportPipe < 0) {
        int error = errno;
        if (readEnd >= 0)
            close(readEnd);
        if (ReportPipe >= 0)
            close(ReportPipe);
        ReportPipe = -1;
        return error;
    }
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    *pid = StartChild();
    int error = *pid < 0 ? errno : 0;
    // The child may not have reached setpgid yet when a plain fork returns:
    // make it the group's leader from here too, so that the group exists
    // before anyone signals it. EACCES means it has already run execve,
    // after its own setpgid.
    if (*pid > 0 && ChildGroup)
        setpgid(*pid, *pid);
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
    close(ReportPipe);
    ReportPipe = -1;
    if (*pid > 0)
        error = ReadReport(readEnd);
    close(readEnd);
    if (*pid > 0 && error != 0) {
        while (waitpid(*pid, NULL, 0) < 0 && errno == EINTR) {
        }
    }
    return error;
}

// Records a child that waitpid reports as ended; a child that is no longer
// ours (ECHILD: reaped elsewhere, or SIGCHLD ignored) counts as ended too.
// Returns FALSE with the error for any other failure.
static BOOL Collect(HandleSlot* slot, pid_t done, int status) {
    if (done == slot->pid) {
        slot->reaped = 1;
        slot->status = status;
    } else if (done < 0 && errno == ECHILD) {
        slot->reaped = 1;
    } else if (done < 0 && errno != EINTR) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

// Reaps the child if it has ended, without waiting. FALSE with the error
// when waitpid fails.
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

// What CloseHandle does to a process's handle: a child that has ended is
// reaped now; one still running is left to run, as on Windows.
static void CloseProcess(HandleSlot* slot) {
    if (!slot->reaped)
        PollChild(slot);
}

// CreateProcessA: starts the program named by the command line, with no
// separate program name and no shell in between. The program's name is
// taken from the line as CreateProcessA takes it (see ProgramNameOf in
// cmdline.h): between the double quotes the line starts with, or else up to
// the first space or tab, quotes included, so that "arg\"dump x" and an
// unterminated "\"argdump" name no file. It is looked up as execvp does (as
// it is when it holds a "/", otherwise in each PATH entry in turn, an empty
// entry meaning the current directory). The program's argument vector,
// argv[0] included, is the line split as Windows programs split their own
// (SplitCommandLine), so argv[0] may differ from the name it was found by
// ("\"prog\"x" finds prog and hands it "progx"), as on Windows. The child
// gets the host's environment and current directory, an empty signal mask,
// and the dispositions any exec gives (ResetSignals). With
// STARTF_USESTDHANDLES its standard input, output and error are the given
// file handles, a NULL handle being the null device; without it the child
// shares the host's descriptors 0 to 2. No descriptor of this layer reaches
// the child otherwise: all are close-on-exec. With CREATE_NEW_PROCESS_GROUP
// the child leads a process group of its own, which a job can then hold
// (and which the terminal's Ctrl-C does not reach, as on Windows).
// Returns TRUE with a process handle (its pid) and a thread handle; the
// program is then running. Returns FALSE, with nothing started, when it
// could not be: GetLastError gives ERROR_FILE_NOT_FOUND for an empty line, a
// name that names no file or a program not found, ERROR_PATH_NOT_FOUND when a directory on the way
// is a file, ERROR_ACCESS_DENIED for a file that may not be run or a directory,
// ERROR_BAD_EXE_FORMAT for a file that is not a valid executable,
// ERROR_FILENAME_EXCED_RANGE for a line longer than 259 characters or a name
// too long, ERROR_INVALID_HANDLE for a standard handle that is not a file
// handle, ERROR_TOO_MANY_OPEN_FILES when the handle table is full,
// ERROR_INVALID_PARAMETER for a line that starts with an empty pair of
// quotes (an empty name to search for) and for the arguments refused below,
// or the code of whatever else execve reported.
// Differs from Windows: a program name (applicationName), an environment
// block or a current directory of the child's own is refused; of the
// creation flags only CREATE_NEW_PROCESS_GROUP acts: CREATE_SUSPENDED is
// accepted but the program runs at once (its group is made before it runs,
// so a job assigned afterwards still holds all it starts), CREATE_NO_WINDOW
// and the priority are accepted without effect; inheritHandles is not
// consulted (the host's own descriptors that are not close-on-exec stay open
// in the child whatever is asked); INVALID_HANDLE_VALUE as a standard handle
// gives the null device; the program is not looked up in the module's
// directory and ".exe" is not added; a file without a valid header fails
// rather than being run by a shell; a name without quotes ends at the first
// blank even when no file has that name: Windows then tries the longer
// prefixes of the line up to each further blank ("my tools/filter x" tries
// "my", then "my tools/filter") and starts the first that names a file,
// which receives the pieces of its own name as arguments; here the start
// fails with ERROR_FILE_NOT_FOUND instead, so that no program runs with
// arguments its user did not mean, and a name with a blank must be quoted.
extern "C" BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                               LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                               DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                               LPSTARTUPINFOA startupInfo,
                               LPPROCESS_INFORMATION processInformation) {
    (void)processAttributes;
    (void)threadAttributes;
    (void)inheritHandles;
    if (applicationName != NULL || commandLine == NULL || environment != NULL ||
        currentDirectory != NULL || startupInfo == NULL || processInformation == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HandleSlot* process = NULL;
    HandleSlot* thread = NULL;
    HANDLE processHandle = NewHandle(HANDLE_PROCESS, CloseProcess, &process);
    HANDLE threadHandle = processHandle != NULL ? NewHandle(HANDLE_THREAD, NULL, &thread) : NULL;
    int error = threadHandle == NULL ? EMFILE : PrepareArguments(commandLine);
    if (error == 0)
        error = PrepareStandard(startupInfo);
    ChildGroup = (creationFlags & CREATE_NEW_PROCESS_GROUP) != 0;
    pid_t pid = -1;
    if (error == 0)
        error = Launch(&pid);
    if (NullDevice >= 0) {
        close(NullDevice);
        NullDevice = -1;
    }
    if (error != 0) {
        if (process != NULL)
            FreeHandle(process);
        if (thread != NULL)
            FreeHandle(thread);
        SetLastError(error == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(error));
        return FALSE;
    }
    process->pid = pid;
    process->group = ChildGroup ? 1 : 0;
    thread->pid = pid;
    thread->suspended = (creationFlags & CREATE_SUSPENDED) != 0 ? 1 : 0;
    processInformation->hProcess = processHandle;
    processInformation->hThread = threadHandle;
    processInformation->dwProcessId = (DWORD)pid;
    processInformation->dwThreadId = (DWORD)pid;
    return TRUE;
}

// ResumeThread: for the thread of a process created with CREATE_SUSPENDED,
// returns the suspend count it had (1, then 0); the program was running all
// along. (DWORD)-1 with ERROR_INVALID_HANDLE for anything but a thread
// handle.
extern "C" DWORD ResumeThread(HANDLE thread) {
    HandleSlot* slot = LookupHandle(thread, HANDLE_THREAD);
    if (slot == NULL)
        return (DWORD)-1;
    DWORD previous = slot->suspended;
    slot->suspended = 0;
    return previous;
}

// Milliseconds since start on the monotonic clock.
static uint64_t MillisecondsSince(const struct timespec* start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t nanoseconds =
        (int64_t)(now.tv_sec - start->tv_sec) * 1000000000 + (now.tv_nsec - start->tv_nsec);
    return (uint64_t)(nanoseconds / 1000000);
}

// Sleeps until the child may have ended or the milliseconds have passed:
// on a process file descriptor where the kernel has them (Linux 5.3), which
// becomes readable when the child ends, otherwise for a step that starts at
// 1 ms and doubles up to 50 ms, so that a short program is not waited for
// much past its end and a long one costs little.
static void AwaitChild(const HandleSlot* slot, uint64_t milliseconds, long* step) {
#ifdef SYS_pidfd_open
    int fd = (int)syscall(SYS_pidfd_open, slot->pid, 0);
    if (fd >= 0) {
        struct pollfd watch = {fd, POLLIN, 0};
        poll(&watch, 1, milliseconds > INT32_MAX ? INT32_MAX : (int)milliseconds);
        close(fd);
        return;
    }
#endif
    long wait = (long)(milliseconds < (uint64_t)*step ? milliseconds : (uint64_t)*step);
    struct timespec pause = {wait / 1000, wait % 1000 * 1000000L};
    nanosleep(&pause, NULL);
    if (*step < 50)
        *step *= 2;
}

// WaitForSingleObject: waits for a process started by CreateProcessA to end.
// With INFINITE it waits as long as that takes, going on after a signal
// interrupts it. Returns WAIT_OBJECT_0 once the process has ended (also
// when it had ended before, or was waited for already); WAIT_TIMEOUT when the
// time ran out first; WAIT_FAILED with ERROR_INVALID_HANDLE for a handle
// that is not a process, or with the code of waitpid's error.
// Differs from Windows: only process handles can be waited for; a finite
// wait that a signal interrupts ends no earlier than asked.
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
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    long step = 1;
    for (;;) {
        if (!PollChild(slot))
            return WAIT_FAILED;
        if (slot->reaped)
            return WAIT_OBJECT_0;
        uint64_t passed = MillisecondsSince(&start);
        if (passed >= milliseconds)
            return WAIT_TIMEOUT;
        AwaitChild(slot, milliseconds - passed, &step);
    }
}

// GetExitCodeProcess: the exit code of a process that has ended (its exit
// status, or the code given to TerminateProcess or TerminateJobObject when
// that ended it), STILL_ACTIVE while it runs. FALSE with
// ERROR_INVALID_HANDLE for a handle that is not a process.
// Differs from Windows: a process ended by signal N has the exit code
// EXIT_CODE_SIGNAL_BASE + N (0xE0000100 + N), which FormatMessageA
// describes; one reaped elsewhere (SIGCHLD ignored) has the exit code 0.
extern "C" BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    HandleSlot* slot = LookupHandle(process, HANDLE_PROCESS);
    if (slot == NULL || exitCode == NULL) {
        if (slot != NULL)
            SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!PollChild(slot))
        return FALSE;
    if (!slot->reaped)
        *exitCode = STILL_ACTIVE;
    else if (slot->terminated)
        *exitCode = slot->exitCode;
    else if (WIFSIGNALED(slot->status))
        *exitCode = EXIT_CODE_SIGNAL_BASE + (DWORD)WTERMSIG(slot->status);
    else
        *exitCode = WIFEXITED(slot->status) ? (DWORD)WEXITSTATUS(slot->status) : 0;
    return TRUE;
}

// TerminateProcess: ends a running process at once (SIGKILL) and records
// the exit code it is to report. TRUE also for a process that had ended
// already (Windows fails there with ERROR_ACCESS_DENIED; the outcome the
// caller wants holds either way). FALSE with ERROR_INVALID_HANDLE for a
// handle that is not a process.
extern "C" BOOL TerminateProcess(HANDLE process, UINT exitCode) {
    HandleSlot* slot = LookupHandle(process, HANDLE_PROCESS);
    if (slot == NULL)
        return FALSE;
    PollChild(slot);
    if (!slot->reaped && kill(slot->pid, SIGKILL) == 0) {
        slot->terminated = 1;
        slot->exitCode = exitCode;
    }
    return TRUE;
}

// CreateJobObjectA: a job, which holds the process group of one process.
// Differs from Windows: a job has no name and no limits (attributes and name
// are ignored). NULL with ERROR_TOO_MANY_OPEN_FILES when the handle table is
// full.
extern "C" HANDLE CreateJobObjectA(LPSECURITY_ATTRIBUTES attributes, LPCSTR name) {
    (void)attributes;
    (void)name;
    HandleSlot* slot = NULL;
    return NewHandle(HANDLE_JOB, NULL, &slot);
}

// AssignProcessToJobObject: puts a process, and every process it starts
// from then on, in the job. FALSE with ERROR_INVALID_HANDLE for handles of
// the wrong kind, ERROR_ACCESS_DENIED for a process that leads no process
// group of its own or a job that holds one already.
// Differs from Windows: only a process started with CREATE_NEW_PROCESS_GROUP
// can be assigned, since its group is what the job holds, and a job holds
// one such process; a process that leaves its group (setsid) leaves the job.
extern "C" BOOL AssignProcessToJobObject(HANDLE job, HANDLE process) {
    HandleSlot* jobSlot = LookupHandle(job, HANDLE_JOB);
    HandleSlot* processSlot = jobSlot != NULL ? LookupHandle(process, HANDLE_PROCESS) : NULL;
    if (processSlot == NULL)
        return FALSE;
    if (!processSlot->group || jobSlot->pid != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    jobSlot->pid = processSlot->pid;
    return TRUE;
}

// Whether a process of the group is still running, as /proc tells: a
// zombie has ended, even where no one reaps it (a container whose first
// process does not). 1 yes, 0 no, -1 when /proc cannot be read. Reads with
// fixed buffers, so that ending a job allocates nothing.
static int GroupRunsInProc(pid_t group) {
    int dir = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return -1;
    int found = 0;
    char entries[4096];
    long n;
    while (found == 0 && (n = syscall(SYS_getdents64, dir, entries, sizeof entries)) > 0) {
        for (long at = 0; at < n && found == 0;) {
            const char* name = entries + at + 19; // d_name in struct linux_dirent64
            unsigned short length;
            memcpy(&length, entries + at + 16, sizeof length);
            at += length;
            if (name[0] < '1' || name[0] > '9')
                continue;
            char path[64], stat[512];
            wsprintfA(path, "/proc/%s/stat", name);
            int fd = open(path, O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                continue;
            ssize_t got = read(fd, stat, sizeof stat - 1);
            close(fd);
            if (got <= 0)
                continue;
            stat[got] = '\0';
            // "pid (name) state ppid pgrp ...": the name may hold blanks and
            // parentheses, so the fields start after the last ")".
            const char* end = strrchr(stat, ')');
            if (end == NULL || end[1] != ' ' || end[2] == '\0')
                continue;
            char state = end[2];
            char* field = NULL;
            (void)strtol(end + 3, &field, 10); // the parent
            long processGroup = strtol(field, NULL, 10);
            if (processGroup == group && state != 'Z' && state != 'X')
                found = 1;
        }
    }
    close(dir);
    return found;
}

// Whether any process of the group still runs, once its leader (if it is
// ours and has ended) has been reaped.
static bool GroupLives(pid_t group) {
    HandleSlot* leader = FindProcessSlot(group);
    if (leader != NULL)
        PollChild(leader);
    if (kill(-group, 0) != 0 && errno != EPERM)
        return false;
    return GroupRunsInProc(group) != 0;
}

// TerminateJobObject: ends every process in the job: SIGTERM to its
// process group, and SIGKILL to what is left of it after a grace of two
// seconds; returns once the group is empty, or right after the SIGKILL. The
// job's process reports the exit code given. TRUE also for an empty job;
// FALSE with ERROR_INVALID_HANDLE for a handle that is not a job.
// Differs from Windows: processes get a short grace to end cleanly.
extern "C" BOOL TerminateJobObject(HANDLE job, UINT exitCode) {
    HandleSlot* slot = LookupHandle(job, HANDLE_JOB);
    if (slot == NULL)
        return FALSE;
    pid_t group = slot->pid;
    if (group == 0)
        return TRUE;
    HandleSlot* leader = FindProcessSlot(group);
    if (leader != NULL) {
        PollChild(leader);
        if (!leader->reaped) {
            leader->terminated = 1;
            leader->exitCode = exitCode;
        }
    }
    if (kill(-group, SIGTERM) != 0)
        return TRUE;
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    static const struct timespec Step = {0, 10L * 1000 * 1000};
    while (GroupLives(group) && MillisecondsSince(&start) < 2000)
        nanosleep(&Step, NULL);
    kill(-group, SIGKILL);
    return TRUE;
}

// GetEnvironmentStringsA: the host's environment as a block of "NAME=value"
// entries, each with its terminator, ended by an empty entry, in a buffer of
// the layer's own (65536 bytes). NULL with ERROR_NOT_ENOUGH_MEMORY when it
// does not fit. FreeEnvironmentStringsA lets go of it.
static char EnvironmentBlock[65536];

extern "C" LPCH GetEnvironmentStringsA(void) {
    size_t used = 0;
    for (char** entry = environ; *entry != NULL; entry++) {
        size_t length = strlen(*entry) + 1;
        if (used + length + 1 > sizeof EnvironmentBlock) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return NULL;
        }
        memcpy(EnvironmentBlock + used, *entry, length);
        used += length;
    }
    EnvironmentBlock[used] = '\0';
    return EnvironmentBlock;
}

extern "C" BOOL FreeEnvironmentStringsA(LPCH block) {
    (void)block;
    return TRUE;
}
