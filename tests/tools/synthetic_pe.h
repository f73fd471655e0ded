#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

// A small, valid Windows executable with chosen resources, built byte by byte so that
// the PE reader's tests need no cross compiler, and with the place of every part
// recorded so that a test can damage exactly one of them.

struct SSyntheticResource {
    std::uint32_t type;
    std::uint32_t name;
    std::uint16_t language;
    std::vector<std::uint8_t> bytes;
};

// File offsets (and, for directories, offsets within the resource directory) of one
// resource's path through the tree.
struct SResourcePlaces {
    std::size_t type_entry;           // the root's 8-byte entry for its type
    std::size_t name_entry;           // the type directory's entry for its name
    std::size_t language_entry;       // the name directory's entry for its language
    std::size_t data_entry;           // its 16-byte data entry (RVA, size, code page, reserved)
    std::size_t data;                 // its first byte
    std::uint32_t type_directory;     // the directory its type entry points at
    std::uint32_t name_directory;     // the directory its name entry points at
    std::uint32_t data_entry_offset;  // its data entry, within the resource directory
};

struct SSyntheticPe {
    std::vector<std::uint8_t> bytes;
    std::size_t pe_header;  // "PE\0\0", followed by the COFF header
    std::size_t optional_header;
    std::size_t resource_data_directory;  // the optional header's (RVA, size) of the resources
    std::size_t section_table;
    std::size_t resource_section_header;  // the 40-byte header of .rsrc
    std::size_t resource_directory;       // the root directory
    std::uint32_t resource_rva;
    std::uint32_t tree_size;                 // bytes of the directories and data entries, before the data
    std::vector<SResourcePlaces> resources;  // in the order given
};

enum class EPeFormat { kPe32Plus, kPe32 };

// Failure messages name the format rather than show its bytes.
inline void PrintTo(EPeFormat format, std::ostream* out) {
    *out << (format == EPeFormat::kPe32Plus ? "Pe32Plus" : "Pe32");
}

// Two sections: .text, then .rsrc at a virtual address whose distance from its file
// offset differs from .text's, so a wrong RVA mapping shows. The resources are listed
// in ascending type and name order, as resource compilers write them; the file ends
// with the last resource's data.
SSyntheticPe BuildSyntheticPe(const std::vector<SSyntheticResource>& resources, EPeFormat format);

// A version record (VS_VERSIONINFO with VS_FIXEDFILEINFO) of `product_version`.
std::vector<std::uint8_t> BuildVersionRecord(const std::array<std::uint16_t, 4>& product_version);

void Put16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value);
void Put32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);
