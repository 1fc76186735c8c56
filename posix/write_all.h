// Writing whole buffers to a descriptor, for the platform layer and
// plugin-host alike. Plain procedures over the caller's buffers: nothing
// here allocates.
#pragma once

#include <stddef.h>

// Writes all count bytes to fd, going on after short writes and EINTR.
// false with errno (ENOSPC for a write that made no progress) on failure;
// *written, when given, says how many bytes did reach the file.
bool WriteAllBytes(int fd, const void* bytes, size_t count, size_t* written);

// Copies what is left to read of in into out, in pieces of a fixed buffer
// on the stack. false with errno when either side fails.
bool CopyAllBytes(int in, int out);
