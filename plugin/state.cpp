// Module-wide state. Everything here is zeroed at load and lives until unload.
#include "plugin.h"
#include "run/run.h"
#include "settings/settings.h"

HINSTANCE ModuleHandle;
HostContext* Host;

char WorkingDirectory[PATH_ARRAY];
char CommandLine[PATH_ARRAY];
WCHAR SettingsPath[PATH_ARRAY];
UINT IgnoreExitCode;
UINT TimeLimit;
UINT HideConsole;
UINT ShowProgress;
UINT AllowEmptyOutput;
UINT TextsInEnvironment;
char Encoding[OPTION_CAPACITY];
char LineEndings[OPTION_CAPACITY];

char ExpandedCommandLine[PATH_ARRAY];
char TextBuffer[TEXT_CAPACITY + 1];
char InputFile[PATH_ARRAY];
