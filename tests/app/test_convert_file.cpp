// ConvertFile on real files: the converted file's bytes against an independent build of
// the expected layout, the backup, the companions left in the folder, and failures.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "CrossCancelOracle.h"
#include "TestSupport.h"
#include "app/CoreSouece.h"
#include "platform/Sysfile.h"
#include "wave/Mmwave.h"
#include "waveio/Mmwaveio.h"

namespace orvelle {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// What the engine makes of a source file.
struct Source {
    uint16_t channels = 0, blockAlign = 0, bits = 0;
    uint32_t rate = 0, avg = 0;
    size_t dataOffset = 0, dataBytes = 0;
    uint32_t samples = 0;
    std::map<std::string, std::string> info;
    std::vector<std::string> dispTexts;
};

using test::Chunk;
using test::TopLevelChunks;

std::vector<std::string> dispTextsOf(const Bytes& f)
{
    std::vector<std::string> texts;
    for (const Chunk& c : TopLevelChunks(f))
        if (c.id == "DISP" && c.size > 4 && c.at + c.size <= f.size() && test::GetLE32(f, c.at) == 1)
            texts.emplace_back(reinterpret_cast<const char*>(f.data() + c.at + 4));
    return texts;
}

// A clean file described by walking its chunks (the files that tests make).
Source describe(const Bytes& f)
{
    Source s;
    for (const Chunk& c : TopLevelChunks(f)) {
        if (c.id == "fmt ") {
            s.channels = test::GetLE16(f, c.at + 2);
            s.rate = test::GetLE32(f, c.at + 4);
            s.bits = test::GetLE16(f, c.at + 14);
            s.blockAlign = static_cast<uint16_t>(s.bits * s.channels / 8);
            s.avg = s.blockAlign * s.rate;
        } else if (c.id == "data") {
            s.dataOffset = c.at;
            s.dataBytes = c.size / s.blockAlign * s.blockAlign;
            s.samples = static_cast<uint32_t>(s.dataBytes / s.blockAlign);
        }
    }
    s.info = test::InfoTexts(f);
    s.dispTexts = dispTextsOf(f);
    return s;
}

// The engine's layout: fmt (18 bytes), data, fact, DISP texts, LIST INFO in table order.
Bytes expectedFile(const Bytes& original, const Source& s, int32_t p)
{
    Bytes fmt;
    test::PutLE16(fmt, 1);
    test::PutLE16(fmt, s.channels);
    test::PutLE32(fmt, s.rate);
    test::PutLE32(fmt, s.avg);
    test::PutLE16(fmt, s.blockAlign);
    test::PutLE16(fmt, s.bits);
    test::PutLE16(fmt, 0);
    const Bytes data(original.begin() + s.dataOffset, original.begin() + s.dataOffset + s.dataBytes);
    Bytes fact;
    test::PutLE32(fact, s.samples);
    Bytes chunks;
    test::PutChunk(chunks, "fmt ", fmt);
    test::PutChunk(chunks, "data", test::crossCancelData(data, s.bits, false, p));
    test::PutChunk(chunks, "fact", fact);
    for (const std::string& t : s.dispTexts) {
        Bytes body;
        test::PutLE32(body, 1);
        body.insert(body.end(), t.begin(), t.end());
        body.push_back(0);
        test::PutChunk(chunks, "DISP", body);
    }
    test::PutInfoList(chunks, s.info);
    return test::RiffWave(chunks);
}

nlohmann::json expectedTable()
{
    std::ifstream in(test::SamplesDir() / "expected.json");
    return nlohmann::json::parse(in);
}

Source fromJson(const nlohmann::json& e, const Bytes& f)
{
    Source s;
    s.channels = e["channels"];
    s.rate = e["sampleRate"];
    s.avg = e["avgBytesPerSec"];
    s.blockAlign = e["blockAlign"];
    s.bits = e["bitsPerSample"];
    s.dataOffset = e["dataOffset"];
    s.dataBytes = e["dataBytes"];
    s.samples = e["samples"];
    for (const auto& [k, v] : e["info"].items())
        s.info[k] = v.get<std::string>();
    s.dispTexts = dispTextsOf(f);
    return s;
}

// Copies `file` into a fresh folder and converts it there.
struct Scratch {
    test::TempDir dir;
    std::string name;
    Bytes original;
    explicit Scratch(const Bytes& bytes, const std::string& as = "in.wav") : name(dir.file(as)), original(bytes)
    {
        test::WriteFileBytes(name, bytes);
    }
    Bytes nowBytes() const { return test::ReadFileBytes(name); }
    Bytes orgBytes() const { return test::ReadFileBytes(fs::path(name).replace_extension(".org")); }
    std::string tmpName() const { return fs::path(name).replace_extension(".tmp").string(); }
};

TEST(ConvertFile, EveryPcmSampleAtZeroThirtyAndHundred)
{
    ORVELLE_REQUIRE_SAMPLES();
    int converted = 0;
    const nlohmann::json expected = expectedTable();
    for (const auto& [file, e] : expected.items()) {
        if (!e.is_object() || e["formatTag"] != 1 || e["dataOffset"] == 0)
            continue;
        const Bytes original = test::ReadFileBytes(test::SamplesDir() / file);
        for (int32_t p : {0, 30, 100}) {
            SCOPED_TRACE(file + " at " + std::to_string(p));
            Scratch s(original);
            TCoreForm form;
            ASSERT_TRUE(form.ConvertFile(s.name, p));
            EXPECT_EQ(s.nowBytes(), expectedFile(original, fromJson(e, original), p));
            EXPECT_EQ(s.orgBytes(), original);
            EXPECT_EQ(test::FileNamesIn(s.dir.path()), (std::set<std::string>{"in.wav", "in.org"}));
        }
        ++converted;
    }
    EXPECT_GE(converted, 15);
}

// sox's "wavpcm" writes format tag 1 also for wide samples.
bool makeWithSox(const std::string& out, int bits, int channels)
{
    const std::string cmd = "sox -n -t wavpcm -b " + std::to_string(bits) + " -e signed-integer -c " +
        std::to_string(channels) + " -r 8000 '" + out + "' synth 0.3 sine 440 sine 660 gain -0.5 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
}

TEST(ConvertFile, WideSamplesAtTheirOwnWidth)
{
    if (std::system("command -v sox >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sox is not installed";
    for (int bits : {24, 32})
        for (int channels : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(bits) + "-bit, " + std::to_string(channels) + " channels");
            test::TempDir made;
            ASSERT_TRUE(makeWithSox(made.file("w.wav"), bits, channels));
            const Bytes original = test::ReadFileBytes(made.file("w.wav"));
            ASSERT_EQ(test::GetLE16(original, 20), 1);
            Scratch s(original);
            ASSERT_TRUE(TCoreForm().ConvertFile(s.name, 30));
            EXPECT_EQ(s.nowBytes(), expectedFile(original, describe(original), 30));
            EXPECT_EQ(s.orgBytes(), original);
        }
}

Bytes handMade(uint16_t channels, uint16_t bits, const Bytes& data)
{
    Bytes fmt = test::PcmFmtBody(channels, 8000, bits);
    Bytes chunks;
    test::PutChunk(chunks, "fmt ", fmt);
    test::PutChunk(chunks, "data", data);
    return test::RiffWave(chunks);
}

TEST(ConvertFile, OddWidthIsRefusedBeforeAnythingIsWritten)
{
    for (uint16_t bits : {12, 20}) {
        Scratch s(handMade(2, bits, Bytes(60, 0x11)));
        try {
            TCoreForm().ConvertFile(s.name, 30);
            ADD_FAILURE() << "no exception for " << bits << " bits";
        } catch (const EMMWaveError& e) { // the width's own refusal, not a failed read
            EXPECT_NE(std::string(e.what()).find(std::to_string(bits) + "-bit"), std::string::npos) << e.what();
        }
        EXPECT_EQ(s.nowBytes(), s.original);
        EXPECT_EQ(test::FileNamesIn(s.dir.path()), std::set<std::string>{"in.wav"});
    }
}

TEST(ConvertFile, EmptyNameIsAnError)
{
    try {
        TCoreForm().ConvertFile("", 30);
        ADD_FAILURE() << "no exception";
    } catch (const EMMWaveError& e) {
        EXPECT_STREQ(e.what(), "Error reading wave file");
    }
}

// 16-bit stereo whose "fmt " says 3 bytes a frame. The conversion takes the data as the
// engine describes it (what `orvelle-cli info` reports): its bytes, in 4-byte frames of
// two samples, a part frame at the end written unchanged.
TEST(ConvertFile, StoredBlockAlignThatDisagreesWithTheWidth)
{
    for (size_t dataBytes : {size_t{3000}, size_t{3003}, size_t{6006}}) {
        SCOPED_TRACE(std::to_string(dataBytes) + " data bytes");
        Bytes fmt = test::PcmFmtBody(2, 8000, 16), data(dataBytes), chunks;
        fmt[12] = 3; // nBlockAlign
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 37);
        test::PutChunk(chunks, "fmt ", fmt);
        test::PutChunk(chunks, "data", data);
        test::PutChunk(chunks, "abcd", Bytes(6, 0xEE));
        Scratch s(test::RiffWave(chunks));

        TWAVEIOCB* cb = nullptr;
        ASSERT_EQ(wioReadFileInfo(cb, s.name.c_str(), FOURCC_WAVE, wioSrcFile), 0);
        Source described;
        described.channels = cb->Format.nChannels;
        described.rate = cb->Format.nSamplesPerSec;
        described.avg = cb->Format.nAvgBytesPerSec;
        described.blockAlign = cb->Format.nBlockAlign;
        described.bits = cb->Format.wBitsPerSample;
        described.dataOffset = static_cast<size_t>(cb->DataOffset);
        described.dataBytes = static_cast<size_t>(cb->DataSize);
        described.samples = static_cast<uint32_t>(cb->SampleCount);
        wioFreeFileInfo(cb);

        ASSERT_TRUE(TCoreForm().ConvertFile(s.name, 30));
        EXPECT_EQ(s.nowBytes(), expectedFile(s.original, described, 30));
        EXPECT_EQ(s.orgBytes(), s.original);
    }
}

TEST(ConvertFile, RepeatedConversionKeepsTheFirstBackup)
{
    const Bytes original = handMade(2, 16, {0, 0, 5, 0, 0x10, 0x27, 0xF0, 0xD8});
    Scratch s(original);
    TCoreForm form;
    ASSERT_TRUE(form.ConvertFile(s.name, 30));
    const Bytes first = s.nowBytes();
    ASSERT_TRUE(form.ConvertFile(s.name, 30));
    EXPECT_EQ(s.orgBytes(), original);
    EXPECT_EQ(s.nowBytes(), expectedFile(first, describe(first), 30));
    EXPECT_EQ(test::FileNamesIn(s.dir.path()), (std::set<std::string>{"in.wav", "in.org"}));
}

TEST(ConvertFile, ExistingTemporaryFileIsReplaced)
{
    const Bytes original = handMade(2, 8, {128, 133, 255, 0});
    Scratch s(original);
    test::WriteFileBytes(s.tmpName(), Bytes(100000, 0xEE));
    ASSERT_TRUE(TCoreForm().ConvertFile(s.name, 30));
    EXPECT_EQ(s.nowBytes(), expectedFile(original, describe(original), 30));
    EXPECT_EQ(test::FileNamesIn(s.dir.path()), (std::set<std::string>{"in.wav", "in.org"}));
}

TEST(ConvertFile, NonPcmReturnsFalseAndChangesNothing)
{
    ORVELLE_REQUIRE_SAMPLES();
    for (const char* file : {"sox-alaw-s.wav", "sox-ulaw-s.wav", "sox-msadpcm-stereo-s.wav", "sox-imaadpcm-s.wav"}) {
        Scratch s(test::ReadFileBytes(test::SamplesDir() / file));
        EXPECT_FALSE(TCoreForm().ConvertFile(s.name, 30)) << file;
        EXPECT_EQ(s.nowBytes(), s.original) << file;
        EXPECT_EQ(test::FileNamesIn(s.dir.path()), std::set<std::string>{"in.wav"}) << file;
    }
}

TEST(ConvertFile, EmptyDataGivesAnEmptyConvertedFile)
{
    const Bytes original = handMade(2, 16, {});
    Scratch s(original);
    ASSERT_TRUE(TCoreForm().ConvertFile(s.name, 100));
    EXPECT_EQ(s.nowBytes().size(), 58u);
    EXPECT_EQ(s.nowBytes(), expectedFile(original, describe(original), 100));
    EXPECT_EQ(s.orgBytes(), original);
}

TEST(ConvertFile, NamesWithoutExtensionAndDottedFolders)
{
    test::TempDir dir;
    fs::create_directory(dir.path() / "a.b");
    const std::string name = (dir.path() / "a.b" / "song").string();
    const Bytes original = handMade(1, 16, {1, 0, 2, 0});
    test::WriteFileBytes(name, original);
    ASSERT_TRUE(TCoreForm().ConvertFile(name, 30));
    EXPECT_EQ(test::FileNamesIn(dir.path() / "a.b"), (std::set<std::string>{"song", "song.org"}));
    EXPECT_EQ(test::ReadFileBytes(name + ".org"), original);
}

TEST(ConvertFile, SourcesNamedLikeTheirCompanionsAreRefused)
{
    for (const char* as : {"in.tmp", "in.org"}) {
        Scratch s(handMade(2, 16, Bytes(8, 1)), as);
        EXPECT_THROW(TCoreForm().ConvertFile(s.name, 30), EMMWaveError) << as;
        EXPECT_EQ(s.nowBytes(), s.original) << as;
        EXPECT_EQ(test::FileNamesIn(s.dir.path()), std::set<std::string>{as});
    }
}

TEST(ConvertFile, PermissionBitsAreKept)
{
    Scratch s(handMade(2, 16, Bytes(8, 1)));
    ASSERT_EQ(::chmod(s.name.c_str(), 0640), 0);
    ASSERT_TRUE(TCoreForm().ConvertFile(s.name, 30));
    struct stat st { };
    ASSERT_EQ(::stat(s.name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ConvertFile, MissingOrBrokenFilesRaise)
{
    test::TempDir dir;
    EXPECT_THROW(TCoreForm().ConvertFile(dir.file("none.wav"), 30), EMMWaveError);
    test::WriteFileBytes(dir.file("text.wav"), Bytes{'h', 'e', 'l', 'l', 'o'});
    EXPECT_THROW(TCoreForm().ConvertFile(dir.file("text.wav"), 30), EMMWaveError);
    EXPECT_EQ(test::FileNamesIn(dir.path()), std::set<std::string>{"text.wav"});
}

// ---- failure injection ---------------------------------------------------------------------

enum class Fault {
    None,
    CreateOpen,
    Write,
    Finish,
    FsyncFile,
    FsyncFolder, // the flush of the folder after the converted file took the name
    FsyncFolderBackup, // the flush of the folder after the backup name was made
    RenameBackup,
    RenameTmp,
    Read,
    Truncate,
    LinkAtTmp // not a failing step: a link planted at the temporary name
};

const char* faultName(Fault f)
{
    switch (f) {
    case Fault::None:
        return "none";
    case Fault::CreateOpen:
        return "create open";
    case Fault::Write:
        return "write";
    case Fault::Finish:
        return "finish";
    case Fault::FsyncFile:
        return "fsync file";
    case Fault::FsyncFolder:
        return "fsync folder";
    case Fault::RenameBackup:
        return "rename to backup";
    case Fault::RenameTmp:
        return "rename temporary";
    case Fault::FsyncFolderBackup:
        return "fsync folder after the backup";
    case Fault::Read:
        return "read";
    case Fault::Truncate:
        return "truncate";
    case Fault::LinkAtTmp:
        return "link at the temporary name";
    }
    return "?";
}

struct Injection {
    Fault fault = Fault::None;
    std::string source; // full name of the source
    std::string tmp; // and of its temporary file
    size_t truncateTo = 0; // Fault::Truncate: length the source is cut to when it is opened for reading
    int sourceOpens = 0;
    int readFd = -1; // the source opened for reading its data
    std::set<int> tmpFds, dirFds;
};
Injection gInj;
FileOps gReal;

bool endsWith(const char* s, const char* tail)
{
    const size_t n = std::strlen(s), m = std::strlen(tail);
    return n >= m && std::strcmp(s + n - m, tail) == 0;
}

int failWith(int e)
{
    errno = e;
    return -1;
}

int openHook(const char* path, int flags, mode_t mode)
{
    const bool tmp = endsWith(path, ".tmp");
    if (gInj.fault == Fault::CreateOpen && tmp && (flags & O_CREAT))
        return failWith(EACCES);
    const bool source = gInj.source == path;
    // The source is opened to be locked, to be described, then to read its data.
    if (source && ++gInj.sourceOpens == 3 && gInj.fault == Fault::Truncate)
        (void)::truncate(path, static_cast<off_t>(gInj.truncateTo));
    const int fd = gReal.open(path, flags, mode);
    if (fd >= 0 && tmp)
        gInj.tmpFds.insert(fd);
    if (fd >= 0 && (flags & O_DIRECTORY))
        gInj.dirFds.insert(fd);
    if (fd >= 0 && source && gInj.sourceOpens == 3)
        gInj.readFd = fd;
    return fd;
}

ssize_t readHook(int fd, void* buf, size_t n)
{
    if (gInj.fault == Fault::Read && fd == gInj.readFd && gReal.lseek(fd, 0, SEEK_CUR) >= 16384)
        return failWith(EIO);
    return gReal.read(fd, buf, n);
}

ssize_t writeHook(int fd, const void* buf, size_t n)
{
    if (gInj.fault == Fault::Write && gInj.tmpFds.count(fd))
        return failWith(ENOSPC);
    // Finishing the file: the write that carries the "fact" chunk.
    const auto* bytes = static_cast<const char*>(buf);
    if (gInj.fault == Fault::Finish && gInj.tmpFds.count(fd) &&
        std::search(bytes, bytes + n, "fact", "fact" + 4) != bytes + n)
        return failWith(ENOSPC);
    return gReal.write(fd, buf, n);
}

int closeHook(int fd)
{
    gInj.tmpFds.erase(fd);
    gInj.dirFds.erase(fd);
    return gReal.close(fd);
}

int fsyncHook(int fd)
{
    if ((gInj.fault == Fault::FsyncFile && gInj.tmpFds.count(fd)) ||
        (gInj.dirFds.count(fd) &&
            ((gInj.fault == Fault::FsyncFolder && !fs::exists(gInj.tmp)) ||
                (gInj.fault == Fault::FsyncFolderBackup && fs::exists(gInj.tmp)))))
        return failWith(EIO);
    return gReal.fsync(fd);
}

int renameHook(const char* from, const char* to)
{
    if (gInj.fault == Fault::RenameBackup && endsWith(to, ".org"))
        return failWith(EACCES);
    return gReal.rename_noreplace(from, to);
}

int linkHook(const char* from, const char* to)
{
    if (gInj.fault == Fault::RenameBackup && endsWith(to, ".org"))
        return failWith(EACCES);
    return gReal.link(from, to);
}

int replaceHook(const char* from, const char* to)
{
    if (gInj.fault == Fault::RenameTmp && endsWith(from, ".tmp"))
        return failWith(EACCES);
    return gReal.rename_replace(from, to);
}

class ConvertFailure : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFileOps();
        gReal = SysFileOps();
        gInj = Injection{};
        FileOps& ops = SysFileOps();
        ops.open = openHook;
        ops.read = readHook;
        ops.write = writeHook;
        ops.close = closeHook;
        ops.fsync = fsyncHook;
        ops.rename_noreplace = renameHook;
        ops.link = linkHook;
        ops.rename_replace = replaceHook;
    }
    void TearDown() override { resetFileOps(); }
};

// A source bigger than the engine's 32 KiB buffer, so that writes and reads reach the file
// during the loop, and a small one, whose data is written out only when it is closed.
Bytes noise(size_t bytes)
{
    Bytes d(bytes);
    for (size_t i = 0; i < bytes; ++i)
        d[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    return handMade(2, 16, d);
}

struct FailureCase {
    Fault fault;
    bool backupBefore; // an older ".org" is there before the call
    const char* afterName; // what the source name holds afterwards: "original", "converted" or "none"
    bool tmpKept; // the converted data stays in ".tmp"
    bool raises; // false: the conversion is done (a folder not flushed gives a warning)
};

const FailureCase kFailures[] = {
    {Fault::CreateOpen, false, "original", false, true},
    {Fault::Write, false, "original", false, true},
    {Fault::Finish, false, "original", false, true},
    {Fault::FsyncFile, false, "original", false, true},
    {Fault::RenameBackup, false, "original", false, true},
    {Fault::FsyncFolderBackup, false, "original", false, true},
    {Fault::RenameTmp, false, "original", false, true},
    {Fault::RenameTmp, true, "original", false, true},
    {Fault::FsyncFolder, false, "converted", false, false},
    {Fault::Read, false, "original", false, true},
    // A link at the temporary name is not ours: refused, and left as it is.
    {Fault::LinkAtTmp, false, "original", true, true},
};

TEST_F(ConvertFailure, EachFailingStepKeepsTheOriginalAndIsReported)
{
    const Bytes older = handMade(1, 8, {1, 2, 3});
    const Bytes linked{'n', 'o', 't', ' ', 'm', 'e'};
    for (const FailureCase& c : kFailures)
        for (size_t bytes : {size_t{4008}, size_t{100000}}) {
            if (c.fault == Fault::Read && bytes < 32768)
                continue; // the whole of a small file is read with its header
            SCOPED_TRACE(std::string("fault ") + faultName(c.fault) + ", " + std::to_string(bytes) + " bytes");
            Scratch s(noise(bytes));
            const std::string org = fs::path(s.name).replace_extension(".org").string();
            const std::string target = s.dir.file("target");
            if (c.backupBefore)
                test::WriteFileBytes(org, older);
            if (c.fault == Fault::LinkAtTmp) {
                test::WriteFileBytes(target, linked);
                fs::create_symlink(target, s.tmpName());
            }
            const Bytes converted = expectedFile(s.original, describe(s.original), 30);
            gInj = Injection{};
            gInj.source = s.name;
            gInj.tmp = s.tmpName();
            gInj.fault = c.fault;
            TCoreForm form;
            if (c.raises) {
                EXPECT_THROW(form.ConvertFile(s.name, 30), EMMWaveError);
            } else {
                EXPECT_TRUE(form.ConvertFile(s.name, 30));
                // Only the folder's flush is worth a warning.
                EXPECT_EQ(
                    form.lastWarning().find("flush the folder") != std::string::npos, c.fault == Fault::FsyncFolder)
                    << form.lastWarning();
            }
            gInj.fault = Fault::None;
            if (c.fault == Fault::LinkAtTmp) {
                EXPECT_EQ(test::ReadFileBytes(target), linked);
            }

            const std::string after = c.afterName;
            if (after == "none") {
                EXPECT_FALSE(fs::exists(s.name));
            } else {
                EXPECT_EQ(s.nowBytes(), after == "original" ? s.original : converted);
            }
            // The original is under the source name or the backup, or the older backup stays.
            if (c.backupBefore) {
                EXPECT_EQ(s.orgBytes(), older);
            } else if (after != "original") {
                EXPECT_EQ(s.orgBytes(), s.original);
            } else {
                EXPECT_FALSE(fs::exists(org));
            }
            EXPECT_EQ(fs::exists(fs::symlink_status(s.tmpName())), c.tmpKept);
            if (c.fault == Fault::LinkAtTmp) {
                EXPECT_TRUE(fs::is_symlink(s.tmpName()));
            } else if (c.tmpKept) {
                EXPECT_EQ(test::ReadFileBytes(s.tmpName()), converted);
            }
        }
}

TEST_F(ConvertFailure, LastRenameFailingNamesTheTemporaryAndTheFile)
{
    Scratch s(noise(4008));
    gInj.source = s.name;
    gInj.tmp = s.tmpName();
    gInj.fault = Fault::RenameTmp;
    try {
        TCoreForm().ConvertFile(s.name, 30);
        ADD_FAILURE() << "no exception";
    } catch (const EMMWaveError& e) {
        const std::string m = e.what();
        EXPECT_NE(m.find("\"" + s.tmpName() + "\" to \"" + s.name + "\""), std::string::npos) << m;
        EXPECT_NE(m.find("unchanged"), std::string::npos) << m;
    }
}

// After a conversion (a success, or one whose folder could not be flushed) the source
// name holds the converted file; a later call of the same form must read it afresh, even when its size
// is the original's.
TEST_F(ConvertFailure, LaterCallReadsTheConvertedFileAfresh)
{
    Bytes data(400), chunks;
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 37);
    test::PutChunk(chunks, "fmt ", test::PcmFmtBody(2, 8000, 16));
    test::PutChunk(chunks, "data", data);
    test::PutChunk(chunks, "abcd", Bytes(6, 0));
    for (Fault fault : {Fault::None, Fault::FsyncFolder}) {
        SCOPED_TRACE(std::string("fault ") + faultName(fault));
        Scratch s(test::RiffWave(chunks));
        gInj = Injection{};
        gInj.source = s.name;
        gInj.tmp = s.tmpName();
        gInj.fault = fault;
        TCoreForm form;
        ASSERT_TRUE(form.ConvertFile(s.name, 30));
        gInj.fault = Fault::None;
        const Bytes first = s.nowBytes();
        ASSERT_EQ(first.size(), s.original.size()); // the engine's layout, same size
        ASSERT_NE(describe(first).dataOffset, describe(s.original).dataOffset);
        ASSERT_TRUE(form.ConvertFile(s.name, 30));
        EXPECT_EQ(s.nowBytes(), expectedFile(first, describe(first), 30));
        EXPECT_EQ(s.orgBytes(), s.original);
    }
}

// Between two calls the file is replaced by another of the same size with another layout
// or format tag: the second call converts what is there now.
TEST_F(ConvertFailure, ReplacedFileOfTheSameSizeIsReadAfresh)
{
    Bytes data(400), wide, narrow;
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 37);
    test::PutChunk(wide, "fmt ", test::PcmFmtBody(2, 8000, 8));
    test::PutChunk(wide, "data", data);
    test::PutChunk(narrow, "fmt ", test::PcmFmtBody(2, 8000, 8));
    test::PutChunk(narrow, "abcd", Bytes(2, 0));
    test::PutChunk(narrow, "data", Bytes(data.begin(), data.end() - 10));
    Bytes alaw = test::RiffWave(wide);
    alaw[20] = 6; // the same file with the A-law tag
    struct Case {
        const char* what;
        Bytes first;
        Fault fault;
    } cases[] = {
        {"after not PCM", alaw, Fault::None},
        {"after a failure before the renames", test::RiffWave(narrow), Fault::FsyncFile},
    };
    const Bytes now = test::RiffWave(wide);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.first.size(), now.size());
        Scratch s(c.first);
        gInj = Injection{};
        gInj.source = s.name;
        gInj.tmp = s.tmpName();
        gInj.fault = c.fault;
        TCoreForm form;
        if (c.fault == Fault::None) {
            EXPECT_FALSE(form.ConvertFile(s.name, 30));
        } else {
            EXPECT_THROW(form.ConvertFile(s.name, 30), EMMWaveError);
        }
        gInj.fault = Fault::None;
        test::WriteFileBytes(s.name, now);
        ASSERT_TRUE(form.ConvertFile(s.name, 30));
        EXPECT_EQ(s.nowBytes(), expectedFile(now, describe(now), 30));
        EXPECT_EQ(s.orgBytes(), now);
    }
}

// The source shrinks between binding and reading: the data ends early.
TEST_F(ConvertFailure, DataEndingEarlyDeletesTheTemporaryFile)
{
    struct Cut {
        Bytes file;
        size_t to;
    };
    const Cut cuts[] = {{noise(100000), 44 + 10000}, {noise(4008), 44 + 1000}, {handMade(2, 16, {1, 0, 2, 0}), 44}};
    for (const Cut& c : cuts) {
        Scratch s(c.file);
        gInj = Injection{};
        gInj.source = s.name;
        gInj.tmp = s.tmpName();
        gInj.fault = Fault::Truncate;
        gInj.truncateTo = c.to;
        try {
            TCoreForm().ConvertFile(s.name, 30);
            ADD_FAILURE() << "no exception for a cut to " << c.to;
        } catch (const EMMWaveError& e) {
            EXPECT_STREQ(e.what(), "Error reading wave file");
        }
        EXPECT_EQ(s.nowBytes(), Bytes(c.file.begin(), c.file.begin() + static_cast<std::ptrdiff_t>(c.to)));
        EXPECT_EQ(test::FileNamesIn(s.dir.path()), std::set<std::string>{"in.wav"}) << c.to;
    }
}

} // namespace
} // namespace orvelle
