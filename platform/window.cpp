// The progress window: CreateDialogParamA, DestroyWindow, ShowWindow,
// EnableWindow, GetWindowRect, SetWindowPos, GetDesktopWindow, IsWindow,
// IsWindowVisible and IsIconic. The message loop around it is
// message_loop.cpp's, the monitor it shows on monitor.cpp's.
//
// There is one window, the modeless dialog (its record and texts are
// dialog.cpp's, modeless.h), and no message queue. Where a message box
// would be drawn on the terminal, the shown dialog is one status line there,
// made of its static texts and redrawn whenever one of them changes:
//   Running: <command line>  (12 s)  Ctrl-C stops it
// Elsewhere nothing shows, and the calls work as they would on a window
// that no one sees. The status line is built in fixed arrays; nothing here
// allocates memory.
#include "files.h"
#include "handles.h"
#include "modeless.h"
#include "terminal.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

enum {
    // The widest status line, in columns, whatever the terminal.
    MAX_STATUS_COLUMNS = 500,
    // Each column takes at most 4 bytes.
    STATUS_SIZE = 4 * MAX_STATUS_COLUMNS + 16,
    // Static texts of one dialog, and the separators around them.
    MAX_PIECES = 3 * DIALOG_MAX_ITEMS + 2,
    TEXT_SIZE = 260,
};

// Cells of the dialog-unit grid, as the terminal dialog manager maps them.
enum { COLUMN_UNITS = 3, ROW_UNITS = 8, DESKTOP_COLUMNS = 80, DESKTOP_ROWS = 24 };

static const char Advice[] = "Ctrl-C stops it";

// The modeless dialog as a window: where it is, whether it shows, and the
// status line on the terminal.
struct Window {
    HWND handle; // NULL when there is none
    bool visible;
    bool disabled;
    RECT rect; // in cells of the terminal
    int tty;   // the terminal the status line goes to, -1 for none
    int drawn; // columns of the status line now on the terminal, 0 for none
};

static Window Progress = {NULL, false, false, {0, 0, 0, 0}, -1, 0};

// The desktop: a window of the terminal's size that is no dialog.
static char Desktop;

// --- The status line ------------------------------------------------------

// One piece of the status line: a text as the terminal is to show it.
struct Piece {
    const char* text;
    bool shortens; // shortened with "..." first when the line is too wide
};

struct Line {
    char bytes[STATUS_SIZE];
    size_t length;
    int columns;
};

// The glyph for the text at p, a tab as one blank: the status line is one
// line, whose pieces are measured apart from where they land.
static void StatusGlyph(const char* p, bool utf8, Glyph* glyph) {
    if (*p == '\t') {
        glyph->bytes[0] = ' ';
        glyph->length = 1;
        glyph->width = 1;
        glyph->taken = 1;
        return;
    }
    ReadGlyph(p, utf8, 0, glyph);
}

// The columns a text takes.
static int Width(const char* text, bool utf8) {
    int columns = 0;
    Glyph glyph;
    for (const char* p = text; *p != '\0'; p += glyph.taken) {
        StatusGlyph(p, utf8, &glyph);
        columns += glyph.width;
    }
    return columns;
}

// Appends the text's glyphs while they end at or before column stop; FALSE
// when some did not fit.
static bool Append(Line* line, const char* text, int stop, bool utf8) {
    Glyph glyph;
    for (const char* p = text; *p != '\0'; p += glyph.taken) {
        StatusGlyph(p, utf8, &glyph);
        if (line->columns + glyph.width > stop || line->length + glyph.length > STATUS_SIZE)
            return false;
        memcpy(line->bytes + line->length, glyph.bytes, glyph.length);
        line->length += glyph.length;
        line->columns += glyph.width;
    }
    return true;
}

// A static control's text as it shows: without the access-key marks ("&x"
// shows x, "&&" one "&") unless the control has SS_NOPREFIX.
static const char* Shown(const DialogItemTemplate* item, const char* text, char* buffer) {
    if ((item->style & SS_NOPREFIX) != 0 || strchr(text, '&') == NULL)
        return text;
    size_t used = 0;
    for (const char* p = text; *p != '\0' && used < TEXT_SIZE - 1; p++) {
        if (*p == '&' && p[1] != '\0')
            p++;
        buffer[used++] = *p;
    }
    buffer[used] = '\0';
    return buffer;
}

