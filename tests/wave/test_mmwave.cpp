// The wave object: binding, description, opening, positioning, reading, creating and
// writing, on hand-made files and on files written by other programs.
#include "TestSupport.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "pcm/Mmpcmsup.h"
#include "platform/Sysfile.h"
#include "wave/Mmwave.h"

namespace orvelle {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::TempDir;

// A PCM wave file with `dataBytes` bytes of data counting up from 0.
Bytes pcmWave(uint16_t channels, uint32_t rate, uint16_t bits, int32_t dataBytes)
{
    Bytes data(static_cast<size_t>(dataBytes));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7 + i / 256);
    Bytes chunks;
    test::PutChunk(chunks, "fmt ", test::PcmFmtBody(channels, rate, bits));
    test::PutChunk(chunks, "data", data);
    return test::RiffWave(chunks);
}

// The data bytes of an image made by pcmWave (header of 44 bytes).
Bytes dataOf(const Bytes& image, size_t from, size_t count)
{
    return Bytes(image.begin() + 44 + static_cast<long>(from), image.begin() + 44 + static_cast<long>(from + count));
}

TWaveFormatEx pcmFormat(uint16_t channels, uint32_t rate, uint16_t bits)
{
    TWaveFormatEx f{};
    pcmBuildWaveHeader(&f, bits, channels, rate);
    return f;
}

std::string messageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EMMWaveError& e) {
        return e.what();
    }
    return "(no EMMWaveError)";
}

class WaveTest : public ::testing::Test {
protected:
    // Writes a 16-bit stereo file of `dataBytes` bytes and returns its name.
    std::string makeWave(const std::string& name, int32_t dataBytes = 10000)
    {
        image = pcmWave(2, 22050, 16, dataBytes);
        test::WriteFileBytes(dir.file(name), image);
        return dir.file(name);
    }

    TempDir dir;
    Bytes image;
};

TEST(WaveStrings, MessagesOfTheTable)
{
    const std::pair<uint16_t, const char*> rows[] = {
        {6, "Unknown"},
        {63, "This is not a MemoryWave"},
        {130, "Error reading wave file"},
        {131, "Can't write to MemoryWave"},
        {132, "InfoChunk %s not found"},
        {133, "Invalid wave file..."},
        {134, "Invalid param passed!"},
        {135, "Unable to import wave file"},
        {136, "Import aborted"},
        {137, "Unable to setup file IO buffer"},
        {138, "Unable to open wave file"},
        {139, "Unable to create wave file"},
        {140, "Unable to save wave file"},
        {141, "Saving was aborted"},
        {142, "Unable to convert wave file"},
        {143, "Conversion aborted"},
        {144, "This wave file is not valid for conversion"},
        {147, "Error seeking file position"},
    };
    for (const auto& [ident, text] : rows)
        EXPECT_EQ(LoadResStr(ident), text) << ident;
    EXPECT_EQ(LoadResStr(0), "");
    EXPECT_EQ(LoadResStr(145), "");
}

TEST(WaveNew, DescribesNoFormat)
{
    TMMWave w;
    EXPECT_EQ(w.FormatTag(), 0);
    EXPECT_EQ(w.BitLength(), 0);
    EXPECT_EQ(w.SampleRate(), 11025);
    EXPECT_EQ(w.Mode(), mMono);
    EXPECT_EQ(w.FormatString(), "Unknown");
    EXPECT_EQ(w.GetPosition(), -1);
    EXPECT_EQ(w.DataSize(), 0);
    EXPECT_TRUE(w.GetEmpty());
    EXPECT_EQ(w.FileSize(), 0);
    EXPECT_EQ(w.GetPWaveFormat(), nullptr);
    EXPECT_EQ(w.GetPWaveIOCB(), nullptr);
    EXPECT_EQ(w.TimeFormat(), tfSample);
    EXPECT_EQ(w.IOBufferSize(), 32768);
    EXPECT_TRUE(w.FileMustExist());
    EXPECT_EQ(w.FileName(), "");
}

TEST(WaveNew, EmptyWaveIgnoresFileOperations)
{
    TMMWave w;
    char buf[8] = {};
    EXPECT_NO_THROW(w.OpenFile());
    w.SetPosition(10);
    EXPECT_EQ(w.GetPosition(), -1);
    EXPECT_EQ(w.ReadDataBytes(buf, 8), -1);
    EXPECT_EQ(w.ReadDataSamples(buf, 2), -1);
    EXPECT_EQ(w.WriteDataBytes(buf, 8), -1);
    EXPECT_EQ(w.WriteDataSamples(buf, 2), -1);
    EXPECT_NO_THROW(w.CloseFile());
}

