// What the families of the layer share about files: keeping descriptors off
// the standard ones (files.cpp); and, from the POSIX plumbing the layer
// shares with plugin-host, writing whole buffers (posix/write_all.h) and
// replacing a file as a whole (posix/replace.h), for
// WritePrivateProfileStringA and ReplaceFileA: the new content goes into
// "<file>.lock" beside the file, which then takes the file's name in one
// rename.
#pragma once

#include <windows.h>

#include "posix/replace.h"
#include "posix/write_all.h"

// Moves a descriptor above the standard ones (0-2) and marks it close-on-exec,
// so that a child's standard handles can be set without clobbering it.
int KeepAboveStandard(int fd);

// GetTempFileNameA's work, for it and GetTempFileNameW (wide.cpp): the name
// made, of at most longest bytes (of fewer than TEMP_NAME_BYTES), goes to
// tempFileName.
enum { TEMP_NAME_BYTES = 4 * MAX_PATH };
UINT MakeTempFileName(LPCSTR pathName, LPCSTR prefix, UINT unique, LPSTR tempFileName,
                      size_t longest);
