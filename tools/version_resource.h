#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// The product version of a Windows version record (RT_VERSION resource 1): the
// VS_FIXEDFILEINFO that follows the block's "VS_VERSION_INFO" key. Bounded like the
// PE reader: the record comes from the file being inspected.

constexpr std::uint32_t kVersionRecordName = 1;

using ProductVersion = std::array<std::uint16_t, 4>;

// Nothing, with `error` set, when the record is too short, its block does not fit in
// it, its key is not "VS_VERSION_INFO" or the fixed part is missing or unsigned.
std::optional<ProductVersion> ReadProductVersion(std::span<const std::uint8_t> record, std::string& error);

// "2.14186.0.0".
std::string FormatProductVersion(const ProductVersion& version);
