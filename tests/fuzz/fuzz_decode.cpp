// libFuzzer target: the LZARI decoder on any stream and any length (see fuzz_checks.h).

#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string failure = tessel_fuzz::CheckDecode(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz_decode: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
