// Starting and waiting for processes, with the meaning CreateProcessA,
// ResumeThread, WaitForSingleObject, GetExitCodeProcess, TerminateProcess
// and the job-object calls have for the
// plug-in. Process, thread and job handles are slots of the handle table
// (handles.cpp); closing a process's handle reaps the child if it has ended
// (CloseProcess). A program is started with vfork and execve, with no shell
// in between. The program's name is taken from the command line by
// CreateProcessA's rule and the arguments are split the way Windows programs
// split their own (cmdline.cpp); the program is looked up as execvp looks it
// up. A job ends its program's whole tree, found in /proc by the POSIX
// plumbing's walker (posix/tree.h). Nothing here allocates memory: the
// arguments, the environment, the paths to try, the job's tree and what the
// child needs live in module-wide arrays, prepared before vfork, so that the
// child only makes async-signal-safe calls.
#include "cmdline.h"
#include "environment_block.h"
#include "errors.h"
#include "files.h"
#include "handles.h"

#include "posix/proc.h"
#include "posix/tree.h"

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
#include <termios.h>
#include <time.h>
#include <unistd.h>

// POSIX leaves this declaration to the program; glibc makes it only for
// _GNU_SOURCE.
extern char** environ; // NOLINT(readability-redundant-declaration)

// --- The terminal ---------------------------------------------------------
// A program started in a process group of its own while this process's
// group is in the foreground of its controlling terminal gets the terminal
// for its run, as a shell's job control gives it to a foreground job, so
// that it can read the terminal (a program that asks for a password on
// /dev/tty) without being stopped. The terminal comes back as soon as the
// program has been reaped.

enum { TERMINAL_UNKNOWN, TERMINAL_OPEN, TERMINAL_NONE };

// The controlling terminal, looked for once per process: open on
// TerminalDescriptor (close-on-exec, above the standard descriptors), or
// none.
static int TerminalState = TERMINAL_UNKNOWN;
static int TerminalDescriptor = -1;
static bool ForgetRegistered = false;

// In the child of a fork the terminal is looked for again: the child may
// have another one (forkpty) or none. The descriptor stays open until then,
// since a child that is about to exec a program may still use it.
static void ForgetTerminal() {
    TerminalState = TERMINAL_UNKNOWN;
}

// The controlling terminal's descriptor, or -1 when the process has none:
// the first call opens /dev/tty, which fails at once where there is none.
static int ControllingTerminal() {
    if (TerminalState == TERMINAL_UNKNOWN) {
        if (!ForgetRegistered)
            ForgetRegistered = pthread_atfork(NULL, NULL, ForgetTerminal) == 0;
        if (TerminalDescriptor >= 0)
            close(TerminalDescriptor); // the one of the process this was forked from
        TerminalDescriptor = KeepAboveStandard(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
        TerminalState = TerminalDescriptor >= 0 ? TERMINAL_OPEN : TERMINAL_NONE;
    }
    return TerminalState == TERMINAL_OPEN ? TerminalDescriptor : -1;
}

// The terminal to lend to a program started in a group of its own: the
// controlling terminal when this process's group is its foreground group
// (*foreground gets it), else -1. Two system calls where there is a
// terminal, none where there is none (after the first start).
static int TerminalToLend(pid_t* foreground) {
    int terminal = ControllingTerminal();
    if (terminal < 0)
        return -1;
    pid_t group = getpgrp();
    if (tcgetpgrp(terminal) != group)
        return -1;
    *foreground = group;
    return terminal;
}

// Makes group the terminal's foreground group, with SIGTTOU blocked, as a
// process outside the foreground group must to change it.
static void GiveTerminal(int terminal, pid_t group) {
    sigset_t stop, previous;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &stop, &previous);
    tcsetpgrp(terminal, group);
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
}

// Takes the terminal back from a process's group, to the group that was in
// the foreground before.
static void ReturnTerminal(HandleSlot* slot) {
    if (!slot->lent)
        return;
    slot->lent = 0;
    if (TerminalState == TERMINAL_OPEN)
        GiveTerminal(TerminalDescriptor, slot->foreground);
}

// What follows the reaping of a child: a terminal it held comes back, and
// where it was ended by the terminal's interrupt or quit character (which
// reached its group alone), this process gets the same signal, as a shell
// passes on the Ctrl-C that ended its foreground job.
static void AfterReap(HandleSlot* slot) {
    if (slot->fd >= 0) {
        close(slot->fd);
        slot->fd = -1;
    }
    if (!slot->lent)
        return;
    ReturnTerminal(slot);
    if (slot->unknown || !WIFSIGNALED(slot->status))
        return;
    int number = WTERMSIG(slot->status);
    if (number == SIGINT || number == SIGQUIT)
        kill(getpid(), number);
}

