// A 32-bit stand-in for the module: the three entry points, doing nothing,
// and the real version note (resources/version_note.cpp), so that the
// loader's reading of the note is tried on an ELF32 object.
#include "plugin.h"

int32_t PLUGIN_CALL OnInstall(PluginInfo*, HostContext*) {
    return 0;
}

void PLUGIN_CALL OnCall(void) {}

int32_t PLUGIN_CALL OnSettings(void) {
    return 0;
}
