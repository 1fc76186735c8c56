// The run's temporary files: the input file, the capture file (its path
// followed by ".sql") and the standard-error file (".err"), named as the
// system names them, whatever characters the temporary directory's name
// holds.
#pragma once

#include "plugin.h"

extern WCHAR TempDirectory[PATH_ARRAY];
extern WCHAR InputPath[PATH_ARRAY];
extern WCHAR CaptureFile[PATH_ARRAY + 4];

// The files the program writes, NULL when not open (standard error: also
// when it goes to the null device, with IgnoreExitCode).
extern HANDLE Capture;
extern HANDLE Errors;

// The texts of the boxes for a file that cannot be made or read.
extern const char CreateFailed[];
extern const char ReadFailed[];

// Chooses the directory and creates the three files, and puts the input
// file's name as the program gets it in InputFile (empty where it has no
// ANSI name). FALSE (after the box) when the files cannot be made.
BOOL CreateTemporaryFiles(void);

// Closes the files the program writes.
void CloseOutputFiles(void);

// Removes the files this run created, the input file first.
void RemoveTemporaryFiles(void);
