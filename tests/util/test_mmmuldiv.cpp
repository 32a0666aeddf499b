// The multiply-divide family against exact 128-bit references written from the definitions.
#include "platform/Exceptions.h"
#include "util/Mmmuldiv.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace orvelle {
namespace {

__extension__ typedef __int128 Int128;

enum class Kind { Value, DivByZero, Overflow, ZeroDivide };

struct Outcome {
    Kind kind;
    Int128 value;
    bool operator==(const Outcome& o) const { return kind == o.kind && (kind != Kind::Value || value == o.value); }
};

std::string show(const Outcome& o)
{
    switch (o.kind) {
    case Kind::DivByZero:
        return "EDivByZero";
    case Kind::Overflow:
        return "EIntOverflow";
    case Kind::ZeroDivide:
        return "EZeroDivide";
    default:
        return std::to_string(static_cast<long long>(o.value));
    }
}

template <typename F> Outcome run(F f)
{
    try {
        return {Kind::Value, static_cast<Int128>(f())};
    } catch (const EDivByZero&) {
        return {Kind::DivByZero, 0};
    } catch (const EIntOverflow&) {
        return {Kind::Overflow, 0};
    } catch (const EZeroDivide&) {
        return {Kind::ZeroDivide, 0};
    }
}

// The value when it lies in lo..hi, otherwise the overflow outcome.
Outcome fit(Int128 v, Int128 lo, Int128 hi)
{
    return v < lo || v > hi ? Outcome{Kind::Overflow, 0} : Outcome{Kind::Value, v};
}
Outcome fit32(Int128 v) { return fit(v, INT32_MIN, INT32_MAX); }
Outcome fitU32(Int128 v) { return fit(v, 0, UINT32_MAX); }

// Floor division for any signs.
Int128 floorDiv(Int128 n, Int128 d)
{
    Int128 q = n / d;
    if ((n % d != 0) && ((n < 0) != (d < 0)))
        --q;
    return q;
}

Outcome refMulDiv32(int32_t a, int32_t b, int32_t c)
{
    return c == 0 ? Outcome{Kind::DivByZero, 0} : fit32(static_cast<Int128>(a) * b / c);
}

// Nearest, an exact half away from zero: |q| = floor((2|p| + |c|) / 2|c|), with the sign of p/c.
Outcome refMulDiv32RN(int32_t a, int32_t b, int32_t c)
{
    if (c == 0)
        return {Kind::DivByZero, 0};
    const Int128 p = static_cast<Int128>(a) * b;
    const Int128 n = p < 0 ? -p : p;
    const Int128 d = c < 0 ? -static_cast<Int128>(c) : c;
    const Int128 q = (2 * n + d) / (2 * d);
    return fit32((p < 0) != (c < 0) ? -q : q);
}

Outcome refUnsigned(uint32_t a, uint32_t b, uint32_t c, Int128 addend)
{
    return c == 0 ? Outcome{Kind::DivByZero, 0} : fitU32((static_cast<Int128>(a) * b + addend) / c);
}

Int128 rangeSum(int32_t x, int32_t inLo, int32_t inHi, int32_t outLo, int32_t outHi)
{
    return (static_cast<Int128>(inHi) - x) * outLo + (static_cast<Int128>(x) - inLo) * outHi;
}

Outcome refRangeScale(int32_t x, int32_t inLo, int32_t inHi, int32_t outLo, int32_t outHi)
{
    const Int128 d = static_cast<Int128>(inHi) - inLo;
    return d == 0 ? Outcome{Kind::DivByZero, 0} : fit32(rangeSum(x, inLo, inHi, outLo, outHi) / d);
}

Outcome refRangeScaleRN(int32_t x, int32_t inLo, int32_t inHi, int32_t outLo, int32_t outHi)
{
    const Int128 d = static_cast<Int128>(inHi) - inLo;
    if (d == 0)
        return {Kind::ZeroDivide, 0};
    const Int128 n = rangeSum(x, inLo, inHi, outLo, outHi);
    const Int128 q = floorDiv(n, d);
    const Int128 twiceRest = 2 * (n - q * d); // same sign as d, below 2|d| in magnitude
    const Int128 ad = d < 0 ? -d : d;
    const Int128 tr = twiceRest < 0 ? -twiceRest : twiceRest;
    const bool up = tr > ad || (tr == ad && (q & 1) != 0);
    return fit32(up ? q + 1 : q);
}

const int32_t kEdges[] = {0, 1, -1, 2, -2, 3, -3, INT32_MAX, INT32_MIN, INT32_MAX - 1, INT32_MIN + 1, INT32_MAX / 2,
    INT32_MIN / 2, 1 << 30, -(1 << 30), 46341, -46341, 65535, 65536, -32768, 32767, 1000};
const uint32_t kUnsignedEdges[] = {
    0, 1, 2, 3, UINT32_MAX, UINT32_MAX - 1, 1u << 31, (1u << 31) - 1, UINT32_MAX / 2 + 1, 65535, 65536, 65537, 1000};

// Operands from several magnitude classes, so that most quotients fit and the raising cases
// still come up often.
int32_t pick32(std::mt19937_64& rng)
{
    switch (rng() % 5) {
    case 0:
        return kEdges[rng() % std::size(kEdges)];
    case 1:
        return static_cast<int32_t>(rng() % 601) - 300;
    case 2:
        return static_cast<int16_t>(rng());
    case 3:
        return static_cast<int32_t>(rng()) >> (rng() % 31);
    default:
        return static_cast<int32_t>(rng());
    }
}

uint32_t pickU32(std::mt19937_64& rng)
{
    switch (rng() % 4) {
    case 0:
        return kUnsignedEdges[rng() % std::size(kUnsignedEdges)];
    case 1:
        return static_cast<uint32_t>(rng() % 600);
    case 2:
        return static_cast<uint32_t>(rng()) >> (rng() % 32);
    default:
        return static_cast<uint32_t>(rng());
    }
}

// A divisor of at least 2^16 in magnitude, so that most quotients fit.
int32_t wideDivisor(std::mt19937_64& rng)
{
    const auto m = static_cast<int32_t>((rng() & 0x7FFFFFFF) | 0x10000);
    return (rng() & 1) != 0 ? -m : m;
}

constexpr int kRandomTriples = 200000;

template <typename Routine, typename Ref> void checkSigned(const char* name, Routine routine, Ref ref)
{
    for (int32_t a : kEdges)
        for (int32_t b : kEdges)
            for (int32_t c : kEdges) {
                const Outcome got = run([&] { return routine(a, b, c); });
                const Outcome want = ref(a, b, c);
                ASSERT_EQ(got, want) << name << "(" << a << ", " << b << ", " << c << ") gave " << show(got)
                                     << ", expected " << show(want);
            }
    std::mt19937_64 rng(20261211);
    for (int i = 0; i < kRandomTriples; ++i) {
        const int32_t a = pick32(rng), b = pick32(rng), c = (i & 1) != 0 ? pick32(rng) : wideDivisor(rng);
        const Outcome got = run([&] { return routine(a, b, c); });
        const Outcome want = ref(a, b, c);
        ASSERT_EQ(got, want) << name << "(" << a << ", " << b << ", " << c << ") gave " << show(got) << ", expected "
                             << show(want);
    }
}

template <typename Routine> void checkUnsigned(const char* name, Routine routine, Int128 (*addend)(uint32_t c))
{
    const auto ref = [&](uint32_t a, uint32_t b, uint32_t c) { return refUnsigned(a, b, c, addend(c)); };
    for (uint32_t a : kUnsignedEdges)
        for (uint32_t b : kUnsignedEdges)
            for (uint32_t c : kUnsignedEdges) {
                const Outcome got = run([&] { return routine(a, b, c); });
                ASSERT_EQ(got, ref(a, b, c)) << name << "(" << a << ", " << b << ", " << c << ") gave " << show(got);
            }
    std::mt19937_64 rng(7);
    for (int i = 0; i < kRandomTriples; ++i) {
        const uint32_t a = pickU32(rng), b = pickU32(rng);
        const uint32_t c = (i & 1) != 0 ? pickU32(rng) : static_cast<uint32_t>(rng()) | 0x10000u;
        const Outcome got = run([&] { return routine(a, b, c); });
        ASSERT_EQ(got, ref(a, b, c)) << name << "(" << a << ", " << b << ", " << c << ") gave " << show(got)
                                     << ", expected " << show(ref(a, b, c));
    }
}

TEST(MulDivFamily, MulDiv32MatchesTheReference) { checkSigned("MulDiv32", MulDiv32, refMulDiv32); }
TEST(MulDivFamily, MulDiv32RNMatchesTheReference) { checkSigned("MulDiv32RN", MulDiv32RN, refMulDiv32RN); }
TEST(MulDivFamily, MulDivRDMatchesTheReference)
{
    checkUnsigned("MulDivRD", MulDivRD, [](uint32_t) { return Int128{0}; });
}
TEST(MulDivFamily, MulDivRNMatchesTheReference)
{
    checkUnsigned("MulDivRN", MulDivRN, [](uint32_t c) { return static_cast<Int128>(c / 2); });
}
TEST(MulDivFamily, MulDivRUMatchesTheReference)
{
    checkUnsigned("MulDivRU", MulDivRU, [](uint32_t c) { return static_cast<Int128>(c) - 1; });
}

TEST(MulDivFamily, MulCompareMatchesTheReference)
{
    std::mt19937_64 rng(3);
    for (int i = 0; i < kRandomTriples; ++i) {
        const int32_t a = pick32(rng), b = pick32(rng), c = pick32(rng);
        // Every other case takes d from a product that matches, so equality comes up.
        const int32_t d = (i & 1) != 0 && c != 0 && (static_cast<Int128>(a) * b) % c == 0 &&
                static_cast<Int128>(a) * b / c >= INT32_MIN && static_cast<Int128>(a) * b / c <= INT32_MAX
            ? static_cast<int32_t>(static_cast<Int128>(a) * b / c)
            : pick32(rng);
        ASSERT_EQ(MulCompare(a, b, c, d), static_cast<Int128>(a) * b == static_cast<Int128>(c) * d)
            << a << "*" << b << " vs " << c << "*" << d;
    }
    EXPECT_TRUE(MulCompare(INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN));
    EXPECT_TRUE(MulCompare(INT32_MIN, -1, -1, INT32_MIN));
    EXPECT_FALSE(MulCompare(65536, 65536, 0, 0)); // 2^32 would be 0 in 32 bits
}

// A point of the range spanned by lo and hi, so that the mapped point mostly fits.
int32_t pointBetween(std::mt19937_64& rng, int32_t lo, int32_t hi)
{
    const int64_t span = static_cast<int64_t>(hi) - lo;
    return static_cast<int32_t>(lo + (span == 0 ? 0 : static_cast<int64_t>(rng() % 1024) * span / 1023));
}

TEST(MulDivFamily, RangeScaleMatchesTheReference)
{
    std::mt19937_64 rng(11);
    for (int i = 0; i < kRandomTriples; ++i) {
        const int32_t lo = pick32(rng), hi = pick32(rng), outLo = pick32(rng), outHi = pick32(rng);
        const int32_t x = (i & 1) != 0 ? pick32(rng) : pointBetween(rng, lo, hi);
        const Outcome got = run([&] { return RangeScale(x, lo, hi, outLo, outHi); });
        const Outcome want = refRangeScale(x, lo, hi, outLo, outHi);
        ASSERT_EQ(got, want) << "RangeScale(" << x << ", " << lo << ", " << hi << ", " << outLo << ", " << outHi
                             << ") gave " << show(got) << ", expected " << show(want);
    }
}

// The long double sum is exact below 2^62, so there the rounding must match exactly.
TEST(MulDivFamily, RangeScaleRNMatchesTheReference)
{
    std::mt19937_64 rng(13);
    int checked = 0;
    for (int i = 0; i < kRandomTriples; ++i) {
        const int32_t lo = pick32(rng), hi = pick32(rng), outLo = pick32(rng), outHi = pick32(rng);
        const int32_t x = (i & 1) != 0 ? pick32(rng) : pointBetween(rng, lo, hi);
        const Int128 sum = rangeSum(x, lo, hi, outLo, outHi);
        if (sum >= (Int128{1} << 62) || sum <= -(Int128{1} << 62))
            continue;
        ++checked;
        const Outcome got = run([&] { return RangeScaleRN(x, lo, hi, outLo, outHi); });
        const Outcome want = refRangeScaleRN(x, lo, hi, outLo, outHi);
        ASSERT_EQ(got, want) << "RangeScaleRN(" << x << ", " << lo << ", " << hi << ", " << outLo << ", " << outHi
                             << ") gave " << show(got) << ", expected " << show(want);
    }
    EXPECT_GT(checked, kRandomTriples / 2);
}

// Exact whenever |a*b| < 2^63: the long double quotient is then off by less than the
// distance of any non-whole quotient from a whole number.
TEST(MulDivFamily, MulDiv64MatchesTheReferenceWhileTheProductIsExact)
{
    std::mt19937_64 rng(17);
    for (int i = 0; i < kRandomTriples; ++i) {
        const int64_t a = static_cast<int64_t>(rng()) >> (rng() % 64);
        const int64_t b = static_cast<int64_t>(rng()) >> (rng() % 64);
        const int64_t c = static_cast<int64_t>(rng()) >> (rng() % 64);
        const Int128 p = static_cast<Int128>(a) * b;
        if (p >= (Int128{1} << 63) || p < -(Int128{1} << 63))
            continue;
        const Outcome got = run([&] { return MulDiv64(a, b, c); });
        const Outcome want = c == 0 ? Outcome{Kind::ZeroDivide, 0} : fit(p / c, INT64_MIN, INT64_MAX);
        ASSERT_EQ(got, want) << "MulDiv64(" << a << ", " << b << ", " << c << ") gave " << show(got);
    }
}

struct SignedCase {
    int32_t a, b, c;
    Outcome expected;
};

Outcome v(Int128 x) { return {Kind::Value, x}; }
const Outcome kDivByZero{Kind::DivByZero, 0};
const Outcome kOverflow{Kind::Overflow, 0};
const Outcome kZeroDivide{Kind::ZeroDivide, 0};

TEST(MulDivFamily, EdgeCasesOfTheRoundingRoutines)
{
    const SignedCase rn[] = {
        {5, 1, 2, v(3)},
        {-5, 1, 2, v(-3)},
        {7, 1, 4, v(2)},
        {5, 1, 4, v(1)},
        {5, 1, -2, v(-3)},
        {-5, -1, 2, v(3)},
        {0, 7, 3, v(0)},
        {1000, 1000, 1000, v(1000)},
        {INT32_MAX, 2, 2, v(INT32_MAX)},
        {INT32_MIN, 1, 1, v(INT32_MIN)},
        {1, 1, INT32_MAX, v(0)},
        {INT32_MAX, 1, INT32_MAX, v(1)},
        {3, 1, INT32_MIN, v(0)},
        // Divisors above 2^30: the remainder is compared in full width, never doubled in 32 bits.
        {INT32_MAX, 1, (1 << 30) + 1, v(2)},
        {(1 << 30) + 1, 1, INT32_MIN, v(-1)},
        {1, 1, 0, kDivByZero},
        {INT32_MAX, 2, 1, kOverflow},
        {INT32_MIN, 1, -1, kOverflow},
    };
    for (const auto& c : rn)
        EXPECT_EQ(run([&] { return MulDiv32RN(c.a, c.b, c.c); }), c.expected) << c.a << "*" << c.b << "/" << c.c;
    const SignedCase trunc[] = {
        {-5, 1, 2, v(-2)},
        {5, 1, 2, v(2)},
        {INT32_MIN, 1, -1, kOverflow},
        {1, 1, 0, kDivByZero},
        {INT32_MIN, INT32_MIN, INT32_MIN, v(INT32_MIN)},
        {65536, 65536, 65536, v(65536)},
    };
    for (const auto& c : trunc)
        EXPECT_EQ(run([&] { return MulDiv32(c.a, c.b, c.c); }), c.expected) << c.a << "*" << c.b << "/" << c.c;

    EXPECT_EQ(MulDivRN(1, 1, 2), 1u);
    EXPECT_EQ(MulDivRN(1, 1, 3), 0u);
    EXPECT_EQ(MulDivRU(1, 1, 3), 1u);
    EXPECT_EQ(MulDivRD(2, 1, 3), 0u);
    EXPECT_EQ(MulDivRU(UINT32_MAX, UINT32_MAX, UINT32_MAX), UINT32_MAX);
    EXPECT_THROW(MulDivRU(UINT32_MAX, 3, 2), EIntOverflow);
    EXPECT_THROW(MulDivRD(1, 1, 0), EDivByZero);
    EXPECT_EQ(MulDiv64(-7, 1, 2), -3);
    EXPECT_EQ(MulDiv64(INT64_MAX, 2, 2), INT64_MAX);
    EXPECT_THROW(MulDiv64(INT64_MIN, -1, 1), EIntOverflow);
    EXPECT_THROW(MulDiv64(1, 1, 0), EZeroDivide);
}

struct RangeCase {
    int32_t x, inLo, inHi, outLo, outHi;
    Outcome truncated, rounded;
};

TEST(MulDivFamily, EdgeCasesOfRangeScale)
{
    const RangeCase cases[] = {
        {1, 0, 4, 0, 2, v(0), v(0)},
        {3, 0, 4, 0, 2, v(1), v(2)},
        {2, 0, 4, 0, 2, v(1), v(1)},
        {0, 0, 4, 10, 20, v(10), v(10)},
        {4, 0, 4, 10, 20, v(20), v(20)},
        {1, 0, 4, 0, -2, v(0), v(0)},
        {3, 0, 4, 0, -2, v(-1), v(-2)},
        {2, 4, 0, 0, 100, v(50), v(50)},
        {1, 1, 1, 0, 5, kDivByZero, kZeroDivide},
        // A range wider than 2^31: the differences do not wrap.
        {0, INT32_MIN, INT32_MAX, 0, 100, v(50), v(50)},
        {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, v(INT32_MAX), v(INT32_MAX)},
        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN, v(INT32_MAX), v(INT32_MAX)},
        // Far outside the input range the mapped point leaves the 32-bit range.
        {INT32_MAX, 0, 1, 0, 2, kOverflow, kOverflow},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run([&] { return RangeScale(c.x, c.inLo, c.inHi, c.outLo, c.outHi); }), c.truncated)
            << c.x << " " << c.inLo << " " << c.inHi << " " << c.outLo << " " << c.outHi;
        EXPECT_EQ(run([&] { return RangeScaleRN(c.x, c.inLo, c.inHi, c.outLo, c.outHi); }), c.rounded)
            << c.x << " " << c.inLo << " " << c.inHi << " " << c.outLo << " " << c.outHi;
    }
}

