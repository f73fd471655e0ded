#include "tests/tools/synthetic_pe.h"

#include <algorithm>
#include <map>
#include <string_view>

namespace {

constexpr std::size_t kPeHeader = 0x40;
constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kTextRva = 0x1000;
constexpr std::uint32_t kTextFileOffset = 0x200;
constexpr std::uint32_t kTextSize = 0x200;
constexpr std::uint32_t kResourceRva = 0x3000;
constexpr std::uint32_t kResourceFileOffset = kTextFileOffset + kTextSize;
constexpr std::uint32_t kSubdirectory = 0x80000000u;

std::size_t AlignUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void PutSection(std::vector<std::uint8_t>& bytes, std::size_t header, std::string_view name,
                std::uint32_t rva, std::uint32_t size, std::uint32_t file_offset,
                std::uint32_t characteristics) {
    std::copy(name.begin(), name.end(), bytes.begin() + static_cast<std::ptrdiff_t>(header));
    Put32(bytes, header + 8, size);  // virtual size
    Put32(bytes, header + 12, rva);
    Put32(bytes, header + 16, size);  // raw size
    Put32(bytes, header + 20, file_offset);
    Put32(bytes, header + 36, characteristics);
}

}  // namespace

void Put16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
    Put16(bytes, offset, static_cast<std::uint16_t>(value));
    Put16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

SSyntheticPe BuildSyntheticPe(const std::vector<SSyntheticResource>& resources, EPeFormat format) {
    // type -> name -> index into `resources`
    std::map<std::uint32_t, std::map<std::uint32_t, std::size_t>> tree;
    for (std::size_t i = 0; i < resources.size(); ++i) {
        tree[resources[i].type][resources[i].name] = i;
    }

    SSyntheticPe pe;
    pe.resources.assign(resources.size(), SResourcePlaces{});
    pe.resource_rva = kResourceRva;
    const bool plus = format == EPeFormat::kPe32Plus;
    const std::uint16_t optional_size = plus ? 240 : 224;
    pe.pe_header = kPeHeader;
    pe.optional_header = kPeHeader + 4 + 20;
    pe.resource_data_directory = pe.optional_header + (plus ? 112 : 96) + 2 * 8;
    pe.section_table = pe.optional_header + optional_size;
    pe.resource_section_header = pe.section_table + 40;
    pe.resource_directory = kResourceFileOffset;

    // Directory offsets: root, the type directories, the name directories, then the
    // data entries, then the data.
    std::size_t at = 16 + 8 * tree.size();
    std::map<std::uint32_t, std::uint32_t> type_directory;
    for (const auto& [type, names] : tree) {
        type_directory[type] = static_cast<std::uint32_t>(at);
        at += 16 + 8 * names.size();
    }
    for (const auto& [type, names] : tree) {
        for (const auto& [name, index] : names) {
            pe.resources[index].name_directory = static_cast<std::uint32_t>(at);
            at += 16 + 8;
        }
    }
    for (const auto& [type, names] : tree) {
        for (const auto& [name, index] : names) {
            pe.resources[index].data_entry_offset = static_cast<std::uint32_t>(at);
            at += 16;
        }
    }
    pe.tree_size = static_cast<std::uint32_t>(at);
    std::vector<std::size_t> data_offset(resources.size());
    for (const auto& [type, names] : tree) {
        for (const auto& [name, index] : names) {
            at = AlignUp(at, 8);
            data_offset[index] = at;
            at += resources[index].bytes.size();
        }
    }
    const auto resource_size = static_cast<std::uint32_t>(at);

    std::vector<std::uint8_t>& bytes = pe.bytes;
    bytes.assign(kResourceFileOffset + resource_size, 0);

    // DOS header, PE signature, COFF header.
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Put32(bytes, 0x3C, kPeHeader);
    bytes[kPeHeader] = 'P';
    bytes[kPeHeader + 1] = 'E';
    const std::size_t coff = kPeHeader + 4;
    Put16(bytes, coff, plus ? 0x8664 : 0x014C);
    Put16(bytes, coff + 2, 2);
    Put16(bytes, coff + 16, optional_size);
    Put16(bytes, coff + 18, plus ? 0x0022 : 0x0102);

    // Optional header: what a loader would want, though the reader needs only the
    // magic, the directory count and the resource directory.
    const std::size_t opt = pe.optional_header;
    Put16(bytes, opt, plus ? 0x020B : 0x010B);
    Put32(bytes, opt + 4, kTextSize);
    Put32(bytes, opt + 16, kTextRva);
    Put32(bytes, opt + 20, kTextRva);
    if (plus) {
        Put32(bytes, opt + 24, 0x40000000);
        Put32(bytes, opt + 28, 0x1);
    } else {
        Put32(bytes, opt + 28, 0x400000);
    }
    Put32(bytes, opt + 32, 0x1000);
    Put32(bytes, opt + 36, kFileAlignment);
    Put16(bytes, opt + 40, 6);
    Put16(bytes, opt + 48, 6);
    Put32(bytes, opt + 56, static_cast<std::uint32_t>(AlignUp(kResourceRva + resource_size, 0x1000)));
    Put32(bytes, opt + 60, kTextFileOffset);
    Put16(bytes, opt + 68, 2);  // Windows GUI
    Put32(bytes, opt + (plus ? 108 : 92), 16);
    Put32(bytes, pe.resource_data_directory, kResourceRva);
    Put32(bytes, pe.resource_data_directory + 4, resource_size);

    PutSection(bytes, pe.section_table, ".text", kTextRva, kTextSize, kTextFileOffset, 0x60000020);
    PutSection(bytes, pe.resource_section_header, ".rsrc", kResourceRva, resource_size, kResourceFileOffset,
               0x40000040);
    std::fill_n(bytes.begin() + kTextFileOffset, kTextSize, 0xCC);

    // The resource tree.
    const std::size_t root = kResourceFileOffset;
    Put16(bytes, root + 14, static_cast<std::uint16_t>(tree.size()));
    std::size_t type_entry = root + 16;
    for (const auto& [type, names] : tree) {
        const std::size_t directory = root + type_directory[type];
        Put32(bytes, type_entry, type);
        Put32(bytes, type_entry + 4, kSubdirectory | type_directory[type]);
        Put16(bytes, directory + 14, static_cast<std::uint16_t>(names.size()));
        std::size_t name_entry = directory + 16;
        for (const auto& [name, index] : names) {
            SResourcePlaces& places = pe.resources[index];
            const SSyntheticResource& resource = resources[index];
            places.type_entry = type_entry;
            places.type_directory = type_directory[type];
            places.name_entry = name_entry;
            Put32(bytes, name_entry, name);
            Put32(bytes, name_entry + 4, kSubdirectory | places.name_directory);

            const std::size_t language_directory = root + places.name_directory;
            Put16(bytes, language_directory + 14, 1);
            places.language_entry = language_directory + 16;
            Put32(bytes, places.language_entry, resource.language);
            Put32(bytes, places.language_entry + 4, places.data_entry_offset);

            places.data_entry = root + places.data_entry_offset;
            places.data = root + data_offset[index];
            Put32(bytes, places.data_entry, kResourceRva + static_cast<std::uint32_t>(data_offset[index]));
            Put32(bytes, places.data_entry + 4, static_cast<std::uint32_t>(resource.bytes.size()));
            Put32(bytes, places.data_entry + 8, 1252);
            std::copy(resource.bytes.begin(), resource.bytes.end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(places.data));
            name_entry += 8;
        }
        type_entry += 8;
    }
    return pe;
}

