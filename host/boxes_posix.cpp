// The plug-in's message boxes on Linux: the platform layer inside the module
// already writes each as "<caption>: <text>" on standard error wherever that
// is not a terminal, and shows it on the terminal otherwise; after an
// interruption MuteMessages (interrupt_posix.cpp) sends them nowhere.
#include "system.h"

bool WriteBoxesAsLines(void* module, std::string& error) {
    (void)module;
    (void)error;
    return true;
}

void MuteBoxLines() {}
