// The engine's writing side: creating, writing, finishing and writing in place.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "test_engine_support.h"
#include "util/LittleEndian.h"
#include "util/Mmutils.h"

namespace orvelle {
namespace {

using test::Bytes;
using test::cat;
using test::CbHolder;
using test::chunk;
using test::headOf;
using test::pattern;

Bytes recordBytes(const TWaveFormatEx& f, size_t n)
{
    const auto* p = reinterpret_cast<const uint8_t*>(&f);
    return Bytes(p, p + n);
}

// The file the engine must leave: "fmt " with the record, "data", "fact", then `tail`.
Bytes expectedFile(const Bytes& record, const Bytes& data, uint32_t frames, const Bytes& tail = {})
{
    return test::RiffWave(cat({chunk("fmt ", record), chunk("data", data), chunk("fact", le32Bytes(frames)), tail}));
}

// Creates `name` for `format`, writes `data` and closes.
void writeWave(const std::string& name, const TWaveFormatEx& format, const Bytes& data, CbHolder& h)
{
    ASSERT_EQ(wioCreateFileInfo(h.cb, &format), 0);
    ASSERT_EQ(wioWriteFileInfo(h.cb, name.c_str()), 0);
    if (!data.empty()) {
        ASSERT_EQ(wioWaveWriteData(h.cb, reinterpret_cast<const char*>(data.data()), static_cast<int32_t>(data.size())),
            static_cast<int32_t>(data.size()));
    }
    ASSERT_EQ(wioWaveClose(h.cb), 0);
}

TEST(EngineWrite, LayoutTable)
{
    TWaveFormatEx ima = {0x11, 1, 22050, 11155, 512, 4, 2};
    struct Record {
        TWaveFormatEx head;
        uint8_t extra[2];
    } __attribute__((packed)) imaRecord = {ima, {0xF9, 0x01}};
    static_assert(sizeof(Record) == 20);
    const struct {
        const char* name;
        const TWaveFormatEx* format;
        size_t recordSize;
        size_t dataBytes;
        uint32_t frames;
        size_t fileSize;
    } cases[] = {
        {"16-bit stereo, 4 bytes", nullptr, 18, 4, 1, 62},
        {"16-bit stereo, nothing written", nullptr, 18, 0, 0, 58},
        {"8-bit mono, 3 bytes: pad", nullptr, 18, 3, 3, 62},
        {"IMA with 2 extra bytes", &imaRecord.head, 20, 512, 1012, 572},
    };
    const TWaveFormatEx stereo16 = test::pcmFormat(2, 44100, 16);
    const TWaveFormatEx mono8 = test::pcmFormat(1, 8000, 8);
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TWaveFormatEx& format = c.format != nullptr ? *c.format : (c.dataBytes == 3 ? mono8 : stereo16);
        const Bytes data = pattern(c.dataBytes);
        const std::string name = dir.file(std::string(c.name) + ".wav");
        CbHolder h;
        writeWave(name, format, data, h);
        const Bytes file = test::ReadFileBytes(name);
        EXPECT_EQ(file.size(), c.fileSize);
        EXPECT_EQ(file, expectedFile(recordBytes(format, c.recordSize), data, c.frames));
        EXPECT_EQ(h->FileSize, static_cast<int32_t>(c.fileSize));
        EXPECT_EQ(h->DataSize, static_cast<int32_t>(c.dataBytes));
        EXPECT_EQ(h->SampleCount, static_cast<int32_t>(c.frames));
        EXPECT_EQ(h->LastSample, static_cast<int32_t>(c.frames));
        EXPECT_EQ(h->Handle, nullptr);
        if (c.recordSize == 18) {
            EXPECT_EQ(readLe32(file, 42), c.dataBytes); // data size at offset 42, samples at 46
        }
    }
}

TEST(EngineWrite, CreatedBlock)
{
    CbHolder h;
    EXPECT_EQ(wioCreateFileInfo(h.cb, nullptr), wioErrBadParam);
    EXPECT_EQ(h.cb, nullptr);
    TWaveFormatEx pcm = test::pcmFormat(2, 44100, 16);
    pcm.cbSize = 7; // PCM carries no extra bytes
    ASSERT_EQ(wioCreateFileInfo(h.cb, &pcm), 0);
    EXPECT_EQ(h->Flags, 0u);
    EXPECT_EQ(h->Format.cbSize, 0);
    EXPECT_EQ(h->Format.nAvgBytesPerSec, 176400u);
    EXPECT_GE(wioFormatRoom(h.cb), 18);
    EXPECT_NE(h->InfoList, nullptr);
    EXPECT_NE(h->DispList, nullptr);
    EXPECT_EQ(h->SampleCount, 0);
    EXPECT_EQ(wioWriteFileInfo(h.cb, nullptr), wioErrBadParam);
    TWAVEIOCB* none = nullptr;
    EXPECT_EQ(wioWriteFileInfo(none, "x.wav"), wioErrBadParam);
    EXPECT_EQ(wioWriteFileInfo(h.cb, "/no/such/dir/x.wav"), wioErrFile);
    EXPECT_EQ(h->Handle, nullptr);
}

// A cbSize claiming more than the "fmt " chunk holds is cut to what it holds: the scanned
// record, and every copy written from it, carry no invented zero bytes.
TEST(EngineWrite, OversizedCbSizeIsCutToTheChunk)
{
    Bytes body = recordBytes(TWaveFormatEx{2, 1, 8000, 4000, 256, 4, 200}, 18);
    Bytes extra = pattern(14, 0x40);
    body.insert(body.end(), extra.begin(), extra.end());
    const Bytes image = test::RiffWave(cat({chunk("fmt ", body), chunk("data", pattern(256))}));
    CbHolder src;
    ASSERT_EQ(test::scanImage(src, image), 0);
    EXPECT_EQ(src->Format.cbSize, 14);
    EXPECT_EQ(wioSizeOfWaveFormat(&src->Format), 32);
    EXPECT_GE(wioFormatRoom(src.cb), 32);

    Bytes record = body;
    record[16] = 14;
    test::TempDir dir;
    CbHolder copy;
    ASSERT_EQ(wioCreateFileInfo(copy.cb, &src->Format), 0);
    ASSERT_EQ(wioWriteFileInfo(copy.cb, dir.file("copy.wav").c_str()), 0);
    ASSERT_EQ(wioWaveClose(copy.cb), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.file("copy.wav")), expectedFile(record, {}, 0));

