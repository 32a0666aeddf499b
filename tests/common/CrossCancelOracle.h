#pragma once
// The cross-cancel rule evaluated plainly, one sample at a time, as the tests' reference
// for the kernels and for whole converted files. In each pair of consecutive samples
// (a, b) the first becomes a - b * percent / 100 and the second b - a * percent / 100,
// both from the values as read.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orvelle::test {

// Integer samples: the product in 64 bits, the division and the subtraction in double,
// rounded half to even (nearbyint under the default rounding mode), clamped to lo .. hi.
inline int64_t crossCancelInteger(int64_t a, int64_t b, int32_t percent, int64_t lo, int64_t hi)
{
    const double x = std::nearbyint(static_cast<double>(a) - static_cast<double>(b * percent) / 100.0);
    if (x < static_cast<double>(lo))
        return lo;
    if (x > static_cast<double>(hi))
        return hi;
    return static_cast<int64_t>(x);
}

// IEEE float samples (float or double): the same expression in double, in that order,
// stored at the sample's own width (round to nearest even); no clamping, so results
// beyond the range are infinities and NaNs pass as the arithmetic gives them.
template <typename T> T crossCancelFloat(T a, T b, int32_t percent)
{
    return static_cast<T>(static_cast<double>(a) - static_cast<double>(b) * percent / 100.0);
}

// Signed little-endian integers of `bytes` bytes (1 to 8).
inline int64_t loadSignedLe(const uint8_t* p, int bytes)
{
    uint64_t v = 0;
    for (int k = 0; k < bytes; ++k)
        v |= static_cast<uint64_t>(p[k]) << (8 * k);
    const int shift = 64 - 8 * bytes;
    return static_cast<int64_t>(v << shift) >> shift;
}

inline void storeSignedLe(uint8_t* p, int bytes, int64_t v)
{
    for (int k = 0; k < bytes; ++k)
        p[k] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * k));
}

namespace oracle_detail {

// Floats are stored little-endian, as this host holds them.
template <typename T> void floatPair(uint8_t* p, int32_t percent)
{
    T a, b;
    std::memcpy(&a, p, sizeof a);
    std::memcpy(&b, p + sizeof a, sizeof b);
    const T x = crossCancelFloat(a, b, percent), y = crossCancelFloat(b, a, percent);
    std::memcpy(p, &x, sizeof x);
    std::memcpy(p + sizeof x, &y, sizeof y);
}

} // namespace oracle_detail

// Sample data after the rule: integers of 8 (unsigned, 128 as zero), 16, 24 or 32 bits,
// or (isFloat) floats of 32 or 64 bits, all little-endian. Bytes after the last whole
// pair stay as they are.
inline std::vector<uint8_t> crossCancelData(std::vector<uint8_t> d, int bits, bool isFloat, int32_t percent)
{
    const size_t w = static_cast<size_t>(bits / 8);
    for (size_t i = 0; i + 2 * w <= d.size(); i += 2 * w) {
        uint8_t* p = d.data() + i;
        if (isFloat && bits == 32) {
            oracle_detail::floatPair<float>(p, percent);
        } else if (isFloat) {
            oracle_detail::floatPair<double>(p, percent);
        } else if (bits == 8) {
            const int a = p[0] - 128, b = p[1] - 128;
            p[0] = static_cast<uint8_t>(crossCancelInteger(a, b, percent, -128, 127) + 128);
            p[1] = static_cast<uint8_t>(crossCancelInteger(b, a, percent, -128, 127) + 128);
        } else {
            const int64_t hi = (int64_t{1} << (bits - 1)) - 1;
            const int64_t a = loadSignedLe(p, bits / 8), b = loadSignedLe(p + w, bits / 8);
            storeSignedLe(p, bits / 8, crossCancelInteger(a, b, percent, -hi - 1, hi));
            storeSignedLe(p + w, bits / 8, crossCancelInteger(b, a, percent, -hi - 1, hi));
        }
    }
    return d;
}

} // namespace orvelle::test
