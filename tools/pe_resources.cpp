#include "tools/pe_resources.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32Magic = 0x010B;
constexpr std::uint16_t kPe32PlusMagic = 0x020B;
constexpr std::uint64_t kDosHeaderSize = 64;
constexpr std::uint64_t kPeOffsetField = 0x3C;  // e_lfanew
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint32_t kResourceDirectoryIndex = 2;  // in the optional header's data directories
constexpr std::uint64_t kDataDirectorySize = 8;
// NumberOfRvaAndSizes, followed by the data directories; PE32+ has a 64-bit image base
// and stack and heap sizes, PE32 32-bit ones and BaseOfData.
constexpr std::uint64_t kPe32PlusDirectoryCount = 108;
constexpr std::uint64_t kPe32DirectoryCount = 92;

constexpr std::uint64_t kDirectoryHeaderSize = 16;
constexpr std::uint64_t kDirectoryEntrySize = 8;
constexpr std::uint64_t kDataEntrySize = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;  // entry name: a string; entry target: a subdirectory
constexpr int kResourceLevels = 3;               // type, name, language

// Little-endian reads that fail rather than read outside `bytes`.
class CBoundedBytes {
public:
    explicit CBoundedBytes(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool Holds(std::uint64_t offset, std::uint64_t length) const {
        return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
    }
    std::optional<std::uint16_t> U16(std::uint64_t offset) const {
        if (!Holds(offset, 2)) {
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(m_bytes[offset] | (m_bytes[offset + 1] << 8));
    }
    std::optional<std::uint32_t> U32(std::uint64_t offset) const {
        if (!Holds(offset, 4)) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(m_bytes[offset]) |
               (static_cast<std::uint32_t>(m_bytes[offset + 1]) << 8) |
               (static_cast<std::uint32_t>(m_bytes[offset + 2]) << 16) |
               (static_cast<std::uint32_t>(m_bytes[offset + 3]) << 24);
    }
    // Only for ranges that Holds.
    std::span<const std::uint8_t> Slice(std::uint64_t offset, std::uint64_t length) const {
        return m_bytes.subspan(offset, length);
    }

private:
    std::span<const std::uint8_t> m_bytes;
};

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string ResourceName(std::uint32_t type, std::uint32_t name) {
    return "resource " + std::to_string(type) + "/" + std::to_string(name);
}

}  // namespace

std::optional<CPeResources> CPeResources::Open(std::span<const std::uint8_t> file, std::string& error) {
    const CBoundedBytes bytes(file);
    if (!bytes.Holds(0, kDosHeaderSize)) {
        error = "file too short for a DOS header (" + std::to_string(file.size()) + " bytes)";
        return std::nullopt;
    }
    if (bytes.U16(0) != kDosMagic) {
        error = "no MZ signature: not a Windows executable";
        return std::nullopt;
    }
    const std::uint64_t pe_offset = *bytes.U32(kPeOffsetField);
    const auto signature = bytes.U32(pe_offset);
    if (!signature) {
        error = "PE header offset " + Hex(pe_offset) + " lies outside the file";
        return std::nullopt;
    }
    if (*signature != kPeSignature) {
        error = "no PE signature at " + Hex(pe_offset);
        return std::nullopt;
    }
    const std::uint64_t coff = pe_offset + 4;
    if (!bytes.Holds(coff, kCoffHeaderSize)) {
        error = "COFF header runs past the end of the file";
        return std::nullopt;
    }
    const std::uint16_t section_count = *bytes.U16(coff + 2);
    const std::uint16_t optional_size = *bytes.U16(coff + 16);
    const std::uint64_t optional = coff + kCoffHeaderSize;
    if (!bytes.Holds(optional, optional_size)) {
        error = "optional header (" + std::to_string(optional_size) + " bytes) runs past the end of the file";
        return std::nullopt;
    }
    const CBoundedBytes optional_header(bytes.Slice(optional, optional_size));
    const auto magic = optional_header.U16(0);
    std::uint64_t count_field = 0;
    if (magic == kPe32PlusMagic) {
        count_field = kPe32PlusDirectoryCount;
    } else if (magic == kPe32Magic) {
        count_field = kPe32DirectoryCount;
    } else {
        error = magic ? "unknown optional header magic " + Hex(*magic)
                      : "optional header too short for its magic";
        return std::nullopt;
    }
    const auto directory_count = optional_header.U32(count_field);
    if (!directory_count) {
        error =
            "optional header too short (" + std::to_string(optional_size) + " bytes) for its fixed fields";
        return std::nullopt;
    }
    const std::uint64_t resource_entry = count_field + 4 + kResourceDirectoryIndex * kDataDirectorySize;
    std::uint32_t resource_rva = 0;
    std::uint32_t resource_size = 0;
    if (*directory_count > kResourceDirectoryIndex) {
        if (!optional_header.Holds(resource_entry, kDataDirectorySize)) {
            error = "optional header too short for the resource directory entry";
            return std::nullopt;
        }
        resource_rva = *optional_header.U32(resource_entry);
        resource_size = *optional_header.U32(resource_entry + 4);
    }

    const std::uint64_t section_table = optional + optional_size;
    if (!bytes.Holds(section_table, section_count * kSectionHeaderSize)) {
        error =
            "section table (" + std::to_string(section_count) + " sections) runs past the end of the file";
        return std::nullopt;
    }
    std::vector<SSection> sections;
    sections.reserve(section_count);
    for (std::uint64_t i = 0; i < section_count; ++i) {
        const std::uint64_t header = section_table + i * kSectionHeaderSize;
        const std::uint32_t virtual_size = *bytes.U32(header + 8);
        const std::uint32_t raw_size = *bytes.U32(header + 16);
        // Raw data beyond the virtual size is file alignment padding, not section.
        const std::uint32_t extent = virtual_size == 0 ? raw_size : std::min(virtual_size, raw_size);
        sections.push_back({*bytes.U32(header + 12), extent, *bytes.U32(header + 20)});
    }

    CPeResources resources(file, std::move(sections));
    if (resource_rva == 0 && resource_size == 0) {
        return resources;
    }
    const auto directory = resources.MapRva(resource_rva, resource_size, "resource directory", error);
    if (!directory) {
        return std::nullopt;
    }
    if (directory->size() < kDirectoryHeaderSize) {
        error = "resource directory too small for its root (" + std::to_string(resource_size) + " bytes)";
        return std::nullopt;
    }
    resources.m_directory = *directory;
    return resources;
}

std::optional<std::span<const std::uint8_t>> CPeResources::MapRva(std::uint32_t rva, std::uint32_t size,
                                                                  const char* what,
                                                                  std::string& error) const {
    const std::string range =
        std::string(what) + " (RVA " + Hex(rva) + ", " + std::to_string(size) + " bytes)";
    for (const SSection& section : m_sections) {
        if (rva < section.virtual_address || rva - section.virtual_address >= section.extent) {
            continue;
        }
        const std::uint64_t into = rva - section.virtual_address;
        if (size > section.extent - into) {
            error = range + " runs past the end of its section";
            return std::nullopt;
        }
        const std::uint64_t offset = section.raw_offset + into;
        const CBoundedBytes bytes(m_file);
        if (!bytes.Holds(offset, size)) {
            error = range + " lies outside the file";
            return std::nullopt;
        }
        return bytes.Slice(offset, size);
    }
    error = range + " lies in no section of the file";
    return std::nullopt;
}

SPeResource CPeResources::Find(std::uint32_t type, std::uint32_t name) const {
    SPeResource found;
    if (m_directory.empty()) {
        return found;
    }
    const std::string what = ResourceName(type, name);
    const CBoundedBytes tree(m_directory);
    const std::array<std::uint32_t, kResourceLevels - 1> wanted{type, name};
    std::array<std::uint64_t, kResourceLevels> path{};  // offsets of the directories walked
    std::uint64_t directory = 0;
    for (int level = 0; level < kResourceLevels; ++level) {
        for (int ancestor = 0; ancestor < level; ++ancestor) {
            if (path[ancestor] == directory) {
                found.error =
                    what + ": resource directory at " + Hex(directory) + " loops back to an ancestor";
                return found;
            }
        }
        path[level] = directory;
        if (!tree.Holds(directory, kDirectoryHeaderSize)) {
            found.error =
                what + ": resource directory at " + Hex(directory) + " lies outside the resource data";
            return found;
        }
        const std::uint64_t entry_count =
            std::uint64_t{*tree.U16(directory + 12)} + *tree.U16(directory + 14);
        const std::uint64_t entries = directory + kDirectoryHeaderSize;
        if (!tree.Holds(entries, entry_count * kDirectoryEntrySize)) {
            found.error = what + ": the " + std::to_string(entry_count) +
                          " entries of the resource directory at " + Hex(directory) +
                          " run past the resource data";
            return found;
        }
        std::optional<std::uint32_t> target;
        for (std::uint64_t i = 0; i < entry_count && !target; ++i) {
            const std::uint64_t entry = entries + i * kDirectoryEntrySize;
            const std::uint32_t entry_name = *tree.U32(entry);
            // The last level lists languages; any one will do.
            const bool last = level == kResourceLevels - 1;
            if (last || ((entry_name & kHighBit) == 0 && entry_name == wanted[level])) {
                target = *tree.U32(entry + 4);
            }
        }
        if (!target) {
            return found;
        }
        const bool subdirectory = (*target & kHighBit) != 0;
        if (level < kResourceLevels - 1 && !subdirectory) {
            found.error = what + ": a data entry stands where level " + std::to_string(level + 2) +
                          " of the resource tree belongs";
            return found;
        }
        if (level == kResourceLevels - 1 && subdirectory) {
            found.error =
                what + ": the resource tree goes deeper than " + std::to_string(kResourceLevels) + " levels";
            return found;
        }
        directory = *target & ~kHighBit;
    }
    const std::uint64_t data_entry = directory;
    if (!tree.Holds(data_entry, kDataEntrySize)) {
        found.error = what + ": data entry at " + Hex(data_entry) + " lies outside the resource data";
        return found;
    }
    const auto data = MapRva(*tree.U32(data_entry), *tree.U32(data_entry + 4), "data", found.error);
    if (!data) {
        found.error = what + ": " + found.error;
        return found;
    }
    found.bytes = data;
    return found;
}
