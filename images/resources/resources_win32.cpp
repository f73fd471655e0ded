#include <windows.h>

#include <cstdint>

#include "images/resource_source.h"
#include "images/resources/image_records.h"

namespace {

// The packed images are RT_RCDATA resources of the program's own executable. Loaded
// resources stay mapped for the life of the process, so the spans stay valid.
class CExecutableResources final : public IResourceSource {
public:
    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t id) const override {
        HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
        if (found == nullptr) {
            return std::nullopt;
        }
        const DWORD size = SizeofResource(nullptr, found);
        HGLOBAL loaded = LoadResource(nullptr, found);
        if (loaded == nullptr) {
            return std::nullopt;
        }
        const void* bytes = LockResource(loaded);
        if (bytes == nullptr) {
            return std::nullopt;
        }
        return std::span(static_cast<const std::uint8_t*>(bytes), size);
    }

    std::optional<SImageRecord> FindRecord(std::uint32_t id) const override { return BuiltInImageRecord(id); }
};

}  // namespace

const IResourceSource& BuiltInResources() {
    static const CExecutableResources resources;
    return resources;
}
