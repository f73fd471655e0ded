#include "tools/firmware_text.h"

#include <array>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 72> kWords{
    "writer",     "paper",     "battery",  "low",      "ready",     "error",  "file",    "open",    "close",
    "save",       "delete",    "job",      "steno",    "key",       "stroke", "display", "memory",  "card",
    "full",       "empty",     "insert",   "remove",   "connect",   "cable",  "update",  "version", "boot",
    "code",       "failed",    "please",   "wait",     "press",     "enter",  "cancel",  "menu",    "setup",
    "time",       "date",      "language", "realtime", "output",    "serial", "port",    "speed",   "level",
    "charge",     "power",     "off",      "on",       "not",       "found",  "invalid", "value",   "range",
    "dictionary", "translate", "buffer",   "sensor",   "calibrate", "check",  "system",  "restart", "mode",
    "test",       "user",      "name",     "folder",   "list",      "select", "next",    "back",    "done"};

constexpr std::array<std::string_view, 8> kFormats{"%d",  "%s",     "%02d:%02d", "%u%%",
                                                   "%lu", "v%d.%d", "(%d)",      "%s: %d"};

void PadToWord(std::vector<std::uint8_t>& image) {
    while (image.size() % 4 != 0) {
        image.push_back(0);
    }
}

void PutText(std::vector<std::uint8_t>& image, std::string_view text) {
    image.insert(image.end(), text.begin(), text.end());
}

}  // namespace

void EmitStringTable(std::vector<std::uint8_t>& image, CStandInRandom& random, std::size_t bytes) {
    const std::size_t end = image.size() + bytes;
    while (image.size() < end) {
        const std::uint32_t words = random.Between(1, 6);
        for (std::uint32_t i = 0; i < words; ++i) {
            std::string_view word = kWords[random.Below(kWords.size())];
            if (i == 0) {
                // Capitalised first word, like a message text.
                image.push_back(static_cast<std::uint8_t>(word[0] - 'a' + 'A'));
                word.remove_prefix(1);
            } else {
                image.push_back(' ');
            }
            PutText(image, word);
        }
        if (random.Percent(25)) {
            image.push_back(' ');
            PutText(image, kFormats[random.Below(kFormats.size())]);
        } else if (random.Percent(20)) {
            image.push_back(random.Percent(50) ? '!' : '?');
        }
        image.push_back(0);
        PadToWord(image);
    }
}

void EmitDataTables(std::vector<std::uint8_t>& image, CStandInRandom& random) {
    // A sine-shaped wave from integer arithmetic only, so that every machine makes
    // the same bytes (library sine functions may differ in the last bit).
    for (std::int32_t i = 0; i < 256; ++i) {
        const std::int32_t x = i % 128;
        const std::int32_t magnitude = 32767 * 4 * x * (128 - x) / (128 * 128);
        const auto bits = static_cast<std::uint16_t>(i < 128 ? magnitude : -magnitude);
        image.push_back(static_cast<std::uint8_t>(bits));
        image.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
    // Key map: the writer's keys to bit numbers, mostly in order.
    for (std::uint32_t key = 0; key < 64; ++key) {
        image.push_back(static_cast<std::uint8_t>(random.Percent(80) ? key : random.Below(64)));
    }
    // A glyph bitmap of 96 characters, 8 rows each: sparse bits in the middle columns.
    for (int glyph = 0; glyph < 96; ++glyph) {
        for (int row = 0; row < 8; ++row) {
            const bool blank = row == 0 || row == 7;
            image.push_back(blank ? 0 : static_cast<std::uint8_t>(random.Next() & 0x7E));
        }
    }
    PadToWord(image);
}
