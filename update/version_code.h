#pragma once

#include <cstdint>

// VersionCode fields. New layout (types 16 and 17): major.minor.patch in the top three
// bytes, beta number in the low byte. Old layout: major in the whole upper part (not
// masked), minor in the low byte. Digits print as hexadecimal.
namespace version_code {

inline std::uint32_t Major(std::uint32_t v) {
    return v >> 24;
}
inline std::uint32_t Minor(std::uint32_t v) {
    return (v >> 16) & 0xFF;
}
inline std::uint32_t Patch(std::uint32_t v) {
    return (v >> 8) & 0xFF;
}
inline std::uint32_t Beta(std::uint32_t v) {
    return v & 0xFF;
}

inline std::uint32_t OldMajor(std::uint32_t v) {
    return v >> 8;
}
inline std::uint32_t OldMinor(std::uint32_t v) {
    return v & 0xFF;
}

}  // namespace version_code
