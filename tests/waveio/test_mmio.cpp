// The RIFF file service: open modes and names, buffered and direct I/O on disk and in
// memory, chunk stepping, failures of the file system and the 32-bit offset limit.
#include "waveio/Mmio.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "util/LittleEndian.h"

#include "MemoryFile.h"
#include "TestSupport.h"
#include "platform/Sysfile.h"

namespace orvelle {
namespace {

using test::Bytes;

// Deterministic pseudo-random numbers for generated contents and operation mixes.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : state_(seed) { }
    uint32_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    int64_t below(int64_t n) { return n <= 0 ? 0 : static_cast<int64_t>(next() % static_cast<uint32_t>(n)); }

private:
    uint32_t state_;
};

Bytes randomBytes(size_t n, uint32_t seed)
{
    Lcg r(seed);
    Bytes b(n);
    for (auto& v : b)
        v = static_cast<uint8_t>(r.next());
    return b;
}

HMMIO openFile(const std::string& name, uint32_t flags)
{
    std::string copy = name;
    return mmioOpenA(copy.data(), nullptr, flags);
}

HMMIO openMemory(std::vector<char>& block, uint32_t flags = MMIO_ALLOCBUF)
{
    MMIOINFO info = test::memoryFileInfo(block.data(), block.size());
    return mmioOpenA(nullptr, &info, flags);
}

std::vector<char> asChars(const Bytes& b) { return std::vector<char>(b.begin(), b.end()); }

constexpr uint32_t kReadWrite = MMIO_ALLOCBUF | MMIO_READWRITE;
constexpr uint32_t kCreate = MMIO_ALLOCBUF | MMIO_READWRITE | MMIO_CREATE;

// Reads through the direct buffer interface as the engine does; bytes read or -1.
int64_t directRead(HMMIO h, char* dst, int64_t n)
{
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != 0)
        return -1;
    int64_t got = 0;
    while (got < n) {
        if (info.pchNext == info.pchEndRead) {
            if (mmioAdvance(h, &info, MMIO_ADVANCE_READ) != 0)
                return -1;
            if (info.pchNext == info.pchEndRead)
                break;
        }
        int64_t k = std::min<int64_t>(info.pchEndRead - info.pchNext, n - got);
        std::memcpy(dst + got, info.pchNext, static_cast<size_t>(k));
        info.pchNext += k;
        got += k;
    }
    return mmioSetInfo(h, &info, 0) == 0 ? got : -1;
}

// Stores bytes straight into the I/O buffer as the engine does; bytes stored or -1.
int64_t directWrite(HMMIO h, const char* src, int64_t n)
{
    MMIOINFO info{};
    if (mmioGetInfo(h, &info, 0) != 0)
        return -1;
    for (int64_t i = 0; i < n; ++i) {
        if (info.pchNext == info.pchEndWrite) {
            info.dwFlags |= MMIO_DIRTY;
            if (mmioAdvance(h, &info, MMIO_ADVANCE_WRITE) != 0)
                return -1;
        }
        *info.pchNext++ = src[i];
    }
    info.dwFlags |= MMIO_DIRTY;
    return mmioSetInfo(h, &info, 0) == 0 ? n : -1;
}

class MmioTest : public ::testing::Test {
protected:
    void TearDown() override { resetFileOps(); }

    std::string MakeFile(const std::string& name, const Bytes& bytes)
    {
        std::string path = dir.file(name);
        test::WriteFileBytes(path, bytes);
        return path;
    }

    test::TempDir dir;
};

// ---- opening, names ------------------------------------------------------------------

TEST_F(MmioTest, CreateMakesANewFileAndMarksTheHandle)
{
    std::string path = dir.file("a.wav");
    HMMIO h = openFile(path, kCreate);
    ASSERT_NE(h, nullptr);
    MMIOINFO info{};
    ASSERT_EQ(mmioGetInfo(h, &info, 0), 0u);
    EXPECT_TRUE(info.dwFlags & MMIO_CREATE);
    EXPECT_EQ(info.fccIOProc, 0u);
    EXPECT_EQ(info.cchBuffer, 8192);
    EXPECT_EQ(mmioSeek(h, 0, 2), 0);
    EXPECT_EQ(mmioClose(h, 0), 0u);
    EXPECT_EQ(fileSizeByName(path), 0);
    struct stat st { };
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    h = openFile(path, kReadWrite);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioGetInfo(h, &info, 0), 0u);
    EXPECT_FALSE(info.dwFlags & MMIO_CREATE);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

