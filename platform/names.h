// Linux names (bytes) as UTF-16 and back, without loss: for the layer's
// wide ("W") file calls, which take WCHAR paths and must reach exactly the
// bytes a name has (names.cpp). The plug-in never includes it.
//
// The bytes decode in the ANSI set, the locale's (see charset.cpp). A byte
// that does not decode there (or whose character would not encode back to
// that very byte) becomes the lone low surrogate U+DC00 + byte (U+DC80 to
// U+DCFF in every set built on ASCII), as Python's "surrogateescape" does,
// and each unit of U+DC00 to U+DCFF becomes that byte again. So every name,
// in every locale, comes back byte for byte:
// WideToName(NameToWide(name)) == name. The other way is not always so: the
// units U+DCC3 U+DCA9 become the bytes C3 A9, which a UTF-8 locale reads
// back as U+00E9.
#pragma once

#include "windows.h"

#include <stddef.h>

// The name's UTF-16 form with its terminator into wide (capacity units).
// False when it does not fit (GetLastError: ERROR_INSUFFICIENT_BUFFER).
bool NameToWide(const char* name, WCHAR* wide, size_t capacity);

// The bytes of a wide name with their terminator into name (capacity
// bytes). False when they do not fit (ERROR_INSUFFICIENT_BUFFER), or when
// the wide name holds a character the ANSI set cannot hold or a lone
// surrogate other than U+DC00 to U+DCFF, which no Linux name has
// (ERROR_NO_UNICODE_TRANSLATION).
bool WideToName(const WCHAR* wide, char* name, size_t capacity);