    // Written from the scanned block itself: a new, empty file of the same format.
    ASSERT_EQ(src->SampleCount, 512);
    ASSERT_EQ(wioWriteFileInfo(src.cb, dir.file("same.wav").c_str()), 0);
    EXPECT_EQ(src->Flags, 0u); // now a disk file
    ASSERT_EQ(wioWaveClose(src.cb), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.file("same.wav")), expectedFile(record, {}, 0));
}

TEST(EngineWrite, MetadataAfterFact)
{
    const TWaveFormatEx format = test::pcmFormat(2, 44100, 16);
    CbHolder h;
    ASSERT_EQ(wioCreateFileInfo(h.cb, &format), 0);
    TInfoData* name = RiffFindPIINFO(h->InfoList, mmioFourCC('I', 'N', 'A', 'M'));
    TInfoData* artist = RiffFindPIINFO(h->InfoList, mmioFourCC('I', 'A', 'R', 'T'));
    ASSERT_NE(name, nullptr);
    ASSERT_NE(artist, nullptr);
    RiffModifyINFO(h->InfoList, name, 1, 0, RiffNewText("Hi"));
    RiffModifyINFO(h->InfoList, artist, 1, 0, RiffNewText("Band"));
    auto* text = static_cast<uint8_t*>(GlobalAllocMem(3));
    std::memcpy(text, "ab", 3);
    RiffInsertDISP(h->DispList, RiffCreateDISP(1, 1, nullptr, text));

    test::TempDir dir;
    const Bytes data = pattern(4);
    ASSERT_EQ(wioWriteFileInfo(h.cb, dir.file("meta.wav").c_str()), 0);
    ASSERT_EQ(wioWaveWriteData(h.cb, reinterpret_cast<const char*>(data.data()), 4), 4);
    ASSERT_EQ(wioWaveClose(h.cb), 0);

    Bytes infoBody;
    test::PutId(infoBody, "INFO");
    test::PutChunk(infoBody, "IART", Bytes{'B', 'a', 'n', 'd', 0}); // table order: IART before INAM
    test::PutChunk(infoBody, "INAM", Bytes{'H', 'i', 0});
    const Bytes tail = cat({chunk("DISP", cat({le32Bytes(1), Bytes{'a', 'b', 0}})), chunk("LIST", infoBody)});
    EXPECT_EQ(test::ReadFileBytes(dir.file("meta.wav")), expectedFile(recordBytes(format, 18), data, 1, tail));
}

