// Fuzzes the splitting of command lines. The input up to its first NUL byte
// is a command line; all of it, cut at NUL bytes, is also a list of
// arguments, the program name first. Checked:
//   - the split equals an independent reading of the documented rules;
//   - it fits in exactly the characters and pointers it needs, argv[argc] is
//     NULL, one character or pointer less gives -1, nothing is written past
//     either array (both are allocated at their exact size), and the sizes
//     cmdline.h names always hold a line of up to 259 characters;
//   - arguments quoted the way a Windows program quotes them for a command
//     line (the inverse of the rules) and joined split back into the same
//     arguments, both for the fields of the input and for the split of the
//     line itself, whenever the joined line is at most 259 characters long.
#include "check.h"
#include "cmdline.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Args;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The rules of cmdline.h, read afresh over std::string.
Args Reference(const std::string& line) {
    Args args;
    size_t i = 0, n = line.size();
    std::string name;
    bool quoted = false;
    for (; i < n && (quoted || !IsBlank(line[i])); i++) {
        if (line[i] == '"')
            quoted = !quoted;
        else
            name += line[i];
    }
    args.push_back(name);
    for (;;) {
        while (i < n && IsBlank(line[i]))
            i++;
        if (i == n)
            break;
        std::string arg;
        bool group = false;
        while (i < n) {
            char c = line[i];
            if (c == '\\') {
                size_t run = line.find_first_not_of('\\', i);
                if (run == std::string::npos)
                    run = n;
                size_t count = run - i;
                bool beforeQuote = run < n && line[run] == '"';
                arg.append(beforeQuote ? count / 2 : count, '\\');
                i = run;
                if (beforeQuote && count % 2 == 1) {
                    arg += '"';
                    i++;
                }
            } else if (c == '"') {
                if (group && i + 1 < n && line[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    group = !group;
                    i++;
                }
            } else if (!group && IsBlank(c)) {
                break;
            } else {
                arg += c;
                i++;
            }
        }
        args.push_back(arg);
    }
    return args;
}

// One argument as a Windows program quotes it for a command line: as it is
// when it has neither blanks nor quotes, else in double quotes with each
// quote escaped by a backslash and the backslashes before a quote or the
// closing quote doubled.
std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        return arg;
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            backslashes++;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

// The program name cannot hold a double quote: quotes only group there.
std::string Joined(Args* args) {
    std::string& name = (*args)[0];
    std::string plain;
    for (char c : name)
        if (c != '"')
            plain += c;
    name = plain;
    std::string line =
        name.empty() || name.find_first_of(" \t") != std::string::npos ? "\"" + name + "\"" : name;
    for (size_t i = 1; i < args->size(); i++)
        line += " " + Quoted((*args)[i]);
    return line;
}

// Splits into arrays of exactly the given sizes; the arguments, or nothing
// when the split returned -1.
bool Split(const std::string& line, size_t storageSize, int maxArgs, Args* args) {
    char* storage = new char[storageSize];
    char** argv = new char*[maxArgs];
    int argc = SplitCommandLine(line.c_str(), storage, storageSize, argv, maxArgs);
    Check(argc == -1 || (argc >= 1 && argc < maxArgs), "argc is -1 or leaves room for the NULL");
    if (argc >= 0) {
        Check(argv[argc] == nullptr, "argv[argc] is NULL");
        args->assign(argv, argv + argc);
    }
    delete[] argv;
    delete[] storage;
    return argc >= 0;
}

void CheckSplit(const std::string& line) {
    Args expected = Reference(line);
    size_t characters = 0;
    for (const std::string& arg : expected)
        characters += arg.size() + 1;
    int pointers = (int)expected.size() + 1;
    Args got;
    Check(Split(line, characters, pointers, &got), "the exact sizes hold the split");
    Check(got == expected, "the split follows the documented rules");
    Check(!Split(line, characters - 1, pointers, &got), "one character less gives -1");
    Check(!Split(line, characters, pointers - 1, &got), "one pointer less gives -1");
    if (line.size() <= 259)
        Check(Split(line, SPLIT_STORAGE_SIZE, SPLIT_MAX_ARGS, &got) && got == expected,
              "the sizes of cmdline.h hold any line of up to 259 characters");
}

void CheckRoundTrip(Args args) {
    std::string line = Joined(&args);
    if (line.size() > 259)
        return;
    Args got;
    Check(Split(line, SPLIT_STORAGE_SIZE, SPLIT_MAX_ARGS, &got), "a quoted line fits");
    Check(got == args, "quoted and joined arguments split back into themselves");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes((const char*)data, size);
    // The line as a C string: the bytes up to the first NUL.
    std::string line = bytes.substr(0, bytes.find('\0'));
    CheckSplit(line);
    CheckRoundTrip(Reference(line));
    Args fields;
    size_t at = 0;
    for (;;) {
        size_t end = bytes.find('\0', at);
        fields.push_back(bytes.substr(at, end == std::string::npos ? end : end - at));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    CheckRoundTrip(fields);
    return 0;
}
