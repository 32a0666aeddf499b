#include "util/LittleEndian.h"
#include "util/Mmmuldiv.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>

namespace orvelle {
namespace {

TEST(LittleEndian, LoadsAndStoresRoundTrip)
{
    uint8_t b[8] = {0x01, 0x02, 0x03, 0x84, 0x05, 0x06, 0x07, 0x88};
    EXPECT_EQ(loadLe16(b), 0x0201u);
    EXPECT_EQ(loadLe24(b), 0x030201u);
    EXPECT_EQ(loadLe32(b), 0x84030201u);
    EXPECT_EQ(loadLe64(b), 0x8807060584030201ull);
    uint8_t out[8] = {};
    storeLe64(out, 0x8807060584030201ull);
    EXPECT_EQ(0, std::memcmp(out, b, 8));
    storeLe24(out, 0xFFABCDEF); // only three bytes are written
    EXPECT_EQ(out[0], 0xEF);
    EXPECT_EQ(out[2], 0xAB);
    EXPECT_EQ(out[3], 0x84);
}

TEST(LittleEndian, ReaderRefusesWhatDoesNotFit)
{
    const uint8_t b[5] = {1, 0, 2, 0, 0};
    LeReader r(b, sizeof b);
    EXPECT_EQ(r.u16(), 1u);
    EXPECT_EQ(r.u16(), 2u);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.u32(), 0u); // one byte left
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.offset(), 4u); // a failed read does not move
    EXPECT_EQ(r.u8(), 0u);
    EXPECT_TRUE(r.bytes(2).empty());
    EXPECT_FALSE(r.seek(6));
    EXPECT_TRUE(r.seek(5));
    EXPECT_EQ(r.remaining(), 0u);
}

TEST(LittleEndian, WriterRefusesWhatDoesNotFit)
{
    uint8_t b[6] = {};
    LeWriter w(b, sizeof b);
    w.u32(0x04030201);
    EXPECT_TRUE(w.ok());
    w.u24(0xAAAAAA); // two bytes left: nothing is written
    EXPECT_FALSE(w.ok());
    EXPECT_EQ(b[4], 0);
    w.u16(0x0605);
    EXPECT_EQ(b[5], 6);
    EXPECT_EQ(w.offset(), 6u);
}

struct RoundCase {
    int64_t a, b, c, expected;
};

TEST(MulDivRound, RoundsHalvesAwayFromZeroForEverySign)
{
    const RoundCase cases[] = {
        {5, 1, 2, 3},
        {-5, 1, 2, -3},
        {5, 1, -2, -3},
        {-5, 1, -2, 3},
        {7, 1, 4, 2},
        {5, 1, 4, 1},
        {0, 7, 3, 0},
        {1, 1, 0, 0},
        {44100, 1000, 44100, 1000},
        {INT64_MAX, 2, 2, INT64_MAX},
        {INT64_MAX, INT64_MAX, 1, INT64_MAX},
        {INT64_MIN, 3, 1, INT64_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mulDivRound64(c.a, c.b, c.c), c.expected) << c.a << "*" << c.b << "/" << c.c;
}

TEST(MulDivRound, SaturatedFormClampsToInt32)
{
    EXPECT_EQ(mulDivRoundSaturated(INT_MAX, 1000, 1), INT_MAX);
    EXPECT_EQ(mulDivRoundSaturated(INT_MIN, 1000, 1), INT_MIN);
    EXPECT_EQ(mulDivRoundSaturated(3, 1, 0), 0);
    EXPECT_EQ(mulDivRoundSaturated(-3, 1, 2), -2);
    EXPECT_EQ(mulDivRoundSaturated(4294967295LL, 2147483648LL, 4294967295LL), INT_MAX);
}

TEST(LittleEndian, ReadsAtAnOffsetOnlyInside)
{
    const std::vector<uint8_t> b = le32Bytes(0x84030201u);
    ASSERT_EQ(b, (std::vector<uint8_t>{0x01, 0x02, 0x03, 0x84}));
    EXPECT_EQ(readLe32(b, 0), 0x84030201u);
    EXPECT_EQ(readLe16(b, 2), 0x8403u);
    EXPECT_EQ(readLe32(b, 1), 0u); // runs past the end
    EXPECT_EQ(readLe16(b, 3), 0u);
    EXPECT_EQ(readLe32(b, SIZE_MAX), 0u);
}

} // namespace
} // namespace orvelle
