// Processes for the Linux tests: children made with fork (a body run apart
// from the test, ids reported back through a pipe), and this process's own
// descriptors.
#pragma once

#include <sys/types.h>

#include <functional>
#include <vector>

// Runs body in a child process and gives its exit status; -1 when the child
// had not ended after ten seconds: it was waiting, and is killed.
int InChildWithoutWaiting(const std::function<int()>& body);

// Runs body in a child process that has a mount namespace of its own with an
// empty file system over /proc, as a sandbox may leave it; the child's exit
// status, 128 and the signal's number when a signal ended it, 77 when no
// such namespace can be made here.
int WithoutProc(int (*body)());

// Forks a child that runs body(report) and exits 0 if body returns. The
// child, and the processes it starts, write count process ids to report
// (Report); they are read into *reported until all are in or every writer
// has closed report, and those never written stay 0. Returns the child's
// id, or -1 when none could be made.
pid_t StartReporting(const std::function<void(int report)>& body, size_t count,
                     std::vector<pid_t>* reported);

// Writes a process id to report; the process exits 3 when it cannot.
void Report(int report, pid_t pid);

// How many descriptors this process has open, as /proc/self/fd lists them
// (the listing's own included); 0 when it cannot be read.
int CountOpenDescriptors();
