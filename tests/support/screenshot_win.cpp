// Screenshots for the documentation (screenshot_win.h).
#include "screenshot_win.h"

#include <gdiplus.h>

// Saves a bitmap (not selected into any device context) as a PNG file with
// GDI+'s PNG encoder.
static bool SavePng(HBITMAP bitmap, const char* path) {
    // The PNG encoder's class id, as GDI+ lists it among its image encoders.
    static const CLSID PngEncoder = {
        0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0)
        return false;
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return false;
    Gdiplus::GpBitmap* image = nullptr;
    bool saved =
        Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == Gdiplus::Ok &&
        Gdiplus::DllExports::GdipSaveImageToFile(image, wide, &PngEncoder, nullptr) == Gdiplus::Ok;
    if (image != nullptr)
        Gdiplus::DllExports::GdipDisposeImage(image);
    Gdiplus::GdiplusShutdown(token);
    return saved;
}

// Copies the dialog's window, as the screen shows it, into a PNG.
bool SaveScreenshot(HWND window, const char* path) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT rect;
    GetWindowRect(window, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);
    bool saved = copied && SavePng(bitmap, path);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}