TEST_F(WaveTest, BindingDescribesTheFile)
{
    const std::string name = makeWave("a.wav");
    TMMWave w;
    int changes = 0;
    w.OnChange = [&](TMMObject* s) {
        EXPECT_EQ(s, &w);
        ++changes;
    };
    w.SetFileName(name);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(w.FileName(), name);
    EXPECT_EQ(w.FormatTag(), 1);
    EXPECT_EQ(w.BitLength(), 16);
    EXPECT_EQ(w.Mode(), mStereo);
    EXPECT_EQ(w.SampleRate(), 22050);
    EXPECT_EQ(w.FileSize(), static_cast<int32_t>(image.size()));
    EXPECT_EQ(w.GetDataOffset(), 44);
    EXPECT_EQ(w.DataSize(), 2500);
    EXPECT_EQ(w.GetPosition(), 0);
    EXPECT_FALSE(w.GetEmpty());
    w.SetTimeFormat(tfByte);
    EXPECT_EQ(w.DataSize(), 10000);
    w.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(w.DataSize(), 113); // 2500 / 22050 s = 113.4 ms
}

TEST_F(WaveTest, RelativeNameBecomesFullPath)
{
    const std::string name = makeWave("rel.wav");
    const fs::path old = fs::current_path();
    fs::current_path(dir.path());
    TMMWave w;
    w.SetFileName("./sub/../rel.wav");
    fs::current_path(old);
    EXPECT_EQ(w.FileName(), fs::path(name).lexically_normal().string());
    EXPECT_EQ(w.FormatTag(), 1);
}

TEST_F(WaveTest, FailedBindingKeepsThePreviousOne)
{
    const std::string good = makeWave("good.wav");
    const std::string text = dir.file("text.wav");
    std::ofstream(text) << "This is no wave file, only some text.\n";
    struct Case {
        std::string name;
        const char* message;
    } cases[] = {
        {dir.file("missing.wav"), "Error reading wave file"},
        {text, "Invalid wave file..."},
    };
    for (const Case& c : cases) {
        TMMWave w;
        w.SetFileName(good);
        int changes = 0;
        w.OnChange = [&](TMMObject*) { ++changes; };
        EXPECT_EQ(messageOf([&] { w.SetFileName(c.name); }), c.message) << c.name;
        EXPECT_EQ(w.FileName(), good);
        EXPECT_EQ(w.FormatTag(), 1);
        EXPECT_EQ(w.DataSize(), 2500);
        EXPECT_EQ(changes, 0);
    }
}

TEST_F(WaveTest, MissingFileAllowedTakesTheName)
{
    const std::string good = makeWave("good.wav");
    TMMWave w;
    w.SetFileName(good);
    w.SetFileMustExist(false);
    int changes = 0;
    w.OnChange = [&](TMMObject*) { ++changes; };
    const std::string missing = dir.file("missing.wav");
    EXPECT_NO_THROW(w.SetFileName(missing));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(w.FileName(), missing);
    EXPECT_EQ(w.GetPWaveIOCB(), nullptr);
    EXPECT_EQ(w.FormatTag(), 0);
    EXPECT_TRUE(w.GetEmpty());
    // A text file is still refused.
    std::ofstream(dir.file("t.wav")) << "text";
    EXPECT_EQ(messageOf([&] { w.SetFileName(dir.file("t.wav")); }), "Invalid wave file...");
}

TEST_F(WaveTest, SameNameAndSizeIsNotReadAgain)
{
    const std::string name = makeWave("a.wav");
    TMMWave w;
    w.SetFileName(name);
    int changes = 0;
    w.OnChange = [&](TMMObject*) { ++changes; };

    // Same size, other format: not noticed.
    Bytes mono = pcmWave(1, 8000, 8, 10000);
    ASSERT_EQ(mono.size(), image.size());
    test::WriteFileBytes(name, mono);
    w.SetFileName(name);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(w.BitLength(), 16);
    EXPECT_EQ(w.Mode(), mStereo);

    // Another size: read again.
    test::WriteFileBytes(name, pcmWave(1, 8000, 8, 5000));
    w.SetFileName(name);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(w.BitLength(), 8);
    EXPECT_EQ(w.Mode(), mMono);
    EXPECT_EQ(w.DataSize(), 5000);
}

