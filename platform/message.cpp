// Message boxes and the formatting of their texts.
#include "handles.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

// Box output is best effort: there is nobody to tell when it fails.
static void WriteAll(int fd, const char* text, size_t length) {
    WriteAllBytes(fd, text, length, NULL);
}

static void WriteText(int fd, const char* text) {
    WriteAll(fd, text, strlen(text));
}

static size_t LongestLine(const char* text) {
    size_t longest = 0;
    size_t current = 0;
    for (const char* p = text;; p++) {
        if (*p == '\n' || *p == '\0') {
            if (current > longest)
                longest = current;
            current = 0;
            if (*p == '\0')
                break;
        } else {
            current++;
        }
    }
    return longest;
}

static void WriteRule(int fd, size_t width) {
    char line[64];
    memset(line, '-', sizeof line);
    WriteText(fd, "+");
    while (width > 0) {
        size_t chunk = width < sizeof line ? width : sizeof line;
        WriteAll(fd, line, chunk);
        width -= chunk;
    }
    WriteText(fd, "+\n");
}

static void WritePadded(int fd, const char* text, size_t length, size_t width) {
    WriteText(fd, "| ");
    WriteAll(fd, text, length);
    for (size_t i = length; i < width; i++)
        WriteText(fd, " ");
    WriteText(fd, " |\n");
}

// Draws the box on the terminal and waits for Enter there.
static void ShowFramed(int tty, LPCSTR text, LPCSTR caption) {
    size_t width = LongestLine(text);
    size_t captionWidth = strlen(caption);
    const char* button = "[ OK ]  press Enter";
    if (captionWidth > width)
        width = captionWidth;
    if (strlen(button) > width)
        width = strlen(button);
    WriteText(tty, "\n");
    WriteRule(tty, width + 2);
    WritePadded(tty, caption, captionWidth, width);
    WriteRule(tty, width + 2);
    const char* line = text;
    for (const char* p = text;; p++) {
        if (*p == '\n' || *p == '\0') {
            WritePadded(tty, line, (size_t)(p - line), width);
            if (*p == '\0')
                break;
            line = p + 1;
        }
    }
    WritePadded(tty, "", 0, width);
    WritePadded(tty, button, strlen(button), width);
    WriteRule(tty, width + 2);
    char c;
    while (read(tty, &c, 1) == 1 && c != '\n' && c != '\r') {
    }
}

// MessageBoxA: gives the caption and the text to the user and returns IDOK.
// When standard error is a terminal, a framed box is drawn on the controlling
// terminal and the call waits for Enter there (the box is modal); otherwise
// exactly "<caption>: <text>" and a line feed go to standard error. The owner
// window and the icon are accepted and not used; there is only an OK button.
extern "C" int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    (void)owner;
    (void)type;
    if (text == NULL)
        text = "";
    if (caption == NULL)
        caption = "Error";
    if (isatty(STDERR_FILENO)) {
        int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
        if (tty >= 0) {
            ShowFramed(tty, text, caption);
            close(tty);
            return IDOK;
        }
    }
    WriteText(STDERR_FILENO, caption);
    WriteText(STDERR_FILENO, ": ");
    WriteText(STDERR_FILENO, text);
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
