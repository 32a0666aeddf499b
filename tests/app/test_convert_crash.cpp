// ConvertFile against crashes and against hostile folders: a conversion ended at any
// moment leaves at the name the file as it was or its complete conversion, with the
// original recoverable; a second conversion of the same file fails while one runs; a
// backup or temporary name that is not what it should be stops the conversion.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "TestSupport.h"
#include "app/CoreSouece.h"
#include "platform/Sysfile.h"
#include "wave/Mmwave.h"

namespace orvelle {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

// 16-bit stereo noise with `dataBytes` bytes of samples.
Bytes noiseWave(size_t dataBytes)
{
    Bytes data(dataBytes), chunks;
    uint32_t x = 12345;
    for (uint8_t& b : data) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    test::PutChunk(chunks, "fmt ", test::PcmFmtBody(2, 44100, 16));
    test::PutChunk(chunks, "data", data);
    return test::RiffWave(chunks);
}

// The file and its conversions one, two and three times over, made in a folder of their own.
std::vector<Bytes> conversionChain(const Bytes& original)
{
    std::vector<Bytes> chain{original};
    test::TempDir dir;
    const std::string name = dir.file("ref.wav");
    test::WriteFileBytes(name, original);
    for (int i = 0; i < 3; ++i) {
        if (!TCoreForm().ConvertFile(name, 30))
            throw std::runtime_error("reference conversion failed");
        chain.push_back(test::ReadFileBytes(name));
    }
    return chain;
}

// One folder with "in.wav" and, as a case wants, an older backup and a leftover temporary file.
struct Folder {
    test::TempDir dir;
    std::string name = dir.file("in.wav");
    std::string org = dir.file("in.org");
    std::string tmp = dir.file("in.tmp");
    Bytes at(const std::string& file) const { return test::ReadFileBytes(file); }
    std::set<std::string> names() const { return test::FileNamesIn(dir.path()); }
};

struct StartState {
    const char* what;
    bool olderBackup; // "in.org" holds an older file before the call
    bool leftoverTmp; // "in.tmp" holds what a killed run left
};

const StartState kStartStates[] = {
    {"first conversion", false, false},
    {"second conversion", true, false},
    {"leftover temporary file", false, true},
};

const Bytes kOlder = noiseWave(400);

void prepare(const Folder& f, const StartState& s, const Bytes& original)
{
    test::WriteFileBytes(f.name, original);
    if (s.olderBackup)
        test::WriteFileBytes(f.org, kOlder);
    if (s.leftoverTmp)
        test::WriteFileBytes(f.tmp, Bytes(70000, 0xEE));
}

// What an interrupted conversion may leave, then a further conversion that must succeed.
// `chain` holds the file before the call and its conversions.
void expectRecoverableAndConvertible(const Folder& f, const StartState& s, const std::vector<Bytes>& chain)
{
    const Bytes& before = chain[0];
    for (const std::string& n : f.names())
        EXPECT_TRUE(n == "in.wav" || n == "in.org" || n == "in.tmp") << n;
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(f.name))) << "no file at the name";
    const Bytes now = f.at(f.name);
    const bool converted = now == chain[1];
    EXPECT_TRUE(now == before || converted) << "a partial file at the name";
    if (s.olderBackup) {
        EXPECT_EQ(f.at(f.org), kOlder);
    } else if (converted || fs::exists(f.org)) {
        EXPECT_EQ(f.at(f.org), before) << "the original is lost";
    }

    ASSERT_TRUE(TCoreForm().ConvertFile(f.name, 30)) << "the further conversion";
    EXPECT_EQ(f.at(f.name), converted ? chain[2] : chain[1]);
    EXPECT_EQ(f.at(f.org), s.olderBackup ? kOlder : before);
    EXPECT_EQ(f.names(), (std::set<std::string>{"in.wav", "in.org"}));
}

