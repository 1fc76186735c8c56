// Writing whole buffers: the one write loop of the platform layer and of
// plugin-host (write_all.h).
#include "posix/write_all.h"

#include <errno.h>
#include <unistd.h>

enum { COPY_CHUNK = 16384 };

bool WriteAllBytes(int fd, const void* bytes, size_t count, size_t* written) {
    const char* at = (const char*)bytes;
    size_t done = 0;
    bool ok = true;
    while (ok && done < count) {
        ssize_t n = write(fd, at + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            errno = ENOSPC;
        ok = n > 0;
        if (ok)
            done += (size_t)n;
    }
    if (written)
        *written = done;
    return ok;
}

bool CopyAllBytes(int in, int out) {
    char chunk[COPY_CHUNK];
    for (;;) {
        ssize_t n = read(in, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!WriteAllBytes(out, chunk, (size_t)n, NULL))
            return false;
    }
}
