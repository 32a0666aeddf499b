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
//
// Float samples are widened to double, where x = own - other * percent / 100 is formed
// in the rule's order; the AVX2 path does four of them at once with the same operations
// (a multiply, a division, a subtraction, all correctly rounded), so it gives the scalar
// results bit for bit in every rounding mode, NaNs included.
#include "app/Crosscancel.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "util/LittleEndian.h"

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

// A signed 24-bit sample: the top byte of the 32-bit word carries the sign.
ORVELLE_INLINE int32_t Load24(const uint8_t* p) { return static_cast<int32_t>(loadLe24(p) << 8) >> 8; }

ORVELLE_INLINE void Store24(uint8_t* p, int32_t v) { storeLe24(p, static_cast<uint32_t>(v)); }

// Float pairs, widened to double; the expression is the rule's, in its order.
template <typename T> ORVELLE_INLINE void CancelFloatPairs(T* s, int32_t pairs, int32_t percent)
{
    const double p = percent;
    for (int32_t k = 0; k < pairs; ++k) {
        const double a = s[2 * k], b = s[2 * k + 1];
        s[2 * k] = static_cast<T>(a - b * p / 100.0);
        s[2 * k + 1] = static_cast<T>(b - a * p / 100.0);
    }
}

// Samples are copied out and back, so the buffer needs no alignment.
template <typename T> ORVELLE_INLINE void CancelFloatBuffer(uint8_t* buf, int32_t count, int32_t percent)
{
    static_assert(std::numeric_limits<T>::is_iec559, "float samples are IEEE 754 values");
    T s[kChunkSamples];
    constexpr int32_t pairBytes = 2 * sizeof(T);
    for (int32_t done = 0, pairs = count > 0 ? count / pairBytes : 0; done < pairs;) {
        const int32_t n = pairs - done < kChunkSamples / 2 ? pairs - done : kChunkSamples / 2;
        uint8_t* p = buf + static_cast<size_t>(done) * pairBytes;
        std::memcpy(s, p, static_cast<size_t>(n) * pairBytes);
        CancelFloatPairs(s, n, percent);
        std::memcpy(p, s, static_cast<size_t>(n) * pairBytes);
        done += n;
    }
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

// Four doubles holding two pairs: each lane becomes own - other * percent / 100.
__attribute__((target("avx2"))) inline __m256d CancelDoubles(__m256d v, __m256d percent)
{
    const __m256d other = _mm256_permute_pd(v, 0x5); // swaps the two lanes of each pair
    return _mm256_sub_pd(v, _mm256_div_pd(_mm256_mul_pd(other, percent), _mm256_set1_pd(100.0)));
}

// Whole groups of four float pairs; returns the bytes done.
__attribute__((target("avx2"))) int32_t CrossCancelFloat32Avx2(uint8_t* buf, int32_t count, int32_t percent)
{
    const __m256d p = _mm256_set1_pd(percent);
    int32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        float* f = reinterpret_cast<float*>(buf + i);
        const __m256 v = _mm256_loadu_ps(f);
        const __m128 lo = _mm256_cvtpd_ps(CancelDoubles(_mm256_cvtps_pd(_mm256_castps256_ps128(v)), p));
        const __m128 hi = _mm256_cvtpd_ps(CancelDoubles(_mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)), p));
        _mm256_storeu_ps(f, _mm256_set_m128(hi, lo));
    }
    return i;
}

// Whole groups of two double pairs; returns the bytes done.
__attribute__((target("avx2"))) int32_t CrossCancelFloat64Avx2(uint8_t* buf, int32_t count, int32_t percent)
{
    const __m256d p = _mm256_set1_pd(percent);
    int32_t i = 0;
    for (; i + 32 <= count; i += 32) {
        double* d = reinterpret_cast<double*>(buf + i);
        _mm256_storeu_pd(d, CancelDoubles(_mm256_loadu_pd(d), p));
    }
    return i;
}

bool HaveAvx2()
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}

constexpr unsigned kRoundingBits = 0x6000u; // MXCSR rounding control; 0 is round to nearest

