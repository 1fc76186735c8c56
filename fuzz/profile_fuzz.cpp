// Fuzzes the profile-file reader and writer. The input is three lines, the
// section, the key and the value (a line starting with a NUL byte stands for
// NULL, a NUL elsewhere ends the name), and then the bytes of the file; an
// input that ends before its third line break stands for a missing file.
// Each run lays the file down, reads the key, writes the value and reads
// again, checking what the functions' contracts promise:
//   - a read never goes past its buffer and always terminates it, and gives
//     what an independent reading of the format (the rules at the top of
//     profile.h) finds, before and after the write;
//   - a write that fails leaves the file as it was, and no write leaves its
//     lock behind;
//   - a written value without line breaks reads back, blanks trimmed and one
//     pair of quotes around the whole value dropped, when the key can name a
//     line of its own (no "=", not starting a comment or a header);
//   - the values of all other keys read the same after a write or a removal;
//   - a write keeps a UTF-16LE file UTF-16LE, and a file whose lines all end
//     alike (CRLF, LF or CR) keeps them so.
// A file that starts with FF FE is UTF-16LE (the seeds named wide_* are).
// Its text is read here with the C library's own UTF-8 conversion
// (C.UTF-8), independently of the layer's.
#include <windows.h>

#include "check.h"

#include <limits.h>
#include <locale.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wchar.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// The bytes up to the first NUL, as a C string holds them.
std::string CString(const std::string& bytes) {
    return bytes.substr(0, bytes.find('\0'));
}

// One of the three names: NULL or a C string.
struct Name {
    bool null = false;
    std::string text;
    const char* get() const {
        return null ? nullptr : text.c_str();
    }
};

Name AsName(const std::string& field) {
    Name name;
    name.null = !field.empty() && field[0] == '\0';
    name.text = CString(field);
    return name;
}

std::string Dir;
std::string Path;
std::string Lock;

void RemoveDir() {
    unlink(Path.c_str());
    unlink(Lock.c_str());
    rmdir(Dir.c_str());
}

// A directory of this process's own in TMPDIR, else on tmpfs where there is
// one, so that the writer's fsync costs nothing. It is removed at a normal
// exit; scripts/fuzz.sh gives its runs a TMPDIR of their own, removed after
// them, for the runs that end in a finding.
void MakeDir() {
    // The independent reading of UTF-16 files converts with the C library.
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
    Check(utf8 != (locale_t)0 && uselocale(utf8) != (locale_t)0, "the C.UTF-8 locale");
    struct stat info;
    const char* tmpdir = getenv("TMPDIR");
    std::string base = tmpdir != nullptr && tmpdir[0] != '\0'                  ? tmpdir
                       : stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm"
                                                                               : "/tmp";
    std::string pattern = base + "/ep_profile_fuzz_XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Check(mkdtemp(name.data()) != nullptr, "a temporary directory");
    Dir = name.data();
    Path = Dir + "/p.ini";
    Lock = Path + ".lock";
    // atexit fails only out of memory, and then the directory stays.
    (void)atexit(RemoveDir);
}

void Lay(const std::string& bytes, bool exists) {
    unlink(Path.c_str());
    if (!exists)
        return;
    FILE* file = fopen(Path.c_str(), "wb");
    Check(file != nullptr && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
              fclose(file) == 0,
          "laying down the file");
}

// The file's bytes; empty when there is none.
std::string Contents() {
    std::string bytes;
    FILE* file = fopen(Path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, n);
    (void)fclose(file); // read only: closing loses nothing
    return bytes;
}

// A read into a buffer of exactly size bytes; the result with its length as
// returned (values read from the file may hold NUL bytes).
std::string Read(const Name& section, const Name& key, const char* defaultValue, DWORD size) {
    if (size == 0) {
        char sentinel = 'S';
        Check(GetPrivateProfileStringA(section.get(), key.get(), defaultValue, &sentinel, 0,
                                       Path.c_str()) == 0 &&
                  sentinel == 'S',
              "a read with size 0 returns 0 and leaves the buffer alone");
        return "";
    }
    char* buffer = new char[size];
    DWORD n = GetPrivateProfileStringA(section.get(), key.get(), defaultValue, buffer, size,
                                       Path.c_str());
    Check(n < size, "a read returns fewer characters than the buffer's size");
    Check(buffer[n] == '\0', "a read terminates what it returns");
    std::string text(buffer, n);
    delete[] buffer;
    return text;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == 0x1A;
}

