// Screenshots for the documentation, under Wine in Xvfb: a window as the
// screen shows it, saved as a PNG with GDI+'s PNG encoder.
#pragma once

#include <windows.h>

// Copies the window, as the screen shows it, into a PNG file; false when
// the capture or the encoding failed.
bool SaveScreenshot(HWND window, const char* path);