// --- Starting programs ----------------------------------------------------

// Longest command line taken; the split of any such line fits the arrays.
static const size_t CommandLineLimit = MAX_PATH - 1;
// Variables an environment block may hold; one more is refused.
enum { ENVIRONMENT_ENTRIES = 1024 };

static char ArgumentText[SPLIT_STORAGE_SIZE];
static char* Arguments[SPLIT_MAX_ARGS];
// The name the program is looked for by, which need not be Arguments[0].
static char ProgramName[MAX_PATH];
// The paths to try, in execvp's order, each with its terminator; an empty
// string ends the list.
static char Candidates[16384];
// The child's environment: the host's own, or the strings of the block
// CreateProcessA was given (EnvironmentEntries, pointing into the block).
static char** ChildEnvironment;
static char* EnvironmentEntries[ENVIRONMENT_ENTRIES + 1];
// What the child puts on descriptors 0 to 2; -1 leaves one as it is.
static int ChildStandard[3];
// The disposition a caught signal gets in the child, and its mask.
static struct sigaction DefaultAction;
static sigset_t EmptyMask;
// Whether the child starts a process group of its own, and the terminal
// whose foreground group it is to be, or -1.
static bool ChildGroup;
static int ChildTerminal = -1;
// The null device, opened by the first start that needs it and kept for the
// module's life (close-on-exec, above the standard descriptors), or -1.
static int NullDevice = -1;
// How the child reports that it could not start. Where vfork shares the
// parent's memory until the child has called execve, the child leaves its
// error number in ChildError. Where vfork is a plain fork (valgrind, WSL1,
// qemu user mode), nothing the child writes to memory reaches the parent,
// and the number goes through a close-on-exec pipe whose write end is
// ReportPipe: a started program closes it and the parent reads end of file.
// Which of the two holds is learnt at the first start, which uses the pipe
// and sees whether the mark the child leaves in memory (ChildMark) reached
// it: VforkShares is -1 until then, then 1 or 0.
static int VforkShares = -1;
static volatile sig_atomic_t ChildMark;
static volatile sig_atomic_t ChildError;
static int ReportPipe = -1;

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
        execve(path, Arguments, ChildEnvironment);
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
// and async-signal-safe calls, and leaves through execve or _exit. Every
// signal is blocked until just before execve (Launch), so it can take the
// terminal for its group (SIGTTOU blocked) before the program can read it.
[[noreturn]] static void RunChild() {
    ChildMark = 1;
    ResetSignals();
    int error = 0;
    if (ChildGroup && setpgid(0, 0) != 0)
        error = errno;
    if (error == 0 && ChildTerminal >= 0)
        tcsetpgrp(ChildTerminal, getpid()); // without the terminal it still runs
    for (int fd = 0; fd < 3 && error == 0; fd++) {
        if (ChildStandard[fd] >= 0 && dup2(ChildStandard[fd], fd) < 0)
            error = errno;
    }
    if (error == 0) {
        sigprocmask(SIG_SETMASK, &EmptyMask, NULL);
        error = ExecCandidates();
    }
    ChildError = error;
    // A failed write leaves the parent reading end of file: it would take the
    // start for a success, so try until the pipe takes the number.
    while (ReportPipe >= 0 && write(ReportPipe, &error, sizeof error) < 0 && errno == EINTR) {
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

// Points ChildEnvironment at the host's environment (block NULL) or at the
// strings of an environment block ("NAME=value", each with its terminator,
// an empty string after the last). Returns 0, or ENOMEM for a block of more
// than ENVIRONMENT_ENTRIES strings.
static int PrepareEnvironment(const char* block) {
    if (block == NULL) {
        ChildEnvironment = environ;
        return 0;
    }
    size_t count = 0;
    for (const char* entry = block; *entry != '\0'; entry += strlen(entry) + 1) {
        if (count == ENVIRONMENT_ENTRIES)
            return ENOMEM;
        EnvironmentEntries[count++] = (char*)entry;
    }
    EnvironmentEntries[count] = NULL;
    ChildEnvironment = EnvironmentEntries;
    return 0;
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

// Opens the report pipe (its read end in *readEnd, the write end in
// ReportPipe). Returns 0 or an error number.
static int OpenReportPipe(int* readEnd) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return errno;
    *readEnd = KeepAboveStandard(ends[0]);
    ReportPipe = KeepAboveStandard(ends[1]);
    if (*readEnd >= 0 && ReportPipe >= 0)
        return 0;
    int error = errno;
    if (*readEnd >= 0)
        close(*readEnd);
    if (ReportPipe >= 0)
        close(ReportPipe);
    *readEnd = ReportPipe = -1;
    return error;
}

// Starts the prepared child with every signal blocked in the calling thread,
// so that no handler runs in the child on the shared stack. Returns 0 with
// the pid, or the error number; a child that failed to start has been
// reaped. Either way the child has got past setpgid (and tcsetpgrp) when
// this returns: vfork resumes the parent only once the child has called
// execve or _exit, and where it is a plain fork the parent reads the pipe to
// its end, so the group exists before anyone can signal it.
static int Launch(pid_t* pid) {
    DefaultAction.sa_handler = SIG_DFL;
    sigemptyset(&DefaultAction.sa_mask);
    sigemptyset(&EmptyMask);
    int readEnd = -1;
    if (VforkShares != 1) {
        int error = OpenReportPipe(&readEnd);
        if (error != 0)
            return error;
    }
    ChildMark = 0;
    ChildError = 0;
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    *pid = StartChild();
    int error = *pid < 0 ? errno : 0;
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
    if (ReportPipe >= 0)
        close(ReportPipe);
    ReportPipe = -1;
    if (*pid > 0 && readEnd >= 0) {
        error = ReadReport(readEnd);
        VforkShares = ChildMark ? 1 : 0;
    } else if (*pid > 0) {
        error = ChildError;
    }
    if (readEnd >= 0)
        close(readEnd);
    if (*pid > 0 && error != 0) {
        while (waitpid(*pid, NULL, 0) < 0 && errno == EINTR) {
        }
    }
    return error;
}

static void CloseProcess(HandleSlot* slot);

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
// gets the host's current directory, an empty signal mask, and the
// dispositions any exec gives (ResetSignals). Its environment is the host's,
// or with an environment block exactly the block's strings ("NAME=value",
// each with its terminator, an empty string after the last; ANSI, or with
// CREATE_UNICODE_ENVIRONMENT UTF-16, each string converted as names.h
// converts a name, so that a string GetEnvironmentStringsW gave reaches the
// program byte for byte), while the program is still looked
// up in the host's own PATH, as Windows does. With
// STARTF_USESTDHANDLES its standard input, output and error are the given
// file handles, a NULL handle being the null device; without it the child
// shares the host's descriptors 0 to 2. No descriptor of this layer reaches
// the child otherwise: all are close-on-exec. With CREATE_NEW_PROCESS_GROUP
// the child leads a process group of its own, which a job can then hold
// (and which the terminal's Ctrl-C does not reach, as on Windows); when
// this process's group is then the foreground group of its controlling
// terminal, the child's group gets the terminal for its run (tcsetpgrp,
// as a shell gives it to a foreground job), so a program that reads
// /dev/tty is not stopped, and it comes back to this process's group as
// soon as the child has been reaped (WaitForSingleObject,
// GetExitCodeProcess, CloseHandle, TerminateJobObject), or when its handle
// is closed while it still runs. While the program holds the terminal, the
// terminal's Ctrl-C and Ctrl-\ reach its group alone: when it was ended by
// SIGINT or SIGQUIT, this process sends itself the same signal once the
// terminal is back (a host that ignores it is unaffected), as a shell does
// for a foreground job ended by Ctrl-C, so the host learns of the Ctrl-C as
// it would have had the program been in its group.
// Returns TRUE with a process handle (its pid) and a thread handle; the
// program is then running. Returns FALSE, with nothing started, when it
// could not be: GetLastError gives ERROR_FILE_NOT_FOUND for an empty line, a
// name that names no file or a program not found, ERROR_PATH_NOT_FOUND when a directory on the way
// is a file, ERROR_ACCESS_DENIED for a file that may not be run or a directory,
// ERROR_BAD_EXE_FORMAT for a file that is not a valid executable,
// ERROR_FILENAME_EXCED_RANGE for a line longer than 259 characters or a name
// too long, ERROR_INVALID_HANDLE for a standard handle that is not a file
// handle, ERROR_TOO_MANY_OPEN_FILES when the handle table is full,
// ERROR_NOT_ENOUGH_MEMORY for an environment block of more than 1024
// strings (or a wide one of more than 196608 bytes as bytes),
// ERROR_NO_UNICODE_TRANSLATION for a wide block with a character the ANSI
// set lacks,
// ERROR_INVALID_PARAMETER for a line that starts with an empty pair of
// quotes (an empty name to search for) and for the arguments refused below,
// or the code of whatever else execve reported.
// Differs from Windows: a program name (applicationName) or a current
// directory of the child's own is refused; an environment block holds at
// most 1024 strings; of the creation flags only CREATE_NEW_PROCESS_GROUP
// acts: CREATE_SUSPENDED is accepted but the program runs at once (its
// group is made before it runs, so a job assigned afterwards still holds
// all it starts), CREATE_NO_WINDOW and the priority are accepted without
// effect; inheritHandles is not
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
    if (applicationName != NULL || commandLine == NULL || currentDirectory != NULL ||
        startupInfo == NULL || processInformation == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HandleSlot* process = NULL;
    HandleSlot* thread = NULL;
    HANDLE processHandle = NewHandle(HANDLE_PROCESS, CloseProcess, &process);
    HANDLE threadHandle = processHandle != NULL ? NewHandle(HANDLE_THREAD, NULL, &thread) : NULL;
    int error = threadHandle == NULL ? EMFILE : PrepareArguments(commandLine);
    const char* block = (const char*)environment;
    if (error == 0 && block != NULL && (creationFlags & CREATE_UNICODE_ENVIRONMENT))
        block = NarrowEnvironmentBlock((const WCHAR*)environment, &error);
    if (error == 0)
        error = PrepareEnvironment(block);
    if (error == 0)
        error = PrepareStandard(startupInfo);
    ChildGroup = (creationFlags & CREATE_NEW_PROCESS_GROUP) != 0;
    pid_t foreground = 0;
    ChildTerminal = ChildGroup && error == 0 ? TerminalToLend(&foreground) : -1;
    unsigned long long started = TicksSinceBoot();
    pid_t pid = -1;
    if (error == 0)
        error = Launch(&pid);
    if (error != 0) {
        if (ChildTerminal >= 0 && pid > 0)
            GiveTerminal(ChildTerminal, foreground); // the child may have taken it
        if (process != NULL)
            FreeHandle(process);
        if (thread != NULL)
            FreeHandle(thread);
        SetLastError(error == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(error));
        return FALSE;
    }
    process->pid = pid;
    process->group = ChildGroup ? 1 : 0;
    process->lent = ChildTerminal >= 0 ? 1 : 0;
    process->foreground = foreground;
    process->started = started;
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

// --- Waiting --------------------------------------------------------------

// Records a child that waitpid reports as ended; a child that is no longer
// ours (ECHILD: reaped elsewhere, or SIGCHLD ignored) counts as ended too,
// with no status to tell. Returns FALSE with the error for any other
// failure.
static BOOL Collect(HandleSlot* slot, pid_t done, int status) {
    if (done == slot->pid) {
        slot->reaped = 1;
        slot->status = status;
        AfterReap(slot);
    } else if (done < 0 && errno == ECHILD) {
        slot->reaped = 1;
        slot->unknown = 1;
        AfterReap(slot);
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
// reaped now; one still running is left to run, as on Windows, and gives
// back the terminal if its group held it.
static void CloseProcess(HandleSlot* slot) {
    if (!slot->reaped)
        PollChild(slot);
    if (slot->fd >= 0)
        close(slot->fd);
    ReturnTerminal(slot);
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
// becomes readable when the child ends and is kept in the slot for the
// waits that follow until the child is reaped; otherwise for a step that
// starts at 1 ms and doubles up to 50 ms, so that a short program is not
// waited for much past its end and a long one costs little.
static void AwaitChild(HandleSlot* slot, uint64_t milliseconds, long* step) {
#ifdef SYS_pidfd_open
    if (slot->fd < 0)
        slot->fd = KeepAboveStandard((int)syscall(SYS_pidfd_open, slot->pid, 0));
    if (slot->fd >= 0) {
        struct pollfd watch = {slot->fd, POLLIN, 0};
        poll(&watch, 1, milliseconds > INT32_MAX ? INT32_MAX : (int)milliseconds);
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
// when it had ended before, or was waited for already, or was reaped by
// someone else: see GetExitCodeProcess); WAIT_TIMEOUT when the
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

// --- Exit codes -----------------------------------------------------------

// GetExitCodeProcess: the exit code of a process that has ended (its exit
// status, or the code given to TerminateProcess or TerminateJobObject when
// that ended it), STILL_ACTIVE while it runs. FALSE with
// ERROR_INVALID_HANDLE for a handle that is not a process, and with
// ERROR_WAIT_NO_CHILDREN for a process that ended but was reaped by someone
// else (a host that ignores SIGCHLD has the system reap its children), so
// that its exit status cannot be known.
// Differs from Windows: a process ended by signal N has the exit code
// EXIT_CODE_SIGNAL_BASE + N (0xE0000100 + N), which FormatMessageA
// describes; Windows always knows the exit code.
extern "C" BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    HandleSlot* slot = LookupHandle(process, HANDLE_PROCESS);
    if (slot == NULL || exitCode == NULL) {
        if (slot != NULL)
            SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!PollChild(slot))
        return FALSE;
    if (!slot->reaped) {
        *exitCode = STILL_ACTIVE;
    } else if (slot->terminated) {
        *exitCode = slot->exitCode;
    } else if (slot->unknown) {
        SetLastError(ERROR_WAIT_NO_CHILDREN);
        return FALSE;
    } else if (WIFSIGNALED(slot->status)) {
        *exitCode = EXIT_CODE_SIGNAL_BASE + (DWORD)WTERMSIG(slot->status);
    } else {
        *exitCode = WIFEXITED(slot->status) ? (DWORD)WEXITSTATUS(slot->status) : 0;
    }
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

// --- Jobs -----------------------------------------------------------------
// A job holds the process group of the program assigned to it, and with it
// every process that program starts, wherever it goes: what left the group
// (setsid, setpgid) is found in /proc as the program's descendants, and,
// where this process is a child subreaper, as the orphans it adopted.

// The job's tree while TerminateJobObject ends it.
static ProcessTree JobTree;

// Whether this layer started the process (it has a handle for it): such a
// child of the host is no orphan of a job.
static bool StartedHere(pid_t pid) {
    return FindProcessSlot(pid) != NULL;
}

// CreateJobObjectA: a job, which holds the processes of one program.
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
// one such process.
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
    jobSlot->started = processSlot->started;
    return TRUE;
}

// TerminateJobObject: ends every process in the job at once, with no grace,
// as Windows does: the program, everything in its process group, all its
// living descendants, also those that left the group (setsid, setpgid),
// and, where this process is a child subreaper, the orphans it adopted
// since the program started (its children that this layer did not start).
// Each is stopped as it is found (SIGSTOP, so that none starts more), then
// killed (SIGKILL), and /proc is walked again until nothing is left; a
// reused process id is never signalled (posix/tree.h). Returns once nothing
// of the tree is left, with the program reaped, or after 25 rounds when a
// process outlasts them (uninterruptible sleep). The program reports the
// exit code given, unless it had ended before. TRUE also for an empty job;
// FALSE with ERROR_INVALID_HANDLE for a handle that is not a job.
// Differs from Windows: a process that left both the group and the
// program's descendants (its parent ended before it was found) is found
// only where this process is a child subreaper. Without /proc (not
// mounted), only the process group is ended, at once (SIGKILL), and the
// call returns without waiting for it.
extern "C" BOOL TerminateJobObject(HANDLE job, UINT exitCode) {
    HandleSlot* slot = LookupHandle(job, HANDLE_JOB);
    if (slot == NULL)
        return FALSE;
    pid_t group = slot->pid;
    if (group == 0)
        return TRUE;
    HandleSlot* leader = FindProcessSlot(group);
    bool running = false;
    if (leader != NULL) {
        PollChild(leader);
        running = !leader->reaped;
        if (running) {
            leader->terminated = 1;
            leader->exitCode = exitCode;
        }
    }
    // The group's id cannot have gone to another group while its leader is
    // an unreaped child of ours, or while it has members.
    bool groupInUse = running || kill(-group, 0) == 0 || errno == EPERM;
    bool adopt = IsSubreaper();
    // An ordinary end costs a few calls, not a walk of /proc: the program
    // has ended and left its group empty, and no orphan can have come to a
    // host that has no child at all.
    if (!groupInUse && (!adopt || !HasChildren()))
        return TRUE;
    JobTree.root = running ? group : 0;
    JobTree.rootIncluded = running;
    JobTree.group = groupInUse ? group : 0;
    JobTree.adopt = adopt;
    JobTree.since = slot->started;
    JobTree.startedHere = StartedHere;
    if (EndTree(&JobTree) < 0 && groupInUse) {
        kill(-group, SIGKILL);
        if (running)
            kill(group, SIGKILL);
    }
    if (leader != NULL)
        PollChild(leader);
    return TRUE;
}
