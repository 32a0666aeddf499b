// Throughput of the cross-cancel kernels on one 4096-byte block (the conversion's block),
// with the portable kernels (no AVX2 path) and a plain scalar evaluation of the rule
// (double and nearbyint) for comparison. Float kernels run on samples of music-like
// levels (random values in -1 .. 1), not on random bit patterns, whose denormals and NaNs
// would measure the processor's slow paths rather than the kernel.
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "app/Crosscancel.h"
#include "bench/BenchSupport.h"

namespace {

constexpr int32_t kBlock = 4096;

std::vector<uint8_t> NoiseBlock() { return orvelle::bench::noiseBlock(kBlock); }

template <typename T> std::vector<uint8_t> FloatBlock()
{
    std::vector<uint8_t> b(kBlock);
    std::mt19937 rng(7);
    std::uniform_real_distribution<T> level(-1, 1);
    for (size_t i = 0; i + sizeof(T) <= b.size(); i += sizeof(T)) {
        const T v = level(rng);
        std::memcpy(b.data() + i, &v, sizeof v);
    }
    return b;
}

// The rule as written, one sample at a time.
void ScalarReference16(uint8_t* buf, int32_t count, int32_t percent)
{
    for (int32_t i = 0; i + 4 <= count; i += 4) {
        int16_t a, b;
        std::memcpy(&a, buf + i, 2);
        std::memcpy(&b, buf + i + 2, 2);
        auto one = [percent](int32_t x, int32_t y) {
            const double v = std::nearbyint(x - static_cast<double>(y * percent) / 100.0);
            return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
        };
        const int16_t na = one(a, b), nb = one(b, a);
        std::memcpy(buf + i, &na, 2);
        std::memcpy(buf + i + 2, &nb, 2);
    }
}

template <void (*Kernel)(uint8_t*, int32_t, int32_t), std::vector<uint8_t> (*Make)() = NoiseBlock>
void BM_Kernel(benchmark::State& state)
{
    const std::vector<uint8_t> source = Make();
    std::vector<uint8_t> buf = source;
    const int32_t count = kBlock - kBlock % static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        // Fresh input each round, so that clamped values do not settle into a fixed point.
        std::memcpy(buf.data(), source.data(), kBlock);
        Kernel(buf.data(), count, 30);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * count);
}

} // namespace

BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancel8)->Arg(2)->Name("CrossCancel8");
BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancel8Portable)->Arg(2)->Name("CrossCancel8Portable");
BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancel16)->Arg(4)->Name("CrossCancel16");
BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancel16Portable)->Arg(4)->Name("CrossCancel16Portable");
BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancel24)->Arg(6)->Name("CrossCancel24");
BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancel32)->Arg(8)->Name("CrossCancel32");
BENCHMARK_TEMPLATE(BM_Kernel, ScalarReference16)->Arg(4)->Name("ScalarReference16");
BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancelFloat32, FloatBlock<float>)->Arg(8)->Name("CrossCancelFloat32");
BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancelFloat32Portable, FloatBlock<float>)
    ->Arg(8)
    ->Name("CrossCancelFloat32Portable");
BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancelFloat64, FloatBlock<double>)->Arg(16)->Name("CrossCancelFloat64");
BENCHMARK_TEMPLATE(BM_Kernel, orvelle::CrossCancelFloat64Portable, FloatBlock<double>)
    ->Arg(16)
    ->Name("CrossCancelFloat64Portable");

BENCHMARK_MAIN();