TEST(EngineWrite, CopyFileInfo)
{
    const TWaveFormatEx format = test::pcmFormat(1, 8000, 8);
    CbHolder src;
    CbHolder dst;
    ASSERT_EQ(wioCreateFileInfo(src.cb, &format), 0);
    ASSERT_EQ(wioCreateFileInfo(dst.cb, &format), 0);
    EXPECT_EQ(wioCopyFileInfo(nullptr, src.cb), wioErrBadParam);
    EXPECT_EQ(wioCopyFileInfo(dst.cb, nullptr), wioErrBadParam);
    RiffModifyINFO(
        src->InfoList, RiffFindPIINFO(src->InfoList, mmioFourCC('I', 'C', 'M', 'T')), 1, 0, RiffNewText("note"));
    ASSERT_EQ(wioCopyFileInfo(dst.cb, src.cb), 0);
    TInfoData* item = RiffFindPIINFO(dst->InfoList, mmioFourCC('I', 'C', 'M', 'T'));
    ASSERT_NE(RiffInfoText(dst->InfoList, item), nullptr);
    EXPECT_STREQ(RiffInfoText(dst->InfoList, item), "note");
}

// A finished file of ten 16-bit stereo frames, an INFO list and a chunk after it.
Bytes existingFile()
{
    const TWaveFormatEx format = test::pcmFormat(2, 8000, 16);
    return test::RiffWave(cat({chunk("fmt ", recordBytes(format, 16)), chunk("data", pattern(40)),
        test::infoList("INAM", "Hi"), chunk("junk", pattern(20, 0x90))}));
}

TEST(EngineWrite, WrittenMarkAndReopening)
{
    test::TempDir dir;
    const std::string name = dir.file("a.wav");
    const Bytes original = existingFile();
    test::WriteFileBytes(name, original);
    CbHolder h;
    ASSERT_EQ(test::scanFile(h, name), 0);
    ASSERT_EQ(wioWaveOpen(h.cb), 0);
    EXPECT_EQ(h->DataChunk.dwFlags & MMIO_DIRTY, 0u);
    char buf[8];
    EXPECT_EQ(wioWaveReadData(h.cb, buf, 8), 8);
    ASSERT_EQ(wioWaveClose(h.cb), 0);
    EXPECT_EQ(test::ReadFileBytes(name), original); // read only: not finished

    // A created file carries the mark from the start and is finished once only.
    const TWaveFormatEx format = test::pcmFormat(2, 8000, 16);
    CbHolder w;
    ASSERT_EQ(wioCreateFileInfo(w.cb, &format), 0);
    ASSERT_EQ(wioWriteFileInfo(w.cb, dir.file("b.wav").c_str()), 0);
    EXPECT_NE(w->DataChunk.dwFlags & MMIO_DIRTY, 0u);
    EXPECT_EQ(w->DataOffset, 46);
    EXPECT_STREQ(static_cast<const char*>(w->Source), dir.file("b.wav").c_str());
    ASSERT_EQ(wioWaveClose(w.cb), 0);
    const Bytes finished = test::ReadFileBytes(dir.file("b.wav"));
    ASSERT_EQ(finished.size(), 58u);
    ASSERT_EQ(wioWaveOpen(w.cb), 0);
    EXPECT_EQ(w->DataChunk.dwFlags & MMIO_DIRTY, 0u);
    ASSERT_EQ(wioWaveClose(w.cb), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.file("b.wav")), finished);
}

