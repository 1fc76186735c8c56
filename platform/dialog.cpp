// Modal dialogs in the terminal: DialogBoxParamA and the dialog-item calls,
// over ncurses, for the module's templates (dialog_template.h).
//
// The dialog is drawn on the controlling terminal (/dev/tty), never on the
// host's standard input or output, at the template's position counted from
// the top left corner: one column per 3 horizontal dialog units and one row
// per 8 vertical ones, so that each label's text fits its rectangle in a grid
// of fixed-width cells. A frame surrounds the client area and carries the
// caption on its top line. A single-line control sits on the row that holds
// the vertical middle of its rectangle. Labels show their access key
// underlined, edit fields an underlined stretch that scrolls horizontally,
// buttons "[ text ]": the one with the focus in reverse video, the one that
// Enter presses in bold.
//
// Keys: Tab and Shift-Tab move the focus through the controls that are tab
// stops, in template order. Alt with a label's access key (sent as Escape and
// the key) moves the focus to the control after the label; Alt with a
// button's access key presses it. Enter presses the focused button, or else
// the default one; Space presses the focused button; Escape sends IDCANCEL.
// In an edit field: printable characters, Backspace, Delete, Left, Right,
// Home and End. Moving into a field by Tab, Shift-Tab or an access key
// selects its whole text, as the Windows dialog manager does: typing then
// replaces it, Backspace and Delete remove it, and Left, Right, Home and End
// drop the selection, the caret going to its start, its end, the start and
// the end of the text. Key sequences the terminal description does not know
// (an escape sequence of a key with modifiers, say) are read to their end
// and dropped, so that none of their characters lands in a field.
//
// A terminal too small for the whole dialog shows a short notice instead
// (only Escape acts then, as Cancel); the dialog comes back once the
// terminal has been made large enough.
//
// All state lives in one fixed record, since one dialog is open at a time.
// The only memory allocated is ncurses' own and the stdio stream it needs.
// A second record holds the one modeless dialog (modeless.h), whose texts
// the dialog-item calls read and set as they do the modal one's; it is never
// drawn here (window.cpp shows it).
#include <dialog_template.h>
#include "errors.h"
#include "modeless.h"

#include <curses.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

enum {
    TEXT_SIZE = 260,
    COLUMN_UNITS = 3,
    ROW_UNITS = 8,
    KEY_ESCAPE = 27,
    MAX_FAILED_READS = 100,
    // How long the bytes of one key sequence may lag behind each other.
    ESCAPE_DELAY_MS = 50,
};

struct Control {
    const DialogItemTemplate* item;
    char text[TEXT_SIZE];
    int length;
    int caret;              // edit fields: where typing goes, 0 to length
    bool selected;          // edit fields: the whole text is selected
    int scroll;             // edit fields: the first character shown
    int row, column, width; // cells, relative to the client area
};

struct Dialog {
    const DialogTemplate* dialogTemplate;
    DLGPROC procedure;
    Control controls[DIALOG_MAX_ITEMS];
    int count;
    int focus; // index of the control with the focus, -1 for none
    bool open;
    bool ended;
    INT_PTR result;
    int top, left, rows, columns; // the client area on the screen
    int tty;
    FILE* stream;
    SCREEN* screen;
    struct termios modes;
    struct sigaction signals[4];
};

// The signals whose handlers ncurses may install; put back when it is done.
static const int CursesSignals[4] = {SIGINT, SIGTERM, SIGTSTP, SIGWINCH};

static Dialog Active;
static Dialog Modeless;

// Weak here, so that the layer also links into programs that carry no
// templates (its own tests): there none is found.
// NOLINTNEXTLINE(readability-redundant-declaration): only this one is weak
extern const DialogTemplate ModuleDialogTemplates[] __attribute__((weak));
// NOLINTNEXTLINE(readability-redundant-declaration)
extern const int ModuleDialogTemplateCount __attribute__((weak));

