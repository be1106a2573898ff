// The memory-copy time of one virtual-screen-sized 32-bit bitmap: the cost of a frame that copies
// every pixel, measured on this machine in the same run as the programs' rates.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void CopyWholeBitmap(benchmark::State &state)
{
    size_t pixels = static_cast<size_t>(state.range(0)) * static_cast<size_t>(state.range(1));
    std::vector<uint32_t> from(pixels, 0x00FF8000u), to(pixels);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), pixels * sizeof(uint32_t));
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(pixels * 4));
}

}  // namespace

BENCHMARK(CopyWholeBitmap)->Args({1024, 768})->Args({1920, 1080})->Args({3840, 2160})->Args({1824, 768});
BENCHMARK_MAIN();
