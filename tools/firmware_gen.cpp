#include "tools/firmware_gen.h"

#include "tools/firmware_code.h"
#include "tools/firmware_text.h"
#include "tools/stand_in_random.h"

namespace {

// How one stand-in code image is laid out: a vector table, then modules of code,
// literal pools, strings and tables, each module aligned with erased-flash bytes,
// then an area of initial values for zeroed data, then erased flash to the end.
struct SCodeImageLayout {
    std::uint64_t seed;
    std::uint32_t base_address;
    std::uint32_t stack_top;
    std::uint32_t vectors;
    std::size_t size;
    std::size_t module_code_min;
    std::size_t module_code_max;
    std::size_t zero_area;
    std::size_t erased_tail;
};

void Align(std::vector<std::uint8_t>& image, std::size_t alignment, std::uint8_t fill) {
    while (image.size() % alignment != 0) {
        image.push_back(fill);
    }
}

std::vector<std::uint8_t> GenerateCodeImage(const SCodeImageLayout& layout) {
    std::vector<std::uint8_t> image;
    image.reserve(layout.size + 0x10000);
    CStandInRandom random(layout.seed);
    CCodeEmitter code(image, random, layout.base_address);
    code.EmitVectorTable(layout.vectors, layout.stack_top);
    Align(image, 256, 0xFF);
    const std::size_t content_end = layout.size - layout.zero_area - layout.erased_tail;
    while (image.size() < content_end) {
        code.EmitFunctions(random.Between(static_cast<std::uint32_t>(layout.module_code_min),
                                          static_cast<std::uint32_t>(layout.module_code_max)));
        code.EmitAddressTable(random.Between(8, 64));
        EmitStringTable(image, random, random.Between(512, 6144));
        if (random.Percent(30)) {
            EmitDataTables(image, random);
        }
        Align(image, 64, 0xFF);
    }
    image.resize(content_end, 0xFF);
    image.resize(content_end + layout.zero_area, 0x00);
    image.resize(layout.size, 0xFF);
    return image;
}

}  // namespace

std::vector<std::uint8_t> GenerateApplicationImage() {
    return GenerateCodeImage({.seed = 0x5EED0169,
                              .base_address = 0x00080000,
                              .stack_top = 0x20020000,
                              .vectors = 111,
                              .size = kApplicationImageSize,
                              .module_code_min = 8192,
                              .module_code_max = 65536,
                              .zero_area = 40960,
                              .erased_tail = 9000});
}

std::vector<std::uint8_t> GenerateBootImage() {
    return GenerateCodeImage({.seed = 0x5EED0170,
                              .base_address = 0x00000000,
                              .stack_top = 0x20008000,
                              .vectors = 47,
                              .size = kBootImageSize,
                              .module_code_min = 2048,
                              .module_code_max = 12288,
                              .zero_area = 2048,
                              .erased_tail = 1500});
}