// The vector path: AVX2 present, a strength of the fast range, round-to-nearest in force.
bool UseAvx2(int32_t percent)
{
    return HaveAvx2() && percent >= -kFastPercent && percent <= kFastPercent && (_mm_getcsr() & kRoundingBits) == 0;
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

namespace {

using Kernel = void (*)(uint8_t*, int32_t, int32_t);
using VectorPart = int32_t (*)(uint8_t*, int32_t, int32_t);

// The vector part, when there is one, takes the leading whole vectors and reports the
// bytes it did; the portable kernel takes the rest.
void runSplit(uint8_t* buf, int32_t count, int32_t percent, VectorPart vector, Kernel portable)
{
    const int32_t done = count > 0 && vector != nullptr ? vector(buf, count, percent) : 0;
    portable(buf + done, count - done, percent);
}

} // namespace

#ifdef ORVELLE_HAVE_AVX2_PATH
#define ORVELLE_VECTOR_PART(usable, part) ((usable) ? (part) : nullptr)
#else
#define ORVELLE_VECTOR_PART(usable, part) nullptr
#endif

void CrossCancel8(uint8_t* buf, int32_t count, int32_t percent)
{
    runSplit(buf, count, percent, ORVELLE_VECTOR_PART(UseAvx2(percent), CrossCancel8Avx2), CrossCancel8Portable);
}

void CrossCancel16(uint8_t* buf, int32_t count, int32_t percent)
{
    runSplit(buf, count, percent, ORVELLE_VECTOR_PART(UseAvx2(percent), CrossCancel16Avx2), CrossCancel16Portable);
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

ORVELLE_KERNEL void CrossCancelFloat32Portable(uint8_t* buf, int32_t count, int32_t percent)
{
    CancelFloatBuffer<float>(buf, count, percent);
}

ORVELLE_KERNEL void CrossCancelFloat64Portable(uint8_t* buf, int32_t count, int32_t percent)
{
    CancelFloatBuffer<double>(buf, count, percent);
}

void CrossCancelFloat32(uint8_t* buf, int32_t count, int32_t percent)
{
    runSplit(buf, count, percent, ORVELLE_VECTOR_PART(HaveAvx2(), CrossCancelFloat32Avx2), CrossCancelFloat32Portable);
}

void CrossCancelFloat64(uint8_t* buf, int32_t count, int32_t percent)
{
    runSplit(buf, count, percent, ORVELLE_VECTOR_PART(HaveAvx2(), CrossCancelFloat64Avx2), CrossCancelFloat64Portable);
}

namespace {

// The kernel of a layout the conversion takes, or null.
Kernel KernelFor(SampleLayout layout)
{
    if (layout.encoding == SampleEncoding::Float)
        return layout.bits == 32 ? CrossCancelFloat32 : (layout.bits == 64 ? CrossCancelFloat64 : nullptr);
    switch (layout.bits) {
    case 8:
        return CrossCancel8;
    case 16:
        return CrossCancel16;
    case 24:
        return CrossCancel24;
    case 32:
        return CrossCancel32;
    default:
        return nullptr;
    }
}

std::string hex16(uint16_t v)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(v));
    return text;
}

} // namespace

std::string guidText(const std::array<uint8_t, 16>& guid)
{
    const uint8_t* g = guid.data();
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
        static_cast<unsigned>(loadLe32(g)), static_cast<unsigned>(loadLe16(g + 4)),
        static_cast<unsigned>(loadLe16(g + 6)), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text;
}

std::optional<SampleLayout> crossCancelLayout(const TWaveFormatEx* format, int32_t formatBytes)
{
    if (format == nullptr || formatBytes < static_cast<int32_t>(sizeof(TWaveFormatEx)))
        return std::nullopt;
    uint16_t tag = format->wFormatTag;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        ExtensibleInfo e;
        // An extensible record naming itself extensible again describes nothing.
        if (!readExtensible(format, formatBytes, e) || !e.knownSubFormat || e.subFormatTag == WAVE_FORMAT_EXTENSIBLE)
            return std::nullopt;
        tag = e.subFormatTag;
    }
    if (tag == WAVE_FORMAT_PCM)
        return SampleLayout{SampleEncoding::Integer, format->wBitsPerSample};
    if (tag == WAVE_FORMAT_IEEE_FLOAT)
        return SampleLayout{SampleEncoding::Float, format->wBitsPerSample};
    return std::nullopt;
}

bool crossCancelTakes(SampleLayout layout) { return KernelFor(layout) != nullptr; }

std::string unsupportedLayoutMessage(SampleLayout layout)
{
    if (layout.encoding == SampleEncoding::Float)
        return "Unable to convert " + std::to_string(layout.bits) +
            "-bit float samples: only 32 and 64 bits are supported";
    return "Unable to convert " + std::to_string(layout.bits) +
        "-bit samples: only 8, 16, 24 and 32 bits are supported";
}

std::string notConvertedReason(uint16_t formatTag, const std::optional<ExtensibleInfo>& extensible)
{
    std::string reason = "not PCM (format tag " + hex16(formatTag);
    if (formatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (!extensible)
            reason += ", no sub-format";
        else if (extensible->knownSubFormat)
            reason += ", sub-format " + hex16(extensible->subFormatTag);
        else
            reason += ", sub-format " + guidText(extensible->subFormat);
    }
    return reason + ")";
}

bool CrossCancelBlock(uint8_t* buf, int32_t count, SampleLayout layout, int32_t percent)
{
    const Kernel kernel = KernelFor(layout);
    if (kernel == nullptr)
        return false;
    kernel(buf, count, percent);
    return true;
}

} // namespace orvelle
