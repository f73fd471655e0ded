#include <windows.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "app/version_record.h"

namespace {

using GetFileVersionInfoSizeAFunction = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetFileVersionInfoAFunction = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using VerQueryValueAFunction = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

template <typename Function>
Function Lookup(HMODULE module, const char* name) {
    const FARPROC found = GetProcAddress(module, name);
    return found == nullptr ? nullptr : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// version.dll is not one of the DLLs Windows always takes from its own folder, so a
// file of that name beside the program (a Downloads folder) would be loaded in its
// place. It is loaded here by its full path in the system folder instead of imported.
struct SVersionFunctions {
    GetFileVersionInfoSizeAFunction getSize = nullptr;
    GetFileVersionInfoAFunction getInfo = nullptr;
    VerQueryValueAFunction query = nullptr;

    SVersionFunctions() {
        char path[MAX_PATH] = {};
        const UINT length = GetSystemDirectoryA(path, MAX_PATH);
        const char name[] = "\\version.dll";
        if (length == 0 || length + sizeof(name) > MAX_PATH) {
            return;
        }
        std::memcpy(path + length, name, sizeof(name));
        const HMODULE module = LoadLibraryA(path);  // kept for the life of the process
        if (module == nullptr) {
            return;
        }
        getSize = Lookup<GetFileVersionInfoSizeAFunction>(module, "GetFileVersionInfoSizeA");
        getInfo = Lookup<GetFileVersionInfoAFunction>(module, "GetFileVersionInfoA");
        query = Lookup<VerQueryValueAFunction>(module, "VerQueryValueA");
    }

    bool Complete() const { return getSize != nullptr && getInfo != nullptr && query != nullptr; }
};

// The product version from the running executable's own version resource.
class CExecutableVersionRecord final : public IVersionRecord {
public:
    std::optional<SProductVersion> ReadProductVersion() override {
        static const SVersionFunctions version;
        if (!version.Complete()) {
            return std::nullopt;
        }
        char path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return std::nullopt;  // no path, or one cut short
        }
        DWORD ignored = 0;
        const DWORD size = version.getSize(path, &ignored);
        if (size == 0) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> record;
        try {
            record.resize(static_cast<std::size_t>(size) + 1);
        } catch (const std::bad_alloc&) {
            return std::nullopt;
        }
        if (!version.getInfo(path, 0, size, record.data())) {
            return std::nullopt;
        }
        void* fixedPart = nullptr;
        UINT fixedSize = 0;
        char root[] = "\\";
        if (!version.query(record.data(), root, &fixedPart, &fixedSize) || fixedPart == nullptr ||
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
