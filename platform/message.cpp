// Message boxes (MessageBoxA) and the formatting of their texts; wsprintfA.
//
// A box's text may hold anything a program wrote: many lines, long lines,
// control characters, bytes that are not valid in the terminal's encoding.
// On a terminal each byte shows as what it is without acting on the
// terminal: line feeds (and CR LF) end lines, tabs become blanks, other
// control characters show as ^X (ESC as ^[, so no escape sequence reaches
// the terminal), and what the terminal's encoding cannot show as one
// character shows as "?". Where nothing reads the output as a terminal, the
// bytes go out as they are.
#include <windows.h>

#include "files.h"
#include "modeless.h"
#include "terminal.h"

#include <fcntl.h>
#include <locale.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <wchar.h>

enum {
    TAB_WIDTH = 8,
    // The widest text line of a framed box, in columns, whatever the terminal.
    MAX_BOX_WIDTH = 500,
    MIN_BOX_WIDTH = 20,
    // One row's bytes: each column takes at most 4 bytes, and characters of
    // no width stop a row when it is full.
    ROW_SIZE = 4 * MAX_BOX_WIDTH + 16,
};

// Box output is best effort: there is nobody to tell when it fails.
static void WriteAll(int fd, const char* text, size_t length) {
    WriteAllBytes(fd, text, length, NULL);
}

static void WriteText(int fd, const char* text) {
    WriteAll(fd, text, strlen(text));
}

// --- Text as a terminal shows it --------------------------------------------

bool TerminalTakesUtf8() {
    const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
    for (const char* name : names) {
        const char* value = getenv(name);
        if (value != NULL && value[0] != '\0')
            return strcasestr(value, "UTF-8") != NULL || strcasestr(value, "utf8") != NULL;
    }
    return false;
}

// How many columns a character takes on a UTF-8 terminal: 0, 1 or 2, or -1
// for one that does not show (a control character of the range 0x80 to 0x9F,
// say). Asks the C library under its built-in UTF-8 locale, whatever locale
// the host runs in; counts 1 where there is no such locale.
static int CharacterWidth(wchar_t character) {
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    if (utf8 == (locale_t)0)
        return 1;
    locale_t previous = uselocale(utf8);
    int width = wcwidth(character);
    uselocale(previous);
    return width;
}

// The length of the valid UTF-8 sequence at p and its character, or 0 when
// the bytes there are not one (a stray or missing continuation byte, an
// overlong form, a surrogate, a value beyond U+10FFFF).
static size_t DecodeUtf8(const unsigned char* p, wchar_t* character) {
    size_t length;
    unsigned long value;
    if (p[0] >= 0xC2 && p[0] <= 0xDF) {
        length = 2;
        value = p[0] & 0x1Fu;
    } else if (p[0] >= 0xE0 && p[0] <= 0xEF) {
        length = 3;
        value = p[0] & 0x0Fu;
    } else if (p[0] >= 0xF0 && p[0] <= 0xF4) {
        length = 4;
        value = p[0] & 0x07u;
    } else {
        return 0;
    }
    for (size_t i = 1; i < length; i++) {
        if ((p[i] & 0xC0) != 0x80)
            return 0; // also stops at the terminator
        value = value << 6 | (p[i] & 0x3Fu);
    }
    static const unsigned long Smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < Smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *character = (wchar_t)value;
    return length;
}

static void SetGlyph(Glyph* glyph, const char* bytes, size_t length, int width, size_t taken) {
    memcpy(glyph->bytes, bytes, length);
    glyph->length = length;
    glyph->width = width;
    glyph->taken = taken;
}

// A line end, when ReadGlyph is given one, shows as ^J or ^M: the box
// breaks its rows at line ends before it gets here.
void ReadGlyph(const char* p, bool utf8, int column, Glyph* glyph) {
    unsigned char byte = (unsigned char)*p;
    if (byte == '\t') {
        int width = TAB_WIDTH - column % TAB_WIDTH;
        SetGlyph(glyph, "        ", (size_t)width, width, 1);
    } else if (byte < 0x20 || byte == 0x7F) {
        char shown[2] = {'^', (char)(byte ^ 0x40)};
        SetGlyph(glyph, shown, 2, 2, 1);
    } else if (byte < 0x80) {
        SetGlyph(glyph, p, 1, 1, 1);
    } else if (!utf8) {
        // An 8-bit terminal: 0x80 to 0x9F are its control characters.
        if (byte < 0xA0)
            SetGlyph(glyph, "?", 1, 1, 1);
        else
            SetGlyph(glyph, p, 1, 1, 1);
    } else {
        wchar_t character = 0;
        size_t length = DecodeUtf8((const unsigned char*)p, &character);
        int width = length > 0 ? CharacterWidth(character) : -1;
        if (width < 0)
            SetGlyph(glyph, "?", 1, 1, length > 0 ? length : 1);
        else
            SetGlyph(glyph, p, length, width, length);
    }
}