// Writing an existing file in the middle of its data: the data keeps its size, the
// chunks after it become "fact" and INFO, and the old bytes past the new end stay.
TEST(EngineWrite, InPlace)
{
    test::TempDir dir;
    const std::string name = dir.file("a.wav");
    const Bytes original = existingFile();
    ASSERT_EQ(original.size(), 136u);
    test::WriteFileBytes(name, original);
    CbHolder h;
    ASSERT_EQ(test::scanFile(h, name), 0);
    ASSERT_EQ(wioWaveOpen(h.cb), 0);
    ASSERT_EQ(wioWaveSetPosition(h.cb, 2), 0);
    const char frame[4] = {1, 2, 3, 4};
    ASSERT_EQ(wioWaveWriteData(h.cb, frame, 4), 4);
    EXPECT_NE(h->DataChunk.dwFlags & MMIO_DIRTY, 0u);
    EXPECT_EQ(h->SamplePos, 3);
    ASSERT_EQ(wioWaveClose(h.cb), 0);

    Bytes data = pattern(40);
    std::memcpy(data.data() + 8, frame, 4);
    const Bytes head = test::RiffWave(cat({chunk("fmt ", Bytes(original.begin() + 20, original.begin() + 36)),
        chunk("data", data), chunk("fact", le32Bytes(10)), test::infoList("INAM", "Hi")}));
    ASSERT_EQ(head.size(), 120u);
    const Bytes file = test::ReadFileBytes(name);
    ASSERT_EQ(file.size(), original.size());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 120), head);
    EXPECT_EQ(Bytes(file.begin() + 120, file.end()), Bytes(original.begin() + 120, original.end()));
    EXPECT_EQ(h->FileSize, 136);

    CbHolder again;
    ASSERT_EQ(test::scanFile(again, name), 0);
    EXPECT_EQ(again->DataSize, 40);
    EXPECT_EQ(again->SampleCount, 10);
}

// A file being written can be repositioned, or opened again, without losing what was
// written: the window grows with the data and the data ends where the writes reached.
TEST(EngineWrite, RepositioningWhileWritingKeepsTheData)
{
    const TWaveFormatEx format = test::pcmFormat(2, 8000, 16);
    const Bytes data = pattern(40);
    const char frame[4] = {9, 9, 9, 9};
    test::TempDir dir;
    for (bool reopen : {false, true}) {
        SCOPED_TRACE(reopen ? "second wioWaveOpen" : "wioWaveSetPosition");
        const std::string name = dir.file(reopen ? "reopen.wav" : "position.wav");
        CbHolder h;
        ASSERT_EQ(wioCreateFileInfo(h.cb, &format), 0);
        ASSERT_EQ(wioWriteFileInfo(h.cb, name.c_str()), 0);
        ASSERT_EQ(wioWaveWriteData(h.cb, reinterpret_cast<const char*>(data.data()), 40), 40);
        EXPECT_EQ(h->SampleCount, 10);
        EXPECT_EQ(h->LastSample, 10);
        if (reopen) {
            ASSERT_EQ(wioWaveOpen(h.cb), 0);
        }
        ASSERT_EQ(wioWaveSetPosition(h.cb, 2), 0);
        EXPECT_EQ(h->SamplePos, 2);
        ASSERT_EQ(wioWaveWriteData(h.cb, frame, 4), 4);
        ASSERT_EQ(wioWaveClose(h.cb), 0);
        Bytes want = data;
        std::memcpy(want.data() + 8, frame, 4);
        EXPECT_EQ(test::ReadFileBytes(name), expectedFile(recordBytes(format, 18), want, 10));
    }
}

// Creating a second file on a block still writing the first finishes the first.
TEST(EngineWrite, WriteFileInfoFinishesTheFileBeingWritten)
{
    const TWaveFormatEx format = test::pcmFormat(2, 8000, 16);
    const Bytes data = pattern(8);
    test::TempDir dir;
    CbHolder h;
    ASSERT_EQ(wioCreateFileInfo(h.cb, &format), 0);
    ASSERT_EQ(wioWriteFileInfo(h.cb, dir.file("first.wav").c_str()), 0);
    ASSERT_EQ(wioWaveWriteData(h.cb, reinterpret_cast<const char*>(data.data()), 8), 8);
    ASSERT_EQ(wioWriteFileInfo(h.cb, dir.file("second.wav").c_str()), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.file("first.wav")), expectedFile(recordBytes(format, 18), data, 2));
    // The new file starts empty.
    EXPECT_EQ(h->DataSize, 0);
    EXPECT_EQ(h->SampleCount, 0);
    ASSERT_EQ(wioWaveClose(h.cb), 0);
    EXPECT_EQ(test::ReadFileBytes(dir.file("second.wav")), expectedFile(recordBytes(format, 18), {}, 0));
}