TEST_F(WaveTest, EmptyNameFreesTheWave)
{
    TMMWave w;
    int changes = 0;
    w.OnChange = [&](TMMObject*) { ++changes; };
    w.SetFileName("");
    w.FreeWave();
    EXPECT_EQ(changes, 0); // nothing was bound
    w.SetFileName(makeWave("a.wav"));
    w.OpenFile();
    w.SetFileName("");
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(w.FileName(), "");
    EXPECT_EQ(w.GetPWaveIOCB(), nullptr);
    EXPECT_EQ(w.GetPosition(), -1);
    EXPECT_EQ(w.GetBytesLeft(), 0);
}

TEST_F(WaveTest, IOBufferSizeHasAFloor)
{
    TMMWave w;
    const std::pair<int32_t, int32_t> rows[] = {{100, 8192}, {8192, 8192}, {65536, 65536}, {-5, 8192}};
    for (const auto& [set, stored] : rows) {
        w.SetIOBufferSize(set);
        EXPECT_EQ(w.IOBufferSize(), stored) << set;
    }
    // Also while the file is open.
    w.SetFileName(makeWave("a.wav"));
    w.OpenFile();
    EXPECT_NO_THROW(w.SetIOBufferSize(100));
    EXPECT_EQ(w.IOBufferSize(), 8192);
    std::vector<char> buf(10000);
    EXPECT_EQ(w.ReadDataBytes(buf.data(), 10000), 10000);
}

TEST_F(WaveTest, OpenFileLeavesTheWholeDataToRead)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 10000));
    w.OpenFile();
    w.SetTimeFormat(tfByte);
    EXPECT_EQ(w.GetBytesLeft(), w.DataSize());
    EXPECT_EQ(w.GetBytesLeft(), 10000);
    EXPECT_EQ(w.GetPosition(), 0);
}

TEST_F(WaveTest, ReadsInBlocksUntilTheEnd)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 10000));
    w.OpenFile();
    std::vector<char> buf(4096);
    Bytes got;
    const int32_t expected[] = {4096, 4096, 1808, -1, -1};
    for (int32_t e : expected) {
        const int32_t r = w.ReadDataBytes(buf.data(), 4096);
        ASSERT_EQ(r, e);
        if (r > 0)
            got.insert(got.end(), buf.begin(), buf.begin() + r);
    }
    EXPECT_EQ(got, dataOf(image, 0, 10000));
    EXPECT_EQ(w.GetPosition(), 2500);
    EXPECT_EQ(w.GetBytesLeft(), 0);
    EXPECT_FALSE(w.readEndedEarly());
}

TEST_F(WaveTest, ReadsSamples)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 10000)); // 2500 frames of 4 bytes
    w.OpenFile();
    std::vector<char> buf(4096);
    EXPECT_EQ(w.ReadDataSamples(buf.data(), 1000), 1000);
    EXPECT_EQ(w.GetPosition(), 1000);
    EXPECT_EQ(w.ReadDataSamples(buf.data(), 1000), 1000);
    EXPECT_EQ(w.ReadDataSamples(buf.data(), 1000), 500);
    EXPECT_EQ(w.ReadDataSamples(buf.data(), 1000), -1);
}

TEST_F(WaveTest, ReadOfNothingEndsTheData)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 10000));
    w.OpenFile();
    char buf[8];
    std::memset(buf, 0x5A, sizeof buf);
    EXPECT_EQ(w.ReadDataBytes(buf, 0), 4);
    EXPECT_EQ(Bytes(buf, buf + 4), Bytes(4, 0));
    EXPECT_EQ(static_cast<uint8_t>(buf[4]), 0x5A);
    EXPECT_EQ(w.GetBytesLeft(), 0);
    EXPECT_EQ(w.GetPosition(), 2500);
    EXPECT_EQ(w.ReadDataBytes(buf, 8), -1);
}

