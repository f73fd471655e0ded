#pragma once

#include <array>
#include <cstdint>

// A 5 x 7 block font for the few captions of the stand-in picture: row r of a glyph is
// bit 4 (left) .. bit 0 (right) of rows[r]. Characters without a glyph are blank.
struct SGlyph {
    std::array<std::uint8_t, 7> rows{};
};

SGlyph GlyphFor(char c);
