// Reading /proc, for the platform layer's jobs and plugin-host alike: the
// one parser of /proc/PID/stat, and the process ids /proc lists, read with
// getdents64 into a fixed buffer. Nothing here allocates.
#pragma once

#include <stddef.h>
#include <sys/types.h>

// What /proc/PID/stat says of a process that the layer and plugin-host use.
struct ProcessStat {
    pid_t pid;
    char state; // R, S, D, T, t, Z, X...
    pid_t parent;
    pid_t group;
    pid_t session;
    unsigned long long startTime; // clock ticks after boot
};

// Whether a process in this state still runs: neither a zombie nor dead.
bool IsLiving(const ProcessStat* stat);

// Parses the text of /proc/PID/stat, "pid (name) state ppid pgrp session
// tty_nr ... starttime ...": the name may hold blanks and parentheses, so
// the fields are read after the last ")". false for a text that does not
// hold every field up to the start time (the 22nd).
bool ParseProcessStat(const char* text, size_t length, ProcessStat* stat);

// Reads and parses /proc/PID/stat. false when the process is gone (a
// reaped one), /proc cannot be read, or the text is not what it should be.
bool ReadProcessStat(pid_t pid, ProcessStat* stat);

// The time since boot in the clock ticks of the start time in
// /proc/PID/stat, on the same clock (CLOCK_BOOTTIME): a process started
// after this call has a start time at least as large. No system call.
unsigned long long TicksSinceBoot();

// The process ids in /proc, read a fixed buffer at a time.
struct ProcessList {
    int fd;
    long size; // bytes of records in buffer
    long at;   // offset of the next record
    alignas(8) char buffer[4096];
};

// Opens /proc for listing. false with errno when it cannot be opened, and
// with ENOENT when what is mounted there is not the proc file system (an
// empty tmpfs over it, as a sandbox may leave).
bool OpenProcessList(ProcessList* list);

// The next process id, in the order /proc lists them (increasing), or 0
// at the end (or on a read error).
pid_t NextProcess(ProcessList* list);

// Starts the list again from its first entry, for another pass.
void RewindProcessList(ProcessList* list);

void CloseProcessList(ProcessList* list);