TEST_F(WaveTest, FailingFileEndsTheDataWithZeros)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 100000));
    w.SetIOBufferSize(8192);
    w.OpenFile();
    w.SetPosition(20000); // byte 80000, far outside what the buffer may hold
    SysFileOps().read = [](int, void*, size_t) -> ssize_t { return -1; };
    char buf[64];
    std::memset(buf, 0x5A, sizeof buf);
    const int32_t r = w.ReadDataBytes(buf, 64);
    resetFileOps();
    EXPECT_EQ(r, 4);
    EXPECT_EQ(Bytes(buf, buf + 4), Bytes(4, 0));
    EXPECT_EQ(w.GetPosition(), 25000);
    EXPECT_TRUE(w.readEndedEarly());
    EXPECT_EQ(w.ReadDataBytes(buf, 64), -1);
    EXPECT_TRUE(w.readEndedEarly());
    w.SetPosition(0); // a new reading starts afresh
    EXPECT_FALSE(w.readEndedEarly());
}

TEST_F(WaveTest, PositionSetWhileClosedAppliesAtOpen)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 10000));
    w.SetPosition(1000);
    EXPECT_EQ(w.GetPosition(), 1000);
    EXPECT_EQ(w.GetBytesLeft(), 0);
    w.OpenFile();
    EXPECT_EQ(w.GetBytesLeft(), 6000);
    std::vector<char> buf(100);
    ASSERT_EQ(w.ReadDataBytes(buf.data(), 100), 100);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), dataOf(image, 4000, 100));
    EXPECT_EQ(w.GetPosition(), 1025);
}

TEST_F(WaveTest, PositionInBytes)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 10000));
    w.SetTimeFormat(tfByte);
    w.OpenFile();
    w.SetPosition(401); // rounds to whole frames
    EXPECT_EQ(w.GetPosition(), 400);
    std::vector<char> buf(8);
    ASSERT_EQ(w.ReadDataBytes(buf.data(), 8), 8);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), dataOf(image, 400, 8));
    EXPECT_EQ(w.GetPosition(), 408);
}

TEST_F(WaveTest, PositionBeyondTheEnd)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 10000));
    w.OpenFile();
    w.SetPosition(5000);
    std::vector<char> buf(16);
    EXPECT_EQ(w.ReadDataBytes(buf.data(), 16), -1);
    EXPECT_EQ(w.GetPosition(), 5000);
    // Back inside, reading resumes there.
    w.SetPosition(2499);
    ASSERT_EQ(w.ReadDataBytes(buf.data(), 16), 4);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 4), dataOf(image, 9996, 4));
    // A negative position reads from the start.
    w.SetPosition(-3);
    ASSERT_EQ(w.ReadDataBytes(buf.data(), 16), 16);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), dataOf(image, 0, 16));
}

TEST_F(WaveTest, CloseThenOpenStartsAgain)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 10000));
    w.OpenFile();
    std::vector<char> buf(4096);
    ASSERT_EQ(w.ReadDataBytes(buf.data(), 4096), 4096);
    w.CloseFile();
    EXPECT_EQ(w.GetPosition(), 0);
    EXPECT_EQ(w.GetBytesLeft(), 0);
    EXPECT_EQ(w.ReadDataBytes(buf.data(), 16), -1);
    w.CloseFile(); // harmless twice
    w.OpenFile();
    ASSERT_EQ(w.ReadDataBytes(buf.data(), 16), 16);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 16), dataOf(image, 0, 16));
    w.OpenFile(); // again while open: no failure
    EXPECT_EQ(w.GetBytesLeft(), 10000 - 16);
}

TEST_F(WaveTest, EmptyDataReadsNothing)
{
    TMMWave w;
    w.SetFileName(makeWave("a.wav", 0));
    EXPECT_TRUE(w.GetEmpty());
    w.OpenFile();
    char buf[4];
    EXPECT_EQ(w.ReadDataBytes(buf, 4), -1);
}

TEST_F(WaveTest, OpenFailureLeavesTheWaveBound)
{
    Bytes chunks;
    test::PutChunk(chunks, "fmt ", test::PcmFmtBody(1, 8000, 8));
    test::WriteFileBytes(dir.file("nodata.wav"), test::RiffWave(chunks));
    TMMWave w;
    w.SetFileName(dir.file("nodata.wav"));
    ASSERT_EQ(w.FormatTag(), 1);
    EXPECT_EQ(messageOf([&] { w.OpenFile(); }), "Unable to open wave file");
    EXPECT_EQ(w.FormatTag(), 1);
    char buf[4];
    EXPECT_EQ(w.ReadDataBytes(buf, 4), -1);
    EXPECT_NO_THROW(w.CloseFile());
}

