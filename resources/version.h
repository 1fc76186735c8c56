// The module's version record, shared by the Windows resource script and the
// Linux ELF note.
#pragma once

#define EP_VERSION_BINARY 1, 0, 0, 0
#define EP_VERSION_STRING "1, 0, 0, 0"
#define EP_DESCRIPTION "Run external preprocessor plug-in"
#define EP_COMMENTS "Run external preprocessor plug-in"
#define EP_COMPANY "External Preprocessor developers"
#define EP_COPYRIGHT "Copyright (C) 2026 External Preprocessor developers"
#define EP_LANGUAGE_BLOCK "040904b0"
