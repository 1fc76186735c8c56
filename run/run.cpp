// The preprocessor run: the host's text goes to a temporary input file, the
// configured program runs with its standard output captured in a second
// file, and what it wrote becomes the host's text.
//
// The text is replaced only after a run that went right: the text was taken
// whole, the program started, ended by itself (not by a crash or a signal)
// with exit code 0 (unless the settings say not to look), within its time
// limit, wrote no more than the buffer holds and no NUL byte, and wrote
// something, or else changed its input file (a program that edits its file
// in place). After anything else the run ends with a box that says why,
// without calling SetTargetText, so the host's text stays as it was; after
// Cancel it ends without a box. Every program runs in a job: the run ends
// whatever it started, when the user cancels it, when a limit is passed, and
// when it ends. The temporary files are removed at the end of every run.
#include "run.h"
#include "environment.h"
#include "messages.h"
#include "settings/settings.h"
#include "temporary_files.h"
#include "text_form.h"
#include "wait.h"

#include <string.h>

// The longest text taken. GetTargetText copies at most the capacity, and a
// host may keep the last byte for its terminator, so a text of
// TEXT_CAPACITY - 1 bytes or more may be the cut head of a longer one.
static const DWORD LongestText = TEXT_CAPACITY - 2;

enum {
    // The piece of the input file compared with the text at a time.
    COMPARE_CHUNK = 4096
};

static char Chunk[COMPARE_CHUNK];
// The host's handle of the text; kept from run to run, so a host without
// GetTargetHandle gets back whatever it was last.
static TargetHandle CurrentTarget;
// The length of the text handed to the program.
static DWORD TextLength;
// The job that holds the program and all it starts, NULL when there is
// none; InJob when the program is in it.
static HANDLE Job;
static BOOL InJob;

// --- The text to the program ------------------------------------------------

// Expands the command line and, where the settings ask for it, makes the
// program's environment. FALSE (after the box) when nothing is to be run:
// also when the program is to be given the input file's path on its ANSI
// command line or in its environment, and that path has no ANSI name.
static BOOL PrepareCommand(void) {
    if (InputFile[0] == '\0' && (strstr(CommandLine, "%f") != NULL || TextsInEnvironment)) {
        ShowPathError("The program cannot be given the temporary file's path: the name of its "
                      "folder\n'",
                      TempDirectory,
                      "'\nholds characters that the system's ANSI code page lacks, and it has no "
                      "short (8.3) name.\nSet WorkingDirectory in section [Path] of the settings "
                      "file to a folder whose name the code page holds.\nNothing was run and the "
                      "text was left as it was.");
        return FALSE;
    }
    if (!ExpandCommandLine(InputFile)) {
        wsprintfA(Message, "The expanded command line is longer than 259 characters.\n"
                           "Nothing was run and the text was left as it was.");
        ShowError();
        return FALSE;
    }
    if (TextsInEnvironment && !MakeEnvironment()) {
        wsprintfA(
            Message,
            "The environment with the PREPROCESSOR variables does not fit in the %u characters "
            "the plug-in has for it.\nNothing was run and the text was left as it was.",
            (UINT)ENVIRONMENT_CAPACITY);
        ShowError();
        return FALSE;
    }
    return TRUE;
}

// Fetches the host's text and writes the program's form of it to the input
// file; FALSE (after the box) when the settings name a form the plug-in
// does not know, the text may not be whole, cannot be given in that form,
// or not all of it reached the file.
static BOOL WriteInput(HANDLE input) {
    if (!ChooseTextForm())
        return FALSE;
    if (Host->GetTargetHandle != NULL)
        Host->GetTargetHandle(&CurrentTarget);
    Host->GetTargetText(CurrentTarget, TextBuffer, TEXT_CAPACITY);
    TextLength = (DWORD)strlen(TextBuffer);
    if (TextLength > LongestText) {
        wsprintfA(Message,
                  "The text is longer than the plug-in takes (at most %u bytes).\n"
                  "Nothing was run and the text was left as it was.",
                  (UINT)LongestText);
        ShowError();
        return FALSE;
    }
    if (!MakeProgramInput(TextLength))
        return FALSE;
    DWORD written = 0;
    BOOL ok = WriteFile(input, InputBytes, InputSize, &written, NULL);
    if (!ok || written != InputSize) {
        wsprintfA(Message, "Could not write TEMP file");
        ShowError();
        return FALSE;
    }
    return TRUE;
}

