#include "tools/ui_art_format.h"

namespace {

// The standard 16-colour palette as blue, green, red, reserved.
constexpr std::uint8_t PALETTE[16][4] = {
    {0, 0, 0, 0},       {0, 0, 128, 0},   {0, 128, 0, 0},   {0, 128, 128, 0},
    {128, 0, 0, 0},     {128, 0, 128, 0}, {128, 128, 0, 0}, {192, 192, 192, 0},
    {128, 128, 128, 0}, {0, 0, 255, 0},   {0, 255, 0, 0},   {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0}, {255, 255, 0, 0}, {255, 255, 255, 0},
};

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// Rows of a device-independent bitmap are padded to whole 32-bit words.
std::uint32_t RowBytes(int width, int bitsPerPixel) {
    return static_cast<std::uint32_t>((width * bitsPerPixel + 31) / 32 * 4);
}

void PutInfoHeader(std::vector<std::uint8_t>& out, const SPicture16& picture, int storedHeight,
                   std::uint32_t imageBytes) {
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(picture.width));
    Put32(out, static_cast<std::uint32_t>(storedHeight));
    Put16(out, 1);  // planes
    Put16(out, 4);  // bits per pixel
    Put32(out, 0);  // BI_RGB: uncompressed
    Put32(out, imageBytes);
    Put32(out, 2835);  // 72 dots per inch
    Put32(out, 2835);
    Put32(out, 16);
    Put32(out, 0);
    for (const auto& entry : PALETTE) {
        out.insert(out.end(), entry, entry + 4);
    }
}

// The colour rows, bottom row first as bitmaps store them.
void PutColourRows(std::vector<std::uint8_t>& out, const SPicture16& picture) {
    const std::uint32_t rowBytes = RowBytes(picture.width, 4);
    for (int y = picture.height - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(rowBytes, 0);
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t index = picture.pixels[static_cast<std::size_t>(y * picture.width + x)] & 0x0F;
            row[static_cast<std::size_t>(x / 2)] |=
                static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
        }
        out.insert(out.end(), row.begin(), row.end());
    }
}

}  // namespace

std::vector<std::uint8_t> EncodeBitmap16(const SPicture16& picture) {
    const std::uint32_t imageBytes = RowBytes(picture.width, 4) * static_cast<std::uint32_t>(picture.height);
    const std::uint32_t offset = 14 + 40 + 16 * 4;
    std::vector<std::uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, offset + imageBytes);
    Put32(out, 0);
    Put32(out, offset);
    PutInfoHeader(out, picture, picture.height, imageBytes);
    PutColourRows(out, picture);
    return out;
}

std::vector<std::uint8_t> EncodeIcon16(const SPicture16& picture, std::uint8_t transparent) {
    const std::uint32_t colourBytes = RowBytes(picture.width, 4) * static_cast<std::uint32_t>(picture.height);
    const std::uint32_t maskRowBytes = RowBytes(picture.width, 1);
    const std::uint32_t maskBytes = maskRowBytes * static_cast<std::uint32_t>(picture.height);
    const std::uint32_t imageBytes = 40 + 16 * 4 + colourBytes + maskBytes;

    std::vector<std::uint8_t> out;
    Put16(out, 0);  // reserved
    Put16(out, 1);  // icon
    Put16(out, 1);  // one image
    out.push_back(static_cast<std::uint8_t>(picture.width));
    out.push_back(static_cast<std::uint8_t>(picture.height));
    out.push_back(16);  // colours
    out.push_back(0);
    Put16(out, 1);  // planes
    Put16(out, 4);  // bits per pixel
    Put32(out, imageBytes);
    Put32(out, 6 + 16);

    // An icon image stores colour and mask stacked, hence twice the height.
    PutInfoHeader(out, picture, picture.height * 2, colourBytes + maskBytes);
    SPicture16 shown = picture;
    for (std::uint8_t& pixel : shown.pixels) {
        if (pixel == transparent) {
            pixel = 0;  // black under a set mask bit leaves the screen unchanged
        }
    }
    PutColourRows(out, shown);
    for (int y = picture.height - 1; y >= 0; --y) {
        std::vector<std::uint8_t> row(maskRowBytes, 0);
        for (int x = 0; x < picture.width; ++x) {
            if (picture.pixels[static_cast<std::size_t>(y * picture.width + x)] == transparent) {
                row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}
