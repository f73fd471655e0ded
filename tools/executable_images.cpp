#include "tools/executable_images.h"

#include "tools/image_report.h"
#include "tools/pe_resources.h"

std::optional<CExecutableImages> CExecutableImages::Read(std::span<const std::uint8_t> file,
                                                         const IResourceSource& records, std::string& error) {
    const auto pe = CPeResources::Open(file, error);
    if (!pe) {
        return std::nullopt;
    }
    CExecutableImages images(records);
    for (std::size_t i = 0; i < kCarriedImageIds.size(); ++i) {
        SPeResource found = pe->Find(kResourceTypeRcData, kCarriedImageIds[i]);
        images.m_images[i] = found.bytes;
        if (!found.error.empty()) {
            images.m_problems.push_back(std::move(found.error));
        }
    }
    SPeResource version = pe->Find(kResourceTypeVersion, kVersionRecordName);
    if (!version.error.empty()) {
        images.m_problems.push_back(std::move(version.error));
    } else if (!version.bytes) {
        images.m_problems.push_back("no version record (resource 16/1)");
    } else {
        std::string version_error;
        images.m_version = ReadProductVersion(*version.bytes, version_error);
        if (!images.m_version) {
            images.m_problems.push_back(std::move(version_error));
        }
    }
    return images;
}

std::optional<std::span<const std::uint8_t>> CExecutableImages::Find(std::uint32_t id) const {
    for (std::size_t i = 0; i < kCarriedImageIds.size(); ++i) {
        if (kCarriedImageIds[i] == id) {
            return m_images[i];
        }
    }
    return std::nullopt;
}

SExecutableListing ListExecutable(CArithmeticCompression& decoder, std::span<const std::uint8_t> file,
                                  const IResourceSource& records, IAllocator& allocator) {
    SExecutableListing listing;
    std::string error;
    const auto images = CExecutableImages::Read(file, records, error);
    if (!images) {
        listing.errors.push_back(std::move(error));
        return listing;
    }
    const SImageListing carried = ListCarriedImages(decoder, *images, allocator);
    listing.table = carried.table;
    listing.table += "product version " +
                     (images->Version() ? FormatProductVersion(*images->Version()) : "unknown") + "\n";
    listing.errors = images->Problems();
    listing.ok = carried.all_match && listing.errors.empty();
    return listing;
}
