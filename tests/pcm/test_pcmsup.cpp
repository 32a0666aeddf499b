#include "pcm/Mmpcmsup.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace orvelle