std::vector<std::uint8_t> BuildVersionRecord(const std::array<std::uint16_t, 4>& product_version) {
    constexpr std::string_view kKey = "VS_VERSION_INFO";
    constexpr std::size_t kValue = 40;  // 6 header bytes + 32 key bytes, then aligned
    constexpr std::size_t kFixedInfoSize = 52;
    std::vector<std::uint8_t> record(kValue + kFixedInfoSize, 0);
    Put16(record, 0, static_cast<std::uint16_t>(record.size()));
    Put16(record, 2, kFixedInfoSize);
    for (std::size_t i = 0; i < kKey.size(); ++i) {
        Put16(record, 6 + 2 * i, static_cast<std::uint8_t>(kKey[i]));
    }
    const std::uint32_t most = (std::uint32_t{product_version[0]} << 16) | product_version[1];
    const std::uint32_t least = (std::uint32_t{product_version[2]} << 16) | product_version[3];
    Put32(record, kValue, 0xFEEF04BDu);
    Put32(record, kValue + 4, 0x00010000u);
    Put32(record, kValue + 8, most);  // file version, the same
    Put32(record, kValue + 12, least);
    Put32(record, kValue + 16, most);
    Put32(record, kValue + 20, least);
    Put32(record, kValue + 32, 0x4);  // FILEOS: 32-bit Windows
    Put32(record, kValue + 36, 0x1);  // FILETYPE: application
    return record;
}
