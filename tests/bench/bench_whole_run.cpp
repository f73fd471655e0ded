// One complete simulated update with the images this build carries, next to the cost
// of unpacking both images and computing their CRCs, which is the floor of a run.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>

#include "images/arithmetic_compression.h"
#include "images/crc32.h"
#include "images/firmware_image.h"
#include "images/resource_source.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "update/recording_host.h"
#include "update/update_job.h"
#include "usb/recording_clock.h"

namespace {

void BM_DecodeAndCrcBothImages(benchmark::State& state) {
    CArithmeticCompression decoder;
    CCrc32 crc;
    for (auto _ : state) {
        for (std::uint32_t id : {IDR_BOOT_IMAGE, IDR_APPLICATION_IMAGE}) {
            const SFirmwareImage image =
                LoadFirmwareImage(decoder, id, 1024, BuiltInResources(), SystemAllocator());
            crc.Reset();
            crc.Update(image.data.get(), image.length);
            benchmark::DoNotOptimize(crc.Value());
        }
    }
}
BENCHMARK(BM_DecodeAndCrcBothImages)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_WholeSimulatedRun(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto writer =
            std::make_unique<CSimWriter>(SWriterIdentity{16, 0x02050000, 0, 14000, 0x01070000, 8000, 0, 0});
        CSimTransport transport(writer.get());
        transport.SetRecordBytes(false);
        CRecordingClock clock;
        CRecordingHost host;
        state.ResumeTiming();

        SJobEnvironment environment{transport, clock, &host, BuiltInResources(), SystemAllocator()};
        CUpdateJob(host, environment).Run();

        state.PauseTiming();
        if (!writer->Summary().restarted) {
            state.SkipWithError("the run did not complete");
        }
        writer.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WholeSimulatedRun)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    // The simulated writer builds a vector for every packet it takes and every reply it
    // gives. With glibc's defaults the freed pages go back to the system at once, and the
    // page faults of fetching them again, costly in a virtual machine, then outweigh
    // the run itself. Keeping freed memory in the process measures the work of the run;
    // both benchmarks run under the same setting.
    if (std::getenv("TESSEL_BENCH_DEFAULT_MALLOC") == nullptr) {
        mallopt(M_TRIM_THRESHOLD, 256 << 20);
        mallopt(M_MMAP_THRESHOLD, 256 << 20);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
