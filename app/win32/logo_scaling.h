#pragma once

#include <windows.h>

// The logo (bitmap 133, 98 x 62 pixels) grown with the dialog. A system-DPI-aware
// dialog scales its template, text and buttons with the display's scaling, but a bitmap
// control shows its bitmap at its own pixel size, too small for its slot and pulled
// off-centre. At 96 DPI nothing changes.
class CLogoScaling {
public:
    CLogoScaling() = default;
    ~CLogoScaling();

    CLogoScaling(const CLogoScaling&) = delete;
    CLogoScaling& operator=(const CLogoScaling&) = delete;

    // Gives the bitmap control `picture` the logo at the display's scale; keeps the
    // scaled bitmap, which the control does not own, until destruction.
    void Fit(HWND picture);

private:
    HBITMAP m_scaled = nullptr;
};
