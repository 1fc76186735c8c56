// Character sets. The host's text is in its ANSI code page; with Encoding
// set to another, the text goes to the program in that set and the output
// comes back from it, through UTF-16. No conversion ever puts one character
// in the place of another: where a character has no place in the set it
// goes to (no "best fit", no default character), or the bytes are not valid
// in the set they are read in, the run keeps the text, with a box that names
// the first such place: its line and column, and the character or byte.
#include "convert.h"
#include "messages.h"
#include "places.h"
#include "settings/settings.h"
#include "text_form.h"

#include <string.h>

char RawText[RAW_CAPACITY + 1];
UINT ProgramCodePage;

// The ANSI code page of this run, asked for only where it is needed: a run
// with the defaults converts nothing and never asks.
static UINT Ansi;
static BOOL AnsiKnown;
// Whether the program's code page is the OEM one, for the boxes.
static BOOL ProgramIsOem;
static WCHAR Wide[WIDE_CAPACITY];
static char SetName[64];

// GB18030, which like UTF-8 holds every character.
static const UINT GB18030 = 54936;

UINT AnsiCodePage(void) {
    if (!AnsiKnown) {
        Ansi = GetACP();
        AnsiKnown = TRUE;
    }
    return Ansi;
}

// --- The option -------------------------------------------------------------

// Conversions into UTF-8 and GB18030 never lack a character, and Windows
// refuses to be asked whether one did; into any other code page the
// conversion says so instead of taking a look-alike.
static BOOL HoldsEveryCharacter(UINT codePage) {
    return codePage == CP_UTF8 || codePage == GB18030;
}

int FromWide(UINT codePage, UINT flagsOf, const WCHAR* wide, int units, char* to, int capacity,
             BOOL* lost) {
    BOOL used = FALSE;
    BOOL every = HoldsEveryCharacter(flagsOf);
    int length = WideCharToMultiByte(codePage, every ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS,
                                     wide, units, to, capacity, NULL, every ? NULL : &used);
    *lost = used;
    return length;
}

// A decimal code page number, without sign or blanks.
static BOOL ReadCodePage(const char* value, UINT* codePage) {
    UINT number = 0;
    size_t length = strlen(value);
    if (length == 0 || length > 5)
        return FALSE;
    for (size_t i = 0; i < length; i++) {
        if (value[i] < '0' || value[i] > '9')
            return FALSE;
        number = number * 10 + (UINT)(value[i] - '0');
    }
    *codePage = number;
    return number <= 65535;
}

// Whether the system has the code page and converts it with the checks the
// run needs: UTF-7, ISO-2022 and the symbol code page refuse them, and the
// numbers 0 to 3 stand for other code pages.
static BOOL CanConvert(UINT codePage) {
    if (codePage < 4 || !IsValidCodePage(codePage))
        return FALSE;
    WCHAR wide[2];
    char narrow[8];
    BOOL lost = FALSE;
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, "a", 1, wide, 2) == 1 &&
           FromWide(codePage, codePage, wide, 1, narrow, sizeof narrow, &lost) > 0 && !lost;
}

BOOL ChooseEncoding(void) {
    AnsiKnown = FALSE;
    ProgramCodePage = 0;
    ProgramIsOem = FALSE;
    UINT codePage = 0;
    if (Encoding[0] == '\0' || IsOptionWord(Encoding, "ansi"))
        return TRUE;
    if (IsOptionWord(Encoding, "utf-8") || IsOptionWord(Encoding, "utf8")) {
        codePage = CP_UTF8;
    } else if (IsOptionWord(Encoding, "oem")) {
        codePage = GetOEMCP();
        ProgramIsOem = TRUE;
    } else if (!ReadCodePage(Encoding, &codePage) || !CanConvert(codePage)) {
        ShowUnknownOption("Encoding", Encoding,
                          "ANSI, UTF-8, OEM or the number of a code page this system converts "
                          "(not UTF-7 or UTF-16)");
        return FALSE;
    }
    // The ANSI code page itself (UTF-8 in a UTF-8 locale, say): nothing to
    // convert.
    if (codePage != AnsiCodePage())
        ProgramCodePage = codePage;
    return TRUE;
}