TEST(MulDivFamily, DivMod32StoresNothingWhenItRaises)
{
    struct Case {
        int32_t dividend;
        uint16_t divisor;
        Outcome quotient;
        uint16_t remainder;
    };
    const Case cases[] = {
        {7, 2, v(3), 1},
        {0, 1, v(0), 0},
        {65535 * 3 + 2, 3, v(65535), 2},
        {65535 * 3 + 3, 3, kOverflow, 0},
        {-1, 65535, kOverflow, 0}, // the dividend is taken unsigned: 2^32 - 1
        {-65536, 65535, kOverflow, 0},
        {INT32_MAX, 32767, kOverflow, 0},
        {INT32_MAX, 65535, v(32768), 32767},
        {static_cast<int32_t>(65535u * 65535u), 65535, v(65535), 0},
        {5, 0, kDivByZero, 0},
    };
    for (const auto& c : cases) {
        uint16_t q = 0xBEEF, r = 0xBEEF;
        const Outcome got = run([&] {
            DivMod32(c.dividend, c.divisor, q, r);
            return q;
        });
        EXPECT_EQ(got, c.quotient) << c.dividend << " / " << c.divisor;
        EXPECT_EQ(r, got.kind == Kind::Value ? c.remainder : 0xBEEF) << c.dividend << " / " << c.divisor;
        if (got.kind != Kind::Value) {
            EXPECT_EQ(q, 0xBEEF);
        }
    }
}

