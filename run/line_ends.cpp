// Line ends. With LineEndings=keep the result's line ends are made those of
// the host's text: a program that writes LF (MSYS, Cygwin and WSL tools) or
// CR CR LF (a C runtime in text mode that was given CR LF) gives back lines
// that end as the text's did. With LineEndings=unix the program also gets
// the text with LF line ends.
//
// A line end is an LF together with every CR directly before it, so CR LF
// and CR CR LF count as one line end; a CR not followed by an LF is no line
// end and is left as it is. The text's line end is the kind it uses most:
// CR LF where its lines end in CR LF at least as often as in a bare LF,
// else LF. A text without any line end gives no model: the result's line
// ends are then made all alike, to the kind the result itself uses most.
#include "line_ends.h"
#include "settings/settings.h"
#include "text_form.h"

#include <string.h>

LineEndsChoice LineEndsChosen;

// The line end the result's are made: none noted, CR LF or LF.
enum TextLineEnd { TEXT_LINE_END_NONE, TEXT_LINE_END_CRLF, TEXT_LINE_END_LF };
static TextLineEnd TextLineEndNoted;

BOOL ChooseLineEnds(void) {
    if (LineEndings[0] == '\0' || IsOptionWord(LineEndings, "asis")) {
        LineEndsChosen = LINE_ENDS_ASIS;
    } else if (IsOptionWord(LineEndings, "keep")) {
        LineEndsChosen = LINE_ENDS_KEEP;
    } else if (IsOptionWord(LineEndings, "unix")) {
        LineEndsChosen = LINE_ENDS_UNIX;
    } else {
        ShowUnknownOption("LineEndings", LineEndings, "asis, keep or unix");
        return FALSE;
    }
    return TRUE;
}

// Counts the line ends of a text: those with a CR before the LF and those
// without.
static void CountLineEnds(const char* text, DWORD length, DWORD* crlf, DWORD* lf) {
    *crlf = 0;
    *lf = 0;
    const char* end = text + length;
    for (const char* p = text; p < end;) {
        const char* feed = (const char*)memchr(p, '\n', (size_t)(end - p));
        if (feed == NULL)
            break;
        if (feed > text && feed[-1] == '\r')
            ++*crlf;
        else
            ++*lf;
        p = feed + 1;
    }
}

static TextLineEnd MostUsed(const char* text, DWORD length) {
    DWORD crlf, lf;
    CountLineEnds(text, length, &crlf, &lf);
    if (crlf == 0 && lf == 0)
        return TEXT_LINE_END_NONE;
    return crlf >= lf ? TEXT_LINE_END_CRLF : TEXT_LINE_END_LF;
}

void NoteTextLineEnds(const char* text, DWORD length) {
    TextLineEndNoted = MostUsed(text, length);
}

// Appends length bytes to to at *out; FALSE when they do not fit in
// capacity.
static BOOL Put(char* to, DWORD* out, DWORD capacity, const char* bytes, DWORD length) {
    if (length > capacity - *out)
        return FALSE;
    memmove(to + *out, bytes, length);
    *out += length;
    return TRUE;
}

// Copies from into to (which may be from itself when the copy cannot grow),
// every line end made the one given; FALSE when the copy would be longer
// than capacity. Lines that end as they should are copied together with
// those after them, up to the next line end that changes.
static BOOL ChangeLineEnds(const char* from, DWORD size, char* to, DWORD capacity, BOOL crlf,
                           DWORD* length) {
    const char* end = from + size;
    const char* pending = from;
    DWORD out = 0;
    for (const char* p = from; p < end;) {
        const char* feed = (const char*)memchr(p, '\n', (size_t)(end - p));
        if (feed == NULL)
            break;
        const char* kept = feed;
        while (kept > p && kept[-1] == '\r')
            kept--;
        DWORD returns = (DWORD)(feed - kept);
        if (returns != (crlf ? 1u : 0u)) {
            if (!Put(to, &out, capacity, pending, (DWORD)(kept - pending)) ||
                !Put(to, &out, capacity, crlf ? "\r\n" : "\n", crlf ? 2 : 1))
                return FALSE;
            pending = feed + 1;
        }
        p = feed + 1;
    }
    if (!Put(to, &out, capacity, pending, (DWORD)(end - pending)))
        return FALSE;
    *length = out;
    return TRUE;
}

DWORD MakeUnixLineEnds(char* text, DWORD length) {
    DWORD changed = length;
    ChangeLineEnds(text, length, text, length, FALSE, &changed);
    return changed;
}

BOOL MatchLineEnds(const char* from, DWORD size, char* to, DWORD capacity, DWORD* length) {
    TextLineEnd model = TextLineEndNoted;
    if (LineEndsChosen == LINE_ENDS_ASIS) {
        if (size > capacity)
            return FALSE;
        memmove(to, from, size);
        *length = size;
        return TRUE;
    }
    if (model == TEXT_LINE_END_NONE)
        model = MostUsed(from, size);
    return ChangeLineEnds(from, size, to, capacity, model != TEXT_LINE_END_LF, length);
}