// The pieces of the status line: the dialog's visible static texts in
// template order, the first and the second apart by a blank, each further
// one in parentheses after two blanks, then two blanks and the advice.
// Returns the number of pieces.
static int CollectPieces(Piece* pieces, char (*buffers)[TEXT_SIZE]) {
    int count = 0, statics = 0;
    const DialogItemTemplate* item = NULL;
    const char* text;
    for (int i = 0; (text = ModelessControl(i, &item)) != NULL; i++) {
        if (item->windowClass != DIALOG_STATIC || (item->style & WS_VISIBLE) == 0)
            continue;
        if (statics == 1)
            pieces[count++] = {" ", false};
        else if (statics > 1)
            pieces[count++] = {"  (", false};
        pieces[count++] = {Shown(item, text, buffers[i]), (item->style & SS_ENDELLIPSIS) != 0};
        if (statics > 1)
            pieces[count++] = {")", false};
        statics++;
    }
    pieces[count++] = {statics > 0 ? "  " : "", false};
    pieces[count++] = {Advice, false};
    return count;
}

// Builds the status line at most limit columns wide. Where it is wider, the
// piece that shortens is cut with "..." to make it fit; where that is not
// enough, the line itself is cut with "..." at its end.
static void BuildLine(Line* line, int limit, bool utf8) {
    static Piece Pieces[MAX_PIECES];
    static char Buffers[DIALOG_MAX_ITEMS][TEXT_SIZE];
    int count = CollectPieces(Pieces, Buffers);
    int total = 0, shortening = -1;
    for (int i = 0; i < count; i++) {
        int width = Width(Pieces[i].text, utf8);
        total += width;
        if (Pieces[i].shortens && shortening < 0)
            shortening = width;
    }
    line->length = 0;
    line->columns = 0;
    bool cutPiece = total > limit && shortening >= 0 && total - shortening + 3 <= limit;
    int stop = total > limit && !cutPiece ? limit - 3 : limit;
    bool whole = true;
    for (int i = 0; i < count && whole; i++) {
        if (cutPiece && Pieces[i].shortens) {
            cutPiece = false;
            int room = limit - (total - shortening) - 3;
            Append(line, Pieces[i].text, line->columns + room, utf8);
            Append(line, "...", limit, utf8);
        } else {
            whole = Append(line, Pieces[i].text, stop, utf8);
        }
    }
    if (!whole && stop >= 0)
        Append(line, "...", limit, utf8);
}

// Whether this process may draw on the terminal: its process group is the
// terminal's foreground group, or the terminal is lent to a program this
// layer started (a process-group leader of its own, while it runs).
static bool InForeground(int tty) {
    pid_t group = tcgetpgrp(tty);
    return group > 0 && (group == getpgrp() || FindProcessSlot(group) != NULL);
}

static void WriteBlanks(int fd, int count) {
    char blanks[64];
    memset(blanks, ' ', sizeof blanks);
    while (count > 0) {
        int chunk = count < (int)sizeof blanks ? count : (int)sizeof blanks;
        WriteAllBytes(fd, blanks, (size_t)chunk, NULL);
        count -= chunk;
    }
}

// Writes to the terminal with SIGTTOU blocked, so that neither a program
// that holds the terminal nor TOSTOP can stop the host for it: the line
// (NULL to erase the one drawn) from the start of the cursor's row, blanks
// over what is left of the previous one, and the cursor back at the row's
// start, where a box that follows starts clean. Nothing is written when
// another process group has the terminal.
static void WriteStatus(const Line* line) {
    sigset_t stop, previous;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &stop, &previous);
    if (InForeground(Progress.tty)) {
        int columns = line != NULL ? line->columns : 0;
        WriteAllBytes(Progress.tty, "\r", 1, NULL);
        if (line != NULL)
            WriteAllBytes(Progress.tty, line->bytes, line->length, NULL);
        WriteBlanks(Progress.tty, Progress.drawn - columns);
        WriteAllBytes(Progress.tty, "\r", 1, NULL);
        Progress.drawn = columns;
    }
    pthread_sigmask(SIG_SETMASK, &previous, NULL);
}