TEST(EngineWrite, SamplePosCountsFromTheStartOfData)
{
    test::TempDir dir;
    const std::string name = dir.file("a.wav");
    test::WriteFileBytes(name, existingFile());
    CbHolder h;
    ASSERT_EQ(test::scanFile(h, name), 0);
    ASSERT_EQ(wioWaveSetFirstSample(h.cb, 3), 0);
    ASSERT_EQ(wioWaveOpen(h.cb), 0);
    ASSERT_EQ(wioWaveSetPosition(h.cb, 2), 0);
    EXPECT_EQ(h->SamplePos, 2);
    const char frames[8] = {};
    ASSERT_EQ(wioWaveWriteSamples(h.cb, frames, 2), 2);
    EXPECT_EQ(h->SamplePos, 7); // frame 7 of the data, not of the window
    EXPECT_EQ(h->DataSize, 40);
    EXPECT_EQ(h->SampleCount, 10);
    EXPECT_EQ(wioWaveClose(h.cb), 0);
}

TEST(EngineWrite, Refusals)
{
    const TWaveFormatEx format = test::pcmFormat(2, 8000, 16);
    CbHolder h;
    ASSERT_EQ(wioCreateFileInfo(h.cb, &format), 0);
    const char b[4] = {};
    EXPECT_EQ(wioWaveWriteData(h.cb, b, 4), -1); // no file
    EXPECT_EQ(wioWaveWriteDataDirect(h.cb, b, 4), -1);
    EXPECT_EQ(wioWaveWriteSamples(h.cb, b, 1), -1);
    EXPECT_EQ(wioWaveWriteData(nullptr, b, 4), -1);
    EXPECT_EQ(wioWaveWriteSamples(nullptr, b, 1), -1);
    test::TempDir dir;
    ASSERT_EQ(wioWriteFileInfo(h.cb, dir.file("a.wav").c_str()), 0);
    EXPECT_EQ(wioWaveWriteData(h.cb, b, 0), -1);
    EXPECT_EQ(wioWaveWriteSamples(h.cb, b, 0), -1);
    EXPECT_EQ(h->DataSize, 0);

    // A memory image cannot be written.
    const Bytes image = existingFile();
    CbHolder mem;
    ASSERT_EQ(test::scanImage(mem, image), 0);
    ASSERT_EQ(wioWaveOpen(mem.cb), 0);
    EXPECT_EQ(wioWaveWriteData(mem.cb, b, 4), -1);
    EXPECT_EQ(mem->DataChunk.dwFlags & MMIO_DIRTY, 0u);
}

ssize_t failingWrite(int, const void*, size_t)
{
    errno = ENOSPC;
    return -1;
}

TEST(EngineWrite, FailingWrites)
{
    test::FileOpsRestorer restore;
    test::TempDir dir;
    const TWaveFormatEx format = test::pcmFormat(2, 8000, 16);
    CbHolder h;
    ASSERT_EQ(wioCreateFileInfo(h.cb, &format), 0);
    ASSERT_EQ(wioWriteFileInfo(h.cb, dir.file("a.wav").c_str()), 0);
    ASSERT_EQ(wioSetIOBufferSize(h.cb, 0), 0); // unbuffered: every write reaches the file
    const Bytes data = pattern(40);
    ASSERT_EQ(wioWaveWriteSamples(h.cb, reinterpret_cast<const char*>(data.data()), 2), 2);

    SysFileOps().write = failingWrite;
    EXPECT_EQ(wioWaveWriteSamples(h.cb, reinterpret_cast<const char*>(data.data()), 3), -1);
    EXPECT_EQ(h->DataSize, 8);
    EXPECT_EQ(h->SampleCount, 2);
    EXPECT_EQ(h->SamplePos, 2);
    // Finishing cannot write either: 106, and the file is closed all the same. The
    // written mark stays, so that the next close tries again.
    EXPECT_EQ(wioWaveClose(h.cb), wioErrFile);
    EXPECT_EQ(h->Handle, nullptr);
    EXPECT_NE(h->DataChunk.dwFlags & MMIO_DIRTY, 0u);
    resetFileOps();
    EXPECT_EQ(wioWaveClose(h.cb), 0);
    EXPECT_EQ(h->Handle, nullptr);
    EXPECT_EQ(h->DataChunk.dwFlags & MMIO_DIRTY, 0u);
    EXPECT_EQ(test::ReadFileBytes(dir.file("a.wav")), expectedFile(recordBytes(format, 18), headOf(data, 8), 2));
    EXPECT_EQ(wioWaveClose(h.cb), 0); // nothing left to do
}

