// Cross-cancel kernels. For |percent| <= 100 and samples of at most 24 bits the rule is
// computed exactly in 32-bit integers, in a form the compiler vectorises: with
// n = 100*a - b*percent, x = n / 100 rounded half to even is the floor division plus one
// when the remainder is above 50, or exactly 50 with an odd quotient. Adding K (a
// multiple of 200 larger than |n|) keeps n non-negative, so the division is an unsigned
// one by a constant, and it keeps the quotient's parity. Other strengths and 32-bit
// samples take the 64-bit path of CrossCancelSample.
//
// On processors with AVX2, 8- and 16-bit pairs at |percent| <= 100 are done eight at a
// time: one multiply-add per output forms n = 100*a - b*percent in 32-bit lanes, and
// n / 100 is taken in single precision as float(n) * float(0.01), rounded half to even by
// the conversion back. That is exact: |n| <= 6553600, so the quotient is at most 65536 and
// float(n) is exact; float(0.01) is off by a relative 2.3e-8, less than 2^-25, the smallest
// relative half-step of a float, so a quotient that is exactly k + 0.5 (representable)
// comes out exact and then goes to the even integer; any other quotient lies at least
// 0.01 from a half, and the product is off by at most 65536 * 2.3e-8 + 2^-8 < 0.006, so it
// rounds the same way. The argument needs round-to-nearest, so the vector path is taken
// only while the floating-point rounding mode is the default one.
#include "app/Crosscancel.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVELLE_HAVE_AVX2_PATH 1
#endif

namespace orvelle {

namespace {

constexpr int32_t kFastPercent = 100;

// The public kernels are built twice, for AVX2 and for the baseline, and the loader picks
// the one the processor runs; the helpers below are inlined into both.
#define ORVELLE_KERNEL __attribute__((target_clones("avx2", "default")))
#define ORVELLE_INLINE [[gnu::always_inline]] inline
constexpr int32_t kChunkSamples = 2048; // samples unpacked at a time (16 and 24 bit)

template <int32_t Lo, int32_t Hi> ORVELLE_INLINE int32_t CancelOne(int32_t a, int32_t b, int32_t percent)
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

#ifdef ORVELLE_HAVE_AVX2_PATH
// Sixteen samples (eight pairs) as int16 to sixteen results, saturated to int16.
__attribute__((target("avx2"))) inline __m256i CancelVector(__m256i v, __m256i first, __m256i second)
{
    const __m256 hundredth = _mm256_set1_ps(0.01f);
    const __m256i x1 = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_madd_epi16(v, first)), hundredth));
    const __m256i x2 = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_madd_epi16(v, second)), hundredth));
    // packs gives, per 128-bit lane, four first samples then four second ones; interleave them.
    const __m256i order = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, //
        0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    return _mm256_shuffle_epi8(_mm256_packs_epi32(x1, x2), order);
}

// Multiply-add weights for the first sample of a pair (100, -percent) and the second (-percent, 100).
__attribute__((target("avx2"))) inline __m256i Weights(int32_t own, int32_t other)
{
    return _mm256_set1_epi32(
        static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(other)) << 16 | static_cast<uint16_t>(own)));
}

// Whole groups of eight 4-byte frames; returns the bytes done. |percent| <= 100.
__attribute__((target("avx2"))) int32_t CrossCancel16Avx2(uint8_t* buf, int32_t count, int32_t percent)
{
    const __m256i first = Weights(100, -percent), second = Weights(-percent, 100);
    int32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i* p = reinterpret_cast<__m256i*>(buf + i);
        _mm256_storeu_si256(p, CancelVector(_mm256_loadu_si256(p), first, second));
    }
    return i;
}

// Whole groups of sixteen byte pairs; returns the bytes done. |percent| <= 100.
__attribute__((target("avx2"))) int32_t CrossCancel8Avx2(uint8_t* buf, int32_t count, int32_t percent)
{
    const __m256i first = Weights(100, -percent), second = Weights(-percent, 100);
    const __m256i bias16 = _mm256_set1_epi16(128);
    int32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        __m256i* p = reinterpret_cast<__m256i*>(buf + i);
        const __m256i v = _mm256_loadu_si256(p);
        const __m256i lo = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)), bias16);
        const __m256i hi = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)), bias16);
        // Results lie in -256 .. 256; plus 128, packus clamps to 0 .. 255.
        const __m256i xlo = _mm256_add_epi16(CancelVector(lo, first, second), bias16);
        const __m256i xhi = _mm256_add_epi16(CancelVector(hi, first, second), bias16);
        // packus works per 128-bit lane; the permute puts the four 8-byte runs back in order.
        _mm256_storeu_si256(p, _mm256_permute4x64_epi64(_mm256_packus_epi16(xlo, xhi), 0xD8));
    }
    return i;
}

constexpr unsigned kRoundingBits = 0x6000u; // MXCSR rounding control; 0 is round to nearest

// The vector path: AVX2 present, a strength of the fast range, round-to-nearest in force.
bool UseAvx2(int32_t percent)
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 && percent >= -kFastPercent && percent <= kFastPercent && (_mm_getcsr() & kRoundingBits) == 0;
}
#endif

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

ORVELLE_KERNEL void CrossCancel8Portable(uint8_t* buf, int32_t count, int32_t percent)
{
    if (count > 0)
        CancelPairs<uint8_t, 128, -128, 127>(buf, count / 2, percent);
}

ORVELLE_KERNEL void CrossCancel16Portable(uint8_t* buf, int32_t count, int32_t percent)
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

void CrossCancel8(uint8_t* buf, int32_t count, int32_t percent)
{
    int32_t done = 0;
#ifdef ORVELLE_HAVE_AVX2_PATH
    if (count > 0 && UseAvx2(percent))
        done = CrossCancel8Avx2(buf, count, percent);
#endif
    CrossCancel8Portable(buf + done, count - done, percent);
}

void CrossCancel16(uint8_t* buf, int32_t count, int32_t percent)
{
    int32_t done = 0;
#ifdef ORVELLE_HAVE_AVX2_PATH
    if (count > 0 && UseAvx2(percent))
        done = CrossCancel16Avx2(buf, count, percent);
#endif
    CrossCancel16Portable(buf + done, count - done, percent);
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
    case 8:
        CrossCancel8(buf, count, percent);
        return true;
    case 16:
        CrossCancel16(buf, count, percent);
        return true;
    case 24:
        CrossCancel24(buf, count, percent);
        return true;
    case 32:
        CrossCancel32(buf, count, percent);
        return true;
    default:
        return false;
    }
}

} // namespace orvelle