// The length of the line end at p ("\n" or "\r\n"), 0 when there is none.
static size_t LineEnd(const char* p) {
    if (p[0] == '\n')
        return 1;
    return p[0] == '\r' && p[1] == '\n' ? 2 : 0;
}

// Writes the text as a terminal should show it, without a frame: a line
// end as a line feed, a tab as it is, the rest as ReadGlyph shows it.
static void WriteShown(int fd, const char* text, bool utf8) {
    int column = 0;
    for (const char* p = text; *p != '\0';) {
        size_t end = LineEnd(p);
        if (end > 0 || *p == '\t') {
            WriteAll(fd, end > 0 ? "\n" : "\t", 1);
            column = end > 0 ? 0 : column + TAB_WIDTH - column % TAB_WIDTH;
            p += end > 0 ? end : 1;
            continue;
        }
        Glyph glyph;
        ReadGlyph(p, utf8, column, &glyph);
        WriteAll(fd, glyph.bytes, glyph.length);
        column += glyph.width;
        p += glyph.taken;
    }
}

// The rows a text takes in a box at most `limit` columns wide: each line of
// the text, broken where it would grow wider.
struct Rows {
    const char* next; // where the next row starts; NULL after the last one
    int limit;
    bool utf8;
};

// Puts the next row into row (ROW_SIZE bytes) with its length in bytes and
// its width in columns. FALSE when there is none left. A text always has at
// least one row, possibly empty.
static bool NextRow(Rows* rows, char* row, size_t* length, int* width) {
    if (rows->next == NULL)
        return false;
    const char* p = rows->next;
    size_t used = 0;
    int columns = 0;
    for (;;) {
        if (*p == '\0') {
            rows->next = NULL;
            break;
        }
        size_t end = LineEnd(p);
        if (end > 0) {
            rows->next = p + end;
            break;
        }
        Glyph glyph;
        ReadGlyph(p, rows->utf8, columns, &glyph);
        if ((columns > 0 && columns + glyph.width > rows->limit) ||
            (used > 0 && used + glyph.length > ROW_SIZE)) {
            rows->next = p;
            break;
        }
        memcpy(row + used, glyph.bytes, glyph.length);
        used += glyph.length;
        columns += glyph.width;
        p += glyph.taken;
    }
    *length = used;
    *width = columns;
    return true;
}

// The width of a text's widest row.
static int WidestRow(const char* text, int limit, bool utf8) {
    Rows rows = {text, limit, utf8};
    char row[ROW_SIZE];
    size_t length;
    int width, widest = 0;
    while (NextRow(&rows, row, &length, &width)) {
        if (width > widest)
            widest = width;
    }
    return widest;
}

// --- The framed box ---------------------------------------------------------

static void WriteRepeated(int fd, char c, int count) {
    char line[64];
    memset(line, c, sizeof line);
    while (count > 0) {
        int chunk = count < (int)sizeof line ? count : (int)sizeof line;
        WriteAll(fd, line, (size_t)chunk);
        count -= chunk;
    }
}

static void WriteRule(int fd, int width) {
    WriteText(fd, "+");
    WriteRepeated(fd, '-', width + 2);
    WriteText(fd, "+\n");
}

// Writes each row of the text between the frame's sides, padded to width.
static void WriteRows(int fd, const char* text, int width, bool utf8) {
    Rows rows = {text, width, utf8};
    char row[ROW_SIZE];
    size_t length;
    int columns;
    while (NextRow(&rows, row, &length, &columns)) {
        WriteText(fd, "| ");
        WriteAll(fd, row, length);
        WriteRepeated(fd, ' ', width - columns);
        WriteText(fd, " |\n");
    }
}

