// A wide environment block as the bytes execve takes, for CreateProcessA
// with CREATE_UNICODE_ENVIRONMENT (environment.cpp).
#pragma once

#include <windows.h>

// The strings of a wide environment block ("NAME=value", each with its
// terminator, an empty string after the last) converted as names.h converts
// a name, in one module-wide block of the same form, which the next call
// overwrites. NULL with an errno in *error: ENOMEM when they do not fit in
// 196608 bytes, EILSEQ for a string with a character the ANSI set lacks.
const char* NarrowEnvironmentBlock(const WCHAR* block, int* error);
