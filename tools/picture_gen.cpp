#include <algorithm>
#include <string_view>

#include "tools/firmware_gen.h"
#include "tools/picture_font.h"
#include "tools/picture_format.h"

namespace {

// Palette plan: a sky ramp, a sun glow ramp, four hill greens of 16 shades, a grey ramp
// for the captions and the panel.
constexpr std::uint32_t kSkyFirst = 0;
constexpr std::uint32_t kSkyCount = 96;
constexpr std::uint32_t kSunFirst = 96;
constexpr std::uint32_t kSunCount = 32;
constexpr std::uint32_t kHillFirst = 128;
constexpr std::uint32_t kHillShades = 16;
constexpr std::uint32_t kGreyFirst = 192;
constexpr std::uint32_t kGreyCount = 64;

constexpr std::uint32_t kHorizon = 330;

struct SColour {
    std::uint32_t r, g, b;
};

SColour Mix(SColour from, SColour to, std::uint32_t step, std::uint32_t steps) {
    const auto mix = [&](std::uint32_t a, std::uint32_t b) {
        return (a * (steps - step) + b * step) / steps;
    };
    return {mix(from.r, to.r), mix(from.g, to.g), mix(from.b, to.b)};
}

class CCanvas {
public:
    explicit CCanvas(std::vector<std::uint8_t>& picture) : m_picture(picture) {}

    void SetPalette(std::uint32_t index, SColour colour) {
        const std::size_t at = kPicturePaletteOffset + 4 * index;
        m_picture[at] = static_cast<std::uint8_t>(colour.r);
        m_picture[at + 1] = static_cast<std::uint8_t>(colour.g);
        m_picture[at + 2] = static_cast<std::uint8_t>(colour.b);
        m_picture[at + 3] = 0;
    }