// Create never follows a link nor truncates: whatever stands at the name stays as it was.
TEST_F(MmioTest, CreateRefusesANameThatIsTaken)
{
    const Bytes old(100, 1);
    const std::string target = MakeFile("target.wav", old);
    const std::string file = MakeFile("file.wav", old);
    const std::string link = dir.file("link.wav");
    const std::string dangling = dir.file("dangling.wav");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("nowhere.wav").c_str(), dangling.c_str()), 0);
    for (const std::string& name : {file, link, dangling}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(openFile(name, kCreate), nullptr);
    }
    EXPECT_EQ(test::ReadFileBytes(file), old);
    EXPECT_EQ(test::ReadFileBytes(target), old);
    EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere.wav")));
    struct stat st { };
    EXPECT_EQ(::lstat(dangling.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(MmioTest, MissingFileIsNotOpened)
{
    EXPECT_EQ(openFile(dir.file("none.wav"), kReadWrite), nullptr);
    EXPECT_EQ(openFile("", kReadWrite), nullptr);
    EXPECT_EQ(mmioOpenA(nullptr, nullptr, kReadWrite), nullptr);
}

int gLastOpenFlags = 0;
mode_t gLastOpenMode = 0;
int recordingOpen(const char* path, int flags, mode_t mode)
{
    gLastOpenFlags = flags;
    gLastOpenMode = mode;
    return ::open(path, flags, mode);
}

TEST_F(MmioTest, ReadWriteOpensForWritingToo)
{
    std::string path = MakeFile("a.wav", Bytes(10, 0));
    SysFileOps().open = recordingOpen;
    HMMIO h = openFile(path, kReadWrite);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(gLastOpenFlags & O_ACCMODE, O_RDWR);
    EXPECT_FALSE(gLastOpenFlags & (O_CREAT | O_TRUNC));
    mmioClose(h, 0);

    h = openFile(dir.file("new.wav"), kCreate);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(
        gLastOpenFlags & (O_ACCMODE | O_CREAT | O_TRUNC | O_EXCL | O_NOFOLLOW), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW);
    EXPECT_EQ(gLastOpenMode, 0666u);
    mmioClose(h, 0);
}

// A FIFO would block the first read for ever (and opening it for reading alone would
// wait for a writer); devices and folders are no wave files either.
TEST_F(MmioTest, OnlyRegularFilesAreOpened)
{
    const std::string fifo = dir.file("pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string paths[] = {fifo, dir.path().string(), "/dev/null"};
    for (const std::string& path : paths) {
        for (uint32_t mode : {kReadWrite, static_cast<uint32_t>(MMIO_ALLOCBUF | MMIO_READ)})
            EXPECT_EQ(openFile(path, mode), nullptr) << path << (mode == kReadWrite ? " read-write" : " read-only");
    }
    EXPECT_EQ(openFile(fifo, kCreate), nullptr);
}

TEST_F(MmioTest, ReadOnlyFileIsRefusedForReadWrite)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the super-user";
    std::string path = MakeFile("ro.wav", Bytes(10, 0));
    ASSERT_TRUE(setFileModeByName(path, 0444));
    EXPECT_EQ(openFile(path, kReadWrite), nullptr);
    HMMIO h = openFile(path, MMIO_ALLOCBUF | MMIO_READ);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "x", 1), -1);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

TEST_F(MmioTest, ParseWritesTheFullPath)
{
    std::string rel = dir.file("sub/../a.wav");
    std::vector<char> name(MMIO_MAXPATH, '\0');
    std::memcpy(name.data(), rel.c_str(), rel.size() + 1);
    HMMIO token = mmioOpenA(name.data(), nullptr, MMIO_PARSE);
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(std::string(name.data()), fullPathName(rel));
    EXPECT_EQ(std::string(name.data()), dir.file("a.wav"));
    // A token is no handle: closing or reading it is refused, and it stays valid.
    EXPECT_NE(mmioClose(token, 0), 0u);
    EXPECT_EQ(mmioRead(token, name.data(), 1), -1);
}

TEST_F(MmioTest, ParseFailsWhenThePathDoesNotFit)
{
    std::string longName = "/" + std::string(MMIO_MAXPATH, 'x');
    std::string before = longName;
    EXPECT_EQ(mmioOpenA(longName.data(), nullptr, MMIO_PARSE), nullptr);
    EXPECT_EQ(longName, before);
}

TEST_F(MmioTest, ExistAndDelete)
{
    std::string path = MakeFile("a.wav", Bytes(3, 0));
    EXPECT_NE(openFile(path, MMIO_EXIST), nullptr);
    EXPECT_EQ(openFile(dir.file("none"), MMIO_EXIST), nullptr);
    EXPECT_EQ(openFile(dir.path().string(), MMIO_EXIST), nullptr);
    EXPECT_NE(openFile(path, MMIO_DELETE), nullptr);
    EXPECT_FALSE(fileExists(path));
    EXPECT_EQ(openFile(path, MMIO_DELETE), nullptr);
}

TEST_F(MmioTest, RenameRefusesAnExistingTarget)
{
    std::string a = MakeFile("a", Bytes{1});
    std::string b = MakeFile("b", Bytes{2});
    EXPECT_NE(mmioRenameA(a.c_str(), b.c_str(), nullptr, 0), 0u);
    EXPECT_EQ(test::ReadFileBytes(a), Bytes{1});
    EXPECT_EQ(test::ReadFileBytes(b), Bytes{2});
    std::string c = dir.file("c");
    EXPECT_EQ(mmioRenameA(a.c_str(), c.c_str(), nullptr, 0), 0u);
    EXPECT_FALSE(fileExists(a));
    EXPECT_EQ(test::ReadFileBytes(c), Bytes{1});
}

TEST(MmioFourCC, TextsArePaddedWithSpaces)
{
    struct Case {
        const char* text;
        FOURCC code;
    } cases[] = {
        {"WAVE", mmioFourCC('W', 'A', 'V', 'E')},
        {"fmt", mmioFourCC('f', 'm', 't', ' ')},
        {"I", mmioFourCC('I', ' ', ' ', ' ')},
        {"", mmioFourCC(' ', ' ', ' ', ' ')},
        {"LISTS", FOURCC_LIST},
        {"RIFF", 0x46464952u},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mmioStringToFOURCCA(c.text, 0), c.code) << c.text;
}

// ---- mixed reads, writes, seeks and direct access against a model ---------------------

// The file or block as it must be; beyond its end a disk file reads as zeros once written.
struct Model {
    Bytes bytes;
    int64_t pos = 0;
    bool canGrow = true;

    int64_t Read(Bytes& out, int64_t n)
    {
        int64_t k = std::clamp<int64_t>(static_cast<int64_t>(bytes.size()) - pos, 0, n);
        out.assign(bytes.begin() + pos, bytes.begin() + pos + k);
        pos += k;
        return k;
    }
    bool Write(const Bytes& in)
    {
        if (in.empty())
            return true;
        size_t end = static_cast<size_t>(pos) + in.size();
        if (end > bytes.size()) {
            if (!canGrow)
                return false;
            bytes.resize(end, 0);
        }
        std::copy(in.begin(), in.end(), bytes.begin() + pos);
        pos += static_cast<int64_t>(in.size());
        return true;
    }
};

enum class Op { Seek, Read, Write, DirectRead, DirectWrite };

const char* opName(Op op)
{
    static const char* const names[] = {"seek", "read", "write", "direct read", "direct write"};
    return names[static_cast<int>(op)];
}

void runMixedOps(HMMIO h, Model& model, bool direct, uint32_t seed, int steps)
{
    Lcg r(seed);
    for (int step = 0; step < steps; ++step) {
        auto op = static_cast<Op>(r.below(direct ? 5 : 3));
        int64_t len = r.below(r.below(4) == 0 ? 20000 : 300);
        SCOPED_TRACE(
            testing::Message() << "step " << step << " " << opName(op) << " len " << len << " pos " << model.pos);
        if (op == Op::Seek) {
            int64_t to = r.below(static_cast<int64_t>(model.bytes.size()) + 64);
            ASSERT_EQ(mmioSeek(h, static_cast<int32_t>(to), 0), to);
            model.pos = to;
        } else if (op == Op::Read || op == Op::DirectRead) {
            Bytes want;
            int64_t k = model.Read(want, len);
            std::vector<char> got(static_cast<size_t>(len) + 1);
            int64_t n =
                op == Op::Read ? mmioRead(h, got.data(), static_cast<int32_t>(len)) : directRead(h, got.data(), len);
            ASSERT_EQ(n, k);
            ASSERT_TRUE(std::equal(want.begin(), want.end(), reinterpret_cast<uint8_t*>(got.data())));
        } else {
            Bytes data = randomBytes(static_cast<size_t>(len), r.next());
            bool fits = model.canGrow || model.pos + len <= static_cast<int64_t>(model.bytes.size());
            if (op == Op::DirectWrite && !fits)
                continue; // a memory file's direct writer stops at its end (tested apart)
            int64_t before = model.pos;
            bool ok = model.Write(data);
            const char* src = reinterpret_cast<const char*>(data.data());
            int64_t n = op == Op::Write ? mmioWrite(h, src, static_cast<int32_t>(len)) : directWrite(h, src, len);
            ASSERT_EQ(n, ok ? len : -1);
            if (!ok) {
                ASSERT_EQ(mmioSeek(h, 0, 1), before);
            }
        }
        ASSERT_EQ(mmioSeek(h, 0, 1), model.pos);
    }
}

class MixedDiskIo : public MmioTest, public ::testing::WithParamInterface<int32_t> { };

TEST_P(MixedDiskIo, MatchesTheModel)
{
    int32_t bufferSize = GetParam();
    Model model{randomBytes(30000, 7)};
    std::string path = MakeFile("mix.bin", model.bytes);
    HMMIO h = openFile(path, kReadWrite);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioSetBuffer(h, nullptr, bufferSize, 0), 0u);
    runMixedOps(h, model, bufferSize > 0, 1000u + static_cast<uint32_t>(bufferSize), 400);
    EXPECT_EQ(mmioSeek(h, 0, 2), static_cast<int32_t>(model.bytes.size()));
    EXPECT_EQ(mmioClose(h, 0), 0u);
    EXPECT_EQ(test::ReadFileBytes(path), model.bytes);
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, MixedDiskIo, ::testing::Values(0, 1, 7, 100, 4096, 8192, 10000));

