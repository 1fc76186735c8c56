// Replacing a file durably, for the platform layer (WritePrivateProfileStringA,
// ReplaceFileA, MoveFileExA) and plugin-host's --in-place alike: the new
// content goes into a file beside the old one (the lock "<file>.lock", or a
// sibling of the caller's own naming), which is given the old file's owner,
// group and permission bits, flushed, and renamed over it in one step; the
// directory is flushed after the rename. Readers see the old file or the new
// one, never a cut one. Plain procedures over the caller's buffers: nothing
// here allocates.
#pragma once

#include <stddef.h>
#include <sys/types.h>

struct stat;

// Whether the file has any write permission bit (the counterpart of the
// Windows read-only attribute being clear).
bool HasWriteBit(const struct stat* info);

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

// Creates "<path>.lock" exclusively (mode 0600) and returns its descriptor
// (close-on-exec); the lock's name goes into lock. A lock that exists and
// was last written more than a minute ago is left over from a writer that
// died and is taken over; a younger one belongs to a writer at work: -1 with
// EEXIST. -1 with errno on any other failure.
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

// Copies the whole of from (read from its start) into the lock beside
// target and commits it (CommitLock with original): the replacement of a
// file by one on another file system, whose last step is still a rename.
// false with errno, target untouched.
bool ReplaceByCopy(int from, const char* target, const struct stat* original);

// Gives the file behind fd an owner and group, where they differ from its
// own. false with errno (EPERM for an owner or group this process may not
// give). Changing them clears the set-user-ID and set-group-ID bits, so the
// owner comes before the mode.
bool KeepOwner(int fd, uid_t owner, gid_t group);

// Gives the file behind fd the permission bits of mode (07777 of it).
// false with errno.
bool KeepMode(int fd, mode_t mode);

// KeepOwner, then KeepMode, with those of original.
bool KeepIdentity(int fd, const struct stat* original);

// Flushes the directory holding path (its part up to the last "/", the
// current directory for a bare name), so that a rename into it survives a
// crash. The rename has happened by then, so a failure is not reported.
void SyncDirectory(const char* path);

// Flushes the file at name (not following a symbolic link); a failure is
// not reported.
void SyncFile(const char* name);
