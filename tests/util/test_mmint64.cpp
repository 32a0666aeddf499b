#include "platform/Exceptions.h"
#include "util/Mmint64.h"

#include <gtest/gtest.h>

#include <random>

namespace orvelle {
namespace {

__extension__ typedef __int128 Int128;

TEST(Int64, DivisionTruncatesAndTheRemainderTakesTheSignOfTheDividend)
{
    struct Case {
        int64_t a;
        uint32_t b;
        int64_t q, r;
    };
    const Case cases[] = {
        {-7, 2, -3, -1},
        {7, 2, 3, 1},
        {-8, 2, -4, 0},
        {0, 5, 0, 0},
        {INT64_MIN, 1, INT64_MIN, 0},
        {INT64_MIN, UINT32_MAX, INT64_MIN / int64_t{UINT32_MAX}, INT64_MIN % int64_t{UINT32_MAX}},
        {INT64_MAX, UINT32_MAX, INT64_MAX / int64_t{UINT32_MAX}, INT64_MAX % int64_t{UINT32_MAX}},
        {-1, UINT32_MAX, 0, -1}, // the divisor is 2^32 - 1, never -1
        {INT64_MIN, 1u << 31, -(int64_t{1} << 32), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(int64Div32(c.a, c.b), c.q) << c.a << " / " << c.b;
        EXPECT_EQ(int64Mod32(c.a, c.b), c.r) << c.a << " % " << c.b;
    }
    EXPECT_THROW(int64Div32(1, 0), EDivByZero);
    EXPECT_THROW(int64Mod32(1, 0), EDivByZero);
}

TEST(Int64, DivisionAndProductMatchTheReference)
{
    std::mt19937_64 rng(5);
    for (int i = 0; i < 300000; ++i) {
        const int64_t a = static_cast<int64_t>(rng()) >> (rng() % 64);
        const auto b = static_cast<uint32_t>(rng() >> (rng() % 64));
        const int64_t f = static_cast<int64_t>(rng()) >> (rng() % 64);
        const Int128 p = static_cast<Int128>(a) * f;
        ASSERT_EQ(int64x64(a, f), static_cast<int64_t>(static_cast<uint64_t>(p))) << a << " * " << f;
        if (b == 0)
            continue;
        const Int128 q = static_cast<Int128>(a) / b;
        ASSERT_EQ(int64Div32(a, b), static_cast<int64_t>(q)) << a << " / " << b;
        ASSERT_EQ(int64Mod32(a, b), static_cast<int64_t>(a - q * b)) << a << " % " << b;
    }
    EXPECT_EQ(int64x64(INT64_MIN, -1), INT64_MIN);
    EXPECT_EQ(int64x64(int64_t{1} << 32, int64_t{1} << 32), 0);
    EXPECT_EQ(int64x64(INT64_MAX, INT64_MAX), 1);
}

TEST(Int64, ClampingAsThe32BitForms)
{
    EXPECT_EQ(Min64(3, -3), -3);
    EXPECT_EQ(Max64(3, -3), 3);
    EXPECT_EQ(MinMax64(3, 10, 5), 10);
    EXPECT_EQ(MinMax64(7, 10, 5), 10);
    EXPECT_EQ(MinMax64(12, 10, 5), 5);
    EXPECT_EQ(MinMax64(int64_t{1} << 40, 0, int64_t{1} << 35), int64_t{1} << 35);
    EXPECT_TRUE(InMinMax64(INT64_MIN, INT64_MIN, INT64_MAX));
    EXPECT_FALSE(InMinMax64(7, 10, 5));
    EXPECT_TRUE(InMinMax64(5, 5, 5));
    EXPECT_EQ(Sign(INT32_MIN), -1);
    EXPECT_EQ(Sign(0), 0);
    EXPECT_EQ(Sign(INT32_MAX), 1);
}

} // namespace
} // namespace orvelle
