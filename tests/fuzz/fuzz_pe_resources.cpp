// libFuzzer target: the PE resource reader of image-inspect (tools/pe_resources.h) on
// any file, from an exact-size copy so that AddressSanitizer sees a read one byte past
// its end. It looks up what image-inspect looks up: the carried images and the
// version record, whose product version it then reads.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "tools/pe_resources.h"
#include "tools/version_resource.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_pe_resources: %s\n", what);
    std::abort();
}

void CheckFound(const SPeResource& found, std::span<const std::uint8_t> file) {
    if (found.bytes && !found.error.empty()) {
        Fail("bytes returned together with an error");
    }
    if (found.bytes && !found.bytes->empty() &&
        (found.bytes->data() < file.data() ||
         found.bytes->data() + found.bytes->size() > file.data() + file.size())) {
        Fail("resource bytes outside the file");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto copy = std::make_unique<std::uint8_t[]>(size);
    if (size > 0) {
        std::memcpy(copy.get(), data, size);
    }
    const std::span<const std::uint8_t> file(copy.get(), size);
    std::string error;
    const auto pe = CPeResources::Open(file, error);
    if (!pe) {
        if (error.empty()) {
            Fail("refused without a message");
        }
        return 0;
    }
    for (const std::uint32_t name : {169u, 170u, 171u}) {
        CheckFound(pe->Find(kResourceTypeRcData, name), file);
    }
    const SPeResource version = pe->Find(kResourceTypeVersion, kVersionRecordName);
    CheckFound(version, file);
    if (version.bytes) {
        std::string version_error;
        if (!ReadProductVersion(*version.bytes, version_error) && version_error.empty()) {
            Fail("version record refused without a message");
        }
    }
    return 0;
}
