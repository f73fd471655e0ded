#include <cstdint>

#include "images/resource_source.h"
#include "images/resources/image_records.h"

// Start and size of each packed image, defined by the generated packed_images.S.
extern "C" {
extern const std::uint8_t tessel_packed_application[];
extern const std::uint32_t tessel_packed_application_size;
extern const std::uint8_t tessel_packed_boot[];
extern const std::uint32_t tessel_packed_boot_size;
extern const std::uint8_t tessel_packed_picture[];
extern const std::uint32_t tessel_packed_picture_size;
}

namespace {

class CBuiltInResources final : public IResourceSource {
public:
    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t id) const override {
        switch (id) {
            case IDR_APPLICATION_IMAGE:
                return std::span(tessel_packed_application, tessel_packed_application_size);
            case IDR_BOOT_IMAGE:
                return std::span(tessel_packed_boot, tessel_packed_boot_size);
            case IDR_PICTURE:
                return std::span(tessel_packed_picture, tessel_packed_picture_size);
            default:
                return std::nullopt;
        }
    }

    std::optional<SImageRecord> FindRecord(std::uint32_t id) const override { return BuiltInImageRecord(id); }
};

}  // namespace

const IResourceSource& BuiltInResources() {
    static const CBuiltInResources resources;
    return resources;
}
