// The plug-in's boundary with its host: the records the host hands over in
// OnInstall, the three host callbacks, the exported entry points and the
// module-wide state they share.
//
// The same header is compiled for 32-bit and 64-bit Windows (with the real
// <windows.h>) and for Linux (with the platform layer's <windows.h>).
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// Calling convention of the entry points and the host callbacks: __stdcall on
// 32-bit Windows, the platform's only convention everywhere else.
#define PLUGIN_CALL WINAPI

// Capacities. Paths and command lines have room for 260 characters and the
// terminator; every platform call that fills one is given PATH_CAPACITY.
enum {
    PATH_CAPACITY = 260,
    PATH_ARRAY = PATH_CAPACITY + 1,
    MODULE_PATH_CAPACITY = 261,
    TEXT_CAPACITY = 102400,
    HOST_TEXT_SIZE = 64
};

// A 32-bit value that only the host interprets: the text a run works on.
typedef uint32_t TargetHandle;

typedef int32_t(PLUGIN_CALL* GetTargetHandleProc)(TargetHandle* handle);
typedef int32_t(PLUGIN_CALL* GetTargetTextProc)(TargetHandle handle, char* buffer,
                                                int32_t capacity);
typedef int32_t(PLUGIN_CALL* SetTargetTextProc)(TargetHandle handle, const char* text);

// What OnInstall reports: the plug-in's kind code and title.
#define PLUGIN_KIND 16
#define PLUGIN_TITLE "External Preprocessor"

// Filled by the plug-in during OnInstall. The host decides how large Title is;
// the plug-in relies on room for its own title and terminator (22 bytes).
struct PluginInfo {
    uint32_t HostReserved;
    uint32_t Kind;
    char Title[sizeof(PLUGIN_TITLE)];
};

// Owned by the host and only read by the plug-in, from OnInstall until unload.
// Pointer and handle fields take the platform's pointer width, so a 64-bit
// build moves every offset after the first of them.
struct HostContext {
    unsigned char HostReserved0[16];
    char TextN[HOST_TEXT_SIZE];
    char TextU[HOST_TEXT_SIZE];
    char TextO[HOST_TEXT_SIZE];
    char TextD[HOST_TEXT_SIZE];
    GetTargetHandleProc GetTargetHandle;
    void* HostReserved1;
    GetTargetTextProc GetTargetText;
    SetTargetTextProc SetTargetText;
    void* HostReserved2[2];
    char TextP[HOST_TEXT_SIZE];
    HWND OwnerWindow;
};

static_assert(offsetof(PluginInfo, Kind) == 4, "PluginInfo.Kind");
static_assert(offsetof(PluginInfo, Title) == 8, "PluginInfo.Title");
static_assert(offsetof(HostContext, TextN) == 16, "HostContext.TextN");
static_assert(offsetof(HostContext, TextU) == 80, "HostContext.TextU");
static_assert(offsetof(HostContext, TextO) == 144, "HostContext.TextO");
static_assert(offsetof(HostContext, TextD) == 208, "HostContext.TextD");
static_assert(offsetof(HostContext, GetTargetHandle) == 272, "HostContext.GetTargetHandle");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(HostContext, HostReserved1) == 276, "HostContext host field");
static_assert(offsetof(HostContext, GetTargetText) == 280, "HostContext.GetTargetText");
static_assert(offsetof(HostContext, SetTargetText) == 284, "HostContext.SetTargetText");
static_assert(offsetof(HostContext, HostReserved2) == 288, "HostContext host fields");
static_assert(offsetof(HostContext, TextP) == 296, "HostContext.TextP");
static_assert(offsetof(HostContext, OwnerWindow) == 360, "HostContext.OwnerWindow");
static_assert(sizeof(HostContext) == 364, "HostContext size");
#else
static_assert(offsetof(HostContext, HostReserved1) == 280, "HostContext host field");
static_assert(offsetof(HostContext, GetTargetText) == 288, "HostContext.GetTargetText");
static_assert(offsetof(HostContext, SetTargetText) == 296, "HostContext.SetTargetText");
static_assert(offsetof(HostContext, HostReserved2) == 304, "HostContext host fields");
static_assert(offsetof(HostContext, TextP) == 320, "HostContext.TextP");
static_assert(offsetof(HostContext, OwnerWindow) == 384, "HostContext.OwnerWindow");
static_assert(sizeof(HostContext) == 392, "HostContext size");
#endif

// The exported entry points, in the order the host must call them.
extern "C" {
BOOL PLUGIN_CALL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
int32_t PLUGIN_CALL OnInstall(PluginInfo* info, HostContext* context);
void PLUGIN_CALL OnCall(void);
int32_t PLUGIN_CALL OnSettings(void);
}

// Module-wide state, zeroed at load and kept until unload.
extern HINSTANCE ModuleHandle;
extern HostContext* Host;