// The crash tests convert many times; in memory when they can, since ending or killing a
// process does the same there, and flushes to a disk would only make them slow.
class ConvertCrash : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* was = std::getenv("TMPDIR");
        saved_ = was != nullptr ? std::optional<std::string>(was) : std::nullopt;
        if (::access("/dev/shm", W_OK) == 0)
            ::setenv("TMPDIR", "/dev/shm", 1);
    }
    void TearDown() override
    {
        resetFileOps();
        if (saved_)
            ::setenv("TMPDIR", saved_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

private:
    std::optional<std::string> saved_;
};

// ---- the process ended at each file-system step ---------------------------------------------

FileOps gReal;
int gStopAt = 0;
int gSteps = 0;
constexpr int kEnded = 86;

template <typename F> struct Counted;
template <typename R, typename... A> struct Counted<R (*)(A...)> {
    template <R (*FileOps::*Entry)(A...)> static R call(A... a)
    {
        if (++gSteps == gStopAt)
            ::_exit(kEnded);
        return (gReal.*Entry)(a...);
    }
};
#define ORVELLE_COUNT(entry) ops.entry = Counted<decltype(FileOps::entry)>::call<&FileOps::entry>

void endProcessAtStep(int k)
{
    resetFileOps();
    gReal = SysFileOps();
    gStopAt = k;
    gSteps = 0;
    FileOps& ops = SysFileOps();
    ORVELLE_COUNT(open);
    ORVELLE_COUNT(read);
    ORVELLE_COUNT(write);
    ORVELLE_COUNT(lseek);
    ORVELLE_COUNT(close);
    ORVELLE_COUNT(fsync);
    ORVELLE_COUNT(rename_noreplace);
    ORVELLE_COUNT(unlink);
    ORVELLE_COUNT(rename_replace);
    ORVELLE_COUNT(link);
    ORVELLE_COUNT(fstat);
    ORVELLE_COUNT(lstat);
    ORVELLE_COUNT(stat);
    ORVELLE_COUNT(fchown);
    ORVELLE_COUNT(fchmod);
    ORVELLE_COUNT(flock);
    ORVELLE_COUNT(sync_file_range);
}

// Runs a conversion in a child that ends itself at step `k`; its exit status.
int convertInChildEndingAt(const std::string& name, int k)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        endProcessAtStep(k);
        int status = 2;
        try {
            status = TCoreForm().ConvertFile(name, 30) ? 0 : 1;
        } catch (...) {
        }
        ::_exit(status);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ConvertCrash, EndedAtEachFileSystemStep)
{
    const std::vector<Bytes> chain = conversionChain(noiseWave(4000));
    for (const StartState& s : kStartStates) {
        int k = 1;
        for (;; ++k) {
            SCOPED_TRACE(std::string(s.what) + ", ended at step " + std::to_string(k));
            Folder f;
            prepare(f, s, chain[0]);
            const int status = convertInChildEndingAt(f.name, k);
            if (status != kEnded) {
                ASSERT_EQ(status, 0) << "the conversion failed without being ended";
                EXPECT_EQ(f.at(f.name), chain[1]);
                EXPECT_EQ(f.at(f.org), s.olderBackup ? kOlder : chain[0]);
                EXPECT_EQ(f.names(), (std::set<std::string>{"in.wav", "in.org"}));
                break;
            }
            expectRecoverableAndConvertible(f, s, chain);
            ASSERT_LT(k, 2000);
        }
        // Every step up to the renames and the flush of the folder was reached.
        EXPECT_GT(k, 20) << s.what;
    }
}

// ---- real processes -----------------------------------------------------------------------

std::string cliPath() { return std::string(ORVELLE_BIN_DIR) + "/orvelle-cli"; }

#define ORVELLE_REQUIRE_CLI()                                                                                          \
    do {                                                                                                               \
        if (::access(cliPath().c_str(), X_OK) != 0)                                                                    \
            GTEST_SKIP() << cliPath() << " is not built";                                                              \
    } while (0)

// Starts `orvelle-cli convert FILE` with its output in `out` and `err`; the child waits
// for the pipe `gate` to close before it runs, so that several can start together.
pid_t startConvert(const std::string& file, const std::string& out, const std::string& err, const int* gate = nullptr)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (gate != nullptr) {
            ::close(gate[1]); // the parent's close is the signal
            char c;
            while (::read(gate[0], &c, 1) < 0 && errno == EINTR) { }
        }
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        const std::string cli = cliPath();
        ::execl(cli.c_str(), cli.c_str(), "convert", "-s", "30", file.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return pid;
}

