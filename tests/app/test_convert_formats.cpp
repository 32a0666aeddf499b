// ConvertFile on extensible and IEEE float files (made by sox, ffmpeg and by hand): the
// converted file against an image built independently from the source's bytes (its whole
// format record, data from the rule, "fact", the kept INFO items), and the formats that
// are still left alone.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "CrossCancelOracle.h"
#include "TestSupport.h"
#include "app/CoreSouece.h"
#include "wave/Mmwave.h"

namespace orvelle {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

using test::Chunk;
using test::TopLevelChunks;

Chunk onlyChunk(const Bytes& f, const std::string& id)
{
    for (const Chunk& c : TopLevelChunks(f))
        if (c.id == id)
            return c;
    ADD_FAILURE() << "no \"" << id << "\" chunk";
    return {"", 0, 0};
}

Bytes bodyOf(const Bytes& f, const Chunk& c) { return Bytes(f.begin() + c.at, f.begin() + c.at + c.size); }

// The samples' encoding, read from the record itself: tag 3, or extensible (0xFFFE)
// whose sub-format GUID starts with 3, is float.
bool isFloatFormat(const Bytes& fmt)
{
    const uint16_t tag = test::GetLE16(fmt, 0);
    return tag == 3 || (tag == 0xFFFE && fmt.size() >= 26 && test::GetLE16(fmt, 24) == 3);
}

// The converted file as the engine lays it out: "fmt " with the source's record (18 +
// cbSize bytes; 18 for a 16-byte PCM chunk), "data" from the rule, "fact" with the frame
// count, then the source's INFO texts in table order.
Bytes expectedImage(const Bytes& source, int32_t percent)
{
    for (const Chunk& c : TopLevelChunks(source))
        EXPECT_NE(c.id, "DISP") << "these sources carry no DISP chunks";
    const Bytes fmtBody = bodyOf(source, onlyChunk(source, "fmt "));
    Bytes record(fmtBody.begin(), fmtBody.begin() + std::min<size_t>(fmtBody.size(), 18));
    record.resize(18, 0);
    const uint16_t tag = test::GetLE16(record, 0);
    if (tag != 1)
        record.insert(record.end(), fmtBody.begin() + 18, fmtBody.begin() + 18 + test::GetLE16(record, 16));
    const uint16_t blockAlign = test::GetLE16(record, 12), bits = test::GetLE16(record, 14);

    const Chunk data = onlyChunk(source, "data");
    const size_t dataBytes = data.size / blockAlign * blockAlign;
    const Bytes samples(source.begin() + data.at, source.begin() + data.at + dataBytes);
    Bytes fact;
    test::PutLE32(fact, static_cast<uint32_t>(dataBytes / blockAlign));

    Bytes chunks;
    test::PutChunk(chunks, "fmt ", record);
    test::PutChunk(chunks, "data", test::crossCancelData(samples, bits, isFloatFormat(record), percent));
    test::PutChunk(chunks, "fact", fact);
    test::PutInfoList(chunks, test::InfoTexts(source));
    return test::RiffWave(chunks);
}

// The file with its "fmt " chunk replaced by `fmt`; every other chunk stays.
Bytes withFormat(const Bytes& wave, const Bytes& fmt)
{
    Bytes chunks;
    for (const Chunk& c : TopLevelChunks(wave))
        test::PutChunk(chunks, c.id.c_str(), c.id == "fmt " ? fmt : bodyOf(wave, c));
    return test::RiffWave(chunks);
}

// A 40-byte extensible record for the 18-byte head of `wave`'s format.
Bytes extensibleRecord(const Bytes& wave, uint16_t validBits, uint32_t mask, const Bytes& guid)
{
    Bytes fmt = bodyOf(wave, onlyChunk(wave, "fmt "));
    fmt.resize(16);
    fmt[0] = 0xFE;
    fmt[1] = 0xFF;
    test::PutLE16(fmt, 22);
    test::PutLE16(fmt, validBits);
    test::PutLE32(fmt, mask);
    test::Append(fmt, guid);
    return fmt;
}

// {0000TTTT-0000-0010-8000-00AA00389B71} as stored.
Bytes standardGuid(uint16_t tag)
{
    Bytes g;
    test::PutLE32(g, tag);
    test::Append(g, {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
    return g;
}

bool haveSox() { return std::system("command -v sox >/dev/null 2>&1") == 0; }

// A two-tone file from sox: `format` as sox's options (channels, bits, encoding).
Bytes soxFile(const test::TempDir& dir, const std::string& format)
{
    const std::string out = dir.file("sox.wav");
    const std::string cmd =
        "sox -n -r 44100 " + format + " '" + out + "' synth 0.2 sine 440 sine 660 gain -0.5 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return test::ReadFileBytes(out);
}

// Converts a copy of `original` at 0, 30 and 100 % and compares it with the expected
// image; the backup holds the original.
void expectConverted(const Bytes& original)
{
    for (int32_t p : {0, 30, 100}) {
        SCOPED_TRACE("at " + std::to_string(p));
        test::TempDir dir;
        const std::string name = dir.file("in.wav");
        test::WriteFileBytes(name, original);
        ASSERT_TRUE(TCoreForm().ConvertFile(name, p));
        EXPECT_EQ(test::ReadFileBytes(name), expectedImage(original, p));
        EXPECT_EQ(test::ReadFileBytes(dir.file("in.org")), original);
        EXPECT_EQ(test::FileNamesIn(dir.path()), (std::set<std::string>{"in.wav", "in.org"}));
    }
}

TEST(ConvertFormats, SoxExtensibleAndFloatFiles)
{
    if (!haveSox())
        GTEST_SKIP() << "sox is not installed";
    const struct {
        const char* options;
        uint16_t tag; // what sox writes, checked so that the case tests what it says
    } cases[] = {
        {"-c 2 -b 24 -e signed-integer", 0xFFFE},
        {"-c 2 -b 32 -e signed-integer", 0xFFFE},
        {"-c 3 -b 16 -e signed-integer", 0xFFFE}, // pairs run across frames, as for tag 1
        {"-c 4 -b 8 -e unsigned-integer", 0xFFFE},
        {"-c 2 -b 32 -e floating-point", 3},
        {"-c 2 -b 64 -e floating-point", 3},
        {"-c 1 -b 32 -e floating-point", 3},
        {"-c 3 -b 64 -e floating-point", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options);
        test::TempDir made;
        const Bytes original = soxFile(made, c.options);
        ASSERT_EQ(test::GetLE16(original, 20), c.tag);
        expectConverted(original);
    }
}

// Float data in an extensible record (as other programs write it): the record stays
// whole, channel mask and valid bits included.
TEST(ConvertFormats, ExtensibleFloatKeepsItsRecord)
{
    if (!haveSox())
        GTEST_SKIP() << "sox is not installed";
    for (const char* bits : {"32", "64"}) {
        SCOPED_TRACE(bits);
        test::TempDir made;
        const Bytes plain = soxFile(made, std::string("-c 2 -e floating-point -b ") + bits);
        const Bytes original =
            withFormat(plain, extensibleRecord(plain, static_cast<uint16_t>(std::atoi(bits)), 0x3, standardGuid(3)));
        expectConverted(original);
        test::TempDir dir;
        test::WriteFileBytes(dir.file("in.wav"), original);
        ASSERT_TRUE(TCoreForm().ConvertFile(dir.file("in.wav"), 30));
        const Bytes written = test::ReadFileBytes(dir.file("in.wav"));
        EXPECT_EQ(bodyOf(written, onlyChunk(written, "fmt ")), bodyOf(original, onlyChunk(original, "fmt ")));
    }
}

TEST(ConvertFormats, SampleFilesOfOtherPrograms)
{
    ORVELLE_REQUIRE_SAMPLES();
    for (const char* file :
        {"sox-24-extensible-s.wav", "ffmpeg-24-extensible-s.wav", "ffmpeg-16-6ch-s.wav", "sox-float-s.wav"}) {
        SCOPED_TRACE(file);
        expectConverted(test::ReadFileBytes(test::SamplesDir() / file));
    }
}

// NaNs, infinities, denormals, signed zeros and the extremes go through the whole file
// as the arithmetic gives them: nothing is clamped or flushed.
template <typename T> Bytes specialFloatWave()
{
    using L = std::numeric_limits<T>;
    const T values[] = {T(0), -T(0), L::denorm_min(), -L::min(), L::max(), L::lowest(), L::infinity(), -L::infinity(),
        L::quiet_NaN(), T(0.25), T(-1), T(1), L::max(), L::max()};
    Bytes data;
    for (T v : values) {
        const size_t at = data.size();
        data.resize(at + sizeof v);
        std::memcpy(data.data() + at, &v, sizeof v);
    }
    data.resize(data.size() + sizeof(T) / 2, 0x5A); // half a sample after the last frame
    Bytes fmt;
    test::PutLE16(fmt, 3);
    test::PutLE16(fmt, 2);
    test::PutLE32(fmt, 8000);
    test::PutLE32(fmt, 8000 * 2 * sizeof(T));
    test::PutLE16(fmt, 2 * sizeof(T));
    test::PutLE16(fmt, 8 * sizeof(T));
    test::PutLE16(fmt, 0);
    Bytes chunks;
    test::PutChunk(chunks, "fmt ", fmt);
    test::PutChunk(chunks, "data", data);
    return test::RiffWave(chunks);
}

TEST(ConvertFormats, SpecialFloatValuesPassThroughTheFile)
{
    expectConverted(specialFloatWave<float>());
    expectConverted(specialFloatWave<double>());
    // Spot check without the reference: max - (-max) overflows to +inf at 32 bits.
    test::TempDir dir;
    test::WriteFileBytes(dir.file("in.wav"), specialFloatWave<float>());
    ASSERT_TRUE(TCoreForm().ConvertFile(dir.file("in.wav"), 100));
    const Bytes written = test::ReadFileBytes(dir.file("in.wav"));
    const Chunk data = onlyChunk(written, "data");
    float frame[2];
    std::memcpy(frame, written.data() + data.at + 16, 8); // (max, lowest)
    EXPECT_EQ(frame[0], std::numeric_limits<float>::infinity());
    EXPECT_EQ(frame[1], -std::numeric_limits<float>::infinity());
}

// Formats that are still left alone: false, and no file is made, changed or moved.
TEST(ConvertFormats, OtherFormatsAreLeftAlone)
{
    ORVELLE_REQUIRE_SAMPLES();
    const Bytes ext = test::ReadFileBytes(test::SamplesDir() / "sox-24-extensible-s.wav");
    Bytes foreignGuid = standardGuid(1);
    foreignGuid[4] = 0x21; // {00000001-0721-11D3-8644-C8C1CA000000}, ambisonic PCM
    foreignGuid[5] = 0x07;
    foreignGuid[6] = 0xD3;
    foreignGuid[7] = 0x11;
    const uint8_t rest[] = {0x86, 0x44, 0xC8, 0xC1, 0xCA, 0x00, 0x00, 0x00};
    std::memcpy(foreignGuid.data() + 8, rest, sizeof rest);
    Bytes shortExt = bodyOf(ext, onlyChunk(ext, "fmt "));
    shortExt.resize(18);
    shortExt[16] = 0; // an extensible tag without its fields
    const struct {
        std::string name;
        Bytes bytes;
    } cases[] = {
        {"sox-alaw-s.wav", test::ReadFileBytes(test::SamplesDir() / "sox-alaw-s.wav")},
        {"sox-ulaw-s.wav", test::ReadFileBytes(test::SamplesDir() / "sox-ulaw-s.wav")},
        {"sox-imaadpcm-s.wav", test::ReadFileBytes(test::SamplesDir() / "sox-imaadpcm-s.wav")},
        {"sox-msadpcm-stereo-s.wav", test::ReadFileBytes(test::SamplesDir() / "sox-msadpcm-stereo-s.wav")},
        {"extensible A-law", withFormat(ext, extensibleRecord(ext, 24, 3, standardGuid(6)))},
        {"extensible MS ADPCM", withFormat(ext, extensibleRecord(ext, 24, 3, standardGuid(2)))},
        {"extensible in extensible", withFormat(ext, extensibleRecord(ext, 24, 3, standardGuid(0xFFFE)))},
        {"extensible, foreign GUID", withFormat(ext, extensibleRecord(ext, 24, 3, foreignGuid))},
        {"extensible, no fields", withFormat(ext, shortExt)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        test::WriteFileBytes(dir.file("in.wav"), c.bytes);
        EXPECT_FALSE(TCoreForm().ConvertFile(dir.file("in.wav"), 30));
        EXPECT_EQ(test::ReadFileBytes(dir.file("in.wav")), c.bytes);
        EXPECT_EQ(test::FileNamesIn(dir.path()), std::set<std::string>{"in.wav"});
    }
}

// PCM or float at a width the kernels do not take is refused with the width named,
// before anything is written.
TEST(ConvertFormats, UnsupportedWidthsAreRefused)
{
    const struct {
        uint16_t tag;
        uint16_t bits;
        const char* says;
    } cases[] = {
        {3, 16, "16-bit float samples"},
        {3, 24, "24-bit float samples"},
        {0xFFFE, 20, "20-bit samples"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        Bytes fmt;
        test::PutLE16(fmt, c.tag);
        test::PutLE16(fmt, 2);
        test::PutLE32(fmt, 8000);
        test::PutLE32(fmt, 8000u * 2 * c.bits / 8);
        test::PutLE16(fmt, static_cast<uint16_t>(2 * c.bits / 8));
        test::PutLE16(fmt, c.bits);
        test::PutLE16(fmt, c.tag == 0xFFFE ? 22 : 0);
        if (c.tag == 0xFFFE) {
            test::PutLE16(fmt, c.bits);
            test::PutLE32(fmt, 3);
            test::Append(fmt, standardGuid(1));
        }
        Bytes chunks;
        test::PutChunk(chunks, "fmt ", fmt);
        test::PutChunk(chunks, "data", Bytes(60, 0x11));
        const Bytes original = test::RiffWave(chunks);
        test::TempDir dir;
        test::WriteFileBytes(dir.file("in.wav"), original);
        try {
            TCoreForm().ConvertFile(dir.file("in.wav"), 30);
            ADD_FAILURE() << "no exception";
        } catch (const EMMWaveError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
        EXPECT_EQ(test::ReadFileBytes(dir.file("in.wav")), original);
        EXPECT_EQ(test::FileNamesIn(dir.path()), std::set<std::string>{"in.wav"});
    }
}

} // namespace
} // namespace orvelle
