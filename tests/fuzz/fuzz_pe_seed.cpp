// fuzz_pe_seed DIR: writes valid synthetic programs (PE32+ and PE32, with the carried
// images and a version record) into DIR as the seed corpus of fuzz_pe_resources, so
// that the fuzzer starts deep in the resource tree rather than at the DOS header.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/tools/synthetic_pe.h"

namespace {

bool WriteSeed(const std::string& path, EPeFormat format) {
    std::vector<SSyntheticResource> resources;
    for (const std::uint32_t id : {169u, 170u, 171u}) {
        resources.push_back(
            {10, id, 0x0409, std::vector<std::uint8_t>(id - 160, static_cast<std::uint8_t>(id))});
    }
    resources.push_back({16, 1, 0x0409, BuildVersionRecord({2, 14186, 0, 0})});
    const auto bytes = BuildSyntheticPe(resources, format).bytes;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_pe_seed DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    if (!WriteSeed(dir + "/pe32plus.exe", EPeFormat::kPe32Plus) ||
        !WriteSeed(dir + "/pe32.exe", EPeFormat::kPe32)) {
        std::fprintf(stderr, "fuzz_pe_seed: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
