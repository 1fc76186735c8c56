// The two settings, the file they live in, and the dialog that edits them.
#pragma once

#include "plugin.h"

extern char WorkingDirectory[PATH_ARRAY];
extern char CommandLine[PATH_ARRAY];
// The settings file's path as the system names it (any character).
extern WCHAR SettingsPath[PATH_ARRAY];

// Options of the run, from section "Run" of the same file; when missing, 0
// but for ShowProgress, 1.
extern UINT IgnoreExitCode;     // non-zero: the program's exit code is not consulted
extern UINT TimeLimit;          // seconds a program may run; 0: no limit
extern UINT HideConsole;        // non-zero: a console program gets no window of its own
extern UINT ShowProgress;       // non-zero: a program still running after a second shows
                                // the progress window
extern UINT AllowEmptyOutput;   // non-zero: empty output replaces a text that was not empty
extern UINT TextsInEnvironment; // non-zero: the program gets the input file's path and the
                                // host's texts as PREPROCESSOR_* variables

// The two text options of section "Run", as the file writes them (empty when
// missing); the run makes sense of them, and refuses to run with a value it
// does not know. A value of OPTION_CAPACITY - 1 characters may have been cut,
// and is never taken for a known one.
enum { OPTION_CAPACITY = 32 };
extern char Encoding[OPTION_CAPACITY];    // the program's character set: ANSI, UTF-8, OEM or a
                                          // code page number
extern char LineEndings[OPTION_CAPACITY]; // asis, keep or unix

// Derives the settings file's path from the module's path: the text after the
// last "." becomes "ini"; a path without any "." gets ".ini" appended. FALSE
// (and an empty result) when the result would not fit in 260 characters.
BOOL DeriveSettingsPath(const WCHAR* modulePath, WCHAR* settingsPath);

// Why the last SaveSettings did not save; SAVE_DONE after one that did.
enum SaveProblem {
    SAVE_DONE,
    SAVE_NO_PATH,        // the module's path leaves no room for a settings path
    SAVE_PATH_TOO_LONG,  // no room for the copy's name beside the file
    SAVE_READ_ONLY,      // the file is read-only
    SAVE_IS_DIRECTORY,   // a directory stands at the settings path
    SAVE_NOT_SEEN,       // the file's attributes could not be read
    SAVE_OTHER_SAVE,     // the copy of another save, less than a minute old, is there
    SAVE_NO_COPY,        // the copy beside the file could not be made
    SAVE_COPY_NOT_WHOLE, // the copy could not be written whole
    SAVE_NOT_REPLACED    // the copy could not take the file's place
};
extern enum SaveProblem SaveFailure;
// The system's error code of the failed step; 0 where no call failed (a
// copy found cut after writes that all reported success).
extern DWORD SaveError;

void LoadSettings(void);
// Writes both settings to the file; FALSE when they were not saved, with
// SaveFailure and SaveError saying why. The file is then as it was.
BOOL SaveSettings(void);

INT_PTR CALLBACK SettingsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