// A format too large for the service's buffer is written out while the file is made;
// when that fails no file is left behind.
TEST(EngineWrite, FailedCreationLeavesNoFile)
{
    test::FileOpsRestorer restore;
    test::TempDir dir;
    const std::string name = dir.file("a.wav");
    std::vector<uint8_t> record(18 + 0xFFFF, 0);
    TWaveFormatEx head = {2, 1, 8000, 4000, 256, 4, 0xFFFF};
    std::memcpy(record.data(), &head, sizeof head);
    const auto* format = reinterpret_cast<const TWaveFormatEx*>(record.data());
    CbHolder h;
    ASSERT_EQ(wioCreateFileInfoN(h.cb, format, static_cast<int32_t>(record.size())), 0);
    SysFileOps().write = failingWrite;
    EXPECT_EQ(wioWriteFileInfo(h.cb, name.c_str()), wioErrFile);
    EXPECT_EQ(h->Handle, nullptr);
    EXPECT_FALSE(std::filesystem::exists(name));
}

// The file is made new: whatever stands at the name is neither followed nor replaced.
TEST(EngineWrite, CreatingOverAnythingAtTheNameFails)
{
    test::TempDir dir;
    const Bytes old = pattern(30);
    const std::string file = dir.file("file.wav");
    const std::string target = dir.file("target.wav");
    const std::string link = dir.file("link.wav");
    const std::string dangling = dir.file("dangling.wav");
    test::WriteFileBytes(file, old);
    test::WriteFileBytes(target, old);
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("nowhere.wav").c_str(), dangling.c_str()), 0);
    const TWaveFormatEx format = test::pcmFormat(2, 8000, 16);
    for (const std::string& name : {file, link, dangling}) {
        SCOPED_TRACE(name);
        CbHolder h;
        ASSERT_EQ(wioCreateFileInfo(h.cb, &format), 0);
        EXPECT_EQ(wioWriteFileInfo(h.cb, name.c_str()), wioErrFile);
        EXPECT_EQ(h->Handle, nullptr);
    }
    EXPECT_EQ(test::ReadFileBytes(file), old);
    EXPECT_EQ(test::ReadFileBytes(target), old);
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere.wav")));
}

TEST(EngineWrite, DirectEqualsPlain)
{
    test::TempDir dir;
    const TWaveFormatEx format = test::pcmFormat(2, 8000, 16);
    const Bytes data = pattern(20000);
    for (bool direct : {false, true}) {
        CbHolder h;
        ASSERT_EQ(wioCreateFileInfo(h.cb, &format), 0);
        ASSERT_EQ(wioWriteFileInfo(h.cb, dir.file(direct ? "d.wav" : "p.wav").c_str()), 0);
        ASSERT_EQ(wioSetIOBufferSize(h.cb, 3000), 0);
        for (size_t at = 0; at < data.size(); at += 5000) {
            const char* p = reinterpret_cast<const char*>(data.data() + at);
            ASSERT_EQ(direct ? wioWaveWriteDataDirect(h.cb, p, 5000) : wioWaveWriteData(h.cb, p, 5000), 5000);
        }
        EXPECT_EQ(h->SamplePos, 5000);
        EXPECT_EQ(h->SampleCount, 5000);
        ASSERT_EQ(wioWaveClose(h.cb), 0);
    }
    const Bytes plain = test::ReadFileBytes(dir.file("p.wav"));
    EXPECT_EQ(plain, expectedFile(recordBytes(format, 18), data, 5000));
    EXPECT_EQ(test::ReadFileBytes(dir.file("d.wav")), plain);
}