const DialogTemplate* FindDialogTemplate(HINSTANCE instance, LPCSTR name) {
    (void)instance;
    uintptr_t number = (uintptr_t)name;
    int count = &ModuleDialogTemplateCount != NULL ? ModuleDialogTemplateCount : 0;
    for (int i = 0; number <= 0xFFFF && i < count; i++) {
        if (ModuleDialogTemplates[i].resourceId == number)
            return &ModuleDialogTemplates[i];
    }
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return NULL;
}

// The open dialog behind a handle, modal or modeless, or NULL (and
// ERROR_INVALID_WINDOW_HANDLE). The handle keeps the Windows type HWND, which
// cppcheck would have point to const.
// cppcheck-suppress constParameter
static Dialog* FromHandle(HWND dialog) {
    if (dialog == (HWND)&Active && Active.open)
        return &Active;
    if (dialog == (HWND)&Modeless && Modeless.open)
        return &Modeless;
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return NULL;
}

// The control with the given id, compared as Windows does in 16 bits, or
// NULL (and ERROR_CONTROL_ID_NOT_FOUND).
static Control* FindControl(Dialog* dialog, int id) {
    for (int i = 0; i < dialog->count; i++) {
        if (dialog->controls[i].item->id == (WORD)id)
            return &dialog->controls[i];
    }
    SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return NULL;
}

static WORD ClassOf(const Control* control) {
    return control->item->windowClass;
}

