#pragma once

#include <cstdint>
#include <vector>

// 16-colour pictures and their Windows file formats, for the program's icon and logo.
// Pixels are indices into the standard 16-colour palette of Windows (0 black, 4 navy,
// 7 silver, 11 yellow, 14 aqua, 15 white, ...).
struct SPicture16 {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // row-major, top row first, one index per pixel

    SPicture16(int w, int h, std::uint8_t fill)
        : width(w), height(h), pixels(static_cast<std::size_t>(w * h), fill) {}
    std::uint8_t& At(int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

// An uncompressed 4-bit .bmp file (BITMAPFILEHEADER, BITMAPINFOHEADER, palette, rows).
std::vector<std::uint8_t> EncodeBitmap16(const SPicture16& picture);
// An .ico file with the one 4-bit image; pixels equal to `transparent` are masked out.
std::vector<std::uint8_t> EncodeIcon16(const SPicture16& picture, std::uint8_t transparent);
