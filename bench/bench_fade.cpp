// Throughput of the volume fades on one 4096-byte block: a ramp, a unity stretch and a
// silent stretch, 8- and 16-bit, mono and stereo, beside memcpy of the same block. Ramps run
// at each vector width (16 lanes, 8, none) to show what the vector kernels save.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchSupport.h"
#include "pcm/Mmpcmfade.h"
#include "pcm/Mmpcmsup.h"

namespace {

using namespace orvelle;

constexpr int32_t kBlock = 4096;

// args: bits, channels, gain at the start, gain at the point (both channels, the right one
// ramping the other way for a ramp), widest vector kernel allowed (16, 8 or 0 lanes).
void BM_Fade(benchmark::State& state)
{
    const auto bits = static_cast<int32_t>(state.range(0));
    const auto channels = static_cast<int32_t>(state.range(1));
    const auto from = static_cast<int32_t>(state.range(2));
    const auto to = static_cast<int32_t>(state.range(3));
    pcmfade::limitVectorLanes(static_cast<int>(state.range(4)));
    TWaveFormatEx fmt{};
    pcmBuildWaveHeader(&fmt, bits, channels, 44100);
    TMMFadeList list;
    list.Add(TMMFadePoint{kBlock, 0, to, from, 0});
    std::vector<uint8_t> buf = bench::noiseBlock(kBlock);
    for (auto _ : state) {
        // The cost does not depend on the sample values, so the block is faded again and again.
        list.PlayState = {0, 0, from, to};
        benchmark::DoNotOptimize(pcmVolumeFade(&fmt, buf.data(), kBlock, &list));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
    pcmfade::limitVectorLanes(16);
}

void BM_Memcpy(benchmark::State& state)
{
    const std::vector<uint8_t> source = bench::noiseBlock(kBlock);
    std::vector<uint8_t> dest(kBlock);
    for (auto _ : state) {
        std::memcpy(dest.data(), source.data(), kBlock);
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBlock);
}

void shapes(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"bits", "ch", "from", "to", "lanes"});
    for (int bits : {8, 16})
        for (int ch : {1, 2}) {
            for (int lanes : {16, 8, 0}) {
                b->Args({bits, ch, 4096, 24576, lanes}); // ramp through unity, may clip
                b->Args({bits, ch, 16384, 0, lanes}); // fade out: cannot clip
            }
            b->Args({bits, ch, 16384, 16384, 16}); // unity
            b->Args({bits, ch, 0, 0, 16}); // silent
        }
    b->Args({16, 2, 70000, 100000, 16}); // ramp with gains only the scalar path takes
}

} // namespace

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Fade)->Apply(shapes);

BENCHMARK_MAIN();
