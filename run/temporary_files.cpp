// The run's temporary files: a uniquely named input file in the temporary
// directory, and beside it the files the program writes, created
// exclusively and removed at the end of every run. Every name is taken and
// used through the wide calls, so that a directory whose name the ANSI code
// page lacks is used as it is; only the input file's name for the program
// (InputFile) is ANSI text.
#include "temporary_files.h"
#include "messages.h"
#include "run.h"
#include "settings/settings.h"
#include "wide.h"

#include <string.h>

// Names taken in turn when the output files' names are taken already.
enum { NAME_TRIES = 8 };

WCHAR TempDirectory[PATH_ARRAY];
WCHAR InputPath[PATH_ARRAY];
WCHAR CaptureFile[PATH_ARRAY + 4];
static WCHAR ErrorFile[PATH_ARRAY + 4];
static WCHAR NewInputPath[PATH_ARRAY];
static WCHAR Prefix[3];
static BOOL InputCreated;
static BOOL CaptureCreated;
static BOOL ErrorCreated;
HANDLE Capture;
HANDLE Errors;

const char CreateFailed[] = "Could not create temporary file\n'%s'\nError code=%d";
const char ReadFailed[] = "Could not read temporary file\n'%s'\nError code=%d";

// Removes a temporary file. A process the program started may hold it open
// for a moment after the program has ended (a console host, a virus
// scanner), and Windows refuses to remove an open file: try again for up to
// a second.
static void RemoveFile(const WCHAR* path) {
    for (int tries = 0; !DeleteFileW(path) && tries < 50; tries++) {
        DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            return;
        Sleep(20);
    }
}

void CloseOutputFiles(void) {
    if (Capture != NULL)
        CloseHandle(Capture);
    if (Errors != NULL)
        CloseHandle(Errors);
    Capture = NULL;
    Errors = NULL;
}

// Removes the run's temporary files, the input file first. Only files this
// run created are removed: a name that already existed belongs to someone
// else.
void RemoveTemporaryFiles(void) {
    if (InputCreated)
        RemoveFile(InputPath);
    if (CaptureCreated)
        RemoveFile(CaptureFile);
    if (ErrorCreated)
        RemoveFile(ErrorFile);
    InputCreated = FALSE;
    CaptureCreated = FALSE;
    ErrorCreated = FALSE;
}

// Chooses the temporary directory; 0, or the error code why no file can be
// made there. The name is the directory, a separator where it lacks one,
// "se", up to four hexadecimal digits and ".TMP": it must fit in 259
// characters. Not every implementation of the unique-name call refuses a
// longer one. A WorkingDirectory with bytes that are no characters of the
// code page names no folder: its look-alike is never used.
static DWORD ChooseDirectory(void) {
    if (WorkingDirectory[0] != '\0') {
        if (!AnsiToWide(WorkingDirectory, TempDirectory, PATH_ARRAY))
            return ERROR_NO_UNICODE_TRANSLATION;
    } else {
        TempDirectory[0] = 0;
        DWORD length = GetTempPathW(PATH_CAPACITY, TempDirectory);
        if (length == 0 || length >= PATH_CAPACITY)
            TempDirectory[0] = 0;
    }
    size_t length = WideLength(TempDirectory);
    BOOL separator =
        length > 0 && (TempDirectory[length - 1] == '\\' || TempDirectory[length - 1] == '/');
    if (length == 0)
        return ERROR_DIRECTORY;
    if (length + (separator ? 0 : 1) + 2 + 4 + 4 > PATH_CAPACITY - 1)
        return ERROR_FILENAME_EXCED_RANGE;
    return 0;
}

// Creates a new uniquely named, empty input file and derives the other two
// files' names from it, and the input file's name for the program. The new
// name is taken before an earlier input file of this run is removed, so
// that the same name cannot come back. 0, or the error code.
static DWORD TakeInputName(void) {
    WidenAscii("se", Prefix);
    if (GetTempFileNameW(TempDirectory, Prefix, 0, NewInputPath) == 0)
        return GetLastError();
    if (InputCreated)
        RemoveFile(InputPath);
    WideWithAscii(InputPath, NewInputPath, "");
    InputCreated = TRUE;
    WideWithAscii(CaptureFile, InputPath, ".sql");
    WideWithAscii(ErrorFile, InputPath, ".err");
    if (!ProgramPath(InputPath, InputFile, PATH_ARRAY))
        InputFile[0] = '\0';
    return 0;
}

// Creates one of the files the program writes, exclusively and with a
// handle the program inherits; NULL when it cannot be created.
static HANDLE CreateOutputFile(const WCHAR* path, BOOL* created) {
    SECURITY_ATTRIBUTES inherit;
    memset(&inherit, 0, sizeof inherit);
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, &inherit, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    *created = TRUE;
    return file;
}

static BOOL NameTaken(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// Creates the output files beside the input file; 0, or the error code
// with the failed file's name in *failed.
static DWORD CreateOutputFiles(const WCHAR** failed) {
    Capture = CreateOutputFile(CaptureFile, &CaptureCreated);
    if (Capture == NULL) {
        *failed = CaptureFile;
        return GetLastError();
    }
    // Standard error is kept only to be shown when the exit code is.
    if (!IgnoreExitCode) {
        Errors = CreateOutputFile(ErrorFile, &ErrorCreated);
        if (Errors == NULL) {
            *failed = ErrorFile;
            return GetLastError();
        }
    }
    return 0;
}

// Chooses the directory and creates the three files. Where an output file's
// name is taken already (anyone who may write the directory can take
// names), the run takes a new name and tries again a few times. FALSE
// (after the box) when the files cannot be made.
BOOL CreateTemporaryFiles(void) {
    InputFile[0] = '\0';
    InputPath[0] = 0;
    CaptureFile[0] = 0;
    ErrorFile[0] = 0;
    DWORD error = ChooseDirectory();
    for (int tries = 0; error == 0; tries++) {
        error = TakeInputName();
        if (error != 0)
            break;
        const WCHAR* failed = NULL;
        DWORD outputError = CreateOutputFiles(&failed);
        if (outputError == 0)
            return TRUE;
        CloseOutputFiles();
        if (CaptureCreated)
            RemoveFile(CaptureFile);
        CaptureCreated = FALSE;
        if (!NameTaken(outputError) || tries + 1 == NAME_TRIES) {
            ShowFileError(CreateFailed, failed, outputError);
            return FALSE;
        }
    }
    ShowFileError("Could not create a temporary file in\n'%s'\nError code=%d", TempDirectory,
                  error);
    return FALSE;
}
