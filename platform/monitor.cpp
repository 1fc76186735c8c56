// The monitor the progress window shows on: MonitorFromWindow and
// GetMonitorInfoA. There is one monitor, the desktop: the terminal on
// standard error in cells (80 by 24 without one), as GetWindowRect measures
// it; nothing takes a part of it, so its work area is the whole of it.
#include <windows.h>

// The one monitor's handle.
static char Monitor;

// MonitorFromWindow: the one monitor for every window (IsWindow) whatever
// the flags. For any other handle, NULL with MONITOR_DEFAULTTONULL, and the
// one monitor with MONITOR_DEFAULTTOPRIMARY or MONITOR_DEFAULTTONEAREST.
// Differs from Windows: one monitor.
extern "C" HMONITOR MonitorFromWindow(HWND window, DWORD flags) {
    if (!IsWindow(window) && flags == MONITOR_DEFAULTTONULL)
        return NULL;
    return (HMONITOR)&Monitor;
}

// GetMonitorInfoA: the monitor's rectangle and its work area (both the
// desktop's rectangle) and MONITORINFOF_PRIMARY into a MONITORINFO whose
// cbSize is set; TRUE. FALSE with ERROR_INVALID_PARAMETER for a NULL record
// or one whose cbSize is smaller than a MONITORINFO, and for any handle
// that is not the monitor.
// Differs from Windows: cells, not pixels; a MONITORINFOEXA gets no device
// name.
extern "C" BOOL GetMonitorInfoA(HMONITOR monitor, LPMONITORINFO info) {
    if (monitor != (HMONITOR)&Monitor || info == NULL || info->cbSize < sizeof(MONITORINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RECT desktop;
    if (!GetWindowRect(GetDesktopWindow(), &desktop))
        return FALSE;
    info->rcMonitor = desktop;
    info->rcWork = desktop;
    info->dwFlags = MONITORINFOF_PRIMARY;
    return TRUE;
}
