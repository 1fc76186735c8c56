// Reading a bounded text, writing all of a text, and plugin-host's own
// messages.
#include "host_io.h"
#include "system.h"

#include <errno.h>

namespace {

int MessageDescriptor = 2;

} // namespace

bool WriteAll(int fd, const char* bytes, size_t size) {
    while (size > 0) {
        long n = WriteSome(fd, bytes, size);
        if (n == 0)
            errno = ENOSPC;
        if (n <= 0)
            return false;
        bytes += n;
        size -= (size_t)n;
    }
    return true;
}

ReadOutcome ReadBounded(int fd, size_t largest, std::string& text) {
    text.resize(largest + 1);
    size_t got = 0;
    while (got < text.size()) {
        long n = ReadSome(fd, &text[got], text.size() - got);
        if (n < 0) {
            text.clear();
            return READ_FAILED;
        }
        if (n == 0)
            break;
        got += (size_t)n;
    }
    text.resize(got);
    return got > largest ? READ_TOO_LONG : READ_WHOLE;
}

bool CopyFromStart(int from, int to) {
    if (!RewindRegularFile(from))
        return false;
    char buffer[65536];
    for (;;) {
        long n = ReadSome(from, buffer, sizeof buffer);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!WriteAll(to, buffer, (size_t)n))
            return false;
    }
}

void SetMessageDescriptor(int fd) {
    MessageDescriptor = fd;
}

void Say(const std::string& message) {
    std::string line = "plugin-host: " + message + "\n";
    // Nobody is left to tell when the message itself cannot be written.
    (void)WriteAll(MessageDescriptor, line.data(), line.size());
}
