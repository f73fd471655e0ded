#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The resources of a Windows executable (PE32 or PE32+) held in memory, so that
// image-inspect can look inside the program that ships. The file may be damaged or
// hostile: every offset and size taken from it is checked against the file before it
// is used, with 64-bit arithmetic that 32-bit fields cannot overflow, and a failure
// is an error text, never a read outside the file's bytes.

// Numeric resource types.
constexpr std::uint32_t kResourceTypeRcData = 10;   // RT_RCDATA
constexpr std::uint32_t kResourceTypeVersion = 16;  // RT_VERSION

struct SPeResource {
    std::optional<std::span<const std::uint8_t>> bytes;  // the data; nothing when absent or damaged
    std::string error;                                   // empty unless the path to it is damaged
};

class CPeResources {
public:
    // Reads the headers and locates the resource directory. Nothing, with `error`
    // set, when the file is no PE or its headers do not lie within it. A PE without
    // resources opens; every lookup then finds nothing. `file` must outlive the result.
    static std::optional<CPeResources> Open(std::span<const std::uint8_t> file, std::string& error);

    // The data of resource `type`/`name` (numeric ids) in the first language listed.
    // The spans lie within the file.
    SPeResource Find(std::uint32_t type, std::uint32_t name) const;

private:
    struct SSection {
        std::uint32_t virtual_address;
        std::uint32_t extent;  // bytes of the section that the file holds
        std::uint32_t raw_offset;
    };

    CPeResources(std::span<const std::uint8_t> file, std::vector<SSection> sections)
        : m_file(file), m_sections(std::move(sections)) {}

    // The file bytes at [rva, rva + size), all in one section; nothing, with `error`
    // naming `what`, otherwise.
    std::optional<std::span<const std::uint8_t>> MapRva(std::uint32_t rva, std::uint32_t size,
                                                        const char* what, std::string& error) const;

    std::span<const std::uint8_t> m_file;
    std::vector<SSection> m_sections;
    std::span<const std::uint8_t> m_directory;  // the resource directory; empty when there is none
};
