#pragma once
// Helpers shared by the benchmark programs.
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace orvelle::bench {

// `size` bytes of reproducible noise.
inline std::vector<uint8_t> noiseBlock(size_t size, uint32_t seed = 7)
{
    std::vector<uint8_t> b(size);
    std::mt19937 rng(seed);
    for (auto& x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

} // namespace orvelle::bench
