// What the families of the layer share about files: writing whole buffers
// and keeping descriptors off the standard ones (files.cpp), and replacing a
// file as a whole (paths.cpp), for WritePrivateProfileStringA and
// ReplaceFileA: the new content goes into "<file>.lock" beside the file,
// which then takes the file's name in one rename.
#pragma once

#include <stddef.h>

struct stat;

// Writes all count bytes to fd, going on after short writes and EINTR.
// false with errno (ENOSPC for a write that made no progress) on failure;
// *written, when given, says how many bytes did reach the file.
bool WriteAllBytes(int fd, const void* bytes, size_t count, size_t* written);

// Moves a descriptor above the standard ones (0-2) and marks it close-on-exec,
// so that a child's standard handles can be set without clobbering it.
int KeepAboveStandard(int fd);

// The file a name leads to: symbolic links in the last component are
// followed (at most 40; a relative target is taken from the link's
// directory), so that a replacement lands on the link's target and the link
// stays. A name that does not exist (a dangling link's target included) is
// its own end. false with errno (ELOOP, ENAMETOOLONG, ENOTDIR...) otherwise.
bool FinalPath(const char* name, char* path, size_t size);

// Whether this process may write the file it has found at path: false with
// EACCES for a file without any write permission bit, the counterpart of the
// Windows read-only attribute, which is refused for administrators too (and
// so here for root); false with access's errno when the effective user may
// not write it.
bool MayWrite(const char* path, const struct stat* info);

// Creates "<path>.lock" exclusively (mode 0600) and returns its descriptor;
// the lock's name goes into lock. A lock that exists and was last written
// more than a minute ago is left over from a writer that died and is taken
// over; a younger one belongs to a writer at work: -1 with EEXIST. -1 with
// errno on any other failure.
int CreateLock(const char* path, char* lock, size_t size);

// Ends a lock that was written in full: gives it the owner, group and
// permission bits of original (NULL: a new file keeps the lock's own),
// flushes it and renames it over path, then flushes the directory. false
// with errno on failure, with the lock removed and path untouched; EEXIST
// when another writer took the lock over meanwhile (its lock is left alone).
bool CommitLock(int fd, const char* lock, const char* path, const struct stat* original);

// Gives up a lock: closes it and removes it if it is still this writer's.
// errno is kept.
void DropLock(int fd, const char* lock);