// Draws the status line of the shown dialog, when it has a terminal and
// the host's messages still go to one (a host may send standard error
// elsewhere when it is interrupted).
static void DrawStatus() {
    if (!Progress.visible || Progress.tty < 0 || !isatty(STDERR_FILENO))
        return;
    static Line Status;
    int limit = TerminalColumns(Progress.tty) - 1; // the last column would wrap
    if (limit > MAX_STATUS_COLUMNS)
        limit = MAX_STATUS_COLUMNS;
    BuildLine(&Status, limit, TerminalTakesUtf8());
    WriteStatus(&Status);
}

// Takes the line off the terminal and lets the terminal go.
static void EraseStatus() {
    if (Progress.tty < 0)
        return;
    if (Progress.drawn > 0)
        WriteStatus(NULL);
    close(Progress.tty);
    Progress.tty = -1;
    Progress.drawn = 0;
}

// Shows the dialog: a status line on the terminal where a message box would
// be drawn there (standard error is a terminal), nothing elsewhere.
static void Show() {
    Progress.visible = true;
    if (isatty(STDERR_FILENO))
        Progress.tty = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    DrawStatus();
}

static void Hide() {
    EraseStatus();
    Progress.visible = false;
}

void ModelessTextChanged() {
    DrawStatus();
}

// Whether the handle is the modeless dialog; ERROR_INVALID_WINDOW_HANDLE
// when not.
static bool IsProgress(HWND window) {
    if (window != NULL && window == Progress.handle && IsModelessDialog(window))
        return true;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
}

// --- The Windows operations -----------------------------------------------

