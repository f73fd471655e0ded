#include <windows.h>

#include <cstdint>
#include <new>
#include <vector>

#include "app/version_record.h"

namespace {

// The product version from the running executable's own version resource.
class CExecutableVersionRecord final : public IVersionRecord {
public:
    std::optional<SProductVersion> ReadProductVersion() override {
        char path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return std::nullopt;  // no path, or one cut short
        }
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
        if (size == 0) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> record;
        try {
            record.resize(static_cast<std::size_t>(size) + 1);
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
        if (!GetFileVersionInfoA(path, 0, size, record.data())) {
            return std::nullopt;
        }
        void* fixedPart = nullptr;
        UINT fixedSize = 0;
        char root[] = "\\";
        if (!VerQueryValueA(record.data(), root, &fixedPart, &fixedSize) || fixedPart == nullptr ||
            fixedSize < sizeof(VS_FIXEDFILEINFO)) {
            return std::nullopt;
        }
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixedPart);
        return SProductVersion{{HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                                HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)}};
    }
};

}  // namespace

IVersionRecord& SystemVersionRecord() {
    static CExecutableVersionRecord record;
    return record;
}
