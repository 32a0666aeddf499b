// The cross-cancel kernels against a plain evaluation of the rule in floating point:
// x = a - (b * percent) / 100 in double, rounded half to even (nearbyint under the
// default rounding mode), clamped to the sample's range.
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "app/Crosscancel.h"

namespace orvelle {
namespace {

// The product is formed in 64 bits, so strengths far outside 0..100 do not overflow.
int64_t Reference(int64_t a, int64_t b, int32_t percent, int64_t lo, int64_t hi)
{
    const double x = std::nearbyint(static_cast<double>(a) - static_cast<double>(b * percent) / 100.0);
    if (x < static_cast<double>(lo))
        return lo;
    if (x > static_cast<double>(hi))
        return hi;
    return static_cast<int64_t>(x);
}

int64_t Ref8(uint8_t a, uint8_t b, int32_t p) { return Reference(a - 128, b - 128, p, -128, 127) + 128; }

// Little-endian samples of `bytes` bytes each.
int64_t GetSample(const std::vector<uint8_t>& buf, size_t i, int bytes)
{
    uint64_t v = 0;
    for (int k = 0; k < bytes; ++k)
        v |= static_cast<uint64_t>(buf[i * bytes + k]) << (8 * k);
    const int shift = 64 - 8 * bytes;
    return static_cast<int64_t>(v << shift) >> shift;
}

void PutSample(std::vector<uint8_t>& buf, int64_t v, int bytes)
{
    for (int k = 0; k < bytes; ++k)
        buf.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * k)));
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
        PutSample(want, Reference(samples[k], samples[k + 1], p, lo, hi), w.bytes);
        PutSample(want, Reference(samples[k + 1], samples[k], p, lo, hi), w.bytes);
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
                want[i] = static_cast<int16_t>(Reference(in[i], in[i ^ 1], p, -32768, 32767));
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
        ASSERT_TRUE(CrossCancelBlock(buf.data(), static_cast<int32_t>(buf.size()), e.bits, e.percent));
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
            CrossCancelBlock(want.data(), 3 * pair, bits, 100);
            const std::vector<uint8_t> before = buf;
            ASSERT_TRUE(CrossCancelBlock(buf.data() + 1, static_cast<int32_t>(buf.size() - 1), bits, 100));
            EXPECT_EQ(buf[0], before[0]);
            EXPECT_TRUE(std::equal(want.begin(), want.begin() + 3 * pair, buf.begin() + 1)) << bits;
            EXPECT_TRUE(std::equal(before.end() - extra, before.end(), buf.end() - extra)) << bits << " +" << extra;
        }
    }
}

// The rule applied to the whole pairs of `len` bytes at `s`, as the reference computes it.
void ApplyReference(uint8_t* s, int32_t len, int bits, int32_t p)
{
    for (int32_t k = 0; k + bits / 4 <= len; k += bits / 4) {
        if (bits == 8) {
            const uint8_t a = s[k], b = s[k + 1];
            s[k] = static_cast<uint8_t>(Ref8(a, b, p));
            s[k + 1] = static_cast<uint8_t>(Ref8(b, a, p));
            continue;
        }
        int16_t a, b;
        std::memcpy(&a, s + k, 2);
        std::memcpy(&b, s + k + 2, 2);
        const int16_t na = static_cast<int16_t>(Reference(a, b, p, -32768, 32767));
        const int16_t nb = static_cast<int16_t>(Reference(b, a, p, -32768, 32767));
        std::memcpy(s + k, &na, 2);
        std::memcpy(s + k + 2, &nb, 2);
    }
}

// Every length up to a few vectors, from every start within a word: the vector part, the
// scalar rest and the trailing bytes meet correctly, and nothing outside the span changes.
TEST(CrossCancelKernel, ShortAndUnalignedSpansMatchTheRule)
{
    std::mt19937 rng(3);
    std::vector<uint8_t> noise(64 + 8);
    for (auto& x : noise)
        x = static_cast<uint8_t>(rng());
    for (int bits : {8, 16})
        for (const Named& kern : bits == 8 ? kKernels8 : kKernels16)
            for (int32_t p : {0, 1, 30, 99, 100, -37, -100, 250})
                for (size_t start = 0; start < 4; ++start)
                    for (int32_t len = 0; len <= 64; ++len) {
                        std::vector<uint8_t> buf = noise, want = noise;
                        ApplyReference(want.data() + start, len, bits, p);
                        kern.kernel(buf.data() + start, len, p);
                        ASSERT_EQ(buf, want) << kern.name << " start " << start << " length " << len << " at " << p;
                    }
}

TEST(CrossCancelKernel, OtherWidthsAreRefusedUntouched)
{
    for (int bits : {0, 4, 12, 20, 40, 64}) {
        std::vector<uint8_t> buf{1, 2, 3, 4, 5, 6, 7, 8};
        const std::vector<uint8_t> before = buf;
        EXPECT_FALSE(CrossCancelBlock(buf.data(), 8, bits, 30)) << bits;
        EXPECT_EQ(buf, before);
    }
}

} // namespace
} // namespace orvelle
