// The engine's reading side: the scan rules, opening, positioning, reading,
// conversions and format names.
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "util/LittleEndian.h"

#include "platform/Resources.h"
#include "test_engine_support.h"
#include "util/Mmutils.h"

namespace orvelle {
namespace {

using test::Bytes;
using test::cat;
using test::CbHolder;
using test::chunk;
using test::headOf;
using test::pattern;
using test::rawChunk;

Bytes fmtBody(uint16_t tag, uint16_t ch, uint32_t rate, uint32_t avg, uint16_t align, uint16_t bits)
{
    Bytes f;
    appendLe16(f, tag);
    appendLe16(f, ch);
    appendLe32(f, rate);
    appendLe32(f, avg);
    appendLe16(f, align);
    appendLe16(f, bits);
    return f;
}

Bytes fmtChunk(uint16_t ch = 2, uint32_t rate = 8000, uint16_t bits = 16)
{
    return chunk("fmt ", test::PcmFmtBody(ch, rate, bits));
}

Bytes dataChunk(size_t n) { return chunk("data", pattern(n)); }

Bytes withRiffSize(Bytes image, uint32_t size)
{
    storeLe32(image.data() + 4, size);
    return image;
}

Bytes canonicalWave() { return test::RiffWave(cat({fmtChunk(), dataChunk(40)})); }

struct ScanCase {
    const char* name;
    Bytes image;
    int32_t code;
    int32_t dataOffset;
    int32_t dataSize;
    int32_t samples;
    uint16_t blockAlign; // after the PCM correction
};

std::vector<ScanCase> scanCases()
{
    using test::RiffWave;
    const Bytes fmt = fmtChunk();
    const Bytes info = test::infoList("INAM", "Hi");
    const Bytes mono8 = fmtChunk(1, 8000, 8);
    const Bytes odd5 = chunk("data", pattern(5)); // with its pad byte
    Bytes odd5NoPad = rawChunk("data", 5, pattern(5));
    return {
        {"canonical", canonicalWave(), 0, 44, 40, 10, 4},
        {"riff size too big", withRiffSize(canonicalWave(), 5000), 0, 44, 40, 10, 4},
        {"riff size all ones", withRiffSize(canonicalWave(), 0xFFFFFFFF), 0, 44, 40, 10, 4},
        {"data past the end cut to frames", RiffWave(cat({fmt, rawChunk("data", 100, pattern(42))})), 0, 44, 40, 10, 4},
        {"data size all ones",
            withRiffSize(RiffWave(cat({fmt, rawChunk("data", 0xFFFFFFFF, pattern(42))})), 0xFFFFFFFF), 0, 44, 40, 10,
            4},
        {"list after data ends the data", RiffWave(cat({fmt, dataChunk(40), info})), 0, 44, 40, 10, 4},
        // Bytes after the declared data are not samples: a pad byte, a tag after the RIFF chunk.
        {"odd 8-bit data then a chunk: pad is not a frame", RiffWave(cat({mono8, odd5, info})), 0, 44, 5, 5, 1},
        {"odd 8-bit data, pad, nothing after", RiffWave(cat({mono8, odd5})), 0, 44, 5, 5, 1},
        {"tag appended after the riff chunk",
            cat({RiffWave(cat({fmt, dataChunk(40)})), Bytes{'T', 'A', 'G', 1, 2, 3, 4, 5}}), 0, 44, 40, 10, 4},
        {"declared data ends inside a frame", RiffWave(cat({fmt, rawChunk("data", 38, pattern(40))})), 0, 44, 36, 9, 4},
        {"declared size 0 keeps the data to the end", RiffWave(cat({fmt, rawChunk("data", 0, pattern(40))})), 0, 44, 40,
            10, 4},
        {"odd 8-bit data unpadded at the end", RiffWave(cat({mono8, odd5NoPad})), 0, 44, 5, 5, 1},
        {"chunk past riff after data, fmt first",
            RiffWave(cat({fmt, dataChunk(40), rawChunk("junk", 1000, pattern(4))})), 0, 44, 40, 10, 4},
        {"chunk past riff before fmt swallows it",
            RiffWave(cat({dataChunk(40), rawChunk("junk", 1000, pattern(4)), fmt})), wioErrGeneral, 0, 0, 0, 0},
        {"empty data then a second data", RiffWave(cat({fmt, dataChunk(0), dataChunk(40)})), 0, 52, 40, 10, 4},
        {"empty data, second data, then a chunk", RiffWave(cat({fmt, dataChunk(0), dataChunk(40), info})), 0, 52, 40,
            10, 4},
        {"second data chunk ends the scan", RiffWave(cat({fmt, dataChunk(40), dataChunk(8)})), 0, 44, 40, 10, 4},
        {"second fmt ends the scan", RiffWave(cat({fmt, fmt, dataChunk(40)})), 0, 0, 108, 27, 4},
        {"fmt without data", RiffWave(fmt), 0, 0, 36, 9, 4},
        {"wrong stored block align", RiffWave(cat({chunk("fmt ", fmtBody(1, 2, 8000, 5, 3, 16)), dataChunk(40)})), 0,
            44, 39, 10, 4},
        {"fact lies", RiffWave(cat({fmt, chunk("fact", le32Bytes(999)), dataChunk(40)})), 0, 56, 40, 10, 4},
        {"junk before fmt stepped over", RiffWave(cat({chunk("junk", pattern(10)), fmt, dataChunk(40)})), 0, 62, 40, 10,
            4},
        {"data before fmt", RiffWave(cat({dataChunk(40), fmt})), 0, 20, 40, 10, 4},
        {"14-byte fmt of another tag",
            RiffWave(cat({chunk("fmt ", headOf(fmtBody(6, 1, 8000, 8000, 1, 8), 14)), dataChunk(40)})), 0, 42, 40, 40,
            1},
        {"18-byte fmt",
            RiffWave(cat({chunk("fmt ", cat({test::PcmFmtBody(2, 8000, 16), Bytes{0, 0}})), dataChunk(40)})), 0, 46, 40,
            10, 4},
        // Refused.
        {"zero rate", RiffWave(cat({chunk("fmt ", fmtBody(1, 2, 0, 0, 4, 16)), dataChunk(40)})), wioErrFile, 0, 0, 0,
            0},
        {"zero byte rate", RiffWave(cat({chunk("fmt ", fmtBody(1, 2, 8000, 0, 4, 16)), dataChunk(40)})), wioErrFile, 0,
            0, 0, 0},
        {"zero block align", RiffWave(cat({chunk("fmt ", fmtBody(1, 2, 8000, 32000, 0, 16)), dataChunk(40)})),
            wioErrFile, 0, 0, 0, 0},
        {"zero channels", RiffWave(cat({chunk("fmt ", fmtBody(1, 0, 8000, 32000, 4, 16)), dataChunk(40)})), wioErrFile,
            0, 0, 0, 0},
        {"pcm frame under a byte", RiffWave(cat({chunk("fmt ", fmtBody(1, 1, 8000, 8000, 1, 4)), dataChunk(40)})),
            wioErrFile, 0, 0, 0, 0},
        {"non-pcm zero block align", RiffWave(cat({chunk("fmt ", fmtBody(2, 1, 8000, 4000, 0, 4)), dataChunk(40)})),
            wioErrFile, 0, 0, 0, 0},
        {"pcm fmt of 14 bytes has no bits",
            RiffWave(cat({chunk("fmt ", headOf(fmtBody(1, 2, 8000, 32000, 4, 16), 14)), dataChunk(40)})), wioErrFile, 0,
            0, 0, 0},
        {"empty fmt", RiffWave(cat({chunk("fmt ", {}), dataChunk(40)})), wioErrFile, 0, 0, 0, 0},
        {"no fmt", RiffWave(dataChunk(40)), wioErrGeneral, 0, 0, 0, 0},
        {"junk all ones before fmt", RiffWave(cat({rawChunk("junk", 0xFFFFFFFF, pattern(4)), fmt, dataChunk(40)})),
            wioErrGeneral, 0, 0, 0, 0},
    };
}

// Each image is described from memory and from a disk file, with the same result.
TEST(EngineScan, RulesTable)
{
    test::TempDir dir;
    for (const ScanCase& c : scanCases()) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("scan.wav");
        test::WriteFileBytes(path, c.image);
        for (bool memory : {true, false}) {
            SCOPED_TRACE(memory ? "memory" : "disk");
            CbHolder h;
            ASSERT_EQ(memory ? test::scanImage(h, c.image) : test::scanFile(h, path), c.code);
            if (c.code != 0) {
                EXPECT_EQ(h.cb, nullptr);
                continue;
            }
            ASSERT_NE(h.cb, nullptr);
            EXPECT_EQ(h->Handle, nullptr);
            EXPECT_EQ(h->DataOffset, c.dataOffset);
            EXPECT_EQ(h->DataSize, c.dataSize);
            EXPECT_EQ(h->SampleCount, c.samples);
            EXPECT_EQ(h->FileSize, static_cast<int32_t>(c.image.size()));
            EXPECT_EQ(h->Format.nBlockAlign, c.blockAlign);
            EXPECT_EQ(h->Format.nAvgBytesPerSec, h->Format.nSamplesPerSec * c.blockAlign);
            EXPECT_EQ(h->FirstSample, 0);
            EXPECT_EQ(h->LastSample, c.samples);
            EXPECT_EQ(h->BytesLeft, 0);
            EXPECT_EQ(h->SamplePos, 0);
        }
    }
}

TEST(EngineScan, Refusals)
{
    Bytes rifx = canonicalWave();
    std::memcpy(rifx.data(), "RIFX", 4);
    Bytes avi = canonicalWave();
    std::memcpy(avi.data() + 8, "AVI ", 4);
    const Bytes canonical = canonicalWave();
    const std::string text = "This is not a wave file at all, just some text.";
    const struct {
        const char* name;
        Bytes image;
    } cases[] = {
        {"RIFX", rifx},
        {"not WAVE", avi},
        {"header only", Bytes(canonical.begin(), canonical.begin() + 8)},
        {"text", Bytes(text.begin(), text.end())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CbHolder h;
        EXPECT_EQ(test::scanImage(h, c.image), wioErrFile);
        EXPECT_EQ(h.cb, nullptr);
    }
    CbHolder h;
    MMIOINFO empty{};
    EXPECT_EQ(wioReadFileInfo(h.cb, reinterpret_cast<const char*>(&empty), FOURCC_WAVE, wioSrcMemory), wioErrFile);
    EXPECT_EQ(wioReadFileInfo(h.cb, "/no/such/file.wav", FOURCC_WAVE, wioSrcFile), wioErrFile);
    EXPECT_EQ(wioReadFileInfo(h.cb, nullptr, FOURCC_WAVE, wioSrcFile), wioErrBadParam);
    EXPECT_EQ(h.cb, nullptr);
}

TEST(EngineScan, CanonicalFormatAndRoom)
{
    CbHolder h;
    ASSERT_EQ(test::scanImage(h, canonicalWave()), 0);
    EXPECT_EQ(h->Format.cbSize, 0);
    EXPECT_EQ(h->Format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(h->Format.nChannels, 2);
    EXPECT_EQ(h->Format.wBitsPerSample, 16);
    EXPECT_GE(wioFormatRoom(h.cb), 18);
    EXPECT_EQ(wioFormatRoom(nullptr), 0);
}

// A format chunk whose stated size runs past the end holds only the bytes that are there,
// and a cbSize claiming more extra bytes than that is cut to the bytes there.
TEST(EngineScan, FormatIsCutToTheFile)
{
    Bytes body = fmtBody(2, 1, 8000, 4000, 256, 4);
    appendLe16(body, 200); // cbSize: far more than the chunk holds
    Bytes extra = pattern(32 - body.size(), 0x40);
    body.insert(body.end(), extra.begin(), extra.end()); // 32 bytes present
    Bytes image = test::RiffWave(rawChunk("fmt ", 4000, body));
    CbHolder h;
    ASSERT_EQ(test::scanImage(h, image), 0);
    EXPECT_EQ(h->Format.cbSize, 14);
    EXPECT_GE(wioFormatRoom(h.cb), 32);

    TWaveFormatEx* copy = wioCopyWaveFormat(&h->Format);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(GlobalMemSize(copy), 32);
    body[16] = 14;
    EXPECT_EQ(std::memcmp(copy, body.data(), 32), 0);
    GlobalFreeMem(copy);
}

TEST(EngineScan, MetadataIsRead)
{
    Bytes disp = cat({le32Bytes(1), Bytes{'a', 'b', 0}});
    Bytes image = test::RiffWave(cat({test::infoList("IART", "Band"), fmtChunk(), dataChunk(40), chunk("DISP", disp)}));
    CbHolder h;
    ASSERT_EQ(test::scanImage(h, image), 0);
    ASSERT_NE(h->InfoList, nullptr);
    TInfoData* item = RiffFindPIINFO(h->InfoList, mmioFourCC('I', 'A', 'R', 'T'));
    ASSERT_NE(item, nullptr);
    ASSERT_NE(RiffInfoText(h->InfoList, item), nullptr);
    EXPECT_STREQ(RiffInfoText(h->InfoList, item), "Band");
    ASSERT_NE(h->DispList, nullptr);
    ASSERT_NE(h->DispList->Items, nullptr);
    EXPECT_EQ(h->DispList->Items->ClipFormat, 1u);
}

TEST(EngineScan, InfoOnlyKeepsOnlyTheLists)
{
    test::TempDir dir;
    const std::string path = dir.file("a.wav");
    test::WriteFileBytes(path, test::RiffWave(cat({test::infoList("INAM", "Hi"), dataChunk(40)}))); // no fmt
    CbHolder h;
    ASSERT_EQ(wioReadFileInfo(h.cb, path.c_str(), FOURCC_WAVE, wioSrcInfoOnly), 0);
    EXPECT_EQ(h->Flags, wioSrcInfoOnly);
    EXPECT_EQ(h->DataSize, 0);
    EXPECT_EQ(h->Format.nChannels, 0);
    EXPECT_STREQ(static_cast<const char*>(h->Source), path.c_str());
    EXPECT_STREQ(RiffInfoText(h->InfoList, RiffFindPIINFO(h->InfoList, mmioFourCC('I', 'N', 'A', 'M'))), "Hi");
}

TEST(EngineScan, ResourceKind)
{
    static const Bytes image = canonicalWave();
    RegisterResource("EngineTestWave", image.data(), image.size());
    CbHolder h;
    ASSERT_EQ(wioReadFileInfo(h.cb, "ENGINETESTWAVE", FOURCC_WAVE, wioSrcResource), 0);
    EXPECT_EQ(h->DataOffset, 44);
    EXPECT_EQ(h->SampleCount, 10);
    EXPECT_EQ(h->ResHandle, 0u); // closed again
    ASSERT_EQ(wioWaveOpen(h.cb), 0);
    EXPECT_NE(h->ResHandle, 0u);
    char buf[64];
    EXPECT_EQ(wioWaveReadData(h.cb, buf, 64), 40);
    EXPECT_EQ(std::memcmp(buf, image.data() + 44, 40), 0);
    EXPECT_EQ(wioWaveClose(h.cb), 0);
    EXPECT_EQ(h->ResHandle, 0u);

    CbHolder missing;
    EXPECT_EQ(wioReadFileInfo(missing.cb, "NoSuchResource", FOURCC_WAVE, wioSrcResource), wioErrFile);
    UnregisterResource("EngineTestWave");
    EXPECT_EQ(FindResource("EngineTestWave").data, nullptr);
}

// Sizes beyond the engine's signed 32-bit counts are refused, never wrapped. The file is
// sparse: it takes no room on the disk.
TEST(EngineScan, FileBeyond2GiBIsRefused)
{
    test::TempDir dir;
    const std::string path = dir.file("big.wav");
    test::WriteFileBytes(path, withRiffSize(canonicalWave(), 0xFFFFFFFF));
    if (::truncate(path.c_str(), int64_t{3} << 30) != 0)
        GTEST_SKIP() << "cannot make a sparse file here";
    CbHolder h;
    EXPECT_EQ(test::scanFile(h, path), wioErrFile);
    EXPECT_EQ(h.cb, nullptr);
}

// Running as root, permissions do not stop an open; the failure an ordinary user meets is
// then injected for opens that ask for writing.
// A file that may be read but not written is described, opened and read like any other;
// nothing is written to it.
TEST(EngineScan, ReadOnlyDiskFileIsRead)
{
    test::TempDir dir;
    const std::string path = dir.file("ro.wav");
    const Bytes image = canonicalWave();
    test::WriteFileBytes(path, image);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    test::FileOpsRestorer restore;
    // Tests run as root, who may write anyway: refuse every open for writing.
    SysFileOps().open = [](const char* p, int flags, mode_t mode) -> int {
        if ((flags & O_ACCMODE) != O_RDONLY) {
            errno = EACCES;
            return -1;
        }
        return ::open(p, flags, mode);
    };
    CbHolder h;
    ASSERT_EQ(test::scanFile(h, path), 0);
    EXPECT_EQ(h->DataSize, 40);
    ASSERT_EQ(wioWaveOpen(h.cb), 0);
    std::vector<char> got(40);
    EXPECT_EQ(wioWaveReadData(h.cb, got.data(), 40), 40);
    EXPECT_EQ(std::memcmp(got.data(), image.data() + 44, 40), 0);
    EXPECT_EQ(wioWaveWriteData(h.cb, got.data(), 4), -1); // opened for reading only
    EXPECT_EQ(wioWaveClose(h.cb), 0);
    EXPECT_EQ(test::ReadFileBytes(path), image);
    EXPECT_TRUE(wioIsWaveFile(path.c_str(), wioSrcFile));
}

// The same bytes describe the same from memory and from disk, for every sample file.
TEST(EngineScan, SampleFilesSameFromMemoryAndDisk)
{
    ORVELLE_REQUIRE_SAMPLES();
    int described = 0;
    for (const std::filesystem::path& sample : test::sampleWaveFiles()) {
        SCOPED_TRACE(sample.filename().string());
        const Bytes image = test::ReadFileBytes(sample);
        CbHolder disk;
        CbHolder mem;
        // Straight from the sample folder, which may be read-only: a scan only reads.
        const int32_t rm = image.empty() ? wioErrFile : test::scanImage(mem, image);
        EXPECT_EQ(test::scanFile(disk, sample.string()), rm);
        if (rm != 0 || disk.cb == nullptr)
            continue;
        ++described;
        EXPECT_EQ(disk->DataOffset, mem->DataOffset);
        EXPECT_EQ(disk->DataSize, mem->DataSize);
        EXPECT_EQ(disk->SampleCount, mem->SampleCount);
        EXPECT_EQ(disk->FileSize, mem->FileSize);
        EXPECT_EQ(disk->FileSize, static_cast<int32_t>(image.size()));
        EXPECT_EQ(wioFormatRoom(disk.cb), wioFormatRoom(mem.cb));
        EXPECT_EQ(std::memcmp(&disk->Format, &mem->Format, static_cast<size_t>(wioFormatRoom(mem.cb))), 0);
    }
    EXPECT_GT(described, 20);
}

// The sample files describe as the shared table says, and still do with a tag appended
// after the RIFF chunk: bytes after the declared data are no samples.
TEST(EngineScan, SampleFilesAsTheTableSaysAlsoWithATagAppended)
{
    ORVELLE_REQUIRE_SAMPLES();
    std::ifstream in(test::SamplesDir() / "expected.json");
    const nlohmann::json table = nlohmann::json::parse(in);
    Bytes tag = {'T', 'A', 'G'};
    tag.resize(128, ' ');
    int checked = 0;
    for (const auto& [file, want] : table.items()) {
        SCOPED_TRACE(file);
        if (!want.is_object())
            continue; // refused files have their own test
        const Bytes image = test::ReadFileBytes(test::SamplesDir() / file);
        CbHolder plain;
        ASSERT_EQ(test::scanImage(plain, image), 0);
        EXPECT_EQ(plain->DataOffset, want.at("dataOffset").get<int32_t>());
        EXPECT_EQ(plain->DataSize, want.at("dataBytes").get<int32_t>());
        EXPECT_EQ(plain->SampleCount, want.at("samples").get<int32_t>());
        // A data chunk that declares no usable size, or runs past the end, still reaches
        // to the end of the file.
        const uint32_t declared = plain->DataOffset >= 8 ? readLe32(image, plain->DataOffset - 4) : 0;
        if (declared == 0 || declared == 0xFFFFFFFF || plain->DataOffset + int64_t{declared} > int64_t(image.size()))
            continue;
        CbHolder tagged;
        ASSERT_EQ(test::scanImage(tagged, cat({image, tag})), 0);
        EXPECT_EQ(tagged->DataSize, plain->DataSize);
        EXPECT_EQ(tagged->SampleCount, plain->SampleCount);
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

// The fixed refusals of the sample folder.
TEST(EngineScan, BadSampleFilesRefused)
{
    ORVELLE_REQUIRE_SAMPLES();
    for (const char* name : {"bad-fmt-short-s.wav", "bad-zero-rate-s.wav", "bad-zero-channels-s.wav", "bad-rifx-s.wav",
             "bad-no-fmt-s.wav", "bad-short-s.wav", "bad-text-s.wav", "bad-empty-s.wav"}) {
        SCOPED_TRACE(name);
        const Bytes image = test::ReadFileBytes(test::SamplesDir() / name);
        CbHolder h;
        EXPECT_NE(image.empty() ? wioErrFile : test::scanImage(h, image), 0);
        EXPECT_EQ(h.cb, nullptr);
    }
}

// Ten frames of 16-bit stereo, open from memory.
class EngineOpen : public ::testing::Test {
protected:
    void SetUp() override
    {
        image_ = canonicalWave();
        ASSERT_EQ(test::scanImage(h_, image_), 0);
        ASSERT_EQ(wioWaveOpen(h_.cb), 0);
    }
    Bytes image_;
    CbHolder h_;
};

TEST_F(EngineOpen, PositionClampsToTheWindow)
{
    const struct {
        int32_t first, last, pos;
        int32_t samplePos, bytesLeft;
    } cases[] = {
        {0, 10, 0, 0, 40},
        {0, 10, 9, 9, 4},
        {0, 10, 100, 9, 4},
        {3, 10, 0, 0, 28},
        {3, 5, 0, 0, 8},
        {3, 5, 7, 1, 4},
        {0, 1, 5, 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << ".." << c.last << " @" << c.pos);
        ASSERT_EQ(wioWaveSetLastSample(h_.cb, 10), 0);
        ASSERT_EQ(wioWaveSetFirstSample(h_.cb, c.first), 0);
        ASSERT_EQ(wioWaveSetLastSample(h_.cb, c.last), 0);
        ASSERT_EQ(wioWaveSetPosition(h_.cb, c.pos), 0);
        EXPECT_EQ(h_->SamplePos, c.samplePos);
        EXPECT_EQ(h_->BytesLeft, c.bytesLeft);
        char frame[4];
        ASSERT_EQ(wioWaveReadData(h_.cb, frame, 4), 4);
        const size_t at = 44 + 4 * static_cast<size_t>(c.first + c.samplePos);
        EXPECT_EQ(std::memcmp(frame, image_.data() + at, 4), 0);
    }
    EXPECT_EQ(wioWaveSetPosition(h_.cb, -1), wioErrFile);
    EXPECT_EQ(wioWaveSetPosition(nullptr, 0), wioErrFile);
}

TEST_F(EngineOpen, WindowErrors)
{
    const struct {
        bool first;
        int32_t n;
        int32_t code;
    } cases[] = {
        {true, -1, wioErrBadParam},
        {true, 10, wioErrBadParam},
        {true, 9, 0},
        {false, 9, wioErrBadParam},
        {false, 11, wioErrBadParam},
        {false, 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.first ? "first " : "last ") << c.n);
        EXPECT_EQ(c.first ? wioWaveSetFirstSample(h_.cb, c.n) : wioWaveSetLastSample(h_.cb, c.n), c.code);
    }
    EXPECT_EQ(h_->FirstSample, 9);
    EXPECT_EQ(h_->BytesLeft, 4);
    EXPECT_EQ(wioWaveSetFirstSample(nullptr, 0), wioErrBadParam);
    EXPECT_EQ(wioWaveSetLastSample(nullptr, 1), wioErrBadParam);
}

TEST(EngineRead, ReadingEndsWithMinusOne)
{
    const Bytes image = test::RiffWave(cat({fmtChunk(), dataChunk(1000)}));
    CbHolder h;
    ASSERT_EQ(test::scanImage(h, image), 0);
    ASSERT_EQ(wioWaveOpen(h.cb), 0);
    std::vector<char> buf(4096);
    EXPECT_EQ(wioWaveReadData(h.cb, buf.data(), 4096), 1000);
    EXPECT_EQ(std::memcmp(buf.data(), image.data() + 44, 1000), 0);
    EXPECT_EQ(h->BytesLeft, 0);
    EXPECT_EQ(h->SamplePos, 250);
    EXPECT_EQ(wioWaveReadData(h.cb, buf.data(), 4096), -1);
    EXPECT_EQ(wioWaveSetPosition(h.cb, 248), 0);
    EXPECT_EQ(wioWaveReadSamples(h.cb, buf.data(), 5), 2);
    EXPECT_EQ(wioWaveReadSamples(h.cb, buf.data(), 5), -1);
    EXPECT_EQ(wioWaveReadSamples(h.cb, buf.data(), 0), -1);
}

// A non-PCM format whose byte rate does not match its frames: the frame count rounds up,
// and converted back it claims more bytes than the data holds. Reading still ends at the
// data; the list after it is never handed out as samples.
TEST(EngineRead, WindowNeverPassesTheData)
{
    // A-law, 8000 frames per second but 22000 bytes per second, one byte per block:
    // 10 bytes are 4 frames, and 4 frames are 11 bytes.
    const Bytes data = pattern(10);
    const Bytes image = test::RiffWave(
        cat({chunk("fmt ", fmtBody(6, 1, 8000, 22000, 1, 8)), chunk("data", data), test::infoList("INAM", "Hi")}));
    test::TempDir dir;
    const std::string path = dir.file("a.wav");
    test::WriteFileBytes(path, image);
    for (bool memory : {true, false}) {
        for (bool direct : {false, true}) {
            SCOPED_TRACE(testing::Message() << (memory ? "memory" : "disk") << (direct ? " direct" : " plain"));
            CbHolder h;
            ASSERT_EQ(memory ? test::scanImage(h, image) : test::scanFile(h, path), 0);
            ASSERT_EQ(h->DataSize, 10);
            ASSERT_EQ(h->SampleCount, 4);
            ASSERT_EQ(wioWaveOpen(h.cb), 0);
            EXPECT_EQ(h->BytesLeft, 10);
            std::vector<char> buf(64);
            const int32_t r =
                direct ? wioWaveReadDataDirect(h.cb, buf.data(), 64) : wioWaveReadData(h.cb, buf.data(), 64);
            ASSERT_EQ(r, 10);
            EXPECT_EQ(std::memcmp(buf.data(), data.data(), 10), 0);
            EXPECT_EQ(h->BytesLeft, 0);
        }
    }
}

TEST_F(EngineOpen, CloseKeepsTheDescription)
{
    ASSERT_EQ(wioWaveSetPosition(h_.cb, 4), 0);
    EXPECT_EQ(wioWaveClose(h_.cb), 0);
    EXPECT_EQ(h_->Handle, nullptr);
    EXPECT_EQ(h_->BytesLeft, 0);
    EXPECT_EQ(h_->SamplePos, 0);
    char b[4];
    EXPECT_EQ(wioWaveReadData(h_.cb, b, 4), -1);
    EXPECT_EQ(wioWaveClose(h_.cb), 0);
    EXPECT_EQ(wioWaveClose(nullptr), 0);

    // Positioning a closed file only moves SamplePos; opening restores it.
    ASSERT_EQ(wioWaveSetFirstSample(h_.cb, 3), 0);
    ASSERT_EQ(wioWaveSetPosition(h_.cb, 100), 0);
    EXPECT_EQ(h_->SamplePos, 6);
    EXPECT_EQ(h_->BytesLeft, 28); // as the window left it
    ASSERT_EQ(wioWaveOpen(h_.cb), 0);
    EXPECT_EQ(h_->SamplePos, 6);
    EXPECT_EQ(h_->BytesLeft, 4);
    ASSERT_EQ(wioWaveReadData(h_.cb, b, 4), 4);
    EXPECT_EQ(std::memcmp(b, image_.data() + 44 + 36, 4), 0);
}

TEST(EngineOpenEdges, EmptyWindowAndNoData)
{
    const Bytes emptyData = test::RiffWave(cat({fmtChunk(), dataChunk(0)}));
    CbHolder empty;
    ASSERT_EQ(test::scanImage(empty, emptyData), 0);
    ASSERT_EQ(wioWaveOpen(empty.cb), 0);
    EXPECT_EQ(empty->BytesLeft, 0);
    EXPECT_EQ(empty->SamplePos, 0);
    char b[4];
    EXPECT_EQ(wioWaveReadData(empty.cb, b, 4), -1);

    const Bytes noData = test::RiffWave(fmtChunk());
    CbHolder h;
    ASSERT_EQ(test::scanImage(h, noData), 0);
    EXPECT_EQ(wioWaveOpen(h.cb), wioErrFile);
    EXPECT_EQ(h->Handle, nullptr);
    EXPECT_EQ(wioWaveOpen(nullptr), wioErrBadParam);
}

TEST(EngineOpenEdges, IOBufferSize)
{
    test::TempDir dir;
    const std::string path = dir.file("a.wav");
    test::WriteFileBytes(path, canonicalWave());
    CbHolder disk;
    ASSERT_EQ(test::scanFile(disk, path), 0);
    EXPECT_EQ(wioSetIOBufferSize(disk.cb, 1024), wioErrGeneral); // closed
    ASSERT_EQ(wioWaveOpen(disk.cb), 0);
    EXPECT_EQ(wioSetIOBufferSize(disk.cb, -1), wioErrGeneral);
    EXPECT_EQ(wioSetIOBufferSize(disk.cb, 1024), 0);
    EXPECT_EQ(wioSetIOBufferSize(nullptr, 1024), wioErrBadParam);
    CbHolder mem;
    ASSERT_EQ(test::scanImage(mem, canonicalWave()), 0);
    EXPECT_EQ(wioSetIOBufferSize(mem.cb, -1), 0); // nothing to do for a memory image
}

// Direct reads through the service's buffer give the bytes plain reads give, across
// buffer refills.
TEST(EngineRead, DirectEqualsPlain)
{
    test::TempDir dir;
    const std::string path = dir.file("big.wav");
    const Bytes image = test::RiffWave(cat({fmtChunk(), dataChunk(20000), test::infoList("INAM", "Hi")}));
    test::WriteFileBytes(path, image);
    for (int32_t bufferSize : {1000, 3001, 8192}) {
        SCOPED_TRACE(bufferSize);
        std::vector<char> plain;
        std::vector<char> direct;
        for (bool useDirect : {false, true}) {
            CbHolder h;
            ASSERT_EQ(test::scanFile(h, path), 0);
            ASSERT_EQ(wioWaveOpen(h.cb), 0);
            ASSERT_EQ(wioSetIOBufferSize(h.cb, bufferSize), 0);
            ASSERT_EQ(wioWaveSetPosition(h.cb, 1), 0);
            std::vector<char>& out = useDirect ? direct : plain;
            char buf[3000];
            for (;;) {
                int32_t r = useDirect ? wioWaveReadDataDirect(h.cb, buf, 3000) : wioWaveReadData(h.cb, buf, 3000);
                if (r <= 0)
                    break;
                out.insert(out.end(), buf, buf + r);
            }
            EXPECT_EQ(h->SamplePos, 5000);
            EXPECT_EQ(h->BytesLeft, 0);
        }
        ASSERT_EQ(plain.size(), 20000u - 4);
        EXPECT_EQ(plain, direct);
        EXPECT_EQ(std::memcmp(plain.data(), image.data() + 48, plain.size()), 0);
    }
}

TEST(EngineRead, DirectReadRefusals)
{
    CbHolder h;
    ASSERT_EQ(test::scanImage(h, canonicalWave()), 0);
    char b[4];
    EXPECT_EQ(wioWaveReadDataDirect(h.cb, b, 4), -1); // closed
    EXPECT_EQ(wioWaveReadDataDirect(nullptr, b, 4), -1);
    EXPECT_EQ(wioWaveReadData(nullptr, b, 4), -1);
}

// The raw kind reads a headerless file with plain file I/O.
TEST(EngineRead, RawKind)
{
    test::TempDir dir;
    const std::string path = dir.file("raw.pcm");
    const Bytes bytes = pattern(1000);
    test::WriteFileBytes(path, bytes);
    const TWaveFormatEx format = test::pcmFormat(1, 8000, 16);
    CbHolder h;
    ASSERT_EQ(wioCreateFileInfo(h.cb, &format), 0);
    h->Flags = wioSrcRaw;
    h->Source = GlobalAllocMem(static_cast<int64_t>(path.size() + 1));
    std::memcpy(h->Source, path.c_str(), path.size() + 1);
    h->DataOffset = 100;
    h->DataSize = 900;
    h->SampleCount = 450;
    h->LastSample = 450;

    ASSERT_EQ(wioWaveOpen(h.cb), 0);
    EXPECT_EQ(h->BytesLeft, 900);
    EXPECT_EQ(wioSetIOBufferSize(h.cb, 10), 0);
    ASSERT_EQ(wioWaveSetPosition(h.cb, 200), 0);
    std::vector<char> buf(4096);
    EXPECT_EQ(wioWaveReadData(h.cb, buf.data(), 4096), 500);
    EXPECT_EQ(std::memcmp(buf.data(), bytes.data() + 500, 500), 0);
    EXPECT_EQ(wioWaveReadData(h.cb, buf.data(), 4096), -1);
    EXPECT_EQ(wioWaveReadDataDirect(h.cb, buf.data(), 4), -1);
    EXPECT_EQ(wioWaveWriteData(h.cb, buf.data(), 4), -1);
    EXPECT_EQ(wioWaveClose(h.cb), 0);
    EXPECT_EQ(h->Handle, nullptr);
    EXPECT_EQ(test::ReadFileBytes(path), bytes);
}

const TWaveFormatEx kStereo16 = test::pcmFormat(2, 44100, 16);
const TWaveFormatEx kMono8 = test::pcmFormat(1, 22050, 8);
// IMA ADPCM as sox writes it: 22050 Hz, 11155 bytes per second, 512-byte blocks.
const TWaveFormatEx kIma = {0x11, 1, 22050, 11155, 512, 4, 2};
const TWaveFormatEx kZero = {1, 0, 0, 0, 0, 0, 0};
const TWaveFormatEx kHalf = {2, 1, 1, 2, 1, 8, 0};
const TWaveFormatEx kHuge = {2, 1, 0xFFFFFFFF, 1, 1, 8, 0};

TEST(EngineConvert, Table)
{
    enum Op { B2S, S2B, B2T, S2T, T2S, T2B, BPS };
    static const char* const opNames[] = {"wioBytesToSamples", "wioSamplesToBytes", "wioBytesToTime",
        "wioSamplesToTime", "wioTimeToSamples", "wioTimeToBytes", "wioBytesPerSample"};
    const struct {
        const TWaveFormatEx* format;
        Op op;
        int32_t in, out;
    } cases[] = {
        {&kStereo16, B2S, 1000, 250},
        {&kStereo16, S2B, 3, 12},
        {&kStereo16, B2T, 1000, 6},
        {&kStereo16, S2T, 441, 10},
        {&kStereo16, T2S, 10, 441},
        {&kStereo16, T2B, 10, 1764},
        {&kStereo16, BPS, 0, 4},
        {&kMono8, B2S, -2, -2},
        {&kMono8, T2B, 1, 22},
        {&kIma, S2B, 1, 512},
        {&kIma, B2S, 2816, 5566},
        {&kIma, T2B, 1, 512},
        {&kHalf, B2S, 1, 1},
        {&kHalf, B2S, -1, -1},
        {&kHalf, B2S, 3, 2},
        {&kHuge, B2S, 1000, INT32_MAX},
        {&kZero, B2S, 1000, 0},
        {&kZero, S2B, 1000, 0},
        {&kZero, B2T, 1000, 0},
        {&kZero, S2T, 1000, 0},
        {&kZero, T2S, 1000, 0},
        {&kZero, T2B, 1000, 0},
        {nullptr, B2S, 1000, 0},
        {nullptr, S2B, 1000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << opNames[c.op] << " of " << c.in);
        int32_t r = 0;
        switch (c.op) {
        case B2S:
            r = wioBytesToSamples(c.format, c.in);
            break;
        case S2B:
            r = wioSamplesToBytes(c.format, c.in);
            break;
        case B2T:
            r = wioBytesToTime(c.format, c.in);
            break;
        case S2T:
            r = wioSamplesToTime(c.format, c.in);
            break;
        case T2S:
            r = wioTimeToSamples(c.format, c.in);
            break;
        case T2B:
            r = wioTimeToBytes(c.format, c.in);
            break;
        case BPS:
            r = wioBytesPerSample(c.format);
            break;
        }
        EXPECT_EQ(r, c.out);
    }
    EXPECT_EQ(wioBytesToSamplesEx(nullptr, 100), 0);
    EXPECT_EQ(wioSamplesToBytesEx(nullptr, 100), 0);
}

TEST(EngineFormat, SizeAndCopy)
{
    TWaveFormatEx pcm = kStereo16;
    pcm.cbSize = 7;
    EXPECT_EQ(wioSizeOfWaveFormat(nullptr), 0);
    EXPECT_EQ(wioSizeOfWaveFormat(&pcm), 18);
    EXPECT_EQ(wioSizeOfWaveFormat(&kIma), 20);
    EXPECT_EQ(wioCopyWaveFormat(nullptr), nullptr);

    TWaveFormatEx* copy = wioCopyWaveFormat(&pcm);
    EXPECT_EQ(GlobalMemSize(copy), 18);
    EXPECT_EQ(copy->cbSize, 0);
    EXPECT_EQ(copy->nAvgBytesPerSec, pcm.nAvgBytesPerSec);
    GlobalFreeMem(copy);

    // Fewer bytes than the head: the missing ones, cbSize among them, are zero.
    copy = wioCopyWaveFormatN(&kIma, 8);
    EXPECT_EQ(GlobalMemSize(copy), 18);
    EXPECT_EQ(copy->nSamplesPerSec, 22050u);
    EXPECT_EQ(copy->nAvgBytesPerSec, 0u);
    GlobalFreeMem(copy);
}

TEST(EngineFormat, Names)
{
    const struct {
        uint16_t tag;
        const char* name;
    } cases[] = {
        {0x0000, "Unknown"}, {0x0001, "PCM"}, {0x0011, "IMA ADPCM"}, {0x0209, "Dolby AC2"}, {0x020C, "PCM 32"},
        {0x0002, "Microsoft ADPCM"}, {0xFFFF, "*DEVELOPMENT ONLY TAG*"}, {0x1234, "Unknown"},
        {0xFFFE, "EXTENSIBLE"}, // without the fields that name its sub-format
    };
    std::string text;
    for (const auto& c : cases) {
        TWaveFormatEx f{};
        f.wFormatTag = c.tag;
        wioGetFormatName(&f, text);
        EXPECT_EQ(text, c.name) << c.tag;
    }
    text = "x";
    wioGetFormatName(nullptr, text);
    EXPECT_EQ(text, "Unknown");
}

// Extensible formats are named by their sub-format, read from the scanned record.
TEST(EngineFormat, ExtensibleNames)
{
    const Bytes suffix = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    const struct {
        const char* name;
        Bytes guid;
        uint16_t cbSize;
        const char* want;
    } cases[] = {
        {"PCM", cat({Bytes{0x01, 0x00}, suffix}), 22, "EXTENSIBLE (PCM)"},
        {"IEEE float", cat({Bytes{0x03, 0x00}, suffix}), 22, "EXTENSIBLE (IEEE float)"},
        {"A-law", cat({Bytes{0x06, 0x00}, suffix}), 22, "EXTENSIBLE (0x0006)"},
        {"foreign GUID", pattern(16), 22, "EXTENSIBLE (unknown sub-format)"},
        {"cbSize too small for the fields", cat({Bytes{0x01, 0x00}, suffix}), 10, "EXTENSIBLE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes body = fmtBody(0xFFFE, 2, 48000, 288000, 6, 24);
        appendLe16(body, c.cbSize);
        appendLe16(body, 24);
        appendLe32(body, 3);
        body.insert(body.end(), c.guid.begin(), c.guid.end());
        CbHolder h;
        ASSERT_EQ(test::scanImage(h, test::RiffWave(cat({chunk("fmt ", body), dataChunk(60)}))), 0);
        std::string text;
        wioGetFormatName(&h->Format, text);
        EXPECT_EQ(text, c.want);
    }
}

TEST(EngineNames, ThroughTheService)
{
    test::TempDir dir;
    const std::string path = dir.file("a.wav");
    test::WriteFileBytes(path, canonicalWave());
    EXPECT_TRUE(wioIsWaveFile(path.c_str(), wioSrcFile));
    EXPECT_FALSE(wioIsWaveFile("", wioSrcFile));
    EXPECT_FALSE(wioIsWaveFile(nullptr, wioSrcFile));
    test::WriteFileBytes(dir.file("t.wav"), Bytes{'t', 'e', 'x', 't'});
    EXPECT_FALSE(wioIsWaveFile(dir.file("t.wav").c_str(), wioSrcFile));

    EXPECT_TRUE(wioFileExists(path.c_str()));
    EXPECT_FALSE(wioFileExists(dir.file("none.wav").c_str()));
    EXPECT_TRUE(wioFileDelete(path.c_str()));
    EXPECT_FALSE(wioFileExists(path.c_str()));
    EXPECT_FALSE(wioFileDelete(path.c_str()));

    std::vector<char> name(MMIO_MAXPATH, 0);
    const std::string relative = "sub/../b.wav";
    std::memcpy(name.data(), relative.c_str(), relative.size() + 1);
    ASSERT_TRUE(wioGetFullPathName(name.data()));
    EXPECT_EQ(std::string(name.data()), (std::filesystem::current_path() / "b.wav").string());
    EXPECT_FALSE(wioGetFullPathName(nullptr));
}

} // namespace
} // namespace orvelle
