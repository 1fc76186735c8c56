// Reading a bounded text, writing all of a text, and plugin-host's own
// messages: the same loops on every platform, over system.h's descriptors.
#pragma once

#include <stddef.h>

#include <string>

// Writes all size bytes; false with errno set when the descriptor takes no
// more (ENOSPC for a write that made no progress). Per platform
// (streams_*.cpp): on Linux, posix/write_all.h's loop.
bool WriteAll(int fd, const char* bytes, size_t size);

enum ReadOutcome { READ_WHOLE, READ_TOO_LONG, READ_FAILED };

// Reads at most largest + 1 bytes into text: READ_WHOLE when the input ended
// within largest bytes, READ_TOO_LONG when there was more (the rest is not
// read), READ_FAILED with errno set on a read error.
ReadOutcome ReadBounded(int fd, size_t largest, std::string& text);

// Copies a regular file from its start to a descriptor, in pieces; false when
// either side fails.
bool CopyFromStart(int from, int to);

// Where plugin-host's own messages go: standard error unless set otherwise.
void SetMessageDescriptor(int fd);

// Writes "plugin-host: MESSAGE" and a line feed to the message descriptor.
void Say(const std::string& message);
