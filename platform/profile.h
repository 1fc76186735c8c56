// The profile (INI) family's shared part: a settings file read whole into
// one module-wide buffer and walked line by line, for the reader
// (profile_read.cpp) and the editor (profile_write.cpp).
//
// The file format as both read it:
//   - A file that starts with the byte-order mark FF FE is UTF-16LE: its
//     text is converted to UTF-8, the ANSI code page of this layer, and read
//     by the rules below. A lone surrogate reads as U+FFFD and an odd last
//     byte as a character of its own (its high byte 0); a write gives both
//     back as they were, the odd byte as a whole unit.
//     Any other file is read as bytes, as Windows reads an ANSI file: a
//     UTF-8 byte-order mark is three bytes of the first line.
//   - Lines end with CRLF, LF or a lone CR.
//   - Blanks are space, tab, vertical tab, form feed and Ctrl-Z (0x1A).
//   - A line whose first non-blank character is "[" and that has a "]" later
//     starts a section; its name lies between the "[" and the last "]" of the
//     line, blanks trimmed. An unclosed "[name" line is an ordinary key line.
//   - A line whose first non-blank character is ";" is a comment. "#" has no
//     meaning of its own.
//   - Any other non-blank line is a key line: the key is the text before the
//     first "=", blanks trimmed, and the value the text after it, blanks
//     trimmed. A line without "=" is a key without a value.
//   - Key lines before the first section header belong to the section with
//     the empty name.
//   - Names match regardless of the case of ASCII letters. Only the first
//     section of a name counts, and in it only the first line of a key.
#pragma once

#include <windows.h>

#include <stddef.h>

struct stat;

// The most bytes a profile file may hold. A settings file holds a few short
// lines; a file past this bound is refused as one that could not be read.
enum : size_t { PROFILE_LIMIT = (size_t)1 << 20 }; // 1 MiB

// A file's text as LoadProfile left it: the file's bytes, or for a UTF-16LE
// file (wide) its text converted to UTF-8, without the byte-order mark.
struct ProfileView {
    const char* bytes;
    size_t size;
    bool wide;
};

// Opens a profile file for reading without ever waiting: the open does not
// block (a FIFO with no writer would make it wait), and anything but a
// regular file (a FIFO, a device, a directory) is refused before a read
// could wait for data. Returns the descriptor (close-on-exec) with the
// file's status in info, or -1 with errno: EACCES for anything but a
// regular file, or open's errno (ENOENT for a missing file).
int OpenProfile(const char* name, struct stat* info);

// Reads the file behind fd whole (fd < 0: a file that does not exist, an
// empty view). The text lies in the family's buffers, valid until the next
// load: one thread calls this layer. false with errno when reading fails,
// EFBIG for a file of more than PROFILE_LIMIT bytes.
bool LoadProfile(int fd, ProfileView* view);

enum LineKind { LINE_BLANK, LINE_COMMENT, LINE_HEADER, LINE_KEY };

// One line, as offsets into the view. name: a header's name or a key's, blanks
// trimmed; value: the text after "=", blanks trimmed (empty without "=").
struct ProfileLine {
    size_t start, contentEnd, end; // contentEnd: where its line end begins
    int kind;
    size_t nameStart, nameEnd;
    bool hasEquals;
    size_t valueStart, valueEnd;
};

// What a search for a key (or, with key NULL, for a section) found.
struct ProfileFind {
    bool sectionFound;
    size_t sectionStart, sectionEnd; // header line start; next header or end of file
    size_t insertAt;                 // after the section's last key line (or header)
    bool insertNeedsBreak;           // that line has no line end
    bool keyFound;
    ProfileLine key;
    bool endsOpen; // the file's last line has no line end
};

// Reads the line that starts at *at into line and moves *at past it; false
// at the end of the view.
bool NextLine(const ProfileView* view, size_t* at, ProfileLine* line);

// Finds the first section named section and in it the first line of key.
void FindKey(const ProfileView* view, const char* section, const char* key, ProfileFind* found);

// The text from its first non-blank character on.
const char* SkipBlanks(const char* text);

// GetPrivateProfileStringA's work, for it and GetPrivateProfileStringW
// (wide.cpp): *fromWideFile tells whether the value came from a UTF-16 file,
// and so is UTF-8 whatever the ANSI set, rather than the file's bytes or the
// default.
DWORD ReadProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                        LPCSTR fileName, bool* fromWideFile);