TEST(Shifts, CountIsTakenModulo32AndSarCopiesTheSign)
{
    struct Case {
        int32_t value;
        uint8_t count;
        int32_t left, right;
    };
    const Case cases[] = {
        {1, 0, 1, 1},
        {1, 31, INT32_MIN, 0},
        {1, 32, 1, 1},
        {-8, 1, -16, -4},
        {-1, 31, INT32_MIN, -1},
        {INT32_MIN, 31, 0, -1},
        {INT32_MAX, 1, -2, 0x3FFFFFFF},
        {0x12345678, 36, 0x23456780, 0x01234567},
        {-7, 255, INT32_MIN, -1},
        {-7, 1, -14, -4},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Sal(c.value, c.count), c.left) << c.value << " << " << int(c.count);
        EXPECT_EQ(Sar(c.value, c.count), c.right) << c.value << " >> " << int(c.count);
    }
}

// The non-raising forms share the rounding of MulDiv32RN and saturate instead of raising.
TEST(MulDivFamily, NonRaisingFormsSaturate)
{
    EXPECT_EQ(mulDivRound64(5, 1, 2), 3);
    EXPECT_EQ(mulDivRound64(-5, 1, 2), -3);
    EXPECT_EQ(mulDivRound64(1, 1, 0), 0);
    EXPECT_EQ(mulDivRound64(INT64_MAX, INT64_MAX, 1), INT64_MAX);
    EXPECT_EQ(mulDivRound64(INT64_MIN, INT64_MAX, 1), INT64_MIN);
    EXPECT_EQ(mulDivRoundSaturated(INT32_MAX, 4, 2), INT32_MAX);
    EXPECT_EQ(mulDivRoundSaturated(INT32_MIN, 4, 2), INT32_MIN);
    EXPECT_EQ(saturateToInt32(int64_t{1} << 40), INT32_MAX);
}

} // namespace
} // namespace orvelle