std::string Trim(const std::string& text) {
    size_t start = 0, end = text.size();
    while (start < end && IsBlank(text[start]))
        start++;
    while (end > start && IsBlank(text[end - 1]))
        end--;
    return text.substr(start, end - start);
}

std::string Folded(const std::string& text) {
    std::string folded = Trim(text);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return folded;
}

bool SameName(const std::string& a, const std::string& b) {
    return Folded(a) == Folded(b);
}

// One pair of matching quotes around a whole value is dropped.
std::string Unquoted(const std::string& text) {
    if (text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0])
        return text.substr(1, text.size() - 2);
    return text;
}

// What reading a written value gives back by the contract.
std::string ReadsBackAs(const std::string& value) {
    return Unquoted(Trim(value));
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// Whether "key=value" is a key line naming this key: no "=" in the key, and
// the line neither a comment nor a section header. A key that starts with
// the UTF-16LE mark would, opening an empty file, make it UTF-16LE.
bool NamesItsOwnLine(const std::string& key, const std::string& value) {
    std::string line = Trim(key) + "=" + value;
    return key.find('=') == std::string::npos && line[0] != ';' &&
           !(line[0] == '[' && line.find(']') != std::string::npos) &&
           line.compare(0, 2, "\xFF\xFE") != 0;
}

// --- UTF-16 files, by the definitions and the C library's conversion ----

bool IsWide(const std::string& bytes) {
    return bytes.compare(0, 2, "\xFF\xFE") == 0;
}

// The length of the UTF-8 character at text[at]: as the C library decodes
// UTF-8, bounded to U+10FFFF; 0 for a byte that begins none.
size_t CharacterLength(const std::string& text, size_t at) {
    mbstate_t state = {};
    wchar_t c = 0;
    size_t n = mbrtowc(&c, text.data() + at, text.size() - at, &state);
    if (n == (size_t)-1 || n == (size_t)-2 || c < 0 || c > 0x10FFFF)
        return 0;
    return n == 0 ? 1 : n; // 0: the NUL character
}

// The form the layer keeps a lone surrogate in: UTF-8's three bytes for its
// value, which the C library refuses to make.
std::string SurrogateForm(uint32_t c) {
    return {(char)(0xE0 | c >> 12), (char)(0x80 | ((c >> 6) & 0x3F)), (char)(0x80 | (c & 0x3F))};
}

std::string Utf8(uint32_t c) {
    if (c >= 0xD800 && c < 0xE000)
        return SurrogateForm(c);
    char bytes[MB_LEN_MAX];
    mbstate_t state = {};
    size_t n = wcrtomb(bytes, (wchar_t)c, &state);
    Check(n != (size_t)-1, "the C library encodes every character");
    return std::string(bytes, n);
}

// The text of a UTF-16LE file after its mark, in UTF-8: pairs of surrogates
// joined, a lone one in its kept form, an odd last byte a unit of its own.
std::string FromUtf16(const std::string& bytes) {
    std::vector<uint32_t> units;
    for (size_t i = 2; i < bytes.size(); i += 2)
        units.push_back((uint8_t)bytes[i] |
                        (i + 1 < bytes.size() ? (uint8_t)bytes[i + 1] << 8 : 0));
    std::string text;
    for (size_t i = 0; i < units.size(); i++) {
        uint32_t c = units[i];
        bool high = c >= 0xD800 && c < 0xDC00;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
            c = 0x10000 + (c - 0xD800) * 0x400 + (units[++i] - 0xDC00);
        text += Utf8(c);
    }
    return text;
}

// A file's text as its lines are read from.
std::string TextOf(const std::string& bytes) {
    return IsWide(bytes) ? FromUtf16(bytes) : bytes;
}

// What a text given by the caller becomes in a UTF-16LE file, read back:
// each byte that begins no UTF-8 character U+FFFD.
std::string ThroughUtf16(const std::string& text) {
    std::string result;
    for (size_t at = 0; at < text.size();) {
        size_t n = CharacterLength(text, at);
        result += n == 0 ? "\xEF\xBF\xBD" : text.substr(at, n);
        at += n == 0 ? 1 : n;
    }
    return result;
}

// A value of a UTF-16LE file as a read gives it into size bytes: its lone
// surrogates as U+FFFD, cut to size - 1 bytes of whole characters.
std::string WideValueAsRead(const std::string& text, size_t size) {
    std::string result;
    for (size_t at = 0; at < text.size();) {
        size_t n = CharacterLength(text, at);
        std::string character = n != 0 ? text.substr(at, n) : "\xEF\xBF\xBD";
        if (result.size() + character.size() > size - 1)
            break;
        result += character;
        at += n != 0 ? n : 3; // a kept lone surrogate
    }
    return result;
}

// The kinds of line end a text holds: 1 CRLF, 2 LF, 4 CR.
int LineEndKinds(const std::string& text) {
    int kinds = 0;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            kinds |= 1;
            i++;
        } else if (text[i] == '\n')
            kinds |= 2;
        else if (text[i] == '\r')
            kinds |= 4;
    }
    return kinds;
}