// Opens the input file, prepares the command and writes the text; FALSE
// (after the box) when nothing is to be run.
static BOOL PrepareInput(void) {
    HANDLE input = CreateFileW(InputPath, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (input == INVALID_HANDLE_VALUE) {
        ShowFileError(CreateFailed, InputPath, GetLastError());
        return FALSE;
    }
    BOOL ready = PrepareCommand() && WriteInput(input);
    CloseHandle(input);
    return ready;
}

// --- The program ------------------------------------------------------------

// Starts the program suspended in a process group of its own, puts it in a
// job, so that the job holds everything it starts, and lets it run. FALSE
// (after the box) when it cannot be started.
static BOOL StartProgram(PROCESS_INFORMATION* process) {
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    memset(process, 0, sizeof *process);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = NULL;
    startup.hStdOutput = Capture;
    startup.hStdError = Errors;
    DWORD flags = NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP;
    if (HideConsole)
        flags |= CREATE_NO_WINDOW;
    if (TextsInEnvironment)
        flags |= CREATE_UNICODE_ENVIRONMENT;
    if (!CreateProcessA(NULL, ExpandedCommandLine, NULL, NULL, TRUE, flags,
                        TextsInEnvironment ? Environment : NULL, NULL, &startup, process)) {
        ShowNotStarted(GetLastError());
        return FALSE;
    }
    Job = CreateJobObjectA(NULL, NULL);
    InJob = Job != NULL && AssignProcessToJobObject(Job, process->hProcess);
    ResumeThread(process->hThread);
    return TRUE;
}

// Ends the program and every process it started that still runs. Where the
// program could not go into a job (one the host is in forbids it), at least
// the program itself is ended.
static void EndProgram(HANDLE process) {
    if (InJob)
        TerminateJobObject(Job, 1);
    else
        TerminateProcess(process, 1);
}

// Lets go of the program's handles and its job.
static void ReleaseProgram(PROCESS_INFORMATION* process) {
    CloseHandle(process->hProcess);
    CloseHandle(process->hThread);
    if (Job != NULL)
        CloseHandle(Job);
    Job = NULL;
    InJob = FALSE;
}

// --- Judging the outcome ----------------------------------------------------

// The box for a program that ended with a non-zero exit code or abnormally:
// the code (an exit status of an abnormal end also in hexadecimal, with the
// system's description where it has one), that the text was kept, and the
// start of what the program wrote to its standard error.
static void ShowFailed(DWORD exitCode) {
    if (exitCode >= 0xC0000000u) {
        wsprintfA(Message, "The program ended abnormally, with exit code %u (0x%08X).",
                  (UINT)exitCode, (UINT)exitCode);
        AppendReason(exitCode);
    } else {
        wsprintfA(Message, "The program ended with exit code %u.", (UINT)exitCode);
    }
    Append("\n");
    Append(TextKept);
    AppendErrorText(Errors);
    ShowError();
}

static void ShowErrorsOver(BOOL ended) {
    wsprintfA(Message, "The program wrote more than 1 MiB (%u bytes) to its standard error%s",
              (UINT)ErrorLimit, ended ? " and was ended, with every process it started." : ".");
    Append("\n");
    Append(TextKept);
    AppendErrorText(Errors);
    ShowError();
}

static void ShowStatusUnknown(DWORD error) {
    wsprintfA(Message,
              "Could not learn how the program ended, so the text was left as it was.\n"
              "Error code=%d",
              (int)error);
    AppendReason(error);
    ShowError();
}

static void ShowTimedOut(void) {
    wsprintfA(Message,
              "The program was still running after %u second%s and was ended, with every "
              "process it started.",
              TimeLimit, TimeLimit == 1 ? "" : "s");
    Append("\n");
    Append(TextKept);
    ShowError();
}

// Whether the file holds exactly the text that was handed over, in the
// program's form, compared a chunk at a time. FALSE when it could not be
// read.
static BOOL HoldsTheText(HANDLE file, BOOL* same) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return FALSE;
    *same = (unsigned long long)size.QuadPart == InputSize;
    for (DWORD at = 0; *same && at < InputSize;) {
        DWORD read = 0;
        if (!ReadFile(file, Chunk, sizeof Chunk, &read, NULL))
            return FALSE;
        if (read == 0 || read > InputSize - at || memcmp(Chunk, InputBytes + at, read) != 0)
            *same = FALSE;
        at += read;
    }
    return TRUE;
}