TEST_F(WaveTest, SetPWaveFormatBindsWithoutFile)
{
    TMMWave w;
    int changes = 0;
    w.OnChange = [&](TMMObject*) { ++changes; };
    w.SetPWaveFormat(nullptr);
    EXPECT_EQ(changes, 0);
    const TWaveFormatEx f = pcmFormat(1, 44100, 16);
    w.SetPWaveFormat(&f);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(w.FormatTag(), 1);
    EXPECT_EQ(w.SampleRate(), 44100);
    EXPECT_EQ(w.Mode(), mMono);
    EXPECT_EQ(w.FileName(), "");
    EXPECT_TRUE(w.GetEmpty());
    // Its own format, which the new binding releases, is copied first.
    w.SetPWaveFormat(w.GetPWaveFormat());
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(w.SampleRate(), 44100);
    // The same control block again changes nothing.
    w.SetPWaveIOCB(w.GetPWaveIOCB());
    EXPECT_EQ(changes, 2);
}

TEST_F(WaveTest, CreateFileWritesANewWave)
{
    const std::string name = dir.file("new.wav");
    const Bytes data = dataOf(pcmWave(2, 22050, 16, 4000), 0, 4000);
    const TWaveFormatEx f = pcmFormat(2, 22050, 16);
    {
        TMMWave w;
        int changes = 0;
        w.OnChange = [&](TMMObject*) { ++changes; };
        w.CreateFile(name, &f);
        EXPECT_EQ(changes, 1);
        EXPECT_EQ(w.FileName(), name);
        EXPECT_EQ(w.Mode(), mStereo);
        const char* p = reinterpret_cast<const char*>(data.data());
        EXPECT_EQ(w.WriteDataBytes(p, 3000), 3000);
        EXPECT_EQ(w.WriteDataSamples(p + 3000, 250), 250);
        w.CloseFile();
    }
    TMMWave r;
    r.SetFileName(name);
    EXPECT_EQ(r.FormatTag(), 1);
    EXPECT_EQ(r.BitLength(), 16);
    EXPECT_EQ(r.SampleRate(), 22050);
    EXPECT_EQ(r.DataSize(), 1000);
    r.OpenFile();
    std::vector<char> buf(4000);
    ASSERT_EQ(r.ReadDataBytes(buf.data(), 4000), 4000);
    EXPECT_EQ(Bytes(buf.begin(), buf.end()), data);
}