// A line of a profile file, read by the rules at the top of profile.h.
struct Line {
    enum Kind { BLANK, COMMENT, HEADER, KEY } kind;
    std::string name, value; // blanks trimmed
    bool hasValue;
};

Line Parsed(const std::string& text) {
    Line line = {Line::BLANK, "", "", false};
    std::string content = Trim(text);
    size_t close = content.rfind(']');
    size_t equals = content.find('=');
    if (content.empty())
        return line;
    if (content[0] == ';') {
        line.kind = Line::COMMENT;
    } else if (content[0] == '[' && close != std::string::npos && close > 0) {
        line.kind = Line::HEADER;
        line.name = Trim(content.substr(1, close - 1));
    } else {
        line.kind = Line::KEY;
        line.name = Trim(content.substr(0, equals));
        line.hasValue = equals != std::string::npos;
        if (line.hasValue)
            line.value = Trim(content.substr(equals + 1));
    }
    return line;
}

// The lines of a file's text: CRLF, LF and a lone CR end one.
std::vector<Line> LinesOf(const std::string& bytes) {
    std::vector<Line> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", at);
        if (end == std::string::npos)
            end = bytes.size();
        lines.push_back(Parsed(bytes.substr(at, end - at)));
        at = end + (bytes.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

// A file as the format has it: its lines, and whether it is UTF-16LE.
struct File {
    std::vector<Line> lines;
    bool wide;
};

File FileOf(const std::string& bytes) {
    return {LinesOf(TextOf(bytes)), IsWide(bytes)};
}

// What a read into a buffer of size bytes (at least 1) gives by the
// contract: the value of the first line of the key in the first section of
// the name, unquoted, or the default with its trailing spaces dropped and
// unquoted; cut to size - 1 (a value of a UTF-16LE file as
// WideValueAsRead has it).
std::string Expected(const File& file, const Name& section, const Name& key,
                     const std::string& defaultValue, size_t size) {
    const std::vector<Line>& lines = file.lines;
    bool found = false;
    std::string text;
    if (!section.null && !key.null) {
        std::string wanted = Folded(section.text);
        bool in = wanted.empty(); // the lines before the first header
        for (const Line& line : lines) {
            if (line.kind == Line::HEADER && in)
                break;
            if (line.kind == Line::HEADER)
                in = Folded(line.name) == wanted;
            if (in && line.kind == Line::KEY && SameName(line.name, key.text)) {
                found = line.hasValue;
                text = Unquoted(line.value);
                break;
            }
        }
    }
    if (found && file.wide)
        return WideValueAsRead(text, size);
    if (!found) {
        text = defaultValue;
        while (text.size() > 1 && text.back() == ' ')
            text.pop_back();
        text = Unquoted(text);
    }
    return text.substr(0, size - 1);
}

// The (section, key) pairs the file's lines name, as C strings.
std::vector<std::pair<std::string, std::string>> KeysOf(const std::vector<Line>& lines) {
    std::vector<std::pair<std::string, std::string>> keys;
    std::string section;
    for (const Line& line : lines) {
        if (line.kind == Line::HEADER)
            section = CString(line.name);
        else if (line.kind == Line::KEY && keys.size() < 16)
            keys.emplace_back(section, CString(line.name));
    }
    return keys;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (Dir.empty())
        MakeDir();
    std::string fields[3];
    size_t at = 0;
    for (int i = 0; i < 3; i++) {
        while (at < size && data[at] != '\n')
            fields[i] += (char)data[at++];
        at++;
    }
    bool exists = at <= size;
    std::string bytes = at < size ? std::string((const char*)data + at, size - at) : "";
    Name section = AsName(fields[0]), key = AsName(fields[1]), value = AsName(fields[2]);
    Lay(bytes, exists);
    File file = FileOf(bytes);

    // Reads of the key itself into buffers of every size up to a little more
    // than its value, with the value as the default (NULL meaning empty).
    std::string defaultValue = value.text;
    std::string whole = Expected(file, section, key, defaultValue, 4096);
    for (DWORD n = 1; n <= whole.size() + 1 && n < 64; n++)
        Check(Read(section, key, value.get(), n) == Expected(file, section, key, defaultValue, n),
              "a read gives the value or the default as the format has it, cut to size - 1");
    Check(Read(section, key, value.get(), 4096) == whole, "a read gives the whole value");
    Read(section, key, value.get(), 0);

    // Every other key's value before the write.
    std::vector<std::pair<std::string, std::string>> keys = KeysOf(file.lines);
    std::vector<std::string> before;
    for (const auto& k : keys) {
        Name probeSection = AsName(k.first), probeKey = AsName(k.second);
        before.push_back(Read(probeSection, probeKey, "<none>", 4096));
        Check(before.back() == Expected(file, probeSection, probeKey, "<none>", 4096),
              "every key of the file reads as the format has it");
    }

    BOOL written = WritePrivateProfileStringA(section.get(), key.get(), value.get(), Path.c_str());
    Check(access(Lock.c_str(), F_OK) != 0, "no write leaves its lock behind");
    Check(written == (section.null ? FALSE : TRUE), "a write fails only for a NULL section here");
    if (!written) {
        Check(Contents() == bytes, "a failed write leaves the file as it was");
        return 0;
    }
    // Whatever was written, the reader reads it as the format has it.
    std::string after = Contents();
    Check(Read(section, key, "<none>", 4096) ==
              Expected(FileOf(after), section, key, "<none>", 4096),
          "the written file reads as the format has it");
    Check(!file.wide || IsWide(after), "a UTF-16LE file stays UTF-16LE");

    bool wellFormed =
        !HasLineBreak(section.text) && !HasLineBreak(key.text) && !HasLineBreak(value.text);
    // Lines added end as the file's do: the only kind there, else CRLF.
    int kinds = LineEndKinds(TextOf(bytes));
    if (wellFormed && IsWide(after) == file.wide && (kinds == 0 || kinds == 2 || kinds == 4))
        Check((LineEndKinds(TextOf(after)) & ~(kinds == 0 ? 1 : kinds)) == 0,
              "a file whose lines all end alike keeps them so");
    bool writesValue = !key.null && !value.null;
    if (writesValue && (!wellFormed || !NamesItsOwnLine(key.text, value.text)))
        return 0; // the new line may well change the meaning of others
    // In a UTF-16LE file names that are no UTF-8 are written as others.
    bool namesKept = !file.wide || (ThroughUtf16(section.text) == section.text &&
                                    ThroughUtf16(key.text) == key.text);
    if (writesValue && namesKept) {
        std::string expected = ReadsBackAs(file.wide ? ThroughUtf16(value.text) : value.text);
        std::string other = expected + "x"; // a default that cannot be the value
        Check(Read(section, key, other.c_str(), (DWORD)expected.size() + 2) == expected,
              "a written value reads back");
        DWORD cut = (DWORD)(size % (expected.size() + 1)) + 1;
        std::string cutValue =
            file.wide ? WideValueAsRead(expected, cut) : expected.substr(0, cut - 1);
        Check(Read(section, key, other.c_str(), cut) == cutValue,
              "a written value read into a smaller buffer is cut to size - 1");
    }
    for (size_t i = 0; i < keys.size(); i++) {
        bool sameSection = SameName(keys[i].first, section.text);
        if (sameSection && (key.null || SameName(keys[i].second, key.text)))
            continue; // the key or section written or removed
        Check(Read(AsName(keys[i].first), AsName(keys[i].second), "<none>", 4096) == before[i],
              "other keys keep their values");
    }
    return 0;
}
