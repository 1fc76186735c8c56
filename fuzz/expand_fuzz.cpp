// Fuzzes the expansion of the command-line template. The input is the
// template, the input file's path and the host's texts for %u %p %d %o %N,
// one per line, each missing line empty; a text of 64 or more bytes fills its
// host field completely, without a terminator, as a careless host might.
// Besides memory safety (the arrays are instrumented globals) it checks the
// result against an independent expansion over std::string, and the command
// line as boxes show it (the password's place masked) against one that marks
// each character the password put in.
#include "check.h"
#include "run/messages.h"
#include "run/run.h"
#include "settings/settings.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

// The longest command line the plug-in ever runs.
const size_t MaxLength = PATH_CAPACITY - 1;

// The expansion by its documented rules: the first occurrence of each
// placeholder, in the order %f %u %p %d %o %N, searched for afresh from the
// start each time. FALSE as soon as the line would exceed 259 characters;
// *before gets the line as it stood before the step that failed.
bool Reference(const std::string& commandLine, const std::vector<std::string>& values,
               std::string* result, std::string* before) {
    static const char* const Names[] = {"%f", "%u", "%p", "%d", "%o", "%N"};
    std::string line = commandLine;
    if (line.size() > MaxLength)
        return false;
    for (size_t i = 0; i < 6; i++) {
        size_t at = line.find(Names[i]);
        if (at == std::string::npos)
            continue;
        std::string next = line.substr(0, at) + values[i] + line.substr(at + 2);
        if (next.size() > MaxLength) {
            *before = line;
            return false;
        }
        line = next;
    }
    *result = line;
    return true;
}

// The expanded line as boxes show it, by marks: the password's characters
// are marked as %p puts them in, and a later value put in over a marked
// character is marked too; the marked run shows as "****".
std::string ReferenceShown(const std::string& commandLine, const std::vector<std::string>& values) {
    static const char* const Names[] = {"%f", "%u", "%p", "%d", "%o", "%N"};
    std::string line = commandLine;
    std::vector<bool> marked(line.size(), false);
    for (size_t i = 0; i < 6; i++) {
        size_t at = line.find(Names[i]);
        if (at == std::string::npos)
            continue;
        bool mark = i == 2 || marked[at] || marked[at + 1];
        line = line.substr(0, at) + values[i] + line.substr(at + 2);
        std::vector<bool> next(marked.begin(), marked.begin() + (long)at);
        next.insert(next.end(), values[i].size(), mark);
        next.insert(next.end(), marked.begin() + (long)at + 2, marked.end());
        marked = next;
    }
    std::string shown;
    for (size_t i = 0; i < line.size(); i++) {
        if (!marked[i])
            shown += line[i];
        else if (i == 0 || !marked[i - 1])
            shown += "****";
    }
    return shown;
}

std::vector<std::string> Lines(const uint8_t* data, size_t size, size_t count) {
    std::vector<std::string> lines(count);
    size_t field = 0;
    for (size_t i = 0; i < size && field < count; i++) {
        if (data[i] == '\n')
            field++;
        else
            lines[field] += (char)data[i];
    }
    return lines;
}

// Host texts as C strings stop at their first NUL and at 64 bytes.
std::string AsHostText(const std::string& text) {
    return text.substr(0, strnlen(text.c_str(), HOST_TEXT_SIZE));
}

void FillHostText(char* field, const std::string& text) {
    size_t n = text.size() < HOST_TEXT_SIZE ? text.size() : HOST_TEXT_SIZE;
    memcpy(field, text.data(), n);
    if (n < HOST_TEXT_SIZE)
        field[n] = '\0';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> lines = Lines(data, size, 7);
    // CommandLine is a C string in its 261 bytes: at most 260 characters
    // reach the expansion, the first NUL ending it.
    std::string commandLine = lines[0].substr(0, strnlen(lines[0].c_str(), PATH_CAPACITY));
    // The input file name as the expansion sees it: up to the first NUL.
    std::string input = lines[1].substr(0, lines[1].find('\0'));

    // The context lies alone on the heap, every byte that is not a text set,
    // so a read past a text shows as a wrong value or a sanitizer report.
    HostContext* context = new HostContext;
    memset(context, 0x5A, sizeof *context);
    FillHostText(context->TextU, lines[2]);
    FillHostText(context->TextP, lines[3]);
    FillHostText(context->TextD, lines[4]);
    FillHostText(context->TextO, lines[5]);
    FillHostText(context->TextN, lines[6]);
    Host = context;

    memcpy(CommandLine, commandLine.c_str(), commandLine.size() + 1);
    static const char Previous[] = "previous expansion";
    memcpy(ExpandedCommandLine, Previous, sizeof Previous);

    BOOL ok = ExpandCommandLine(input.c_str());

    std::vector<std::string> values = {input,
                                       AsHostText(lines[2]),
                                       AsHostText(lines[3]),
                                       AsHostText(lines[4]),
                                       AsHostText(lines[5]),
                                       AsHostText(lines[6])};
    std::string expected, before = Previous;
    bool fits = Reference(commandLine, values, &expected, &before);
    size_t length = strnlen(ExpandedCommandLine, PATH_ARRAY);
    Check(length <= MaxLength, "the expansion is at most 259 characters and terminated");
    Check(strcmp(CommandLine, commandLine.c_str()) == 0, "the template is left alone");
    Check((ok == TRUE) == fits, "TRUE exactly when the reference expansion fits");
    // On FALSE the line is what it was before the step that did not fit:
    // ReplacePlaceholder leaves it alone, and a template that is too long
    // is not copied at all.
    Check(std::string(ExpandedCommandLine) == (fits ? expected : before),
          "the expansion equals the reference (on FALSE, the line before the failed step)");
    Check(!fits || ShownCommandLine() == ReferenceShown(commandLine, values),
          "the line as boxes show it has the password's place masked, and nothing else");
    delete context;
    Host = nullptr;
    return 0;
}
