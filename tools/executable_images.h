#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "images/arithmetic_compression.h"
#include "images/byte_buffer.h"
#include "images/resource_source.h"
#include "tools/version_resource.h"

// The carried images and the version record of a built executable, served through
// the resource seam so that image-inspect reports on them as on its own. The records
// come from elsewhere (this build's): an image of the file matches only when it is
// the one this build packed.
class CExecutableImages final : public IResourceSource {
public:
    // Looks up resources 169-171 and the version record of `file`, which must outlive
    // the result. Nothing, with `error` set, when the file's headers cannot be read.
    static std::optional<CExecutableImages> Read(std::span<const std::uint8_t> file,
                                                 const IResourceSource& records, std::string& error);

    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t id) const override;
    std::optional<SImageRecord> FindRecord(std::uint32_t id) const override {
        return m_records->FindRecord(id);
    }

    // One text per resource the file lists along a damaged path, or whose version
    // record cannot be read.
    const std::vector<std::string>& Problems() const { return m_problems; }
    // Nothing when the file has no readable version record.
    const std::optional<ProductVersion>& Version() const { return m_version; }

private:
    explicit CExecutableImages(const IResourceSource& records) : m_records(&records) {}

    const IResourceSource* m_records;
    std::array<std::optional<std::span<const std::uint8_t>>, 3> m_images;  // in kCarriedImageIds order
    std::optional<ProductVersion> m_version;
    std::vector<std::string> m_problems;
};

struct SExecutableListing {
    std::string table;  // the report lines of the images, then the product version
    std::vector<std::string> errors;
    bool ok = false;  // every image is this build's, and the version record was read
};

// What `image-inspect list FILE` prints and whether it succeeds.
SExecutableListing ListExecutable(CArithmeticCompression& decoder, std::span<const std::uint8_t> file,
                                  const IResourceSource& records, IAllocator& allocator);
