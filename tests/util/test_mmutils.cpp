#include "platform/Exceptions.h"
#include "util/Mmmuldiv.h"
#include "util/Mmutils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace orvelle {
namespace {

struct MulDivCase {
    int32_t a, b, c, expected;
};

TEST(MulDiv32RN, RoundsHalvesAwayFromZero)
{
    const MulDivCase cases[] = {
        {5, 1, 2, 3},
        {-5, 1, 2, -3},
        {7, 1, 4, 2},
        {5, 1, 4, 1},
        {5, 1, -2, -3},
        {-5, -1, 2, 3},
        {0, 7, 3, 0},
        {1000, 1000, 1000, 1000},
        {INT_MAX, 2, 2, INT_MAX},
        {INT_MIN, 1, 1, INT_MIN},
        {1, 1, INT_MAX, 0},
        {INT_MAX, 1, INT_MAX, 1},
        {3, 1, INT_MIN, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MulDiv32RN(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
}

TEST(MulDiv32RN, RaisesOnZeroDivisorAndOverflow)
{
    EXPECT_THROW(MulDiv32RN(1, 1, 0), EDivByZero);
    EXPECT_THROW(MulDiv32RN(INT_MAX, 2, 1), EIntOverflow);
    EXPECT_THROW(MulDiv32RN(INT_MIN, 1, -1), EIntOverflow);
    EXPECT_EQ(MulDiv32(-5, 1, 2), -2);
}

TEST(Clamping, LowBoundIsTestedFirst)
{
    EXPECT_EQ(MinMax(3, 10, 5), 10);
    EXPECT_EQ(MinMax(7, 10, 5), 10);
    EXPECT_EQ(MinMax(12, 10, 5), 5);
    EXPECT_EQ(MinMax(-40000, -32768, 32767), -32768);
    EXPECT_TRUE(InRange(7, 10, 5));
    EXPECT_FALSE(InMinMax(7, 10, 5));
    EXPECT_TRUE(InMinMax(10, 10, 10));
    EXPECT_EQ(Min(3, -3), -3);
    EXPECT_EQ(Max(3, -3), 3);
}

// The size of a block is exactly the size asked for: the metadata lists take it as the
// length of a text or data block.
TEST(GlobalMemory, BlocksAreZeroedAndKnowTheirExactSize)
{
    for (int64_t n : {0, 1, 3, 17, 4097}) {
        void* b = GlobalAllocMem(n);
        EXPECT_EQ(GlobalMemSize(b), n);
        GlobalFreeMem(b);
    }
    void* p = GlobalAllocMem(16);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GlobalMemSize(p), 16);
    static const uint8_t zeros[16] = {};
    EXPECT_EQ(std::memcmp(p, zeros, 16), 0);
    std::memset(p, 0xAB, 16);
    GlobalReAllocMem(p, 32);
    EXPECT_EQ(GlobalMemSize(p), 32);
    EXPECT_TRUE(GlobalCmpMem(p, zeros, 16));
    GlobalFreeMem(p);
    EXPECT_EQ(p, nullptr);
    GlobalFreeMem(p);
    EXPECT_EQ(GlobalMemSize(nullptr), 0);
    EXPECT_THROW(GlobalAllocMem(-1), std::bad_alloc);
}

TEST(GlobalMemory, MoveHandlesOverlapBothWays)
{
    char up[11] = "0123456789";
    GlobalMoveMem(up, up + 1, 9);
    EXPECT_STREQ(up, "0012345678");
    char down[11] = "0123456789";
    GlobalMoveMem(down + 1, down, 9);
    EXPECT_STREQ(down, "1234567899");
    char fill[4] = "abc";
    GlobalFillMem(fill, -1, 'x');
    EXPECT_STREQ(fill, "abc");
    EXPECT_TRUE(GlobalCmpMem("a", "b", 0));
}

} // namespace
} // namespace orvelle
