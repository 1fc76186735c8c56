// The environment block of a program run with TextsInEnvironment.
#pragma once

#include "plugin.h"

// The block's room, in characters.
enum { ENVIRONMENT_CAPACITY = 65536 };

// "NAME=value" entries, each with its terminator, ended by an empty entry:
// the wide form CreateProcessA takes with CREATE_UNICODE_ENVIRONMENT.
extern WCHAR Environment[ENVIRONMENT_CAPACITY];

// Fills Environment with the host's environment, as the system has it, and
// PREPROCESSOR_FILE (the input file's path as the program gets it),
// PREPROCESSOR_USER, PREPROCESSOR_PASSWORD, PREPROCESSOR_DATABASE,
// PREPROCESSOR_OUTPUT and PREPROCESSOR_NAME (the host's texts), converted
// from ANSI, which replace any variables of those names the host has. FALSE
// when the host's environment cannot be had or all of it does not fit.
BOOL MakeEnvironment(void);
