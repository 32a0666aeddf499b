#include "platform/Exceptions.h"
#include "util/Mmmath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace orvelle {
namespace {

constexpr long double kPi = std::numbers::pi_v<long double>;
constexpr long double kNaN = std::numeric_limits<long double>::quiet_NaN();
constexpr long double kInf = std::numeric_limits<long double>::infinity();

TEST(ExtendedMath, CeilAndFloorDropTheFractionThenStep)
{
    struct Case {
        long double x;
        int32_t ceil, floor;
    };
    const Case cases[] = {
        {2.0L, 2, 2},
        {-2.5L, -2, -3},
        {2.5L, 3, 2},
        {-2.0L, -2, -2},
        {0.0L, 0, 0},
        {-0.0L, 0, 0},
        {1e-30L, 1, 0},
        {-1e-30L, 0, -1},
        {2147483647.5L, INT32_MIN, INT32_MAX},
        {4294967296.25L, 1, 0}, // beyond 32 bits the low 32 bits of the 64-bit whole part
        {-2147483648.5L, INT32_MIN, INT32_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Ceil(c.x), c.ceil) << static_cast<double>(c.x);
        EXPECT_EQ(Floor(c.x), c.floor) << static_cast<double>(c.x);
    }
    for (long double bad : {kNaN, kInf, -kInf, 1e19L}) {
        EXPECT_THROW(Ceil(bad), EInvalidOp);
        EXPECT_THROW(Floor(bad), EInvalidOp);
    }
}

TEST(ExtendedMath, MinMaxAndLimit)
{
    EXPECT_EQ(MinR(1.5L, 2.5L), 1.5L);
    EXPECT_EQ(MaxR(1.5L, 2.5L), 2.5L);
    EXPECT_TRUE(std::signbit(MinR(0.0L, -0.0L))); // b <= a gives b
    EXPECT_TRUE(std::signbit(MaxR(0.0L, -0.0L))); // b >= a gives b
    EXPECT_EQ(MinMaxR(3, 10, 5), 10);
    EXPECT_EQ(MinMaxR(12, 10, 5), 5);
    EXPECT_EQ(LimitR(3, 10, 5), 5);
    EXPECT_EQ(LimitR(7.25L, 10, 5), 7.25L);
    EXPECT_EQ(LimitR(12, 10, 5), 10);
}

TEST(ExtendedMath, ModRHasTheSignOfTheDividend)
{
    struct Case {
        long double a, b, r;
    };
    const Case cases[] = {
        {7, 3, 1},
        {-7, 3, -1},
        {7, -3, 1},
        {-7, -3, -1},
        {5.5L, 2, 1.5L},
        {6, 3, 0},
        {1, kInf, 1},
        // a/b is far beyond the 64-bit mantissa here; the remainder is still exact.
        {1e30L, 7, std::fmod(1e30L, 7.0L)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ModR(c.a, c.b), c.r) << static_cast<double>(c.a) << " mod " << static_cast<double>(c.b);
    const long double big = ModR(-1e30L, 7);
    EXPECT_LE(big, 0);
    EXPECT_GT(big, -7);
    EXPECT_EQ(big, std::trunc(big));
    EXPECT_THROW(ModR(1, 0), EZeroDivide);
    EXPECT_THROW(ModR(kInf, 2), EInvalidOp);
    EXPECT_THROW(ModR(kNaN, 2), EInvalidOp);
}

TEST(ExtendedMath, TrigonometryAndItsDomain)
{
    EXPECT_NEAR(static_cast<double>(ArcTan2(1, -1)), static_cast<double>(3 * kPi / 4), 1e-15);
    EXPECT_NEAR(static_cast<double>(ArcTan2(-1, -1)), static_cast<double>(-3 * kPi / 4), 1e-15);
    EXPECT_EQ(ArcCos(1), 0);
    EXPECT_NEAR(static_cast<double>(ArcCos(-1)), static_cast<double>(kPi), 1e-15);
    EXPECT_NEAR(static_cast<double>(ArcCos(0.5L)), static_cast<double>(kPi / 3), 1e-15);
    EXPECT_NEAR(static_cast<double>(ArcSin(-1)), static_cast<double>(-kPi / 2), 1e-15);
    EXPECT_NEAR(static_cast<double>(ArcSin(0.5L)), static_cast<double>(kPi / 6), 1e-15);
    EXPECT_NEAR(static_cast<double>(Tan(kPi / 4)), 1.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(Cotan(kPi / 4)), 1.0, 1e-15);
    for (long double bad : {1.0000001L, -1.0000001L, kNaN, kInf}) {
        EXPECT_THROW(ArcCos(bad), EInvalidOp);
        EXPECT_THROW(ArcSin(bad), EInvalidOp);
    }
    EXPECT_THROW(Cotan(0), EZeroDivide);
    EXPECT_THROW(Cotan(-0.0L), EZeroDivide);
}

TEST(ExtendedMath, LogarithmsAndTheirDomain)
{
    EXPECT_EQ(Log2(8), 3);
    EXPECT_EQ(Log2(0.25L), -2);
    EXPECT_NEAR(static_cast<double>(Log(std::numbers::e_v<long double>)), 1.0, 1e-17);
    EXPECT_NEAR(static_cast<double>(Log10(1000)), 3.0, 1e-15);
    EXPECT_EQ(Log(1), 0);
    for (auto f : {Log, Log2, Log10}) {
        EXPECT_THROW(f(0), EZeroDivide);
        EXPECT_THROW(f(-0.0L), EZeroDivide);
        EXPECT_THROW(f(-1), EInvalidOp);
        EXPECT_THROW(f(kNaN), EInvalidOp);
    }
}

TEST(ExtendedMath, PowAndItsDomain)
{
    EXPECT_EQ(Pow(2, 10), 1024);
    EXPECT_EQ(Pow(2, -3), 0.125L);
    EXPECT_NEAR(static_cast<double>(Pow(10, 0.5L)), std::sqrt(10.0), 1e-14);
    EXPECT_NEAR(static_cast<double>(Pow(3, 4) / 81), 1.0, 1e-17);
    EXPECT_EQ(Pow(7, 0), 1);
    EXPECT_EQ(Pow(0, 2.5L), 0);
    EXPECT_EQ(Pow(2, 20000), kInf);
    EXPECT_EQ(Pow(2, -20000), 0);
    EXPECT_THROW(Pow(-2, 2), EInvalidOp);
    EXPECT_THROW(Pow(0, 0), EInvalidOp);
    EXPECT_THROW(Pow(0, -1), EZeroDivide);
    EXPECT_THROW(Pow(kNaN, 1), EInvalidOp);
    EXPECT_THROW(Pow(kInf, 0), EInvalidOp);
}

} // namespace
} // namespace orvelle