std::string textOf(const std::string& file)
{
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A file large enough that a conversion takes a while.
const size_t kLargeData = 6u << 20;

TEST_F(ConvertCrash, KilledAtRandomMoments)
{
    ORVELLE_REQUIRE_CLI();
    const std::vector<Bytes> chain = conversionChain(noiseWave(kLargeData));
    test::TempDir logs;
    const StartState first = kStartStates[0];
    // How long one conversion takes here.
    double full = 0;
    {
        Folder f;
        prepare(f, first, chain[0]);
        const auto t0 = std::chrono::steady_clock::now();
        int status = 0;
        ::waitpid(startConvert(f.name, logs.file("out"), logs.file("err")), &status, 0);
        full = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << textOf(logs.file("err"));
        ASSERT_EQ(f.at(f.name), chain[1]);
    }
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed) + ", one conversion " + std::to_string(full) + " s");
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> moment(0.0, full * 1.1);
    int original = 0, converted = 0;
    for (int i = 0; i < 50; ++i) {
        const double at = moment(random);
        SCOPED_TRACE("killed after " + std::to_string(at) + " s");
        Folder f;
        prepare(f, first, chain[0]);
        const pid_t pid = startConvert(f.name, logs.file("out"), logs.file("err"));
        std::this_thread::sleep_for(std::chrono::duration<double>(at));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        (f.at(f.name) == chain[0] ? original : converted)++;
        expectRecoverableAndConvertible(f, first, chain);
    }
    std::cout << "after the kill: " << original << " times the original at the name, " << converted
              << " times the converted file\n";
}

// Large enough that one conversion lasts far longer than starting the other, so that the
// two overlap even when a busy machine starts them some milliseconds apart.
const size_t kRaceData = 24u << 20;

TEST_F(ConvertCrash, TwoConversionsStartedTogether)
{
    ORVELLE_REQUIRE_CLI();
    const std::vector<Bytes> chain = conversionChain(noiseWave(kRaceData));
    test::TempDir logs;
    int refused = 0;
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        Folder f;
        prepare(f, kStartStates[0], chain[0]);
        int gate[2];
        ASSERT_EQ(::pipe(gate), 0);
        pid_t pids[2];
        for (int p = 0; p < 2; ++p)
            pids[p] =
                startConvert(f.name, logs.file("out" + std::to_string(p)), logs.file("err" + std::to_string(p)), gate);
        ::close(gate[0]);
        ::close(gate[1]); // both start now
        int succeeded = 0;
        for (int p = 0; p < 2; ++p) {
            int status = 0;
            ::waitpid(pids[p], &status, 0);
            const std::string out = textOf(logs.file("out" + std::to_string(p)));
            const std::string err = textOf(logs.file("err" + std::to_string(p)));
            ASSERT_TRUE(WIFEXITED(status)) << err;
            if (WEXITSTATUS(status) == 0) {
                EXPECT_EQ(out, "converted " + f.name + "\n");
                ++succeeded;
            } else {
                EXPECT_EQ(err, "error " + f.name + ": \"" + f.name + "\" is being converted by another process\n");
                ++refused;
            }
        }
        // One after the other, or one refused while the other ran: each that says
        // "converted" converted what was at the name when it began.
        ASSERT_GE(succeeded, 1);
        EXPECT_EQ(f.at(f.name), chain[succeeded]);
        EXPECT_EQ(f.at(f.org), chain[0]);
        EXPECT_EQ(f.names(), (std::set<std::string>{"in.wav", "in.org"}));
        ASSERT_TRUE(TCoreForm().ConvertFile(f.name, 30));
        EXPECT_EQ(f.at(f.name), chain[succeeded + 1]);
    }
    // Started together, they do overlap now and then; the lock must have refused one.
    EXPECT_GT(refused, 0);
}

// ---- the lock, the companions and the owner, in this process --------------------------------

std::string messageOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EMMWaveError& e) {
        return e.what();
    }
    return "(no exception)";
}

