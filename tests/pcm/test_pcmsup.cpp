#include "pcm/Mmpcmsup.h"

#include <gtest/gtest.h>

#include <climits>

namespace orvelle {
namespace {

TEST(PcmHeader, BuildsAndValidates)
{
    TWaveFormatEx f{};
    f.cbSize = 99;
    pcmBuildWaveHeader(&f, 16, 2, 44100);
    EXPECT_EQ(f.wFormatTag, 1);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_TRUE(pcmIsValidFormat(&f));
    struct Case {
        int bits, channels, rate;
        bool valid;
    } cases[] = {{8, 1, 4000, true}, {16, 2, 100000, true}, {24, 2, 44100, false}, {16, 3, 44100, false},
        {16, 1, 3999, false}, {16, 1, 100001, false}};
    for (const auto& c : cases) {
        pcmBuildWaveHeader(&f, c.bits, c.channels, c.rate);
        EXPECT_EQ(pcmIsValidFormat(&f), c.valid) << c.bits << "/" << c.channels << "/" << c.rate;
    }
    f.wFormatTag = 3;
    EXPECT_FALSE(pcmIsValidFormat(&f));
    EXPECT_FALSE(pcmIsValidFormat(nullptr));
}

// Block align is computed in 32 unsigned bits and stored in 16; the byte rate wraps in
// its 32 bits. No product may overflow a signed value on the way.
TEST(PcmHeader, WrapsWhereTheFieldsAreStored)
{
    struct Case {
        uint16_t bits, channels;
        int32_t rate;
        uint16_t align;
        uint32_t avg;
    } cases[] = {
        {8, 2, 22050, 2, 44100}, {65535, 65535, 100000, 49152, 620232704u}, // 65535 * 65535 / 8 = 536854528
        {16, 2, INT32_MAX, 4, 4294967292u}, {24, 65535, 48000, 65533, 3145584000u}, // 196605 wraps to 65533 in 16 bits
    };
    for (const auto& c : cases) {
        TWaveFormatEx f{};
        pcmBuildWaveHeader(&f, c.bits, c.channels, c.rate);
        EXPECT_EQ(f.nBlockAlign, c.align) << c.bits << "/" << c.channels << "/" << c.rate;
        EXPECT_EQ(f.nAvgBytesPerSec, c.avg) << c.bits << "/" << c.channels << "/" << c.rate;
        EXPECT_EQ(f.nChannels, c.channels);
        EXPECT_EQ(f.wBitsPerSample, c.bits);
    }
}

} // namespace
} // namespace orvelle
