#include "util/Mmutils.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace orvelle {
namespace {

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

struct ClampCase {
    int32_t x, a, b;
    int32_t minMax, limit;
    bool inMinMax, inRange;
};

TEST(Clamping, TableOfBoundsInBothOrders)
{
    const ClampCase cases[] = {
        {3, 10, 5, 10, 5, false, false},
        {7, 10, 5, 10, 7, false, true},
        {12, 10, 5, 5, 10, false, false},
        {5, 10, 5, 10, 5, false, true},
        {10, 10, 5, 5, 10, false, true},
        {3, 5, 10, 5, 5, false, false},
        {7, 5, 10, 7, 7, true, true},
        {12, 5, 10, 10, 10, false, false},
        {5, 5, 10, 5, 5, true, true},
        {10, 5, 10, 10, 10, true, true},
        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MIN, true, true},
        {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, INT32_MAX, false, true},
        {-1, 0, 0, 0, 0, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MinMax(c.x, c.a, c.b), c.minMax) << c.x << " " << c.a << " " << c.b;
        EXPECT_EQ(Limit(c.x, c.a, c.b), c.limit) << c.x << " " << c.a << " " << c.b;
        EXPECT_EQ(InMinMax(c.x, c.a, c.b), c.inMinMax) << c.x << " " << c.a << " " << c.b;
        EXPECT_EQ(InRange(c.x, c.a, c.b), c.inRange) << c.x << " " << c.a << " " << c.b;
    }
}

TEST(RoutineTable, EveryEntryIsSetAndTheNamesReachIt)
{
    const TMMUtilsRoutines& t = mmUtilsRoutines;
    const void* entries[] = {
        reinterpret_cast<const void*>(t.SwapSmall),
        reinterpret_cast<const void*>(t.SwapInt),
        reinterpret_cast<const void*>(t.SwapLong),
        reinterpret_cast<const void*>(t.Min),
        reinterpret_cast<const void*>(t.Max),
        reinterpret_cast<const void*>(t.MinMax),
        reinterpret_cast<const void*>(t.Limit),
        reinterpret_cast<const void*>(t.InMinMax),
        reinterpret_cast<const void*>(t.InRange),
        reinterpret_cast<const void*>(t.incHuge),
        reinterpret_cast<const void*>(t.GlobalFillMem),
        reinterpret_cast<const void*>(t.GlobalFillLong),
        reinterpret_cast<const void*>(t.GlobalMoveMem),
        reinterpret_cast<const void*>(t.GlobalCmpMem),
    };
    for (const void* e : entries)
        EXPECT_NE(e, nullptr);
    EXPECT_EQ(t.Limit(12, 10, 5), Limit(12, 10, 5));
}

TEST(Swaps, ExchangeAndIncHugeWraps)
{
    int16_t s1 = -1, s2 = 32767;
    SwapSmall(s1, s2);
    EXPECT_EQ(s1, 32767);
    EXPECT_EQ(s2, -1);
    int32_t a = INT32_MIN, b = 7;
    SwapInt(a, b);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, INT32_MIN);
    SwapLong(a, b);
    EXPECT_EQ(a, INT32_MIN);
    EXPECT_EQ(b, 7);
    int32_t v = INT32_MAX;
    incHuge(v, 1);
    EXPECT_EQ(v, INT32_MIN);
    incHuge(v, -1);
    EXPECT_EQ(v, INT32_MAX);
    incHuge(v, -5);
    EXPECT_EQ(v, INT32_MAX - 5);
}

TEST(GlobalMemory, FillLongWritesWordsThenLowBytes)
{
    for (int32_t count : {-4, 0, 1, 3, 4, 7, 9}) {
        uint8_t buf[12];
        std::memset(buf, 0xEE, sizeof buf);
        GlobalFillLong(buf, count, 0x44332211u);
        for (int32_t i = 0; i < 12; ++i) {
            uint8_t want = 0xEE;
            if (i < count)
                want = i < count / 4 * 4 ? static_cast<uint8_t>(0x11 * (i % 4 + 1)) : 0x11;
            EXPECT_EQ(buf[i], want) << "count " << count << " byte " << i;
        }
    }
}

TEST(GlobalMemory, CompareFindsADifferenceInWordsAndInTail)
{
    uint8_t a[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    uint8_t b[11];
    std::memcpy(b, a, sizeof a);
    EXPECT_TRUE(GlobalCmpMem(a, b, 11));
    for (uint32_t i = 0; i < 11; ++i) {
        b[i] ^= 0x80;
        EXPECT_FALSE(GlobalCmpMem(a, b, 11)) << i;
        EXPECT_TRUE(GlobalCmpMem(a, b, i)) << i;
        b[i] ^= 0x80;
    }
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
    // A failed re-allocation has already released the old block and leaves the pointer null.
    void* q = GlobalAllocMem(8);
    EXPECT_THROW(GlobalReAllocMem(q, -1), std::bad_alloc);
    EXPECT_EQ(q, nullptr);
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