TEST(ConvertCompanions, LockedFileIsRefusedAndNothingChanges)
{
    Folder f;
    const StartState s{"", false, true};
    prepare(f, s, noiseWave(4000));
    const Bytes tmpBefore = f.at(f.tmp);
    const int fd = ::open(f.name.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0); // what a running conversion holds
    EXPECT_EQ(messageOf([&] { TCoreForm().ConvertFile(f.name, 30); }),
        "\"" + f.name + "\" is being converted by another process");
    EXPECT_EQ(f.names(), (std::set<std::string>{"in.wav", "in.tmp"}));
    EXPECT_EQ(f.at(f.tmp), tmpBefore);
    ::close(fd);
    EXPECT_TRUE(TCoreForm().ConvertFile(f.name, 30));
}

// A name that is not a regular file of ours stops the conversion before anything is made.
TEST(ConvertCompanions, ForeignBackupOrTemporaryNamesAreRefused)
{
    struct Case {
        const char* what;
        std::function<void(const Folder&)> make;
        const char* named; // the companion the message names
        const char* says;
    } cases[] = {
        {"backup linking to the file itself", [](const Folder& f) { fs::create_symlink(f.name, f.org); }, "in.org",
            "is a symbolic link, not a backup"},
        {"backup that is a folder", [](const Folder& f) { fs::create_directory(f.org); }, "in.org",
            "is a folder, not a backup"},
        {"temporary name that is a folder", [](const Folder& f) { fs::create_directory(f.tmp); }, "in.tmp",
            "is a folder, not a temporary file"},
        {"temporary name that is a link", [](const Folder& f) { fs::create_symlink(f.dir.file("elsewhere"), f.tmp); },
            "in.tmp", "is a symbolic link, not a temporary file"},
        {"temporary name that is a FIFO", [](const Folder& f) { ::mkfifo(f.tmp.c_str(), 0600); }, "in.tmp",
            "is a special file, not a temporary file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folder f;
        const Bytes original = noiseWave(4000);
        test::WriteFileBytes(f.name, original);
        c.make(f);
        const std::set<std::string> before = f.names();
        const std::string m = messageOf([&] { TCoreForm().ConvertFile(f.name, 30); });
        EXPECT_EQ(m.rfind("\"" + f.dir.file(c.named) + "\" " + c.says, 0), 0u) << m;
        EXPECT_NE(m.find("to convert \"" + f.name + "\""), std::string::npos) << m;
        EXPECT_EQ(f.names(), before);
        EXPECT_EQ(f.at(f.name), original);
    }
}

TEST(ConvertCompanions, SymbolicLinkAsTheSourceIsRefused)
{
    Folder f;
    test::WriteFileBytes(f.dir.file("real.wav"), noiseWave(400));
    fs::create_symlink(f.dir.file("real.wav"), f.name);
    EXPECT_EQ(messageOf([&] { TCoreForm().ConvertFile(f.name, 30); }),
        "\"" + f.name + "\" is a symbolic link; convert the file it points to");
    EXPECT_EQ(f.names(), (std::set<std::string>{"in.wav", "real.wav"}));
}

TEST(ConvertCompanions, MissingFileWithLeftoversNamesThem)
{
    Folder f;
    test::WriteFileBytes(f.tmp, noiseWave(400));
    test::WriteFileBytes(f.org, noiseWave(400));
    EXPECT_EQ(messageOf([&] { TCoreForm().ConvertFile(f.name, 30); }),
        "\"" + f.name + "\" does not exist; \"" + f.tmp +
            "\" is left from an interrupted conversion; the original is in \"" + f.org + "\"");
    EXPECT_EQ(f.names(), (std::set<std::string>{"in.tmp", "in.org"}));
}

// ---- the backup step through the seam -------------------------------------------------------

class BackupStep : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetFileOps();
        gReal = SysFileOps();
    }
    void TearDown() override { resetFileOps(); }
};

std::string gAppears; // what the link hook puts at the backup name first: "file" or "link"

int linkFindingABackup(const char* from, const char* to)
{
    if (gAppears == "file")
        test::WriteFileBytes(to, kOlder);
    else
        fs::create_symlink(from, to);
    return gReal.link(from, to);
}

int linkNotPossible(const char*, const char*)
{
    errno = EPERM;
    return -1;
}