// A program that wrote nothing has either edited its input file, whose
// content is then the result, or done nothing a text can be made of.
static BOOL TakeEditedInput(void) {
    HANDLE input = CreateFileW(InputPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (input == INVALID_HANDLE_VALUE) {
        ShowFileError(ReadFailed, InputPath, GetLastError());
        return FALSE;
    }
    BOOL same = FALSE;
    BOOL taken = FALSE;
    if (!HoldsTheText(input, &same)) {
        ShowFileError(ReadFailed, InputPath, GetLastError());
    } else if (same) {
        wsprintfA(Message, "The program wrote nothing to its standard output and left the file "
                           "as it was.");
        Append("\n");
        Append(TextKept);
        ShowError();
    } else {
        taken = ReadResult(input, InputPath, "left in its input file");
    }
    CloseHandle(input);
    return taken;
}

// Takes the program's result into TextBuffer: its standard output, or,
// when it wrote nothing over a text that was not empty, what it left in
// its input file. FALSE (after the box) when there is none to take.
static BOOL TakeResult(void) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(Capture, &size)) {
        ShowFileError(ReadFailed, CaptureFile, GetLastError());
        return FALSE;
    }
    if (size.QuadPart > 0 || TextLength == 0 || AllowEmptyOutput)
        return ReadResult(Capture, CaptureFile, "wrote");
    return TakeEditedInput();
}

// Says why the run keeps the text, or takes the result; TRUE when the text
// is to be replaced.
static BOOL Judge(WaitOutcome outcome, BOOL known, DWORD status) {
    switch (outcome) {
    case WAIT_CANCELLED:
        return FALSE; // the user chose it: no box
    case WAIT_TIMED_OUT:
        ShowTimedOut();
        return FALSE;
    case WAIT_OUTPUT_OVER:
        ShowOutputOver("wrote", TRUE);
        return FALSE;
    case WAIT_ERRORS_OVER:
        ShowErrorsOver(TRUE);
        return FALSE;
    case WAIT_BROKEN:
    case WAIT_ENDED:
        break;
    }
    // A crash or a signal is never a result, whatever IgnoreExitCode says.
    if (!known)
        ShowStatusUnknown(status);
    else if (status >= 0xC0000000u || (!IgnoreExitCode && status != 0))
        ShowFailed(status);
    else if (FileLargerThan(Errors, ErrorLimit))
        ShowErrorsOver(FALSE);
    else
        return TakeResult();
    return FALSE;
}

// Runs the program and waits for it; TRUE when its result is in TextBuffer.
static BOOL RunProgram(void) {
    PROCESS_INFORMATION process;
    if (!StartProgram(&process))
        return FALSE;
    WaitOutcome outcome = WaitForProgram(process.hProcess, Capture, Errors);
    BOOL known = FALSE;
    DWORD status = 0;
    if (outcome == WAIT_ENDED) {
        known = GetExitCodeProcess(process.hProcess, &status);
        if (!known)
            status = GetLastError();
    } else if (outcome == WAIT_BROKEN) {
        status = GetLastError();
    }
    // Whatever the program left running ends with it.
    EndProgram(process.hProcess);
    if (outcome != WAIT_ENDED)
        WaitForSingleObject(process.hProcess, INFINITE);
    ReleaseProgram(&process);
    return Judge(outcome, known, status);
}

static void Run(void) {
    if (!CreateTemporaryFiles())
        return;
    BOOL replace = PrepareInput() && RunProgram();
    CloseOutputFiles();
    if (replace && Host->SetTargetText != NULL)
        Host->SetTargetText(CurrentTarget, TextBuffer);
}

void RunPreprocessor(void) {
    if (Host == NULL || Host->GetTargetText == NULL)
        return;
    Run();
    RemoveTemporaryFiles();
}
