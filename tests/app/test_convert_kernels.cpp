// The cross-cancel kernels against a plain evaluation of the rule (CrossCancelOracle.h):
// integers in double, rounded half to even and clamped; floats in double, stored at
// their own width without clamping.
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "CrossCancelOracle.h"
#include "app/Crosscancel.h"

namespace orvelle {
namespace {

using test::crossCancelInteger;

SampleLayout Integer(int bits) { return {SampleEncoding::Integer, bits}; }

int64_t Ref8(uint8_t a, uint8_t b, int32_t p) { return crossCancelInteger(a - 128, b - 128, p, -128, 127) + 128; }

// Little-endian samples of `bytes` bytes each.
int64_t GetSample(const std::vector<uint8_t>& buf, size_t i, int bytes)
{
    return test::loadSignedLe(buf.data() + i * static_cast<size_t>(bytes), bytes);
}

void PutSample(std::vector<uint8_t>& buf, int64_t v, int bytes)
{
    buf.resize(buf.size() + static_cast<size_t>(bytes));
    test::storeSignedLe(buf.data() + buf.size() - static_cast<size_t>(bytes), bytes, v);
}

// Random bit patterns: every class of value, in proportion to its share of the codes.
std::vector<uint8_t> RandomBits(size_t bytes, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> buf(bytes);
    for (auto& x : buf)
        x = static_cast<uint8_t>(rng());
    return buf;
}

using Kernel = void (*)(uint8_t*, int32_t, int32_t);

struct Width {
    int bytes;
    Kernel kernel;
};
const Width kWidths[] = {{2, CrossCancel16}, {3, CrossCancel24}, {4, CrossCancel32}};

// Runs the kernel over interleaved pairs and compares every sample with the reference.
void CheckPairs(const Width& w, const std::vector<int64_t>& samples, int32_t p)
{
    const int64_t hi = (int64_t{1} << (8 * w.bytes - 1)) - 1;
    const int64_t lo = -hi - 1;
    std::vector<uint8_t> buf, want;
    for (size_t k = 0; k + 1 < samples.size(); k += 2) {
        PutSample(buf, samples[k], w.bytes);
        PutSample(buf, samples[k + 1], w.bytes);
        PutSample(want, crossCancelInteger(samples[k], samples[k + 1], p, lo, hi), w.bytes);
        PutSample(want, crossCancelInteger(samples[k + 1], samples[k], p, lo, hi), w.bytes);
    }
    w.kernel(buf.data(), static_cast<int32_t>(buf.size()), p);
    if (buf == want)
        return;
    const size_t at = static_cast<size_t>(std::mismatch(buf.begin(), buf.end(), want.begin()).first - buf.begin());
    const size_t k = at / w.bytes & ~size_t{1};
    FAIL() << w.bytes * 8 << "-bit (" << samples[k] << ", " << samples[k + 1] << ") at " << p << ": got ("
           << GetSample(buf, k, w.bytes) << ", " << GetSample(buf, k + 1, w.bytes) << "), want ("
           << GetSample(want, k, w.bytes) << ", " << GetSample(want, k + 1, w.bytes) << ")";
}

TEST(CrossCancelKernel, DefaultRoundingModeIsToNearest) { ASSERT_EQ(std::fegetround(), FE_TONEAREST); }

// The public 8- and 16-bit kernels take a vector path where the processor has one; the
// portable ones are the fallback. Both must give the same, exact, results.
struct Named {
    const char* name;
    Kernel kernel;
};
const Named kKernels8[] = {{"CrossCancel8", CrossCancel8}, {"CrossCancel8Portable", CrossCancel8Portable}};
const Named kKernels16[] = {{"CrossCancel16", CrossCancel16}, {"CrossCancel16Portable", CrossCancel16Portable}};

TEST(CrossCancelKernel, EveryEightBitPairAtEveryStrength)
{
    std::vector<uint8_t> all;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            all.push_back(static_cast<uint8_t>(a));
            all.push_back(static_cast<uint8_t>(b));
        }
    for (const Named& kern : kKernels8)
        for (int32_t p = -100; p <= 100; ++p) {
            std::vector<uint8_t> buf = all;
            kern.kernel(buf.data(), static_cast<int32_t>(buf.size()), p);
            for (size_t k = 0; k < buf.size(); k += 2) {
                ASSERT_EQ(buf[k], Ref8(all[k], all[k + 1], p))
                    << kern.name << " " << int(all[k]) << "," << int(all[k + 1]) << " at " << p;
                ASSERT_EQ(buf[k + 1], Ref8(all[k + 1], all[k], p))
                    << kern.name << " " << int(all[k]) << "," << int(all[k + 1]) << " at " << p;
            }
        }
}

// Every value of the other sample, with even and odd own samples, the extremes among them.
TEST(CrossCancelKernel, EverySixteenBitPartnerAtEveryStrength)
{
    constexpr size_t kFrames = 65536;
    std::vector<int16_t> in(2 * kFrames), want(2 * kFrames);
    std::vector<uint8_t> buf(4 * kFrames);
    for (int64_t own : {0, 1, -32768, 32767, 1234, -4321}) {
        for (size_t k = 0; k < kFrames; ++k) {
            in[2 * k] = static_cast<int16_t>(own);
            in[2 * k + 1] = static_cast<int16_t>(static_cast<int64_t>(k) - 32768);
        }
        for (int32_t p = -100; p <= 100; ++p) {
            for (size_t i = 0; i < in.size(); ++i)
                want[i] = static_cast<int16_t>(crossCancelInteger(in[i], in[i ^ 1], p, -32768, 32767));
            for (const Named& kern : kKernels16) {
                std::memcpy(buf.data(), in.data(), buf.size());
                kern.kernel(buf.data(), static_cast<int32_t>(buf.size()), p);
                if (std::memcmp(buf.data(), want.data(), buf.size()) == 0)
                    continue;
                size_t i = 0;
                while (std::memcmp(buf.data() + 2 * i, &want[i], 2) == 0)
                    ++i;
                FAIL() << kern.name << " frame (" << in[i & ~size_t{1}] << ", " << in[i | 1] << ") at " << p
                       << ": sample " << i % 2 << " should be " << want[i];
            }
        }
    }
}

std::vector<int64_t> EdgesAndRandom(int bytes)
{
    const int64_t hi = (int64_t{1} << (8 * bytes - 1)) - 1, lo = -hi - 1;
    std::vector<int64_t> v;
    for (int64_t a : {lo, lo + 1, int64_t{-1}, int64_t{0}, int64_t{1}, hi - 1, hi})
        for (int64_t b : {lo, lo + 1, int64_t{-5}, int64_t{0}, int64_t{5}, int64_t{15}, hi - 1, hi}) {
            v.push_back(a);
            v.push_back(b);
        }
    std::mt19937_64 rng(42);
    std::uniform_int_distribution<int64_t> any(lo, hi), small(-300, 300);
    for (int i = 0; i < 20000; ++i)
        v.push_back(i % 3 == 0 ? small(rng) : any(rng));
    return v;
}

TEST(CrossCancelKernel, WideSamplesAtTheirOwnWidth)
{
    for (const Width& w : kWidths)
        for (int32_t p : {0, 1, 30, 50, 99, 100, -1, -100, 101, -250, 1000})
            CheckPairs(w, EdgesAndRandom(w.bytes), p);
}

// Strengths outside 0..100 take the 64-bit path; the result is still the formula's.
TEST(CrossCancelKernel, StrengthsOutsideTheSliderRange)
{
    for (int32_t p :
        {-100, -57, 150, 100000, std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}) {
        CheckPairs(kWidths[0], EdgesAndRandom(2), p);
        std::vector<uint8_t> buf, all;
        for (int a = 0; a < 256; a += 3)
            for (int b = 0; b < 256; b += 5) {
                all.push_back(static_cast<uint8_t>(a));
                all.push_back(static_cast<uint8_t>(b));
            }
        buf = all;
        CrossCancel8(buf.data(), static_cast<int32_t>(buf.size()), p);
        for (size_t k = 0; k < buf.size(); k += 2) {
            ASSERT_EQ(buf[k], Ref8(all[k], all[k + 1], p)) << p;
            ASSERT_EQ(buf[k + 1], Ref8(all[k + 1], all[k], p)) << p;
        }
    }
}

struct Example {
    int bits;
    int64_t a, b;
    int32_t percent;
    int64_t wantA, wantB;
};

// Halfway values, clamping, and the second sample computed from the first as read.
const Example kExamples[] = {
    {16, 0, 5, 30, -2, 5}, // 0 - 1.5 goes to -2
    {16, 0, 15, 30, -4, 15}, // 0 - 4.5 goes to -4
    {16, -32768, 32767, 100, -32768, 32767},
    {16, 1000, -1000, 30, 1300, -1300},
    {16, 1000, 1000, 100, 0, 0},
    {16, 7, -3, 0, 7, -3},
    {8, 128, 133, 30, 126, 133}, // 0 - 1.5 goes to -2, plus 128
    {8, 255, 0, 100, 255, 0},
    {8, 255, 127, 100, 255, 0},
    {8, 200, 200, 100, 128, 128},
    {24, 0, 5, 30, -2, 5},
    {24, -8388608, 8388607, 100, -8388608, 8388607},
    {32, 0, 15, 30, -4, 15},
    {32, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 100,
        std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()},
};

TEST(CrossCancelKernel, WorkedExamples)
{
    for (const Example& e : kExamples) {
        const int bytes = e.bits / 8;
        std::vector<uint8_t> buf;
        PutSample(buf, e.a, bytes);
        PutSample(buf, e.b, bytes);
        ASSERT_TRUE(CrossCancelBlock(buf.data(), static_cast<int32_t>(buf.size()), Integer(e.bits), e.percent));
        const int64_t gotA = bytes == 1 ? buf[0] : GetSample(buf, 0, bytes);
        const int64_t gotB = bytes == 1 ? buf[1] : GetSample(buf, 1, bytes);
        EXPECT_EQ(gotA, e.wantA) << e.bits << "-bit (" << e.a << ", " << e.b << ") at " << e.percent;
        EXPECT_EQ(gotB, e.wantB) << e.bits << "-bit (" << e.a << ", " << e.b << ") at " << e.percent;
    }
}

// Bytes after the last whole pair stay as they were; an unaligned buffer is fine.
TEST(CrossCancelKernel, TrailingBytesUnchangedAndAnyAlignment)
{
    for (int bits : {8, 16, 24, 32}) {
        const int pair = bits / 4;
        for (int extra = 0; extra < pair; ++extra) {
            std::vector<uint8_t> buf(1 + 3 * pair + extra);
            for (size_t i = 0; i < buf.size(); ++i)
                buf[i] = static_cast<uint8_t>(0x5A + 37 * i);
            std::vector<uint8_t> want(buf.begin() + 1, buf.end());
            CrossCancelBlock(want.data(), 3 * pair, Integer(bits), 100);
            const std::vector<uint8_t> before = buf;
            ASSERT_TRUE(CrossCancelBlock(buf.data() + 1, static_cast<int32_t>(buf.size() - 1), Integer(bits), 100));
            EXPECT_EQ(buf[0], before[0]);
            EXPECT_TRUE(std::equal(want.begin(), want.begin() + 3 * pair, buf.begin() + 1)) << bits;
            EXPECT_TRUE(std::equal(before.end() - extra, before.end(), buf.end() - extra)) << bits << " +" << extra;
        }
    }
}

// The rule applied to the whole pairs of `len` bytes at `s`, as the reference computes it.
void ApplyReference(uint8_t* s, int32_t len, int bits, bool isFloat, int32_t p)
{
    const std::vector<uint8_t> done = test::crossCancelData(std::vector<uint8_t>(s, s + len), bits, isFloat, p);
    std::copy(done.begin(), done.end(), s);
}

// Every length up to a few vectors, from every start within a word: the vector part, the
// scalar rest and the trailing bytes meet correctly, and nothing outside the span changes.
TEST(CrossCancelKernel, ShortAndUnalignedSpansMatchTheRule)
{
    const std::vector<uint8_t> noise = RandomBits(64 + 8, 3);
    for (int bits : {8, 16})
        for (const Named& kern : bits == 8 ? kKernels8 : kKernels16)
            for (int32_t p : {0, 1, 30, 99, 100, -37, -100, 250})
                for (size_t start = 0; start < 4; ++start)
                    for (int32_t len = 0; len <= 64; ++len) {
                        std::vector<uint8_t> buf = noise, want = noise;
                        ApplyReference(want.data() + start, len, bits, false, p);
                        kern.kernel(buf.data() + start, len, p);
                        ASSERT_EQ(buf, want) << kern.name << " start " << start << " length " << len << " at " << p;
                    }
}

TEST(CrossCancelKernel, OtherWidthsAreRefusedUntouched)
{
    const SampleLayout refused[] = {Integer(0), Integer(4), Integer(12), Integer(20), Integer(40), Integer(64),
        {SampleEncoding::Float, 0}, {SampleEncoding::Float, 16}, {SampleEncoding::Float, 24},
        {SampleEncoding::Float, 80}};
    for (const SampleLayout& layout : refused) {
        std::vector<uint8_t> buf(32, 0x41);
        const std::vector<uint8_t> before = buf;
        EXPECT_FALSE(crossCancelTakes(layout)) << layout.bits;
        EXPECT_FALSE(CrossCancelBlock(buf.data(), 32, layout, 30)) << layout.bits;
        EXPECT_EQ(buf, before);
    }
}

// ---- IEEE float samples -------------------------------------------------------------------

struct NamedFloat {
    const char* name;
    Kernel kernel;
    int bits;
};
const NamedFloat kFloatKernels[] = {{"CrossCancelFloat32", CrossCancelFloat32, 32},
    {"CrossCancelFloat32Portable", CrossCancelFloat32Portable, 32}, {"CrossCancelFloat64", CrossCancelFloat64, 64},
    {"CrossCancelFloat64Portable", CrossCancelFloat64Portable, 64}};

template <typename T, typename Bits> T FromBits(Bits bits)
{
    static_assert(sizeof(T) == sizeof(Bits));
    T v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

template <typename T> void PutFloat(std::vector<uint8_t>& buf, T v)
{
    const size_t at = buf.size();
    buf.resize(at + sizeof v);
    std::memcpy(buf.data() + at, &v, sizeof v);
}

// Zeros of both signs, denormals, the extremes, infinities, NaNs (quiet and signalling,
// with payloads and both signs) and a few plain values.
template <typename T> std::vector<T> SpecialValues()
{
    using L = std::numeric_limits<T>;
    std::vector<T> v = {T(0), -T(0), T(1), T(-1), T(0.5), T(-1.5), T(0.3), T(12345.678), T(-1e-3), L::epsilon(),
        L::min(), -L::min(), L::denorm_min(), -L::denorm_min(), L::min() - L::denorm_min(), L::max(), L::lowest(),
        L::max() / T(3), L::infinity(), -L::infinity(), L::quiet_NaN(), -L::quiet_NaN()};
    if constexpr (sizeof(T) == 4) {
        for (uint32_t bits : {0x7F800001u, 0x7FC12345u, 0xFFA00000u})
            v.push_back(FromBits<T>(bits));
    } else {
        for (uint64_t bits : {0x7FF0000000000001u, 0x7FF8000000012345u, 0xFFF4000000000000u})
            v.push_back(FromBits<T>(bits));
    }
    return v;
}

// Every pair of special values, as the first and as the second sample.
template <typename T> std::vector<uint8_t> SpecialPairs()
{
    const std::vector<T> values = SpecialValues<T>();
    std::vector<uint8_t> buf;
    for (T a : values)
        for (T b : values) {
            PutFloat(buf, a);
            PutFloat(buf, b);
        }
    return buf;
}

const int32_t kFloatStrengths[] = {0, 1, 30, 50, 99, 100, -1, -100, 250, 100000, std::numeric_limits<int32_t>::max(),
    std::numeric_limits<int32_t>::min()};

// Compares bit for bit, NaN payloads and the sign of zero included.
void CheckFloatKernel(const NamedFloat& k, const std::vector<uint8_t>& in, int32_t p)
{
    std::vector<uint8_t> buf = in;
    k.kernel(buf.data(), static_cast<int32_t>(buf.size()), p);
    const std::vector<uint8_t> want = test::crossCancelData(in, k.bits, true, p);
    if (buf == want)
        return;
    const size_t bytes = static_cast<size_t>(k.bits / 8);
    const size_t at = static_cast<size_t>(std::mismatch(buf.begin(), buf.end(), want.begin()).first - buf.begin());
    const size_t pair = at / (2 * bytes) * (2 * bytes);
    auto hex = [&](const std::vector<uint8_t>& b, size_t from) {
        std::string h;
        for (size_t i = from + 2 * bytes; i-- > from;)
            h += "0123456789ABCDEF"[b[i] >> 4], h += "0123456789ABCDEF"[b[i] & 15];
        return h;
    };
    FAIL() << k.name << " at " << p << ": pair " << hex(in, pair) << " gave " << hex(buf, pair) << ", want "
           << hex(want, pair);
}

TEST(CrossCancelFloat, SpecialValuesInEveryCombination)
{
    for (const NamedFloat& k : kFloatKernels) {
        const std::vector<uint8_t> in = k.bits == 32 ? SpecialPairs<float>() : SpecialPairs<double>();
        for (int32_t p : kFloatStrengths)
            CheckFloatKernel(k, in, p);
    }
}

TEST(CrossCancelFloat, RandomBitPatterns)
{
    for (const NamedFloat& k : kFloatKernels)
        for (int32_t p : kFloatStrengths)
            CheckFloatKernel(k, RandomBits(1 << 16, static_cast<unsigned>(p) + k.bits), p);
}

// One pair through the conversion's dispatch for floats of T's width.
template <typename T> void checkPair(T a, T b, int32_t p, T wantA, T wantB)
{
    std::vector<uint8_t> buf;
    PutFloat(buf, a);
    PutFloat(buf, b);
    const int bits = 8 * sizeof(T);
    ASSERT_TRUE(CrossCancelBlock(buf.data(), 2 * sizeof(T), {SampleEncoding::Float, bits}, p));
    T got[2];
    std::memcpy(got, buf.data(), sizeof got);
    EXPECT_EQ(got[0], wantA) << bits << "-bit " << a << ", " << b << " at " << p;
    EXPECT_EQ(got[1], wantB) << bits << "-bit " << a << ", " << b << " at " << p;
}

// Expected values worked out by hand, so that the rule itself (not only agreement with
// the reference) is checked: ties to even at 32 bits, no clamping, no flushing of
// denormals, signed zeros, exact cancellation of identical channels.
TEST(CrossCancelFloat, WorkedExamples)
{
    using F = std::numeric_limits<float>;
    using D = std::numeric_limits<double>;
    const float t24 = std::ldexp(1.0f, -24), t23 = std::ldexp(1.0f, -23), t22 = std::ldexp(1.0f, -22);
    const struct {
        float a, b;
        int32_t p;
        float wantA, wantB;
    } floats[] = {
        {1.0f, -t24, 100, 1.0f, -1.0f}, // 1 + 2^-24 lies halfway: to the even 1
        {1.0f + t23, -t24, 100, 1.0f + t22, -1.0f - t22}, // 1 + 3 * 2^-24: to the even 1 + 2^-22
        {0.3f, 0.3f, 100, 0.0f, 0.0f},
        {F::max(), -F::max(), 100, F::infinity(), -F::infinity()},
        {F::max(), F::max(), -30, F::infinity(), F::infinity()},
        {F::denorm_min(), 0.0f, 30, F::denorm_min(), -0.0f}, // 0.3 of the smallest denormal rounds to zero
        {F::infinity(), 1.0f, 30, F::infinity(), -F::infinity()},
        {-2.0f, 4.0f, 50, -4.0f, 5.0f},
    };
    for (const auto& e : floats)
        checkPair(e.a, e.b, e.p, e.wantA, e.wantB);

    // Signed zeros: -0 - (+0 * 30 / 100) is -0; +0 - (-0 * 30 / 100) is +0.
    std::vector<uint8_t> zeros;
    PutFloat(zeros, -0.0f);
    PutFloat(zeros, 0.0f);
    CrossCancelFloat32(zeros.data(), 8, 30);
    float z[2];
    std::memcpy(z, zeros.data(), 8);
    EXPECT_TRUE(std::signbit(z[0]));
    EXPECT_FALSE(std::signbit(z[1]));

    // NaN in one channel makes both NaN; inf - inf is NaN.
    std::vector<uint8_t> nan;
    PutFloat(nan, F::quiet_NaN());
    PutFloat(nan, 1.0f);
    PutFloat(nan, F::infinity());
    PutFloat(nan, F::infinity());
    CrossCancelFloat32(nan.data(), 16, 100);
    float n[4];
    std::memcpy(n, nan.data(), 16);
    for (float x : n)
        EXPECT_TRUE(std::isnan(x));

    const double t53 = std::ldexp(1.0, -53);
    const struct {
        double a, b;
        int32_t p;
        double wantA, wantB;
    } doubles[] = {
        {1.0, -t53, 100, 1.0, -t53 - 1.0}, // 1 + 2^-53 rounds to the even 1 in double itself
        {0.1, 0.1, 100, 0.0, 0.0},
        {D::max(), -D::max(), 100, D::infinity(), -D::infinity()},
        {D::denorm_min(), 0.0, 100, D::denorm_min(), -D::denorm_min()},
        {-2.0, 4.0, 50, -4.0, 5.0},
    };
    for (const auto& e : doubles)
        checkPair(e.a, e.b, e.p, e.wantA, e.wantB);
}

// Every length up to a few vectors, from every start within a word: the vector part, the
// scalar rest and the trailing bytes meet correctly, and nothing outside the span changes.
TEST(CrossCancelFloat, ShortAndUnalignedSpansMatchTheRule)
{
    const std::vector<uint8_t> noise = RandomBits(128 + 8, 5);
    for (const NamedFloat& k : kFloatKernels)
        for (int32_t p : {0, 30, 100, -37})
            for (size_t start = 0; start < 8; ++start)
                for (int32_t len = 0; len <= 128; ++len) {
                    std::vector<uint8_t> buf = noise, want = noise;
                    ApplyReference(want.data() + start, len, k.bits, true, p);
                    k.kernel(buf.data() + start, len, p);
                    ASSERT_EQ(buf, want) << k.name << " start " << start << " length " << len << " at " << p;
                }
}

} // namespace
} // namespace orvelle