TEST_F(MmioTest, MixedMemoryIoMatchesTheModel)
{
    Model model{randomBytes(30000, 9)};
    model.canGrow = false;
    std::vector<char> block = asChars(model.bytes);
    HMMIO h = openMemory(block, MMIO_ALLOCBUF | MMIO_READWRITE);
    ASSERT_NE(h, nullptr);
    runMixedOps(h, model, true, 77, 400);
    EXPECT_EQ(mmioSeek(h, 0, 2), 30000);
    EXPECT_EQ(mmioClose(h, 0), 0u);
    EXPECT_EQ(Bytes(block.begin(), block.end()), model.bytes);
}

TEST_F(MmioTest, UnbufferedWritesReachTheFileAtOnce)
{
    std::string path = dir.file("u.bin");
    HMMIO h = openFile(path, kCreate);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioWrite(h, "0123456789", 10), 10);
    EXPECT_EQ(fileSizeByName(path), 0); // still in the buffer
    ASSERT_EQ(mmioSetBuffer(h, nullptr, 0, 0), 0u);
    EXPECT_EQ(fileSizeByName(path), 10); // the buffer change wrote it out
    ASSERT_EQ(mmioWrite(h, "abc", 3), 3);
    EXPECT_EQ(fileSizeByName(path), 13);
    char b[4] = {};
    EXPECT_EQ(mmioSeek(h, 8, 0), 8);
    EXPECT_EQ(mmioRead(h, b, 4), 4);
    EXPECT_EQ(std::string(b, 4), "89ab");
    char own[4];
    EXPECT_EQ(mmioSetBuffer(h, own, 4, 0), MMIOERR_INVALIDPARAM);
    EXPECT_EQ(mmioSetBuffer(h, nullptr, -1, 0), MMIOERR_INVALIDPARAM);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

// ---- reads through the seam: buffering, bypass, short reads ----------------------------

std::vector<std::pair<const void*, size_t>> gReads;
ssize_t countingRead(int fd, void* buf, size_t n)
{
    gReads.emplace_back(buf, n);
    return ::read(fd, buf, n);
}

