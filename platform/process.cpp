// Starting and waiting for processes. Placeholder.
#include "handles.h"
#include <errno.h>

void ReapIfEnded(HandleSlot* slot) {
    (void)slot;
}

extern "C" BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                               LPSECURITY_ATTRIBUTES processAttributes,
                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                               DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                               LPSTARTUPINFOA startupInfo,
                               LPPROCESS_INFORMATION processInformation) {
    (void)applicationName;
    (void)commandLine;
    (void)processAttributes;
    (void)threadAttributes;
    (void)inheritHandles;
    (void)creationFlags;
    (void)environment;
    (void)currentDirectory;
    (void)startupInfo;
    (void)processInformation;
    SetLastError(ENOSYS);
    return FALSE;
}

extern "C" DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    (void)object;
    (void)milliseconds;
    return WAIT_FAILED;
}
