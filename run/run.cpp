// The preprocessor run: the host's text goes to a temporary input file, the
// configured program runs with its standard output captured in a second
// file, and what it wrote becomes the host's text.
//
// The text is replaced only after a run that went right: the text was taken
// whole, the program started, ended by itself with exit code 0 (unless the
// settings say not to look), within its time limit, and wrote no more than
// the buffer holds and no NUL byte. After anything else the run ends with a
// box that says why, without calling SetTargetText, so the host's text stays
// as it was. The three temporary files are removed at the end of every run.
#include "run.h"
#include "settings/settings.h"

#include <string.h>

static const UINT ErrorBox = MB_OK | MB_ICONERROR;

// The longest text taken. GetTargetText copies at most the capacity, and a
// host may keep the last byte for its terminator, so a text of
// TEXT_CAPACITY - 1 bytes or more may be the cut head of a longer one.
static const DWORD LongestText = TEXT_CAPACITY - 2;
// How much of the program's standard error a box shows.
enum { ERROR_TEXT_SHOWN = 1000 };

// The capture file's name: the input file's path followed by ".sql"; the
// standard error file's: the input file's path followed by ".err".
static char CaptureFile[PATH_ARRAY + 4];
static char ErrorFile[PATH_ARRAY + 4];
static char TempDirectory[PATH_ARRAY];
// A box's text, made of formatted lines (at most 1024 characters each) and
// the start of the program's standard error.
static char Message[3072];
static char Reason[512];
static char ErrorText[ERROR_TEXT_SHOWN + 1];
// The host's handle of the text; kept from run to run, so a host without
// GetTargetHandle gets back whatever it was last.
static TargetHandle CurrentTarget;
static BOOL InputCreated;
static BOOL CaptureCreated;
static BOOL ErrorCreated;

// How the program's run ended.
enum Outcome { RAN, NOT_STARTED, TIMED_OUT };

static const char CreateFailed[] = "Could not create temporary file\n'%s'\nError code=%d";
static const char TextKept[] = "The text was left as it was.";

// Appends text to Message, as far as it has room.
static void Append(const char* text) {
    size_t used = strlen(Message);
    size_t room = sizeof Message - used; // with the terminator's byte
    size_t length = strlen(text);
    if (length >= room)
        length = room - 1;
    memcpy(Message + used, text, length);
    Message[used + length] = '\0';
}

// Appends a line break and then the system's description of an error code,
// when it has one.
static void AppendReason(DWORD code) {
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                  code, 0, Reason, sizeof Reason, NULL);
    while (length > 0 &&
           (Reason[length - 1] == '\r' || Reason[length - 1] == '\n' || Reason[length - 1] == ' '))
        Reason[--length] = '\0';
    if (length > 0) {
        Append("\n");
        Append(Reason);
    }
}

static void ShowError(void) {
    MessageBoxA(Host->OwnerWindow, Message, "Error", ErrorBox);
}

// An "Error" box with a path and an error code, and the code's description.
static void ShowFileError(const char* format, const char* path, DWORD error) {
    wsprintfA(Message, format, path, (int)error);
    AppendReason(error);
    ShowError();
}

// Removes a temporary file. A process the program started may hold it open
// for a moment after the program has ended (a console host, a virus
// scanner), and Windows refuses to remove an open file: try again for up to
// a second.
static void RemoveFile(const char* path) {
    for (int tries = 0; !DeleteFileA(path) && tries < 50; tries++) {
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            return;
        Sleep(20);
    }
}

// Removes the run's temporary files, the input file first. Only files this
// run created are removed: a name that already existed belongs to someone
// else.
static void RemoveTemporaryFiles(void) {
    if (InputCreated)
        RemoveFile(InputFile);
    if (CaptureCreated)
        RemoveFile(CaptureFile);
    if (ErrorCreated)
        RemoveFile(ErrorFile);
    InputCreated = FALSE;
    CaptureCreated = FALSE;
    ErrorCreated = FALSE;
}

// Chooses the temporary directory and creates a uniquely named, empty input
// file there; derives the other two files' names from it.
static BOOL CreateTemporaryName(void) {
    InputFile[0] = '\0';
    CaptureFile[0] = '\0';
    ErrorFile[0] = '\0';
    if (WorkingDirectory[0] != '\0') {
        strcpy(TempDirectory, WorkingDirectory);
    } else {
        TempDirectory[0] = '\0';
        DWORD length = GetTempPathA(PATH_CAPACITY, TempDirectory);
        if (length == 0 || length >= PATH_CAPACITY)
            TempDirectory[0] = '\0';
    }
    // The name is the directory, a separator where it lacks one, "se", up to
    // four hexadecimal digits and ".TMP": it must fit in 259 characters. Not
    // every implementation of the unique-name call refuses a longer one.
    size_t length = strlen(TempDirectory);
    BOOL separator =
        length > 0 && (TempDirectory[length - 1] == '\\' || TempDirectory[length - 1] == '/');
    DWORD error = 0;
    if (length == 0) {
        error = ERROR_DIRECTORY;
    } else if (length + (separator ? 0 : 1) + 2 + 4 + 4 > PATH_CAPACITY - 1) {
        error = ERROR_FILENAME_EXCED_RANGE;
    } else if (GetTempFileNameA(TempDirectory, "se", 0, InputFile) == 0) {
        error = GetLastError();
        InputFile[0] = '\0';
    }
    if (error != 0) {
        ShowFileError("Could not create a temporary file in\n'%s'\nError code=%d", TempDirectory,
                      error);
        return FALSE;
    }
    InputCreated = TRUE;
    strcpy(CaptureFile, InputFile);
    strcat(CaptureFile, ".sql");
    strcpy(ErrorFile, InputFile);
    strcat(ErrorFile, ".err");
    return TRUE;
}

