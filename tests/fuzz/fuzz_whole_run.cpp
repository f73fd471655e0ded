// libFuzzer target: a whole update run in which the input plays the writer, reply by
// reply (the script layout and the checks are in tests/fault/hostile_run.h).

#include <cstdio>
#include <cstdlib>

#include "tests/fault/hostile_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string failure = hostile_run::CheckWholeRun(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz_whole_run: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