TEST_F(WaveTest, CreateFileReplacesAnExistingFile)
{
    const std::string name = makeWave("old.wav", 10000);
    TMMWave w;
    w.SetFileName(name);
    w.OpenFile();
    const TWaveFormatEx f = pcmFormat(1, 8000, 8);
    w.CreateFile(name, &f); // over the wave's own open file
    const char data[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(w.WriteDataBytes(data, 6), 6);
    w.CloseFile();

    TMMWave r;
    r.SetFileName(name);
    EXPECT_EQ(r.BitLength(), 8);
    EXPECT_EQ(r.Mode(), mMono);
    EXPECT_EQ(r.DataSize(), 6);
}

TEST_F(WaveTest, DestroyingFinishesAWrittenFile)
{
    const std::string name = dir.file("d.wav");
    const TWaveFormatEx f = pcmFormat(1, 8000, 16);
    {
        TMMWave w;
        w.CreateFile(name, &f);
        const char data[8] = {1, 0, 2, 0, 3, 0, 4, 0};
        ASSERT_EQ(w.WriteDataBytes(data, 8), 8);
    }
    TMMWave r;
    r.SetFileName(name);
    EXPECT_EQ(r.DataSize(), 4);
}

TEST_F(WaveTest, CreateFileWithoutFormatOrNameDoesNothing)
{
    const std::string good = makeWave("good.wav");
    const TWaveFormatEx f = pcmFormat(1, 8000, 8);
    TMMWave w;
    w.SetFileName(good);
    int changes = 0;
    w.OnChange = [&](TMMObject*) { ++changes; };
    EXPECT_NO_THROW(w.CreateFile(dir.file("x.wav"), nullptr));
    EXPECT_NO_THROW(w.CreateFile("", &f));
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(w.FileName(), good);
    EXPECT_FALSE(fs::exists(dir.file("x.wav")));
}

TEST_F(WaveTest, CreateFileFailureKeepsThePreviousBinding)
{
    const std::string good = makeWave("good.wav");
    const TWaveFormatEx f = pcmFormat(1, 8000, 8);
    const std::string names[] = {
        dir.file("no-such-folder/x.wav"), dir.file(std::string(5000, 'n') + ".wav"), // longer than a path buffer holds
    };
    for (const std::string& name : names) {
        TMMWave w;
        w.SetFileName(good);
        EXPECT_EQ(messageOf([&] { w.CreateFile(name, &f); }), "Unable to create wave file");
        EXPECT_EQ(w.FileName(), good);
        EXPECT_EQ(w.DataSize(), 2500);
    }
}

// A non-PCM "fmt " chunk with `extra` bytes after the 18-byte head, whose cbSize says `cbSize`.
Bytes adpcmWave(uint16_t cbSize, const Bytes& extra)
{
    Bytes fmt;
    test::PutLE16(fmt, 0x11); // IMA ADPCM, mono, 8000 Hz, blocks of 256 bytes
    test::PutLE16(fmt, 1);
    test::PutLE32(fmt, 8000);
    test::PutLE32(fmt, 4055);
    test::PutLE16(fmt, 256);
    test::PutLE16(fmt, 4);
    test::PutLE16(fmt, cbSize);
    fmt.insert(fmt.end(), extra.begin(), extra.end());
    Bytes chunks;
    test::PutChunk(chunks, "fmt ", fmt);
    test::PutChunk(chunks, "data", Bytes(256, 0));
    return test::RiffWave(chunks);
}

TEST_F(WaveTest, CopiesAnotherWavesFormat)
{
    struct Case {
        const char* what;
        uint16_t cbSize;
        Bytes extra;
    } cases[] = {
        {"extra bytes as claimed", 2, {0xF9, 0x01}},
        {"cbSize claiming more than the chunk holds", 4000, {0xF9, 0x01}}, // cut to the 2 bytes there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteFileBytes(dir.file("src.wav"), adpcmWave(c.cbSize, c.extra));
        TMMWave src;
        src.SetFileName(dir.file("src.wav"));
        ASSERT_EQ(src.FormatTag(), 0x11);
        TMMWave dst;
        dst.CreateFile(dir.file("dst.wav"), src.GetPWaveFormat());
        TMMWave mem;
        mem.SetPWaveFormat(src.GetPWaveFormat());
        for (const TMMWave* w : {&dst, &mem}) {
            const TWaveFormatEx* f = w->GetPWaveFormat();
            ASSERT_NE(f, nullptr);
            EXPECT_EQ(f->wFormatTag, 0x11);
            EXPECT_EQ(f->cbSize, 2);
            const auto* bytes = reinterpret_cast<const uint8_t*>(f);
            EXPECT_EQ(Bytes(bytes + 18, bytes + 20), c.extra);
        }
    }
}

// ---- finishing a written file, the end of reading, metadata, the name to create ------

ssize_t failWrite(int, const void*, size_t)
{
    errno = ENOSPC;
    return -1;
}

// Milliseconds: rounded to nearest with a half away from zero, saturated to 32 bits.
TEST_F(WaveTest, MillisecondsRoundAndSaturate)
{
    test::WriteFileBytes(dir.file("ms.wav"), pcmWave(1, 8000, 16, 8)); // 4 frames, 0.5 ms
    TMMWave w;
    w.SetFileName(dir.file("ms.wav"));
    w.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(w.DataSize(), 1);
    w.SetPosition(INT32_MAX); // 2^31 - 1 ms are more frames than 32 bits hold
    w.SetTimeFormat(tfSample);
    EXPECT_EQ(w.GetPosition(), INT32_MAX);
    w.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(w.GetPosition(), 268435456); // (2^31 - 1) / 8 rounded
}

TEST_F(WaveTest, CheckedCloseReportsAFailedFinish)
{
    const std::string name = dir.file("w.wav");
    const TWaveFormatEx f = pcmFormat(2, 8000, 16);
    TMMWave w;
    w.CreateFile(name, &f);
    const char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(w.WriteDataBytes(data, 8), 8); // still in the buffer: the finish writes it
    SysFileOps().write = failWrite;
    const std::string message = messageOf([&] { w.closeChecked(); });
    resetFileOps();
    EXPECT_EQ(message, "Unable to write wave file \"" + name + "\"");
    EXPECT_EQ(w.GetBytesLeft(), 0);
    EXPECT_NO_THROW(w.closeChecked()); // closed: nothing left to finish
}

TEST_F(WaveTest, CheckedCloseOfAGoodFileIsSilent)
{
    const std::string name = dir.file("w.wav");
    const TWaveFormatEx f = pcmFormat(1, 8000, 8);
    TMMWave w;
    EXPECT_NO_THROW(w.closeChecked()); // no binding
    w.CreateFile(name, &f);
    const char data[4] = {1, 2, 3, 4};
    ASSERT_EQ(w.WriteDataBytes(data, 4), 4);
    EXPECT_NO_THROW(w.closeChecked());
    TMMWave r;
    r.SetFileName(name);
    EXPECT_EQ(r.DataSize(), 4);
    r.OpenFile();
    EXPECT_NO_THROW(r.closeChecked()); // a file opened for reading has nothing to finish
}

// 16-bit stereo whose "fmt " says 3 bytes a frame: the data holds 3003 bytes, which the
// frames counted with the real 4-byte frame overshoot by one byte.
Bytes misalignedWave(size_t dataBytes)
{
    Bytes fmt = test::PcmFmtBody(2, 8000, 16);
    fmt[12] = 3; // nBlockAlign
    Bytes data(dataBytes);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 37);
    Bytes chunks;
    test::PutChunk(chunks, "fmt ", fmt);
    test::PutChunk(chunks, "data", data);
    test::PutChunk(chunks, "abcd", Bytes(6, 0xEE));
    return test::RiffWave(chunks);
}

