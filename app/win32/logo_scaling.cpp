#include "app/win32/logo_scaling.h"

#include <algorithm>

namespace {

constexpr int BASE_DPI = 96;

// `size` pixels at 96 DPI scaled to `dpi`, rounded to the nearest pixel.
int ScaledToDpi(int size, int dpi) {
    return (size * dpi + BASE_DPI / 2) / BASE_DPI;
}

// A 24-bit bitmap: a static control of common controls 6 blends a 32-bit one by its
// alpha channel, which GDI's drawing leaves at zero.
HBITMAP CreateRgbBitmap(HDC screen, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    return CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

// The logo at `width` x `height`: first enlarged by the whole factor that reaches the
// target, pixel by pixel, then brought down to the target with smoothing. Edges stay
// sharp at any scale, where plain pixel repetition would make uneven pixels at 150 %
// and smoothing alone would blur the whole picture.
HBITMAP ScaleSharply(HBITMAP source, int sourceWidth, int sourceHeight, int width, int height) {
    const auto wholeFactor = [](int target, int size) { return (target + size - 1) / size; };
    const int factor = std::max(wholeFactor(width, sourceWidth), wholeFactor(height, sourceHeight));
    HDC screen = GetDC(nullptr);
    HDC from = CreateCompatibleDC(screen);
    HDC step = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    HBITMAP enlarged = CreateRgbBitmap(screen, sourceWidth * factor, sourceHeight * factor);
    HBITMAP result = CreateRgbBitmap(screen, width, height);
    if (from != nullptr && step != nullptr && to != nullptr && enlarged != nullptr && result != nullptr) {
        HGDIOBJ oldFrom = SelectObject(from, source);
        HGDIOBJ oldStep = SelectObject(step, enlarged);
        HGDIOBJ oldTo = SelectObject(to, result);
        SetStretchBltMode(step, COLORONCOLOR);
        StretchBlt(step, 0, 0, sourceWidth * factor, sourceHeight * factor, from, 0, 0, sourceWidth,
                   sourceHeight, SRCCOPY);
        SetStretchBltMode(to, HALFTONE);
        SetBrushOrgEx(to, 0, 0, nullptr);
        StretchBlt(to, 0, 0, width, height, step, 0, 0, sourceWidth * factor, sourceHeight * factor, SRCCOPY);
        SelectObject(from, oldFrom);
        SelectObject(step, oldStep);
        SelectObject(to, oldTo);
    } else if (result != nullptr) {
        DeleteObject(result);
        result = nullptr;
    }
    if (enlarged != nullptr) {
        DeleteObject(enlarged);
    }
    for (HDC context : {from, step, to}) {
        if (context != nullptr) {
            DeleteDC(context);
        }
    }
    ReleaseDC(nullptr, screen);
    return result;
}

}  // namespace

CLogoScaling::~CLogoScaling() {
    if (m_scaled != nullptr) {
        DeleteObject(m_scaled);
    }
}

void CLogoScaling::Fit(HWND picture) {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    if (picture == nullptr || dpi <= BASE_DPI) {
        return;
    }
    const auto logo = reinterpret_cast<HBITMAP>(SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP size{};
    if (logo == nullptr || GetObjectA(logo, sizeof(size), &size) == 0 || size.bmWidth <= 0 ||
        size.bmHeight <= 0) {
        return;
    }
    HBITMAP scaled = ScaleSharply(logo, size.bmWidth, size.bmHeight, ScaledToDpi(size.bmWidth, dpi),
                                  ScaledToDpi(size.bmHeight, dpi));
    if (scaled == nullptr) {
        return;  // the logo at its own size is still better than none
    }
    // The control keeps its top-left corner, where the template puts it, and takes the
    // size of its new bitmap.
    SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled));
    if (m_scaled != nullptr) {
        DeleteObject(m_scaled);
    }
    m_scaled = scaled;
}
