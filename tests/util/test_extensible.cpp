#include "util/Mmtypes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace orvelle {
namespace {

// The 40-byte "fmt " body sox writes for 24-bit stereo at 48 kHz.
const std::vector<uint8_t> kSoxFmt = {0xfe, 0xff, 0x02, 0x00, 0x80, 0xbb, 0x00, 0x00, 0x00, 0x65, 0x04, 0x00, 0x06,
    0x00, 0x18, 0x00, 0x16, 0x00, 0x18, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
    0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

const TWaveFormatEx* asFormat(const std::vector<uint8_t>& b)
{
    return reinterpret_cast<const TWaveFormatEx*>(b.data());
}

TEST(Extensible, ReadsTheFieldsOfAStandardRecord)
{
    ExtensibleInfo info;
    ASSERT_TRUE(readExtensible(asFormat(kSoxFmt), static_cast<int32_t>(kSoxFmt.size()), info));
    EXPECT_EQ(info.validBits, 24);
    EXPECT_EQ(info.channelMask, 3u);
    EXPECT_TRUE(info.knownSubFormat);
    EXPECT_EQ(info.subFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(info.subFormat[0], 0x01);
}

TEST(Extensible, SubFormatTagIsTheGuidHeadOnlyWithTheStandardSuffix)
{
    std::vector<uint8_t> b = kSoxFmt;
    b[24] = 0x03; // IEEE float
    ExtensibleInfo info;
    ASSERT_TRUE(readExtensible(asFormat(b), 40, info));
    EXPECT_TRUE(info.knownSubFormat);
    EXPECT_EQ(info.subFormatTag, WAVE_FORMAT_IEEE_FLOAT);

    b[39] = 0x00; // last byte of the suffix differs: some other GUID
    ASSERT_TRUE(readExtensible(asFormat(b), 40, info));
    EXPECT_FALSE(info.knownSubFormat);
    EXPECT_EQ(info.subFormatTag, 0);
    EXPECT_EQ(info.subFormat[15], 0x00);
}

TEST(Extensible, RefusesWhatIsNotAWholeExtensibleRecord)
{
    struct Case {
        const char* what;
        size_t byte;
        uint8_t value;
        int32_t available;
    };
    const Case cases[] = {
        {"another tag", 0, 0x01, 40},
        {"cbSize below 22", 16, 21, 40},
        {"bytes end inside the GUID", 0, 0xfe, 39},
        {"only the head", 0, 0xfe, 18},
        {"negative count", 0, 0xfe, -1},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = kSoxFmt;
        b[c.byte] = c.value;
        ExtensibleInfo info;
        info.validBits = 7;
        EXPECT_FALSE(readExtensible(asFormat(b), c.available, info)) << c.what;
        EXPECT_EQ(info.validBits, 0) << c.what;
    }
    ExtensibleInfo info;
    EXPECT_FALSE(readExtensible(nullptr, 40, info));
}

} // namespace
} // namespace orvelle