TEST_F(MmioTest, LargeReadsBypassTheBuffer)
{
    Bytes content = randomBytes(50000, 3);
    std::string path = MakeFile("big.bin", content);
    for (int32_t size : {8192, 100}) {
        SCOPED_TRACE(size);
        HMMIO h = openFile(path, kReadWrite);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(mmioSetBuffer(h, nullptr, size, 0), 0u);
        gReads.clear();
        SysFileOps().read = countingRead;
        std::vector<char> dst(30000);

        // A small read fills the I/O buffer once.
        ASSERT_EQ(mmioRead(h, dst.data(), 10), 10);
        ASSERT_EQ(gReads.size(), 1u);
        EXPECT_NE(gReads[0].first, dst.data());
        EXPECT_EQ(gReads[0].second, static_cast<size_t>(size));

        // A large one takes what the buffer holds, then reads straight into the caller's buffer.
        size_t held = static_cast<size_t>(size) - 10;
        ASSERT_EQ(mmioRead(h, dst.data(), 20000), 20000);
        ASSERT_EQ(gReads.size(), 2u);
        EXPECT_EQ(gReads[1].first, dst.data() + held);
        EXPECT_EQ(gReads[1].second, 20000 - held);
        EXPECT_TRUE(std::equal(dst.begin(), dst.begin() + 20000, content.begin() + 10,
            [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));

        // A read just below the buffer size after it goes through the buffer again.
        ASSERT_EQ(mmioRead(h, dst.data(), size - 1), size - 1);
        ASSERT_EQ(gReads.size(), 3u);
        EXPECT_NE(gReads[2].first, dst.data());
        resetFileOps();
        EXPECT_EQ(mmioClose(h, 0), 0u);
    }
}

int gStingyCalls = 0;
ssize_t stingyRead(int fd, void* buf, size_t n)
{
    if (++gStingyCalls % 2 == 0) {
        errno = EINTR;
        return -1;
    }
    return ::read(fd, buf, std::min<size_t>(n, 3));
}
ssize_t stingyWrite(int fd, const void* buf, size_t n)
{
    if (++gStingyCalls % 2 == 0) {
        errno = EINTR;
        return -1;
    }
    return ::write(fd, buf, std::min<size_t>(n, 5));
}

TEST_F(MmioTest, ShortAndInterruptedTransfersAreRetried)
{
    Bytes content = randomBytes(20000, 5);
    std::string path = MakeFile("s.bin", content);
    SysFileOps().read = stingyRead;
    SysFileOps().write = stingyWrite;
    HMMIO h = openFile(path, kReadWrite);
    ASSERT_NE(h, nullptr);
    std::vector<char> dst(20000);
    ASSERT_EQ(mmioRead(h, dst.data(), 100), 100);
    ASSERT_EQ(mmioRead(h, dst.data() + 100, 19900), 19900);
    EXPECT_EQ(Bytes(dst.begin(), dst.end()), content);
    EXPECT_EQ(mmioRead(h, dst.data(), 10), 0);
    ASSERT_EQ(mmioSeek(h, 5, 0), 5);
    ASSERT_EQ(mmioWrite(h, "twelve bytes", 12), 12);
    EXPECT_EQ(mmioClose(h, 0), 0u);
    std::copy_n("twelve bytes", 12, content.begin() + 5);
    EXPECT_EQ(test::ReadFileBytes(path), content);
}

// ---- failures of the file system -----------------------------------------------------

int failOpen(const char*, int, mode_t) { return errno = EACCES, -1; }
ssize_t failRead(int, void*, size_t) { return errno = EIO, -1; }
ssize_t failWrite(int, const void*, size_t) { return errno = ENOSPC, -1; }
ssize_t zeroWrite(int, const void*, size_t) { return 0; }
off_t failLseek(int, off_t, int) { return errno = EIO, -1; }
int failClose(int fd) { return ::close(fd), errno = EIO, -1; }

TEST_F(MmioTest, FailuresOfTheFileSystemAreReported)
{
    // Read 16 bytes at 9000, write 16 after them, flush, close.
    struct Outcome {
        bool opened;
        bool readOk;
        bool flushOk;
        bool closeOk;
    };
    struct Case {
        const char* name;
        std::function<void(FileOps&)> breakIt;
        Outcome want;
    } cases[] = {
        {"nothing", [](FileOps&) {}, {true, true, true, true}},
        {"open", [](FileOps& o) { o.open = failOpen; }, {false, false, false, false}},
        {"read", [](FileOps& o) { o.read = failRead; }, {true, false, true, true}},
        {"write", [](FileOps& o) { o.write = failWrite; }, {true, true, false, false}},
        {"write moving nothing", [](FileOps& o) { o.write = zeroWrite; }, {true, true, false, false}},
        {"lseek", [](FileOps& o) { o.lseek = failLseek; }, {true, false, false, false}},
        {"close", [](FileOps& o) { o.close = failClose; }, {true, true, true, false}},
    };
    std::string path = MakeFile("f.bin", randomBytes(20000, 11));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        resetFileOps();
        c.breakIt(SysFileOps());
        HMMIO h = openFile(path, kReadWrite);
        ASSERT_EQ(h != nullptr, c.want.opened);
        if (h == nullptr)
            continue;
        char b[16];
        EXPECT_EQ(mmioSeek(h, 9000, 0), 9000);
        EXPECT_EQ(mmioRead(h, b, 16) == 16, c.want.readOk);
        EXPECT_EQ(mmioSeek(h, 9016, 0), 9016);
        EXPECT_EQ(mmioWrite(h, b, 16), 16); // buffered: the failure shows when it is written out
        EXPECT_EQ(mmioFlush(h, 0) == 0, c.want.flushOk);
        EXPECT_EQ(mmioClose(h, 0) == 0, c.want.closeOk);
    }
}

TEST_F(MmioTest, FailingWritesFailChunkSteps)
{
    std::string path = dir.file("c.wav");
    HMMIO h = openFile(path, kCreate);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioSetBuffer(h, nullptr, 0, 0), 0u);
    SysFileOps().write = failWrite;
    MMCKINFO ck{};
    ck.ckid = mmioFourCC('d', 'a', 't', 'a');
    EXPECT_NE(mmioCreateChunk(h, &ck, 0), 0u);
    resetFileOps();
    ASSERT_EQ(mmioCreateChunk(h, &ck, 0), 0u);
    ASSERT_EQ(mmioWrite(h, "abc", 3), 3);
    SysFileOps().write = failWrite;
    EXPECT_NE(mmioAscend(h, &ck, 0), 0u);
    EXPECT_TRUE(ck.dwFlags & MMIO_DIRTY); // the size is still to be fixed
    resetFileOps();
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