// Fetches the host's text and writes it to the input file; FALSE (after the
// box) when the text may not be whole or not all of it reached the file.
static BOOL WriteInput(HANDLE input) {
    if (Host->GetTargetHandle != NULL)
        Host->GetTargetHandle(&CurrentTarget);
    Host->GetTargetText(CurrentTarget, TextBuffer, TEXT_CAPACITY);
    DWORD length = (DWORD)strlen(TextBuffer);
    if (length > LongestText) {
        wsprintfA(Message,
                  "The text is longer than the plug-in takes (at most %u bytes).\n"
                  "Nothing was run and the text was left as it was.",
                  (UINT)LongestText);
        ShowError();
        return FALSE;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(input, TextBuffer, length, &written, NULL);
    if (!ok || written != length) {
        MessageBoxA(Host->OwnerWindow, "Could not write TEMP file", "Error", ErrorBox);
        return FALSE;
    }
    return TRUE;
}

// Creates one of the files the program writes, exclusively and with a
// handle the program inherits. INVALID_HANDLE_VALUE (after the box) when it
// cannot be created.
static HANDLE CreateOutputFile(const char* path, BOOL* created) {
    SECURITY_ATTRIBUTES inherit;
    memset(&inherit, 0, sizeof inherit);
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, &inherit, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        ShowFileError(CreateFailed, path, GetLastError());
    else
        *created = TRUE;
    return file;
}

// The "Execute Error!" box: the command line, then why it could not start:
// where no command line is set, which file to set it in; otherwise the
// system's description of the error.
static void ShowNotStarted(DWORD error) {
    Message[0] = '\0';
    Append(ExpandedCommandLine);
    const char* p = CommandLine;
    while (*p == ' ' || *p == '\t')
        p++;
    if (*p == '\0') {
        Append("\nNo command line is set. Write one as CommandLine in section [Path] of the "
               "settings file:\n");
        Append(SettingsPath[0] != '\0' ? SettingsPath
                                       : "(none: no settings path could be made from the "
                                         "module's path)");
    } else {
        AppendReason(error);
    }
    MessageBoxA(NULL, Message, "Execute Error!", ErrorBox);
}

// The time limit in milliseconds for the wait, INFINITE for none.
static DWORD WaitLimit(void) {
    if (TimeLimit == 0 || TimeLimit > (INFINITE - 1) / 1000)
        return INFINITE;
    return TimeLimit * 1000;
}

// Starts the program with its standard output in the capture file and its
// standard error in the error file (or the null device), waits for it to
// end, or, with a time limit, ends it and everything it started once the
// limit has passed. *exitCode gets the program's exit code.
static Outcome RunProgram(HANDLE capture, HANDLE errors, DWORD* exitCode) {
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    memset(&process, 0, sizeof process);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = NULL;
    startup.hStdOutput = capture;
    startup.hStdError = errors;
    DWORD limit = WaitLimit();
    DWORD flags = NORMAL_PRIORITY_CLASS;
    if (HideConsole)
        flags |= CREATE_NO_WINDOW;
    // A program that may have to be ended starts suspended in a group of its
    // own and goes into a job before it runs, so the job holds everything it
    // starts.
    if (limit != INFINITE)
        flags |= CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP;
    if (!CreateProcessA(NULL, ExpandedCommandLine, NULL, NULL, TRUE, flags, NULL, NULL, &startup,
                        &process)) {
        ShowNotStarted(GetLastError());
        return NOT_STARTED;
    }
    Outcome outcome = RAN;
    if (limit == INFINITE) {
        WaitForSingleObject(process.hProcess, INFINITE);
    } else {
        HANDLE job = CreateJobObjectA(NULL, NULL);
        BOOL inJob = job != NULL && AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
        if (WaitForSingleObject(process.hProcess, limit) == WAIT_TIMEOUT) {
            // Where the program could not go into a job (one the host is in
            // forbids it), at least the program itself is ended.
            if (inJob)
                TerminateJobObject(job, 1);
            else
                TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, INFINITE);
            outcome = TIMED_OUT;
        }
        if (job != NULL)
            CloseHandle(job);
    }
    *exitCode = 0;
    GetExitCodeProcess(process.hProcess, exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return outcome;
}

// The box for a program that ended with a non-zero exit code: the code (an
// exit status of an abnormal end also in hexadecimal, with the system's
// description where it has one), that the text was kept, and the start of
// what the program wrote to its standard error.
static void ShowFailed(DWORD exitCode, HANDLE errors) {
    if (exitCode >= 0xC0000000u) {
        wsprintfA(Message, "The program ended abnormally, with exit code %u (0x%08X).",
                  (UINT)exitCode, (UINT)exitCode);
        AppendReason(exitCode);
    } else {
        wsprintfA(Message, "The program ended with exit code %u.", (UINT)exitCode);
    }
    Append("\n");
    Append(TextKept);
    DWORD read = 0;
    char beyond = 0;
    DWORD more = 0;
    if (SetFilePointer(errors, 0, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(errors, ErrorText, ERROR_TEXT_SHOWN, &read, NULL))
        ReadFile(errors, &beyond, 1, &more, NULL);
    ErrorText[read] = '\0';
    size_t length = strlen(ErrorText);
    while (length > 0 && (ErrorText[length - 1] == '\n' || ErrorText[length - 1] == '\r'))
        ErrorText[--length] = '\0';
    if (length > 0) {
        Append("\n\nWhat it wrote to its standard error:\n");
        Append(ErrorText);
        if (more > 0)
            Append("\n[...]");
    }
    ShowError();
}

// Reads back the program's output into TextBuffer. FALSE (after the box)
// when it could not be read, is longer than the buffer holds (found by
// reading one byte past it, never by taking more than it holds) or holds a
// NUL byte, which would cut the text the host takes.
static BOOL ReadCapture(HANDLE capture) {
    DWORD read = 0;
    char beyond = 0;
    DWORD more = 0;
    if (SetFilePointer(capture, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !ReadFile(capture, TextBuffer, TEXT_CAPACITY, &read, NULL) ||
        !ReadFile(capture, &beyond, 1, &more, NULL)) {
        TextBuffer[read] = '\0';
        ShowFileError("Could not read temporary file\n'%s'\nError code=%d", CaptureFile,
                      GetLastError());
        return FALSE;
    }
    TextBuffer[read] = '\0';
    if (more > 0) {
        wsprintfA(Message, "The program wrote more than %u bytes, more than the plug-in takes.",
                  (UINT)TEXT_CAPACITY);
        Append("\n");
        Append(TextKept);
        ShowError();
        return FALSE;
    }
    size_t length = strlen(TextBuffer);
    if (length < read) {
        wsprintfA(Message,
                  "The program's output holds a NUL byte (at byte %u of %u), which text cannot "
                  "hold: it may be UTF-16 or binary.",
                  (UINT)length + 1, (UINT)read);
        Append("\n");
        Append(TextKept);
        ShowError();
        return FALSE;
    }
    return TRUE;
}

static void Run(void) {
    if (!CreateTemporaryName())
        return;

    HANDLE input = CreateFileA(InputFile, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (input == INVALID_HANDLE_VALUE) {
        ShowFileError(CreateFailed, InputFile, GetLastError());
        return;
    }
    if (!ExpandCommandLine(InputFile)) {
        CloseHandle(input);
        MessageBoxA(Host->OwnerWindow,
                    "The expanded command line is longer than 259 characters.\n"
                    "Nothing was run and the text was left as it was.",
                    "Error", ErrorBox);
        return;
    }
    BOOL written = WriteInput(input);
    CloseHandle(input);
    if (!written)
        return;

    HANDLE capture = CreateOutputFile(CaptureFile, &CaptureCreated);
    if (capture == INVALID_HANDLE_VALUE)
        return;
    // Standard error is kept only to be shown when the exit code is.
    HANDLE errors = NULL;
    if (!IgnoreExitCode) {
        errors = CreateOutputFile(ErrorFile, &ErrorCreated);
        if (errors == INVALID_HANDLE_VALUE) {
            CloseHandle(capture);
            return;
        }
    }

    DWORD exitCode = 0;
    Outcome outcome = RunProgram(capture, errors, &exitCode);
    BOOL replace = FALSE;
    if (outcome == TIMED_OUT) {
        wsprintfA(Message,
                  "The program was still running after %u second%s and was ended, with every "
                  "process it started.",
                  TimeLimit, TimeLimit == 1 ? "" : "s");
        Append("\n");
        Append(TextKept);
        ShowError();
    } else if (outcome == RAN && !IgnoreExitCode && exitCode != 0) {
        ShowFailed(exitCode, errors);
    } else if (outcome == RAN) {
        replace = ReadCapture(capture);
    }
    CloseHandle(capture);
    if (errors != NULL)
        CloseHandle(errors);
    if (replace && Host->SetTargetText != NULL)
        Host->SetTargetText(CurrentTarget, TextBuffer);
}

void RunPreprocessor(void) {
    if (Host->GetTargetText == NULL)
        return;
    Run();
    RemoveTemporaryFiles();
}