TEST_F(WaveTest, DataOfPartFramesIsReadToItsEndAndNoFurther)
{
    const Bytes image = misalignedWave(3003);
    test::WriteFileBytes(dir.file("m.wav"), image);
    TMMWave w;
    w.SetFileName(dir.file("m.wav"));
    w.SetTimeFormat(tfByte);
    w.OpenFile();
    std::vector<char> buf(4096);
    EXPECT_EQ(w.ReadDataBytes(buf.data(), w.DataSize()), 3003);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 3003), dataOf(image, 0, 3003));
    EXPECT_EQ(w.GetBytesLeft(), 0);
    EXPECT_EQ(w.ReadDataBytes(buf.data(), 4096), -1);
    EXPECT_FALSE(w.readEndedEarly());
}

TEST_F(WaveTest, TakesOverAnotherWavesInfoAndDisp)
{
    Bytes chunks, list{'I', 'N', 'F', 'O'}, disp;
    test::PutChunk(chunks, "fmt ", test::PcmFmtBody(1, 8000, 8));
    test::PutChunk(chunks, "data", Bytes(10, 128));
    test::PutChunk(list, "INAM", Bytes{'S', 'o', 'n', 'g', 0});
    test::PutChunk(chunks, "LIST", list);
    test::PutLE32(disp, 1);
    test::Append(disp, Bytes{'S', 'h', 'o', 'w', 'n', 0});
    test::PutChunk(chunks, "DISP", disp);
    test::WriteFileBytes(dir.file("src.wav"), test::RiffWave(chunks));

    TMMWave src;
    src.SetFileName(dir.file("src.wav"));
    TMMWave dst;
    dst.CreateFile(dir.file("dst.wav"), src.GetPWaveFormat());
    dst.copyMetadataFrom(src);
    dst.closeChecked();
    const Bytes made = test::ReadFileBytes(dir.file("dst.wav"));
    Bytes inam, shown;
    test::PutChunk(inam, "INAM", Bytes{'S', 'o', 'n', 'g', 0});
    test::PutChunk(shown, "DISP", disp);
    EXPECT_NE(std::search(made.begin(), made.end(), inam.begin(), inam.end()), made.end());
    EXPECT_NE(std::search(made.begin(), made.end(), shown.begin(), shown.end()), made.end());

    TMMWave empty;
    EXPECT_EQ(messageOf([&] { empty.copyMetadataFrom(src); }), "Invalid param passed!");
    EXPECT_EQ(messageOf([&] { dst.copyMetadataFrom(empty); }), "Invalid param passed!");
}

// Whatever stands at the name is removed, never followed: a link's target stays as it was
// and the name then holds a new regular file.
TEST_F(WaveTest, CreateFileReplacesALinkInsteadOfFollowingIt)
{
    const TWaveFormatEx f = pcmFormat(1, 8000, 8);
    const Bytes kept{'k', 'e', 'e', 'p'};
    for (const bool dangling : {true, false}) {
        SCOPED_TRACE(dangling ? "dangling link" : "link to a file");
        TempDir d;
        const std::string target = d.file("target.wav"), name = d.file("new.wav");
        if (!dangling)
            test::WriteFileBytes(target, kept);
        fs::create_symlink(target, name);
        TMMWave w;
        w.CreateFile(name, &f);
        w.closeChecked();
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name)));
        EXPECT_EQ(fs::exists(target), !dangling);
        if (!dangling) {
            EXPECT_EQ(test::ReadFileBytes(target), kept);
        }
        TMMWave r;
        r.SetFileName(name);
        EXPECT_EQ(r.BitLength(), 8);
    }
}

