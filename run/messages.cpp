// The texts of the run's boxes.
#include "messages.h"
#include "run.h"
#include "settings/settings.h"
#include "wide.h"

#include <string.h>

static const UINT ErrorBox = MB_OK | MB_ICONERROR;

enum {
    // How much of the program's standard error a box shows, in characters.
    ERROR_TEXT_SHOWN = 1000,
    // The most of it read: twice as many bytes (UTF-16 takes two for each
    // character), and room to see a password at the end of it whole.
    ERROR_TEXT_READ = 2 * (ERROR_TEXT_SHOWN + HOST_TEXT_SIZE),
    // The shortest password masked in standard error: a shorter one would
    // mask parts of ordinary words.
    SHORTEST_MASKED = 4
};

// Windows' ERROR_ELEVATION_REQUIRED, which not every set of its headers names.
static const DWORD ElevationRequired = 740;

const char TextKept[] = "The text was left as it was.";

// Formatted lines are at most 1024 characters each; the rest holds the start
// of the program's standard error and the command line.
char Message[3072];
static char Reason[512];
static char ErrorText[ERROR_TEXT_READ + 1];
static char ErrorShown[ERROR_TEXT_SHOWN + HOST_TEXT_SIZE + 1];
// A part of the command line with the password's place masked.
static char Masked[PATH_ARRAY + 4];
static char Password[HOST_TEXT_SIZE + 1];
static char Program[PATH_ARRAY];
static char Prefix[PATH_ARRAY];
static char Candidate[PATH_ARRAY];
// The Windows folder, its System32, and the place in its Sysnative folder
// where a 32-bit process finds a program of the 64-bit System32; the PATH
// variable, as long as Windows lets it be.
static char WindowsFolder[PATH_ARRAY];
static char System32[PATH_ARRAY];
static char Sysnative[PATH_ARRAY];
static char PathVariable[32767];

void Append(const char* text) {
    size_t used = strlen(Message);
    size_t room = sizeof Message - used; // with the terminator's byte
    size_t length = strlen(text);
    if (length >= room)
        length = room - 1;
    memcpy(Message + used, text, length);
    Message[used + length] = '\0';
}