// --- Text that converts to itself ---------------------------------------------

// What was found of a code page: whether it has ASCII where ASCII has it,
// both ways (EBCDIC has not). The last two code pages asked about are kept.
struct AsciiProbe {
    UINT codePage;
    BOOL probed;
    BOOL keepsAscii;
};
static AsciiProbe Probes[2];
static int NextProbe;

static BOOL ProbeAscii(UINT codePage, UINT flagsOf) {
    char ascii[127];
    WCHAR wide[127];
    char back[sizeof ascii * 4];
    for (int i = 0; i < 127; i++)
        ascii[i] = (char)(i + 1);
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, ascii, 127, wide, 127) != 127)
        return FALSE;
    for (int i = 0; i < 127; i++) {
        if (wide[i] != (WCHAR)(i + 1))
            return FALSE;
    }
    BOOL lost = FALSE;
    return FromWide(codePage, flagsOf, wide, 127, back, sizeof back, &lost) == 127 && !lost &&
           memcmp(back, ascii, sizeof ascii) == 0;
}

// Whether the code page (flagsOf its number) has ASCII where ASCII has it.
static BOOL KeepsAscii(UINT codePage, UINT flagsOf) {
    for (const AsciiProbe& probe : Probes) {
        if (probe.probed && probe.codePage == flagsOf)
            return probe.keepsAscii;
    }
    AsciiProbe& probe = Probes[NextProbe];
    NextProbe = (NextProbe + 1) % 2;
    probe.codePage = flagsOf;
    probe.keepsAscii = ProbeAscii(codePage, flagsOf);
    probe.probed = TRUE;
    return probe.keepsAscii;
}

// Whether the bytes are ASCII alone, looked at eight at a time; a text that
// is not says so soon.
static BOOL IsAscii(const char* bytes, DWORD size) {
    const uint64_t high = 0x8080808080808080ULL;
    DWORD i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t eight;
        memcpy(&eight, bytes + i, 8);
        if ((eight & high) != 0)
            return FALSE;
    }
    for (; i < size; i++) {
        if ((BYTE)bytes[i] >= 0x80)
            return FALSE;
    }
    return TRUE;
}

BOOL SameInBothSets(UINT codePage, const char* bytes, DWORD size) {
    return IsAscii(bytes, size) && KeepsAscii(CP_ACP, AnsiCodePage()) &&
           KeepsAscii(codePage, codePage);
}

// --- Boxes ------------------------------------------------------------------

static const char* CodePageName(UINT codePage, BOOL oem) {
    if (codePage == CP_UTF8)
        wsprintfA(SetName, "UTF-8");
    else
        wsprintfA(SetName, oem ? "the OEM code page %u" : "code page %u", codePage);
    return SetName;
}

// Ends a box about the text that was not run.
static void ShowNothingRun(void) {
    Append("\nNothing was run and the text was left as it was.");
    ShowError();
}

static void ShowKept(void) {
    Append("\n");
    Append(TextKept);
    ShowError();
}

void ShowConvertedTooLong(const char* source) {
    wsprintfA(Message,
              "The program %s more than the plug-in takes: more than %u bytes once made the "
              "host's text, in its character set and line ends.",
              source, (UINT)TEXT_CAPACITY);
    ShowKept();
}

// --- The text to the program ------------------------------------------------

BOOL ToProgramCodePage(const char* text, DWORD length, DWORD* size) {
    *size = 0;
    if (length == 0)
        return TRUE;
    Place place;
    int units =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, (int)length, Wide, WIDE_CAPACITY);
    if (units == 0) {
        FindInvalid(CP_ACP, text, length, Wide, WIDE_CAPACITY, &place);
        wsprintfA(Message, "The text is not valid in the ANSI code page %u", AnsiCodePage());
        AppendPlace(&place);
        Append(", so it cannot be converted for the program.");
        ShowNothingRun();
        return FALSE;
    }
    BOOL lost = FALSE;
    int converted =
        FromWide(ProgramCodePage, ProgramCodePage, Wide, units, RawText, RAW_CAPACITY, &lost);
    if (converted == 0 || lost) {
        FindUnheld(ProgramCodePage, ProgramCodePage, Wide, (DWORD)units, &place);
        wsprintfA(Message, "The text holds a character that %s cannot hold",
                  CodePageName(ProgramCodePage, ProgramIsOem));
        AppendPlace(&place);
        Append(", so the program cannot be given the text as it is. Set Encoding to a character "
               "set that holds it: UTF-8 holds every character.");
        ShowNothingRun();
        return FALSE;
    }
    *size = (DWORD)converted;
    return TRUE;
}

