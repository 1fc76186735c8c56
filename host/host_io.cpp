// Reading a bounded text and plugin-host's own messages. Writing all of a
// text is per platform (streams_*.cpp): on Linux it is the POSIX plumbing's
// write loop, the platform layer's own.
#include "host_io.h"
#include "system.h"

namespace {

int MessageDescriptor = 2;

} // namespace

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