    void Set(std::int32_t x, std::int32_t y, std::uint32_t index) {
        if (x >= 0 && y >= 0 && x < static_cast<std::int32_t>(kPictureWidth) &&
            y < static_cast<std::int32_t>(kPictureHeight)) {
            m_picture[kPicturePixelOffset + static_cast<std::size_t>(y) * kPictureWidth +
                      static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(index);
        }
    }

    void Fill(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1, std::uint32_t index) {
        for (std::int32_t y = y0; y < y1; ++y) {
            for (std::int32_t x = x0; x < x1; ++x) {
                Set(x, y, index);
            }
        }
    }

    // Block letters, `scale` pixels per font dot, with a shadow down and right.
    void Text(std::string_view text, std::int32_t x, std::int32_t y, std::int32_t scale, std::uint32_t ink,
              std::uint32_t shadow) {
        for (const std::uint32_t pass : {shadow, ink}) {
            const std::int32_t offset = pass == shadow ? std::max(1, scale / 3) : 0;
            std::int32_t pen = x;
            for (const char c : text) {
                const SGlyph glyph = GlyphFor(c);
                for (std::int32_t row = 0; row < 7; ++row) {
                    for (std::int32_t col = 0; col < 5; ++col) {
                        if ((glyph.rows[static_cast<std::size_t>(row)] >> (4 - col)) & 1) {
                            Fill(pen + col * scale + offset, y + row * scale + offset,
                                 pen + (col + 1) * scale + offset, y + (row + 1) * scale + offset, pass);
                        }
                    }
                }
                pen += 6 * scale;
            }
        }
    }

private:
    std::vector<std::uint8_t>& m_picture;
};

// A smooth bump of period `period`, 0..amplitude, from integer arithmetic only so that
// every machine draws the same hills.
std::int32_t Wave(std::int32_t x, std::int32_t period, std::int32_t amplitude) {
    const std::int32_t t = ((x % period) + period) % period;
    const std::int32_t half = period / 2;
    const std::int32_t u = t < half ? t : period - t;
    return amplitude * u * (period - u) / (half * half) - amplitude / 2;
}

constexpr std::int32_t kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

void DrawSky(CCanvas& canvas) {
    for (std::int32_t y = 0; y < static_cast<std::int32_t>(kHorizon); ++y) {
        for (std::int32_t x = 0; x < static_cast<std::int32_t>(kPictureWidth); ++x) {
            // Ordered dithering between neighbouring ramp entries hides the bands.
            const std::int32_t level =
                (y * static_cast<std::int32_t>(kSkyCount - 1) * 16 / static_cast<std::int32_t>(kHorizon) +
                 kBayer[y & 3][x & 3]) /
                16;
            canvas.Set(x, y,
                       kSkyFirst + static_cast<std::uint32_t>(std::min<std::int32_t>(level, kSkyCount - 1)));
        }
    }
}

void DrawSun(CCanvas& canvas) {
    constexpr std::int32_t cx = 630;
    constexpr std::int32_t cy = 120;
    constexpr std::int32_t disc = 46;
    constexpr std::int32_t glow = 96;
    for (std::int32_t y = cy - glow; y <= cy + glow; ++y) {
        for (std::int32_t x = cx - glow; x <= cx + glow; ++x) {
            const std::int32_t d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
            if (d2 <= disc * disc) {
                canvas.Set(x, y, kSunFirst);
            } else if (d2 <= glow * glow && ((x + y) & 1) == 0) {
                // Every other pixel of the halo, so the sky shows through.
                const std::int32_t step = (d2 - disc * disc) * static_cast<std::int32_t>(kSunCount - 1) /
                                          (glow * glow - disc * disc);
                canvas.Set(x, y, kSunFirst + static_cast<std::uint32_t>(step));
            }
        }
    }
}

void DrawHills(CCanvas& canvas) {
    struct SHill {
        std::int32_t base, period, amplitude, phase;
    };
    constexpr SHill hills[4] = {
        {300, 520, 70, 40}, {345, 380, 60, 170}, {395, 610, 50, 300}, {440, 290, 30, 90}};
    for (std::uint32_t layer = 0; layer < 4; ++layer) {
        const SHill& hill = hills[layer];
        for (std::int32_t x = 0; x < static_cast<std::int32_t>(kPictureWidth); ++x) {
            const std::int32_t top = hill.base - Wave(x + hill.phase, hill.period, hill.amplitude);
            for (std::int32_t y = std::max(top, 0); y < static_cast<std::int32_t>(kPictureHeight); ++y) {
                // Lighter at the ridge, darker lower down.
                const std::int32_t shade = std::min<std::int32_t>((y - top) / 6, kHillShades - 1);
                canvas.Set(x, y, kHillFirst + layer * kHillShades + static_cast<std::uint32_t>(shade));
            }
        }
    }
}

void SetPalette(CCanvas& canvas) {
    for (std::uint32_t i = 0; i < kSkyCount; ++i) {
        canvas.SetPalette(kSkyFirst + i, Mix({18, 38, 112}, {196, 222, 246}, i, kSkyCount - 1));
    }
    for (std::uint32_t i = 0; i < kSunCount; ++i) {
        canvas.SetPalette(kSunFirst + i, Mix({255, 244, 170}, {250, 170, 90}, i, kSunCount - 1));
    }
    constexpr SColour ridges[4] = {{120, 170, 110}, {84, 150, 70}, {56, 124, 52}, {36, 96, 40}};
    for (std::uint32_t layer = 0; layer < 4; ++layer) {
        const SColour dark{ridges[layer].r / 3, ridges[layer].g / 3, ridges[layer].b / 3};
        for (std::uint32_t i = 0; i < kHillShades; ++i) {
            canvas.SetPalette(kHillFirst + layer * kHillShades + i,
                              Mix(ridges[layer], dark, i, kHillShades - 1));
        }
    }
    for (std::uint32_t i = 0; i < kGreyCount; ++i) {
        canvas.SetPalette(kGreyFirst + i, Mix({0, 0, 0}, {255, 255, 255}, i, kGreyCount - 1));
    }
}

}  // namespace

std::vector<std::uint8_t> GeneratePicture() {
    std::vector<std::uint8_t> picture(kPictureSize, 0);
    WritePictureHeader(std::span<std::uint8_t, kPictureHeaderSize>(picture.data(), kPictureHeaderSize));
    CCanvas canvas(picture);
    SetPalette(canvas);
    DrawSky(canvas);
    DrawSun(canvas);
    DrawHills(canvas);

    constexpr std::uint32_t white = kGreyFirst + kGreyCount - 1;
    constexpr std::uint32_t shadow = kGreyFirst + 8;
    constexpr std::uint32_t panel = kGreyFirst + 14;
    constexpr std::uint32_t border = kGreyFirst + 40;
    // Logo panel with a frame, the name in large letters and a line below it.
    canvas.Fill(52, 52, 420, 232, border);
    canvas.Fill(56, 56, 416, 228, panel);
    canvas.Text("TESSEL", 78, 80, 9, white, shadow);
    canvas.Text("STENO WRITER", 88, 168, 4, kSunFirst + 4, shadow);
    canvas.Text("FIRMWARE UPDATE", 130, 402, 6, white, shadow);
    return picture;
}