// What python's wave module reads of each file, one line per file: channels, bytes per
// sample, rate, frames. One run for all files: starting python once per file is slow.
std::string pythonWaveInfo(const std::vector<std::string>& names)
{
    std::string cmd = "python3 -c 'import sys, wave\n"
                      "for n in sys.argv[1:]:\n"
                      "    w = wave.open(n); print(w.getnchannels(), w.getsampwidth(), w.getframerate(), "
                      "w.getnframes())'";
    for (const std::string& n : names)
        cmd += " '" + n + "'";
    cmd += " 2>&1";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(cmd.c_str(), "r"), ::pclose);
    if (!pipe)
        return "no python";
    std::string out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, pipe.get()) != nullptr)
        out += buf;
    return out;
}

// Every PCM sample file copied through the engine, as the wave object copies one.
TEST(EngineWrite, CopiesOfTheSampleFiles)
{
    ORVELLE_REQUIRE_SAMPLES();
    if (std::system("python3 -c 'import wave' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 with its wave module is not available";
    test::TempDir dir;
    std::vector<std::string> copies;
    std::string want;
    for (const std::filesystem::path& sample : test::sampleWaveFiles()) {
        SCOPED_TRACE(sample.filename().string());
        // Read straight from the sample folder, which may be read-only, through the
        // service's buffer.
        CbHolder src;
        if (test::scanFile(src, sample.string()) != 0 || src->Format.wFormatTag != WAVE_FORMAT_PCM)
            continue;
        if (src->DataOffset == 0)
            continue; // a format without a "data" chunk cannot be opened
        ASSERT_EQ(wioWaveOpen(src.cb), 0);
        std::vector<char> samples;
        std::vector<char> block(4096);
        for (int32_t r; (r = wioWaveReadData(src.cb, block.data(), 4096)) > 0;)
            samples.insert(samples.end(), block.begin(), block.begin() + r);
        ASSERT_EQ(samples.size(), static_cast<size_t>(src->DataSize));

        const std::string out = dir.file("copy-" + sample.filename().string());
        CbHolder dst;
        ASSERT_EQ(wioCreateFileInfo(dst.cb, &src->Format), 0);
        ASSERT_EQ(wioCopyFileInfo(dst.cb, src.cb), 0);
        ASSERT_EQ(wioWriteFileInfo(dst.cb, out.c_str()), 0);
        for (size_t at = 0; at < samples.size(); at += 4096) {
            const int32_t n = static_cast<int32_t>(std::min<size_t>(4096, samples.size() - at));
            ASSERT_EQ(wioWaveWriteData(dst.cb, samples.data() + at, n), n);
        }
        ASSERT_EQ(wioWaveClose(dst.cb), 0);

        const Bytes file = test::ReadFileBytes(out);
        const size_t n = samples.size();
        ASSERT_GE(file.size(), 58 + n);
        EXPECT_EQ(loadLe32(file.data() + 4), file.size() - 8);
        EXPECT_EQ(loadLe32(file.data() + 16), 18u);
        EXPECT_EQ(loadLe32(file.data() + 42), n);
        EXPECT_TRUE(n == 0 || std::memcmp(file.data() + 46, samples.data(), n) == 0);
        const size_t fact = 46 + n + (n & 1);
        EXPECT_EQ(std::memcmp(file.data() + fact, "fact", 4), 0);
        EXPECT_EQ(loadLe32(file.data() + fact + 8), static_cast<uint32_t>(src->SampleCount));

        CbHolder back;
        ASSERT_EQ(test::scanFile(back, out), 0);
        EXPECT_EQ(std::memcmp(&back->Format, &src->Format, 16), 0);
        EXPECT_EQ(back->SampleCount, src->SampleCount);
        EXPECT_EQ(back->DataSize, src->DataSize);

        copies.push_back(out);
        want += std::to_string(src->Format.nChannels) + " " + std::to_string(src->Format.wBitsPerSample / 8) + " " +
            std::to_string(src->Format.nSamplesPerSec) + " " + std::to_string(src->SampleCount) + "\n";
    }
    EXPECT_GT(copies.size(), 20u);
    EXPECT_EQ(pythonWaveInfo(copies), want);
}

} // namespace
} // namespace orvelle
