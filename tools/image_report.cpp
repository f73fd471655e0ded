#include "tools/image_report.h"

#include <algorithm>
#include <cstdio>

#include "images/crc32.h"

SImageReport InspectImage(CArithmeticCompression& decoder, const IResourceSource& resources,
                          IAllocator& allocator, std::uint32_t id, SFirmwareImage& image) {
    SImageReport report;
    report.id = id;
    report.record = resources.FindRecord(id);
    const auto container = resources.Find(id);
    if (!container) {
        return report;
    }
    report.found = true;
    report.packed_size = container->size();
    image = LoadFirmwareImage(decoder, id, kInspectSlack, resources, allocator);
    if (image.Empty()) {
        return report;
    }
    report.loaded = true;
    report.stored_length = image.storedLength;
    report.unpacked_length = image.length;
    // A damaged stream may write past the stored length; those bytes are not image.
    CCrc32 crc;
    crc.Update(image.data.get(), std::min(image.length, image.storedLength));
    report.crc = crc.Value();
    report.matches = IsRecordedImage(image, report.crc, id, resources);
    return report;
}

std::string ReportHeading() {
    return "  id      packed    unpacked      crc-32    recorded   rec-crc-32  status\n";
}

std::string FormatReport(const SImageReport& report) {
    char line[160];
    if (!report.found) {
        std::snprintf(line, sizeof line, "%4u  not carried\n", static_cast<unsigned>(report.id));
        return line;
    }
    if (!report.loaded) {
        std::snprintf(line, sizeof line, "%4u  %10zu  cannot be unpacked (damaged container or no memory)\n",
                      static_cast<unsigned>(report.id), report.packed_size);
        return line;
    }
    char recorded[40] = "         -           -";
    if (report.record) {
        std::snprintf(recorded, sizeof recorded, "%10u  0x%08X", static_cast<unsigned>(report.record->length),
                      static_cast<unsigned>(report.record->crc));
    }
    const char* status = report.matches ? "ok" : (report.record ? "MISMATCH" : "NO RECORD");
    std::snprintf(line, sizeof line, "%4u  %10zu  %10u  0x%08X  %s  %s\n", static_cast<unsigned>(report.id),
                  report.packed_size, static_cast<unsigned>(report.unpacked_length),
                  static_cast<unsigned>(report.crc), recorded, status);
    return line;
}

SImageListing ListCarriedImages(CArithmeticCompression& decoder, const IResourceSource& resources,
                                IAllocator& allocator) {
    SImageListing listing;
    listing.table = ReportHeading();
    listing.all_match = true;
    for (const std::uint32_t id : kCarriedImageIds) {
        SFirmwareImage image;
        const SImageReport report = InspectImage(decoder, resources, allocator, id, image);
        listing.table += FormatReport(report);
        listing.all_match = listing.all_match && report.matches;
    }
    return listing;
}