TEST_F(MmioTest, FailingReadsFailDescendAndKeepThePosition)
{
    Bytes image;
    test::PutChunk(image, "abcd", Bytes(4, 1));
    std::string path = MakeFile("r.bin", image);
    HMMIO h = openFile(path, kReadWrite);
    ASSERT_NE(h, nullptr);
    SysFileOps().read = failRead;
    MMCKINFO ck{};
    EXPECT_EQ(mmioDescend(h, &ck, nullptr, 0), MMIOERR_CANNOTREAD);
    EXPECT_EQ(mmioSeek(h, 0, 1), 0);
    resetFileOps();
    EXPECT_EQ(mmioDescend(h, &ck, nullptr, 0), 0u);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

// ---- the 32-bit offset limit ---------------------------------------------------------

off_t hugeEndLseek(int fd, off_t offset, int whence)
{
    if (whence == SEEK_END)
        return off_t{3'000'000'000} + offset;
    return ::lseek(fd, offset, whence);
}

TEST_F(MmioTest, OffsetsBeyondInt32AreRefused)
{
    std::string path = MakeFile("o.bin", Bytes(100, 0));
    HMMIO h = openFile(path, kReadWrite);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioSeek(h, INT32_MAX, 0), INT32_MAX);
    EXPECT_EQ(mmioSeek(h, 1, 1), -1);
    EXPECT_EQ(mmioSeek(h, 0, 1), INT32_MAX);
    char b[4] = {};
    EXPECT_EQ(mmioRead(h, b, 4), -1);
    EXPECT_EQ(mmioSeek(h, INT32_MAX - 2, 0), INT32_MAX - 2);
    EXPECT_EQ(mmioWrite(h, b, 4), -1);
    EXPECT_EQ(mmioSeek(h, -1, 0), -1);
    EXPECT_EQ(mmioSeek(h, 0, 3), -1);

    SysFileOps().lseek = hugeEndLseek;
    EXPECT_EQ(mmioSeek(h, 0, 2), -1);
    EXPECT_EQ(mmioSeek(h, -1'000'000'000, 2), 2'000'000'000);
    resetFileOps();
    EXPECT_EQ(mmioClose(h, 0), 0u);
    EXPECT_EQ(fileSizeByName(path), 100);
}

TEST_F(MmioTest, AscendPastTheLimitIsAnError)
{
    std::vector<char> block(64, 0);
    HMMIO h = openMemory(block);
    ASSERT_NE(h, nullptr);
    struct Case {
        uint32_t offset, size;
        uint32_t want;
    } cases[] = {
        {8, 0xFFFFFFFF, MMIOERR_CANNOTSEEK},
        {0x7FFFFFF0, 0x0F, MMIOERR_CANNOTSEEK}, // the pad would end at 0x80000000
        {0x7FFFFFF0, 0x0E, 0}, // ends at 0x7FFFFFFE
        {0xFFFFFFF8, 0x10, MMIOERR_CANNOTSEEK},
    };
    for (const auto& c : cases) {
        MMCKINFO ck{mmioFourCC('a', 'b', 'c', 'd'), c.size, 0, c.offset, 0};
        ASSERT_EQ(mmioSeek(h, 4, 0), 4);
        EXPECT_EQ(mmioAscend(h, &ck, 0), c.want) << c.offset << " " << c.size;
        int64_t end = int64_t{c.offset} + c.size + (c.size & 1);
        EXPECT_EQ(mmioSeek(h, 0, 1), c.want == 0 ? end : 4);
    }
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

// ---- memory files --------------------------------------------------------------------

TEST_F(MmioTest, MemoryFileCannotGrow)
{
    std::vector<char> block(10, 'z');
    HMMIO h = openMemory(block, MMIO_ALLOCBUF | MMIO_READWRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "01234567", 8), 8);
    EXPECT_EQ(mmioWrite(h, "abcd", 4), -1);
    EXPECT_EQ(std::string(block.data(), 10), "01234567zz");
    EXPECT_EQ(mmioSeek(h, 0, 1), 8);
    EXPECT_EQ(mmioSeek(h, 20, 0), 20);
    char b[4];
    EXPECT_EQ(mmioRead(h, b, 4), 0);
    EXPECT_EQ(mmioWrite(h, "a", 1), -1);
    MMCKINFO ck{mmioFourCC('a', 'b', 'c', 'd'), 0, 0, 0, 0};
    EXPECT_EQ(mmioSeek(h, 6, 0), 6);
    EXPECT_EQ(mmioCreateChunk(h, &ck, 0), MMIOERR_CANNOTEXPAND);
    EXPECT_EQ(std::string(block.data(), 10), "01234567zz");

    // Storing directly stops at the end of the block.
    MMIOINFO info{};
    ASSERT_EQ(mmioSeek(h, 9, 0), 9);
    ASSERT_EQ(mmioGetInfo(h, &info, 0), 0u);
    EXPECT_EQ(info.pchBuffer, block.data());
    EXPECT_EQ(info.cchBuffer, 10);
    EXPECT_EQ(info.pchNext, block.data() + 9);
    EXPECT_EQ(info.pchEndWrite, block.data() + 10);
    *info.pchNext++ = 'Q';
    info.dwFlags |= MMIO_DIRTY;
    EXPECT_EQ(mmioAdvance(h, &info, MMIO_ADVANCE_WRITE), MMIOERR_CANNOTEXPAND);
    EXPECT_EQ(mmioSeek(h, 0, 1), 10);
    EXPECT_EQ(block[9], 'Q');
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

TEST_F(MmioTest, MemoryFileOpenedForReadingRefusesWrites)
{
    std::vector<char> block(16, 'a');
    HMMIO h = openMemory(block);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "b", 1), -1);
    MMIOINFO info{};
    ASSERT_EQ(mmioGetInfo(h, &info, 0), 0u);
    EXPECT_EQ(info.fccIOProc, FOURCC_MEM);
    EXPECT_EQ(info.pchEndWrite, info.pchNext); // no room to store into
    EXPECT_EQ(info.pchEndRead, block.data() + 16);
    EXPECT_NE(mmioAdvance(h, &info, MMIO_ADVANCE_WRITE), 0u);
    EXPECT_EQ(std::string(block.data(), 16), std::string(16, 'a'));
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

TEST_F(MmioTest, MemoryDescriptionsThatCannotWorkAreRefused)
{
    std::vector<char> block(8);
    MMIOINFO info = test::memoryFileInfo(block.data(), block.size());
    info.cchBuffer = -1;
    EXPECT_EQ(mmioOpenA(nullptr, &info, MMIO_ALLOCBUF), nullptr);
    info.cchBuffer = 8;
    info.adwInfo[0] = 1024; // growth would need a block of our own
    EXPECT_EQ(mmioOpenA(nullptr, &info, MMIO_ALLOCBUF), nullptr);
    info.adwInfo[0] = 0;
    info.pchBuffer = nullptr;
    EXPECT_EQ(mmioOpenA(nullptr, &info, MMIO_ALLOCBUF), nullptr);
    info.fccIOProc = mmioFourCC('D', 'O', 'S', ' ');
    EXPECT_EQ(mmioOpenA(nullptr, &info, MMIO_ALLOCBUF), nullptr);
}

// ---- direct access -------------------------------------------------------------------

TEST_F(MmioTest, DirectReadWalksTheFileAndEndsAtItsEnd)
{
    Bytes content = randomBytes(1000, 13);
    std::string path = MakeFile("d.bin", content);
    HMMIO h = openFile(path, kReadWrite);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioSetBuffer(h, nullptr, 300, 0), 0u);
    ASSERT_EQ(mmioSeek(h, 50, 0), 50);
    MMIOINFO info{};
    ASSERT_EQ(mmioGetInfo(h, &info, 0), 0u);
    EXPECT_EQ(info.pchNext, info.pchEndRead); // nothing buffered yet
    Bytes got;
    for (;;) {
        ASSERT_EQ(mmioAdvance(h, &info, MMIO_ADVANCE_READ), 0u);
        if (info.pchNext == info.pchEndRead)
            break;
        EXPECT_EQ(info.lBufOffset, static_cast<int32_t>(50 + got.size()));
        EXPECT_EQ(info.pchEndWrite, info.pchBuffer + 300);
        got.insert(got.end(), info.pchNext, info.pchEndRead);
        info.pchNext = info.pchEndRead;
    }
    EXPECT_EQ(got, Bytes(content.begin() + 50, content.end()));
    ASSERT_EQ(mmioSetInfo(h, &info, 0), 0u);
    EXPECT_EQ(mmioSeek(h, 0, 1), 1000);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

TEST_F(MmioTest, DirectWritesAreWrittenOutLater)
{
    std::string path = dir.file("w.bin");
    HMMIO h = openFile(path, kCreate);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(mmioSetBuffer(h, nullptr, 7, 0), 0u);
    Bytes data = randomBytes(40, 17);
    ASSERT_EQ(directWrite(h, reinterpret_cast<const char*>(data.data()), 40), 40);
    EXPECT_EQ(mmioSeek(h, 0, 1), 40);
    EXPECT_EQ(fileSizeByName(path), 35); // five full buffers went out on advance
    ASSERT_EQ(mmioFlush(h, 0), 0u);
    EXPECT_EQ(test::ReadFileBytes(path), data);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

TEST_F(MmioTest, DirectAccessStatesMustBeTheHandlesOwn)
{
    std::string path = MakeFile("x.bin", Bytes(100, 1));
    HMMIO h = openFile(path, kReadWrite);
    ASSERT_NE(h, nullptr);
    MMIOINFO info{};
    EXPECT_EQ(mmioSetInfo(h, &info, 0), MMIOERR_INVALIDPARAM); // nothing handed out
    ASSERT_EQ(mmioGetInfo(h, &info, 0), 0u);
    MMIOINFO foreign = info;
    char other[4];
    foreign.pchBuffer = other;
    foreign.pchNext = other;
    EXPECT_EQ(mmioSetInfo(h, &foreign, 0), MMIOERR_INVALIDPARAM);
    MMIOINFO beyond = info;
    beyond.pchNext = reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(info.pchBuffer) + info.cchBuffer + 1);
    EXPECT_EQ(mmioSetInfo(h, &beyond, 0), MMIOERR_INVALIDPARAM);
    EXPECT_EQ(mmioAdvance(h, &info, 7), MMIOERR_INVALIDPARAM);
    EXPECT_EQ(mmioSetInfo(h, &info, 0), 0u);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

TEST_F(MmioTest, UnbufferedHandleHandsOutAnEmptyBuffer)
{
    HMMIO h = openFile(dir.file("u.bin"), MMIO_READWRITE | MMIO_CREATE);
    ASSERT_NE(h, nullptr);
    MMIOINFO info{};
    ASSERT_EQ(mmioGetInfo(h, &info, 0), 0u);
    EXPECT_EQ(info.cchBuffer, 0);
    EXPECT_EQ(info.pchBuffer, nullptr);
    EXPECT_TRUE(info.dwFlags & MMIO_CREATE);
    EXPECT_EQ(mmioAdvance(h, &info, MMIO_ADVANCE_READ), MMIOERR_CANNOTREAD);
    EXPECT_EQ(mmioAdvance(h, &info, MMIO_ADVANCE_WRITE), MMIOERR_CANNOTWRITE);
    EXPECT_EQ(mmioSetInfo(h, &info, 0), 0u);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

// ---- chunks --------------------------------------------------------------------------

// "RIFF" "WAVE" { "fmt " (3 bytes), "LIST" "INFO" { "INAM" "Hi\0" }, "data" (4 bytes) }.
Bytes sampleImage()
{
    Bytes info;
    test::PutId(info, "INFO");
    test::PutChunk(info, "INAM", Bytes{'H', 'i', 0});
    Bytes body;
    test::PutId(body, "WAVE");
    test::PutChunk(body, "fmt ", Bytes{1, 2, 3});
    test::PutChunk(body, "LIST", info);
    test::PutChunk(body, "data", Bytes{9, 8, 7, 6});
    Bytes image;
    test::PutChunk(image, "RIFF", body);
    return image;
}

void writeSample(HMMIO h)
{
    MMCKINFO riff{0, 0, mmioFourCC('W', 'A', 'V', 'E'), 0, 0};
    ASSERT_EQ(mmioCreateChunk(h, &riff, MMIO_CREATERIFF), 0u);
    EXPECT_EQ(riff.ckid, FOURCC_RIFF);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    EXPECT_TRUE(riff.dwFlags & MMIO_DIRTY);
    EXPECT_EQ(mmioSeek(h, 0, 1), 12);

    MMCKINFO fmt{mmioFourCC('f', 'm', 't', ' '), 0, 0, 0, 0};
    ASSERT_EQ(mmioCreateChunk(h, &fmt, 0), 0u);
    ASSERT_EQ(mmioWrite(h, "\1\2\3", 3), 3);
    ASSERT_EQ(mmioAscend(h, &fmt, 0), 0u);
    EXPECT_EQ(fmt.cksize, 3u);
    EXPECT_FALSE(fmt.dwFlags & MMIO_DIRTY);
    EXPECT_EQ(mmioSeek(h, 0, 1), 24); // after the pad byte

    MMCKINFO list{0, 0, mmioFourCC('I', 'N', 'F', 'O'), 0, 0};
    ASSERT_EQ(mmioCreateChunk(h, &list, MMIO_CREATELIST), 0u);
    MMCKINFO inam{mmioFourCC('I', 'N', 'A', 'M'), 3, 0, 0, 0};
    ASSERT_EQ(mmioCreateChunk(h, &inam, 0), 0u);
    ASSERT_EQ(mmioWrite(h, "Hi", 3), 3);
    ASSERT_EQ(mmioAscend(h, &inam, 0), 0u);
    ASSERT_EQ(mmioAscend(h, &list, 0), 0u);
    EXPECT_EQ(list.cksize, 16u);

    // Sizes given ahead are kept until the ascend fixes them.
    MMCKINFO data{mmioFourCC('d', 'a', 't', 'a'), 0x12345, 0, 0, 0};
    ASSERT_EQ(mmioCreateChunk(h, &data, 0), 0u);
    ASSERT_EQ(mmioWrite(h, "\11\10\7\6", 4), 4);
    ASSERT_EQ(mmioAscend(h, &data, 0), 0u);
    ASSERT_EQ(mmioAscend(h, &riff, 0), 0u);
    EXPECT_EQ(mmioSeek(h, 0, 1), mmioSeek(h, 0, 2));
}

void readSample(HMMIO h, uint32_t size)
{
    ASSERT_EQ(mmioSeek(h, 0, 0), 0);
    MMCKINFO riff{};
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, 0), 0u);
    EXPECT_EQ(riff.ckid, FOURCC_RIFF);
    EXPECT_EQ(riff.cksize, size - 8);
    EXPECT_EQ(riff.fccType, mmioFourCC('W', 'A', 'V', 'E'));
    EXPECT_EQ(riff.dwDataOffset, 8u);
    EXPECT_EQ(mmioSeek(h, 0, 1), 12);

    struct Want {
        FOURCC id;
        uint32_t size;
        FOURCC type;
        uint32_t offset;
    } wants[] = {
        {mmioFourCC('f', 'm', 't', ' '), 3, 0, 20},
        {FOURCC_LIST, 16, mmioFourCC('I', 'N', 'F', 'O'), 32},
        {mmioFourCC('d', 'a', 't', 'a'), 4, 0, 56},
    };
    for (const auto& w : wants) {
        MMCKINFO ck{};
        ASSERT_EQ(mmioDescend(h, &ck, &riff, 0), 0u);
        EXPECT_EQ(ck.ckid, w.id);
        EXPECT_EQ(ck.cksize, w.size);
        EXPECT_EQ(ck.fccType, w.type);
        EXPECT_EQ(ck.dwDataOffset, w.offset);
        EXPECT_EQ(ck.dwFlags, 0u);
        EXPECT_EQ(mmioSeek(h, 0, 1), static_cast<int32_t>(w.offset + (w.type ? 4 : 0)));
        if (w.id == FOURCC_LIST) {
            MMCKINFO inam{};
            ASSERT_EQ(mmioDescend(h, &inam, &ck, 0), 0u);
            EXPECT_EQ(inam.cksize, 3u);
            char text[3];
            EXPECT_EQ(mmioRead(h, text, 3), 3);
            EXPECT_STREQ(text, "Hi");
            ASSERT_EQ(mmioAscend(h, &inam, 0), 0u);
            EXPECT_EQ(mmioDescend(h, &inam, &ck, 0), MMIOERR_CHUNKNOTFOUND); // the list ends
        }
        ASSERT_EQ(mmioAscend(h, &ck, 0), 0u);
    }
    MMCKINFO none{};
    EXPECT_EQ(mmioDescend(h, &none, &riff, 0), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioSeek(h, 0, 1), static_cast<int32_t>(size));
}

TEST_F(MmioTest, ChunksRoundTripOnDisk)
{
    Bytes want = sampleImage();
    for (int32_t bufferSize : {8192, 0, 5}) {
        SCOPED_TRACE(bufferSize);
        std::string path = dir.file("c.wav");
        std::filesystem::remove(path);
        HMMIO h = openFile(path, kCreate);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(mmioSetBuffer(h, nullptr, bufferSize, 0), 0u);
        writeSample(h);
        readSample(h, static_cast<uint32_t>(want.size()));
        ASSERT_EQ(mmioClose(h, 0), 0u);
        EXPECT_EQ(test::ReadFileBytes(path), want);
    }
}

TEST_F(MmioTest, ChunksRoundTripInMemory)
{
    Bytes want = sampleImage();
    std::vector<char> block(want.size(), '\x55');
    HMMIO h = openMemory(block, MMIO_ALLOCBUF | MMIO_READWRITE);
    ASSERT_NE(h, nullptr);
    writeSample(h);
    readSample(h, static_cast<uint32_t>(want.size()));
    ASSERT_EQ(mmioClose(h, 0), 0u);
    EXPECT_EQ(Bytes(block.begin(), block.end()), want);
}

TEST_F(MmioTest, DescendHandlesHeadersThatAreNotThere)
{
    auto bytesOf = [](std::initializer_list<const char*> parts) {
        Bytes b;
        for (const char* p : parts)
            b.insert(b.end(), p, p + std::strlen(p));
        return b;
    };
    struct Case {
        const char* name;
        Bytes image;
        int32_t start;
        std::optional<MMCKINFO> parent;
        uint32_t want;
        MMCKINFO ck;
        int32_t posAfter;
    };
    Bytes odd = bytesOf({"abcd"});
    appendLe32(odd, 3);
    odd.insert(odd.end(), {'x', 'y', 'z', 0});
    Bytes huge = bytesOf({"data"});
    appendLe32(huge, 0xFFFFFFFF);
    huge.insert(huge.end(), 8, 1);
    Bytes list10 = bytesOf({"LIST"});
    appendLe32(list10, 4);
    list10.insert(list10.end(), {'I', 'N'});
    Bytes nested = bytesOf({"RIFF"});
    appendLe32(nested, 0xFFFFFFFC); // parent end 8 + 0xFFFFFFFC needs 33 bits
    nested.insert(nested.end(), {'W', 'A', 'V', 'E'});
    nested.insert(nested.end(), odd.begin(), odd.end());
    const MMCKINFO nestedParent{FOURCC_RIFF, 0xFFFFFFFC, mmioFourCC('W', 'A', 'V', 'E'), 8, 0};
    const FOURCC abcd = mmioFourCC('a', 'b', 'c', 'd');
    Case cases[] = {
        {"plain odd chunk", odd, 0, std::nullopt, 0, {abcd, 3, 0, 8, 0}, 8},
        {"header cut short", Bytes(odd.begin(), odd.begin() + 5), 0, std::nullopt, MMIOERR_CHUNKNOTFOUND, {}, 0},
        {"list without its type", list10, 0, std::nullopt, MMIOERR_CHUNKNOTFOUND, {}, 0},
        {"at the end of the file", odd, 12, std::nullopt, MMIOERR_CHUNKNOTFOUND, {}, 12},
        {"size past the file", huge, 0, std::nullopt, 0, {mmioFourCC('d', 'a', 't', 'a'), 0xFFFFFFFF, 0, 8, 0}, 8},
        {"parent ends", odd, 0, MMCKINFO{FOURCC_LIST, 7, 0, 0, 0}, MMIOERR_CHUNKNOTFOUND, {}, 0},
        {"parent just holds the header", odd, 0, MMCKINFO{FOURCC_LIST, 8, 0, 0, 0}, 0, {abcd, 3, 0, 8, 0}, 8},
        {"before the parent's body", odd, 0, MMCKINFO{FOURCC_LIST, 100, 0, 4, 0}, MMIOERR_CHUNKNOTFOUND, {}, 0},
        {"parent size beyond 32 bits", nested, 12, nestedParent, 0, {abcd, 3, 0, 20, 0}, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> block = asChars(c.image);
        std::string path = MakeFile("h.bin", c.image);
        HMMIO handles[] = {openMemory(block), openFile(path, kReadWrite)};
        for (HMMIO h : handles) {
            ASSERT_NE(h, nullptr);
            ASSERT_EQ(mmioSeek(h, c.start, 0), c.start);
            MMCKINFO ck{1, 2, 3, 4, 5};
            EXPECT_EQ(mmioDescend(h, &ck, c.parent ? &*c.parent : nullptr, 0), c.want);
            if (c.want == 0) {
                EXPECT_EQ(ck.ckid, c.ck.ckid);
                EXPECT_EQ(ck.cksize, c.ck.cksize);
                EXPECT_EQ(ck.fccType, c.ck.fccType);
                EXPECT_EQ(ck.dwDataOffset, c.ck.dwDataOffset);
                EXPECT_EQ(ck.dwFlags, 0u);
            }
            EXPECT_EQ(mmioSeek(h, 0, 1), c.posAfter);
            EXPECT_EQ(mmioClose(h, 0), 0u);
        }
    }
}

TEST_F(MmioTest, DescendCanLookForAList)
{
    Bytes image = sampleImage();
    std::vector<char> block = asChars(image);
    HMMIO h = openMemory(block);
    ASSERT_NE(h, nullptr);
    MMCKINFO riff{0, 0, mmioFourCC('W', 'A', 'V', 'E'), 0, 0};
    ASSERT_EQ(mmioDescend(h, &riff, nullptr, MMIO_CREATERIFF), 0u);
    MMCKINFO list{0, 0, mmioFourCC('I', 'N', 'F', 'O'), 0, 0};
    ASSERT_EQ(mmioDescend(h, &list, &riff, MMIO_CREATELIST), 0u);
    EXPECT_EQ(list.ckid, FOURCC_LIST);
    EXPECT_EQ(list.dwDataOffset, 32u);
    MMCKINFO other{0, 0, mmioFourCC('a', 'd', 't', 'l'), 0, 0};
    EXPECT_EQ(mmioDescend(h, &other, &riff, MMIO_CREATELIST), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioClose(h, 0), 0u);
}

TEST_F(MmioTest, AscendFixesTheSizeWhereTheBodyEnds)
{
    // An existing chunk re-entered and cut: the size and the pad follow the position.
    Bytes image;
    test::PutChunk(image, "data", Bytes(10, 7));
    std::string path = MakeFile("a.bin", image);
    HMMIO h = openFile(path, kReadWrite);
    ASSERT_NE(h, nullptr);
    MMCKINFO ck{};
    ASSERT_EQ(mmioDescend(h, &ck, nullptr, 0), 0u);
    ck.dwFlags |= MMIO_DIRTY;
    ASSERT_EQ(mmioSeek(h, 5, 1), 13);
    ASSERT_EQ(mmioAscend(h, &ck, 0), 0u);
    EXPECT_EQ(ck.cksize, 5u);
    EXPECT_EQ(mmioSeek(h, 0, 1), 14);
    ck.dwDataOffset = 20; // a body that would begin after the position
    ck.dwFlags |= MMIO_DIRTY;
    EXPECT_EQ(mmioAscend(h, &ck, 0), MMIOERR_INVALIDPARAM);
    ASSERT_EQ(mmioClose(h, 0), 0u);
    Bytes want;
    test::PutChunk(want, "data", Bytes(5, 7));
    want.insert(want.end(), 4, 7); // bytes of the old body stay after the pad
    EXPECT_EQ(test::ReadFileBytes(path), want);
}

// chunk walk of a file: every header found inside the "RIFF" body, as (offset, id, size).
std::vector<std::tuple<uint32_t, FOURCC, uint32_t>> walkChunks(HMMIO h)
{
    std::vector<std::tuple<uint32_t, FOURCC, uint32_t>> out;
    MMCKINFO riff{};
    if (mmioDescend(h, &riff, nullptr, 0) != 0)
        return out;
    MMCKINFO ck{};
    while (mmioDescend(h, &ck, &riff, 0) == 0) {
        out.emplace_back(ck.dwDataOffset, ck.ckid, ck.cksize);
        if (mmioAscend(h, &ck, 0) != 0)
            break;
    }
    return out;
}

TEST_F(MmioTest, RealFilesWalkTheSameOnDiskAndInMemory)
{
    ORVELLE_REQUIRE_SAMPLES();
    int walked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(test::SamplesDir())) {
        if (entry.path().extension() != ".wav")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        Bytes bytes = test::ReadFileBytes(entry.path());
        std::vector<char> block = asChars(bytes);
        HMMIO mem = openMemory(block);
        HMMIO disk = openFile(entry.path().string(), MMIO_ALLOCBUF | MMIO_READ);
        ASSERT_NE(mem, nullptr);
        ASSERT_NE(disk, nullptr);
        auto chunks = walkChunks(disk);
        EXPECT_EQ(walkChunks(mem), chunks);
        for (const auto& [offset, id, size] : chunks) {
            ASSERT_LE(offset, bytes.size());
            EXPECT_EQ(readLe32(bytes, offset - 8), id);
            EXPECT_EQ(readLe32(bytes, offset - 4), size);
        }
        walked += chunks.empty() ? 0 : 1;
        EXPECT_EQ(mmioClose(mem, 0), 0u);
        EXPECT_EQ(mmioClose(disk, 0), 0u);
    }
    EXPECT_GT(walked, 20);
}

} // namespace
} // namespace orvelle