void AppendReason(DWORD code) {
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

// Copies the start of the standard error's text (length characters) into
// ErrorShown, the password as "****" wherever it stands in full, when it has
// at least SHORTEST_MASKED characters; a password that begins within the
// start is masked whole. The number of characters taken.
static DWORD MaskErrorText(DWORD length) {
    CopyHostText(Password, Host->TextP);
    size_t passwordLength = strlen(Password);
    BOOL mask = passwordLength >= SHORTEST_MASKED;
    DWORD taken = 0;
    size_t out = 0;
    while (taken < length && taken < ERROR_TEXT_SHOWN) {
        if (mask && strncmp(ErrorText + taken, Password, passwordLength) == 0) {
            memcpy(ErrorShown + out, "****", 4);
            out += 4;
            taken += (DWORD)passwordLength;
        } else {
            ErrorShown[out++] = ErrorText[taken++];
        }
    }
    while (out > 0 && (ErrorShown[out - 1] == '\n' || ErrorShown[out - 1] == '\r'))
        out--;
    ErrorShown[out] = '\0';
    return taken;
}

void AppendErrorText(HANDLE errors) {
    if (errors == NULL)
        return;
    DWORD read = 0;
    char beyond = 0;
    DWORD more = 0;
    if (SetFilePointer(errors, 0, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
        ReadFile(errors, ErrorText, ERROR_TEXT_READ, &read, NULL))
        ReadFile(errors, &beyond, 1, &more, NULL);
    // A NUL byte would end the text: UTF-16 has one in every other byte.
    DWORD length = 0;
    for (DWORD i = 0; i < read; i++) {
        if (ErrorText[i] != '\0')
            ErrorText[length++] = ErrorText[i];
    }
    ErrorText[length] = '\0';
    DWORD taken = MaskErrorText(length);
    if (ErrorShown[0] != '\0') {
        Append("\n\nWhat it wrote to its standard error:\n");
        Append(ErrorShown);
        if (more > 0 || taken < length)
            Append("\n[...]");
    }
}

HWND HostWindow(void) {
    HWND owner = Host->OwnerWindow;
    return owner != NULL && IsWindow(owner) ? owner : NULL;
}

void ShowError(void) {
    MessageBoxA(HostWindow(), Message, "Error", ErrorBox);
}

// Shows Message with the path put in at its byte at, as the system names
// the path.
static void ShowNaming(HWND owner, const char* caption, size_t at, const WCHAR* path) {
    MessageBoxNaming(owner, Message, path, &at, 1, caption, ErrorBox);
}

void ShowFileError(const char* format, const WCHAR* path, DWORD error) {
    const char* insert = strstr(format, "%s");
    size_t at = (size_t)(insert - format);
    memcpy(Message, format, at);
    wsprintfA(Message + at, insert + 2, (int)error);
    AppendReason(error);
    ShowNaming(HostWindow(), "Error", at, path);
}

void ShowErrorNaming(size_t at, const WCHAR* path) {
    ShowNaming(HostWindow(), "Error", at, path);
}

void ShowPathError(const char* before, const WCHAR* path, const char* after) {
    Message[0] = '\0';
    Append(before);
    size_t at = strlen(Message);
    Append(after);
    ShowNaming(HostWindow(), "Error", at, path);
}

// Copies length characters of ExpandedCommandLine from from on into Masked,
// with the place where the password was put in as "****".
static const char* MaskedPart(size_t from, size_t length) {
    size_t out = 0;
    BOOL masked = FALSE;
    for (size_t at = from; at < from + length; at++) {
        if (at < PasswordStart || at >= PasswordEnd) {
            Masked[out++] = ExpandedCommandLine[at];
        } else if (!masked) {
            memcpy(Masked + out, "****", 4);
            out += 4;
            masked = TRUE;
        }
    }
    Masked[out] = '\0';
    return Masked;
}

const char* ShownCommandLine(void) {
    return MaskedPart(0, strlen(ExpandedCommandLine));
}

static BOOL IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Copies into Program the name the process-creation call looks for: what
// stands between the double quotes the line starts with, or else everything
// up to the first blank. FALSE when that name holds a double quote, or opens
// one it never closes: no file has such a name.
static BOOL TakeProgramName(const char* line) {
    const char* end;
    BOOL valid = TRUE;
    if (line[0] == '"') {
        line++;
        end = strchr(line, '"');
        if (end == NULL) {
            end = line + strlen(line);
            valid = FALSE;
        }
    } else {
        end = line;
        while (*end != '\0' && !IsBlank(*end)) {
            if (*end == '"')
                valid = FALSE;
            end++;
        }
    }
    size_t length = (size_t)(end - line);
    memcpy(Program, line, length);
    Program[length] = '\0';
    return valid;
}

static BOOL IsFile(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    return GetFileAttributesExA(path, GetFileExInfoStandard, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The longest start of an unquoted line, up to a blank and longer than its
// first word, that names a file: a path with blanks that lacks its quotes.
static BOOL FindFilePrefix(const char* line) {
    Prefix[0] = '\0';
    for (size_t i = strlen(Program) + 1; line[i - 1] != '\0'; i++) {
        if ((IsBlank(line[i]) || line[i] == '\0') && !IsBlank(line[i - 1])) {
            memcpy(Candidate, line, i);
            Candidate[i] = '\0';
            if (IsFile(Candidate))
                memcpy(Prefix, Candidate, i + 1);
        }
    }
    return Prefix[0] != '\0';
}

// Whether the template lacks the opening quote of its first closing one:
// it starts without a double quote, and its first double quote ends a word
// (follows a non-blank, and a blank or the end follows it). Reading the
// settings file takes off a pair of double quotes around the whole value,
// so "C:\My Tools\pp.exe" "%f" comes back as C:\My Tools\pp.exe" "%f.
static BOOL LostItsOpeningQuote(const char* line) {
    const char* quote = strchr(line, '"');
    return line[0] != '"' && quote != NULL && quote > line && !IsBlank(quote[-1]) &&
           (quote[1] == '\0' || IsBlank(quote[1]));
}

static BOOL IsSeparator(char c) {
    return c == '\\' || c == '/';
}

static char Folded(char c) {
    if (c == '/')
        return '\\';
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Whether the folder (length characters of folder) is System32 or lies
// below it, compared without regard to case or to the kind of separator;
// the rest of its path below System32 (empty, or from a separator on) into
// *rest.
static BOOL InSystem32(const char* folder, size_t length, const char** rest) {
    size_t base = strlen(System32);
    if (length < base)
        return FALSE;
    for (size_t i = 0; i < base; i++) {
        if (Folded(folder[i]) != Folded(System32[i]))
            return FALSE;
    }
    if (length > base && !IsSeparator(folder[base]))
        return FALSE;
    *rest = folder + base;
    return TRUE;
}

// Whether the program by that name is in the Sysnative twin of a folder in
// System32; its path there into Sysnative.
static BOOL FoundInSysnative(const char* folder, size_t length, const char* name) {
    const char* rest = NULL;
    if (!InSystem32(folder, length, &rest))
        return FALSE;
    size_t restLength = length - (size_t)(rest - folder);
    while (restLength > 0 && IsSeparator(rest[restLength - 1]))
        restLength--;
    // The process-creation call adds ".exe" to a name without an extension.
    BOOL extension = strchr(name, '.') != NULL;
    size_t windows = strlen(WindowsFolder);
    size_t total =
        windows + strlen("\\Sysnative") + restLength + 1 + strlen(name) + (extension ? 0 : 4);
    if (total > PATH_CAPACITY - 1)
        return FALSE;
    memcpy(Sysnative, WindowsFolder, windows);
    memcpy(Sysnative + windows, "\\Sysnative", strlen("\\Sysnative"));
    size_t used = windows + strlen("\\Sysnative");
    memcpy(Sysnative + used, rest, restLength);
    used += restLength;
    Sysnative[used++] = '\\';
    strcpy(Sysnative + used, name);
    if (!extension)
        strcat(Sysnative, ".exe");
    return IsFile(Sysnative);
}

// Whether a program that was not found is one of the 64-bit System32, which a
// 32-bit process on 64-bit Windows does not see: there System32 shows the
// 32-bit SysWOW64 instead, so wsl.exe, bash.exe or OpenSSH's ssh.exe (in
// System32\OpenSSH, on the PATH) are not found by their names, nor by their
// paths. The real folder is reached as %windir%\Sysnative. Puts the
// program's path there into Sysnative.
static BOOL InSysnative(void) {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
        return FALSE;
    UINT length = GetSystemWindowsDirectoryA(WindowsFolder, PATH_CAPACITY);
    if (length == 0 || length + strlen("\\System32") > PATH_CAPACITY - 1)
        return FALSE;
    while (length > 0 && IsSeparator(WindowsFolder[length - 1]))
        WindowsFolder[--length] = '\0';
    strcpy(System32, WindowsFolder);
    strcat(System32, "\\System32");
    const char* name = Program;
    for (const char* p = Program; *p != '\0'; p++) {
        if (IsSeparator(*p) || *p == ':')
            name = p + 1;
    }
    if (name[0] == '\0')
        return FALSE;
    // A path counts when it lies in System32.
    if (name != Program)
        return FoundInSysnative(Program, (size_t)(name - Program), name);
    // A bare name is looked for in System32, then in the folders of the PATH.
    if (FoundInSysnative(System32, strlen(System32), name))
        return TRUE;
    DWORD size = GetEnvironmentVariableA("PATH", PathVariable, sizeof PathVariable);
    if (size == 0 || size >= sizeof PathVariable)
        return FALSE;
    for (const char* entry = PathVariable; *entry != '\0';) {
        const char* end = strchr(entry, ';');
        size_t entryLength = end != NULL ? (size_t)(end - entry) : strlen(entry);
        if (FoundInSysnative(entry, entryLength, name))
            return TRUE;
        entry += entryLength + (end != NULL ? 1 : 0);
    }
    return FALSE;
}

// The program that was looked for and, where the line looks mistyped or
// the program lies where this process cannot see it, what to do.
static void AppendProgram(DWORD error) {
    const char* line = ExpandedCommandLine;
    BOOL valid = TakeProgramName(line);
    if (Program[0] == '\0')
        return;
    Append("\nThe program looked for: ");
    Append(MaskedPart(line[0] == '"' ? 1 : 0, strlen(Program)));
    if (!valid) {
        Append("\nHint: no file name holds a double quote. Reading the settings file takes off "
               "the pair of double quotes around a whole value, so a command line that begins "
               "and ends with one needs one more pair around it: "
               "CommandLine=\"\"C:\\Tools\\pp.exe\" \"%f\"\"");
    } else if (LostItsOpeningQuote(CommandLine)) {
        Append("\nHint: the line has a closing double quote without its opening one. Reading the "
               "settings file takes off the pair of double quotes around a whole value, so a "
               "command line that begins and ends with one needs one more pair around it:\n"
               "CommandLine=\"\"");
        Append(CommandLine);
        Append("\"\"");
    } else if (line[0] != '"' && !IsFile(Program) && FindFilePrefix(line)) {
        Append("\nHint: '");
        Append(MaskedPart(0, strlen(Prefix)));
        Append("' is a file: put a path that holds blanks between double quotes.");
    } else if ((error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) && InSysnative()) {
        Append("\nHint: this 32-bit plug-in runs on 64-bit Windows, where System32 shows it the "
               "32-bit SysWOW64 instead, and the program is not there. It is in the 64-bit "
               "System32, which a 32-bit program reaches as %windir%\\Sysnative: write it as\n");
        Append(Sysnative);
    }
}

// Whether the file begins with a UTF-8 byte order mark, which Windows reads
// as part of the first line, so that a section header there is none.
static BOOL BeginsWithUtf8Mark(HANDLE file) {
    unsigned char start[3];
    DWORD read = 0;
    return ReadFile(file, start, sizeof start, &read, NULL) && read == sizeof start &&
           start[0] == 0xEF && start[1] == 0xBB && start[2] == 0xBF;
}

// What to do about a program that needs elevation: Windows takes a 32-bit
// program without a manifest for an installer by its name.
static void AppendElevationAdvice(void) {
    Append("\nHint: Windows starts a 32-bit program that has no manifest, and whose name holds "
           "\"setup\", \"install\", \"update\" or \"patch\", as an installer, which needs an "
           "administrator. Rename the program (or a copy of it) so that its name holds none of "
           "these words, or give it a manifest that asks for requestedExecutionLevel "
           "level=\"asInvoker\" (built in, or in a file beside it named after it with "
           "\".manifest\" added).");
}

// Why the settings file gave no command line: it does not exist, cannot be
// read (and why), or holds none.
static void AppendSettingsState(void) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(SettingsPath, GetFileExInfoStandard, &info)) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            Append("\nThe file does not exist.");
            return;
        }
        Append("\nThe file could not be read:");
        AppendReason(error);
        return;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        Append("\nThat is a directory, not a file.");
        return;
    }
    HANDLE file = CreateFileW(SettingsPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        Append("\nThe file could not be read:");
        AppendReason(GetLastError());
        return;
    }
    BOOL marked = BeginsWithUtf8Mark(file);
    CloseHandle(file);
    Append("\nThe file holds no CommandLine in that section, or an empty one.");
    if (marked)
        Append("\nThe settings file begins with a UTF-8 byte order mark, which Windows reads as "
               "part of its first line: save it as ANSI.");
}

void ShowNotStarted(DWORD error) {
    Message[0] = '\0';
    Append(ShownCommandLine());
    const char* p = CommandLine;
    // Where the box names the settings file, the byte of Message it goes at.
    size_t pathAt = 0;
    while (IsBlank(*p))
        p++;
    if (*p == '\0') {
        Append("\nNo command line is set. Write one as CommandLine in section [Path] of the "
               "settings file:\n");
        if (SettingsPath[0] == 0) {
            Append("(none: no settings path could be made from the module's path)");
        } else {
            pathAt = strlen(Message);
            AppendSettingsState();
        }
    } else {
        AppendReason(error);
        AppendProgram(error);
        if (error == ElevationRequired)
            AppendElevationAdvice();
    }
    if (pathAt != 0)
        ShowNaming(NULL, "Execute Error!", pathAt, SettingsPath);
    else
        MessageBoxA(NULL, Message, "Execute Error!", ErrorBox);
}
