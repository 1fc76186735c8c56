// The module's exported entry points.
#include "plugin.h"
#include "resource.h"
#include "run/run.h"
#include "settings/settings.h"

#include <string.h>

extern "C" BOOL PLUGIN_CALL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reason;
    (void)reserved;
    ModuleHandle = instance;
    return TRUE;
}

extern "C" int32_t PLUGIN_CALL OnInstall(PluginInfo* info, HostContext* context) {
    LoadSettings();
    Host = context;
    info->Kind = PLUGIN_KIND;
    memcpy(info->Title, PLUGIN_TITLE, sizeof(PLUGIN_TITLE));
    return 0;
}

extern "C" void PLUGIN_CALL OnCall(void) {
    RunPreprocessor();
}

extern "C" int32_t PLUGIN_CALL OnSettings(void) {
    return (int32_t)DialogBoxParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_SETTINGS), NULL,
                                    SettingsDialogProc, 0);
}
