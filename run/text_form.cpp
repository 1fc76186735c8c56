// The text's way to the program and back. With the defaults (Encoding=ANSI,
// LineEndings=asis) the program gets the host's bytes as they are, and its
// output comes back as it is, unless it begins with a byte order mark: a
// UTF-16 or UTF-8 mark says what the output is, whatever Encoding says, and
// such output is read as UTF-16 or UTF-8 and converted. With another set or
// line ends the text is converted on its way out and the output on its way
// back (convert.cpp, line_ends.cpp).
#include "text_form.h"
#include "convert.h"
#include "line_ends.h"
#include "messages.h"
#include "run.h"
#include "settings/settings.h"

#include <string.h>

const char* InputBytes;
DWORD InputSize;

static const char ReadFailed[] = "Could not read temporary file\n'%s'\nError code=%d";

BOOL IsOptionWord(const char* value, const char* word) {
    for (; *word != '\0'; value++, word++) {
        char c = *value >= 'A' && *value <= 'Z' ? (char)(*value - 'A' + 'a') : *value;
        if (c != *word)
            return FALSE;
    }
    return *value == '\0';
}

void ShowUnknownOption(const char* key, const char* value, const char* known) {
    wsprintfA(Message, "%s=%s", key, value);
    // The value may have been cut where the settings read it.
    if (strlen(value) >= OPTION_CAPACITY - 1)
        Append("...");
    Append(" in section [Run] of the settings file is not a value the plug-in knows: write ");
    Append(known);
    Append(".\n");
    size_t at = strlen(Message);
    Append("\nNothing was run and the text was left as it was.");
    ShowErrorNaming(at, SettingsPath);
}

void ShowOutputOver(const char* source, BOOL ended) {
    wsprintfA(Message, "The program %s more than %u bytes, more than the plug-in takes", source,
              (UINT)TEXT_CAPACITY);
    Append(ended ? ", and was ended, with every process it started.\n" : ".\n");
    Append(TextKept);
    ShowError();
}

BOOL ChooseTextForm(void) {
    return ChooseEncoding() && ChooseLineEnds();
}

BOOL MakeProgramInput(DWORD length) {
    InputBytes = TextBuffer;
    InputSize = length;
    if (LineEndsChosen != LINE_ENDS_ASIS)
        NoteTextLineEnds(TextBuffer, length);
    if (LineEndsChosen == LINE_ENDS_UNIX)
        InputSize = MakeUnixLineEnds(TextBuffer, length);
    if (ProgramCodePage == 0 || SameInBothSets(ProgramCodePage, TextBuffer, InputSize))
        return TRUE;
    if (!ToProgramCodePage(TextBuffer, InputSize, &InputSize))
        return FALSE;
    InputBytes = RawText;
    return TRUE;
}

// --- The result -------------------------------------------------------------

// Reads from the start of the file at most capacity bytes into to, and one
// byte past them, which tells whether there are more.
static BOOL ReadFromStart(HANDLE file, char* to, DWORD capacity, DWORD* read, BOOL* more) {
    char beyond = 0;
    DWORD extra = 0;
    *read = 0;
    BOOL ok = SetFilePointer(file, 0, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
              ReadFile(file, to, capacity, read, NULL) && ReadFile(file, &beyond, 1, &extra, NULL);
    *more = extra > 0;
    return ok;
}

static BOOL HoldsNul(const char* bytes, DWORD size, const char* source) {
    const char* nul = (const char*)memchr(bytes, '\0', size);
    if (nul == NULL)
        return FALSE;
    wsprintfA(Message,
              "The program %s a NUL byte (at byte %u of %u), which text cannot hold: it may be "
              "UTF-16 or binary.",
              source, (UINT)(nul - bytes) + 1, (UINT)size);
    Append("\n");
    Append(TextKept);
    ShowError();
    return TRUE;
}

static BOOL BeginsWithMark(const char* bytes, DWORD size) {
    const BYTE* b = (const BYTE*)bytes;
    return (size >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) ||
           (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF);
}

// Makes the program's output, size bytes in RawText, the host's text in
// TextBuffer: read in the set its byte order mark names, else in the
// program's, converted, and its line ends made the text's.
static BOOL TakeOutput(DWORD size, const char* source) {
    const BYTE* b = (const BYTE*)RawText;
    OutputCode code = OUTPUT_CODE_PAGE;
    UINT codePage = ProgramCodePage;
    DWORD mark = 0;
    if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        code = OUTPUT_UTF16LE;
        mark = 2;
    } else if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        code = OUTPUT_UTF16BE;
        mark = 2;
    } else if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        codePage = AnsiCodePage() == CP_UTF8 ? 0 : CP_UTF8;
        mark = 3;
    }
    if (code == OUTPUT_CODE_PAGE && HoldsNul(RawText, size, source))
        return FALSE;
    const char* text = RawText + mark;
    DWORD length = size - mark;
    if (code == OUTPUT_CODE_PAGE && codePage != 0 && SameInBothSets(codePage, text, length))
        codePage = 0;
    if (code != OUTPUT_CODE_PAGE || codePage != 0) {
        // Converted straight into place, unless the line ends change after.
        BOOL asis = LineEndsChosen == LINE_ENDS_ASIS;
        char* to = asis ? TextBuffer : RawText;
        if (!FromProgramCode(code, codePage, text, length, to,
                             asis ? (DWORD)TEXT_CAPACITY : (DWORD)RAW_CAPACITY, &length, source))
            return FALSE;
        text = to;
    }
    DWORD final = 0;
    if (!MatchLineEnds(text, length, TextBuffer, TEXT_CAPACITY, &final)) {
        ShowConvertedTooLong(source);
        return FALSE;
    }
    TextBuffer[final] = '\0';
    return TRUE;
}

BOOL ReadResult(HANDLE file, const WCHAR* path, const char* source) {
    DWORD read = 0;
    BOOL more = FALSE;
    // As it is, the output is read straight into place; only one that
    // begins with a byte order mark is read again, to be converted.
    if (ProgramCodePage == 0 && LineEndsChosen == LINE_ENDS_ASIS) {
        BOOL ok = ReadFromStart(file, TextBuffer, TEXT_CAPACITY, &read, &more);
        TextBuffer[read] = '\0';
        if (!ok) {
            ShowFileError(ReadFailed, path, GetLastError());
            return FALSE;
        }
        if (!BeginsWithMark(TextBuffer, read)) {
            if (more) {
                ShowOutputOver(source, FALSE);
                return FALSE;
            }
            return !HoldsNul(TextBuffer, read, source);
        }
    }
    if (!ReadFromStart(file, RawText, RAW_CAPACITY, &read, &more)) {
        ShowFileError(ReadFailed, path, GetLastError());
        return FALSE;
    }
    if (more) {
        ShowOutputOver(source, FALSE);
        return FALSE;
    }
    return TakeOutput(read, source);
}
