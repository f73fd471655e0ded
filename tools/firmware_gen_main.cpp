// firmware-gen application|boot|picture OUT: writes one stand-in image.
// firmware-gen picture-ppm PICTURE OUT.ppm: converts a picture for viewing.

#include <cstdio>
#include <string_view>

#include "tools/file_io.h"
#include "tools/firmware_gen.h"
#include "tools/picture_format.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: firmware-gen application|boot|picture OUT\n"
                 "       firmware-gen picture-ppm PICTURE OUT.ppm\n");
    return 2;
}

int Write(const char* path, const std::vector<std::uint8_t>& bytes) {
    if (!WriteWholeFile(path, bytes)) {
        std::fprintf(stderr, "firmware-gen: cannot write %s\n", path);
        return 1;
    }
    return 0;
}

int ConvertToPpm(const char* in, const char* out) {
    const auto bytes = ReadWholeFile(in);
    if (!bytes) {
        std::fprintf(stderr, "firmware-gen: cannot read %s\n", in);
        return 1;
    }
    const auto info = ParsePicture(*bytes);
    if (!info) {
        std::fprintf(stderr, "firmware-gen: %s is not a picture of the stand-in format\n", in);
        return 1;
    }
    return Write(out, PictureToPpm(*bytes, *info));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string_view what = argv[1];
    if (what == "picture-ppm") {
        return argc == 4 ? ConvertToPpm(argv[2], argv[3]) : Usage();
    }
    if (argc != 3) {
        return Usage();
    }
    if (what == "application") {
        return Write(argv[2], GenerateApplicationImage());
    }
    if (what == "boot") {
        return Write(argv[2], GenerateBootImage());
    }
    if (what == "picture") {
        return Write(argv[2], GeneratePicture());
    }
    return Usage();
}
