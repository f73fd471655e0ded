#pragma once

#include <cstdint>
#include <vector>

#include "tools/stand_in_random.h"

// Appends a string table as firmware carries one: NUL-terminated messages, menu
// texts and format strings made from a small vocabulary, each padded with zeros to
// a 4-byte boundary.
void EmitStringTable(std::vector<std::uint8_t>& image, CStandInRandom& random, std::size_t bytes);

// Appends numeric tables: a 16-bit sine table, a key map and a small glyph bitmap.
void EmitDataTables(std::vector<std::uint8_t>& image, CStandInRandom& random);
