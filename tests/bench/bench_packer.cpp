// Packing speed of the LZARI packer on the application-sized vector; the goal is
// at least 10 MB/s. Run: bench_packer (from the release preset's build).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "tools/file_io.h"
#include "tools/firmware_gen.h"
#include "tools/lzari_packer.h"

namespace {

std::string VectorPath() {
    const char* shared = std::getenv("TESSEL_SHARED_DIR");
    return std::string(shared != nullptr ? shared : TESSEL_DEFAULT_SHARED_DIR) +
           "/lzari-vectors/08_binary_3198584.bin";
}

void BM_PackLzari_Binary3198584(benchmark::State& state) {
    const auto raw = ReadWholeFile(VectorPath());
    if (!raw) {
        state.SkipWithError(("cannot read " + VectorPath()).c_str());
        return;
    }
    for (auto _ : state) {
        auto packed = PackLzari(*raw);
        benchmark::DoNotOptimize(packed.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(raw->size()));
}

BENCHMARK(BM_PackLzari_Binary3198584)->Unit(benchmark::kMillisecond);

// The stand-in application image the build packs.
void BM_PackLzari_StandInApplication(benchmark::State& state) {
    const std::vector<std::uint8_t> raw = GenerateApplicationImage();
    for (auto _ : state) {
        auto packed = PackLzari(raw);
        benchmark::DoNotOptimize(packed.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(raw.size()));
}

BENCHMARK(BM_PackLzari_StandInApplication)->Unit(benchmark::kMillisecond);

}  // namespace