// CreateDialogParamA: a modeless dialog from the module's template with the
// given number (MAKEINTRESOURCEA). Its procedure gets WM_INITDIALOG (wParam
// 0, lParam initParam), during which SetDlgItemTextA and GetDlgItemTextA
// work on its controls; the dialog then shows if the template's style has
// WS_VISIBLE, and otherwise once ShowWindow shows it. Returns its handle.
// NULL when: there is no such template (ERROR_RESOURCE_NAME_NOT_FOUND); the
// procedure is NULL (ERROR_INVALID_PARAMETER); a modeless dialog exists
// already (ERROR_BUSY); the procedure destroyed it during WM_INITDIALOG
// (ERROR_INVALID_WINDOW_HANDLE).
// Differs from Windows: one modeless dialog at a time; the owner and the
// instance are not used; it takes no keys and gets no message but
// WM_INITDIALOG; shown, it is one status line on the terminal (see the top
// of this file), or nothing where there is none.
extern "C" HWND CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                                   DLGPROC dialogProc, LPARAM initParam) {
    (void)owner;
    if (dialogProc == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    const DialogTemplate* source = FindDialogTemplate(instance, templateName);
    if (source == NULL)
        return NULL;
    HWND dialog = OpenModelessDialog(source, dialogProc);
    if (dialog == NULL)
        return NULL;
    int columns = (source->cx + COLUMN_UNITS - 1) / COLUMN_UNITS + 2;
    int rows = (source->cy + ROW_UNITS - 1) / ROW_UNITS + 2;
    int left = source->x / COLUMN_UNITS, top = source->y / ROW_UNITS;
    Progress = {dialog, false, false, {left, top, left + columns, top + rows}, -1, 0};
    SendModelessMessage(WM_INITDIALOG, 0, initParam);
    if (!IsModelessDialog(dialog)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return NULL;
    }
    if ((source->style & WS_VISIBLE) != 0)
        Show();
    return dialog;
}

// DestroyWindow: destroys the modeless dialog: its status line is erased,
// leaving the cursor at the start of an empty line, and its handle is no
// window from then on. TRUE; FALSE with ERROR_INVALID_WINDOW_HANDLE for any
// other handle.
// Differs from Windows: the procedure gets no WM_DESTROY; no other window
// can be destroyed.
extern "C" BOOL DestroyWindow(HWND window) {
    if (!IsProgress(window))
        return FALSE;
    Hide();
    CloseModelessDialog();
    Progress.handle = NULL;
    return TRUE;
}

// ShowWindow: SW_HIDE hides the modeless dialog (its status line is
// erased), any other command shows it (the status line is drawn where a
// message box would be drawn on the terminal). Returns whether it was
// visible before. FALSE with ERROR_INVALID_WINDOW_HANDLE for any other
// handle.
// Differs from Windows: no minimised or maximised state.
extern "C" BOOL ShowWindow(HWND window, int command) {
    if (!IsProgress(window))
        return FALSE;
    bool was = Progress.visible;
    if (command == SW_HIDE && was)
        Hide();
    else if (command != SW_HIDE && !was)
        Show();
    return was ? TRUE : FALSE;
}

// EnableWindow: enables or disables the modeless dialog and returns whether
// it was disabled before. Any other window, the host's owner window among
// them (plugin-host has none: NULL), counts as an enabled window of the
// host: FALSE ("it was not disabled"), and nothing changes.
// Differs from Windows: no error for a handle that is no window; a disabled
// dialog looks no different.
extern "C" BOOL EnableWindow(HWND window, BOOL enable) {
    if (window == NULL || window != Progress.handle || !IsModelessDialog(window))
        return FALSE;
    bool was = Progress.disabled;
    Progress.disabled = !enable;
    return was ? TRUE : FALSE;
}

// GetDesktopWindow: the desktop, a window as large as the terminal on
// standard error in cells (80 by 24 without one), which GetWindowRect
// measures. Differs from Windows: no other call takes it.
extern "C" HWND GetDesktopWindow(void) {
    return (HWND)&Desktop;
}

// GetWindowRect: the rectangle of the modeless dialog (in cells: its
// template's size on the terminal dialog manager's grid, with a frame, at
// the place SetWindowPos gave it) or of the desktop. FALSE with
// ERROR_INVALID_WINDOW_HANDLE for any other handle, ERROR_INVALID_PARAMETER
// for a NULL rectangle.
// Differs from Windows: cells, not pixels; the host's windows are unknown.
extern "C" BOOL GetWindowRect(HWND window, LPRECT rect) {
    if (window == (HWND)&Desktop) {
        struct winsize size;
        bool known =
            ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
        if (rect != NULL)
            *rect = {0, 0, known ? (LONG)size.ws_col : (LONG)DESKTOP_COLUMNS,
                     known ? (LONG)size.ws_row : (LONG)DESKTOP_ROWS};
    } else if (IsProgress(window)) {
        if (rect != NULL)
            *rect = Progress.rect;
    } else {
        return FALSE;
    }
    if (rect == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

// SetWindowPos: moves the modeless dialog to x, y unless SWP_NOMOVE is given
// and sizes it to cx, cy unless SWP_NOSIZE is given; TRUE. FALSE with
// ERROR_INVALID_WINDOW_HANDLE for any other handle.
// Differs from Windows: the place is remembered only; there is no Z order
// and other flags do nothing; the status line stays where it is.
extern "C" BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy,
                             UINT flags) {
    (void)insertAfter;
    if (!IsProgress(window))
        return FALSE;
    RECT* rect = &Progress.rect;
    if ((flags & SWP_NOSIZE) == 0) {
        rect->right = rect->left + cx;
        rect->bottom = rect->top + cy;
    }
    if ((flags & SWP_NOMOVE) == 0) {
        rect->right += x - rect->left;
        rect->bottom += y - rect->top;
        rect->left = x;
        rect->top = y;
    }
    return TRUE;
}

// IsWindow: TRUE for the modeless dialog while it exists, for the open
// modal dialog and for the desktop; FALSE for any other handle, the host's
// windows among them.
// Differs from Windows: the host's windows are unknown here.
extern "C" BOOL IsWindow(HWND window) {
    return window != NULL &&
                   (window == (HWND)&Desktop || IsModelessDialog(window) || IsModalDialog(window))
               ? TRUE
               : FALSE;
}

// IsWindowVisible: whether the modeless dialog shows; TRUE for the open
// modal dialog and the desktop; FALSE for any other handle.
extern "C" BOOL IsWindowVisible(HWND window) {
    if (window != NULL && window == Progress.handle && IsModelessDialog(window))
        return Progress.visible ? TRUE : FALSE;
    return IsWindow(window);
}

// IsIconic: FALSE: no window here is ever minimised.
extern "C" BOOL IsIconic(HWND window) {
    (void)window;
    return FALSE;
}
