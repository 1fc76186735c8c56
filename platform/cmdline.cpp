// Splitting a command line into a program and its arguments. Placeholder.
#include <windows.h>
