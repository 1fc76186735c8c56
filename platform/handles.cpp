// The handle table and the last error: GetLastError, SetLastError and
// CloseHandle, which every family's handles share (handles.h).
#include "handles.h"

#include <string.h>

static DWORD LastError;
static HandleSlot Slots[HANDLE_SLOTS];

// GetLastError: the Windows code of the last failed operation of this layer
// (errors.cpp says how errno values map to them).
extern "C" DWORD GetLastError(void) {
    return LastError;
}

extern "C" void SetLastError(DWORD error) {
    LastError = error;
}

// The slot behind a handle of any kind, or NULL.
static HandleSlot* SlotOf(HANDLE handle) {
    uintptr_t value = (uintptr_t)handle;
    if (value % 4 != 0 || value < 4 || value / 4 > HANDLE_SLOTS)
        return NULL;
    HandleSlot* slot = &Slots[value / 4 - 1];
    return slot->kind == HANDLE_FREE ? NULL : slot;
}

HANDLE NewHandle(int kind, CloseSlot close, HandleSlot** slot) {
    for (int i = 0; i < HANDLE_SLOTS; i++) {
        if (Slots[i].kind == HANDLE_FREE) {
            memset(&Slots[i], 0, sizeof Slots[i]);
            Slots[i].kind = kind;
            Slots[i].close = close;
            Slots[i].fd = -1;
            *slot = &Slots[i];
            return (HANDLE)(uintptr_t)((i + 1) * 4);
        }
    }
    LastError = ERROR_TOO_MANY_OPEN_FILES;
    return NULL;
}

void FreeHandle(HandleSlot* slot) {
    slot->kind = HANDLE_FREE;
}

HandleSlot* LookupHandle(HANDLE handle, int kind) {
    HandleSlot* slot = SlotOf(handle);
    if (slot != NULL && slot->kind == kind)
        return slot;
    LastError = ERROR_INVALID_HANDLE;
    return NULL;
}

HandleSlot* FindProcessSlot(pid_t pid) {
    for (HandleSlot& slot : Slots) {
        if (slot.kind == HANDLE_PROCESS && slot.pid == pid)
            return &slot;
    }
    return NULL;
}

// CloseHandle: lets go of what a handle holds, as its family says (a file is
// closed; a process that has not been waited for is reaped now if it has
// ended, and otherwise left running, as on Windows, without the terminal if
// its group held it), and frees the handle.
// FALSE with ERROR_INVALID_HANDLE for a handle that is not open.
// Differs from Windows: handles are slots of this layer's table of 64, not
// kernel objects, and are never inherited.
extern "C" BOOL CloseHandle(HANDLE object) {
    HandleSlot* slot = SlotOf(object);
    if (slot == NULL) {
        LastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (slot->close != NULL)
        slot->close(slot);
    slot->kind = HANDLE_FREE;
    return TRUE;
}