TEST_F(BackupStep, WithoutHardLinksTheOriginalIsMovedAside)
{
    const std::vector<Bytes> chain = conversionChain(noiseWave(4000));
    Folder f;
    test::WriteFileBytes(f.name, chain[0]);
    SysFileOps().link = linkNotPossible;
    ASSERT_TRUE(TCoreForm().ConvertFile(f.name, 30));
    EXPECT_EQ(f.at(f.name), chain[1]);
    EXPECT_EQ(f.at(f.org), chain[0]);
    EXPECT_EQ(f.names(), (std::set<std::string>{"in.wav", "in.org"}));
}

// A backup that appears between the check and the link is kept when it is a regular
// file; anything else stops the conversion with the file unchanged.
TEST_F(BackupStep, BackupAppearingMeanwhile)
{
    const std::vector<Bytes> chain = conversionChain(noiseWave(4000));
    for (const char* appears : {"file", "link"}) {
        SCOPED_TRACE(appears);
        gAppears = appears;
        Folder f;
        test::WriteFileBytes(f.name, chain[0]);
        SysFileOps().link = linkFindingABackup;
        if (gAppears == "file") {
            ASSERT_TRUE(TCoreForm().ConvertFile(f.name, 30));
            EXPECT_EQ(f.at(f.name), chain[1]);
            EXPECT_EQ(f.at(f.org), kOlder);
        } else {
            EXPECT_NE(messageOf([&] { TCoreForm().ConvertFile(f.name, 30); }).find("in.org\" is a symbolic link"),
                std::string::npos);
            EXPECT_EQ(f.at(f.name), chain[0]);
        }
        EXPECT_EQ(f.names(), (std::set<std::string>{"in.wav", "in.org"}));
    }
}

// ---- owner and group, as root -----------------------------------------------------------------

struct stat statOf(const std::string& name)
{
    struct stat st { };
    EXPECT_EQ(::lstat(name.c_str(), &st), 0) << name;
    return st;
}

TEST(ConvertOwner, ConvertedFileKeepsOwnerGroupAndMode)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to another owner";
    Folder f;
    const Bytes original = noiseWave(4000);
    test::WriteFileBytes(f.name, original);
    ASSERT_EQ(::chown(f.name.c_str(), 4321, 4322), 0);
    ASSERT_EQ(::chmod(f.name.c_str(), 0640), 0);
    ASSERT_TRUE(TCoreForm().ConvertFile(f.name, 30));
    const struct stat now = statOf(f.name), org = statOf(f.org);
    EXPECT_EQ(now.st_uid, 4321u);
    EXPECT_EQ(now.st_gid, 4322u);
    EXPECT_EQ(now.st_mode & 07777, 0640u);
    EXPECT_EQ(org.st_uid, 4321u);
    EXPECT_EQ(f.at(f.org), original);
}

// A temporary file left by a conversion of the file's owner is taken; one of a third user is not.
TEST(ConvertOwner, TemporaryFileOfAnotherUserIsRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to another owner";
    for (uid_t tmpOwner : {4321u, 5555u}) {
        SCOPED_TRACE(tmpOwner);
        Folder f;
        test::WriteFileBytes(f.name, noiseWave(4000));
        ASSERT_EQ(::chown(f.name.c_str(), 4321, 4321), 0);
        test::WriteFileBytes(f.tmp, Bytes(100, 1));
        ASSERT_EQ(::chown(f.tmp.c_str(), tmpOwner, tmpOwner), 0);
        const std::string m = messageOf([&] { TCoreForm().ConvertFile(f.name, 30); });
        if (tmpOwner == 4321u) {
            EXPECT_EQ(m, "(no exception)");
            EXPECT_EQ(f.names(), (std::set<std::string>{"in.wav", "in.org"}));
        } else {
            EXPECT_EQ(m, "\"" + f.tmp + "\" belongs to another user; move it away to convert \"" + f.name + "\"");
            EXPECT_EQ(f.at(f.tmp), Bytes(100, 1));
            EXPECT_EQ(f.names(), (std::set<std::string>{"in.wav", "in.tmp"}));
        }
    }
}

} // namespace
} // namespace orvelle
