// Test programs double as the child programs that a run starts, so no test
// depends on cat, sh or cmd.exe. "PROGRAM --child MODE ARGS..." runs a mode.
#pragma once

// Runs the child mode named on the command line and returns its exit code, or
// -1 when the command line does not ask for a child mode.
int RunChildMode(int argc, char** argv);

// The path of the running test program, to name it in command lines.
const char* SelfPath();
