// What plugin-host needs from the system beyond the C++ library: standard
// streams and file descriptors, the terminal, the plug-in's message boxes,
// the settings file's state, and replacing a file's text. Each is
// implemented once per platform (streams_posix.cpp and streams_win.cpp,
// boxes_*.cpp, settings_file_*.cpp, in_place_*.cpp), chosen by CMake; the
// rest of the host is the same source everywhere.
#pragma once

#include <stddef.h>

#include <string>

// --- Streams (streams_*.cpp) -------------------------------------------------

// Standard input and output carry bytes unchanged (no text-mode translation).
void UseBinaryStandardStreams();

// Keeps messages out of the text: where standard error is the same file as
// standard output (an editor's filter command reading both as one), standard
// error is pointed at the controlling terminal when there is one, and
// otherwise at the null device.
void SeparateMessagesFromText();

// Opens a file for reading; -1 with the reason in error. With regularOnly,
// anything but a regular file is refused without being read, and without
// waiting on a FIFO that has no writer.
int OpenForReading(const std::string& path, bool regularOnly, std::string& error);

// One read on a descriptor: the number of bytes read, 0 at end of file, -1
// with errno set. An interrupted call is repeated.
long ReadSome(int fd, void* buffer, size_t size);

// Whether the descriptor is a regular file; if so, moves it to its start.
bool RewindRegularFile(int fd);

void CloseDescriptor(int fd);

// The system's description of an errno value.
std::string ErrnoText(int number);

// The window that owns the plug-in's windows: none (plugin-host has no window
// of its own; a console's belongs to another process).
void* HostOwnerWindow();

// Whether a dialog can be shown: on Linux the dialog needs the controlling
// terminal. false with the reason in error.
bool CanShowDialog(std::string& error);

// Sets SIGCHLD to its default disposition. A caller that ignores it would
// have the kernel reap the programs a run starts, and their exit statuses
// would be lost. Nothing on Windows, which has no such signal.
void DefaultChildSignal();

// --- The plug-in's message boxes (boxes_*.cpp) --------------------------------

// Makes each message box of the loaded module captioned "Error" or "Execute
// Error!" come out as one line "<caption>: <text>" on standard error and
// return at once as if OK was pressed, so that a run used as a filter never
// waits on a box nobody sees. Any other window of the module is left alone.
// On Windows the module's import of MessageBoxA is pointed at plugin-host's
// own; on Linux the platform layer inside the module already writes such a
// line wherever standard error is not a terminal, and nothing changes. false
// with the reason in error.
bool WriteBoxesAsLines(void* module, std::string& error);

// From now on the box lines are written nowhere (after an interruption).
void MuteBoxLines();

// --- The settings file (settings_file_*.cpp) ------------------------------------

// What a file is at one moment, as far as saving the settings cares.
struct FileState {
    bool exists = false;
    bool directory = false;
    bool readOnly = false;       // without any write permission (Linux), or read-only (Windows)
    unsigned long long size = 0; // in bytes
    long long modified = 0;      // the last write, in the system's finest unit
    long long age = 0;           // seconds since the last write
};

// The state of the file a path leads to (links followed); exists is false
// for a missing one.
FileState ReadFileState(const std::string& path);

// The file a path leads to after symbolic links, which a save replaces (the
// link stays); the path itself where there are none.
std::string LinkTarget(const std::string& path);

// Whether this process may create files in a folder; false with the reason
// in why.
bool MayCreateIn(const std::string& folder, std::string& why);

// Whether the disk holding a folder has no room left.
bool DiskIsFull(const std::string& folder);

// The largest settings file the plug-in reads and saves over, in bytes (0:
// no bound).
unsigned long long LargestSettingsFile();

// --- Replacing a file's text (in_place_*.cpp) ---------------------------------

// A file being replaced by --in-place, from opening to the new text in place.
struct InPlaceFile {
    std::string path;        // as given on the command line
    std::string target;      // the file written: a symbolic link's target
    std::string sibling;     // the new text's copy beside the target, while it exists
    int descriptor = -1;     // the target, opened for rewriting in place
    bool rewrite = false;    // rewrite the target itself instead of renaming the copy
    unsigned long links = 1; // the target's number of names (hard links)
    unsigned long owner = 0, group = 0, mode = 0;
};

// Checks that path names a regular file (after symbolic links), records what
// replacing it must keep, and opens it for reading. Returns the descriptor,
// or -1 with the reason in error; anything but a regular file is refused and
// left alone.
int OpenInPlace(const std::string& path, InPlaceFile& file, std::string& error);

// Writes the new text where it can replace the target in one step: a copy
// beside the target, with its owner, group and mode; where that cannot keep
// them (several hard links, an owner this process cannot give a file, a
// directory it may not write), prepares to rewrite the target itself.
// false with the reason in error; the target is untouched either way.
bool PrepareReplacement(InPlaceFile& file, const std::string& text, std::string& error);

// Puts the new text in place: renames the copy over the target, or rewrites
// the target, putting the original text back if that fails. false with the
// reason in error.
bool CommitReplacement(InPlaceFile& file, const std::string& text, const std::string& original,
                       std::string& error);

// Removes the copy and closes what is open, without touching the target.
void AbandonReplacement(InPlaceFile& file);

// The per-platform steps the two above are made of (in_place_*.cpp); the two
// themselves are the same everywhere (in_place.cpp).

// Moves the copy over the target in one step and makes the move durable;
// false with "cannot replace '<path>'" and the system's reason in error.
bool MoveCopyOver(InPlaceFile& file, std::string& error);

// Cuts an open file to size bytes and flushes it to the disk; false with
// errno set when either step fails.
bool CutAndFlush(int fd, size_t size);

// Deletes a file, ignoring failure.
void RemoveFile(const std::string& path);
