// image-inspect list: the images this build carries, and whether each unpacks to
// the image the build recorded.
// image-inspect unpack ID FILE: writes the unpacked image ID to FILE.
// The exit status is 0 only when every image looked at matches its record.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "tools/file_io.h"
#include "tools/image_report.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: image-inspect list\n"
                 "       image-inspect unpack ID FILE\n");
    return 2;
}

int List() {
    CArithmeticCompression decoder;
    bool all_match = true;
    std::fputs(ReportHeading().c_str(), stdout);
    for (const std::uint32_t id : kCarriedImageIds) {
        SFirmwareImage image;
        const SImageReport report = InspectImage(decoder, BuiltInResources(), SystemAllocator(), id, image);
        std::fputs(FormatReport(report).c_str(), stdout);
        all_match = all_match && report.matches;
    }
    return all_match ? 0 : 1;
}

int Unpack(const char* id_text, const char* path) {
    char* end = nullptr;
    const unsigned long id = std::strtoul(id_text, &end, 10);
    if (end == id_text || *end != '\0' || id > 0xFFFFFFFFul) {
        return Usage();
    }
    CArithmeticCompression decoder;
    SFirmwareImage image;
    const SImageReport report =
        InspectImage(decoder, BuiltInResources(), SystemAllocator(), static_cast<std::uint32_t>(id), image);
    std::fputs(ReportHeading().c_str(), stdout);
    std::fputs(FormatReport(report).c_str(), stdout);
    if (!report.loaded) {
        return 1;
    }
    const std::size_t bytes = std::min(image.length, image.storedLength);
    if (!WriteWholeFile(path, std::span(image.data.get(), bytes))) {
        std::fprintf(stderr, "image-inspect: cannot write %s\n", path);
        return 1;
    }
    return report.matches ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "list" && argc == 2) {
        return List();
    }
    if (command == "unpack" && argc == 4) {
        return Unpack(argv[2], argv[3]);
    }
    return Usage();
}
