// image-inspect list [EXE]: the images this build carries, or those the built Windows
// program EXE carries, and whether each unpacks to the image this build recorded; with
// EXE also the product version of its version record.
// image-inspect unpack ID OUT [EXE]: writes the unpacked image ID (of this build, or of
// EXE) to OUT.
// The exit status is 0 only when every image looked at matches its record (and, with
// EXE, the file and its version record could be read).

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/executable_images.h"
#include "tools/file_io.h"
#include "tools/image_report.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: image-inspect list [EXE]\n"
                 "       image-inspect unpack ID OUT [EXE]\n");
    return 2;
}

void PrintErrors(const char* path, const std::vector<std::string>& errors) {
    for (const std::string& error : errors) {
        std::fprintf(stderr, "image-inspect: %s: %s\n", path, error.c_str());
    }
}

std::optional<std::vector<std::uint8_t>> ReadExecutable(const char* path) {
    auto file = ReadWholeFile(path);
    if (!file) {
        std::fprintf(stderr, "image-inspect: cannot read %s\n", path);
    }
    return file;
}

int ListOwn() {
    CArithmeticCompression decoder;
    const SImageListing listing = ListCarriedImages(decoder, BuiltInResources(), SystemAllocator());
    std::fputs(listing.table.c_str(), stdout);
    return listing.all_match ? 0 : 1;
}

int ListExecutableFile(const char* path) {
    const auto file = ReadExecutable(path);
    if (!file) {
        return 1;
    }
    CArithmeticCompression decoder;
    const SExecutableListing listing = ListExecutable(decoder, *file, BuiltInResources(), SystemAllocator());
    std::fputs(listing.table.c_str(), stdout);
    PrintErrors(path, listing.errors);
    return listing.ok ? 0 : 1;
}

int Unpack(const char* id_text, const char* out_path, const IResourceSource& resources) {
    char* end = nullptr;
    const unsigned long id = std::strtoul(id_text, &end, 10);
    if (end == id_text || *end != '\0' || id > 0xFFFFFFFFul) {
        return Usage();
    }
    CArithmeticCompression decoder;
    SFirmwareImage image;
    const SImageReport report =
        InspectImage(decoder, resources, SystemAllocator(), static_cast<std::uint32_t>(id), image);
    std::fputs(ReportHeading().c_str(), stdout);
    std::fputs(FormatReport(report).c_str(), stdout);
    if (!report.loaded) {
        return 1;
    }
    const std::size_t bytes = std::min(image.length, image.storedLength);
    if (!WriteWholeFile(out_path, std::span(image.data.get(), bytes))) {
        std::fprintf(stderr, "image-inspect: cannot write %s\n", out_path);
        return 1;
    }
    return report.matches ? 0 : 1;
}

int UnpackFromExecutable(const char* id_text, const char* out_path, const char* path) {
    const auto file = ReadExecutable(path);
    if (!file) {
        return 1;
    }
    std::string error;
    const auto images = CExecutableImages::Read(*file, BuiltInResources(), error);
    if (!images) {
        PrintErrors(path, {error});
        return 1;
    }
    // A damaged version record does not keep an image from being unpacked; a damaged
    // path to the image leaves it not found, and is named.
    PrintErrors(path, images->Problems());
    return Unpack(id_text, out_path, *images);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "list" && argc == 2) {
        return ListOwn();
    }
    if (command == "list" && argc == 3) {
        return ListExecutableFile(argv[2]);
    }
    if (command == "unpack" && argc == 4) {
        return Unpack(argv[2], argv[3], BuiltInResources());
    }
    if (command == "unpack" && argc == 5) {
        return UnpackFromExecutable(argv[2], argv[3], argv[4]);
    }
    return Usage();
}
