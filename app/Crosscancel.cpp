// Cross-cancel kernels. For |percent| <= 100 and samples of at most 24 bits the rule is
// computed exactly in 32-bit integers, in a form the compiler vectorises: with
// n = 100*a - b*percent, x = n / 100 rounded half to even is the floor division plus one
// when the remainder is above 50, or exactly 50 with an odd quotient. Adding K (a
// multiple of 200 larger than |n|) keeps n non-negative, so the division is an unsigned
// one by a constant, and it keeps the quotient's parity. Other strengths and 32-bit
// samples take the 64-bit path of CrossCancelSample.
#include "app/Crosscancel.h"

#include <cstring>

namespace orvelle {

namespace {

constexpr int32_t kFastPercent = 100;

// The public kernels are built twice, for AVX2 and for the baseline, and the loader picks
// the one the processor runs; the helpers below are inlined into both.
#define ORVELLE_KERNEL __attribute__((target_clones("avx2", "default")))
#define ORVELLE_INLINE [[gnu::always_inline]] inline
constexpr int32_t kChunkSamples = 2048; // samples unpacked at a time (16 and 24 bit)

template <int32_t Lo, int32_t Hi>
ORVELLE_INLINE int32_t CancelOne(int32_t a, int32_t b, int32_t percent)
{
    constexpr uint32_t K = 200u * static_cast<uint32_t>(Hi + 1);
    constexpr int32_t QK = 2 * (Hi + 1); // K / 100, even
    const uint32_t u = static_cast<uint32_t>(100 * a - b * percent) + K;
    const uint32_t q = u / 100u;
    const uint32_t r = u - q * 100u;
    const uint32_t up = static_cast<uint32_t>(r > 50u) | (static_cast<uint32_t>(r == 50u) & q);
    const int32_t x = static_cast<int32_t>(q) - QK + static_cast<int32_t>(up);
    return x < Lo ? Lo : (x > Hi ? Hi : x);
}

// Pairs of samples stored as T with a bias (128 for unsigned 8-bit); |percent| <= 100.
template <typename T, int32_t Bias, int32_t Lo, int32_t Hi>
ORVELLE_INLINE void CancelPairsFast(T* s, int32_t pairs, int32_t percent)
{
    for (int32_t k = 0; k < pairs; ++k) {
        const int32_t a = static_cast<int32_t>(s[2 * k]) - Bias;
        const int32_t b = static_cast<int32_t>(s[2 * k + 1]) - Bias;
        s[2 * k] = static_cast<T>(CancelOne<Lo, Hi>(a, b, percent) + Bias);
        s[2 * k + 1] = static_cast<T>(CancelOne<Lo, Hi>(b, a, percent) + Bias);
    }
}

template <typename T, int32_t Bias, int32_t Lo, int32_t Hi>
ORVELLE_INLINE void CancelPairsWide(T* s, int32_t pairs, int32_t percent)
{
    for (int32_t k = 0; k < pairs; ++k) {
        const int64_t a = static_cast<int64_t>(s[2 * k]) - Bias;
        const int64_t b = static_cast<int64_t>(s[2 * k + 1]) - Bias;
        s[2 * k] = static_cast<T>(CrossCancelSample(a, b, percent, Lo, Hi) + Bias);
        s[2 * k + 1] = static_cast<T>(CrossCancelSample(b, a, percent, Lo, Hi) + Bias);
    }
}

template <typename T, int32_t Bias, int32_t Lo, int32_t Hi>
ORVELLE_INLINE void CancelPairs(T* s, int32_t pairs, int32_t percent)
{
    if (percent >= -kFastPercent && percent <= kFastPercent)
        CancelPairsFast<T, Bias, Lo, Hi>(s, pairs, percent);
    else
        CancelPairsWide<T, Bias, Lo, Hi>(s, pairs, percent);
}

ORVELLE_INLINE int32_t Load24(const uint8_t* p)
{
    const uint32_t v = p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16;
    return static_cast<int32_t>(v << 8) >> 8;
}

ORVELLE_INLINE void Store24(uint8_t* p, int32_t v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
}

} // namespace

int64_t CrossCancelSample(int64_t a, int64_t b, int32_t percent, int64_t lo, int64_t hi)
{
    // |a|, |b| <= 2^31 and |percent| <= 2^31, so n stays below 2^63.
    const int64_t n = 100 * a - b * percent;
    int64_t q = n / 100;
    int64_t r = n % 100;
    if (r < 0) {
        r += 100;
        --q;
    }
    const int64_t x = q + ((r > 50 || (r == 50 && (q & 1) != 0)) ? 1 : 0);
    return x < lo ? lo : (x > hi ? hi : x);
}

ORVELLE_KERNEL void CrossCancel8(uint8_t* buf, int32_t count, int32_t percent)
{
    if (count > 0)
        CancelPairs<uint8_t, 128, -128, 127>(buf, count / 2, percent);
}

ORVELLE_KERNEL void CrossCancel16(uint8_t* buf, int32_t count, int32_t percent)
{
    // Samples are copied out and back, so the buffer needs no alignment.
    int16_t s[kChunkSamples];
    for (int32_t done = 0, pairs = count > 0 ? count / 4 : 0; done < pairs;) {
        const int32_t n = pairs - done < kChunkSamples / 2 ? pairs - done : kChunkSamples / 2;
        uint8_t* p = buf + static_cast<size_t>(done) * 4;
        std::memcpy(s, p, static_cast<size_t>(n) * 4);
        CancelPairs<int16_t, 0, -32768, 32767>(s, n, percent);
        std::memcpy(p, s, static_cast<size_t>(n) * 4);
        done += n;
    }
}

ORVELLE_KERNEL void CrossCancel24(uint8_t* buf, int32_t count, int32_t percent)
{
    int32_t s[kChunkSamples];
    for (int32_t done = 0, pairs = count > 0 ? count / 6 : 0; done < pairs;) {
        const int32_t n = pairs - done < kChunkSamples / 2 ? pairs - done : kChunkSamples / 2;
        uint8_t* p = buf + static_cast<size_t>(done) * 6;
        for (int32_t i = 0; i < 2 * n; ++i)
            s[i] = Load24(p + 3 * i);
        CancelPairs<int32_t, 0, -8388608, 8388607>(s, n, percent);
        for (int32_t i = 0; i < 2 * n; ++i)
            Store24(p + 3 * i, s[i]);
        done += n;
    }
}

ORVELLE_KERNEL void CrossCancel32(uint8_t* buf, int32_t count, int32_t percent)
{
    int32_t s[kChunkSamples];
    for (int32_t done = 0, pairs = count > 0 ? count / 8 : 0; done < pairs;) {
        const int32_t n = pairs - done < kChunkSamples / 2 ? pairs - done : kChunkSamples / 2;
        uint8_t* p = buf + static_cast<size_t>(done) * 8;
        std::memcpy(s, p, static_cast<size_t>(n) * 8);
        CancelPairsWide<int32_t, 0, INT32_MIN, INT32_MAX>(s, n, percent);
        std::memcpy(p, s, static_cast<size_t>(n) * 8);
        done += n;
    }
}

bool CrossCancelBlock(uint8_t* buf, int32_t count, int32_t bits, int32_t percent)
{
    switch (bits) {
    case 8: CrossCancel8(buf, count, percent); return true;
    case 16: CrossCancel16(buf, count, percent); return true;
    case 24: CrossCancel24(buf, count, percent); return true;
    case 32: CrossCancel32(buf, count, percent); return true;
    default: return false;
    }
}

} // namespace orvelle
