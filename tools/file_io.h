#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Whole-file reads and writes for the off-line tools. Failures are returned, not
// thrown, so each tool can name the file in its message.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, std::span<const std::uint8_t> bytes);
