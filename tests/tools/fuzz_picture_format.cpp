// Any bytes given to `firmware-gen picture-ppm`: parsing must stay inside them, and an
// accepted picture converts to exactly one RGB triple per pixel.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/picture_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so a read past the end trips AddressSanitizer.
    const std::vector<std::uint8_t> bytes(data, data + size);
    const auto info = ParsePicture(bytes);
    if (!info) {
        return 0;
    }
    const auto ppm = PictureToPpm(bytes, *info);
    const std::string head =
        "P6\n" + std::to_string(info->width) + " " + std::to_string(info->height) + "\n255\n";
    if (ppm.size() != head.size() + 3ull * info->width * info->height) {
        std::abort();
    }
    return 0;
}
