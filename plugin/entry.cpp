// The module's exported entry points.
//
// One entry at a time: a run or the settings dialog handles the thread's
// messages while it lasts, so a host may call in again from a window that
// the run's progress window or the dialog does not cover. Such a call
// returns at once and touches nothing, since the module's buffers belong to
// the entry at work.
#include "plugin.h"
#include "resource.h"
#include "run/run.h"
#include "settings/settings.h"

#include <string.h>

// An OnCall or OnSettings is at work.
static BOOL Busy;

extern "C" BOOL PLUGIN_CALL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reason;
    (void)reserved;
    ModuleHandle = instance;
    return TRUE;
}

// A null record is left alone: a null PluginInfo gets no title, and a null
// HostContext leaves the module without a host, so that OnCall does nothing.
extern "C" int32_t PLUGIN_CALL OnInstall(PluginInfo* info, HostContext* context) {
    LoadSettings();
    Host = context;
    if (info != NULL) {
        info->Kind = PLUGIN_KIND;
        memcpy(info->Title, PLUGIN_TITLE, sizeof(PLUGIN_TITLE));
    }
    return 0;
}

// Before any OnInstall there is no host to ask for a text: nothing happens.
extern "C" void PLUGIN_CALL OnCall(void) {
    if (Busy || Host == NULL)
        return;
    Busy = TRUE;
    RunPreprocessor();
    Busy = FALSE;
}

// -1, as for a dialog that cannot be shown, while another entry is at work.
extern "C" int32_t PLUGIN_CALL OnSettings(void) {
    if (Busy)
        return -1;
    Busy = TRUE;
    int32_t result = (int32_t)DialogBoxParamA(ModuleHandle, MAKEINTRESOURCEA(IDD_SETTINGS), NULL,
                                              SettingsDialogProc, 0);
    Busy = FALSE;
    return result;
}
