// Waiting for the program: the progress window, Cancel, the time limit and
// the output limits.
#pragma once

#include "plugin.h"

// How a wait for the program ended.
enum WaitOutcome {
    WAIT_ENDED,       // the program ended by itself
    WAIT_CANCELLED,   // the user cancelled it, the host is closing, or the host's window went
    WAIT_TIMED_OUT,   // TimeLimit ran out
    WAIT_OUTPUT_OVER, // it wrote more to its standard output than the plug-in takes
    WAIT_ERRORS_OVER, // it wrote more to its standard error than the run keeps
    WAIT_BROKEN       // the process could not be waited for
};

// The most a program may write to its standard error.
static const unsigned long long ErrorLimit = 1048576;

// Waits until the program behind process ends, or until it must be ended:
// the user cancels it, its time limit passes, or one of its output files
// (errors may be NULL) grows beyond what the run takes. Measures the files
// every 10 milliseconds, so that a program writing as fast as a disk takes
// puts some 10 MB more at most on the disk before it is ended. When the
// program still runs after a second, shows the progress window (unless
// ShowProgress is 0) and, while it shows, handles the thread's messages.
// Ends nothing itself: the caller ends the program for any outcome but
// WAIT_ENDED.
WaitOutcome WaitForProgram(HANDLE process, HANDLE capture, HANDLE errors);

// Whether a file's size, measured through its open handle, is beyond limit.
BOOL FileLargerThan(HANDLE file, unsigned long long limit);
