// Draws the program's icon (32 x 32) and logo (98 x 62) in the 16 standard colours and
// writes them as .ico and .bmp files for the Windows resource script:
//   ui-art-gen icon <out.ico>
//   ui-art-gen logo <out.bmp>
#include <cstdio>
#include <cstring>

#include "tools/file_io.h"
#include "tools/ui_art_format.h"

namespace {

enum : std::uint8_t {
    BLACK = 0,
    NAVY = 4,
    TEAL = 6,
    SILVER = 7,
    GREY = 8,
    YELLOW = 11,
    KEY_TRANSPARENT = 13,  // magenta never appears in the drawings; it marks the icon's holes
    CYAN = 14,
    WHITE = 15,
};

void FillRect(SPicture16& picture, int x, int y, int w, int h, std::uint8_t colour) {
    for (int row = y; row < y + h; ++row) {
        for (int column = x; column < x + w; ++column) {
            if (row >= 0 && row < picture.height && column >= 0 && column < picture.width) {
                picture.At(column, row) = colour;
            }
        }
    }
}

// A rectangle with its corners cut by `corner` pixels on the diagonal.
void FillRoundRect(SPicture16& picture, int x, int y, int w, int h, int corner, std::uint8_t colour) {
    for (int row = 0; row < h; ++row) {
        const int fromTop = row < corner ? corner - row : 0;
        const int fromBottom = h - 1 - row < corner ? corner - (h - 1 - row) : 0;
        const int cut = fromTop > fromBottom ? fromTop : fromBottom;
        FillRect(picture, x + cut, y + row, w - 2 * cut, 1, colour);
    }
}

// One key: a face with a darker lower edge.
void DrawKey(SPicture16& picture, int x, int y, int w, int h, std::uint8_t face) {
    FillRect(picture, x, y, w, h, GREY);
    FillRect(picture, x, y, w, h - 1, face);
}

// 5 x 7 letters for the logo's word, one byte per row, bit 4 the leftmost pixel.
struct SGlyph {
    char letter;
    std::uint8_t rows[7];
};
constexpr SGlyph GLYPHS[] = {
    {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
};

void DrawText(SPicture16& picture, int x, int y, int scale, const char* text, std::uint8_t colour) {
    for (; *text != '\0'; ++text, x += 6 * scale) {
        for (const SGlyph& glyph : GLYPHS) {
            if (glyph.letter != *text) {
                continue;
            }
            for (int row = 0; row < 7; ++row) {
                for (int column = 0; column < 5; ++column) {
                    if ((glyph.rows[row] >> (4 - column)) & 1) {
                        FillRect(picture, x + column * scale, y + row * scale, scale, scale, colour);
                    }
                }
            }
        }
    }
}

// A steno writer seen from above, with an arrow coming down into it: the update.
SPicture16 DrawIcon() {
    SPicture16 icon(32, 32, KEY_TRANSPARENT);
    FillRoundRect(icon, 1, 11, 30, 20, 3, NAVY);
    for (int key = 0; key < 6; ++key) {
        DrawKey(icon, 3 + key * 4 + (key >= 3 ? 2 : 0), 14, 3, 5, WHITE);
        DrawKey(icon, 3 + key * 4 + (key >= 3 ? 2 : 0), 20, 3, 5, WHITE);
    }
    DrawKey(icon, 9, 26, 5, 3, CYAN);
    DrawKey(icon, 18, 26, 5, 3, CYAN);
    // The arrow: a shaft and a head pointing at the keys.
    FillRect(icon, 14, 0, 4, 7, YELLOW);
    for (int row = 0; row < 5; ++row) {
        FillRect(icon, 10 + row, 6 + row, 12 - 2 * row, 1, YELLOW);
    }
    return icon;
}

// The logo: the keyboard of a writer above the maker's word, on the dialog's grey.
SPicture16 DrawLogo() {
    SPicture16 logo(98, 62, SILVER);
    FillRoundRect(logo, 1, 1, 96, 60, 5, NAVY);
    FillRoundRect(logo, 3, 3, 92, 56, 4, TEAL);
    FillRoundRect(logo, 5, 5, 88, 52, 3, NAVY);
    for (int key = 0; key < 10; ++key) {
        const int x = 9 + key * 8 + (key >= 5 ? 2 : 0);
        DrawKey(logo, x, 9, 6, 9, WHITE);
        DrawKey(logo, x, 20, 6, 9, WHITE);
    }
    DrawKey(logo, 30, 31, 14, 6, CYAN);
    DrawKey(logo, 54, 31, 14, 6, CYAN);
    DrawText(logo, 14, 41, 2, "TESSEL", YELLOW);
    FillRect(logo, 12, 55, 74, 1, BLACK);
    return logo;
}

int Usage() {
    std::fprintf(stderr, "usage: ui-art-gen icon <out.ico> | ui-art-gen logo <out.bmp>\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        return Usage();
    }
    std::vector<std::uint8_t> bytes;
    if (std::strcmp(argv[1], "icon") == 0) {
        bytes = EncodeIcon16(DrawIcon(), KEY_TRANSPARENT);
    } else if (std::strcmp(argv[1], "logo") == 0) {
        bytes = EncodeBitmap16(DrawLogo());
    } else {
        return Usage();
    }
    if (!WriteWholeFile(argv[2], bytes)) {
        std::fprintf(stderr, "ui-art-gen: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