static bool IsPushButton(const Control* control) {
    DWORD type = control->item->style & BS_TYPEMASK;
    return ClassOf(control) == DIALOG_BUTTON && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

static bool TakesFocus(const Control* control) {
    return (ClassOf(control) == DIALOG_EDIT || ClassOf(control) == DIALOG_BUTTON) &&
           (control->item->style & WS_VISIBLE) != 0;
}

// Replaces a control's text, cut to the 259 characters a field holds; the
// caret goes to the end.
static void SetText(Control* control, const char* text) {
    size_t length = strnlen(text, TEXT_SIZE - 1);
    memcpy(control->text, text, length);
    control->text[length] = '\0';
    control->length = (int)length;
    control->caret = (int)length;
    control->scroll = 0;
    control->selected = false;
}

// Fills the record from the template and maps each control to its cells.
static void LoadDialog(Dialog* dialog, const DialogTemplate* source, DLGPROC procedure) {
    memset(dialog, 0, sizeof *dialog);
    dialog->dialogTemplate = source;
    dialog->procedure = procedure;
    dialog->count = source->itemCount;
    dialog->focus = -1;
    dialog->top = source->y / ROW_UNITS + 1;
    dialog->left = source->x / COLUMN_UNITS + 1;
    dialog->rows = (source->cy + ROW_UNITS - 1) / ROW_UNITS;
    dialog->columns = (source->cx + COLUMN_UNITS - 1) / COLUMN_UNITS;
    for (int i = 0; i < dialog->count; i++) {
        const DialogItemTemplate* item = &source->items[i];
        Control* control = &dialog->controls[i];
        control->item = item;
        SetText(control, item->text);
        control->column = item->x / COLUMN_UNITS;
        control->width = (item->x + item->cx) / COLUMN_UNITS - control->column;
        control->row = (item->y + item->cy / 2) / ROW_UNITS;
    }
}

// --- The terminal ---------------------------------------------------------

static void SaveSignals(Dialog* dialog) {
    for (int i = 0; i < 4; i++)
        sigaction(CursesSignals[i], NULL, &dialog->signals[i]);
}

static void RestoreSignals(const Dialog* dialog) {
    for (int i = 0; i < 4; i++)
        sigaction(CursesSignals[i], &dialog->signals[i], NULL);
}

// Opens the controlling terminal and starts ncurses on it. FALSE, with the
// failing call's error number, when there is no terminal or it cannot be
// driven.
static bool OpenTerminal(Dialog* dialog) {
    dialog->tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (dialog->tty < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    if (tcgetattr(dialog->tty, &dialog->modes) != 0) {
        int error = errno;
        close(dialog->tty);
        SetLastErrorFromErrno(error);
        return false;
    }
    SaveSignals(dialog);
    dialog->stream = fdopen(dialog->tty, "r+");
    if (dialog->stream != NULL)
        dialog->screen = newterm(NULL, dialog->stream, dialog->stream);
    if (dialog->screen == NULL) {
        if (dialog->stream != NULL)
            (void)fclose(dialog->stream); // closes the terminal; nothing to report
        else
            close(dialog->tty);
        RestoreSignals(dialog);
        SetLastErrorFromErrno(ENOTTY);
        return false;
    }
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(ESCAPE_DELAY_MS);
    return true;
}

// Ends ncurses and leaves the terminal's modes and the process's signal
// handlers as they were found.
static void CloseTerminal(Dialog* dialog) {
    endwin();
    delscreen(dialog->screen);
    tcsetattr(dialog->tty, TCSADRAIN, &dialog->modes);
    // ncurses has written everything by now; a failure to close leaves no one
    // to tell.
    (void)fclose(dialog->stream);
    RestoreSignals(dialog);
}

// A message box over the open dialog (modeless.h): ncurses gives the
// terminal back for the box and takes it again, redrawing all of it.
bool SuspendModalDialog() {
    if (!Active.open)
        return false;
    def_prog_mode();
    endwin();
    return true;
}

void ResumeModalDialog() {
    reset_prog_mode();
    clearok(curscr, TRUE);
    refresh();
}

// After a failed read: whether the terminal has gone (hung up or closed),
// rather than the read being interrupted.
static bool TerminalGone(const Dialog* dialog, int failedReads) {
    struct pollfd watch = {dialog->tty, POLLIN, 0};
    return failedReads > MAX_FAILED_READS ||
           (poll(&watch, 1, 0) == 1 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0);
}

// --- Drawing --------------------------------------------------------------

// One byte as one cell: what is not printable ASCII shows as "?".
static chtype Cell(char byte) {
    return byte >= 32 && byte < 127 ? (chtype)(unsigned char)byte : (chtype)'?';
}

// Puts one cell at a client-area position, if it lies on the screen.
static void PutCell(const Dialog* dialog, int row, int column, chtype cell) {
    int y = dialog->top + row;
    int x = dialog->left + column;
    if (y >= 0 && y < LINES && x >= 0 && x < COLS)
        mvaddch(y, x, cell);
}

// Writes a text with its access-key marks: "&x" underlines x, "&&" is "&".
// Returns the number of cells written.
static int PutMarkedText(const Dialog* dialog, int row, int column, const char* text, int limit,
                         attr_t attributes) {
    int cells = 0;
    for (const char* p = text; *p != '\0' && cells < limit; p++) {
        attr_t extra = 0;
        if (*p == '&' && p[1] != '\0') {
            p++;
            extra = *p == '&' ? 0 : A_UNDERLINE;
        }
        PutCell(dialog, row, column + cells++, Cell(*p) | attributes | extra);
    }
    return cells;
}

static int MarkedLength(const char* text) {
    int cells = 0;
    for (const char* p = text; *p != '\0'; p++, cells++) {
        if (*p == '&' && p[1] != '\0')
            p++;
    }
    return cells;
}

static void DrawFrame(const Dialog* dialog) {
    int rows = dialog->rows;
    int columns = dialog->columns;
    PutCell(dialog, -1, -1, ACS_ULCORNER);
    PutCell(dialog, -1, columns, ACS_URCORNER);
    PutCell(dialog, rows, -1, ACS_LLCORNER);
    PutCell(dialog, rows, columns, ACS_LRCORNER);
    for (int x = 0; x < columns; x++) {
        PutCell(dialog, -1, x, ACS_HLINE);
        PutCell(dialog, rows, x, ACS_HLINE);
    }
    for (int y = 0; y < rows; y++) {
        PutCell(dialog, y, -1, ACS_VLINE);
        PutCell(dialog, y, columns, ACS_VLINE);
    }
    const char* caption = dialog->dialogTemplate->caption;
    int length = (int)strnlen(caption, (size_t)(columns > 4 ? columns - 4 : 0));
    PutCell(dialog, -1, 1, ' ');
    for (int i = 0; i < length; i++)
        PutCell(dialog, -1, 2 + i, Cell(caption[i]) | A_BOLD);
    PutCell(dialog, -1, 2 + length, ' ');
}

// Keeps the caret inside the shown stretch, and the stretch as full as the
// text allows.
static void ScrollToCaret(Control* field) {
    int width = field->width > 0 ? field->width : 1;
    if (field->scroll > field->caret)
        field->scroll = field->caret;
    if (field->scroll < field->caret - width + 1)
        field->scroll = field->caret - width + 1;
    int fullest = field->length - width + 1;
    if (field->scroll > fullest)
        field->scroll = fullest > 0 ? fullest : 0;
}

// A field's shown stretch; a selected text in reverse video.
static void DrawEdit(const Dialog* dialog, Control* field) {
    ScrollToCaret(field);
    for (int i = 0; i < field->width; i++) {
        int at = field->scroll + i;
        chtype cell = (chtype)' ';
        if (at < field->length)
            cell = Cell(field->text[at]) | (field->selected ? A_REVERSE : 0);
        PutCell(dialog, field->row, field->column + i, cell | A_UNDERLINE);
    }
}

// The button that Enter presses: the focused push button, else the first
// default push button; -1 when there is neither.
static int EnterButton(const Dialog* dialog) {
    if (dialog->focus >= 0 && IsPushButton(&dialog->controls[dialog->focus]))
        return dialog->focus;
    for (int i = 0; i < dialog->count; i++) {
        const Control* control = &dialog->controls[i];
        if (ClassOf(control) == DIALOG_BUTTON &&
            (control->item->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return i;
    }
    return -1;
}

static void DrawButton(const Dialog* dialog, const Control* button, attr_t attributes) {
    int length = MarkedLength(button->text);
    int column = button->column + (button->width - length - 4) / 2;
    if (column < button->column)
        column = button->column;
    PutCell(dialog, button->row, column, '[' | attributes);
    PutCell(dialog, button->row, column + 1, ' ' | attributes);
    PutMarkedText(dialog, button->row, column + 2, button->text, length, attributes);
    PutCell(dialog, button->row, column + 2 + length, ' ' | attributes);
    PutCell(dialog, button->row, column + 3 + length, ']' | attributes);
}

// Whether the whole dialog, frame included, fits on the screen.
static bool Fits(const Dialog* dialog) {
    return dialog->top + dialog->rows < LINES && dialog->left + dialog->columns < COLS;
}

// Instead of a dialog that would be cut: what is wrong and what to do, its
// words wrapped to the screen's width (one longer than that is cut).
static void DrawNotice(const Dialog* dialog) {
    char notice[200];
    (void)snprintf(notice, sizeof notice,
                   "Terminal too small for this dialog: it needs %d x %d. Enlarge it, or press "
                   "Escape to cancel.",
                   dialog->left + dialog->columns + 1, dialog->top + dialog->rows + 1);
    erase();
    curs_set(0);
    int row = 0, column = 0;
    for (const char* word = notice; *word != '\0' && row < LINES;) {
        const char* end = strchr(word, ' ');
        int length = end != NULL ? (int)(end - word) : (int)strlen(word);
        if (column > 0 && column + 1 + length > COLS) {
            row++;
            column = 0;
        } else if (column > 0) {
            column++;
        }
        if (row < LINES && column < COLS)
            mvaddnstr(row, column, word, length < COLS - column ? length : COLS - column);
        column += length;
        word = end != NULL ? end + 1 : word + length;
    }
    refresh();
}

// Draws the whole dialog and puts the cursor on the focused field's caret;
// on a screen too small for it, the notice.
static void DrawDialog(Dialog* dialog) {
    if (!Fits(dialog)) {
        DrawNotice(dialog);
        return;
    }
    erase();
    DrawFrame(dialog);
    int enter = EnterButton(dialog);
    for (int i = 0; i < dialog->count; i++) {
        Control* control = &dialog->controls[i];
        if ((control->item->style & WS_VISIBLE) == 0)
            continue;
        if (ClassOf(control) == DIALOG_EDIT)
            DrawEdit(dialog, control);
        else if (ClassOf(control) == DIALOG_BUTTON)
            DrawButton(dialog, control,
                       (i == dialog->focus ? A_REVERSE : 0) | (i == enter ? A_BOLD : 0));
        else
            PutMarkedText(dialog, control->row, control->column, control->text, control->width, 0);
    }
    const Control* focused = dialog->focus >= 0 ? &dialog->controls[dialog->focus] : NULL;
    if (focused != NULL && ClassOf(focused) == DIALOG_EDIT) {
        curs_set(1);
        move(dialog->top + focused->row,
             dialog->left + focused->column + focused->caret - focused->scroll);
    } else {
        curs_set(0);
    }
    refresh();
}

// --- Messages and keys ----------------------------------------------------

// Sends WM_COMMAND for a button, with a notification code of 0 (clicked).
static void SendCommand(Dialog* dialog, WORD id) {
    dialog->procedure((HWND)dialog, WM_COMMAND, (WPARAM)id, 0);
}

// Moves the focus to the next (or previous) control that takes it, wrapping.
// An edit field reached so has its whole text selected when `select` is set;
// the control left loses its selection.
static void MoveFocus(Dialog* dialog, int step, bool select) {
    for (int tries = 1; tries <= dialog->count; tries++) {
        int at = (dialog->focus + step * tries + 2 * dialog->count) % dialog->count;
        Control* control = &dialog->controls[at];
        if (TakesFocus(control) && (control->item->style & WS_TABSTOP) != 0) {
            if (dialog->focus >= 0)
                dialog->controls[dialog->focus].selected = false;
            dialog->focus = at;
            if (ClassOf(control) == DIALOG_EDIT && select) {
                control->selected = control->length > 0;
                control->caret = control->length;
            }
            return;
        }
    }
}

static bool HasAccessKey(const char* text, int key) {
    for (const char* p = text; *p != '\0'; p++) {
        if (*p == '&' && p[1] == '&') {
            p++;
        } else if (*p == '&' && p[1] != '\0') {
            unsigned char marked = (unsigned char)p[1];
            return marked < 128 && key < 128 && (marked | 0x20) == (key | 0x20);
        }
    }
    return false;
}

// Acts on an access key: a label passes the focus to the control after it,
// a button is pressed. FALSE when no control has that key.
static bool UseAccessKey(Dialog* dialog, int key) {
    for (int i = 0; i < dialog->count; i++) {
        Control* control = &dialog->controls[i];
        if (!HasAccessKey(control->text, key))
            continue;
        if (dialog->focus >= 0)
            dialog->controls[dialog->focus].selected = false;
        if (ClassOf(control) == DIALOG_STATIC) {
            dialog->focus = i;
            MoveFocus(dialog, 1, true);
        } else if (IsPushButton(control)) {
            dialog->focus = i;
            SendCommand(dialog, control->item->id);
        }
        return true;
    }
    return false;
}

// Reads the rest of a key sequence that the terminal description does not
// know, after its introducer: parameter and intermediate bytes up to the
// final byte, which ends it. A byte that cannot belong to it is left for
// the next read; a sequence that stops coming ends where it stopped.
static void SkipSequence(int first) {
    timeout(ESCAPE_DELAY_MS);
    for (int byte = first; byte != ERR; byte = getch()) {
        if (byte >= 0x40 && byte <= 0x7E)
            break;
        if (byte < 0x20 || byte > 0x3F) {
            ungetch(byte);
            break;
        }
    }
}

// After an Escape, what came with it: 0 for Escape alone (or twice), -1 for
// a key sequence (Escape "[" or Escape "O" and the rest, read to its end and
// dropped, also after a second Escape, as Alt sends it), else the key sent
// with it (Alt and that key).
static int ReadAfterEscape() {
    timeout(0);
    int next = getch();
    bool doubled = next == KEY_ESCAPE;
    if (doubled)
        next = getch();
    int result = next == ERR ? 0 : next;
    if (next == '[') {
        timeout(ESCAPE_DELAY_MS);
        SkipSequence(getch());
        result = -1;
    } else if (next == 'O') {
        timeout(ESCAPE_DELAY_MS);
        int first = getch();
        if (first != ERR) {
            SkipSequence(first);
            result = -1;
        }
    }
    timeout(-1);
    return doubled && result != 0 ? -1 : result;
}

// Escape alone is Cancel; Escape with another key already waiting is Alt
// with that key (only where the dialog is shown); a key sequence is nothing.
static void HandleEscape(Dialog* dialog) {
    int next = ReadAfterEscape();
    if (next == 0)
        SendCommand(dialog, IDCANCEL);
    else if (next >= 32 && next < 127 && Fits(dialog))
        UseAccessKey(dialog, next);
}

// A key in a field whose whole text is selected: typing replaces the text,
// Backspace and Delete remove it, Left and Home drop the selection with the
// caret at the start, Right and End with the caret at the end. TRUE when
// the key has been used up here.
static bool EditSelection(Control* field, int key) {
    bool erase = key == KEY_BACKSPACE || key == 127 || key == 8 || key == KEY_DC;
    bool typed = key >= 32 && key < 127;
    if (typed || erase) {
        field->text[0] = '\0';
        field->length = field->caret = field->scroll = 0;
        field->selected = false;
        return erase;
    }
    if (key == KEY_LEFT || key == KEY_HOME || key == KEY_RIGHT || key == KEY_END) {
        field->caret = key == KEY_LEFT || key == KEY_HOME ? 0 : field->length;
        field->selected = false;
    }
    return true;
}

// Edits a field with one key; other keys are ignored.
static void EditField(Control* field, int key) {
    if (field->selected && EditSelection(field, key))
        return;
    bool growsFreely = (field->item->style & ES_AUTOHSCROLL) != 0;
    bool erase = key == KEY_BACKSPACE || key == 127 || key == 8;
    if (key >= 32 && key < 127) {
        if (field->length >= TEXT_SIZE - 1 || (!growsFreely && field->length >= field->width)) {
            beep();
            return;
        }
        memmove(field->text + field->caret + 1, field->text + field->caret,
                (size_t)(field->length - field->caret) + 1);
        field->text[field->caret++] = (char)key;
        field->length++;
    } else if ((erase && field->caret > 0) || (key == KEY_DC && field->caret < field->length)) {
        if (erase)
            field->caret--;
        memmove(field->text + field->caret, field->text + field->caret + 1,
                (size_t)(field->length - field->caret));
        field->length--;
    } else if (key == KEY_LEFT && field->caret > 0) {
        field->caret--;
    } else if (key == KEY_RIGHT && field->caret < field->length) {
        field->caret++;
    } else if (key == KEY_HOME || key == KEY_END) {
        field->caret = key == KEY_HOME ? 0 : field->length;
    }
}

// Acts on one key. While the notice stands in for the dialog, only Escape
// does anything.
static void HandleKey(Dialog* dialog, int key) {
    Control* focused = dialog->focus >= 0 ? &dialog->controls[dialog->focus] : NULL;
    if (key == KEY_ESCAPE) {
        HandleEscape(dialog);
    } else if (!Fits(dialog)) {
        return;
    } else if (key == '\t' || key == KEY_BTAB) {
        MoveFocus(dialog, key == '\t' ? 1 : -1, true);
    } else if (key == '\r' || key == '\n' || key == KEY_ENTER) {
        int enter = EnterButton(dialog);
        SendCommand(dialog, enter >= 0 ? dialog->controls[enter].item->id : (WORD)IDOK);
    } else if (focused != NULL && ClassOf(focused) == DIALOG_EDIT) {
        EditField(focused, key);
    } else if (focused != NULL && IsPushButton(focused) && key == ' ') {
        SendCommand(dialog, focused->item->id);
    } else if (key >= 32 && key < 127) {
        // Outside an edit field a plain key works as its access key.
        UseAccessKey(dialog, key);
    }
}

// Reads and handles keys until the dialog is ended. If the terminal goes
// away, the dialog is sent IDCANCEL; if that does not end it, it ends with -1.
static void RunModalLoop(Dialog* dialog) {
    int failedReads = 0;
    while (!dialog->ended) {
        DrawDialog(dialog);
        int key = getch();
        if (key != ERR) {
            failedReads = 0;
            HandleKey(dialog, key);
        } else if (TerminalGone(dialog, ++failedReads)) {
            SendCommand(dialog, IDCANCEL);
            if (!dialog->ended) {
                dialog->ended = true;
                dialog->result = -1;
            }
        }
    }
}

// --- The Windows operations -----------------------------------------------

// DialogBoxParamA: runs a modal dialog from the module's template with the
// given number (MAKEINTRESOURCEA) and returns the value given to EndDialog.
// Before anything else it opens the controlling terminal; the procedure then
// gets WM_INITDIALOG (wParam 0, lParam initParam), the focus goes to the
// first tab stop, and each button pressed sends WM_COMMAND with the button's
// id and a notification code of 0 (lParam 0): OK or Enter IDOK, Cancel or
// Escape IDCANCEL. An EndDialog during WM_INITDIALOG ends the dialog before
// it is drawn. When the dialog closes the terminal is as it was found:
// modes, screen contents (where the terminal has an alternate screen) and
// the handlers of SIGINT, SIGTERM, SIGTSTP and SIGWINCH.
// Returns -1, without calling the procedure, when: there is no controlling
// terminal (GetLastError: the code of the error of opening /dev/tty, the
// customer code of ENXIO for none); it cannot be driven (the customer code of
// ENOTTY, e.g. TERM unset or unknown); there is no such template
// (ERROR_RESOURCE_NAME_NOT_FOUND); the procedure is NULL
// (ERROR_INVALID_PARAMETER); a dialog is already open (ERROR_BUSY).
// Differs from Windows: one dialog at a time; the owner window and the
// instance are not used (the layer serves one module); controls have no
// window handles, so WM_INITDIALOG's wParam and WM_COMMAND's lParam are 0;
// no notifications other than button clicks are sent; the focus starts on
// the first tab stop whatever WM_INITDIALOG returns, with no text selected;
// there is no close box (Escape stands for it); an edit field holds at most
// 259 characters, takes printable ASCII only, selects only its whole text
// (on entry by Tab or access key) and has no clipboard; a terminal too small
// for the dialog shows a notice in its place.
extern "C" INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                                   DLGPROC dialogProc, LPARAM initParam) {
    (void)owner;
    if (Active.open) {
        SetLastError(ERROR_BUSY);
        return -1;
    }
    if (dialogProc == NULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    const DialogTemplate* source = FindDialogTemplate(instance, templateName);
    if (source == NULL)
        return -1;
    Dialog* dialog = &Active;
    LoadDialog(dialog, source, dialogProc);
    if (!OpenTerminal(dialog))
        return -1;
    dialog->open = true;
    dialog->procedure((HWND)dialog, WM_INITDIALOG, 0, initParam);
    MoveFocus(dialog, 1, false);
    if (!dialog->ended) {
        RunModalLoop(dialog);
    }
    CloseTerminal(dialog);
    dialog->open = false;
    return dialog->result;
}

// SetDlgItemTextA: replaces the text of the control with the given id of
// the open modal dialog or of the modeless one (a NULL text counts as
// empty); TRUE on success, and a shown modeless dialog shows the new text at
// once. FALSE when the handle is neither (ERROR_INVALID_WINDOW_HANDLE) or no
// control has the id (ERROR_CONTROL_ID_NOT_FOUND).
// Differs from Windows: the text is cut to 259 characters.
extern "C" BOOL SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    Dialog* open = FromHandle(dialog);
    Control* control = open != NULL ? FindControl(open, id) : NULL;
    if (control == NULL)
        return FALSE;
    SetText(control, text != NULL ? text : "");
    if (open == &Modeless)
        ModelessTextChanged();
    return TRUE;
}

// GetDlgItemTextA: copies the text of the control with the given id of the
// open modal dialog or of the modeless one into text, cut to size - 1 characters and terminated,
// and returns the number of characters copied. With size 0 nothing is written. Returns 0 with an
// empty text when the handle is not the open dialog or the modeless one
// (ERROR_INVALID_WINDOW_HANDLE) or no control has the id (ERROR_CONTROL_ID_NOT_FOUND), as Windows
// does.
extern "C" UINT GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
    if (text != NULL && size > 0)
        text[0] = '\0';
    Dialog* open = FromHandle(dialog);
    Control* control = open != NULL ? FindControl(open, id) : NULL;
    if (control == NULL || text == NULL || size <= 0)
        return 0;
    int length = control->length < size - 1 ? control->length : size - 1;
    memcpy(text, control->text, (size_t)length);
    text[length] = '\0';
    return (UINT)length;
}

// EndDialog: marks the open dialog to close with the given result once the
// procedure returns; DialogBoxParamA then returns the result. TRUE on
// success, FALSE (ERROR_INVALID_WINDOW_HANDLE) when the handle is not the open
// modal dialog (a modeless one is ended with DestroyWindow).
extern "C" BOOL EndDialog(HWND dialog, INT_PTR result) {
    Dialog* open = FromHandle(dialog);
    if (open != NULL && open != &Active) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        open = NULL;
    }
    if (open == NULL)
        return FALSE;
    open->ended = true;
    open->result = result;
    return TRUE;
}

// --- The modeless dialog (modeless.h) --------------------------------------

HWND OpenModelessDialog(const DialogTemplate* source, DLGPROC procedure) {
    if (Modeless.open) {
        SetLastError(ERROR_BUSY);
        return NULL;
    }
    LoadDialog(&Modeless, source, procedure);
    Modeless.tty = -1;
    Modeless.open = true;
    return (HWND)&Modeless;
}

INT_PTR SendModelessMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (!Modeless.open)
        return 0;
    return Modeless.procedure((HWND)&Modeless, message, wParam, lParam);
}

// cppcheck-suppress constParameter
bool IsModelessDialog(HWND window) {
    return window == (HWND)&Modeless && Modeless.open;
}

// cppcheck-suppress constParameter
bool IsModalDialog(HWND window) {
    return window == (HWND)&Active && Active.open;
}

void CloseModelessDialog() {
    Modeless.open = false;
}

const char* ModelessControl(int index, const DialogItemTemplate** item) {
    if (!Modeless.open || index < 0 || index >= Modeless.count)
        return NULL;
    *item = Modeless.controls[index].item;
    return Modeless.controls[index].text;
}
