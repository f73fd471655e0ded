#include <windows.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/version_record.h"

namespace {

using VerQueryValueWFunction = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

constexpr WORD VERSION_RESOURCE_TYPE = 16;  // RT_VERSION

// version.dll is not one of the DLLs Windows always takes from its own folder, so a
// file of that name beside the program (a Downloads folder) would be loaded in its
// place. It is loaded here by its full path in the system folder instead of imported.
VerQueryValueWFunction LoadVerQueryValue() {
    const UINT size = GetSystemDirectoryW(nullptr, 0);
    if (size == 0) {
        return nullptr;
    }
    std::wstring path(size, L'\0');
    const UINT length = GetSystemDirectoryW(path.data(), size);
    if (length == 0 || length >= size) {
        return nullptr;
    }
    path.resize(length);
    path += L"\\version.dll";
    const HMODULE module = LoadLibraryW(path.c_str());  // kept for the life of the process
    if (module == nullptr) {
        return nullptr;
    }
    const FARPROC found = GetProcAddress(module, "VerQueryValueW");
    return found == nullptr ? nullptr
                            : reinterpret_cast<VerQueryValueWFunction>(reinterpret_cast<void (*)()>(found));
}

// The product version from the version resource of the running executable. It is read
// from the image already in memory rather than from the file by its name, so neither
// the characters nor the length of the folder the program was started from matter.
class CExecutableVersionRecord final : public IVersionRecord {
public:
    std::optional<SProductVersion> ReadProductVersion() override {
        static const VerQueryValueWFunction query = LoadVerQueryValue();
        if (query == nullptr) {
            return std::nullopt;
        }
        const HMODULE program = GetModuleHandleW(nullptr);
        const HRSRC found = FindResourceW(program, MAKEINTRESOURCEW(VS_VERSION_INFO),
                                          MAKEINTRESOURCEW(VERSION_RESOURCE_TYPE));
        const HGLOBAL loaded = found != nullptr ? LoadResource(program, found) : nullptr;
        const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
        const DWORD size = found != nullptr ? SizeofResource(program, found) : 0;
        if (bytes == nullptr || size == 0) {
            return std::nullopt;
        }
        // The query is meant for a record read from the file, which it may write to; the
        // resource lies in read-only memory, so it gets a copy.
        std::vector<std::uint8_t> record;
        try {
            record.assign(static_cast<const std::uint8_t*>(bytes),
                          static_cast<const std::uint8_t*>(bytes) + size);
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
        void* fixedPart = nullptr;
        UINT fixedSize = 0;
        if (!query(record.data(), L"\\", &fixedPart, &fixedSize) || fixedPart == nullptr ||
            fixedSize < sizeof(VS_FIXEDFILEINFO)) {
            return std::nullopt;
        }
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixedPart);
        if (fixed->dwSignature != VS_FFI_SIGNATURE) {
            return std::nullopt;
        }
        return SProductVersion{{HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                                HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)}};
    }
};

}  // namespace

IVersionRecord& SystemVersionRecord() {
    static CExecutableVersionRecord record;
    return record;
}