TEST_F(WaveTest, CreateFileOverAFolderFails)
{
    const TWaveFormatEx f = pcmFormat(1, 8000, 8);
    fs::create_directory(dir.file("sub.wav"));
    test::WriteFileBytes(dir.file("sub.wav/inside"), Bytes{1});
    TMMWave w;
    EXPECT_EQ(messageOf([&] { w.CreateFile(dir.file("sub.wav"), &f); }), "Unable to create wave file");
    EXPECT_TRUE(fs::is_directory(dir.file("sub.wav")));
    EXPECT_TRUE(fs::exists(dir.file("sub.wav/inside")));
}

// Files written by other programs, against what a scan must report.
class WaveSamples : public ::testing::Test {
protected:
    void SetUp() override
    {
        ORVELLE_REQUIRE_SAMPLES();
        std::ifstream in(test::SamplesDir() / "expected.json");
        expected = nlohmann::json::parse(in);
    }
    std::string samplePath(const std::string& name) const { return (test::SamplesDir() / name).string(); }
    nlohmann::json expected;
};

TEST_F(WaveSamples, DescribesRealFiles)
{
    const char* files[] = {"sox-16-stereo-s.wav", "sox-8-mono-s.wav", "ffmpeg-16-info-s.wav", "espeak-voice-s.wav",
        "alsa-Front_Left.wav", "hand-8stereo-s.wav", "sox-msadpcm-mono-s.wav", "ffmpeg-16-6ch-s.wav"};
    for (const char* file : files) {
        SCOPED_TRACE(file);
        const nlohmann::json& e = expected.at(file);
        TMMWave w;
        w.SetFileName(samplePath(file));
        EXPECT_EQ(w.FormatTag(), e.at("formatTag").get<int>());
        EXPECT_EQ(w.BitLength(), e.at("bitsPerSample").get<int>());
        EXPECT_EQ(w.SampleRate(), e.at("sampleRate").get<int>());
        EXPECT_EQ(w.Mode(), e.at("channels").get<int>() == 2 ? mStereo : mMono);
        EXPECT_EQ(w.FileSize(), e.at("fileSize").get<int>());
        EXPECT_EQ(w.GetDataOffset(), e.at("dataOffset").get<int>());
        EXPECT_EQ(w.DataSize(), e.at("samples").get<int>());
        if (w.FormatTag() == 1) {
            w.SetTimeFormat(tfByte);
            EXPECT_EQ(w.DataSize(), e.at("dataBytes").get<int>());
        }
    }
}

TEST_F(WaveSamples, ReadsAllDataOfARealFile)
{
    const char* file = "sox-16-stereo-s.wav";
    const nlohmann::json& e = expected.at(file);
    const Bytes raw = test::ReadFileBytes(samplePath(file));
    const auto offset = e.at("dataOffset").get<size_t>();
    const auto bytes = e.at("dataBytes").get<size_t>();
    TMMWave w;
    w.SetFileName(samplePath(file));
    w.OpenFile();
    std::vector<char> buf(4096);
    Bytes got;
    for (int32_t r; (r = w.ReadDataBytes(buf.data(), 4096)) > 0;)
        got.insert(got.end(), buf.begin(), buf.begin() + r);
    EXPECT_EQ(got, Bytes(raw.begin() + static_cast<long>(offset), raw.begin() + static_cast<long>(offset + bytes)));
}

TEST_F(WaveSamples, RefusedFilesAreInvalid)
{
    int seen = 0;
    for (const auto& [file, e] : expected.items()) {
        if (!e.is_string())
            continue;
        ++seen;
        TMMWave w;
        EXPECT_EQ(messageOf([&] { w.SetFileName(samplePath(file)); }), "Invalid wave file...") << file;
        EXPECT_EQ(w.GetPWaveIOCB(), nullptr);
    }
    EXPECT_GT(seen, 0);
}

} // namespace
} // namespace orvelle