int TerminalColumns(int tty) {
    struct winsize size;
    if (ioctl(tty, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// Whether the process's group is the terminal's foreground group: only then
// may it read the terminal (a background job that reads is stopped).
static bool InForeground(int tty) {
    pid_t group = tcgetpgrp(tty);
    return group > 0 && group == getpgrp();
}

// Waits for Enter on the terminal. Ends, too, at end of file, at a signal,
// and once the process is no longer in the terminal's foreground: the read
// then fails (SIGTTIN is blocked, so it fails with EIO rather than stopping
// the process), and a wait that has begun looks again every quarter of a
// second, since the terminal does not end a read that is already waiting.
// The box has been on the screen either way.
static void AwaitEnter(int tty) {
    for (;;) {
        struct pollfd watch = {tty, POLLIN, 0};
        int ready = poll(&watch, 1, 250);
        if (ready < 0)
            return;
        if (ready == 0) {
            if (!InForeground(tty))
                return;
            continue;
        }
        char c;
        if (read(tty, &c, 1) != 1 || c == '\n' || c == '\r')
            return;
    }
}

// Draws the box on the terminal and waits for Enter there: the caption, a
// rule, the text, the button. Lines wider than the terminal are broken.
static void ShowFramed(int tty, LPCSTR text, LPCSTR caption) {
    bool utf8 = TerminalTakesUtf8();
    const char* button = "[ OK ]  press Enter";
    int limit = TerminalColumns(tty) - 4;
    if (limit > MAX_BOX_WIDTH)
        limit = MAX_BOX_WIDTH;
    if (limit < MIN_BOX_WIDTH)
        limit = MIN_BOX_WIDTH;
    int width = WidestRow(text, limit, utf8);
    int captionWidth = WidestRow(caption, limit, utf8);
    if (captionWidth > width)
        width = captionWidth;
    if ((int)strlen(button) > width)
        width = (int)strlen(button);
    WriteText(tty, "\n");
    WriteRule(tty, width);
    WriteRows(tty, caption, width, utf8);
    WriteRule(tty, width);
    WriteRows(tty, text, width, utf8);
    WriteRows(tty, "", width, utf8);
    WriteRows(tty, button, width, utf8);
    WriteRule(tty, width);
    AwaitEnter(tty);
}

// Shows the framed box when the process is in the terminal's foreground,
// with SIGTTIN and SIGTTOU blocked meanwhile: should a shell move the job to
// the background while the box waits, the read fails and the writes go on
// instead of stopping the job. FALSE, with nothing written, when the process
// is not in the foreground.
static bool ShowOnTerminal(int tty, LPCSTR text, LPCSTR caption) {
    sigset_t stops, previous;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTTIN);
    sigaddset(&stops, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    bool shown = InForeground(tty);
    if (shown) {
        // Over a dialog on the terminal (a settings dialog that could not
        // save) the box takes the terminal from it for a moment.
        bool dialog = SuspendModalDialog();
        ShowFramed(tty, text, caption);
        if (dialog)
            ResumeModalDialog();
    }
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
    return shown;
}

// MessageBoxA: gives the caption and the text to the user and returns IDOK.
// When standard error is a terminal and the process is in the foreground of
// its controlling terminal, a framed box is drawn there and the call waits
// for Enter (the box is modal); lines wider than the terminal are broken and
// the text shows as described at the top of this file. Otherwise
// "<caption>: <text>" and a line feed go to standard error: byte for byte
// when it is not a terminal; on a terminal (a background job) with control
// characters shown as in the box. Nothing here stops the process for
// reading or writing the terminal from the background. The owner window and
// the icon are accepted and not used; there is only an OK button.
extern "C" int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    (void)owner;
    (void)type;
    if (text == NULL)
        text = "";
    if (caption == NULL)
        caption = "Error";
    if (!isatty(STDERR_FILENO)) {
        WriteText(STDERR_FILENO, caption);
        WriteText(STDERR_FILENO, ": ");
        WriteText(STDERR_FILENO, text);
        WriteText(STDERR_FILENO, "\n");
        return IDOK;
    }
    int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (tty >= 0) {
        bool shown = ShowOnTerminal(tty, text, caption);
        close(tty);
        if (shown)
            return IDOK;
    }
    bool utf8 = TerminalTakesUtf8();
    WriteShown(STDERR_FILENO, caption, utf8);
    WriteText(STDERR_FILENO, ": ");
    WriteShown(STDERR_FILENO, text, utf8);
    WriteText(STDERR_FILENO, "\n");
    return IDOK;
}

// wsprintfA: the printf formats the plug-in uses (%s, %d, %u, %x, %c, %%),
// into a buffer of at most 1024 characters and the terminator, as on Windows.
extern "C" int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    int length = vsnprintf(buffer, 1025, format, args);
#pragma GCC diagnostic pop
    va_end(args);
    if (length > 1024)
        length = 1024;
    return length < 0 ? 0 : length;
}
