// The preprocessor run: the host's text goes to a temporary input file, the
// configured program runs with its standard output captured in a second
// file, and what it wrote becomes the host's text.
//
// Whatever goes wrong on our side (no temporary name, a short write, no
// capture file, no program), the run ends without calling SetTargetText, so
// the host's text stays as it was. Both temporary files are removed at the
// end of every run.
#include "run.h"
#include "settings/settings.h"

#include <string.h>

static const UINT ErrorBox = MB_OK | MB_ICONERROR;

// The capture file's name: the input file's path followed by ".sql".
static char CaptureFile[PATH_ARRAY + 4];
static char TempDirectory[PATH_ARRAY];
static char Message[1100];
// The host's handle of the text; kept from run to run, so a host without
// GetTargetHandle gets back whatever it was last.
static TargetHandle CurrentTarget;
static BOOL InputCreated;
static BOOL CaptureCreated;

static const char CreateFailed[] = "Could not create temporary file\n'%s'\nError code=%d";

static void ShowFileError(const char* format, const char* path, DWORD error) {
    wsprintfA(Message, format, path, (int)error);
    MessageBoxA(Host->OwnerWindow, Message, "Error", ErrorBox);
}

// Removes the run's temporary files, the input file first. Only files this
// run created are removed: a capture name that already existed belongs to
// someone else.
static void RemoveTemporaryFiles(void) {
    if (InputCreated)
        DeleteFileA(InputFile);
    if (CaptureCreated)
        DeleteFileA(CaptureFile);
    InputCreated = FALSE;
    CaptureCreated = FALSE;
}

// Chooses the temporary directory and creates a uniquely named, empty input
// file there; derives the capture file's name from it.
static BOOL CreateTemporaryName(void) {
    InputFile[0] = '\0';
    CaptureFile[0] = '\0';
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
        error = ERROR_FILE_NOT_FOUND;
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
    return TRUE;
}

// Fetches the host's text and writes it to the input file; FALSE (after the
// box) when not all of it reached the file.
static BOOL WriteInput(HANDLE input) {
    if (Host->GetTargetHandle != NULL)
        Host->GetTargetHandle(&CurrentTarget);
    Host->GetTargetText(CurrentTarget, TextBuffer, TEXT_CAPACITY);
    DWORD length = (DWORD)strlen(TextBuffer);
    DWORD written = 0;
    BOOL ok = WriteFile(input, TextBuffer, length, &written, NULL);
    if (!ok || written != length) {
        MessageBoxA(Host->OwnerWindow, "Could not write TEMP file", "Error", ErrorBox);
        return FALSE;
    }
    return TRUE;
}

// Starts the program with its standard output in the capture file and waits
// for it to end. FALSE (after the box) when it could not be started.
static BOOL RunProgram(HANDLE capture) {
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof startup);
    memset(&process, 0, sizeof process);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = NULL;
    startup.hStdOutput = capture;
    startup.hStdError = NULL;
    if (!CreateProcessA(NULL, ExpandedCommandLine, NULL, NULL, TRUE, NORMAL_PRIORITY_CLASS, NULL,
                        NULL, &startup, &process)) {
        MessageBoxA(NULL, ExpandedCommandLine, "Execute Error!", ErrorBox);
        return FALSE;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return TRUE;
}

// Reads back at most TEXT_CAPACITY bytes of the program's output into
// TextBuffer. FALSE (after the box) when the file could not be read.
static BOOL ReadCapture(HANDLE capture) {
    DWORD read = 0;
    if (SetFilePointer(capture, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
        !ReadFile(capture, TextBuffer, TEXT_CAPACITY, &read, NULL)) {
        ShowFileError("Could not read temporary file\n'%s'\nError code=%d", CaptureFile,
                      GetLastError());
        return FALSE;
    }
    TextBuffer[read] = '\0';
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

    SECURITY_ATTRIBUTES inherit;
    memset(&inherit, 0, sizeof inherit);
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    HANDLE capture = CreateFileA(CaptureFile, GENERIC_READ | GENERIC_WRITE, 0, &inherit, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
    if (capture == INVALID_HANDLE_VALUE) {
        ShowFileError(CreateFailed, CaptureFile, GetLastError());
        return;
    }
    CaptureCreated = TRUE;

    BOOL ran = RunProgram(capture);
    BOOL read = ran && ReadCapture(capture);
    CloseHandle(capture);
    if (read && Host->SetTargetText != NULL)
        Host->SetTargetText(CurrentTarget, TextBuffer);
}

void RunPreprocessor(void) {
    if (Host->GetTargetText == NULL)
        return;
    Run();
    RemoveTemporaryFiles();
}