// --- The result back --------------------------------------------------------

// Decodes UTF-16 bytes into Wide; the number of units, or -1 (after the
// box) when they do not fit or are not UTF-16.
static int DecodeUtf16(BOOL bigEndian, const char* bytes, DWORD size, const char* source) {
    DWORD units = size / 2;
    if (units > WIDE_CAPACITY) {
        ShowConvertedTooLong(source);
        return -1;
    }
    const BYTE* b = (const BYTE*)bytes;
    for (DWORD i = 0; i < units; i++) {
        BYTE low = b[2 * i + (bigEndian ? 1 : 0)];
        BYTE high = b[2 * i + (bigEndian ? 0 : 1)];
        Wide[i] = (WCHAR)(low | high << 8);
    }
    Place place;
    if (size % 2 != 0) {
        place.line = 1;
        place.column = 1;
        CountPlace(Wide, units, &place);
        place.isByte = TRUE;
        place.code = b[size - 1];
        wsprintfA(Message,
                  "The program %s text that is not valid UTF-16: it ends in half a "
                  "character",
                  source);
        AppendPlace(&place);
        Append(".");
        ShowKept();
        return -1;
    }
    for (DWORD i = 0; i < units; i++) {
        if (Wide[i] == 0) {
            PlaceOfUnit(Wide, i, units, &place);
            wsprintfA(Message, "The program %s a NUL character in UTF-16", source);
            AppendPlace(&place);
            Append(", which text cannot hold.");
            ShowKept();
            return -1;
        }
    }
    return (int)units;
}

// Decodes bytes of a code page into Wide; the number of units, or -1
// (after the box) when they do not fit or are not valid there.
static int DecodeCodePage(UINT codePage, const char* bytes, DWORD size, const char* source) {
    if (size == 0)
        return 0;
    int units =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, (int)size, Wide, WIDE_CAPACITY);
    if (units > 0)
        return units;
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        ShowConvertedTooLong(source);
        return -1;
    }
    Place place;
    FindInvalid(codePage, bytes, size, Wide, WIDE_CAPACITY, &place);
    wsprintfA(Message, "The program %s text that is not valid in %s", source,
              CodePageName(codePage, ProgramIsOem && codePage == ProgramCodePage));
    AppendPlace(&place);
    Append(". Check that Encoding names the character set the program writes.");
    ShowKept();
    return -1;
}

BOOL FromProgramCode(OutputCode code, UINT codePage, const char* bytes, DWORD size, char* to,
                     DWORD capacity, DWORD* length, const char* source) {
    int units = code == OUTPUT_CODE_PAGE ? DecodeCodePage(codePage, bytes, size, source)
                                         : DecodeUtf16(code == OUTPUT_UTF16BE, bytes, size, source);
    if (units < 0)
        return FALSE;
    *length = 0;
    if (units == 0)
        return TRUE;
    BOOL lost = FALSE;
    int converted = FromWide(CP_ACP, AnsiCodePage(), Wide, units, to, (int)capacity, &lost);
    if (converted == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        ShowConvertedTooLong(source);
        return FALSE;
    }
    if (converted == 0 || lost) {
        Place place;
        FindUnheld(CP_ACP, AnsiCodePage(), Wide, (DWORD)units, &place);
        wsprintfA(Message,
                  "The program %s a character that the ANSI code page %u, the host's, "
                  "cannot hold",
                  source, AnsiCodePage());
        AppendPlace(&place);
        Append(".");
        ShowKept();
        return FALSE;
    }
    *length = (DWORD)converted;
    return TRUE;
}
